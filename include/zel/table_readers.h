#pragma once
// Readers of table data: the answers to table requests (one reader per table) and
// the pushed updates, each entry a row with its table and update kind.
//
// Ownership: the reader factory returns a new reader holding one reference for the
// caller. getRow and the typed getters add a reference that the caller releases;
// a row stays valid while referenced, independently of its reader. Cells live as
// long as their row.
// [Threading] Immutable once returned; any thread.
// Indexes outside the reader give null, false, 0 or -1.

#include "vorntool/add_ref.h"
#include "zel/request_factory.h"
#include "zel/table_types.h"
#include "zel/zel_export.h"

class IZelTableColumnCollection;
class IZelOfferRow;
class IZelAccountRow;
class IZelOrderRow;
class IZelTradeRow;
class IZelClosedTradeRow;
class IZelMessageRow;

class ZEL_API IZelGenericTableResponseReader : public IAddRef {
public:
    virtual int size() = 0;
    // Adds a reference.
    virtual IZelTableColumnCollection* columns() = 0;
    // A pointer into the row's record: const char* for texts, else to the value.
    virtual const void* getCell(int row, int column) = 0;
    virtual bool isCellValid(int row, int column) = 0;
    virtual ZelTable tableType() = 0;

protected:
    IZelGenericTableResponseReader() = default;
    ~IZelGenericTableResponseReader() override = default;
};

class ZEL_API IZelOffersTableResponseReader : public IZelGenericTableResponseReader {
public:
    virtual IZelOfferRow* getRow(int row) = 0;

protected:
    ~IZelOffersTableResponseReader() override = default;
};

class ZEL_API IZelAccountsTableResponseReader : public IZelGenericTableResponseReader {
public:
    virtual IZelAccountRow* getRow(int row) = 0;

protected:
    ~IZelAccountsTableResponseReader() override = default;
};

class ZEL_API IZelOrdersTableResponseReader : public IZelGenericTableResponseReader {
public:
    virtual IZelOrderRow* getRow(int row) = 0;

protected:
    ~IZelOrdersTableResponseReader() override = default;
};

class ZEL_API IZelTradesTableResponseReader : public IZelGenericTableResponseReader {
public:
    virtual IZelTradeRow* getRow(int row) = 0;

protected:
    ~IZelTradesTableResponseReader() override = default;
};

class ZEL_API IZelClosedTradesTableResponseReader : public IZelGenericTableResponseReader {
public:
    virtual IZelClosedTradeRow* getRow(int row) = 0;

protected:
    ~IZelClosedTradesTableResponseReader() override = default;
};

class ZEL_API IZelMessagesTableResponseReader : public IZelGenericTableResponseReader {
public:
    virtual IZelMessageRow* getRow(int row) = 0;

protected:
    ~IZelMessagesTableResponseReader() override = default;
};

// The changes one pushed message brought, in the order of its lines.
class ZEL_API IZelTablesUpdatesReader : public IAddRef {
public:
    // The server's time of the message, a date serial; 0 when it carried none.
    virtual double getServerTime() = 0;
    virtual int size() = 0;
    virtual ZelTableUpdateType getUpdateType(int index) = 0;
    // Cast from -1 outside the reader.
    virtual ZelTable getUpdateTable(int index) = 0;
    // Entry index as its table's row, with a reference added; null outside the
    // reader or for an entry of another table.
    virtual IZelOfferRow* getOfferRow(int index) = 0;
    virtual IZelAccountRow* getAccountRow(int index) = 0;
    virtual IZelOrderRow* getOrderRow(int index) = 0;
    virtual IZelTradeRow* getTradeRow(int index) = 0;
    virtual IZelClosedTradeRow* getClosedTradeRow(int index) = 0;
    virtual IZelMessageRow* getMessageRow(int index) = 0;

protected:
    IZelTablesUpdatesReader() = default;
    ~IZelTablesUpdatesReader() override = default;
};
