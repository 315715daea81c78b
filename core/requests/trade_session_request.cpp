#include "core/requests/trade_session_request.h"

#include <cstdio>

#include "core/messages/wire_values.h"
#include "core/requests/party_liaison.h"
#include "merrow/connection_manager.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

namespace {

constexpr const char* kQTXT = "QTXT";
// Sent as the custom text when the caller gave none.
constexpr const char* kDefaultQTXT = "ZLQW";
// The custom-text value that asks for no custom text at all.
constexpr const char* kNoQTXT = "!=";

void addParam(merrow::IFieldGroupList* list, const char* name, const char* value)
{
    merrow::IFieldGroup* entry = list->appendGroup();
    entry->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, name);
    entry->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, value);
}

} // namespace

merrow::IMessageFactory* outgoingMessageFactory(merrow::IUserSession* session)
{
    merrow::IMessageFactory* factory = session != nullptr ? session->getMessageFactory() : nullptr;
    return factory != nullptr ? factory : merrow::getMessageFactory();
}

void CZDASTradeSessionRequest::setParameter(const char* name, const char* value)
{
    if (name == nullptr)
        return;
    const char* v = value != nullptr ? value : "";
    for (auto& p : m_params) {
        if (equalsIgnoreCase(p.first.c_str(), name)) {
            p.second = v;
            return;
        }
    }
    m_params.emplace_back(name, v);
}

const char* CZDASTradeSessionRequest::getParameter(const char* name) const
{
    for (const auto& p : m_params)
        if (equalsIgnoreCase(p.first.c_str(), name))
            return p.second.c_str();
    return "";
}

std::map<std::string, std::string> CZDASTradeSessionRequest::getParameters() const
{
    std::map<std::string, std::string> copy;
    for (const auto& p : m_params)
        copy.emplace(p.first, p.second);
    return copy;
}

const char* CZDASTradeSessionRequest::getParamName(int index) const
{
    return index >= 0 && index < getParamCount() ? m_params[index].first.c_str() : nullptr;
}

const char* CZDASTradeSessionRequest::getParamValue(int index) const
{
    return index >= 0 && index < getParamCount() ? m_params[index].second.c_str() : nullptr;
}

bool CZDASTradeSessionRequest::ensureRequestID(merrow::IUserSession* session)
{
    if (!m_requestID.empty())
        return true;
    if (session == nullptr)
        return false;
    char* id = session->newRequestID();
    if (id == nullptr)
        return false;
    m_requestID = id;
    merrow::ConnectionManagerEx::freePointer(id);
    return !m_requestID.empty();
}

void CZDASTradeSessionRequest::setTradingSession(merrow::IUserSession* session, merrow::IMessage* message)
{
    const merrow::TradingSessionDesc* desc = session->getTradingSession();
    if (desc == nullptr)
        return;
    message->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, desc->getID());
    message->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, desc->getSubID());
}

merrow::IMessage* CZDASTradeSessionRequest::toMessage(merrow::IUserSession* session)
{
    if (session == nullptr || !ensureRequestID(session))
        return nullptr;
    merrow::IMessage* message = outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_QORAREQUEST);
    if (message == nullptr)
        return nullptr;
    setTradingSession(session, message);
    message->setValue(IFixDefs::FLDTAG_TESTREQID, m_requestID.c_str());
    char rid[16];
    std::snprintf(rid, sizeof rid, "%d", static_cast<int>(m_rid));
    message->setValue(IFixDefs::FLDTAG_QORACOMMANDID, rid);

    merrow::IFieldGroupList* list = message->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    bool metQTXT = false;
    for (const auto& p : m_params) {
        if (!metQTXT && equalsIgnoreCase(p.first.c_str(), kQTXT)) {
            metQTXT = true;
            if (p.second == kNoQTXT)
                continue;
        }
        addParam(list, p.first.c_str(), p.second.c_str());
    }
    addParam(list, "QID", m_requestID.c_str());
    if (!metQTXT)
        addParam(list, kQTXT, kDefaultQTXT);
    if (isValidPartiesText(m_parties.c_str()))
        addParam(list, "Parties", m_parties.c_str());
    return message;
}

} // namespace zel
