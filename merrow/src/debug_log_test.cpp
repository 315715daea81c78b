#include "debug_log.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "admin_protocol.h"
#include "field_group.h"

namespace merrow::detail {
namespace {

TEST(DebugLogFormatTest, SecretsAreHiddenAtEveryDepthAndValuesStayOnOneLine)
{
    FieldGroup m;
    m.setMsgType("A");
    m.setValue(admin::FLDTAG_USERNAME, "trader");
    m.setValue(admin::FLDTAG_PASSWORD, "s3cret");
    m.setValue(admin::FLDTAG_EXTRAPARAMS, "EXTRA=3,139;PIN=4711");
    m.setValue(IFixDefs::FLDTAG_TEXT, "two\nlines|and a bar");
    IFieldGroupList* list = m.createGroupList(admin::FLDTAG_NOPARAMS);
    list->appendGroup()->setValue(admin::FLDTAG_RESUMETOKEN, "tok-123");
    m.setValue(9999, std::string(2000, 'x').c_str());

    const std::string line = formatFields(m);
    EXPECT_EQ(std::string::npos, line.find("s3cret"));
    EXPECT_EQ(std::string::npos, line.find("4711"));
    EXPECT_EQ(std::string::npos, line.find("tok-123"));
    EXPECT_NE(std::string::npos, line.find("9530=trader"));
    EXPECT_NE(std::string::npos, line.find("9531=***"));
    EXPECT_NE(std::string::npos, line.find("9533=EXTRA=3,139;PIN=***"));
    EXPECT_NE(std::string::npos, line.find("9510=[{9541=***}]"));
    EXPECT_NE(std::string::npos, line.find("58=two\\x0alines\\|and a bar"));
    EXPECT_NE(std::string::npos, line.find("...(2000 bytes)"));
    EXPECT_EQ(std::string::npos, line.find('\n'));
}

TEST(DebugLogSwitchTest, EnvironmentWinsOverSetDebugAndSetFile)
{
    DebugLog& log = DebugLog::instance();
    const std::string envFile = ::testing::TempDir() + "merrow_env.log";
    const std::string ownFile = ::testing::TempDir() + "merrow_own.log";

    log.setDebug(true);
    log.setFile(ownFile.c_str());
    EXPECT_TRUE(log.enabled());
    EXPECT_EQ(ownFile, log.currentFile());
    log.setDebug(false);
    EXPECT_FALSE(log.enabled());

    ::setenv("PELLORA_TRANSPORT_LOG", envFile.c_str(), 1);
    log.reloadEnvironment();
    log.setDebug(false);
    log.setFile(nullptr);
    EXPECT_TRUE(log.enabled());
    EXPECT_EQ(envFile, log.currentFile());

    ::unsetenv("PELLORA_TRANSPORT_LOG");
    log.reloadEnvironment();
    EXPECT_FALSE(log.enabled());
    std::remove(envFile.c_str());
    std::remove(ownFile.c_str());
}

} // namespace
} // namespace merrow::detail
