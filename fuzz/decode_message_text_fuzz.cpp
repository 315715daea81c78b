// Arbitrary bytes as a message text, as base64 of a text, or as a compressed part:
// decoding must stay inside its input, ask for no inflation buffer beyond the bounded
// retries, and give either null (html false) or a NUL-terminated text. A text that
// this target compresses itself must come back unchanged, or be refused when it
// inflates to more than the largest buffer holds.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/responses/biz_utils.h"

namespace {

void expect(bool ok)
{
    if (!ok)
        std::abort();
}

std::string base64(const std::string& bytes)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (n > 1)
            v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (n > 2)
            v |= uint8_t(bytes[i + 2]);
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(n > 1 ? alphabet[(v >> 6) & 63] : '=');
        out.push_back(n > 2 ? alphabet[v & 63] : '=');
    }
    return out;
}

std::string compressed(const std::string& bytes, int level)
{
    uLongf size = compressBound(uLong(bytes.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                  uLong(bytes.size()), level) != Z_OK)
        std::abort();
    out.resize(size);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string text;
    bool roundTrip = false;
    switch (data[0] % 4) {
    case 0: // the bytes as they are
        text = rest;
        break;
    case 1: // base64 of the bytes
        text = "<BASE64-DATA>" + base64(rest) + "</BASE64-DATA>";
        break;
    case 2: // the bytes as a compressed part
        text = "<BASE64-DATA>" + base64("<DEFLATE-DATA>" + rest + "</DEFLATE-DATA>") + "</BASE64-DATA>";
        break;
    default: // the bytes compressed here
        text = "<BASE64-DATA>" + base64("<DEFLATE-DATA>" + compressed(rest, data[0] % 10) + "</DEFLATE-DATA>") +
               "</BASE64-DATA>";
        roundTrip = rest.find('<') == std::string::npos;
        break;
    }
    // An exact-size copy, so that the sanitizer sees a read one byte past the end.
    std::vector<char> input(text.begin(), text.end());
    input.push_back('\0');
    const size_t length = std::strlen(input.data());

    zel::MessageTableTextFieldDecoder decoder;
    std::string out;
    bool html = true;
    const bool ok = decoder.decode(input.data(), out, html);
    expect(ok || (!html && out.empty()));
    const std::vector<size_t>& sizes = decoder.inflateBufferSizes();
    expect(sizes.size() <= size_t(zel::MessageTableTextFieldDecoder::kInflateAttempts));
    for (size_t s : sizes)
        expect(s <= 40 * length);
    if (roundTrip) {
        // Back unchanged when it fits the largest buffer; past that, refused.
        const std::string stream = compressed(rest, data[0] % 10);
        if (stream.find("</DEFLATE-DATA>") == std::string::npos)
            expect(rest.size() <= 40 * stream.size() ? ok && !html && out == rest : !ok);
    }

    bool html2 = true;
    const std::unique_ptr<char[]> result = zel::BizUtils::decodeMessageText(input.data(), html2);
    expect((result != nullptr) == ok && html2 == html);
    if (result)
        expect(std::memcmp(result.get(), out.data(), out.size()) == 0 && result[out.size()] == '\0');
    return 0;
}
