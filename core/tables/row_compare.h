#pragma once
// Change bits of a replacing row: each column's bit says whether its value differs
// from the replaced row's. Texts compare by content, numbers exactly (a NaN always
// differs). The bits are set with atomic stores: readers may already hold the row.

#include "core/tables/rows.h"

namespace zel {

namespace detail {

template <class T>
bool cellDiffers(const T& a, const T& b)
{
    return !(cellValue(a) == cellValue(b));
}
inline bool cellDiffers(const RecordText& a, const RecordText& b) { return !(a == b); }

#define ZEL_MARK_CELL(name, type, kind)                                             \
    if (cellDiffers(mine.name, theirs.name))                                        \
        mask |= uint64_t{1} << Row::Columns::name;

// Every column has its bit, so the whole mask is worked out first and stored once.
template <class Row>
bool markCells(Row& row, const typename Row::RecordType& mine, const typename Row::RecordType& theirs)
{
    static_assert(Row::Columns::count <= 64, "one bit per column");
    uint64_t mask = 0;
    if constexpr (Row::kTable == ZelTable::Offers) {
        ZEL_OFFER_COLUMNS(ZEL_MARK_CELL)
    } else if constexpr (Row::kTable == ZelTable::Accounts) {
        ZEL_ACCOUNT_COLUMNS(ZEL_MARK_CELL)
    } else if constexpr (Row::kTable == ZelTable::Orders) {
        ZEL_ORDER_COLUMNS(ZEL_MARK_CELL)
    } else if constexpr (Row::kTable == ZelTable::Trades) {
        ZEL_TRADE_COLUMNS(ZEL_MARK_CELL)
    } else if constexpr (Row::kTable == ZelTable::ClosedTrades) {
        ZEL_CLOSED_TRADE_COLUMNS(ZEL_MARK_CELL)
    } else if constexpr (Row::kTable == ZelTable::Messages) {
        ZEL_MESSAGE_COLUMNS(ZEL_MARK_CELL)
    } else {
        ZEL_SUMMARY_COLUMNS(ZEL_MARK_CELL)
    }
    row.storeChangeMask(mask);
    return mask != 0;
}

#undef ZEL_MARK_CELL

} // namespace detail

// Sets row's change bits against old (every column, calculated ones included) and
// returns whether any column differs.
template <class Row>
bool markChangedCells(Row& row, const Row& old)
{
    return detail::markCells(row, row.record(), old.record());
}

} // namespace zel
