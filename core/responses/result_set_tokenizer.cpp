#include "core/responses/result_set_tokenizer.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zel {

namespace {

// The separators of a line are marked in one pass before its fields are handed out,
// one bit per byte, so that finding the next field waits on no load.
constexpr size_t kWordBytes = 64;
// Bytes readable past a line's NUL in the working copy: a mark word reads a whole
// 64-byte block, and the block holding the NUL may reach that far past it.
constexpr size_t kScanPadding = kWordBytes;

// Bit i of the result: byte i of the 64-byte block is the character c.
inline uint64_t blockMatches(const char* block, char c)
{
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
        bits |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted)))) << (16 * i);
    }
    return bits;
#else
    uint64_t bits = 0;
    for (size_t i = 0; i < kWordBytes; ++i)
        bits |= uint64_t(block[i] == c) << i;
    return bits;
#endif
}

// Marks the ';' of the line before its first NUL, and that NUL, in marks (one word
// per 64 bytes); returns the NUL's index. The line holds a NUL at its length at the
// latest, and kScanPadding readable bytes after it.
size_t markSeparators(const char* line, size_t length, std::vector<uint64_t>& marks)
{
    const size_t words = length / kWordBytes + 1;
    if (marks.size() < words)
        marks.resize(words);
    for (size_t w = 0;; ++w) {
        const char* block = line + w * kWordBytes;
        const uint64_t semicolons = blockMatches(block, ';');
        const uint64_t nuls = blockMatches(block, '\0');
        if (nuls != 0) {
            const int first = __builtin_ctzll(nuls);
            const uint64_t nulBit = uint64_t{1} << first;
            marks[w] = (semicolons & (nulBit - 1)) | nulBit;
            return w * kWordBytes + size_t(first);
        }
        marks[w] = semicolons;
    }
}

} // namespace

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
    std::vector<char> buffer;
    std::vector<uint64_t> marks;
    const char* p = m_text;
    const char* const end = p + length;
    for (int line = 0; p < end; ++line) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        const size_t lineLength = size_t(lineEnd - p);
        if (buffer.size() < lineLength + 1 + kScanPadding)
            buffer.resize(lineLength + 1 + kScanPadding);
        char* q = buffer.data();
        std::memcpy(q, p, lineLength);
        q[lineLength] = '\0';
        if (!callback->onLineBegin(line, q))
            return;
        size_t stop = 0;
        if (lineLength != 0) {
            // Marked after onLineBegin: a NUL it wrote into the copy ends the line there.
            stop = markSeparators(q, lineLength, marks);
            size_t field = 0;
            int number = 0;
            for (size_t w = 0, done = 0; !done; ++w) {
                for (uint64_t bits = marks[w]; bits != 0; bits &= bits - 1) {
                    const size_t at = w * kWordBytes + size_t(__builtin_ctzll(bits));
                    const char separator = q[at];
                    q[at] = '\0';
                    const bool goOn = callback->onNextField(line, number, q + field, at - field);
                    q[at] = separator;
                    if (!goOn)
                        return;
                    // A ';' right before the line feed or the end opens no further field.
                    if (at == stop || at + 1 == stop) {
                        done = 1;
                        break;
                    }
                    field = at + 1;
                    ++number;
                }
            }
        }
        if (!callback->onLineEnd(line, q + stop))
            return;
        p = lineEnd + 1;
    }
    callback->onTokenizeEnd();
}

} // namespace zel
