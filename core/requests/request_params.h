#pragma once
// The request parameter vocabulary: the wire fields of DAS requests
// (RequestParamsEnum, each with its field name), the translation of the public
// parameters (ZelRequestParamsEnum) to those fields, and the names the order
// builder uses for the public parameters in its error texts.

#include <cstdint>
#include <map>

#include "zel/value_map.h"

namespace zel {

// DAS wire fields. Several fields share a name ("Status" three times, "OfferID"
// twice); the members stay distinct.
enum RequestParamsEnum : int32_t {
    paramAccountID = 0,
    paramLoginID = 1,
    paramTraderID = 2,
    paramStage = 3,
    paramOfferID = 4,
    paramTradeID = 5,
    paramBuySell = 6,
    paramQuantity = 7,
    paramRate = 8,
    paramSide = 9,
    paramAtMarket = 10,
    paramStopRate = 11,
    paramLimitRate = 12,
    paramTrailStep = 13,
    paramTrailUpdatePips = 14,
    paramTrailUpdatePipsS = 15,
    paramTrailUpdatePipsL = 16,
    paramGTC = 17,
    paramRateID = 18,
    paramQTXT = 19,
    paramOrderID = 20,
    paramLifetime = 21,
    paramOfferBid = 22,
    paramOfferAsk = 23,
    paramPassword = 24,
    paramRefOrderID = 25,
    paramReportID = 26,
    paramOfferStatus = 27,
    paramMsgType = 28,
    paramMsgFeature = 29,
    paramMsgText = 30,
    paramMsgTo = 31,
    paramMsgSubject = 32,
    paramMsgDelete = 33,
    paramEE = 34,
    paramBankID = 35,
    paramBankRefID = 36,
    paramHistMaxSize = 37,
    paramMarketStatus = 38,
    paramMarketStatusMessage = 39,
    paramMarketStatusInt = 40,
    paramOfferIDInt = 41,
    paramRollSell = 42,
    paramRollBuy = 43,
    paramRollMultiplier = 44,
    paramPegOffsetS = 45,
    paramPegOffsetL = 46,
    paramContingencyID = 47,
    paramPegTypeS = 48,
    paramPegTypeL = 49,
    paramPegOffset = 50,
    paramPegType = 51,
    paramNetQuantity = 52,
    paramDateFrom = 53,
    paramDateTo = 54,
    paramIncludeWeekends = 55,
    paramBatchSize = 56,
    paramListID = 57,
    paramOrderType = 58,
    paramValueDate = 59,
    paramExpireDate = 60,
    paramRate2 = 61,
    paramRate3 = 62,
    paramParties = 63,
    paramContingencyType = 64,
    paramPrimaryQID = 65,
    paramStatus = 66,
    paramClientRate = 67,
    paramAccountName = 68,
};

// The field name of each member, as it goes on the wire.
inline constexpr const char* paramAccountID_NAME = "AcctID";
inline constexpr const char* paramLoginID_NAME = "LoginID";
inline constexpr const char* paramTraderID_NAME = "TraderID";
inline constexpr const char* paramStage_NAME = "Stage";
inline constexpr const char* paramOfferID_NAME = "OfferID";
inline constexpr const char* paramTradeID_NAME = "TradeID";
inline constexpr const char* paramBuySell_NAME = "BuySell";
inline constexpr const char* paramQuantity_NAME = "Quantity";
inline constexpr const char* paramRate_NAME = "Rate";
inline constexpr const char* paramSide_NAME = "Side";
inline constexpr const char* paramAtMarket_NAME = "AtMarket";
inline constexpr const char* paramStopRate_NAME = "RateS";
inline constexpr const char* paramLimitRate_NAME = "RateL";
inline constexpr const char* paramTrailStep_NAME = "TrailStep";
inline constexpr const char* paramTrailUpdatePips_NAME = "TrailUpdatePips";
inline constexpr const char* paramTrailUpdatePipsS_NAME = "TrailUpdatePipsS";
inline constexpr const char* paramTrailUpdatePipsL_NAME = "TrailUpdatePipsL";
inline constexpr const char* paramGTC_NAME = "GTC";
inline constexpr const char* paramRateID_NAME = "RateID";
inline constexpr const char* paramQTXT_NAME = "QTXT";
inline constexpr const char* paramOrderID_NAME = "OrderID";
inline constexpr const char* paramLifetime_NAME = "LifeTime";
inline constexpr const char* paramOfferBid_NAME = "Bid";
inline constexpr const char* paramOfferAsk_NAME = "Ask";
inline constexpr const char* paramPassword_NAME = "Psw";
inline constexpr const char* paramRefOrderID_NAME = "RefOrderID";
inline constexpr const char* paramReportID_NAME = "ReportID";
inline constexpr const char* paramOfferStatus_NAME = "Status";
inline constexpr const char* paramMsgType_NAME = "Type";
inline constexpr const char* paramMsgFeature_NAME = "Feature";
inline constexpr const char* paramMsgText_NAME = "Text";
inline constexpr const char* paramMsgTo_NAME = "To";
inline constexpr const char* paramMsgSubject_NAME = "Subject";
inline constexpr const char* paramMsgDelete_NAME = "Delete";
inline constexpr const char* paramEE_NAME = "EE";
inline constexpr const char* paramBankID_NAME = "BANK_ID";
inline constexpr const char* paramBankRefID_NAME = "BANK_REF_ID";
inline constexpr const char* paramHistMaxSize_NAME = "size";
inline constexpr const char* paramMarketStatus_NAME = "Status";
inline constexpr const char* paramMarketStatusMessage_NAME = "Msg";
inline constexpr const char* paramMarketStatusInt_NAME = "IntrFlag";
inline constexpr const char* paramOfferIDInt_NAME = "OfferID";
inline constexpr const char* paramRollSell_NAME = "IntrSel";
inline constexpr const char* paramRollBuy_NAME = "IntrBuy";
inline constexpr const char* paramRollMultiplier_NAME = "IntrMult";
inline constexpr const char* paramPegOffsetS_NAME = "PRICE_OFFSET_PIPS_S";
inline constexpr const char* paramPegOffsetL_NAME = "PRICE_OFFSET_PIPS_L";
inline constexpr const char* paramContingencyID_NAME = "CONTINGENCY_ID";
inline constexpr const char* paramPegTypeS_NAME = "PEG_TYPES";
inline constexpr const char* paramPegTypeL_NAME = "PEG_TYPEL";
inline constexpr const char* paramPegOffset_NAME = "PRICE_OFFSET_PIPS";
inline constexpr const char* paramPegType_NAME = "PEG_TYPE";
inline constexpr const char* paramNetQuantity_NAME = "NET_QTY_FLG";
inline constexpr const char* paramDateFrom_NAME = "DtFrom";
inline constexpr const char* paramDateTo_NAME = "DtTo";
inline constexpr const char* paramIncludeWeekends_NAME = "IncWeekends";
inline constexpr const char* paramBatchSize_NAME = "BatchSize";
inline constexpr const char* paramListID_NAME = "LIST_ID";
inline constexpr const char* paramOrderType_NAME = "OrderType";
inline constexpr const char* paramValueDate_NAME = "VALUE_DATE";
inline constexpr const char* paramExpireDate_NAME = "EXPIRE_DATE";
inline constexpr const char* paramRate2_NAME = "Rate2";
inline constexpr const char* paramRate3_NAME = "RATE3";
inline constexpr const char* paramParties_NAME = "Parties";
inline constexpr const char* paramContingencyType_NAME = "CONTINGENCY_TYPE";
inline constexpr const char* paramPrimaryQID_NAME = "PRIMARY_QID";
inline constexpr const char* paramStatus_NAME = "Status";
inline constexpr const char* paramClientRate_NAME = "CLIENTRATE";
inline constexpr const char* paramAccountName_NAME = "AcctReportID";

// The name of a public parameter in error texts ("AccountID", "LookupKey"); "" for
// a value outside the enumeration. Static texts.
const char* getUserParamName(ZelRequestParamsEnum param);

// A public parameter and its name in error texts; kUserParamNames lists all 32 in
// value order.
struct UserParamName {
    ZelRequestParamsEnum param;
    const char* name;
};
extern const UserParamName kUserParamNames[32];

// The two translation maps a DAS request factory owns: public parameter to wire
// member (29 entries: Command, LookupKey and LookupValue have none) and wire member
// to field name (69 entries). Empty until build().
// [Threading] Built once by its owner, then only read; reads need no lock.
class RequestParamsTranslation {
public:
    RequestParamsTranslation() = default;

    // Clears and fills both maps.
    void build();
    void clear();

    // The wire field name of a public parameter through both maps; null when it has
    // no wire member (or before build). Static texts.
    const char* getParamName(ZelRequestParamsEnum param) const;
    // The wire field name of a member; null when unknown.
    const char* getParamName(RequestParamsEnum param) const;
    // The wire member of a public parameter; false when it has none.
    bool toInternal(ZelRequestParamsEnum param, RequestParamsEnum* out) const;

    const std::map<ZelRequestParamsEnum, RequestParamsEnum>& publicToInternal() const { return m_publicToInternal; }
    const std::map<RequestParamsEnum, const char*>& internalToName() const { return m_internalToName; }

private:
    std::map<ZelRequestParamsEnum, RequestParamsEnum> m_publicToInternal;
    std::map<RequestParamsEnum, const char*> m_internalToName;
};

} // namespace zel
