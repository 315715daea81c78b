#pragma once
// FIX UTCTimestamp texts, "YYYYMMDD-HH:MM:SS" or "YYYYMMDD-HH:MM:SS.sss", and
// their date serials (days since midnight of 30 December 1899 as a double, the
// fraction the time of day; before that midnight the fraction counts away from
// zero, as the core's dates do).
//
// Range: years 100 to 9999, the range of the date serials. An invalid text or
// serial leaves the timestamp invalid: serial 0.0 (the empty date) and text "".
// Nothing throws. A plain value, used by one thread at a time.

#include <cstddef>

#include "merrow/merrow_export.h"

namespace merrow {

class MERROW_API CUTCTimestamp {
public:
    // Invalid until set.
    CUTCTimestamp() = default;
    explicit CUTCTimestamp(double serial) { setDate(serial); }

    // Reads a text (exact layout, no blanks, seconds 00-59); false, and invalid,
    // when it is not a timestamp.
    bool setText(const char* text);
    bool setText(const char* text, size_t length);
    // Takes a serial rounded to the millisecond; false, and invalid, for NaN, an
    // infinity or a serial outside the range.
    bool setDate(double serial);

    bool isValid() const { return m_valid; }
    // The serial, 0.0 when invalid.
    double getDate() const { return m_valid ? m_serial : 0.0; }
    // The text, with ".sss" only when the milliseconds are not 0; "" when invalid.
    // The text lives as long as the timestamp and until it is next set.
    const char* getText() const { return m_text; }
    // The text with or without milliseconds (without: truncated to the second).
    // Writes at most 22 bytes with the NUL into out; returns false, writing "",
    // when invalid.
    bool format(char* out, size_t size, bool withMilliseconds) const;

    // The serial of a text, 0.0 when it is not a timestamp.
    static double toDate(const char* text);

private:
    void clear();

    double m_serial = 0.0;
    // Calendar fields of the serial, kept for formatting.
    int m_year = 0, m_month = 0, m_day = 0, m_hour = 0, m_minute = 0, m_second = 0, m_ms = 0;
    bool m_valid = false;
    char m_text[24] = {0};
};

} // namespace merrow
