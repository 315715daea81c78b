// Arbitrary bytes as a result set: the tokenizer must stay inside the text, never
// write into it, and call back in order. The first byte picks the call that answers
// false, after which nothing more may be called.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/responses/result_set_tokenizer.h"

namespace {

class Checker : public zel::ITokenizerCallback {
public:
    Checker(const char* text, int stopAt) : m_text(text), m_stopAt(stopAt) {}

    bool onTokenizeBegin() override
    {
        expect(m_calls == 0);
        return step();
    }
    void onTokenizeEnd() override
    {
        expect(!m_inLine && !m_stopped && !m_ended);
        m_ended = true;
        // Lines rebuilt from the positions, joined by line feeds, give the text back.
        std::string rebuilt;
        for (size_t i = 0; i < m_lines.size(); ++i)
            rebuilt += (i ? "\n" : "") + m_lines[i];
        const std::string text(m_text);
        expect(rebuilt == text || rebuilt + "\n" == text);
    }
    bool onLineBegin(int line, char* position) override
    {
        expect(!m_inLine && line == int(m_lines.size()));
        m_inLine = true;
        m_start = position;
        m_fields.clear();
        return step();
    }
    bool onNextField(int line, int field, const char* text, size_t length) override
    {
        expect(m_inLine && line == int(m_lines.size()) && field == int(m_fields.size()));
        expect(std::strlen(text) == length && !std::memchr(text, ';', length) && !std::memchr(text, '\n', length));
        m_fields.emplace_back(text, length);
        return step();
    }
    bool onLineEnd(int line, char* position) override
    {
        expect(m_inLine && line == int(m_lines.size()) && position >= m_start);
        expect(*position == '\n' || *position == '\0');
        const std::string whole(m_start, size_t(position - m_start));
        // The fields joined by ';' are the line, less one closing ';'.
        std::string joined;
        for (size_t i = 0; i < m_fields.size(); ++i)
            joined += (i ? ";" : "") + m_fields[i];
        expect(whole == joined || whole == joined + ";");
        expect(whole.empty() == m_fields.empty());
        m_lines.push_back(whole);
        m_inLine = false;
        return step();
    }

    bool ended() const { return m_ended; }
    bool stopped() const { return m_stopped; }

private:
    static void expect(bool ok)
    {
        if (!ok)
            std::abort();
    }
    bool step()
    {
        expect(!m_stopped && !m_ended);
        m_stopped = m_calls++ == m_stopAt;
        return !m_stopped;
    }

    const char* m_text;
    int m_stopAt;
    int m_calls = 0;
    bool m_inLine = false;
    bool m_stopped = false;
    bool m_ended = false;
    char* m_start = nullptr;
    std::vector<std::string> m_fields;
    std::vector<std::string> m_lines;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // 0 runs to the end; otherwise stop at one of the first 255 calls.
    const int stopAt = int(data[0]) - 1;
    // An exact-size copy, so that the sanitizer sees a read one byte past the end.
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    const std::vector<char> before = text;

    Checker checker(text.data(), stopAt);
    zel::CResultSetTokenizer(text.data()).tokenize(&checker);
    if (checker.ended() == checker.stopped() || text != before)
        std::abort();
    return 0;
}
