#pragma once
// The walker of the servers' result-set texts: lines separated by a line feed,
// fields within a line separated by ';', no quoting or escaping. Line 0 is the
// status line; every further line is one record. A carriage return is data like any
// other byte (it ends up in the last field of its line).
//
// [Threading] A tokenizer runs on the caller's thread and calls its callback there;
// one tokenizer serves one thread at a time. The source text is only read, so any
// number of tokenizers may walk the same text at once.
// [Locking] None: the callback runs under whatever lock the caller holds.
// [Reentrancy] A callback may start another tokenizer (over any text) from inside
// its callbacks; it must not call tokenize() of the tokenizer that called it.
// [Exceptions] Nothing here throws but allocation failure; an exception thrown by a
// callback leaves tokenize() at once, and the source text is untouched either way.

#include <cstddef>

namespace zel {

// Receives the lines and fields of a result set. Every operation that returns bool
// returns true to go on and false to stop at once: after a false, no further
// callback is made, onTokenizeEnd included.
class ITokenizerCallback {
public:
    ITokenizerCallback() = default;
    ITokenizerCallback(const ITokenizerCallback&) = delete;
    ITokenizerCallback& operator=(const ITokenizerCallback&) = delete;
    virtual ~ITokenizerCallback() = default;

    virtual bool onTokenizeBegin() { return true; }
    // Called once the whole text was walked without a stop.
    virtual void onTokenizeEnd() {}
    virtual bool onLineBegin(int line) { return true; }
    virtual bool onLineEnd(int line) { return true; }
    // One field, NUL-terminated; the text lives until the callback returns.
    virtual bool onNextField(int line, int field, const char* text) { return true; }
    // The forms the tokenizer calls. position points into the tokenizer's working
    // copy of the line: at its first character for onLineBegin, and at the NUL that
    // ends it there for onLineEnd. A callback may read the line through it until it
    // returns; what it writes there reaches no one else.
    virtual bool onLineBegin(int line, char* position) { return onLineBegin(line); }
    virtual bool onLineEnd(int line, char* position) { return onLineEnd(line); }
    // The form of onNextField that the tokenizer calls: the same field with its
    // length, so that a parser can store it without measuring it again.
    virtual bool onNextField(int line, int field, const char* text, size_t length)
    {
        return onNextField(line, field, text);
    }
};

class CResultSetTokenizer {
public:
    // Holds the text, which must stay unchanged until tokenize() returns; a null
    // text is taken as empty. The tokenizer never writes into it.
    explicit CResultSetTokenizer(const char* text) noexcept;
    CResultSetTokenizer(const CResultSetTokenizer&) = delete;
    CResultSetTokenizer& operator=(const CResultSetTokenizer&) = delete;

    // Walks the text, calling the callback for each line and field in order. A null
    // callback does nothing. Fields are terminated in a working copy of each line
    // (one buffer reused for the whole walk), so the caller's text is never written,
    // even while callbacks run. A text of INT_MAX bytes or more, whose line and
    // field numbers would not fit an int, is taken as empty.
    void tokenize(ITokenizerCallback* callback) const;

private:
    const char* m_text;
};

} // namespace zel
