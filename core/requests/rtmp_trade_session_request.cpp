#include "core/requests/rtmp_trade_session_request.h"

#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

void appendXmlEscaped(std::string& out, const std::string& text)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
}

void CRTMPTradeSessionRequest::setParameter(const char* name, const char* value)
{
    if (name == nullptr)
        return;
    m_params[name] = value != nullptr ? value : "";
    m_xml.clear();
}

const char* CRTMPTradeSessionRequest::getParameter(const char* name) const
{
    if (name == nullptr)
        return "";
    const auto it = m_params.find(name);
    return it != m_params.end() ? it->second.c_str() : "";
}

void CRTMPTradeSessionRequest::setName(const char* name)
{
    m_name = name != nullptr ? name : "";
    m_xml.clear();
}

void CRTMPTradeSessionRequest::setRequestID(const char* id)
{
    CTradeSessionRequest::setRequestID(id);
    setParameter("RequestId", m_requestID.c_str());
}

const std::string& CRTMPTradeSessionRequest::getXML() const
{
    // The parties text is set through the base, so a change of it is noticed here.
    if (!m_xml.empty() && m_xmlParties == m_parties)
        return m_xml;
    std::string xml = "<" + m_name + " ";
    auto attribute = [&xml](const std::string& name, const std::string& value) {
        xml += name;
        xml += "=\"";
        appendXmlEscaped(xml, value);
        xml += "\" ";
    };
    for (const auto& p : m_params)
        attribute(p.first, p.second);
    attribute("Parties", m_parties);
    xml += "/>";
    m_xml = std::move(xml);
    m_xmlParties = m_parties;
    return m_xml;
}

merrow::IMessage* CRTMPTradeSessionRequest::toMessage(merrow::IUserSession* session)
{
    merrow::IMessage* message = outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_QORAXMLMESSAGE);
    if (message == nullptr)
        return nullptr;
    const std::string& xml = getXML();
    message->setValue(IFixDefs::FLDTAG_TEXT, xml.data(), xml.size());
    message->setValue(IFixDefs::FLDTAG_QORACOMMANDID, m_methodName.c_str());
    return message;
}

} // namespace zel
