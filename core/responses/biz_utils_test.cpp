#include "core/responses/biz_utils.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zel {
namespace {

// An exactly sized heap copy, so that the sanitizer sees a read one byte past the end.
std::unique_ptr<char[]> exactCopy(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

std::string fromHex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string base64(const std::string& bytes)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6)
            out.push_back(alphabet[(v >> s) & 63]);
    }
    if (i < bytes.size()) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

struct FileCase {
    std::string name;
    bool isNull;
    bool html;
    size_t inflations;
    std::string text;
    std::string expected;
};

std::vector<FileCase> loadCases()
{
    std::ifstream in(PELLORA_TESTDATA "/responses/decoding_cases.tsv");
    std::vector<FileCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name, html, inflations, text, expected;
        std::getline(fields, name, '\t');
        std::getline(fields, html, '\t');
        std::getline(fields, inflations, '\t');
        std::getline(fields, text, '\t');
        std::getline(fields, expected, '\t');
        cases.push_back({name, html == "-", html == "1", size_t(std::stoul(inflations)), fromHex(text),
                         expected == "-" ? std::string() : fromHex(expected)});
    }
    return cases;
}

// Texts encoded by Python's base64 and zlib modules (testdata/responses/), decoded
// here: the result, the HTML flag, and how many inflation buffers it took.
TEST(DecodeMessageText, TextsEncodedByPython)
{
    const std::vector<FileCase> cases = loadCases();
    ASSERT_GE(cases.size(), 20u) << "decoding_cases.tsv missing or short";
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<char[]> input = exactCopy(c.text);
        bool html = !c.html;
        const std::unique_ptr<char[]> result = BizUtils::decodeMessageText(input.get(), html);
        if (c.isNull) {
            EXPECT_EQ(result, nullptr);
            EXPECT_FALSE(html);
        } else {
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(std::string(result.get()), c.expected);
            EXPECT_EQ(html, c.html);
        }

        MessageTableTextFieldDecoder decoder;
        std::string out;
        decoder.decode(input.get(), out, html);
        const std::vector<size_t>& sizes = decoder.inflateBufferSizes();
        EXPECT_EQ(sizes.size(), c.inflations);
        for (size_t i = 1; i < sizes.size(); ++i)
            EXPECT_EQ(sizes[i], 2 * sizes[i - 1]);
    }
}

TEST(DecodeMessageText, TagsAndTheirBounds)
{
    struct Case {
        const char* text;
        const char* expected;
        bool html;
    } cases[] = {
        {"", "", false},
        {"no tags at all", "no tags at all", false},
        // The shortest texts that can hold a tag: start and end with nothing between.
        {"<HTML-DATA></HTML-DATA>", "", true},
        {"<BASE64-DATA></BASE64-DATA>", "", false},
        // Too short to hold both texts: not a tag.
        {"<HTML-DATA>x", "<HTML-DATA>x", false},
        {"<HTML-DATA>", "<HTML-DATA>", false},
        // A start without an end, or an end only before the start, bounds nothing.
        {"<HTML-DATA>no end here at all", "<HTML-DATA>no end here at all", false},
        {"</HTML-DATA> then <HTML-DATA>nothing", "</HTML-DATA> then <HTML-DATA>nothing", false},
        // The end before the start is passed over; the first end after it closes.
        {"</HTML-DATA><HTML-DATA>a</HTML-DATA>b</HTML-DATA>", "a", true},
        // Case matters: the tags are exact texts.
        {"<html-data>x</html-data>", "<html-data>x</html-data>", false},
        // Outside the alphabet is skipped, whether blank, control or other punctuation.
        {"<BASE64-DATA> Q Q\r\n= =\t</BASE64-DATA>", "A", false},
        {"<BASE64-DATA>Q-Q_=!=</BASE64-DATA>", "A", false},
        // Only the first tag of each kind counts.
        {"<HTML-DATA>1</HTML-DATA><HTML-DATA>2</HTML-DATA>", "1", true},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<char[]> input = exactCopy(c.text);
        bool html = !c.html;
        const std::unique_ptr<char[]> result = BizUtils::decodeMessageText(input.get(), html);
        ASSERT_NE(result, nullptr) << c.text;
        EXPECT_STREQ(result.get(), c.expected) << c.text;
        EXPECT_EQ(html, c.html) << c.text;
    }
}

TEST(DecodeMessageText, FailuresGiveNullAndNoHtml)
{
    const char* cases[] = {
        "<BASE64-DATA>Q</BASE64-DATA>",
        "<BASE64-DATA>QQ</BASE64-DATA>",
        "<BASE64-DATA>QQ=</BASE64-DATA>",
        "<BASE64-DATA>Q===</BASE64-DATA>",
        "<BASE64-DATA>====</BASE64-DATA>",
        "<BASE64-DATA>QQ=A</BASE64-DATA>",
        "<BASE64-DATA>QQ==QUFB</BASE64-DATA>",
        "<BASE64-DATA>QUFBQQ==Q</BASE64-DATA>",
        // Not a zlib stream, or nothing to inflate at all.
        "<DEFLATE-DATA>not compressed</DEFLATE-DATA>",
        "<DEFLATE-DATA></DEFLATE-DATA>",
        // A failing inflation fails the whole text, though an HTML tag surrounds it.
        "<HTML-DATA><DEFLATE-DATA>junk</DEFLATE-DATA></HTML-DATA>",
    };
    for (const char* text : cases) {
        const std::unique_ptr<char[]> input = exactCopy(text);
        bool html = true;
        EXPECT_EQ(BizUtils::decodeMessageText(input.get(), html), nullptr) << text;
        EXPECT_FALSE(html) << text;
        html = true;
        EXPECT_EQ(BizUtils::decodeMessageTextField(input.get(), html), "") << text;
        EXPECT_FALSE(html) << text;
    }
    bool html = true;
    EXPECT_EQ(BizUtils::decodeMessageText(nullptr, html), nullptr);
    EXPECT_FALSE(html);
    html = true;
    EXPECT_EQ(BizUtils::decodeMessageTextField(nullptr, html), "");
    EXPECT_FALSE(html);
}

TEST(DecodeMessageText, FieldHoldsTheDecodedText)
{
    bool html = false;
    EXPECT_EQ(BizUtils::decodeMessageTextField("<BASE64-DATA>PEhUTUwtREFUQT48Yj5oaTwvYj48L0hUTUwtREFUQT4=</BASE64-DATA>",
                                                html),
              "<b>hi</b>");
    EXPECT_TRUE(html);
}

// A zlib stream of 1 GiB of zeros: about a thousandth of that on the wire. The
// decoder gives up after three buffers of 10, 20 and 40 times the stream's length,
// and never asks for more.
std::string deflatedZeros(size_t total)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit(&zs, Z_BEST_COMPRESSION), Z_OK);
    const std::vector<unsigned char> zeros(1 << 20, 0);
    std::string out;
    std::vector<unsigned char> chunk(1 << 16);
    size_t fed = 0;
    int rc = Z_OK;
    do {
        const bool last = fed + zeros.size() >= total;
        zs.next_in = const_cast<unsigned char*>(zeros.data());
        zs.avail_in = uInt(std::min(zeros.size(), total - fed));
        fed += zs.avail_in;
        do {
            zs.next_out = chunk.data();
            zs.avail_out = uInt(chunk.size());
            rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - zs.avail_out);
        } while (zs.avail_out == 0);
    } while (fed < total);
    EXPECT_EQ(rc, Z_STREAM_END);
    deflateEnd(&zs);
    return out;
}

TEST(DecodeMessageText, InflationBombStaysWithinTheBoundedRetries)
{
    const size_t kGiB = size_t(1) << 30;
    const std::string stream = deflatedZeros(kGiB);
    ASSERT_LT(stream.size(), kGiB / 500);
    const std::string text = "<BASE64-DATA>" + base64("<DEFLATE-DATA>" + stream + "</DEFLATE-DATA>") + "</BASE64-DATA>";

    MessageTableTextFieldDecoder decoder;
    std::string out;
    bool html = true;
    EXPECT_FALSE(decoder.decode(text.c_str(), out, html));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(html);
    ASSERT_EQ(stream.find("</DEFLATE-DATA>"), std::string::npos);
    const std::vector<size_t> expected{10 * stream.size(), 20 * stream.size(), 40 * stream.size()};
    EXPECT_EQ(decoder.inflateBufferSizes(), expected);
    const std::vector<size_t>& sizes = decoder.inflateBufferSizes();
    EXPECT_LT(sizes[2], kGiB / 10);

    EXPECT_EQ(BizUtils::decodeMessageText(text.c_str(), html), nullptr);
}

} // namespace
} // namespace zel
