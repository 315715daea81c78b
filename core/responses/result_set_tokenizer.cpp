#include "core/responses/result_set_tokenizer.h"

#include <climits>
#include <cstring>
#include <memory>

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
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), m_text, length + 1);
    char* p = copy.get();
    char* const end = p + length;

    // One pass over the bytes: fields are short, so a plain scan beats a memchr per
    // field. The copy ends in a NUL, which stops every scan.
    for (int line = 0; p < end; ++line) {
        if (!callback->onLineBegin(line, p))
            return;
        char* q = p;
        if (*q != '\n') {
            char* field = q;
            for (int number = 0;; ++number) {
                while (*q != ';' && *q != '\n' && *q != '\0')
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
                if (*q == '\n' || *q == '\0')
                    break;
                field = q;
            }
        }
        if (!callback->onLineEnd(line, q))
            return;
        p = q + 1;
    }
    callback->onTokenizeEnd();
}

} // namespace zel
