#pragma once
// The request factory: what an application takes from the session to make requests
// (table refreshes, price history, orders and order commands) and value maps.
// Each wire protocol has its own factory; an RTMP server serves offers, system data
// and price history only, so its factory makes no orders and no value maps.
//
// Ownership: every create... returns a new object holding one reference that belongs
// to the caller, or null; getTimeFrameCollection adds a reference that the caller
// releases. getLastError's text belongs to the factory and lives until the next
// createOrderRequest.
// [Threading] Any thread may make requests. The last error is one per factory:
// serialize createOrderRequest calls that read it, or read it where you know which
// call it belongs to.
// [Errors] Nothing throws. A request the factory cannot make is null; for orders
// getLastError says why.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/request.h"
#include "zel/rows.h"
#include "zel/timeframe.h"
#include "zel/value_map.h"
#include "zel/zel_export.h"

class ZEL_API IZelRequestFactory : public IAddRef {
public:
    // Adds a reference: the caller releases it.
    virtual IZelTimeframeCollection* getTimeFrameCollection() = 0;
    // Price history of an instrument ("EUR/USD") in bars of the timeframe, at most
    // maxBars of them. Null without a session, instrument or timeframe, and on RTMP.
    virtual IZelRequest* createMarketDataSnapshotRequestInstrument(const char* instrument, IZelTimeframe* timeframe,
                                                                   int maxBars) = 0;
    // Sets the period of a price-history request made by this factory: from and to
    // are UTC date serials, 0 meaning open-ended. Other requests are left as they are.
    virtual void fillMarketDataSnapshotRequestTime(IZelRequest* request, double from, double to,
                                                   bool includeWeekends) = 0;
    // Null for a table the server cannot refresh (Summary, or on RTMP anything but
    // Offers) and without a session.
    virtual IZelRequest* createRefreshTableRequest(ZelTable table) = 0;
    // The rows of one account: Offers, Orders, Trades and ClosedTrades; null
    // otherwise, for a null account and on RTMP.
    virtual IZelRequest* createRefreshTableRequestByAccount(ZelTable table, const char* accountID) = 0;
    // The order or command the map describes; null when it does not validate, with
    // the reason in getLastError. The map is only read.
    virtual IZelRequest* createOrderRequest(IZelValueMap* valueMap) = 0;
    // A new empty map; null on RTMP.
    virtual IZelValueMap* createValueMap() = 0;
    // Why the last createOrderRequest failed; "" after one that succeeded.
    virtual const char* getLastError() = 0;

protected:
    IZelRequestFactory() = default;
    ~IZelRequestFactory() override = default;
};
