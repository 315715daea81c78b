#pragma once
// Peer-chosen texts (user names, message types, session IDs) as they may appear in a
// log line: cut to a short length, with control characters shown as '?', so a peer
// can neither flood the log with one huge line nor forge line breaks in it.

#include <string>
#include <string_view>

namespace merrow::detail {

inline std::string loggable(std::string_view text, size_t max = 64)
{
    std::string out;
    const size_t shown = text.size() > max ? max : text.size();
    out.reserve(shown + 24);
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
    }
    if (text.size() > max)
        out += "...(" + std::to_string(text.size()) + " bytes)";
    return out;
}

} // namespace merrow::detail
