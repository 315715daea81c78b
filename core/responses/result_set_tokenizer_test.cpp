#include "core/responses/result_set_tokenizer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zel {
namespace {

// Writes every callback as one word: "B" begin, "E" end, "<n" and ">n" line n begins
// and ends, "n.k=text" field k of line n. Returns false at the call numbered stopAt.
class Trace : public ITokenizerCallback {
public:
    explicit Trace(int stopAt = -1) : m_stopAt(stopAt) {}

    bool onTokenizeBegin() override { return note("B"); }
    void onTokenizeEnd() override { note("E"); }
    bool onLineBegin(int line) override { return note("<" + std::to_string(line)); }
    bool onLineEnd(int line) override { return note(">" + std::to_string(line)); }
    bool onNextField(int line, int field, const char* text) override
    {
        return note(std::to_string(line) + "." + std::to_string(field) + "=" + text);
    }

    std::string joined() const
    {
        std::string out;
        for (const std::string& w : words)
            out += (out.empty() ? "" : " ") + w;
        return out;
    }

    std::vector<std::string> words;

private:
    bool note(std::string word)
    {
        words.push_back(std::move(word));
        return int(words.size()) - 1 != m_stopAt;
    }
    int m_stopAt;
};

std::string trace(const char* text)
{
    Trace t;
    CResultSetTokenizer(text).tokenize(&t);
    return t.joined();
}

TEST(ResultSetTokenizer, CallbackSequences)
{
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"0\nA;B\n", "B <0 0.0=0 >0 <1 1.0=A 1.1=B >1 E"},
        // No line feed after the last line: the same sequence.
        {"0\nA;B", "B <0 0.0=0 >0 <1 1.0=A 1.1=B >1 E"},
        // Two line feeds: line 1 is empty and has no field.
        {"0\n\n", "B <0 0.0=0 >0 <1 >1 E"},
        {"0\n\n\nX", "B <0 0.0=0 >0 <1 >1 <2 >2 <3 3.0=X >3 E"},
        {"\n", "B <0 >0 E"},
        {"", "B E"},
        // Empty fields: inside, at the start, but never after a closing ';'.
        {"A;;B", "B <0 0.0=A 0.1= 0.2=B >0 E"},
        {";A", "B <0 0.0= 0.1=A >0 E"},
        {"A;B;\nC;", "B <0 0.0=A 0.1=B >0 <1 1.0=C >1 E"},
        {";", "B <0 0.0= >0 E"},
        {";;", "B <0 0.0= 0.1= >0 E"},
        {";;\n;", "B <0 0.0= 0.1= >0 <1 1.0= >1 E"},
        // A carriage return is data: it stays in the last field of its line.
        {"0;ok\r\nA\r", "B <0 0.0=0 0.1=ok\r >0 <1 1.0=A\r >1 E"},
        {"\r", "B <0 0.0=\r >0 E"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trace(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ResultSetTokenizer, NullTextIsEmptyAndNullCallbackDoesNothing)
{
    EXPECT_EQ(trace(nullptr), "B E");
    CResultSetTokenizer("0\nA").tokenize(nullptr);
}

// A false from any callback ends the walk at once: no later callback, no end.
TEST(ResultSetTokenizer, StopsAtOnceWhenTheCallbackSaysSo)
{
    const char* text = "0;s\nA;;B\n\nC";
    Trace full;
    CResultSetTokenizer(text).tokenize(&full);
    ASSERT_EQ(full.joined(), "B <0 0.0=0 0.1=s >0 <1 1.0=A 1.1= 1.2=B >1 <2 >2 <3 3.0=C >3 E");
    // Every call but the end (which cannot stop anything) in turn.
    for (size_t stopAt = 0; stopAt + 1 < full.words.size(); ++stopAt) {
        Trace t{int(stopAt)};
        CResultSetTokenizer(text).tokenize(&t);
        std::vector<std::string> expected(full.words.begin(), full.words.begin() + long(stopAt) + 1);
        EXPECT_EQ(t.words, expected) << "stopped at " << full.words[stopAt];
    }
}

// Fields, lengths and positions as a parser sees them through the forms the
// tokenizer calls; the caller's text stays whole even while callbacks run.
class Positions : public ITokenizerCallback {
public:
    explicit Positions(const char* source) : m_source(source), m_pristine(source) {}

    bool onLineBegin(int line, char* position) override
    {
        m_lineStart = position;
        starts.emplace_back(position);
        sourceWhole = sourceWhole && m_pristine == m_source;
        return true;
    }
    bool onNextField(int line, int field, const char* text, size_t length) override
    {
        lengthsAgree = lengthsAgree && std::strlen(text) == length;
        sourceWhole = sourceWhole && m_pristine == m_source;
        return true;
    }
    bool onLineEnd(int line, char* position) override
    {
        // Separators are back in place: the whole line can be read again here.
        lines.emplace_back(m_lineStart, size_t(position - m_lineStart));
        ends.push_back(*position);
        return true;
    }

    std::vector<std::string> starts, lines;
    std::vector<char> ends;
    bool lengthsAgree = true;
    bool sourceWhole = true;

private:
    const char* m_source;
    const std::string m_pristine;
    const char* m_lineStart = nullptr;
};

TEST(ResultSetTokenizer, PositionsLengthsAndTheSourceText)
{
    std::string source = "0;x\nAB;;C\n\nlast;";
    Positions p(source.c_str());
    CResultSetTokenizer(source.c_str()).tokenize(&p);
    // Each position shows the line alone, ended by a NUL in the working copy.
    EXPECT_EQ(p.starts, (std::vector<std::string>{"0;x", "AB;;C", "", "last;"}));
    EXPECT_EQ(p.lines, (std::vector<std::string>{"0;x", "AB;;C", "", "last;"}));
    EXPECT_EQ(p.ends, (std::vector<char>{'\0', '\0', '\0', '\0'}));
    EXPECT_TRUE(p.lengthsAgree);
    EXPECT_TRUE(p.sourceWhole);
    EXPECT_EQ(source, "0;x\nAB;;C\n\nlast;");
}

// Callbacks may walk another text, or the same one, from inside their own calls; and
// a literal (read-only memory) is a valid source.
class Nested : public ITokenizerCallback {
public:
    explicit Nested(const char* inner) : m_inner(inner) {}
    bool onNextField(int line, int field, const char* text) override
    {
        Trace t;
        CResultSetTokenizer(m_inner).tokenize(&t);
        inner.push_back(t.joined());
        return true;
    }
    std::vector<std::string> inner;

private:
    const char* m_inner;
};

TEST(ResultSetTokenizer, NestedWalksOverTheSameText)
{
    static const char* const kText = "a;b\nc";
    Nested n(kText);
    CResultSetTokenizer(kText).tokenize(&n);
    ASSERT_EQ(n.inner.size(), 3u);
    for (const std::string& s : n.inner)
        EXPECT_EQ(s, "B <0 0.0=a 0.1=b >0 <1 1.0=c >1 E");
}

TEST(ResultSetTokenizer, NumbersManyLinesAndFields)
{
    std::string text = "0\n";
    for (int i = 1; i <= 5000; ++i)
        text += std::to_string(i) + ";" + std::string(size_t(i % 7), ';') + "x\n";
    struct Check : ITokenizerCallback {
        bool onLineBegin(int line) override
        {
            ok = ok && line == lines;
            return true;
        }
        bool onNextField(int line, int field, const char* text) override
        {
            if (line > 0 && field == 0)
                ok = ok && std::to_string(line) == text;
            if (line > 0 && field == line % 7 + 1)
                ok = ok && std::strcmp(text, "x") == 0;
            ok = ok && field <= (line == 0 ? 0 : line % 7 + 1);
            ++fields;
            return true;
        }
        bool onLineEnd(int line) override
        {
            ++lines;
            return true;
        }
        int lines = 0;
        long fields = 0;
        bool ok = true;
    } check;
    CResultSetTokenizer(text.c_str()).tokenize(&check);
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(check.lines, 5001);
    long expectedFields = 1;
    for (int i = 1; i <= 5000; ++i)
        expectedFields += i % 7 + 2;
    EXPECT_EQ(check.fields, expectedFields);
}

// The documented rules spelled out plainly, as the trace a walk must give.
std::string referenceTrace(const std::string& text)
{
    std::string out = "B";
    int line = 0;
    for (size_t p = 0; p < text.size(); ++line) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos)
            e = text.size();
        const std::string l = text.substr(p, e - p);
        out += " <" + std::to_string(line);
        std::vector<std::string> fields;
        for (size_t f = 0; !l.empty();) {
            const size_t s = l.find(';', f);
            fields.push_back(l.substr(f, s == std::string::npos ? std::string::npos : s - f));
            if (s == std::string::npos || s + 1 == l.size())
                break;
            f = s + 1;
        }
        for (size_t k = 0; k < fields.size(); ++k)
            out += " " + std::to_string(line) + "." + std::to_string(k) + "=" + fields[k];
        out += " >" + std::to_string(line);
        p = e + 1;
    }
    return out + " E";
}

// Lines of every length around the scan's block edges, separators anywhere and in
// runs, long lines before short ones in the reused buffer: the same fields as the
// rules give.
TEST(ResultSetTokenizer, LinesOfAnyLengthSplitAsTheRulesSay)
{
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const std::string alphabet = "abXY09.-\r ";
    std::vector<std::string> lines;
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(15), size_t(16), size_t(17), size_t(62),
                     size_t(63), size_t(64), size_t(65), size_t(66), size_t(127), size_t(128), size_t(129),
                     size_t(170), size_t(191), size_t(192), size_t(193), size_t(1000), size_t(5000)}) {
        for (int variant = 0; variant < 4; ++variant) {
            std::string l;
            for (size_t i = 0; i < n; ++i)
                l += variant == 3 ? ';' : (next() % (variant + 2) == 0 ? ';' : alphabet[next() % alphabet.size()]);
            lines.push_back(l);
        }
    }
    // A separator on each side of a block edge, then a short line after the long ones.
    lines.push_back(std::string(63, 'a') + ";" + std::string(64, 'b') + ";c");
    lines.push_back(std::string(64, 'a') + ";");
    lines.push_back(std::string(5000, ';'));
    lines.push_back("x");
    lines.push_back("");
    lines.push_back("y;");
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    EXPECT_EQ(trace(text.c_str()), referenceTrace(text));
    text.pop_back();  // no line feed after the last line
    EXPECT_EQ(trace(text.c_str()), referenceTrace(text));
}

} // namespace
} // namespace zel
