#include "core/messages/rtmp_qora_object_response.h"

#include <cstring>
#include <utility>

#include "core/messages/message_fields.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

CResponseObjectField::CResponseObjectField(const char* name, double value)
    : m_name(name != nullptr ? name : ""), m_type(TypeDouble), m_double(value)
{
}

CResponseObjectField::CResponseObjectField(const char* name, const char* value)
    : m_name(name != nullptr ? name : ""), m_type(TypeString), m_string(value != nullptr ? value : "")
{
}

CResponseObjectField::CResponseObjectField(const char* name, std::string value)
    : m_name(name != nullptr ? name : ""), m_type(TypeString), m_string(std::move(value))
{
}

CResponseObjectField::CResponseObjectField(const char* name, CResponseObject* object)
    : m_name(name != nullptr ? name : ""), m_type(TypeObject),
      m_object(object != nullptr ? object : new CResponseObject())
{
}

CResponseObjectField::~CResponseObjectField() = default;

const CResponseObjectField* CResponseObject::getField(int index) const
{
    if (index < 0 || index >= m_fields.size())
        return nullptr;
    return m_fields[index];
}

const CResponseObjectField* CResponseObject::getFieldByName(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    for (const CResponseObjectField* f : m_fields)
        if (std::strcmp(f->getName(), name) == 0)
            return f;
    return nullptr;
}

void CResponseObject::addField(CResponseObjectField* field)
{
    if (field == nullptr)
        return;
    std::unique_ptr<CResponseObjectField> owned(field);
    m_fields.add(owned.get());
    owned.release();
}

void CResponseObject::build(merrow::IFieldGroupList* entries)
{
    if (entries == nullptr)
        return;
    for (int i = 0; i < entries->size(); ++i) {
        const merrow::IFieldGroup* entry = entries->get(i);
        if (entry == nullptr)
            continue;
        const char* name = entry->getValue(IFixDefs::FLDTAG_QORAPARAMNAME);
        const merrow::IField* value = entry->getField(IFixDefs::FLDTAG_QORAPARAMVALUE);
        if (name == nullptr || value == nullptr)
            continue;
        switch (value->getType()) {
        case merrow::WIRETYPE_GROUPLIST: {
            std::unique_ptr<CResponseObject> nested(new CResponseObject());
            nested->build(value->getGroupList());
            addField(new CResponseObjectField(name, nested.release()));
            break;
        }
        case merrow::WIRETYPE_DOUBLE:
            addField(new CResponseObjectField(name, value->getDoubleValue()));
            break;
        case merrow::WIRETYPE_TEXT:
            addField(new CResponseObjectField(name, fieldTextOrEmpty(entry, IFixDefs::FLDTAG_QORAPARAMVALUE)));
            break;
        default:
            break;
        }
    }
}

CRTMPQORAObjectResponse::CRTMPQORAObjectResponse() : m_object(new CResponseObject()) {}

CRTMPQORAObjectResponse::~CRTMPQORAObjectResponse() = default;

bool CRTMPQORAObjectResponse::fill(merrow::IMessage* message)
{
    if (message == nullptr ||
        std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_QORARTMPOBJECTRESPONSE) != 0)
        return false;
    reset();
    m_reqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TESTREQID);
    merrow::IFieldGroupList* entries = message->getGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    if (entries == nullptr)
        return false;
    m_object->build(entries);
    return true;
}

void CRTMPQORAObjectResponse::reset()
{
    m_reqID.clear();
    m_object.reset(new CResponseObject());
}

} // namespace zel
