#include "core/requests/request_params.h"

namespace zel {

using P = ZelRequestParamsEnum;

const UserParamName kUserParamNames[32] = {
    {P::Command, "Command"},
    {P::AccountID, "AccountID"},
    {P::OfferID, "OfferID"},
    {P::TradeID, "TradeID"},
    {P::BuySell, "BuySell"},
    {P::Amount, "Amount"},
    {P::Rate, "Rate"},
    {P::RateStop, "RateStop"},
    {P::RateLimit, "RateLimit"},
    {P::TrailStepStop, "TrailStepStop"},
    {P::TrailStep, "TrailStep"},
    {P::TimeInForce, "TimeInForce"},
    {P::CustomID, "CustomID"},
    {P::OrderID, "OrderID"},
    {P::PegOffsetStop, "PegOffsetStop"},
    {P::PegOffsetLimit, "PegOffsetLimit"},
    {P::PegTypeStop, "PegTypeStop"},
    {P::PegTypeLimit, "PegTypeLimit"},
    {P::PegOffset, "PegOffset"},
    {P::PegType, "PegType"},
    {P::NetQuantity, "NetQuantity"},
    {P::OrderType, "OrderType"},
    {P::RateMin, "RateMin"},
    {P::RateMax, "RateMax"},
    {P::ContingencyID, "ContingencyID"},
    {P::SubscriptionStatus, "SubscriptionStatus"},
    {P::ClientRate, "ClientRate"},
    {P::ContingencyGroupType, "ContingencyGroupType"},
    {P::PrimaryQID, "PrimaryQID"},
    {P::AccountName, "AccountName"},
    {P::LookupKey, "LookupKey"},
    {P::LookupValue, "LookupValue"},
};

const char* getUserParamName(ZelRequestParamsEnum param)
{
    const int v = static_cast<int>(param);
    if (v < 1 || v > 32)
        return "";
    return kUserParamNames[v - 1].name;
}

void RequestParamsTranslation::clear()
{
    m_publicToInternal.clear();
    m_internalToName.clear();
}

void RequestParamsTranslation::build()
{
    clear();
    m_publicToInternal[P::AccountID] = paramAccountID;
    m_publicToInternal[P::OfferID] = paramOfferID;
    m_publicToInternal[P::TradeID] = paramTradeID;
    m_publicToInternal[P::BuySell] = paramBuySell;
    m_publicToInternal[P::Amount] = paramQuantity;
    m_publicToInternal[P::Rate] = paramRate;
    m_publicToInternal[P::RateStop] = paramStopRate;
    m_publicToInternal[P::RateLimit] = paramLimitRate;
    m_publicToInternal[P::TrailStepStop] = paramTrailUpdatePipsS;
    m_publicToInternal[P::TrailStep] = paramTrailUpdatePips;
    m_publicToInternal[P::TimeInForce] = paramGTC;
    m_publicToInternal[P::CustomID] = paramQTXT;
    m_publicToInternal[P::OrderID] = paramOrderID;
    m_publicToInternal[P::PegOffsetStop] = paramPegOffsetS;
    m_publicToInternal[P::PegOffsetLimit] = paramPegOffsetL;
    m_publicToInternal[P::PegTypeStop] = paramPegTypeS;
    m_publicToInternal[P::PegTypeLimit] = paramPegTypeL;
    m_publicToInternal[P::PegOffset] = paramPegOffset;
    m_publicToInternal[P::PegType] = paramPegType;
    m_publicToInternal[P::NetQuantity] = paramNetQuantity;
    m_publicToInternal[P::OrderType] = paramOrderType;
    m_publicToInternal[P::RateMin] = paramRate2;
    m_publicToInternal[P::RateMax] = paramRate3;
    m_publicToInternal[P::ContingencyID] = paramContingencyID;
    m_publicToInternal[P::SubscriptionStatus] = paramStatus;
    m_publicToInternal[P::ClientRate] = paramClientRate;
    m_publicToInternal[P::ContingencyGroupType] = paramContingencyType;
    m_publicToInternal[P::PrimaryQID] = paramPrimaryQID;
    m_publicToInternal[P::AccountName] = paramAccountName;

    m_internalToName[paramAccountID] = paramAccountID_NAME;
    m_internalToName[paramLoginID] = paramLoginID_NAME;
    m_internalToName[paramTraderID] = paramTraderID_NAME;
    m_internalToName[paramStage] = paramStage_NAME;
    m_internalToName[paramOfferID] = paramOfferID_NAME;
    m_internalToName[paramTradeID] = paramTradeID_NAME;
    m_internalToName[paramBuySell] = paramBuySell_NAME;
    m_internalToName[paramQuantity] = paramQuantity_NAME;
    m_internalToName[paramRate] = paramRate_NAME;
    m_internalToName[paramSide] = paramSide_NAME;
    m_internalToName[paramAtMarket] = paramAtMarket_NAME;
    m_internalToName[paramStopRate] = paramStopRate_NAME;
    m_internalToName[paramLimitRate] = paramLimitRate_NAME;
    m_internalToName[paramTrailStep] = paramTrailStep_NAME;
    m_internalToName[paramTrailUpdatePips] = paramTrailUpdatePips_NAME;
    m_internalToName[paramTrailUpdatePipsS] = paramTrailUpdatePipsS_NAME;
    m_internalToName[paramTrailUpdatePipsL] = paramTrailUpdatePipsL_NAME;
    m_internalToName[paramGTC] = paramGTC_NAME;
    m_internalToName[paramRateID] = paramRateID_NAME;
    m_internalToName[paramQTXT] = paramQTXT_NAME;
    m_internalToName[paramOrderID] = paramOrderID_NAME;
    m_internalToName[paramLifetime] = paramLifetime_NAME;
    m_internalToName[paramOfferBid] = paramOfferBid_NAME;
    m_internalToName[paramOfferAsk] = paramOfferAsk_NAME;
    m_internalToName[paramPassword] = paramPassword_NAME;
    m_internalToName[paramRefOrderID] = paramRefOrderID_NAME;
    m_internalToName[paramReportID] = paramReportID_NAME;
    m_internalToName[paramOfferStatus] = paramOfferStatus_NAME;
    m_internalToName[paramMsgType] = paramMsgType_NAME;
    m_internalToName[paramMsgFeature] = paramMsgFeature_NAME;
    m_internalToName[paramMsgText] = paramMsgText_NAME;
    m_internalToName[paramMsgTo] = paramMsgTo_NAME;
    m_internalToName[paramMsgSubject] = paramMsgSubject_NAME;
    m_internalToName[paramMsgDelete] = paramMsgDelete_NAME;
    m_internalToName[paramEE] = paramEE_NAME;
    m_internalToName[paramBankID] = paramBankID_NAME;
    m_internalToName[paramBankRefID] = paramBankRefID_NAME;
    m_internalToName[paramHistMaxSize] = paramHistMaxSize_NAME;
    m_internalToName[paramMarketStatus] = paramMarketStatus_NAME;
    m_internalToName[paramMarketStatusMessage] = paramMarketStatusMessage_NAME;
    m_internalToName[paramMarketStatusInt] = paramMarketStatusInt_NAME;
    m_internalToName[paramOfferIDInt] = paramOfferIDInt_NAME;
    m_internalToName[paramRollSell] = paramRollSell_NAME;
    m_internalToName[paramRollBuy] = paramRollBuy_NAME;
    m_internalToName[paramRollMultiplier] = paramRollMultiplier_NAME;
    m_internalToName[paramPegOffsetS] = paramPegOffsetS_NAME;
    m_internalToName[paramPegOffsetL] = paramPegOffsetL_NAME;
    m_internalToName[paramContingencyID] = paramContingencyID_NAME;
    m_internalToName[paramPegTypeS] = paramPegTypeS_NAME;
    m_internalToName[paramPegTypeL] = paramPegTypeL_NAME;
    m_internalToName[paramPegOffset] = paramPegOffset_NAME;
    m_internalToName[paramPegType] = paramPegType_NAME;
    m_internalToName[paramNetQuantity] = paramNetQuantity_NAME;
    m_internalToName[paramDateFrom] = paramDateFrom_NAME;
    m_internalToName[paramDateTo] = paramDateTo_NAME;
    m_internalToName[paramIncludeWeekends] = paramIncludeWeekends_NAME;
    m_internalToName[paramBatchSize] = paramBatchSize_NAME;
    m_internalToName[paramListID] = paramListID_NAME;
    m_internalToName[paramOrderType] = paramOrderType_NAME;
    m_internalToName[paramValueDate] = paramValueDate_NAME;
    m_internalToName[paramExpireDate] = paramExpireDate_NAME;
    m_internalToName[paramRate2] = paramRate2_NAME;
    m_internalToName[paramRate3] = paramRate3_NAME;
    m_internalToName[paramParties] = paramParties_NAME;
    m_internalToName[paramContingencyType] = paramContingencyType_NAME;
    m_internalToName[paramPrimaryQID] = paramPrimaryQID_NAME;
    m_internalToName[paramStatus] = paramStatus_NAME;
    m_internalToName[paramClientRate] = paramClientRate_NAME;
    m_internalToName[paramAccountName] = paramAccountName_NAME;
}

const char* RequestParamsTranslation::getParamName(ZelRequestParamsEnum param) const
{
    RequestParamsEnum internal;
    return toInternal(param, &internal) ? getParamName(internal) : nullptr;
}

const char* RequestParamsTranslation::getParamName(RequestParamsEnum param) const
{
    const auto it = m_internalToName.find(param);
    return it != m_internalToName.end() ? it->second : nullptr;
}

bool RequestParamsTranslation::toInternal(ZelRequestParamsEnum param, RequestParamsEnum* out) const
{
    const auto it = m_publicToInternal.find(param);
    if (it == m_publicToInternal.end())
        return false;
    *out = it->second;
    return true;
}

} // namespace zel
