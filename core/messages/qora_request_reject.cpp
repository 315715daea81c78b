#include "core/messages/qora_request_reject.h"

#include <climits>
#include <cstring>
#include <iterator>

#include "core/messages/message_fields.h"
#include "core/messages/wire_values.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

bool CQORARequestReject::fill(merrow::IMessage* message)
{
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_QORAREQUESTREJECT) != 0)
        return false;
    reset();
    m_reqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TESTREQID);
    m_details = fieldTextOrEmpty(message, IFixDefs::FLDTAG_QORAERRORDETAILS);
    if (!readFieldText(message, IFixDefs::FLDTAG_TEXT, &m_text))
        m_text = m_details;
    readFieldText(message, IFixDefs::FLDTAG_REFMSGTYPE, &m_refMsgType);
    const int64_t code = message->getIntValue(IFixDefs::FLDTAG_QORAREQUESTREJECT);
    m_rejectCode = code < INT_MIN ? INT_MIN : code > INT_MAX ? INT_MAX : static_cast<int>(code);

    if (merrow::IFieldGroupList* params = message->getGroupList(IFixDefs::FLDTAG_QORANOPARAM)) {
        for (int i = 0; i < params->size(); ++i) {
            const merrow::IFieldGroup* entry = params->get(i);
            const char* name = entry != nullptr ? entry->getValue(IFixDefs::FLDTAG_QORAPARAMNAME) : nullptr;
            if (name == nullptr)
                continue;
            const char* value = entry->getValue(IFixDefs::FLDTAG_QORAPARAMVALUE);
            m_params.emplace(name, value != nullptr ? value : "");  // the first value stays
        }
    }
    return true;
}

void CQORARequestReject::setMessage(const char* details)
{
    m_details = details != nullptr ? details : "";
}

const char* CQORARequestReject::getParamName(int index) const
{
    if (index < 0 || index >= getParamCount())
        return nullptr;
    return std::next(m_params.begin(), index)->first.c_str();
}

const char* CQORARequestReject::getValueString(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    const auto it = m_params.find(name);
    return it != m_params.end() ? it->second.c_str() : nullptr;
}

int CQORARequestReject::getValueInt(const char* name) const
{
    return parseWireInt(getValueString(name));
}

double CQORARequestReject::getValueDouble(const char* name) const
{
    return parseWireDouble(getValueString(name));
}

void CQORARequestReject::reset()
{
    m_reqID.clear();
    m_details.clear();
    m_text.clear();
    m_refMsgType.clear();
    m_rejectCode = 0;
    m_errorCode = -1;
    m_params.clear();
}

} // namespace zel
