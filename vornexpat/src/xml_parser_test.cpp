#include "vornexpat/xml_parser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "xml_parser_internal.h"

namespace vornexpat {
namespace {

using Events = std::vector<std::string>;

// Writes every event as one text; adjacent character data is joined into one "text:"
// entry, since expat may split a run anywhere.
class Recorder : public IXmlParserHandler {
public:
    Events events;
    std::string throwAfter; // throws right after recording an event starting with this

    void characters(const char* text, int start, int length) override
    {
        if (events.empty() || events.back().rfind("text:", 0) != 0)
            events.push_back("text:");
        events.back().append(text + start, static_cast<size_t>(length));
        check();
    }
    void startElement(const char* name, const char** attrs) override
    {
        std::string e = std::string("<") + name;
        for (; *attrs; attrs += 2)
            e += std::string(" ") + attrs[0] + "='" + attrs[1] + "'";
        add(e + ">");
    }
    void endElement(const char* name) override { add(std::string("</") + name + ">"); }
    void comment(const char* text, int start, int length) override
    {
        add("comment:" + std::string(text + start, static_cast<size_t>(length)));
    }
    void startCDATA() override { add("cdata{"); }
    void endCDATA() override { add("}cdata"); }
    void processingInstruction(const char* target, const char* data) override
    {
        add(std::string("pi:") + target + "|" + data);
    }
    void startNamespace(const char* prefix, const char* uri) override
    {
        add(std::string("ns+") + prefix + "=" + uri);
    }
    void endNamespace(const char* prefix) override { add(std::string("ns-") + prefix); }

private:
    void add(std::string e)
    {
        events.push_back(std::move(e));
        check();
    }
    void check()
    {
        if (!throwAfter.empty() && events.back().rfind(throwAfter, 0) == 0)
            throw std::runtime_error("handler failure");
    }
};

struct Result {
    ParseStatus status;
    Events events;
};

Result parse(const std::string& doc, ParseLimits limits = {})
{
    Recorder r;
    ParseStatus s = parseDocument(doc.data(), doc.size(), &r, limits);
    return { s, r.events };
}

// The public entry point must agree with the internal one it wraps.
bool parsePublic(const std::string& doc, Events* events = nullptr)
{
    Recorder r;
    bool ok = XmlParser::Parse(doc.data(), doc.size(), &r);
    if (events)
        *events = r.events;
    return ok;
}

const char* const kRich = "<?xml version='1.0' encoding='UTF-8'?>\n"
                          "<?style kind=\"x\"?>"
                          "<!-- head -->"
                          "<root a='1' b=\"two &amp; &lt;3&gt;\">"
                          "x&#233;y\n"
                          "<child id='c1'><leaf/></child>"
                          "<![CDATA[<raw> & ]]>"
                          "<?pi?>"
                          "</root>";

const Events kRichEvents = {
    "pi:style|kind=\"x\"",
    "comment: head ",
    "<root a='1' b='two & <3>'>",
    "text:x\xC3\xA9y\n",
    "<child id='c1'>",
    "<leaf>",
    "</leaf>",
    "</child>",
    "cdata{",
    "text:<raw> & ",
    "}cdata",
    "pi:pi|",
    "</root>",
};

TEST(XmlParserEvents, DeliversEveryKindInDocumentOrder)
{
    Result r = parse(kRich);
    EXPECT_TRUE(r.status.ok()) << r.status.text;
    EXPECT_EQ(r.events, kRichEvents);

    Events viaPublic;
    EXPECT_TRUE(parsePublic(kRich, &viaPublic));
    EXPECT_EQ(viaPublic, kRichEvents);
}

TEST(XmlParserEvents, SameEventsWhateverTheChunkSize)
{
    // Multi-byte characters, references and markup all straddle chunk boundaries.
    const std::string doc = std::string("<r t='\xE2\x82\xAC'>\xE2\x82\xAC&amp;\xF0\x9F\x98\x80")
        + "<!-- c --><x/>tail</r>";
    const Result whole = parse(doc);
    ASSERT_TRUE(whole.status.ok());
    // 0 and SIZE_MAX are clamped to what expat accepts: 1 and INT_MAX.
    for (size_t chunk :
        { size_t(0), size_t(1), size_t(2), size_t(3), size_t(7), size_t(64), SIZE_MAX }) {
        SCOPED_TRACE(chunk);
        Result r = parse(doc, ParseLimits { chunk });
        EXPECT_TRUE(r.status.ok()) << r.status.text;
        EXPECT_EQ(r.events, whole.events);
    }
    EXPECT_EQ(whole.events[1], "text:\xE2\x82\xAC&\xF0\x9F\x98\x80");
}

TEST(XmlParserEvents, TextSplitAcrossCallsHonoursStartAndLength)
{
    // Each call reports its own slice through start and length.
    struct Slices : IXmlParserHandler {
        std::vector<std::string> parts;
        void characters(const char* text, int start, int length) override
        {
            parts.emplace_back(text + start, static_cast<size_t>(length));
        }
    } h;
    const std::string doc = "<a>one&amp;two\nthree</a>";
    ASSERT_TRUE(XmlParser::Parse(doc.data(), doc.size(), &h));
    std::string joined;
    for (const auto& p : h.parts)
        joined += p;
    EXPECT_EQ(joined, "one&two\nthree");
    EXPECT_GT(h.parts.size(), 1u);
}

TEST(XmlParserEvents, OtherEncodingsArriveAsUtf8)
{
    struct Case {
        const char* name;
        std::string doc;
    } cases[] = {
        { "latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?><a v='\xE9'>\xE9</a>" },
        { "utf-16le", std::string("\xFF\xFE<\0a\0 \0v\0=\0'\0\xE9\0'\0>\0\xE9\0<\0/\0a\0>\0", 30) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = parse(c.doc);
        EXPECT_TRUE(r.status.ok()) << r.status.text;
        EXPECT_EQ(r.events, (Events { "<a v='\xC3\xA9'>", "text:\xC3\xA9", "</a>" }));
    }
}

TEST(XmlParserEvents, NamespacesAreScopedAndNamesStayAsWritten)
{
    const std::string doc = "<Pairs xmlns='urn:d' xmlns:q='urn:q'>"
                            "<q:Pair q:id='1' plain='2'/>"
                            "<Pair xmlns=''/>"
                            "</Pairs>";
    Result r = parse(doc);
    EXPECT_TRUE(r.status.ok()) << r.status.text;
    EXPECT_EQ(r.events,
        (Events {
            "ns+=urn:d",
            "ns+q=urn:q",
            "<Pairs>",
            "<q:Pair q:id='1' plain='2'>",
            "</q:Pair>",
            "ns+=",
            "<Pair>",
            "</Pair>",
            "ns-",
            "</Pairs>",
            "ns-q",
            "ns-",
        }));
}

TEST(XmlParserEvents, DefaultHandlerBodiesAcceptEverything)
{
    struct Nothing : IXmlParserHandler {
    } h;
    const std::string doc = "<a xmlns:p='urn:p'><!--c--><![CDATA[d]]><?t d?><p:b/>text</a>";
    EXPECT_TRUE(XmlParser::Parse(doc.data(), doc.size(), &h));
}

TEST(XmlParserErrors, NullArgumentsGiveFalse)
{
    Recorder r;
    EXPECT_FALSE(XmlParser::Parse(nullptr, 0, &r));
    EXPECT_FALSE(XmlParser::Parse(nullptr, 10, &r));
    EXPECT_FALSE(XmlParser::Parse("<a/>", 4, nullptr));
    EXPECT_TRUE(r.events.empty());
}

TEST(XmlParserErrors, MalformedDocumentsStopAtTheError)
{
    struct Case {
        const char* name;
        std::string doc;
        Events events; // everything before the error, nothing after
    } cases[] = {
        { "empty", "", {} },
        { "whitespace only", "  \n", {} },
        { "unclosed tag", "<a><b></b>", { "<a>", "<b>", "</b>" } },
        { "mismatched tag", "<a><b>x</a><c/>", { "<a>", "<b>", "text:x" } },
        { "trailing garbage", "<a/>junk<b/>", { "<a>", "</a>" } },
        { "second root", "<a/><b/>", { "<a>", "</a>" } },
        { "invalid utf-8", "<a>ok<b/>\xFF<c/></a>", { "<a>", "text:ok", "<b>", "</b>" } },
        { "truncated utf-8", "<a>\xE2\x82</a>", { "<a>" } },
        { "unknown encoding", "<?xml version='1.0' encoding='x-nowhere'?><a/>", {} },
        { "unbound prefix", "<a><p:b/></a>", { "<a>" } },
        { "duplicate attribute", "<a><b x='1' x='2'/></a>", { "<a>" } },
        { "undeclared entity", "<a>x&nope;y</a>", { "<a>", "text:x" } },
        { "separator in a namespace", "<a xmlns:p='urn:&#10;p'><p:b/></a>", {} },
        { "nul byte", std::string("<a>\0</a>", 8), { "<a>" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = parse(c.doc);
        EXPECT_EQ(r.status.outcome, ParseOutcome::Malformed) << r.status.text;
        EXPECT_EQ(r.events, c.events);
        Events viaPublic;
        EXPECT_FALSE(parsePublic(c.doc, &viaPublic));
        EXPECT_EQ(viaPublic, c.events);
    }
}

TEST(XmlParserErrors, AThrowingHandlerStopsTheParse)
{
    const std::string doc = "<a xmlns:p='urn:p'>t<!--c--><?p d?><![CDATA[z]]><b/><p:c/></a>";
    struct Case {
        const char* throwAfter;
        size_t eventsDelivered; // up to and including the one that threw
    } cases[] = {
        { "ns+p", 1 },
        { "<a>", 2 },
        { "text:t", 3 },
        { "comment:", 4 },
        { "pi:", 5 },
        { "cdata{", 6 },
        { "}cdata", 8 },
        { "<b>", 9 }, // an empty element: its end must not follow the failure
        { "</p:c>", 12 },
        { "ns-p", 14 },
    };
    Result full = parse(doc);
    ASSERT_TRUE(full.status.ok());
    ASSERT_EQ(full.events.size(), 14u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.throwAfter);
        Recorder r;
        r.throwAfter = c.throwAfter;
        ParseStatus s = parseDocument(doc.data(), doc.size(), &r, {});
        EXPECT_EQ(s.outcome, ParseOutcome::HandlerThrew);
        EXPECT_EQ(r.events, Events(full.events.begin(), full.events.begin() + c.eventsDelivered));

        Recorder again;
        again.throwAfter = c.throwAfter;
        EXPECT_FALSE(XmlParser::Parse(doc.data(), doc.size(), &again));
    }
}

TEST(XmlParserErrors, AnythingThrownIsCaught)
{
    struct Thrower : IXmlParserHandler {
        void startElement(const char*, const char**) override { throw 42; }
    } h;
    EXPECT_FALSE(XmlParser::Parse("<a/>", 4, &h));
}

// Under any memory limit the parse fails cleanly after a prefix of its events. expat
// itself can go on with a half-made namespace binding after a failed allocation (it
// then reported "xmlns:r" as a plain attribute): nothing may be delivered after one.
TEST(XmlParserErrors, RunningOutOfMemoryStopsCleanly)
{
    std::string elements = "<root>";
    for (int i = 0; i < 20; ++i)
        elements += "<e" + std::to_string(i) + " k='" + std::string(i * 10, 'v') + "'>t</e"
            + std::to_string(i) + ">";
    elements += "</root>";
    const std::string namespaces = "<a xmlns='urn:d' xmlns:r='urn:r'><b xmlns:z='urn:z'>"
                                   "<c xmlns:p='urn:d' xmlns:r='urn:r2' r:x='1'/></b></a>";
    for (const std::string& doc : { elements, namespaces }) {
        SCOPED_TRACE(doc);
        const Result full = parse(doc);
        ASSERT_TRUE(full.status.ok());
        const size_t peak = lastParsePeakBytes();
        for (size_t limit = 0; limit < peak; limit += 16) {
            SCOPED_TRACE(limit);
            Result r = parse(doc, ParseLimits { 64 * 1024, limit });
            ASSERT_EQ(r.status.outcome, ParseOutcome::OutOfMemory) << r.status.text;
            ASSERT_LE(r.events.size(), full.events.size());
            ASSERT_EQ(r.events, Events(full.events.begin(), full.events.begin() + r.events.size()));
            ASSERT_LE(lastParsePeakBytes(), limit);
        }
        EXPECT_TRUE(parse(doc, ParseLimits { 64 * 1024, peak }).status.ok());
    }
}

TEST(XmlParserErrors, AHandlerMayParseAnotherDocument)
{
    struct Outer : Recorder {
        Events inner;
        bool innerOk = false;
        void startElement(const char* name, const char** attrs) override
        {
            Recorder::startElement(name, attrs);
            Recorder r;
            innerOk = XmlParser::Parse("<in>x</in>", 10, &r);
            inner = r.events;
        }
    } h;
    EXPECT_TRUE(XmlParser::Parse("<out/>", 6, &h));
    EXPECT_TRUE(h.innerOk);
    EXPECT_EQ(h.inner, (Events { "<in>", "text:x", "</in>" }));
    EXPECT_EQ(h.events, (Events { "<out>", "</out>" }));
}

// ---- Hostile documents ------------------------------------------------------------

std::string billionLaughs(const std::string& use)
{
    std::string d = "<?xml version='1.0'?>\n<!DOCTYPE lolz [\n<!ENTITY lol 'lol'>\n";
    for (int i = 1; i <= 9; ++i) {
        d += "<!ENTITY lol" + std::to_string(i) + " '";
        for (int j = 0; j < 10; ++j)
            d += i == 1 ? "&lol;" : "&lol" + std::to_string(i - 1) + ";";
        d += "'>\n";
    }
    return d + "]>\n" + use;
}

// A document of the same size with nothing to expand: what the parser needs anyway.
size_t baselinePeak(size_t size)
{
    std::string doc = "<a>" + std::string(size, 'x') + "</a>";
    Recorder r;
    EXPECT_TRUE(parseDocument(doc.data(), doc.size(), &r, {}).ok());
    return lastParsePeakBytes();
}

TEST(XmlParserHostile, EntityDeclarationsAndExternalReferencesAreRefused)
{
    struct Case {
        const char* name;
        std::string doc;
        Events events;
    } cases[] = {
        { "billion laughs in content", billionLaughs("<lolz>&lol9;</lolz>"), {} },
        { "billion laughs in an attribute", billionLaughs("<lolz v='&lol9;'/>"), {} },
        { "external entity",
            "<!-- before --><!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><x>&e;</x>",
            { "comment: before " } },
        { "external parameter entity",
            "<!DOCTYPE x [<!ENTITY % p SYSTEM 'file:///etc/passwd'> %p;]><x/>", {} },
        { "one harmless internal entity", "<!DOCTYPE x [<!ENTITY e 'text'>]><x>&e;</x>", {} },
        { "external subset", "<!DOCTYPE x SYSTEM 'file:///etc/passwd'><x a='1&e;2'>&e;</x>", {} },
        { "undeclared parameter entity", "<!DOCTYPE x [%p;]><x/>", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = parse(c.doc);
        EXPECT_EQ(r.status.outcome, ParseOutcome::Refused) << r.status.text;
        EXPECT_EQ(r.events, c.events);
        // Refusal happens before anything is expanded: the parser never needs more than
        // it does for a plain document of the same size (plus its small DTD tables),
        // while a single expanded lol9 would need 3 GB, and even lol4 30 KiB per use.
        EXPECT_LE(lastParsePeakBytes(), baselinePeak(c.doc.size()) + 16 * 1024);
        EXPECT_FALSE(parsePublic(c.doc));
    }
}

TEST(XmlParserHostile, StandaloneDocumentTypeIsReadWithoutItsSubset)
{
    // Nothing can depend on an unread subset here, so the document is delivered.
    Result r = parse("<?xml version='1.0' standalone='yes'?>"
                     "<!DOCTYPE x SYSTEM 'file:///etc/passwd' [<!ATTLIST x d CDATA 'dv'>]><x/>");
    EXPECT_TRUE(r.status.ok()) << r.status.text;
    EXPECT_EQ(r.events, (Events { "<x d='dv'>", "</x>" }));
}

TEST(XmlParserHostile, MemoryStaysFlatForLargeDocuments)
{
    EXPECT_LT(baselinePeak(100), 16u * 1024); // the fixed parser state, about 8 KiB
    // expat copies what it is fed; fed 64 KiB at a time its buffer stays within a few
    // pieces (about 200 KiB measured from 200 KB to 16 MB), not the document's size.
    EXPECT_LT(baselinePeak(4 * 1024 * 1024), 256u * 1024);
}

} // namespace
} // namespace vornexpat
