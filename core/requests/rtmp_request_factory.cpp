#include "core/requests/rtmp_request_factory.h"

#include <cstdio>

#include "core/requests/zel_const.h"
#include "vorntool/date.h"

namespace zel {

namespace {

// The refresh command of each table; -1 for one without.
int32_t refreshCommandOf(ZelTable table)
{
    switch (table) {
    case ZelTable::Offers:
        return CmdRefreshOffers;
    case ZelTable::Accounts:
        return CmdRefreshAccounts;
    case ZelTable::Orders:
        return CmdRefreshOrders;
    case ZelTable::Trades:
        return CmdRefreshTrades;
    case ZelTable::ClosedTrades:
        return CmdRefreshClosedTrades;
    case ZelTable::Messages:
        return CmdRefreshMessages;
    default:
        return -1;
    }
}

} // namespace

RTMPRequestFactory::RTMPRequestFactory(merrow::IUserSession* session) : RequestFactoryBase(session)
{
    m_commandNames[CmdGetSystemProperties] = "GetSystemRules";
    m_commandNames[CmdGetInstruments] = "SubscrList";
    m_commandNames[CmdRefreshOffers] = "SubscrList";
}

IZelRequest* RTMPRequestFactory::createRequestByCommand(RequestCommand command)
{
    auto it = m_commandNames.find(command);
    if (it == m_commandNames.end())
        return nullptr;
    const std::string id = takeRequestID(getSession());
    return new RTMPCommandRequest(id.c_str(), command, it->second.c_str());
}

IZelRequest* RTMPRequestFactory::createRefreshTableRequest(ZelTable table)
{
    if (!isSessionValid())
        return nullptr;
    const int32_t command = refreshCommandOf(table);
    if (command < 0)
        return nullptr;
    return createRequestByCommand(static_cast<RequestCommand>(command));
}

IZelRequest* RTMPRequestFactory::createOrderRequest(IZelValueMap* valueMap)
{
    m_lastError.clear();
    return nullptr;
}

RTMPInitRequest* RTMPRequestFactory::createInitRequest() const
{
    return new RTMPInitRequest();
}

RefPtr<CRTMPChartSessionRequest> RTMPRequestFactory::createMarketSnapshotRequest() const
{
    merrow::IUserSession* session = getSession();
    if (!session)
        return nullptr;
    RefPtr<CRTMPChartSessionRequest> request(new CRTMPChartSessionRequest());  // message objects start at 0
    request->setName(ZelConst::RTMP_GET_PRICE_HISTORY_NAME);
    request->setMethodName(ZelConst::RTMP_GET_PRICE_HISTORY_NAME);
    request->setRequestID(takeRequestID(session).c_str());
    const char* sessionID = session->getSessionID();
    request->setParameter(ZelConst::RTMP_SESSION_ID_PARAM, sessionID ? sessionID : "");
    return request;
}

RefPtr<CRTMPChartSessionRequest> RTMPRequestFactory::buildMarketDataSnapshotRequest(const char* instrument,
                                                                                    IZelTimeframe* timeframe) const
{
    if (!instrument || !timeframe)
        return nullptr;
    RefPtr<CRTMPChartSessionRequest> request = createMarketSnapshotRequest();
    if (!request)
        return nullptr;
    request->setParameter("Instrument", instrument);
    request->setParameter("Period", std::to_string(getTimeframeIntervalCode(timeframe)).c_str());
    request->setParameter("RespFmt", "amf3");
    return request;
}

IZelRequest* RTMPRequestFactory::createMarketDataSnapshotRequestInstrument(const char* instrument,
                                                                           IZelTimeframe* timeframe, int maxBars)
{
    return nullptr;
}

void RTMPRequestFactory::fillMarketDataSnapshotRequestTime(IZelRequest* request, double from, double to,
                                                           bool includeWeekends)
{
    FixRequest* fix = dynamic_cast<FixRequest*>(request);
    if (!fix)
        return;
    RefPtr<AFixObject> object = adoptRef(fix->getFixObject());
    auto* chart = dynamic_cast<CRTMPTradeSessionRequest*>(object.get());
    if (!chart)
        return;
    if (from != 0)
        chart->setParameter("DateFrom", formatDate(from).c_str());
    if (to != 0)
        chart->setParameter("DateTo", formatDate(to).c_str());
    if (includeWeekends)
        chart->setParameter("IncludeWeekends", "true");
}

std::string RTMPRequestFactory::formatDate(double serial)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    vorntool::date::split(serial, y, mo, d, h, mi, s);
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%4d%2d%2d-%2d:%2d:%2d", y, mo, d, h, mi, s);
    return buffer;
}

} // namespace zel
