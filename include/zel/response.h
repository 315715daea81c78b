#pragma once
// What the server sends: answers to requests and pushed updates, each a typed,
// reference-counted response. Read one through the session's reader factory.
//
// Ownership: a listener that keeps a response beyond its callback adds a reference
// and releases it later. Responses never change once delivered.
// [Threading] Immutable; any thread may read and release one.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

enum class ZelResponseType : int32_t {
    Unknown = -1,
    // Pushed without a request: table updates, prices.
    TablesUpdates = 0,
    MarketDataSnapshot = 1,
    AccountsTable = 2,
    OffersTable = 3,
    OrdersTable = 4,
    TradesTable = 5,
    ClosedTradesTable = 6,
    MessagesTable = 7,
    OrderResponse = 8,
    SystemProperties = 9,
    CommandResponse = 10,
    MarginRequirements = 11,
    LastOrderUpdate = 12,
};

class ZEL_API IZelResponse : public IAddRef {
public:
    virtual ZelResponseType getType() = 0;
    // The identifier of the request answered, "" for pushed updates; lives as long
    // as the response.
    virtual const char* getRequestID() = 0;

protected:
    IZelResponse() = default;
    ~IZelResponse() override = default;
};
