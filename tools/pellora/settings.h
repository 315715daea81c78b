#pragma once
// Where the pellora tool finds its connection: each setting from its flag, else
// its environment variable, else the config file, else the local dealer's
// defaults. The password has no default and is never printed.

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace pellora::cli {

// The local dealer's plain listener: loopback only, so it needs no certificate.
inline constexpr const char* kDefaultUrl = "tcp://127.0.0.1:7080";
// The dealer's paper-trading connection.
inline constexpr const char* kDefaultConnection = "Demo";

struct ConnectionSettings {
    std::string url;
    std::string user;
    std::string connection;
    std::string password;
    std::string caFile;          // empty: the system's certificate store
    std::string tradingSession;  // empty: the only one, or the first offered
    std::string pin;
};

// What the command line gave; unset when the flag was absent.
struct SettingFlags {
    std::optional<std::string> url, user, connection, password, caFile, tradingSession, pin;
    std::optional<std::string> configFile;  // --config: then the file must exist
};

using EnvLookup = std::function<const char*(const char*)>;

// $XDG_CONFIG_HOME/pellora/config, else $HOME/.config/pellora/config; "" when
// neither variable is set.
std::string defaultConfigPath(const EnvLookup& env);

// Reads "key = value" lines ('#' starts a comment). Keys: url, user, connection,
// password, ca, session, pin. A missing file is fine unless required; an
// unreadable file, a line without '=' or an unknown key is an error naming the
// file and the line.
bool readConfigFile(const std::string& path, bool required, std::map<std::string, std::string>& out,
                    std::string& error);

// Fills out from flags, environment (PELLORA_URL, PELLORA_USER, PELLORA_CONNECTION,
// PELLORA_PASSWORD, PELLORA_CA, PELLORA_SESSION, PELLORA_PIN) and the config file.
// False with a one-line reason when the config file is bad or the user or password
// is missing.
bool resolveSettings(const SettingFlags& flags, const EnvLookup& env, ConnectionSettings& out, std::string& error,
                     bool needCredentials = true);

// The settings as a person may see them: the password shown only as set or not.
std::string describeSettings(const ConnectionSettings& s);

}  // namespace pellora::cli
