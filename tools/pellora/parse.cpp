#include "parse.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "vorntool/date.h"

namespace pellora::cli {

namespace {

bool allDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool readInt(const std::string& s, size_t pos, size_t len, int& out) {
    if (pos + len > s.size()) return false;
    const std::string part = s.substr(pos, len);
    if (!allDigits(part)) return false;
    out = std::atoi(part.c_str());
    return true;
}

}  // namespace

bool parseAmount(const std::string& text, int& out, std::string& error) {
    if (!allDigits(text)) {
        error = fmt::format("amount '{}' is not a whole number", text);
        return false;
    }
    const long long v = text.size() > 10 ? LLONG_MAX : std::strtoll(text.c_str(), nullptr, 10);
    if (v < 1 || v > INT_MAX) {
        error = fmt::format("amount '{}' must be from 1 to {}", text, INT_MAX);
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

bool parseRate(const std::string& text, double& out, std::string& error) {
    bool dot = false, digit = false;
    for (char c : text) {
        if (c == '.' && !dot) {
            dot = true;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        } else {
            digit = false;
            break;
        }
    }
    if (!digit || text.size() > 32) {
        error = fmt::format("rate '{}' is not a number", text);
        return false;
    }
    const double v = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(v) || v <= 0) {
        error = fmt::format("rate '{}' must be above 0", text);
        return false;
    }
    out = v;
    return true;
}

bool parseTrailStep(const std::string& text, int& out, std::string& error) {
    if (!allDigits(text) || text.size() > 6 || std::atoi(text.c_str()) < 1) {
        error = fmt::format("trailing step '{}' must be a whole number of pips from 1 to 999999", text);
        return false;
    }
    out = std::atoi(text.c_str());
    return true;
}

bool parseDate(const std::string& text, double& serial, std::string& error) {
    std::string s = text;
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.pop_back();
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    bool ok = s.size() >= 10 && readInt(s, 0, 4, y) && s[4] == '-' && readInt(s, 5, 2, mo) && s[7] == '-' &&
              readInt(s, 8, 2, d);
    if (ok && s.size() > 10) {
        ok = (s[10] == ' ' || s[10] == 'T') && s.size() >= 16 && readInt(s, 11, 2, h) && s[13] == ':' &&
             readInt(s, 14, 2, mi);
        if (ok && s.size() > 16) ok = s.size() == 19 && s[16] == ':' && readInt(s, 17, 2, sec);
    }
    ok = ok && y >= 1900 && vorntool::date::validate(static_cast<uint16_t>(y), static_cast<uint16_t>(mo),
                                                      static_cast<uint16_t>(d)) &&
         h < 24 && mi < 60 && sec < 60;
    if (!ok) {
        error = fmt::format("date '{}' is not YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS] (UTC)", text);
        return false;
    }
    serial = vorntool::date::construct(static_cast<uint16_t>(y), static_cast<uint16_t>(mo),
                                       static_cast<uint16_t>(d), static_cast<uint16_t>(h),
                                       static_cast<uint16_t>(mi), static_cast<uint16_t>(sec), 0);
    return true;
}

const char* knownTimeframes() { return "t1 m1 m5 m15 m30 H1 H2 H3 H4 H6 H8 D1 W1 M1"; }

bool isKnownTimeframe(const std::string& id) {
    for (const char* t : {"t1", "m1", "m5", "m15", "m30", "H1", "H2", "H3", "H4", "H6", "H8", "D1", "W1", "M1"})
        if (id == t) return true;
    return false;
}

std::string formatDate(double serial) {
    if (serial == 0) return "";
    int y, mo, d, h, mi, s;
    vorntool::date::split(serial, y, mo, d, h, mi, s);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", y, mo, d, h, mi, s);
}

}  // namespace pellora::cli
