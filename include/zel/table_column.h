#pragma once
// The columns of a table: what lets an application read any row generically, by
// column index (IZelRow::getCell), with the column's identifier and value type.
//
// Ownership: a column collection comes from IZelRow::columns() with a reference the
// caller releases; get and find add a reference to the column they return.
// Collections and columns are shared by every row of a table and never change.
// [Threading] Immutable; any thread may read and release them.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelTableColumn : public IAddRef {
public:
    // What getCell of this column points at: Integer an int, Double a double, String
    // a NUL-terminated text, Date a double day serial, Boolean a one-byte bool.
    enum ZelTableColumnType { Integer = 0, Double = 1, String = 2, Date = 3, Boolean = 4 };

    // The column's name ("OfferID", "Bid", ...); lives as long as the column.
    virtual const char* getID() = 0;
    virtual ZelTableColumnType getType() = 0;

protected:
    IZelTableColumn() = default;
    ~IZelTableColumn() override = default;
};

class ZEL_API IZelTableColumnCollection : public IAddRef {
public:
    virtual int size() = 0;
    // The column at index, with a reference added: the caller releases it. Null for
    // an index outside 0 to size() - 1.
    virtual IZelTableColumn* get(int index) = 0;
    // The first column whose identifier equals id exactly (case matters: "Bid", not
    // "bid"), with a reference added: the caller releases it. Null when none does.
    virtual IZelTableColumn* find(const char* id) = 0;

protected:
    IZelTableColumnCollection() = default;
    ~IZelTableColumnCollection() override = default;
};
