#include "core/requests/rtmp_xml_message.h"

#include <cstring>

#include "core/messages/message_fields.h"
#include "merrow/fix_defs.h"

namespace zel {

bool CRTMPXmlMessage::fill(merrow::IMessage* message)
{
    m_xml.clear();
    if (message == nullptr || std::strcmp(message->getMsgType(), merrow::IFixDefs::MSGTYPE_QORAXMLMESSAGE) != 0)
        return false;
    return readFieldText(message, merrow::IFixDefs::FLDTAG_TEXT, &m_xml);
}

bool CRTMPXmlMessage::compareName(const char* name) const
{
    if (name == nullptr || m_xml.empty())
        return false;
    const size_t n = std::strlen(name);
    if (m_xml.size() <= n + 1 || m_xml.compare(1, n, name) != 0)
        return false;
    // An element without attributes ("<SysConfigMsg>", "<Ack/>") opens it as well.
    const char after = m_xml[n + 1];
    return after == ' ' || after == '\t' || after == '\r' || after == '\n' || after == '>' || after == '/';
}

} // namespace zel
