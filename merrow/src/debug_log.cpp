#include "debug_log.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "admin_protocol.h"
#include "field_group.h"

namespace merrow::detail {

namespace {

bool isSecretTag(int tag)
{
    return tag == admin::FLDTAG_PASSWORD || tag == admin::FLDTAG_PIN || tag == admin::FLDTAG_RESUMETOKEN;
}

void appendEscaped(std::string& out, const char* data, size_t size)
{
    static const char* hex = "0123456789abcdef";
    const size_t shown = size > kDebugLogMaxValue ? kDebugLogMaxValue : size;
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\\' || c == '|') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (shown < size)
        out += "...(" + std::to_string(size) + " bytes)";
}

// The extra-parameter text carries a PIN as "PIN=<pin>" between ';' separators.
std::string redactPin(const char* data, size_t size)
{
    std::string text(data, size);
    size_t at = 0;
    while ((at = text.find("PIN=", at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == ';' || text[at - 1] == ',') {
            const size_t start = at + 4;
            size_t end = text.find(';', start);
            if (end == std::string::npos)
                end = text.size();
            text.replace(start, end - start, "***");
            at = start + 3;
        } else {
            at += 4;
        }
    }
    return text;
}

void appendFields(std::string& out, const IFieldGroup& group, int depth)
{
    const int count = group.getFieldCount();
    for (int i = 0; i < count; ++i) {
        const IField* field = group.getFieldAt(i);
        if (!field)
            continue;
        if (i > 0)
            out += '|';
        out += std::to_string(field->getTag());
        out += '=';
        if (isSecretTag(field->getTag())) {
            out += "***";
        } else if (field->getType() == WIRETYPE_GROUPLIST) {
            IFieldGroupList* list = field->getGroupList();
            out += '[';
            if (list && depth < 16) {
                for (int e = 0; e < list->size(); ++e) {
                    if (e > 0)
                        out += ',';
                    out += '{';
                    if (const IFieldGroup* entry = list->get(e))
                        appendFields(out, *entry, depth + 1);
                    out += '}';
                }
            }
            out += ']';
        } else if (field->getTag() == admin::FLDTAG_EXTRAPARAMS) {
            const std::string redacted = redactPin(field->getValue(), field->getLength());
            appendEscaped(out, redacted.data(), redacted.size());
        } else {
            appendEscaped(out, field->getValue(), field->getLength());
        }
    }
}

std::string timeStamp()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    gmtime_r(&tv.tv_sec, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06ld", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long>(tv.tv_usec));
    return text;
}

} // namespace

std::string formatFields(const IFieldGroup& group)
{
    std::string out;
    appendFields(out, group, 0);
    return out;
}

std::string formatFrame(const char* direction, const std::string& session, const wire::FrameHeader& header,
                        const IMessage& message)
{
    std::string line = direction;
    line += ' ';
    line += session;
    line += header.kind == wire::FrameKind::Admin ? " admin" : " app";
    line += header.channel == IFixDefs::CHANNEL_MARKET_DATA ? " market" : " trading";
    line += " seq=" + std::to_string(header.sequence);
    line += " ack=" + std::to_string(header.lastReceived);
    if (header.resent)
        line += " resent";
    line += " type=";
    const char* type = message.getMsgType();
    appendEscaped(line, type, std::strlen(type));
    line += ' ';
    appendFields(line, message, 0);
    return line;
}

DebugLog& DebugLog::instance()
{
    // Never destroyed: sessions may log from transport threads during exit.
    static DebugLog* log = new DebugLog();
    return *log;
}

DebugLog::DebugLog()
{
    reloadEnvironment();
}

DebugLog::~DebugLog()
{
    if (m_out)
        std::fclose(m_out);
}

void DebugLog::setDebug(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_debug = on;
    reopenLocked();
}

void DebugLog::setFile(const char* name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file = name ? name : "";
    reopenLocked();
}

void DebugLog::reloadEnvironment()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const char* env = std::getenv("PELLORA_TRANSPORT_LOG");
    m_envFile = env ? env : "";
    reopenLocked();
}

std::string DebugLog::currentFile() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_out ? m_openName : std::string();
}

void DebugLog::reopenLocked()
{
    const std::string want = !m_envFile.empty() ? m_envFile : (m_debug ? m_file : std::string());
    if (m_out && want == m_openName)
        return;
    if (m_out) {
        std::fclose(m_out);
        m_out = nullptr;
        m_openName.clear();
    }
    if (!want.empty()) {
        m_out = std::fopen(want.c_str(), "a");
        if (m_out)
            m_openName = want;
    }
    m_enabled.store(m_out != nullptr, std::memory_order_release);
}

void DebugLog::writeLocked(const std::string& line)
{
    if (!m_out)
        return;
    const std::string stamped = timeStamp() + " " + line + "\n";
    std::fwrite(stamped.data(), 1, stamped.size(), m_out);
    std::fflush(m_out);
}

void DebugLog::logFrame(const char* direction, const std::string& session, const wire::FrameHeader& header,
                        const IMessage& message)
{
    if (!enabled())
        return;
    const std::string line = formatFrame(direction, session, header, message);
    std::lock_guard<std::mutex> lock(m_mutex);
    writeLocked(line);
}

void DebugLog::logEvent(const std::string& session, const std::string& text)
{
    if (!enabled())
        return;
    std::string line = "event " + session + " ";
    appendEscaped(line, text.data(), text.size());
    std::lock_guard<std::mutex> lock(m_mutex);
    writeLocked(line);
}

void logWarning(const std::string& session, const std::string& text)
{
    DebugLog& log = DebugLog::instance();
    if (log.enabled()) {
        log.logEvent(session, "warning: " + text);
        return;
    }
    std::fprintf(stderr, "merrow: %s: %s\n", session.c_str(), text.c_str());
}

} // namespace merrow::detail
