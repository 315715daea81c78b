#include "core/responses/table_field_maps.h"

namespace zel {

const FieldMap<Offer>& offersFieldMap()
{
    using R = Offer;
    static const FieldMap<R> map{
        textField(0, &R::OfferID),     textField(1, &R::QuoteID),      timeField(4, &R::Time),
        numberField(5, &R::rawBid),    numberField(6, &R::rawAsk),     textField(13, &R::BidTradable),
        textField(14, &R::AskTradable), numberField(15, &R::High),     numberField(16, &R::Low),
        integerField(17, &R::Volume),
    };
    return map;
}

const FieldMap<Account>& accountsFieldMap()
{
    using R = Account;
    static const FieldMap<R> map{
        textField(0, &R::AccountID),         numberField(4, &R::Balance),
        numberField(5, &R::UsedMargin),      textField(6, &R::MarginCallFlag),
        textField(7, &R::AccountName),       textField(12, &R::ManagerAccountID),
        textField(13, &R::AccountKind),      timeField(14, &R::LastMarginCallDate),
        numberField(15, &R::UsedMargin3),    numberField(16, &R::M2MEquity),
        numberField(17, &R::NonTradeEquity), textField(34, &R::MaintenanceType),
        integerField(37, &R::AmountLimit),   integerField(39, &R::BaseUnitSize),
        flagField(40, &R::MaintenanceFlag),  textField(45, &R::LevarageProfileID),
    };
    return map;
}

const FieldMap<Order>& ordersFieldMap()
{
    using R = Order;
    static const FieldMap<R> map{
        textField(0, &R::OrderID),           textField(2, &R::RequestID),        textField(3, &R::RequestTXT),
        timeField(4, &R::StatusTime),        numberField(6, &R::Lifetime),       numberField(7, &R::Rate),
        textField(9, &R::TradeID),           textField(10, &R::AccountID),       textField(11, &R::AccountName),
        textField(12, &R::OfferID),          textField(13, &R::BuySell),         integerField(14, &R::Amount),
        textField(15, &R::Stage),            numberField(25, &R::AtMarket),      textField(26, &R::AccountKind),
        integerField(27, &R::TrailStep),     numberField(28, &R::TrailRate),     textField(29, &R::TimeInForce),
        textField(32, &R::Type),             textField(33, &R::Status),          integerField(38, &R::OriginAmount),
        integerField(39, &R::FilledAmount),  numberField(41, &R::ExecutionRate), flagField(43, &R::WorkingIndicator),
        textField(45, &R::ContingentOrderID), numberField(46, &R::PegOffset),    numberField(47, &R::RateMin),
        numberField(49, &R::RateMax),        textField(51, &R::PegType),         flagField(52, &R::NetQuantity),
        integerField(53, &R::ContingencyType), textField(54, &R::PrimaryID),     timeField(55, &R::ExpireDate),
        textField(56, &R::ValueDate),        textField(58, &R::Parties),
    };
    return map;
}

const FieldMap<Trade>& tradesFieldMap()
{
    using R = Trade;
    static const FieldMap<R> map{
        textField(0, &R::TradeID),             textField(4, &R::AccountID),       textField(5, &R::AccountName),
        textField(6, &R::OfferID),             numberField(7, &R::RolloverInterest), numberField(8, &R::Commission),
        timeField(9, &R::OpenTime),            numberField(10, &R::OpenRate),     textField(11, &R::OpenQuoteID),
        textField(12, &R::BuySell),            integerField(13, &R::Amount),      integerField(20, &R::UsedMargin),
        textField(21, &R::AccountKind),        textField(22, &R::OpenOrderID),    textField(23, &R::OpenOrderReqID),
        textField(24, &R::OpenOrderRequestTXT), textField(27, &R::TradeIDOrigin), textField(28, &R::ValueDate),
        textField(32, &R::Parties),
    };
    return map;
}

const FieldMap<ClosedTrade>& closedTradesFieldMap()
{
    using R = ClosedTrade;
    static const FieldMap<R> map{
        textField(0, &R::TradeID),              textField(4, &R::AccountID),
        textField(5, &R::AccountName),          textField(6, &R::OfferID),
        numberField(7, &R::RolloverInterest),   numberField(8, &R::Commission),
        numberField(9, &R::GrossPL),            timeField(10, &R::OpenTime),
        timeField(11, &R::CloseTime),           numberField(12, &R::OpenRate),
        textField(13, &R::OpenQuoteID),         numberField(14, &R::CloseRate),
        textField(15, &R::CloseQuoteID),        textField(16, &R::BuySell),
        integerField(17, &R::Amount),           textField(24, &R::AccountKind),
        textField(25, &R::OpenOrderID),         textField(26, &R::OpenOrderReqID),
        textField(27, &R::OpenOrderRequestTXT), textField(28, &R::CloseOrderID),
        textField(29, &R::CloseOrderReqID),     textField(30, &R::CloseOrderRequestTXT),
        textField(32, &R::TradeIDOrigin),       textField(33, &R::ValueDate),
        textField(35, &R::TradeIDRemain),       textField(36, &R::OpenOrderParties),
        textField(37, &R::CloseOrderParties),
    };
    return map;
}

const FieldMap<MessageRecord>& messagesFieldMap()
{
    using R = MessageRecord;
    static const FieldMap<R> map{
        textField(0, &R::MsgID),   timeField(3, &R::Time),    textField(4, &R::From), textField(5, &R::Type),
        textField(6, &R::Feature), textField(7, &R::Text),    textField(8, &R::Subject),
    };
    return map;
}

const FieldMap<Instrument>& instrumentsFieldMap()
{
    using R = Instrument;
    static const FieldMap<R> map{
        textField(0, &R::offerID),
        numberField(4, &R::buyInterest),
        numberField(5, &R::sellInterest),
        textField(9, &R::symbol),
        textField(10, &R::contractCurrency),
        integerField(12, &R::precision),
        numberField(13, &R::pointSize),
        numberField(15, &R::sellAdj),
        numberField(16, &R::buyAdj),
        textField(18, &R::subscriptionStatus),
        integerField(21, &R::instrumentType),
        textField(23, &R::priceStream),
        integerField(25, &R::contractMultiplier),
        textField(26, &R::permissions),
        numberField(27, &R::condDistStopForTrade),
        numberField(28, &R::condDistLimitForTrade),
        numberField(29, &R::condDistEntryStop),
        numberField(30, &R::condDistEntryLimit),
        integerField(31, &R::maxQuantity),
        integerField(32, &R::minQuantity),
        textField(33, &R::tradingStatus),
        integerField(36, &R::baseUnitSize),
        textField(38, &R::field38),
        textField(40, &R::valueDate),
    };
    return map;
}

} // namespace zel
