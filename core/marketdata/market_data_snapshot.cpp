#include "core/marketdata/market_data_snapshot.h"

#include <cstring>

#include "core/marketdata/market_data_fields.h"
#include "core/messages/message_fields.h"
#include "core/messages/time_utils.h"
#include "core/messages/wire_values.h"
#include "core/requests/trade_session_request.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

void CMarketDataSnapshot::reset()
{
    mQuoteID.clear();
    mInstrument.clear();
    mDateTime = 0;
    mBidOpen = mBidHigh = mBidLow = mBidClose = 0;
    mAskOpen = mAskHigh = mAskLow = mAskClose = 0;
    mLow = mHigh = 0;
    mInterval = 0;
    mComplete = true;
    mMDReqID.clear();
    mTradingSessionID = "QORA";
    mTradingSessionSubID.clear();
    mContinuousFlag = 0;
    mBidId.clear();
    mAskId.clear();
    mBidQuoteCondition.clear();
    mAskQuoteCondition.clear();
    mBidQuoteType = mAskQuoteType = -1;
    mBidExpireDateTime = mAskExpireDateTime = 0;
    mSymID.clear();
}

bool CMarketDataSnapshot::updateEntry(char type, double price, const char* date, const char* time,
                                      const char* quoteID)
{
    if (type == '\0' || price == 0)
        return false;
    double* target = nullptr;
    switch (type) {
    case IFixDefs::MDENTRYTYPE_BIDOPEN: target = &mBidOpen; break;
    case IFixDefs::MDENTRYTYPE_BIDCLOSE: target = &mBidClose; break;
    case IFixDefs::MDENTRYTYPE_BIDHIGH: target = &mBidHigh; break;
    case IFixDefs::MDENTRYTYPE_BIDLOW: target = &mBidLow; break;
    case IFixDefs::MDENTRYTYPE_ASKOPEN: target = &mAskOpen; break;
    case IFixDefs::MDENTRYTYPE_ASKCLOSE: target = &mAskClose; break;
    case IFixDefs::MDENTRYTYPE_ASKHIGH: target = &mAskHigh; break;
    case IFixDefs::MDENTRYTYPE_ASKLOW: target = &mAskLow; break;
    default:
        // The single tick prices mean nothing in a bar.
        if (mInterval != 0)
            return false;
        switch (type) {
        case IFixDefs::MDENTRYTYPE_BID: target = &mBidClose; break;
        case IFixDefs::MDENTRYTYPE_ASK: target = &mAskClose; break;
        case IFixDefs::MDENTRYTYPE_LOW: target = &mLow; break;
        case IFixDefs::MDENTRYTYPE_HIGH: target = &mHigh; break;
        default: return false;
        }
    }
    *target = price;
    if (date != nullptr && time != nullptr)
        mDateTime = QORAdate2Ole(date, time);
    if (quoteID != nullptr && quoteID[0] != '\0')
        mQuoteID = quoteID;
    return true;
}

bool CMarketDataSnapshot::isValid() const
{
    if (mInstrument.empty() || mDateTime == 0)
        return false;
    if (mInterval != 0)
        return (mAskOpen != 0 && mAskHigh != 0 && mAskLow != 0 && mAskClose != 0) ||
               (mBidOpen != 0 && mBidHigh != 0 && mBidLow != 0 && mBidClose != 0);
    return mAskOpen != 0 || mBidOpen != 0 || mAskClose != 0 || mBidClose != 0;
}

const char* CMarketDataSnapshot::getIntervalString() const
{
    switch (mInterval) {
    case -1: return "custom period";
    case 0: return "tick";
    case 1: return "1 minute";
    case 2: return "5 minutes";
    case 3: return "15 minutes";
    case 4: return "30 minutes";
    case 5: return "1 hour";
    case 6: return "1 day";
    case 7: return "1 week";
    case 8: return "1 month";
    case 9: return "1 year";
    default: return "";
    }
}

std::string CMarketDataSnapshot::toString() const
{
    std::string s;
    auto text = [&s](const char* name, const std::string& v) {
        if (!s.empty())
            s += ' ';
        s += name;
        s += '=';
        s += v;
    };
    auto number = [&text](const char* name, double v) { text(name, formatWireDouble(v)); };
    auto integer = [&text](const char* name, int v) { text(name, std::to_string(v)); };
    text("mQuoteID", mQuoteID);
    text("mInstrument", mInstrument);
    text("mDateTime", OleDate2QORA(mDateTime));
    number("mBidOpen", mBidOpen);
    number("mBidHigh", mBidHigh);
    number("mBidLow", mBidLow);
    number("mBidClose", mBidClose);
    number("mAskOpen", mAskOpen);
    number("mAskHigh", mAskHigh);
    number("mAskLow", mAskLow);
    number("mAskClose", mAskClose);
    number("mLow", mLow);
    number("mHigh", mHigh);
    text("mInterval", getIntervalString());
    text("mComplete", mComplete ? "true" : "false");
    text("mMDReqID", mMDReqID);
    text("mTradingSessionID", mTradingSessionID);
    text("mTradingSessionSubID", mTradingSessionSubID);
    integer("mContinuousFlag", mContinuousFlag);
    text("mBidId", mBidId);
    text("mAskId", mAskId);
    text("mBidQuoteCondition", mBidQuoteCondition);
    text("mAskQuoteCondition", mAskQuoteCondition);
    integer("mBidQuoteType", mBidQuoteType);
    integer("mAskQuoteType", mAskQuoteType);
    text("mBidExpireDateTime", OleDate2QORA(mBidExpireDateTime));
    text("mAskExpireDateTime", OleDate2QORA(mAskExpireDateTime));
    return s;
}

bool CMarketDataSnapshot::fill(merrow::IMessage* message)
{
    reset();
    if (message == nullptr ||
        std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH) != 0)
        return false;
    merrow::IFieldGroupList* entries = message->getGroupList(IFixDefs::FLDTAG_NOMDENTRIES);
    if (entries == nullptr)
        return false;
    mMDReqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_MDREQID);
    mContinuousFlag = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG));
    mInstrument = fieldTextOrEmpty(message, IFixDefs::FLDTAG_SYMBOL);
    mInterval = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL));
    mSymID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_QORASYMID);

    for (int i = 0; i < entries->size(); ++i) {
        const merrow::IFieldGroup* e = entries->get(i);
        const char type = readEntryType(e);
        updateEntry(type, e->getDoubleValue(IFixDefs::FLDTAG_MDENTRYPX), e->getValue(IFixDefs::FLDTAG_MDENTRYDATE),
                    e->getValue(IFixDefs::FLDTAG_MDENTRYTIME), e->getValue(IFixDefs::FLDTAG_QUOTEENTRYID));
        if (type == IFixDefs::MDENTRYTYPE_BID || type == IFixDefs::MDENTRYTYPE_ASK) {
            const bool bid = type == IFixDefs::MDENTRYTYPE_BID;
            (bid ? mBidId : mAskId) = fieldTextOrEmpty(e, IFixDefs::FLDTAG_QUOTEENTRYID);
            (bid ? mBidQuoteCondition : mAskQuoteCondition) = fieldTextOrEmpty(e, IFixDefs::FLDTAG_QUOTECONDITION);
            if (e->hasField(IFixDefs::FLDTAG_QUOTETYPE))
                (bid ? mBidQuoteType : mAskQuoteType) = static_cast<int>(e->getIntValue(IFixDefs::FLDTAG_QUOTETYPE));
            const char* expireDate = e->getValue(IFixDefs::FLDTAG_EXPIREDATE);
            const char* expireTime = e->getValue(IFixDefs::FLDTAG_EXPIRETIME);
            if (expireDate != nullptr && expireTime != nullptr)
                (bid ? mBidExpireDateTime : mAskExpireDateTime) = QORAdate2Ole(expireDate, expireTime);
        }
        if (const char* id = nonEmptyValue(e, IFixDefs::FLDTAG_TRADINGSESSIONID))
            mTradingSessionID = id;
        if (const char* sub = nonEmptyValue(e, IFixDefs::FLDTAG_TRADINGSESSIONSUBID))
            mTradingSessionSubID = sub;
    }
    return true;
}

merrow::IMessage* CMarketDataSnapshot::toMessage(merrow::IUserSession* session)
{
    merrow::IMessage* m =
        outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH);
    if (m == nullptr)
        return nullptr;
    m->setValue(IFixDefs::FLDTAG_MDREQID, mMDReqID.c_str());
    m->setValue(IFixDefs::FLDTAG_SYMBOL, mInstrument.c_str());
    m->setIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL, mInterval);
    m->setIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG, mContinuousFlag);
    m->setValue(IFixDefs::FLDTAG_QORASYMID, mSymID.c_str());

    const std::string date = mDateTime != 0 ? formatWireDate(mDateTime) : std::string();
    const std::string time = mDateTime != 0 ? formatWireTime(mDateTime) : std::string();
    merrow::IFieldGroupList* entries = m->createGroupList(IFixDefs::FLDTAG_NOMDENTRIES);
    auto add = [&](char type, double price) {
        merrow::IFieldGroup* e = entries->appendGroup();
        writeEntryType(e, type);
        // Six decimals in the C locale: fractional pips survive, a decimal comma never appears.
        e->setValue(IFixDefs::FLDTAG_MDENTRYPX, formatWireDouble(price).c_str());
        if (!date.empty()) {
            e->setValue(IFixDefs::FLDTAG_MDENTRYDATE, date.c_str());
            e->setValue(IFixDefs::FLDTAG_MDENTRYTIME, time.c_str());
        }
        if (!mQuoteID.empty())
            e->setValue(IFixDefs::FLDTAG_QUOTEENTRYID, mQuoteID.c_str());
    };
    if (mInterval == 0) {
        add(IFixDefs::MDENTRYTYPE_BID, mBidClose);
        add(IFixDefs::MDENTRYTYPE_ASK, mAskClose);
    } else {
        const struct {
            char type;
            double price;
        } bars[] = {{IFixDefs::MDENTRYTYPE_BIDOPEN, mBidOpen},   {IFixDefs::MDENTRYTYPE_BIDCLOSE, mBidClose},
                    {IFixDefs::MDENTRYTYPE_BIDHIGH, mBidHigh},   {IFixDefs::MDENTRYTYPE_BIDLOW, mBidLow},
                    {IFixDefs::MDENTRYTYPE_ASKOPEN, mAskOpen},   {IFixDefs::MDENTRYTYPE_ASKCLOSE, mAskClose},
                    {IFixDefs::MDENTRYTYPE_ASKHIGH, mAskHigh},   {IFixDefs::MDENTRYTYPE_ASKLOW, mAskLow}};
        for (const auto& b : bars)
            if (b.price != 0)
                add(b.type, b.price);
    }
    return m;
}

} // namespace zel
