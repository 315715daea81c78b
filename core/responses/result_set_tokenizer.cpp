#include "core/responses/result_set_tokenizer.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace zel {

CResultSetTokenizer::CResultSetTokenizer(const char* text) noexcept : m_text(text ? text : "") {}

void CResultSetTokenizer::tokenize(ITokenizerCallback* callback) const
{
    if (!callback || !callback->onTokenizeBegin())
        return;
    const size_t length = std::strlen(m_text);
    if (length == 0 || length >= size_t(INT_MAX)) {
        callback->onTokenizeEnd();
        return;
    }

    // The caller's text may be shared (a response read by several readers at once, a
    // literal), so fields are terminated in a private copy and never in the source.
    // The copy is one line at a time in a buffer reused for every line: it stays in
    // the cache, and a large answer costs no second allocation of its size.
    std::string buffer;
    const char* p = m_text;
    const char* const end = p + length;
    for (int line = 0; p < end; ++line) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        buffer.assign(p, lineEnd);
        char* q = &buffer[0];
        if (!callback->onLineBegin(line, q))
            return;
        if (!buffer.empty()) {
            // The line ends in the buffer's NUL, which stops every scan; fields are
            // short, so a plain scan beats a memchr per field.
            char* field = q;
            for (int number = 0;; ++number) {
                while (*q != ';' && *q != '\0')
                    ++q;
                const char separator = *q;
                *q = '\0';
                const bool goOn = callback->onNextField(line, number, field, size_t(q - field));
                *q = separator;
                if (!goOn)
                    return;
                if (separator != ';')
                    break;
                // A ';' right before the line feed or the end opens no further field.
                ++q;
                if (*q == '\0')
                    break;
                field = q;
            }
        }
        if (!callback->onLineEnd(line, q))
            return;
        p = lineEnd + 1;
    }
    callback->onTokenizeEnd();
}

} // namespace zel
