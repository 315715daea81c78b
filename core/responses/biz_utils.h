#pragma once
// The decoding of message texts. A server may wrap a message's text in up to three
// tags, outermost first: "<BASE64-DATA>" (base64 of what follows), "<DEFLATE-DATA>"
// (a zlib stream) and "<HTML-DATA>" (an HTML fragment, marked as such to the reader).
//
// [Threading] Stateless and reentrant: any thread, no lock.
// [Exceptions] Nothing throws; a buffer that cannot be had fails the decoding.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

// One decoding, with the sizes of the inflation buffers it asked for kept so that a
// test can see that a hostile stream never gets more than the bounded retries allow.
class MessageTableTextFieldDecoder {
public:
    // The buffer of the first inflation holds this many times the compressed length;
    // each retry doubles it, for this many attempts in all.
    static constexpr size_t kInflateFactor = 10;
    static constexpr int kInflateAttempts = 3;

    // Decodes the text into out; html tells whether an "HTML-DATA" tag was taken.
    // False (html false, out empty) for a null text, bad base64, or a compressed part
    // that does not inflate within the bounded retries.
    bool decode(const char* text, std::string& out, bool& html);

    // The size of every inflation buffer that decode asked for, in order.
    const std::vector<size_t>& inflateBufferSizes() const { return m_inflateSizes; }

private:
    bool inflate(std::string_view compressed, std::string& out);

    std::vector<size_t> m_inflateSizes;
};

class BizUtils {
public:
    BizUtils() = delete;

    // Returns the decoded text as a new NUL-terminated text that the caller owns, or
    // null when the text is null or cannot be decoded; html is set when the text was
    // an HTML fragment. A decoded text may hold a NUL of its own, where a reader of
    // the C string sees it end.
    static std::unique_ptr<char[]> decodeMessageText(const char* text, bool& html);

    // The "Text" a message row stores: the decoded text, or "" when it cannot be
    // decoded (html then false).
    static std::string decodeMessageTextField(const char* text, bool& html);
};

} // namespace zel
