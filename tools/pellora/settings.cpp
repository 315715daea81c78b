#include "settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include <fmt/format.h>

namespace pellora::cli {

namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

const char* const kKeys[] = {"url", "user", "connection", "password", "ca", "session", "pin"};

}  // namespace

std::string defaultConfigPath(const EnvLookup& env) {
    if (const char* x = env("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/pellora/config";
    if (const char* h = env("HOME"); h && *h) return std::string(h) + "/.config/pellora/config";
    return "";
}

bool readConfigFile(const std::string& path, bool required, std::map<std::string, std::string>& out,
                    std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && !required) return true;
        error = fmt::format("config file {}: {}", path, std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = fmt::format("config file {}: is a folder", path);
        return false;
    }
    std::ifstream in(path);
    if (!in) {
        error = fmt::format("config file {}: cannot be read", path);
        return false;
    }
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        line = trim(line);
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = fmt::format("config file {} line {}: expected key = value", path, n);
            return false;
        }
        const std::string key = trim(line.substr(0, eq));
        bool known = false;
        for (const char* k : kKeys) known = known || key == k;
        if (!known) {
            error = fmt::format("config file {} line {}: unknown key '{}'", path, n, key);
            return false;
        }
        out[key] = trim(line.substr(eq + 1));
    }
    if (in.bad()) {
        error = fmt::format("config file {}: cannot be read", path);
        return false;
    }
    return true;
}

bool resolveSettings(const SettingFlags& flags, const EnvLookup& env, ConnectionSettings& out, std::string& error,
                     bool needCredentials) {
    std::map<std::string, std::string> file;
    const std::string path = flags.configFile ? *flags.configFile : defaultConfigPath(env);
    if (!path.empty() && !readConfigFile(path, flags.configFile.has_value(), file, error)) return false;

    auto pick = [&](const std::optional<std::string>& flag, const char* var, const char* key,
                    const char* fallback) -> std::string {
        if (flag) return *flag;
        if (const char* v = env(var); v && *v) return v;
        if (auto it = file.find(key); it != file.end()) return it->second;
        return fallback;
    };
    ConnectionSettings s;
    s.url = pick(flags.url, "PELLORA_URL", "url", kDefaultUrl);
    s.user = pick(flags.user, "PELLORA_USER", "user", "");
    s.connection = pick(flags.connection, "PELLORA_CONNECTION", "connection", kDefaultConnection);
    s.password = pick(flags.password, "PELLORA_PASSWORD", "password", "");
    s.caFile = pick(flags.caFile, "PELLORA_CA", "ca", "");
    s.tradingSession = pick(flags.tradingSession, "PELLORA_SESSION", "session", "");
    s.pin = pick(flags.pin, "PELLORA_PIN", "pin", "");
    if (s.url.empty()) {
        error = "the server address is empty";
        return false;
    }
    if (needCredentials && s.user.empty()) {
        error = "no user: give --user, PELLORA_USER or user in the config file";
        return false;
    }
    if (needCredentials && s.password.empty()) {
        error = "no password: give PELLORA_PASSWORD, password in the config file or --password";
        return false;
    }
    out = s;
    return true;
}

std::string describeSettings(const ConnectionSettings& s) {
    return fmt::format("url={} user={} connection={} password={}{}", s.url, s.user.empty() ? "(none)" : s.user,
                       s.connection, s.password.empty() ? "(not set)" : "(set)",
                       s.caFile.empty() ? "" : " ca=" + s.caFile);
}

}  // namespace pellora::cli
