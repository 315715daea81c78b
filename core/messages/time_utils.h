#pragma once
// Conversions of the servers' wire values: the two timestamp texts, the server's
// date text, and the request identifier that routes an incoming message.
//
// Stateless and reentrant; nothing throws. Failure is the result: the empty date
// (0.0), an empty text.

#include <cstddef>
#include <string>

#include "merrow/message.h"
#include "vorntool/date.h"

namespace zel {

class TimeUtils {
public:
    TimeUtils() = delete;

    // Reads a table-stream timestamp, MMDDYYYYhhmmss with three optional
    // millisecond digits (used only when the text is exactly 17 long). A null text,
    // fewer than 14 characters, any non-digit or impossible fields give 0.0.
    static vorntool::date parseQORADasMessageTimeStamp(const char* text);
    // The same over text[0, length) when the length is known (a tokenized field).
    static vorntool::date parseQORADasMessageTimeStamp(const char* text, size_t length);
    // Its serial, for a parser that stores the double (no date object to pass).
    static double dasTimeStampSerial(const char* text, size_t length);
};

// The serial of a server date YYYYMMDD and an optional time hh:mm:ss. A null date,
// a text too short to hold its fields or impossible fields give 0.0.
double QORAdate2Ole(const char* date, const char* time);

// The server form YYYYMMDD-hh:mm:ss of a serial; "" for a serial outside the range
// of dates (or not a number).
std::string OleDate2QORA(double serial);

// The request identifier an incoming message carries, chosen by its type; the text
// lives as long as the message. "" for a null message, a type that carries none, or
// an absent field.
const char* getRequestIDFromMessage(const merrow::IFieldGroup* message);

} // namespace zel
