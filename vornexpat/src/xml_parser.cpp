#include "vornexpat/xml_parser.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// The system's expat is built with DTD support (its exports carry the amplification
// limits); the macro only makes expat.h declare them.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>

#include "xml_parser_internal.h"

// Default bodies live here so that the vtable and typeinfo have one home: this library.
void IXmlParserHandler::characters(const char*, int, int) { }
void IXmlParserHandler::startElement(const char*, const char**) { }
void IXmlParserHandler::endElement(const char*) { }
void IXmlParserHandler::comment(const char*, int, int) { }
void IXmlParserHandler::startCDATA() { }
void IXmlParserHandler::endCDATA() { }
void IXmlParserHandler::processingInstruction(const char*, const char*) { }
void IXmlParserHandler::startNamespace(const char*, const char*) { }
void IXmlParserHandler::endNamespace(const char*) { }
IXmlParserHandler::~IXmlParserHandler() = default;

bool XmlParser::Parse(const char* buffer, std::size_t length, IXmlParserHandler* handler)
{
    return vornexpat::parseDocument(buffer, length, handler, vornexpat::ParseLimits {}).ok();
}

namespace vornexpat {
namespace {

// ---- Counting allocation -------------------------------------------------------
// expat's memory suite has no user pointer, and a parse runs wholly on its calling
// thread, so the figures are thread-local. Nested parses (started by a handler)
// count towards the outermost one and share its limit.
struct AllocationStats {
    std::size_t current = 0;
    std::size_t peak = 0;
    std::size_t limit = SIZE_MAX;
    std::size_t lastPeak = 0;
    std::size_t refusals = 0; // allocations that returned null, ever, on this thread
    int depth = 0;
};
thread_local AllocationStats t_stats;

// Each block carries its size in front, so free and realloc can count without help.
constexpr std::size_t kHeader = alignof(std::max_align_t) > sizeof(std::size_t)
    ? alignof(std::max_align_t)
    : sizeof(std::size_t);

bool admit(std::size_t grow)
{
    AllocationStats& s = t_stats;
    return grow <= SIZE_MAX - kHeader && s.current <= s.limit && grow <= s.limit - s.current;
}

void* refuse()
{
    ++t_stats.refusals;
    return nullptr;
}

void account(std::size_t released, std::size_t taken)
{
    AllocationStats& s = t_stats;
    s.current = s.current - released + taken;
    if (s.current > s.peak)
        s.peak = s.current;
}

void* countedMalloc(std::size_t size)
{
    if (!admit(size))
        return refuse();
    void* raw = std::malloc(size + kHeader);
    if (!raw)
        return refuse();
    *static_cast<std::size_t*>(raw) = size;
    account(0, size);
    return static_cast<char*>(raw) + kHeader;
}

void countedFree(void* block)
{
    if (!block)
        return;
    char* raw = static_cast<char*>(block) - kHeader;
    account(*reinterpret_cast<std::size_t*>(raw), 0);
    std::free(raw);
}

void* countedRealloc(void* block, std::size_t size)
{
    if (!block)
        return countedMalloc(size);
    char* raw = static_cast<char*>(block) - kHeader;
    const std::size_t old = *reinterpret_cast<std::size_t*>(raw);
    if (size > old ? !admit(size - old) : size > SIZE_MAX - kHeader)
        return refuse();
    void* moved = std::realloc(raw, size + kHeader);
    if (!moved)
        return refuse(); // the old block stays valid and counted
    *static_cast<std::size_t*>(moved) = size;
    account(old, size);
    return static_cast<char*>(moved) + kHeader;
}

// Scratch space of the parser itself counts against the same figures and limit.
template <class T> struct CountedAllocator {
    using value_type = T;
    CountedAllocator() = default;
    template <class U> CountedAllocator(const CountedAllocator<U>&) { }
    T* allocate(std::size_t n)
    {
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        void* p = countedMalloc(n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) { countedFree(p); }
    template <class U> bool operator==(const CountedAllocator<U>&) const { return true; }
    template <class U> bool operator!=(const CountedAllocator<U>&) const { return false; }
};

using CountedString = std::basic_string<char, std::char_traits<char>, CountedAllocator<char>>;

class AllocationScope {
public:
    explicit AllocationScope(std::size_t limit)
    {
        AllocationStats& s = t_stats;
        if (s.depth++ == 0) {
            s.peak = s.current;
            s.limit = limit;
        }
    }
    ~AllocationScope()
    {
        AllocationStats& s = t_stats;
        if (--s.depth == 0) {
            s.lastPeak = s.peak;
            s.limit = SIZE_MAX;
        }
    }
    AllocationScope(const AllocationScope&) = delete;
    AllocationScope& operator=(const AllocationScope&) = delete;
};

// ---- The parse -----------------------------------------------------------------
// Namespace processing with triplets: expat hands names as "uri SEP local SEP prefix".
// A line feed cannot occur in a name, and expat refuses a namespace URI holding the
// separator when it is not a URI character, so the split is never ambiguous.
constexpr XML_Char kSeparator = '\n';

const char* const kEmpty = "";
const char* const kOutOfMemory = "out of memory";

struct ParseContext {
    XML_Parser parser = nullptr;
    IXmlParserHandler* handler = nullptr;
    std::size_t refusalsAtStart = 0;
    ParseStatus status { ParseOutcome::Ok, kEmpty };
    CountedString name;
    std::vector<CountedString, CountedAllocator<CountedString>> attrNames;
    std::vector<const char*, CountedAllocator<const char*>> attrs;

    bool stopped() const { return status.outcome != ParseOutcome::Ok; }

    // expat does not check every allocation (a failed prefix lookup leaves "xmlns:p"
    // as a plain attribute), so after any refusal its output is not trusted.
    bool memoryFailed() const { return t_stats.refusals != refusalsAtStart; }

    // The first failure wins; expat may still call back after a stop (the end of an
    // empty element, say), and those calls are dropped.
    void fail(ParseOutcome outcome, const char* text)
    {
        if (stopped())
            return;
        status = ParseStatus { outcome, text };
        (void)XML_StopParser(parser, XML_FALSE);
    }

    // For callbacks whose error result stops expat by itself.
    void record(ParseOutcome outcome, const char* text)
    {
        if (!stopped())
            status = ParseStatus { outcome, text };
    }
};

ParseContext& contextOf(void* user)
{
    return *static_cast<ParseContext*>(user);
}

// Runs one handler call unless the parse has stopped; an exception stops it.
template <class Call> void deliver(void* user, Call&& call)
{
    ParseContext& ctx = contextOf(user);
    if (ctx.stopped())
        return;
    if (ctx.memoryFailed()) {
        ctx.fail(ParseOutcome::OutOfMemory, kOutOfMemory);
        return;
    }
    try {
        call(ctx);
    } catch (const std::bad_alloc&) {
        ctx.fail(ParseOutcome::OutOfMemory, kOutOfMemory);
    } catch (...) {
        ctx.fail(ParseOutcome::HandlerThrew, "the handler threw an exception");
    }
}

// The name as written: "prefix:local", or "local" outside a prefixed namespace.
const char* qualifiedName(const char* expanded, CountedString& scratch)
{
    const char* sep = std::strchr(expanded, kSeparator);
    if (!sep)
        return expanded;
    const char* local = sep + 1;
    const char* sepPrefix = std::strchr(local, kSeparator);
    if (!sepPrefix)
        return local;
    scratch.assign(sepPrefix + 1);
    scratch.push_back(':');
    scratch.append(local, static_cast<std::size_t>(sepPrefix - local));
    return scratch.c_str();
}

const char* orEmpty(const char* text)
{
    return text ? text : kEmpty;
}

void XMLCALL onStartElement(void* user, const XML_Char* name, const XML_Char** atts)
{
    deliver(user, [&](ParseContext& ctx) {
        const char* qname = qualifiedName(name, ctx.name);
        std::size_t count = 0;
        bool expanded = false;
        for (; atts[2 * count]; ++count) {
            if (std::strchr(atts[2 * count], kSeparator))
                expanded = true;
        }
        if (!expanded) {
            ctx.handler->startElement(qname, atts);
            return;
        }
        if (ctx.attrNames.size() < count)
            ctx.attrNames.resize(count);
        ctx.attrs.clear();
        for (std::size_t i = 0; i < count; ++i) {
            ctx.attrs.push_back(qualifiedName(atts[2 * i], ctx.attrNames[i]));
            ctx.attrs.push_back(atts[2 * i + 1]);
        }
        ctx.attrs.push_back(nullptr);
        ctx.handler->startElement(qname, ctx.attrs.data());
    });
}

void XMLCALL onEndElement(void* user, const XML_Char* name)
{
    deliver(
        user, [&](ParseContext& ctx) { ctx.handler->endElement(qualifiedName(name, ctx.name)); });
}

void XMLCALL onCharacters(void* user, const XML_Char* text, int length)
{
    deliver(user, [&](ParseContext& ctx) { ctx.handler->characters(text, 0, length); });
}

void XMLCALL onComment(void* user, const XML_Char* text)
{
    deliver(user, [&](ParseContext& ctx) {
        // A comment longer than an int can count arrives in consecutive pieces.
        std::size_t rest = std::strlen(text);
        do {
            const int piece = rest > INT_MAX ? INT_MAX : static_cast<int>(rest);
            ctx.handler->comment(text, 0, piece);
            text += piece;
            rest -= static_cast<std::size_t>(piece);
        } while (rest > 0 && !ctx.stopped());
    });
}

void XMLCALL onStartCdata(void* user)
{
    deliver(user, [](ParseContext& ctx) { ctx.handler->startCDATA(); });
}

void XMLCALL onEndCdata(void* user)
{
    deliver(user, [](ParseContext& ctx) { ctx.handler->endCDATA(); });
}

void XMLCALL onProcessingInstruction(void* user, const XML_Char* target, const XML_Char* data)
{
    deliver(user, [&](ParseContext& ctx) {
        ctx.handler->processingInstruction(orEmpty(target), orEmpty(data));
    });
}

void XMLCALL onStartNamespace(void* user, const XML_Char* prefix, const XML_Char* uri)
{
    deliver(user,
        [&](ParseContext& ctx) { ctx.handler->startNamespace(orEmpty(prefix), orEmpty(uri)); });
}

void XMLCALL onEndNamespace(void* user, const XML_Char* prefix)
{
    deliver(user, [&](ParseContext& ctx) { ctx.handler->endNamespace(orEmpty(prefix)); });
}

// Entities are refused at their declaration, so no entity text, internal or
// external, ever reaches the handler.
void XMLCALL onEntityDeclaration(void* user, const XML_Char*, int, const XML_Char*, int,
    const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
{
    contextOf(user).fail(ParseOutcome::Refused, "entity declarations are refused");
}

// A backstop: with external subsets refused, an undeclared reference is already an
// error, and expanding nothing in its place would alter the text.
void XMLCALL onSkippedEntity(void* user, const XML_Char*, int)
{
    contextOf(user).fail(ParseOutcome::Refused, "an entity that is not declared is refused");
}

// A document that leans on an external subset without standalone="yes" would lose
// the references to what that subset declares (expat drops them from attribute
// values silently), so it is refused rather than delivered altered.
int XMLCALL onNotStandalone(void* user)
{
    contextOf(user).record(ParseOutcome::Refused, "an external document type is refused");
    return XML_STATUS_ERROR;
}

int XMLCALL onExternalEntity(
    XML_Parser parser, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
{
    contextOf(XML_GetUserData(parser))
        .record(ParseOutcome::Refused, "external entities are refused");
    return XML_STATUS_ERROR;
}

struct ParserFree {
    XML_Parser parser;
    ~ParserFree() { XML_ParserFree(parser); }
};

// Without entities the amplification stays at 1; the limits guard against any path
// that would let one through.
constexpr float kMaximumAmplification = 4.0f;
constexpr unsigned long long kAmplificationThreshold = 64 * 1024;

bool configure(XML_Parser parser, ParseContext& ctx)
{
    XML_SetUserData(parser, &ctx);
    XML_SetReturnNSTriplet(parser, XML_TRUE);
    if (!XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER))
        return false;
    if (!XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, kMaximumAmplification))
        return false;
    if (!XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, kAmplificationThreshold))
        return false;
    XML_SetElementHandler(parser, onStartElement, onEndElement);
    XML_SetCharacterDataHandler(parser, onCharacters);
    XML_SetCommentHandler(parser, onComment);
    XML_SetCdataSectionHandler(parser, onStartCdata, onEndCdata);
    XML_SetProcessingInstructionHandler(parser, onProcessingInstruction);
    XML_SetNamespaceDeclHandler(parser, onStartNamespace, onEndNamespace);
    XML_SetEntityDeclHandler(parser, onEntityDeclaration);
    XML_SetSkippedEntityHandler(parser, onSkippedEntity);
    XML_SetNotStandaloneHandler(parser, onNotStandalone);
    XML_SetExternalEntityRefHandler(parser, onExternalEntity);
    return true;
}

ParseStatus expatFailure(XML_Parser parser)
{
    const XML_Error code = XML_GetErrorCode(parser);
    const XML_LChar* text = XML_ErrorString(code);
    return ParseStatus { code == XML_ERROR_NO_MEMORY ? ParseOutcome::OutOfMemory
                                                     : ParseOutcome::Malformed,
        text ? text : "not well-formed" };
}

ParseStatus parseWith(XML_Parser parser, ParseContext& ctx, const char* buffer, std::size_t length,
    std::size_t chunkSize)
{
    std::size_t offset = 0;
    do {
        const std::size_t piece = length - offset < chunkSize ? length - offset : chunkSize;
        const bool last = offset + piece == length;
        const XML_Status result = XML_Parse(
            parser, buffer + offset, static_cast<int>(piece), last ? XML_TRUE : XML_FALSE);
        if (ctx.stopped())
            return ctx.status;
        if (ctx.memoryFailed())
            return ParseStatus { ParseOutcome::OutOfMemory, kOutOfMemory };
        if (result != XML_STATUS_OK)
            return expatFailure(parser);
        offset += piece;
    } while (offset < length);
    return ParseStatus { ParseOutcome::Ok, kEmpty };
}

} // namespace

ParseStatus parseDocument(
    const char* buffer, std::size_t length, IXmlParserHandler* handler, const ParseLimits& limits)
{
    if (!buffer || !handler)
        return ParseStatus { ParseOutcome::NullArgument, "no buffer or handler" };
    try {
        AllocationScope scope(limits.allocationLimit);
        const XML_Memory_Handling_Suite suite { countedMalloc, countedRealloc, countedFree };
        const XML_Char separator = kSeparator;
        const std::size_t refusals = t_stats.refusals;
        XML_Parser parser = XML_ParserCreate_MM(nullptr, &suite, &separator);
        if (!parser)
            return ParseStatus { ParseOutcome::OutOfMemory, "cannot create the parser" };
        ParserFree owner { parser };
        ParseContext ctx;
        ctx.parser = parser;
        ctx.handler = handler;
        ctx.refusalsAtStart = refusals;
        if (ctx.memoryFailed())
            return ParseStatus { ParseOutcome::OutOfMemory, kOutOfMemory };
        if (!configure(parser, ctx))
            return ParseStatus { ParseOutcome::Refused, "cannot turn on the protections" };
        std::size_t chunk = limits.chunkSize;
        if (chunk < 1)
            chunk = 1;
        if (chunk > INT_MAX)
            chunk = INT_MAX;
        return parseWith(parser, ctx, buffer, length, chunk);
    } catch (...) {
        // Nothing above throws by design; this keeps the promise if that ever changes.
        return ParseStatus { ParseOutcome::OutOfMemory, "internal failure" };
    }
}

std::size_t lastParsePeakBytes()
{
    return t_stats.lastPeak;
}

} // namespace vornexpat
