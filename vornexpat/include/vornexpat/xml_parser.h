#pragma once
// The XML parser boundary: one synchronous parse operation that reports a document
// to a handler as events in document order.

#include <cstddef>

#include "vornexpat/vornexpat_export.h"

// Receives the events of one document. Every operation has an empty default body,
// so a handler overrides only what it needs. The caller constructs and destroys the
// handler; the parser never keeps it after Parse returns.
//
// Every text passed in is non-null and lives only for the duration of the call.
// Texts are UTF-8, whatever the encoding of the document.
//
// [Threading] Called on the thread that called XmlParser::Parse, never concurrently.
// [Locking] The parser holds no lock while it calls the handler.
// [Reentrancy] A handler may start another, independent XmlParser::Parse.
// [Exceptions] An exception thrown by any operation is caught by the parser, which
//   stops: nothing else is delivered and Parse returns false.
class VORNEXPAT_API IXmlParserHandler {
public:
    // Character data: text[start] to text[start + length - 1], not null-terminated.
    // One run of text may arrive in several calls (at line ends, character and entity
    // references, buffer boundaries); a handler that wants the whole run joins them.
    virtual void characters(const char* text, int start, int length);

    // An element begins. `name` is the name as written, with its prefix ("p:Pair").
    // `attrs` is a null-terminated array of alternating names and values, in document
    // order; namespace declarations (xmlns, xmlns:p) are reported through
    // startNamespace instead and are not among them.
    virtual void startElement(const char* name, const char** attrs);

    // An element ends, after all of its children; `name` as in startElement.
    virtual void endElement(const char* name);

    // A comment: text[start] to text[start + length - 1], without "<!--" and "-->".
    virtual void comment(const char* text, int start, int length);

    // A CDATA section begins or ends; its text arrives through characters in between.
    virtual void startCDATA();
    virtual void endCDATA();

    // A processing instruction; `data` is empty when there is none. The XML
    // declaration (<?xml ...?>) is not one.
    virtual void processingInstruction(const char* target, const char* data);

    // A namespace declaration comes into scope before the startElement of the element
    // that carries it, and goes out of scope after its endElement. The prefix is empty
    // for the default namespace; the URI is empty when xmlns="" undeclares it.
    virtual void startNamespace(const char* prefix, const char* uri);
    virtual void endNamespace(const char* prefix);

    virtual ~IXmlParserHandler();

    IXmlParserHandler(const IXmlParserHandler&) = delete;
    IXmlParserHandler& operator=(const IXmlParserHandler&) = delete;

protected:
    IXmlParserHandler() = default;
};

class VORNEXPAT_API XmlParser {
public:
    XmlParser() = delete;

    // Parses buffer[0] to buffer[length - 1] as one whole document, synchronously on
    // the calling thread, calling `handler` for each event in document order.
    //
    // Returns true when the whole buffer is a well-formed, namespace-well-formed
    // document; false otherwise, and false for a null buffer or handler. Parsing stops
    // at the first error: the events before it have been delivered, none after it is.
    //
    // Hostile documents are refused (false) before anything they declare takes
    // effect: no external entity or DTD is ever read, a document type that declares
    // entities, or that depends on an external subset without standalone="yes", is
    // refused, and expat's amplification limits are on. Never throws.
    static bool Parse(const char* buffer, std::size_t length, IXmlParserHandler* handler);
};
