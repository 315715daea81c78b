#include "core/requests/das_message.h"

#include <cstring>

#include "core/messages/message_fields.h"
#include "merrow/fix_defs.h"

namespace zel {

bool CDasMessage::fill(merrow::IMessage* message)
{
    m_message.clear();
    if (message == nullptr || std::strcmp(message->getMsgType(), merrow::IFixDefs::MSGTYPE_DASMESSAGE) != 0)
        return false;
    return readFieldText(message, merrow::IFixDefs::FLDTAG_TEXT, &m_message);
}

} // namespace zel
