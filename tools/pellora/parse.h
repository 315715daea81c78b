#pragma once
// Checks of the tool's arguments, made before anything is sent, so a bad
// number, date or timeframe is a usage error with a reason and never a request.

#include <string>

namespace pellora::cli {

// A whole amount of units: digits only, at least 1, at most 2^31-1.
bool parseAmount(const std::string& text, int& out, std::string& error);
// A price: a finite decimal number above 0 ("1.10523"); no exponents, no hex.
bool parseRate(const std::string& text, double& out, std::string& error);
// A count of pips for a trailing stop: 1 follows pip by pip, n moves n at a time.
bool parseTrailStep(const std::string& text, int& out, std::string& error);
// A UTC time "YYYY-MM-DD", "YYYY-MM-DD HH:MM", "YYYY-MM-DDTHH:MM[:SS]" (a
// trailing "Z" is allowed) into a date serial.
bool parseDate(const std::string& text, double& serial, std::string& error);
// One of the price server's timeframes, case-sensitive: t1 m1 m5 m15 m30 H1 H2 H3
// H4 H6 H8 D1 W1 M1.
bool isKnownTimeframe(const std::string& id);
const char* knownTimeframes();
// A date serial as "YYYY-MM-DD HH:MM:SS"; "" for 0.
std::string formatDate(double serial);

}  // namespace pellora::cli
