#pragma once
// The request factory of DAS servers: table refreshes, price history, orders and
// order commands built from value maps.
//
// Ownership: see RequestFactoryBase; every create... returns a new object holding
// one reference for the caller, or null.
// [Threading] As RequestFactoryBase; createOrderRequest writes the last error.

#include "core/requests/request_factory_base.h"

namespace zel {

class DasRequestFactory : public RequestFactoryBase {
public:
    explicit DasRequestFactory(merrow::IUserSession* session);

    // A FixRequest wrapping a CMarketDataRequest; maxBars is sent as both the number
    // of bars and the market depth.
    IZelRequest* createMarketDataSnapshotRequestInstrument(const char* instrument, IZelTimeframe* timeframe,
                                                           int maxBars) override;
    void fillMarketDataSnapshotRequestTime(IZelRequest* request, double from, double to,
                                           bool includeWeekends) override;
    // Offers, Accounts, Trades and ClosedTrades carry the trader's "TraderID".
    IZelRequest* createRefreshTableRequest(ZelTable table) override;
    // Carries "AcctID" = accountID.
    IZelRequest* createRefreshTableRequestByAccount(ZelTable table, const char* accountID) override;
    // Clears the last error; on failure leaves the reason there. Without a session:
    // "The session is closed.".
    IZelRequest* createOrderRequest(IZelValueMap* valueMap) override;
    IZelValueMap* createValueMap() override;

    // A parameterless CommandRequest for 3, 138 and 139; null otherwise.
    IZelRequest* createRequestByCommand(RequestCommand command) override;

protected:
    ~DasRequestFactory() override = default;
};

} // namespace zel
