#include "core/responses/biz_utils.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace zel {
namespace {

struct Tag {
    std::string_view start;
    std::string_view end;
};

constexpr Tag kBase64Tag{"<BASE64-DATA>", "</BASE64-DATA>"};
constexpr Tag kDeflateTag{"<DEFLATE-DATA>", "</DEFLATE-DATA>"};
constexpr Tag kHtmlTag{"<HTML-DATA>", "</HTML-DATA>"};

// The content between the first start text and the first end text after it. An end
// text that stands before the start bounds nothing, so it is not taken as the end.
bool findTag(std::string_view text, const Tag& tag, std::string_view& content)
{
    if (text.size() < 2 * tag.start.size() + 1)
        return false;
    const size_t start = text.find(tag.start);
    if (start == std::string_view::npos)
        return false;
    const size_t from = start + tag.start.size();
    const size_t end = text.find(tag.end, from);
    if (end == std::string_view::npos)
        return false;
    content = text.substr(from, end - from);
    return true;
}

constexpr int8_t kSkip = -1;
constexpr int8_t kPad = -2;

struct Base64Table {
    int8_t value[256];
    constexpr Base64Table() : value()
    {
        constexpr const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 256; ++i)
            value[i] = kSkip;
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(alphabet[i])] = int8_t(i);
        value[static_cast<unsigned char>('=')] = kPad;
    }
};
constexpr Base64Table kBase64;

// Base64 as RFC 4648 reads it, skipping every character outside the alphabet. The
// significant characters (alphabet and '=') must come in groups of four, and '='
// may only close the last group, once or twice.
bool decodeBase64(std::string_view in, std::string& out)
{
    out.clear();
    out.reserve(in.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    int pads = 0;
    bool closed = false;
    for (const char c : in) {
        const int8_t v = kBase64.value[static_cast<unsigned char>(c)];
        if (v == kSkip)
            continue;
        if (closed)
            return false;
        if (v == kPad) {
            if (count < 2)
                return false;
            ++pads;
            bits <<= 6;
        } else {
            if (pads > 0)
                return false;
            bits = (bits << 6) | uint32_t(v);
        }
        if (++count < 4)
            continue;
        out.push_back(char(bits >> 16));
        if (pads < 2)
            out.push_back(char((bits >> 8) & 0xFF));
        if (pads < 1)
            out.push_back(char(bits & 0xFF));
        closed = pads > 0;
        bits = 0;
        count = 0;
    }
    return count == 0;
}

} // namespace

// One-shot inflation into a buffer proportional to the compressed length, doubled
// while zlib reports it full: the largest buffer is bounded by the input, whatever
// the stream claims to hold.
bool MessageTableTextFieldDecoder::inflate(std::string_view compressed, std::string& out)
{
    constexpr size_t kLargest = kInflateFactor << (kInflateAttempts - 1);
    const size_t length = compressed.size();
    if (length > std::numeric_limits<uLong>::max() / kLargest || length > SIZE_MAX / kLargest)
        return false;
    size_t size = length * kInflateFactor;
    for (int attempt = 0; attempt < kInflateAttempts; ++attempt, size *= 2) {
        m_inflateSizes.push_back(size);
        std::unique_ptr<Bytef[]> buffer(new (std::nothrow) Bytef[size]);
        if (!buffer)
            return false;
        uLongf produced = uLongf(size);
        const int rc =
            uncompress(buffer.get(), &produced, reinterpret_cast<const Bytef*>(compressed.data()), uLong(length));
        if (rc == Z_OK) {
            out.assign(reinterpret_cast<const char*>(buffer.get()), size_t(produced));
            return true;
        }
        if (rc != Z_BUF_ERROR)
            return false;
    }
    return false;
}

bool MessageTableTextFieldDecoder::decode(const char* text, std::string& out, bool& html)
{
    html = false;
    out.clear();
    m_inflateSizes.clear();
    if (!text)
        return false;
    try {
        std::string_view current(text);
        std::string_view content;
        std::string decoded;
        if (findTag(current, kBase64Tag, content)) {
            if (!decodeBase64(content, decoded))
                return false;
            current = decoded;
        }
        std::string inflated;
        if (findTag(current, kDeflateTag, content)) {
            if (!inflate(content, inflated))
                return false;
            current = inflated;
        }
        bool fragment = false;
        if (findTag(current, kHtmlTag, content)) {
            fragment = true;
            current = content;
        }
        out.assign(current);
        html = fragment;
        return true;
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
}

std::unique_ptr<char[]> BizUtils::decodeMessageText(const char* text, bool& html)
{
    MessageTableTextFieldDecoder decoder;
    std::string decoded;
    if (!decoder.decode(text, decoded, html))
        return nullptr;
    std::unique_ptr<char[]> result(new (std::nothrow) char[decoded.size() + 1]);
    if (!result) {
        html = false;
        return nullptr;
    }
    std::memcpy(result.get(), decoded.data(), decoded.size());
    result[decoded.size()] = '\0';
    return result;
}

std::string BizUtils::decodeMessageTextField(const char* text, bool& html)
{
    MessageTableTextFieldDecoder decoder;
    std::string decoded;
    decoder.decode(text, decoded, html);
    return decoded;
}

} // namespace zel
