#pragma once
// A live table of the table manager, as the table parsers and the pushed updates
// fill it. The table manager owns one per trading table once it is switched on.
//
// Ownership: reference counted; the table manager holds each table, a parser only
// borrows it for one parse.
// [Threading] add is the table's own locked operation: any thread may call it.

#include "vorntool/add_ref.h"

namespace zel {

template <class Row>
class ILiveTable : public IAddRef {
public:
    // Takes the row into the table (the table adds a reference of its own).
    virtual void add(Row* row) = 0;

protected:
    ~ILiveTable() override = default;
};

} // namespace zel
