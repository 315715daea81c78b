#include "core/requests/das_request_factory.h"

#include "core/base/ref_ptr.h"
#include "core/marketdata/market_data_request.h"
#include "core/requests/order_request_factory.h"
#include "core/requests/order_request_helper.h"
#include "core/requests/request.h"
#include "core/requests/strings.h"
#include "core/requests/value_map.h"
#include "core/requests/zel_const.h"
#include "merrow/fix_defs.h"

namespace zel {

DasRequestFactory::DasRequestFactory(merrow::IUserSession* session) : RequestFactoryBase(session)
{
    m_translation.build();
    // Builds the validation table (with the parameters' user names) before any order.
    OrderRequestHelper::instance();
}

IZelRequest* DasRequestFactory::createRequestByCommand(RequestCommand command)
{
    merrow::IUserSession* session = getSession();
    if (!session)
        return nullptr;
    switch (command) {
    case CmdGetSystemProperties:
    case CmdUpdateMarginRequirements:
    case CmdGetInstruments:
        return new CommandRequest(takeRequestID(session).c_str(), command);
    default:
        return nullptr;
    }
}

IZelRequest* DasRequestFactory::createRefreshTableRequest(ZelTable table)
{
    merrow::IUserSession* session = getSession();
    if (!session)
        return nullptr;
    int32_t command = 0;
    bool withTrader = true;
    switch (table) {
    case ZelTable::Offers:
        command = CmdRefreshOffers;
        break;
    case ZelTable::Accounts:
        command = CmdRefreshAccounts;
        break;
    case ZelTable::Orders:
        command = CmdRefreshOrders;
        withTrader = false;
        break;
    case ZelTable::Trades:
        command = CmdRefreshTrades;
        break;
    case ZelTable::ClosedTrades:
        command = CmdRefreshClosedTrades;
        break;
    case ZelTable::Messages:
        command = CmdRefreshMessages;
        withTrader = false;
        break;
    default:
        return nullptr;
    }
    CommandRequest* request = new CommandRequest(takeRequestID(session).c_str(), command);
    if (withTrader)
        request->addParam(paramTraderID_NAME, std::to_string(session->getTraderID()).c_str());
    return request;
}

IZelRequest* DasRequestFactory::createRefreshTableRequestByAccount(ZelTable table, const char* accountID)
{
    merrow::IUserSession* session = getSession();
    if (!session || !accountID)
        return nullptr;
    int32_t command = 0;
    switch (table) {
    case ZelTable::Offers:
        command = CmdGetSystemProperties;  // 3 also refreshes one account's offers
        break;
    case ZelTable::Orders:
        command = CmdRefreshOrders;
        break;
    case ZelTable::Trades:
        command = CmdRefreshTradesByAccount;
        break;
    case ZelTable::ClosedTrades:
        command = CmdRefreshClosedTradesByAccount;
        break;
    default:
        return nullptr;
    }
    CommandRequest* request = new CommandRequest(takeRequestID(session).c_str(), command);
    request->addParam(paramAccountID_NAME, accountID);
    return request;
}

IZelRequest* DasRequestFactory::createMarketDataSnapshotRequestInstrument(const char* instrument,
                                                                          IZelTimeframe* timeframe, int maxBars)
{
    merrow::IUserSession* session = getSession();
    if (!session || !instrument || !timeframe)
        return nullptr;
    RefPtr<IZelTimeframe> frame(timeframe);
    const std::string id = takeRequestID(session);

    RefPtr<CMarketDataRequest> md(new CMarketDataRequest());  // message objects start at 0
    md->setSubscriptionRequestType(CMarketDataRequest::Snapshot);
    md->setMDEntryTypeSet(CMarketDataRequest::EntryAsk);
    md->addRelatedSymbol(instrument);
    md->setTimingInterval(getTimeframeIntervalCode(frame.get()));
    // The hour frames share one interval code; the server tells them apart by this.
    if (frame->getSize() != 1 && frame->getUnit() != ZelTimeframeUnit::Minute)
        md->setSettlType(frame->getID());
    md->setTradingSessionID("QORA");
    md->setTradingSessionSubID(ZelConst::PRICE_SERVER);
    md->setResponseFormat(merrow::IFixDefs::MSGTYPE_QORARESPONSE);
    md->setMDReqID(id.c_str());
    md->setNoSnapshot(maxBars);
    md->setMarketDepth(maxBars);
    return new FixRequest(id.c_str(), md.get());
}

void DasRequestFactory::fillMarketDataSnapshotRequestTime(IZelRequest* request, double from, double to,
                                                          bool includeWeekends)
{
    FixRequest* fix = dynamic_cast<FixRequest*>(request);
    if (!fix)
        return;
    RefPtr<AFixObject> object = adoptRef(fix->getFixObject());
    auto* md = dynamic_cast<CMarketDataRequest*>(object.get());
    if (!md)
        return;
    md->setStartDate(from);
    md->setEndDate(to);
    md->setIncludeWeekendData(includeWeekends);
}

IZelRequest* DasRequestFactory::createOrderRequest(IZelValueMap* valueMap)
{
    m_lastError.clear();
    merrow::IUserSession* session = getSession();
    if (!session) {
        m_lastError = Strings::getSessionClosed();
        return nullptr;
    }
    OrderRequestFactory builder(session, *this, valueMap);
    CommandRequest* request = builder.createRequest();
    if (!request)
        m_lastError = builder.getLastError();
    return request;
}

IZelValueMap* DasRequestFactory::createValueMap()
{
    return new ValueMap();
}

} // namespace zel
