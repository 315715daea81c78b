#pragma once
// The records the rows wrap: one member per column, in column order and named after
// the column (text as std::string, Integer as int32_t, Double and Date as double,
// Boolean as bool), then the change mask of the table manager's rows.
// Each table also has a Columns struct whose enumerators are the column indexes
// (OrderColumns::Stop == 35) and whose count is the number of columns.
//
// [Threading] A record has no lock of its own: the row or table entry that holds it
// decides who may write.

#include <cstdint>
#include <string>

#include "core/tables/table_schema.h"
#include "zel/table_column.h"

namespace zel {

enum class ColumnKind { Reader, Calculated };

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
    using Storage = std::string;
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
