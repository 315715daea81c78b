#pragma once
// A pushed RTMP XML message (the system configuration after the session init).

#include <string>

#include "core/messages/fix_object.h"

namespace zel {

class CRTMPXmlMessage : public AFixObject {
public:
    CRTMPXmlMessage() = default;

    int getKind() const override { return KIND_RTMPXMLMESSAGE; }
    // Incoming only.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // True for a MSGTYPE_QORAXMLMESSAGE that carries FLDTAG_TEXT.
    bool fill(merrow::IMessage* message) override;

    // The XML text; lives as long as this object.
    const char* getXML() const { return m_xml.c_str(); }
    size_t getXMLLength() const { return m_xml.size(); }
    // True when the text opens an element of this name: its name from the second
    // character on, then a blank, ">" or "/".
    bool compareName(const char* name) const;

protected:
    ~CRTMPXmlMessage() override = default;

private:
    std::string m_xml;
};

} // namespace zel
