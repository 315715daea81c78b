#pragma once
// Outgoing RTMP commands: one XML element, sent as a MSGTYPE_QORAXMLMESSAGE, whose
// attributes are the parameters in name order.

#include <map>
#include <string>

#include "core/requests/trade_session_request.h"

namespace zel {

class CRTMPTradeSessionRequest : public CTradeSessionRequest {
public:
    CRTMPTradeSessionRequest() = default;

    // The XML text in FLDTAG_TEXT and the method name in FLDTAG_QORACOMMANDID. A
    // null session builds on the process-wide message factory.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    int getMessageProtocol() const override { return 1; }
    // Inserts or replaces (names compared exactly).
    void setParameter(const char* name, const char* value) override;
    const char* getParameter(const char* name) const override;
    std::map<std::string, std::string> getParameters() const override { return m_params; }

    // The element name; null is stored as "".
    void setName(const char* name);
    const char* getName() const { return m_name.c_str(); }
    void setMethodName(const char* name) { m_methodName = name != nullptr ? name : ""; }
    const char* getMethodName() const { return m_methodName.c_str(); }
    // Also sets the parameter "RequestId".
    void setRequestID(const char* id) override;

    // "<name a=\"v\" ... Parties=\"...\" />" with the attributes in byte order of
    // their names and values escaped as XML entities. Lives until the next change.
    const std::string& getXML() const;

protected:
    ~CRTMPTradeSessionRequest() override = default;

private:
    std::string m_name;
    std::string m_methodName = "Send";
    std::map<std::string, std::string> m_params;
    mutable std::string m_xml;
    mutable std::string m_xmlParties;
};

// The price-history request of RTMP sessions.
class CRTMPChartSessionRequest : public CRTMPTradeSessionRequest {
public:
    CRTMPChartSessionRequest() = default;
    int getKind() const override { return KIND_RTMPCHARTSESSIONREQUEST; }

protected:
    ~CRTMPChartSessionRequest() override = default;
};

// Appends the text with &, <, > and " written as entities.
void appendXmlEscaped(std::string& out, const std::string& text);

} // namespace zel
