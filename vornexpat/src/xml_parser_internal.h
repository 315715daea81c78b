#pragma once
// Inside vornexpat only (never installed): the parse with its failure reason and
// tunable limits, and the allocation figures of the last parse, for the tests and
// the fuzz target.

#include <cstddef>
#include <cstdint>

#include "vornexpat/xml_parser.h"

namespace vornexpat {

enum class ParseOutcome {
    Ok,
    NullArgument, // null buffer or handler; the handler is not called
    Malformed, // not well-formed or not namespace-well-formed
    Refused, // a hostile construct: entity declaration, external subset or entity
    HandlerThrew, // an operation of the handler threw
    OutOfMemory, // the allocation limit or the system refused memory
};

struct [[nodiscard]] ParseStatus {
    ParseOutcome outcome;
    const char* text; // static text naming the reason; empty for Ok
    bool ok() const { return outcome == ParseOutcome::Ok; }
};

struct ParseLimits {
    // The document is fed to expat in pieces of at most this many bytes (1 to INT_MAX).
    // expat copies what it is fed, so pieces keep its buffer small for large documents.
    std::size_t chunkSize = 64 * 1024;
    // The parser's allocations in use at one time never exceed this many bytes.
    std::size_t allocationLimit = SIZE_MAX;
};

// XmlParser::Parse with the reason of a failure. Never throws.
ParseStatus parseDocument(
    const char* buffer, std::size_t length, IXmlParserHandler* handler, const ParseLimits& limits);

// The most bytes the parser held at one time during the last completed outermost
// parse on this thread (expat's state and the parser's own scratch space).
std::size_t lastParsePeakBytes();

} // namespace vornexpat
