// XmlParser over arbitrary bytes. Beyond "never crashes, never throws", each input is
// checked for: balanced, well-nested events on success; the same document whatever
// the chunking; a stop that delivers exactly the events before it (a throwing
// handler, a memory limit); and parser memory that stays linear in the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "../vornexpat/src/xml_parser_internal.h"

namespace {

using vornexpat::ParseLimits;
using vornexpat::ParseOutcome;
using vornexpat::ParseStatus;

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fuzzFailure(#cond, __LINE__);                                                          \
    } while (0)

[[noreturn]] void fuzzFailure(const char* what, int line)
{
    std::fprintf(stderr, "xml_parser_fuzz: check failed at line %d: %s\n", line, what);
    std::abort();
}

class Recorder : public IXmlParserHandler {
public:
    std::vector<std::string> raw; // one entry per call
    std::vector<std::string> joined; // adjacent character data joined
    std::size_t throwAt = SIZE_MAX; // throws on this call (0-based)
    bool seenElement = false;
    std::vector<std::string> open;
    std::multiset<std::string> scopes;
    bool inCdata = false;

    bool balanced() const { return open.empty() && scopes.empty() && !inCdata; }

    void characters(const char* text, int start, int length) override
    {
        FUZZ_CHECK(text && start == 0 && length >= 0);
        std::string t(text + start, static_cast<std::size_t>(length));
        if (joined.empty() || joined.back().compare(0, 1, "T") != 0)
            joined.push_back("T");
        joined.back() += t;
        add("T" + t, false);
    }
    void startElement(const char* name, const char** attrs) override
    {
        FUZZ_CHECK(name && *name && attrs);
        std::string e = std::string("<") + name;
        for (; *attrs; attrs += 2) {
            FUZZ_CHECK(attrs[1] && *attrs[0]);
            e += std::string(" ") + attrs[0] + "=" + attrs[1];
        }
        open.push_back(name);
        seenElement = true;
        add(e, true);
    }
    void endElement(const char* name) override
    {
        FUZZ_CHECK(name && !open.empty() && open.back() == name);
        open.pop_back();
        add(std::string("</") + name, true);
    }
    void comment(const char* text, int start, int length) override
    {
        FUZZ_CHECK(text && start == 0 && length >= 0);
        add("C" + std::string(text + start, static_cast<std::size_t>(length)), true);
    }
    void startCDATA() override
    {
        FUZZ_CHECK(!inCdata);
        inCdata = true;
        add("[", true);
    }
    void endCDATA() override
    {
        FUZZ_CHECK(inCdata);
        inCdata = false;
        add("]", true);
    }
    void processingInstruction(const char* target, const char* data) override
    {
        FUZZ_CHECK(target && *target && data);
        add(std::string("?") + target + " " + data, true);
    }
    void startNamespace(const char* prefix, const char* uri) override
    {
        FUZZ_CHECK(prefix && uri);
        scopes.insert(prefix);
        add(std::string("+") + prefix + "=" + uri, true);
    }
    void endNamespace(const char* prefix) override
    {
        FUZZ_CHECK(prefix);
        auto it = scopes.find(prefix);
        FUZZ_CHECK(it != scopes.end());
        scopes.erase(it);
        add(std::string("-") + prefix, true);
    }

private:
    void add(std::string e, bool own)
    {
        if (own)
            joined.push_back(e);
        raw.push_back(std::move(e));
        if (raw.size() - 1 == throwAt)
            throw std::runtime_error("fuzz handler failure");
    }
};

bool isPrefix(const std::vector<std::string>& part, const std::vector<std::string>& whole)
{
    if (part.size() > whole.size())
        return false;
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] != whole[i])
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* doc = reinterpret_cast<const char*>(data);
    const std::size_t seed = size ? data[size - 1] : 0;

    Recorder whole;
    const ParseStatus first = vornexpat::parseDocument(doc, size, &whole, ParseLimits {});
    const std::size_t peak = vornexpat::lastParsePeakBytes();
    FUZZ_CHECK(first.outcome != ParseOutcome::NullArgument);
    FUZZ_CHECK(first.outcome != ParseOutcome::HandlerThrew);
    FUZZ_CHECK(first.outcome != ParseOutcome::OutOfMemory);
    if (first.ok())
        FUZZ_CHECK(whole.balanced() && whole.seenElement);
    // The largest figure measured is about 20 bytes per input byte (deep nesting).
    FUZZ_CHECK(peak <= 64 * 1024 + 64 * size);

    // The document does not depend on how it is fed.
    Recorder chunked;
    ParseLimits small;
    small.chunkSize = 1 + seed % 13;
    const ParseStatus second = vornexpat::parseDocument(doc, size, &chunked, small);
    FUZZ_CHECK(second.ok() == first.ok());
    if (first.ok())
        FUZZ_CHECK(chunked.joined == whole.joined);

    // A handler that throws on call k sees calls 0 to k and nothing after.
    if (!whole.raw.empty()) {
        Recorder thrower;
        thrower.throwAt = seed % whole.raw.size();
        const ParseStatus third = vornexpat::parseDocument(doc, size, &thrower, ParseLimits {});
        FUZZ_CHECK(third.outcome == ParseOutcome::HandlerThrew);
        FUZZ_CHECK(thrower.raw.size() == thrower.throwAt + 1);
        FUZZ_CHECK(isPrefix(thrower.raw, whole.raw));
    }

    // Under a memory limit the parse fails cleanly, after a prefix of the events.
    if (peak > 0) {
        Recorder starved;
        ParseLimits tight;
        tight.allocationLimit = peak * (seed % 8) / 8;
        const ParseStatus fourth = vornexpat::parseDocument(doc, size, &starved, tight);
        FUZZ_CHECK(!fourth.ok());
        FUZZ_CHECK(vornexpat::lastParsePeakBytes() <= tight.allocationLimit);
        // The last text may have been cut short before the failure.
        std::vector<std::string> got = starved.raw;
        if (!got.empty() && got.back()[0] == 'T' && got.size() <= whole.raw.size()) {
            const std::string& full = whole.raw[got.size() - 1];
            FUZZ_CHECK(full.compare(0, got.back().size(), got.back()) == 0);
            got.pop_back();
        }
        FUZZ_CHECK(isPrefix(got, whole.raw));
    }
    return 0;
}
