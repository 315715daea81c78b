#include "core/messages/qora_response.h"

#include <cstring>

#include "core/messages/message_fields.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

void CQORAResponse::setMessage(const char* text)
{
    if (text == nullptr)
        m_message.clear();
    else
        m_message = text;
}

void CQORAResponse::setReqID(const char* id)
{
    m_reqID = id != nullptr ? id : "";
}

const char* CQORAResponse::getParameter(const char* name) const
{
    if (name == nullptr)
        return "";
    const auto it = m_parameters.find(name);
    return it != m_parameters.end() ? it->second.c_str() : "";
}

void CQORAResponse::setParameter(const char* name, const char* value)
{
    if (name == nullptr)
        return;
    m_parameters[name] = value != nullptr ? value : "";
}

void CQORAResponse::clearAll()
{
    m_message.clear();
    m_reqID.clear();
    m_refMsgType.clear();
    m_parameters.clear();
    m_filled = false;
}

bool CZDASQORAResponse::fill(merrow::IMessage* message)
{
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_QORARESPONSE) != 0)
        return false;
    clearAll();
    m_reqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TESTREQID);
    m_filled = true;
    readFieldText(message, IFixDefs::FLDTAG_REFMSGTYPE, &m_refMsgType);

    merrow::IFieldGroupList* params = message->getGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    if (params == nullptr || params->size() == 0)
        return false;
    bool hasPayload = false;
    for (int i = 0; i < params->size(); ++i) {
        const merrow::IFieldGroup* entry = params->get(i);
        const char* name = entry != nullptr ? entry->getValue(IFixDefs::FLDTAG_QORAPARAMNAME) : nullptr;
        if (name == nullptr)
            continue;
        if (std::strcmp(name, "DAS") == 0) {
            m_message = fieldTextOrEmpty(entry, IFixDefs::FLDTAG_QORAPARAMVALUE);
            hasPayload = true;
        } else {
            setParameter(name, entry->getValue(IFixDefs::FLDTAG_QORAPARAMVALUE));
        }
    }
    return hasPayload;
}

bool CRTMPQORAResponse::fill(merrow::IMessage* message)
{
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_QORARTMPRESPONSE) != 0)
        return false;
    clearAll();
    m_reqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TESTREQID);
    m_filled = true;
    return readFieldText(message, IFixDefs::FLDTAG_TEXT, &m_message);
}

} // namespace zel
