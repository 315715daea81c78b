#pragma once
// Several answers that arrived in one message (FLDTAG_EMBMSG), each decoded into
// its own message object.

#include "core/base/ref_ptr.h"
#include "core/messages/fix_object.h"
#include "vorntool/containers.h"

namespace zel {

class CResponseBatch : public AFixObject {
public:
    CResponseBatch() = default;

    int getKind() const override { return KIND_RESPONSEBATCH; }
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // Decodes every embedded message; members that decode to nothing are left out.
    // False when the message has no FLDTAG_EMBMSG list.
    bool fill(merrow::IMessage* message) override;

    int getResponseCount() const { return m_responses.size(); }
    // Adds a reference: the caller releases it. Throws vorntool::BoundException for
    // an index outside the list.
    AFixObject* getResponse(int index) const;

    // Cursor over the members: toFirst, then next until it returns null.
    void toFirst() { m_cursor = -1; }
    bool hasNext() const { return m_cursor + 1 < getResponseCount(); }
    // Adds a reference: the caller releases it; null past the end.
    AFixObject* next();

    // Drops every member and rewinds the cursor.
    void reset();

protected:
    ~CResponseBatch() override = default;

private:
    // One reference to each member.
    vorntool::TXVector<RefPtr<AFixObject>> m_responses;
    int m_cursor = -1;
};

} // namespace zel
