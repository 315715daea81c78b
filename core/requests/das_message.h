#pragma once
// A pushed DAS message: the table-update text of a MSGTYPE_DASMESSAGE.

#include <string>

#include "core/messages/fix_object.h"

namespace zel {

class CDasMessage : public AFixObject {
public:
    CDasMessage() = default;

    int getKind() const override { return KIND_DASMESSAGE; }
    // Incoming only.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // True for a MSGTYPE_DASMESSAGE that carries FLDTAG_TEXT.
    bool fill(merrow::IMessage* message) override;

    // The text, all its bytes; lives as long as this object.
    const char* getMessage() const { return m_message.c_str(); }
    size_t getMessageLength() const { return m_message.size(); }

protected:
    ~CDasMessage() override = default;

private:
    std::string m_message;
};

} // namespace zel
