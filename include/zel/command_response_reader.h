#pragma once
// Readers of the answers to commands that change something on the server: whether
// the command succeeded, the order an order creation produced, and the last update
// of one order.
//
// Ownership: the reader factory returns a new reader holding one reference for the
// caller; texts live as long as the reader; getOrder adds a reference that the
// caller releases.
// [Threading] Immutable once returned; any thread.

#include "vorntool/add_ref.h"
#include "zel/table_types.h"
#include "zel/zel_export.h"

class IZelOrderRow;

class ZEL_API IZelCommandResponseReader : public IAddRef {
public:
    virtual bool isSuccessful() = 0;
    // "" when the command succeeded or the server gave no text.
    virtual const char* getErrorDescription() = 0;

protected:
    IZelCommandResponseReader() = default;
    ~IZelCommandResponseReader() override = default;
};

class ZEL_API IZelOrderResponseReader : public IAddRef {
public:
    virtual bool isSuccessful() = 0;
    // The order created; "" when none.
    virtual const char* getOrderID() = 0;
    virtual const char* getErrorDescription() = 0;

protected:
    IZelOrderResponseReader() = default;
    ~IZelOrderResponseReader() override = default;
};

class ZEL_API IZelLastOrderUpdateResponseReader : public IAddRef {
public:
    // Unknown when the answer named no known kind.
    virtual ZelTableUpdateType getUpdateType() = 0;
    // Adds a reference; null when the answer held no order line.
    virtual IZelOrderRow* getOrder() = 0;

protected:
    IZelLastOrderUpdateResponseReader() = default;
    ~IZelLastOrderUpdateResponseReader() override = default;
};
