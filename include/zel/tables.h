#pragma once
// The live tables of the table manager: the session keeps the trading tables in
// memory (IZelSession::useTableManager), keeps them current from the server's pushed
// updates, calculates profit and loss on every price change, and tells the
// application's listeners about every change.
//
// Ownership: getTable, getRow, getNextRow and findRow add a reference that the
// caller releases. A table lives as long as it is referenced; rows live as long as
// they are referenced, independently of their table.
// [Threading] Every operation may be called on any thread. Reading (size, getRow,
// getNextRow, findRow, getCell) takes no lock: a row is read whole while the library
// replaces rows and recalculates cells on its own thread.
// [Errors] Nothing throws. Bad indexes and unknown identifiers give null, false or 0.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/rows.h"
#include "zel/table_column.h"
#include "zel/table_types.h"
#include "zel/zel_export.h"

// A walk position over a table's rows. Create it zeroed; getNextRow advances it and
// zeroes it again at the end, so the next walk starts from the beginning.
struct IZelTableIterator {
    uint32_t cell = 0;
    uint32_t slot = 0;
    uint32_t item = 0;
};

// What an application implements to hear of a table's changes.
// [Threading] Callbacks run on the library's thread that applies table changes (the
// transport's callback thread of the session), one at a time per session.
// [Locking] onAdded, onChanged and onDeleted run while the changed row's slot in its
// table is locked and before the next change is applied: keep them short. Other
// tables and other rows of the same table can be read freely; no lock of the
// application may be taken that a thread unsubscribing this listener holds while it
// waits for something this callback does.
// [Reentrancy] A callback may read any table (findRow, getRow, getNextRow, cells),
// subscribe and unsubscribe listeners (itself included) and send requests. It must
// not call refresh() of a table from inside onAdded, onChanged or onDeleted.
// [Exceptions] An exception thrown by a callback is caught by the library and
// dropped; the remaining listeners still hear of the change.
// Ownership: the identifier and the row are valid for the call; addRef the row to
// keep it. The table holds a reference to a subscribed listener until it is
// unsubscribed or the table goes away.
class ZEL_API IZelTableListener : public IAddRef {
public:
    virtual void onAdded(const char* rowID, IZelRow* row) = 0;
    virtual void onChanged(const char* rowID, IZelRow* row) = 0;
    virtual void onDeleted(const char* rowID, IZelRow* row) = 0;
    // The table's refresh status moved (runs on the thread that moved it: refresh()
    // for Refreshing and a failure to send, the callback thread for the answer).
    virtual void onStatusChanged(ZelTableStatus status) = 0;
    // One row of a fireEachRow walk, on the thread that called fireEachRow.
    virtual void onEachRow(const char* rowID, IZelRow* row) = 0;

protected:
    IZelTableListener() = default;
    ~IZelTableListener() override = default;
};

// What every live table offers, whatever its rows.
class ZEL_API IZelTable : public IAddRef {
public:
    virtual int size() = 0;
    // Adds a reference: the caller releases it.
    virtual IZelTableColumnCollection* columns() = 0;
    // The cell of the row at that position (positions as getRow); null past the end.
    // The pointer lives as long as that row, which another thread may replace: to read
    // several cells of one row, hold the row (getRow) and read it.
    virtual const void* getCell(int row, int column) = 0;
    virtual bool isCellValid(int row, int column) = 0;
    virtual ZelTable tableType() = 0;
    // Adds a reference to the listener; an unknown type does nothing.
    virtual void subscribeUpdate(ZelTableUpdateType type, IZelTableListener* listener) = 0;
    // Releases the listener's reference once no call to it is under way; never waits
    // for a callback running on another thread.
    virtual void unsubscribeUpdate(ZelTableUpdateType type, IZelTableListener* listener) = 0;
    virtual void subscribeStatus(IZelTableListener* listener) = 0;
    virtual void unsubscribeStatus(IZelTableListener* listener) = 0;
    virtual void subscribeEachRow(IZelTableListener* listener) = 0;
    virtual void unsubscribeEachRow(IZelTableListener* listener) = 0;
    virtual ZelTableStatus getStatus() = 0;
    // Asks the server for the whole table again; the status says how it goes. The
    // answer makes the table equal to it: missing rows are deleted, changed rows
    // announced as changed, new rows as added.
    virtual void refresh() = 0;
    // Calls every each-row listener once per row, on the calling thread.
    virtual void fireEachRow() = 0;
    virtual bool isCellChanged(int row, int column) = 0;

protected:
    IZelTable() = default;
    ~IZelTable() override = default;
};

// The typed operations of a table whose rows are Row.
// getRow: the row at a position of the table's order (not the order of arrival),
// with a reference added, or null past the end.
// getNextRow: the row after the iterator's position with a reference added, and
// true; false with row null at the end (the iterator is zeroed again).
// findRow: the row of that identifier (column 0) with a reference added, and true;
// false with row null when there is none.
#define ZEL_TYPED_TABLE(TableName, Row)                                                                        \
    class ZEL_API TableName : public IZelTable {                                                              \
    public:                                                                                                   \
        virtual Row* getRow(int index) = 0;                                                                   \
        virtual bool getNextRow(IZelTableIterator& iterator, Row*& row) = 0;                                  \
        virtual bool findRow(const char* id, Row*& row) = 0;                                                  \
                                                                                                              \
    protected:                                                                                                \
        TableName() = default;                                                                                \
        ~TableName() override = default;                                                                      \
    };

ZEL_TYPED_TABLE(IZelOffersTable, IZelOfferTableRow)
ZEL_TYPED_TABLE(IZelAccountsTable, IZelAccountTableRow)
ZEL_TYPED_TABLE(IZelOrdersTable, IZelOrderTableRow)
ZEL_TYPED_TABLE(IZelTradesTable, IZelTradeTableRow)
ZEL_TYPED_TABLE(IZelClosedTradesTable, IZelClosedTradeTableRow)
ZEL_TYPED_TABLE(IZelMessagesTable, IZelMessageTableRow)
ZEL_TYPED_TABLE(IZelSummaryTable, IZelSummaryTableRow)

#undef ZEL_TYPED_TABLE

// The session's live tables (IZelSession::getTableManager).
class ZEL_API IZelTableManager : public IAddRef {
public:
    // The table of that identifier with a reference added (cast it to its typed
    // interface: Offers to IZelOffersTable, ...), or null while the session keeps no
    // tables or for an unknown identifier.
    virtual IZelTable* getTable(ZelTable table) = 0;
    // Always null: detailed tables are not kept.
    virtual IZelTable* getDetailedTable(ZelTable table, const char* detail) = 0;

protected:
    IZelTableManager() = default;
    ~IZelTableManager() override = default;
};
