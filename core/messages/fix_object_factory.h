#pragma once
// Decoding of incoming messages: one message object per message, chosen by the
// message type.

#include "core/messages/fix_object.h"
#include "merrow/message.h"

namespace zel {

class CFixObjectFactory {
public:
    CFixObjectFactory() = delete;

    // A new object filled from the message, with a count of 0: the caller takes the
    // first reference. Null for a null message, a type without a class, or a
    // message its class cannot read.
    static AFixObject* toObject(merrow::IMessage* message);
    // True for the two reject types (command and market-data requests).
    static bool isRejectObject(merrow::IMessage* message);
};

} // namespace zel
