#include "core/marketdata/market_data_request.h"

#include <cstring>

#include "core/marketdata/market_data_fields.h"
#include "core/messages/message_fields.h"
#include "core/messages/time_utils.h"
#include "core/requests/trade_session_request.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

namespace {

// Closes every entry-type list: the server's marker for the bar volume.
constexpr char kVolumeEntryType = 'H';

void writeDateTime(merrow::IMessage* message, double serial, int dateTag, int timeTag)
{
    if (serial == 0)
        return;
    const std::string date = formatWireDate(serial);
    if (date.empty())
        return;
    message->setValue(dateTag, date.c_str());
    message->setValue(timeTag, formatWireTime(serial).c_str());
}

double readDateTime(const merrow::IMessage* message, int dateTag, int timeTag)
{
    const char* date = message->getValue(dateTag);
    return date != nullptr ? QORAdate2Ole(date, message->getValue(timeTag)) : 0.0;
}

} // namespace

void CMarketDataRequest::reset()
{
    m_entryTypes = 0;
    m_symbols.clear();
    m_tradingSessionID = "QORA";
    m_tradingSessionSubID.clear();
    m_subscriptionType = Snapshot;
    m_mdReqID.clear();
    m_timingInterval = 0;
    m_startDate = 0;
    m_endDate = 0;
    m_noSnapshot = 300;
    m_includeWeekends = false;
    m_marketDepth = 0;
    m_settlType.clear();
    m_hasSettlType = false;
    m_responseFormat.clear();
}

void CMarketDataRequest::addRelatedSymbol(const char* symbol)
{
    if (symbol != nullptr)
        m_symbols.emplace_back(symbol);
}

const char* CMarketDataRequest::getRelatedSymbol(int index) const
{
    return index >= 0 && index < getSymbolCount() ? m_symbols[index].c_str() : nullptr;
}

void CMarketDataRequest::setSettlType(const char* type)
{
    m_hasSettlType = type != nullptr;
    m_settlType = type != nullptr ? type : "";
}

merrow::IMessage* CMarketDataRequest::toMessage(merrow::IUserSession* session)
{
    if (m_subscriptionType < Snapshot || m_subscriptionType > Unsubscribe)
        return nullptr;
    merrow::IMessage* m = outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_MARKETDATAREQUEST);
    if (m == nullptr)
        return nullptr;
    m->setValue(IFixDefs::FLDTAG_MDREQID, m_mdReqID.c_str());
    m->setIntValue(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE, subscriptionTypeToWire(m_subscriptionType));
    m->setIntValue(IFixDefs::FLDTAG_MARKETDEPTH, m_marketDepth);
    m->setValue(IFixDefs::FLDTAG_QORAINCLUDEWEEKENDS, m_includeWeekends ? "true" : "false");
    if (m_subscriptionType != Snapshot)
        m->setIntValue(IFixDefs::FLDTAG_MDUPDATETYPE, 0);

    merrow::IFieldGroup* session0 = m->createGroupList(IFixDefs::FLDTAG_NOTRADINGSESSIONS)->appendGroup();
    session0->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, m_tradingSessionID.c_str());
    session0->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, m_tradingSessionSubID.c_str());

    // Leaving a subscription names only the request.
    if (m_subscriptionType == Unsubscribe)
        return m;

    std::vector<char> types;
    if (m_timingInterval != 0) {
        if (m_entryTypes & EntryBid)
            types.insert(types.end(), {IFixDefs::MDENTRYTYPE_BIDOPEN, IFixDefs::MDENTRYTYPE_BIDCLOSE,
                                       IFixDefs::MDENTRYTYPE_BIDHIGH, IFixDefs::MDENTRYTYPE_BIDLOW});
        if (m_entryTypes & EntryAsk)
            types.insert(types.end(), {IFixDefs::MDENTRYTYPE_ASKOPEN, IFixDefs::MDENTRYTYPE_ASKCLOSE,
                                       IFixDefs::MDENTRYTYPE_ASKHIGH, IFixDefs::MDENTRYTYPE_ASKLOW});
    } else {
        if (m_entryTypes & EntryBid)
            types.push_back(IFixDefs::MDENTRYTYPE_BID);
        if (m_entryTypes & EntryAsk)
            types.push_back(IFixDefs::MDENTRYTYPE_ASK);
    }
    if (m_entryTypes & EntryHigh)
        types.push_back(IFixDefs::MDENTRYTYPE_HIGH);
    if (m_entryTypes & EntryLow)
        types.push_back(IFixDefs::MDENTRYTYPE_LOW);
    types.push_back(kVolumeEntryType);

    if (m_hasSettlType)
        m->setValue(IFixDefs::FLDTAG_SETTLTYPE, m_settlType.c_str());
    merrow::IFieldGroupList* typeList = m->createGroupList(IFixDefs::FLDTAG_NOMDENTRYTYPES);
    for (char t : types)
        writeEntryType(typeList->appendGroup(), t);
    merrow::IFieldGroupList* symbols = m->createGroupList(IFixDefs::FLDTAG_NORELATEDSYM);
    for (const std::string& s : m_symbols)
        symbols->appendGroup()->setValue(IFixDefs::FLDTAG_SYMBOL, s.c_str());
    m->setIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL, m_timingInterval);
    writeDateTime(m, m_startDate, IFixDefs::FLDTAG_QORASTARTDATE, IFixDefs::FLDTAG_QORASTARTTIME);
    writeDateTime(m, m_endDate, IFixDefs::FLDTAG_QORAENDDATE, IFixDefs::FLDTAG_QORAENDTIME);
    if (m_noSnapshot > 0)
        m->setIntValue(IFixDefs::FLDTAG_QORANOSNAPSHOT, m_noSnapshot);
    if (!m_responseFormat.empty())
        m->setValue(IFixDefs::FLDTAG_RESPONSE_FORMAT, m_responseFormat.c_str());
    return m;
}

bool CMarketDataRequest::fill(merrow::IMessage* message)
{
    reset();
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_MARKETDATAREQUEST) != 0)
        return false;
    const int index = subscriptionTypeIndex(message);
    if (index < 0)
        return false;
    m_subscriptionType = index;
    m_mdReqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_MDREQID);
    m_marketDepth = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_MARKETDEPTH));
    const char* weekends = message->getValue(IFixDefs::FLDTAG_QORAINCLUDEWEEKENDS);
    m_includeWeekends = weekends != nullptr && std::strcmp(weekends, "true") == 0;
    if (merrow::IFieldGroupList* sessions = message->getGroupList(IFixDefs::FLDTAG_NOTRADINGSESSIONS)) {
        if (const merrow::IFieldGroup* s = sessions->get(0)) {
            m_tradingSessionID = fieldTextOrEmpty(s, IFixDefs::FLDTAG_TRADINGSESSIONID);
            m_tradingSessionSubID = fieldTextOrEmpty(s, IFixDefs::FLDTAG_TRADINGSESSIONSUBID);
        }
    }
    if (merrow::IFieldGroupList* types = message->getGroupList(IFixDefs::FLDTAG_NOMDENTRYTYPES)) {
        for (int i = 0; i < types->size(); ++i) {
            switch (readEntryType(types->get(i))) {
            case IFixDefs::MDENTRYTYPE_BID:
            case IFixDefs::MDENTRYTYPE_BIDOPEN:
            case IFixDefs::MDENTRYTYPE_BIDCLOSE:
            case IFixDefs::MDENTRYTYPE_BIDHIGH:
            case IFixDefs::MDENTRYTYPE_BIDLOW: m_entryTypes |= EntryBid; break;
            case IFixDefs::MDENTRYTYPE_ASK:
            case IFixDefs::MDENTRYTYPE_ASKOPEN:
            case IFixDefs::MDENTRYTYPE_ASKCLOSE:
            case IFixDefs::MDENTRYTYPE_ASKHIGH:
            case IFixDefs::MDENTRYTYPE_ASKLOW: m_entryTypes |= EntryAsk; break;
            case IFixDefs::MDENTRYTYPE_HIGH: m_entryTypes |= EntryHigh; break;
            case IFixDefs::MDENTRYTYPE_LOW: m_entryTypes |= EntryLow; break;
            default: break;
            }
        }
    }
    if (message->hasField(IFixDefs::FLDTAG_SETTLTYPE)) {
        m_hasSettlType = true;
        m_settlType = fieldTextOrEmpty(message, IFixDefs::FLDTAG_SETTLTYPE);
    }
    if (merrow::IFieldGroupList* symbols = message->getGroupList(IFixDefs::FLDTAG_NORELATEDSYM))
        for (int i = 0; i < symbols->size(); ++i)
            if (const char* s = symbols->get(i)->getValue(IFixDefs::FLDTAG_SYMBOL))
                m_symbols.emplace_back(s);
    m_timingInterval = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL));
    m_startDate = readDateTime(message, IFixDefs::FLDTAG_QORASTARTDATE, IFixDefs::FLDTAG_QORASTARTTIME);
    m_endDate = readDateTime(message, IFixDefs::FLDTAG_QORAENDDATE, IFixDefs::FLDTAG_QORAENDTIME);
    m_noSnapshot = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_QORANOSNAPSHOT));
    m_responseFormat = fieldTextOrEmpty(message, IFixDefs::FLDTAG_RESPONSE_FORMAT);
    return true;
}

} // namespace zel
