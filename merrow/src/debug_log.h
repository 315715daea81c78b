#pragma once
// The transport's debug log: one line per frame (time, direction, session, frame
// kind, channel, sequence, acknowledgement, message type and fields) plus lines for
// events worth a look (protocol errors, refused sends). Passwords, PINs and resume
// tokens are written as "***". Values are escaped to printable ASCII so that a
// frame never spans lines, and long ones are cut.
//
// On when setDebug(true) and a file is set; the environment variable
// PELLORA_TRANSPORT_LOG=<file> turns it on at start and then wins over setDebug
// and setFile, which the core calls whenever it creates or destroys a session.
//
// [Threading] Any thread; lines are written whole under one mutex. enabled() is a
// lock-free check for the hot path.

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "frame_codec.h"
#include "merrow/message.h"

namespace merrow::detail {

// Longest value written before it is cut ("...(N bytes)").
constexpr size_t kDebugLogMaxValue = 512;

// The fields of a message as "tag=value|tag=value", group lists as
// "tag=[{...},{...}]", secrets as "***".
std::string formatFields(const IFieldGroup& group);
// A whole frame line without the time stamp and newline.
std::string formatFrame(const char* direction, const std::string& session, const wire::FrameHeader& header,
                        const IMessage& message);

class DebugLog {
public:
    static DebugLog& instance();

    void setDebug(bool on);
    // Null or empty: no file (the log is then off).
    void setFile(const char* name);
    // Reads PELLORA_TRANSPORT_LOG again (done once at start; tests call it after
    // changing the environment).
    void reloadEnvironment();

    bool enabled() const { return m_enabled.load(std::memory_order_acquire); }
    // The file lines go to now, "" when off.
    std::string currentFile() const;

    // direction: "out" or "in".
    void logFrame(const char* direction, const std::string& session, const wire::FrameHeader& header,
                  const IMessage& message);
    void logEvent(const std::string& session, const std::string& text);

    DebugLog(const DebugLog&) = delete;
    DebugLog& operator=(const DebugLog&) = delete;

private:
    DebugLog();
    ~DebugLog();
    void reopenLocked();
    void writeLocked(const std::string& line);

    mutable std::mutex m_mutex;
    bool m_debug = false;
    std::string m_file;     // set by setFile
    std::string m_envFile;  // PELLORA_TRANSPORT_LOG; wins when set
    std::string m_openName;
    FILE* m_out = nullptr;
    std::atomic<bool> m_enabled{false};
};

// Something that went wrong without a caller to tell (a refused send, a protocol
// error): to the debug log when it is on, else to stderr.
void logWarning(const std::string& session, const std::string& text);

} // namespace merrow::detail
