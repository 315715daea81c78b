#include "settings.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellora::cli {
namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pellora_settings_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        env["HOME"] = dir;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void writeConfig(const std::string& text) {
        ::mkdir((dir + "/.config").c_str(), 0700);
        ::mkdir((dir + "/.config/pellora").c_str(), 0700);
        std::ofstream(dir + "/.config/pellora/config") << text;
    }
    EnvLookup lookup() {
        return [this](const char* n) -> const char* {
            auto it = env.find(n);
            return it == env.end() ? nullptr : it->second.c_str();
        };
    }

    std::string dir;
    std::map<std::string, std::string> env;
};

TEST_F(SettingsTest, FlagBeatsEnvironmentBeatsConfigBeatsDefault) {
    writeConfig("# mine\nurl = tls://config:1\nuser = fromfile\npassword = filepass\nconnection = FileConn\n");
    env["PELLORA_USER"] = "fromenv";
    SettingFlags flags;
    flags.url = "tcp://flag:2";
    ConnectionSettings s;
    std::string error;
    ASSERT_TRUE(resolveSettings(flags, lookup(), s, error)) << error;
    EXPECT_EQ(s.url, "tcp://flag:2");
    EXPECT_EQ(s.user, "fromenv");
    EXPECT_EQ(s.connection, "FileConn");
    EXPECT_EQ(s.password, "filepass");
}

TEST_F(SettingsTest, WithoutAnySettingTheLocalDealerIsUsedButNoUserIsAssumed) {
    ConnectionSettings s;
    std::string error;
    ASSERT_TRUE(resolveSettings({}, lookup(), s, error, /*needCredentials=*/false)) << error;
    EXPECT_EQ(s.url, kDefaultUrl);
    EXPECT_EQ(s.connection, kDefaultConnection);
    EXPECT_EQ(s.user, "");
    EXPECT_FALSE(resolveSettings({}, lookup(), s, error));
    EXPECT_NE(error.find("no user"), std::string::npos);
    env["PELLORA_USER"] = "demo";
    EXPECT_FALSE(resolveSettings({}, lookup(), s, error));
    EXPECT_NE(error.find("no password"), std::string::npos);
}

TEST_F(SettingsTest, BadConfigFilesAreOneLineErrorsNamingFileAndLine) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"user demo\n", "line 1: expected key = value"},
        {"user = a\nhost = b\n", "line 2: unknown key 'host'"},
    };
    for (const auto& c : cases) {
        writeConfig(c.text);
        ConnectionSettings s;
        std::string error;
        EXPECT_FALSE(resolveSettings({}, lookup(), s, error, false)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST_F(SettingsTest, MissingDefaultConfigIsFineButAMissingOrUnreadableNamedOneIsNot) {
    SettingFlags flags;
    flags.configFile = dir + "/nowhere";
    ConnectionSettings s;
    std::string error;
    EXPECT_FALSE(resolveSettings(flags, lookup(), s, error, false));
    EXPECT_NE(error.find("nowhere"), std::string::npos);

    flags.configFile = dir;  // a folder
    EXPECT_FALSE(resolveSettings(flags, lookup(), s, error, false));
    EXPECT_NE(error.find("is a folder"), std::string::npos);

    if (::geteuid() != 0) {  // root reads anything
        writeConfig("user = a\n");
        ::chmod((dir + "/.config/pellora/config").c_str(), 0);
        EXPECT_FALSE(resolveSettings({}, lookup(), s, error, false));
    }
}

TEST_F(SettingsTest, DescriptionNeverShowsThePassword) {
    ConnectionSettings s;
    s.url = "tcp://h:1";
    s.user = "demo";
    s.password = "s3cret-pass";
    const std::string d = describeSettings(s);
    EXPECT_EQ(d.find("s3cret"), std::string::npos);
    EXPECT_NE(d.find("password=(set)"), std::string::npos);
}

}  // namespace
}  // namespace pellora::cli
