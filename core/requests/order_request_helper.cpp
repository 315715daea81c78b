#include "core/requests/order_request_helper.h"

#include "core/requests/request_command.h"
#include "core/requests/request_params.h"

namespace zel {

namespace {

using P = ZelRequestParamsEnum;

const OrderRequestHelper::ParamList kEmpty;

} // namespace

const OrderRequestHelper& OrderRequestHelper::instance()
{
    static const OrderRequestHelper* const helper = new OrderRequestHelper();
    return *helper;
}

OrderRequestHelper::OrderRequestHelper()
{
    const ParamList orderOptional = {P::TimeInForce, P::CustomID, P::ClientRate};

    m_required[OrderTypes::MarketOpen] = {P::OfferID, P::AccountID, P::BuySell, P::Amount};
    m_required[OrderTypes::MarketOpenRate] = {P::OfferID, P::AccountID, P::BuySell, P::Amount, P::Rate};
    m_required[OrderTypes::MarketOpenRange] = {P::OfferID, P::AccountID, P::BuySell, P::Amount};
    m_required[OrderTypes::MarketClose] = {P::OfferID, P::AccountID, P::TradeID, P::BuySell, P::Amount};
    m_required[OrderTypes::MarketCloseRate] = {P::OfferID, P::AccountID, P::TradeID, P::BuySell, P::Amount, P::Rate};
    m_required[OrderTypes::MarketCloseRange] = {P::OfferID, P::AccountID, P::BuySell, P::Amount, P::TradeID};
    m_required[OrderTypes::LimitEntry] = {P::OfferID, P::AccountID, P::BuySell, P::Amount, P::Rate};
    m_required[OrderTypes::StopEntry] = {P::OfferID, P::AccountID, P::BuySell, P::Amount, P::Rate};
    m_required[OrderTypes::Limit] = {P::OfferID, P::AccountID, P::TradeID, P::BuySell, P::Amount};
    m_required[OrderTypes::Stop] = {P::OfferID, P::AccountID, P::TradeID, P::BuySell, P::Amount};
    m_required[CommandNames::EditOrder] = {P::OrderID, P::AccountID};
    m_required[CommandNames::DeleteOrder] = {P::OrderID};
    m_required[CommandNames::JoinToNewContingencyGroup] = {P::ContingencyGroupType};
    m_required[CommandNames::JoinToExistingContingencyGroup] = {P::ContingencyID, P::ContingencyGroupType};
    m_required[CommandNames::RemoveFromContingencyGroup] = {P::OrderID, P::AccountID};
    m_required[CommandNames::SetSubscriptionStatus] = {P::OfferID, P::SubscriptionStatus};
    m_required[CommandNames::GetLastOrderUpdate] = {P::LookupKey, P::LookupValue, P::AccountName};

    for (const char* t : {OrderTypes::MarketOpen, OrderTypes::MarketOpenRate, OrderTypes::MarketOpenRange,
                          OrderTypes::MarketClose, OrderTypes::MarketCloseRate, OrderTypes::Limit})
        m_optional[t] = orderOptional;
    m_optional[OrderTypes::MarketCloseRange] = {P::NetQuantity, P::TimeInForce, P::CustomID, P::ClientRate};
    m_optional[OrderTypes::LimitEntry] = {P::TimeInForce,          P::CustomID,     P::ClientRate,
                                          P::ContingencyGroupType, P::ContingencyID};
    m_optional[OrderTypes::StopEntry] = {P::TrailStep,  P::TimeInForce,          P::CustomID,
                                         P::ClientRate, P::ContingencyGroupType, P::ContingencyID};
    m_optional[OrderTypes::Stop] = {P::TrailStep, P::TimeInForce, P::CustomID, P::ClientRate};
    m_optional[CommandNames::EditOrder] = {P::Amount, P::TimeInForce, P::CustomID, P::ClientRate, P::TrailStep};

    m_children[CommandNames::JoinToNewContingencyGroup] = {P::AccountID, P::OrderID};
    m_children[CommandNames::JoinToExistingContingencyGroup] = {P::AccountID, P::OrderID};

    // A net-quantity close names no trade and no amount: the flag stands in for both.
    for (const char* t : {OrderTypes::MarketClose, OrderTypes::MarketCloseRate, OrderTypes::MarketCloseRange})
        m_alternatives[t] = {{P::TradeID, P::NetQuantity}, {P::Amount, P::NetQuantity}};
    for (const char* t : {OrderTypes::LimitEntry, OrderTypes::StopEntry})
        m_alternatives[t] = {{P::Amount, P::NetQuantity}};

    for (const UserParamName& u : kUserParamNames)
        m_userNames[u.param] = u.name;
}

const OrderRequestHelper::ParamList& OrderRequestHelper::getRequired(const std::string& key) const
{
    auto it = m_required.find(key);
    return it == m_required.end() ? kEmpty : it->second;
}

const OrderRequestHelper::ParamList& OrderRequestHelper::getOptional(const std::string& key) const
{
    auto it = m_optional.find(key);
    return it == m_optional.end() ? kEmpty : it->second;
}

const OrderRequestHelper::ParamList& OrderRequestHelper::getChildParams(const std::string& key) const
{
    auto it = m_children.find(key);
    return it == m_children.end() ? kEmpty : it->second;
}

bool OrderRequestHelper::getAlternative(const std::string& key, ZelRequestParamsEnum required,
                                        ZelRequestParamsEnum* out) const
{
    auto it = m_alternatives.find(key);
    if (it == m_alternatives.end())
        return false;
    auto alt = it->second.find(required);
    if (alt == it->second.end())
        return false;
    if (out)
        *out = alt->second;
    return true;
}

const char* OrderRequestHelper::getUserName(ZelRequestParamsEnum param) const
{
    auto it = m_userNames.find(param);
    return it == m_userNames.end() ? "" : it->second;
}

} // namespace zel
