#pragma once
// The request factory of RTMP servers: system data ("GetSystemRules"), the offers
// subscription ("SubscrList") and the price-history chart request. It makes no
// orders and no value maps.
//
// Ownership: see RequestFactoryBase; every create... returns a new object holding
// one reference for the caller (message objects: see AFixObject), or null.
// [Threading] As RequestFactoryBase.

#include <map>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/requests/request.h"
#include "core/requests/request_factory_base.h"
#include "core/requests/rtmp_trade_session_request.h"

namespace zel {

class RTMPRequestFactory : public RequestFactoryBase {
public:
    explicit RTMPRequestFactory(merrow::IUserSession* session);

    // No price-history reader exists for RTMP answers, so no request is handed out.
    IZelRequest* createMarketDataSnapshotRequestInstrument(const char* instrument, IZelTimeframe* timeframe,
                                                           int maxBars) override;
    // Sets the period of a FixRequest that wraps a chart-session request.
    void fillMarketDataSnapshotRequestTime(IZelRequest* request, double from, double to,
                                           bool includeWeekends) override;
    // Only Offers: the "SubscrList" request.
    IZelRequest* createRefreshTableRequest(ZelTable table) override;
    IZelRequest* createRefreshTableRequestByAccount(ZelTable table, const char* accountID) override { return nullptr; }
    IZelRequest* createOrderRequest(IZelValueMap* valueMap) override;
    IZelValueMap* createValueMap() override { return nullptr; }

    // An RTMPCommandRequest named after the command (3, 9, 139); null otherwise.
    IZelRequest* createRequestByCommand(RequestCommand command) override;

    // The request that opens the RTMP session (no identifier).
    RTMPInitRequest* createInitRequest() const;
    // A "GetPriceHistory" chart request with a fresh "RequestId" and "SessionId";
    // holds one reference for the caller. Null without a session.
    RefPtr<CRTMPChartSessionRequest> createMarketSnapshotRequest() const;
    // The chart request of an instrument and timeframe ("Instrument", "Period",
    // "RespFmt"); null without a session, instrument or timeframe.
    RefPtr<CRTMPChartSessionRequest> buildMarketDataSnapshotRequest(const char* instrument,
                                                                    IZelTimeframe* timeframe) const;

    // A date serial as the chart request wants it: "%4d%2d%2d-%2d:%2d:%2d", padded
    // with blanks (7 March 2012 09:05:00 is "2012 3 7- 9: 5: 0").
    static std::string formatDate(double serial);

protected:
    ~RTMPRequestFactory() override = default;

private:
    std::map<int32_t, std::string> m_commandNames;
};

} // namespace zel
