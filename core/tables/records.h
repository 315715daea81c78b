#pragma once
// The records the rows wrap: one member per column, in column order and named after
// the column (text as RecordText, Integer as int32_t, Double and Date as double,
// Boolean as bool), then the change mask of the table manager's rows.
// Each table also has a Columns struct whose enumerators are the column indexes
// (OrderColumns::Stop == 35) and whose count is the number of columns.
//
// [Threading] A record has no lock of its own: the row or table entry that holds it
// decides who may write.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>

#include "core/tables/table_schema.h"
#include "zel/table_column.h"

namespace zel {

enum class ColumnKind { Reader, Calculated };

// A column's text: NUL-terminated, up to 15 bytes inside the record and longer ones
// on the heap. Half the size of a std::string: a table answer holds one record per
// line, mostly short identifiers, and this is most of the memory it takes.
// Layout: bytes 0-14 hold the inline text, byte 15 is 15 minus its length (so it is
// the NUL of a 15-byte text); for a heap text byte 15 is kHeap and bytes 0-14 hold
// the pointer and the length.
class RecordText {
public:
    RecordText() noexcept { setEmpty(); }
    RecordText(const char* text) { setEmpty(); assign(text); }  // NOLINT: stands in for std::string
    RecordText(const std::string& text) { setEmpty(); assign(text.data(), text.size()); }  // NOLINT
    RecordText(const RecordText& other)
    {
        if (other.isHeap()) {
            setEmpty();
            assign(other.data(), other.size());
        } else {
            std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
        }
    }
    RecordText(RecordText&& other) noexcept
    {
        std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
        other.setEmpty();
    }
    ~RecordText() { release(); }

    RecordText& operator=(const RecordText& other)
    {
        if (this != &other) {
            if (other.isHeap()) {
                assign(other.data(), other.size());
            } else {
                release();
                std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
            }
        }
        return *this;
    }
    RecordText& operator=(RecordText&& other) noexcept
    {
        if (this != &other) {
            release();
            std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
            other.setEmpty();
        }
        return *this;
    }
    // A null text is the empty one.
    RecordText& operator=(const char* text) { return assign(text); }
    RecordText& operator=(const std::string& text) { return assign(text.data(), text.size()); }
    RecordText& operator+=(const char* text)
    {
        const size_t n = text ? std::strlen(text) : 0;
        std::string joined;
        joined.reserve(size() + n);
        joined.append(data(), size()).append(text ? text : "", n);
        return assign(joined.data(), joined.size());
    }
    RecordText& operator+=(const std::string& text) { return *this += text.c_str(); }

    RecordText& assign(const char* text) { return assign(text, text ? std::strlen(text) : 0); }
    // The text may lie inside this one. Inlined: it is the parsers' store of every
    // text field, and as a call it costs as much as the copy.
#if defined(__GNUC__)
    __attribute__((always_inline))
#endif
    RecordText& assign(const char* text, size_t length)
    {
        if (text == nullptr)
            length = 0;
        if (length > kInlineCapacity)
            return assignLong(text, length);
        const uintptr_t at = reinterpret_cast<uintptr_t>(text);
        const uintptr_t self = reinterpret_cast<uintptr_t>(m_bytes);
        if (at >= self && at < self + sizeof m_bytes) {
            // A part of this inline text.
            std::memmove(m_bytes, text, length);
            std::memset(m_bytes + length, 0, kTag - length);
        } else {
            // Straight into place (a copy through a block would wait on its stores);
            // a heap text is freed only after the copy, which may come from it.
            const char* old = isHeap() ? heapPointer() : nullptr;
            std::memset(m_bytes, 0, sizeof m_bytes);
            copySmall(m_bytes, text, length);
            delete[] old;
        }
        m_bytes[kTag] = static_cast<char>(kInlineCapacity - length);
        return *this;
    }
    void clear() noexcept
    {
        release();
        setEmpty();
    }

    const char* c_str() const noexcept { return isHeap() ? heapPointer() : m_bytes; }
    const char* data() const noexcept { return c_str(); }
    size_t size() const noexcept
    {
        if (!isHeap())
            return kInlineCapacity - static_cast<unsigned char>(m_bytes[kTag]);
        uint64_t length = 0;
        for (size_t i = 0; i < kLengthBytes; ++i)
            length |= static_cast<uint64_t>(static_cast<unsigned char>(m_bytes[sizeof(char*) + i])) << (8 * i);
        return static_cast<size_t>(length);
    }
    size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return size() == 0; }
    std::string str() const { return std::string(data(), size()); }
    operator std::string() const { return str(); }  // NOLINT: stands in for std::string

    friend bool operator==(const RecordText& a, const RecordText& b)
    {
        if (!a.isHeap() && !b.isHeap()) {
            // Every byte of an inline text past its end is zero: two words decide.
            uint64_t a0, a1, b0, b1;
            std::memcpy(&a0, a.m_bytes, 8);
            std::memcpy(&a1, a.m_bytes + 8, 8);
            std::memcpy(&b0, b.m_bytes, 8);
            std::memcpy(&b1, b.m_bytes + 8, 8);
            return ((a0 ^ b0) | (a1 ^ b1)) == 0;
        }
        const size_t n = a.size();
        return n == b.size() && std::memcmp(a.data(), b.data(), n) == 0;
    }
    friend bool operator==(const RecordText& a, const char* b)
    {
        const size_t n = b ? std::strlen(b) : 0;
        return n == a.size() && std::memcmp(a.data(), b ? b : "", n) == 0;
    }
    friend bool operator==(const RecordText& a, const std::string& b)
    {
        return b.size() == a.size() && std::memcmp(a.data(), b.data(), b.size()) == 0;
    }
    friend bool operator==(const char* a, const RecordText& b) { return b == a; }
    friend bool operator==(const std::string& a, const RecordText& b) { return b == a; }
    template <class T>
    friend bool operator!=(const RecordText& a, const T& b)
    {
        return !(a == b);
    }
    friend bool operator!=(const char* a, const RecordText& b) { return !(b == a); }
    friend bool operator!=(const std::string& a, const RecordText& b) { return !(b == a); }
    friend std::ostream& operator<<(std::ostream& out, const RecordText& text);

private:
    // The heap form, kept out of line so that the short form inlines where stored.
    RecordText& assignLong(const char* text, size_t length);

    static constexpr size_t kTag = 15;
    static constexpr size_t kInlineCapacity = 15;
    // The bytes between the pointer and the tag, as many as a size_t has.
    static constexpr size_t kLengthBytes =
        kTag - sizeof(char*) < sizeof(size_t) ? kTag - sizeof(char*) : sizeof(size_t);
    static constexpr unsigned char kHeap = 0xFF;

    bool isHeap() const noexcept { return static_cast<unsigned char>(m_bytes[kTag]) == kHeap; }
    const char* heapPointer() const noexcept
    {
        const char* p;
        std::memcpy(&p, m_bytes, sizeof p);
        return p;
    }
    void release() noexcept
    {
        if (isHeap())
            delete[] heapPointer();
    }
    // Zeroes every byte, so that inline texts compare as two words.
    void setEmpty() noexcept
    {
        std::memset(m_bytes, 0, sizeof m_bytes);
        m_bytes[kTag] = static_cast<char>(kInlineCapacity);
    }
    // Copies exactly n (at most 15) bytes with fixed-size moves, which compile to a
    // few instructions where a memcpy of a variable length is a call.
#if defined(__GNUC__)
    __attribute__((always_inline))
#endif
    static void copySmall(char* to, const char* from, size_t n) noexcept
    {
        if (n >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + n - 8, from + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + n - 4, from + n - 4, 4);
        } else if (n > 0) {
            to[0] = from[0];
            to[n / 2] = from[n / 2];
            to[n - 1] = from[n - 1];
        }
    }

    alignas(8) char m_bytes[16];
};
static_assert(sizeof(RecordText) == 16, "a record text is two words");

// What a column of each type stores and what its getter returns.
template <int Type>
struct CellTraits;
template <>
struct CellTraits<IZelTableColumn::Integer> {
    using Storage = int32_t;
    using Value = int;
};
template <>
struct CellTraits<IZelTableColumn::Double> {
    using Storage = double;
    using Value = double;
};
template <>
struct CellTraits<IZelTableColumn::String> {
    using Storage = RecordText;
    using Value = const char*;
};
template <>
struct CellTraits<IZelTableColumn::Date> {
    using Storage = double;
    using Value = double;
};
template <>
struct CellTraits<IZelTableColumn::Boolean> {
    using Storage = bool;
    using Value = bool;
};

#define ZEL_RECORD_MEMBER(name, type, kind) CellTraits<IZelTableColumn::type>::Storage name{};
#define ZEL_COLUMN_INDEX(name, type, kind) name,

// Bit i of a change mask belongs to column i: set when the last update changed it.
inline bool isColumnChanged(uint64_t mask, int column)
{
    return column >= 0 && column < 64 && ((mask >> column) & 1u) != 0;
}
inline void setColumnChanged(uint64_t& mask, int column, bool changed)
{
    if (column < 0 || column >= 64)
        return;
    const uint64_t bit = uint64_t{1} << column;
    mask = changed ? (mask | bit) : (mask & ~bit);
}

struct OfferColumns {
    enum : int { ZEL_OFFER_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct Offer {
    ZEL_OFFER_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
    // The prices as received, before the instrument's adjustments make Bid and Ask.
    double rawBid = 0;
    double rawAsk = 0;
};

struct AccountColumns {
    enum : int { ZEL_ACCOUNT_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct Account {
    ZEL_ACCOUNT_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
};

struct OrderColumns {
    enum : int { ZEL_ORDER_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct Order {
    ZEL_ORDER_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
};

struct TradeColumns {
    enum : int { ZEL_TRADE_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct Trade {
    ZEL_TRADE_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
};

struct ClosedTradeColumns {
    enum : int { ZEL_CLOSED_TRADE_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct ClosedTrade {
    ZEL_CLOSED_TRADE_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
};

struct MessageColumns {
    enum : int { ZEL_MESSAGE_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct MessageRecord {
    ZEL_MESSAGE_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
};

struct SummaryColumns {
    enum : int { ZEL_SUMMARY_COLUMNS(ZEL_COLUMN_INDEX) count };
};
struct SummaryRecord {
    ZEL_SUMMARY_COLUMNS(ZEL_RECORD_MEMBER)
    uint64_t changeMask = 0;
};

static_assert(OfferColumns::count == 22 && AccountColumns::count == 20 && OrderColumns::count == 37 &&
                  TradeColumns::count == 24 && ClosedTradeColumns::count == 27 && MessageColumns::count == 8 &&
                  SummaryColumns::count == 14,
              "the column lists changed: check the public row interfaces too");

#undef ZEL_COLUMN_INDEX
#undef ZEL_RECORD_MEMBER

} // namespace zel
