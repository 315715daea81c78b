#include "core/messages/response_batch.h"

#include <cstring>

#include "core/messages/fix_object_factory.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

bool CResponseBatch::fill(merrow::IMessage* message)
{
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_QORARESPONSEBATCH) != 0)
        return false;
    reset();
    merrow::IFieldGroupList* members = message->getGroupList(IFixDefs::FLDTAG_EMBMSG);
    if (members == nullptr)
        return false;
    for (int i = 0; i < members->size(); ++i) {
        merrow::IFieldGroup* entry = members->get(i);
        merrow::IMessage* member = entry != nullptr ? entry->asMessage() : nullptr;
        RefPtr<AFixObject> object(CFixObjectFactory::toObject(member));
        if (object)
            m_responses.add(std::move(object));
    }
    return true;
}

AFixObject* CResponseBatch::getResponse(int index) const
{
    return m_responses.at(index).share();
}

AFixObject* CResponseBatch::next()
{
    if (!hasNext())
        return nullptr;
    ++m_cursor;
    return m_responses.at(m_cursor).share();
}

void CResponseBatch::reset()
{
    m_responses.clear();
    m_cursor = -1;
}

} // namespace zel
