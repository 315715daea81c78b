#include "core/marketdata/trading_session_status.h"

#include <cstring>

#include "core/messages/message_fields.h"
#include "core/messages/time_utils.h"
#include "core/requests/trade_session_request.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

namespace {

// "YYYYMMDD-hh:mm:ss": the date, then the time from offset 9.
double readTime(const merrow::IFieldGroup* message, int tag)
{
    const char* text = message->getValue(tag);
    if (text == nullptr)
        return 0.0;
    return QORAdate2Ole(text, std::strlen(text) > 9 ? text + 9 : nullptr);
}

// Written with their seconds and zero-padded ("YYYYMMDD-hh:mm:ss"), not as
// "hh:mm:00" with blank-padded fields: readTime reads every field back, and a
// status relayed by the library keeps its times to the second.
void writeTime(merrow::IFieldGroup* message, int tag, double serial)
{
    if (serial == 0)
        return;
    const std::string text = OleDate2QORA(serial);
    if (!text.empty())
        message->setValue(tag, text.c_str());
}

} // namespace

void CTradingSessionStatus::reset()
{
    m_reqID.clear();
    m_sessionID = "QORA";
    m_sessionSubID.clear();
    m_mode = 0;
    m_status = TradingSessionStatusUnknown;
    m_rejReason.clear();
    m_startTime = m_openTime = m_closeTime = m_transactTime = 0;
    m_text.clear();
    m_serverTimeZone = 0;
    m_currencies.clear();
    m_paramNames.clear();
    m_paramValues.clear();
}

const CCurrency* CTradingSessionStatus::getCurrency(int index) const
{
    return index >= 0 && index < getCurrencyCount() ? m_currencies[index].get() : nullptr;
}

void CTradingSessionStatus::addCurrency(std::unique_ptr<CCurrency> currency)
{
    if (currency)
        m_currencies.push_back(std::move(currency));
}

const char* CTradingSessionStatus::getParamName(int index) const
{
    return index >= 0 && index < getParamCount() ? m_paramNames[index].c_str() : nullptr;
}

const char* CTradingSessionStatus::getParam(int index) const
{
    return index >= 0 && index < getParamCount() ? m_paramValues[index].c_str() : nullptr;
}

const char* CTradingSessionStatus::getParam(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    for (size_t i = 0; i < m_paramNames.size(); ++i)
        if (m_paramNames[i] == name)
            return m_paramValues[i].c_str();
    return nullptr;
}

void CTradingSessionStatus::addParam(const char* name, const char* value)
{
    if (name == nullptr)
        return;
    m_paramNames.emplace_back(name);
    m_paramValues.emplace_back(value != nullptr ? value : "");
}

bool CTradingSessionStatus::fill(merrow::IMessage* message)
{
    reset();
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_TRADINGSESSIONSTATUS) != 0)
        return false;
    m_reqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TRADSESREQID);
    readFieldText(message, IFixDefs::FLDTAG_TRADINGSESSIONID, &m_sessionID);
    m_sessionSubID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TRADINGSESSIONSUBID);
    m_mode = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_TRADSESMODE));
    // The status is written by toMessage, so it is read back as well.
    const int64_t status = message->getIntValue(IFixDefs::FLDTAG_TRADSESSTATUS);
    m_status = status >= TradingSessionStatusUnknown && status <= TradingSessionStatusRequestRejected
                   ? static_cast<ETradingSessionStatus>(status)
                   : TradingSessionStatusUnknown;
    m_rejReason = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TRADSESSTATUSREJREASON);
    m_startTime = readTime(message, IFixDefs::FLDTAG_TRADSESSTARTTIME);
    m_openTime = readTime(message, IFixDefs::FLDTAG_TRADSESOPENTIME);
    m_closeTime = readTime(message, IFixDefs::FLDTAG_TRADSESCLOSETIME);
    m_text = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TEXT);
    m_serverTimeZone = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_QORASERVERTIMEZONE));
    m_transactTime = readTime(message, IFixDefs::FLDTAG_TRANSACTTIME);

    if (const merrow::IFieldGroupList* symbols = message->getGroupList(IFixDefs::FLDTAG_NORELATEDSYM)) {
        for (int i = 0; i < symbols->size(); ++i) {
            const merrow::IFieldGroup* s = symbols->get(i);
            m_currencies.push_back(std::make_unique<CCurrency>(
                fieldTextOrEmpty(s, IFixDefs::FLDTAG_SYMBOL), fieldTextOrEmpty(s, IFixDefs::FLDTAG_CURRENCY),
                static_cast<int>(s->getIntValue(IFixDefs::FLDTAG_QORASYMPRECISION)),
                fieldTextOrEmpty(s, IFixDefs::FLDTAG_QORASYMID), s->getDoubleValue(IFixDefs::FLDTAG_ROUNDLOT)));
        }
    }
    if (const merrow::IFieldGroupList* params = message->getGroupList(IFixDefs::FLDTAG_QORANOPARAM)) {
        for (int i = 0; i < params->size(); ++i) {
            const merrow::IFieldGroup* p = params->get(i);
            m_paramNames.push_back(fieldTextOrEmpty(p, IFixDefs::FLDTAG_QORAPARAMNAME));
            m_paramValues.push_back(fieldTextOrEmpty(p, IFixDefs::FLDTAG_QORAPARAMVALUE));
        }
    }
    return true;
}

merrow::IMessage* CTradingSessionStatus::toMessage(merrow::IUserSession* session)
{
    merrow::IMessage* m = outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_TRADINGSESSIONSTATUS);
    if (m == nullptr)
        return nullptr;
    m->setValue(IFixDefs::FLDTAG_TRADSESREQID, m_reqID.c_str());
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, m_sessionID.c_str());
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, m_sessionSubID.c_str());
    m->setIntValue(IFixDefs::FLDTAG_TRADSESMODE, m_mode);
    m->setIntValue(IFixDefs::FLDTAG_TRADSESSTATUS, m_status);
    m->setValue(IFixDefs::FLDTAG_TRADSESSTATUSREJREASON, m_rejReason.c_str());
    m->setValue(IFixDefs::FLDTAG_TEXT, m_text.c_str());
    m->setIntValue(IFixDefs::FLDTAG_QORASERVERTIMEZONE, m_serverTimeZone);
    if (!m_currencies.empty()) {
        merrow::IFieldGroupList* symbols = m->createGroupList(IFixDefs::FLDTAG_NORELATEDSYM);
        for (const auto& c : m_currencies) {
            merrow::IFieldGroup* s = symbols->appendGroup();
            s->setValue(IFixDefs::FLDTAG_SYMBOL, c->getSymbol());
            s->setValue(IFixDefs::FLDTAG_QORASYMID, c->getID());
            s->setIntValue(IFixDefs::FLDTAG_QORASYMPRECISION, c->getPrecision());
            s->setValue(IFixDefs::FLDTAG_CURRENCY, c->getCurrency());
            s->setDoubleValue(IFixDefs::FLDTAG_ROUNDLOT, c->getRoundLot());
        }
    }
    if (!m_paramNames.empty()) {
        merrow::IFieldGroupList* params = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
        for (size_t i = 0; i < m_paramNames.size(); ++i) {
            merrow::IFieldGroup* p = params->appendGroup();
            p->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, m_paramNames[i].c_str());
            p->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, m_paramValues[i].c_str());
        }
    }
    writeTime(m, IFixDefs::FLDTAG_TRANSACTTIME, m_transactTime);
    writeTime(m, IFixDefs::FLDTAG_TRADSESCLOSETIME, m_closeTime);
    writeTime(m, IFixDefs::FLDTAG_TRADSESOPENTIME, m_openTime);
    writeTime(m, IFixDefs::FLDTAG_TRADSESSTARTTIME, m_startTime);
    return m;
}

} // namespace zel
