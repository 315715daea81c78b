#pragma once
// The message objects: typed views of the transport's messages. Outgoing objects
// render themselves with toMessage; incoming ones are read with fill, normally by
// CFixObjectFactory::toObject.
//
// Ownership: the counter starts at 0 (vorntool::AObject). Whoever receives a new
// object takes the first reference, in the core with RefPtr's add-reference
// constructor; the release that reaches 0 deletes it.
// [Threading] An object is built or filled on one thread and only read afterwards;
// nothing in it is locked beyond the atomic counter.

#include "merrow/message.h"
#include "merrow/user_session.h"
#include "vorntool/aobject.h"

namespace zel {

class AFixObject : public vorntool::AObject {
public:
    // getKind results, one per class.
    enum Kind : int {
        KIND_MARKETDATAREQUEST = 0,
        KIND_MARKETDATASNAPSHOT = 1,
        KIND_MARKETDATAREQUESTREJECT = 2,
        KIND_TRADINGSESSIONSTATUS = 3,
        KIND_TRADINGSESSIONSTATUSREQUEST = 4,
        KIND_TRADESESSIONREQUEST = 5,
        KIND_DASMESSAGE = 6,
        KIND_QORACOMMAND = 7,
        KIND_QORARESPONSE = 8,
        KIND_QORAREQUESTREJECT = 9,
        KIND_TRADESESSIONREQUESTBATCH = 10,
        KIND_RESPONSEBATCH = 11,
        KIND_RTMPXMLMESSAGE = 12,
        KIND_LEVEL2MARKETDATASNAPSHOT = 13,
        KIND_RTMPQORAOBJECTRESPONSE = 14,
        KIND_RTMPCHARTSESSIONREQUEST = 15,
    };

    virtual int getKind() const = 0;
    // A new message built on the session's factory, which the caller frees
    // (merrow::freeMessage); null from incoming-only classes or on failure.
    virtual merrow::IMessage* toMessage(merrow::IUserSession* session) = 0;
    // Reads an incoming message; true when it had the form this class reads. A null
    // message reads as false.
    virtual bool fill(merrow::IMessage* message) = 0;

protected:
    AFixObject() = default;
    ~AFixObject() override = default;
};

} // namespace zel
