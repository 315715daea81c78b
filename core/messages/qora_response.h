#pragma once
// Answers of the server to a request: the DAS form (a result-set text under the
// parameter "DAS", other parameters beside it) and the RTMP form (an XML text).

#include <map>
#include <string>

#include "core/messages/fix_object.h"

namespace zel {

class CQORAResponse : public AFixObject {
public:
    int getKind() const override { return KIND_QORARESPONSE; }
    // Answers are incoming only.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // 0 DAS, 1 RTMP.
    virtual int getMessageProtocol() const = 0;

    // The payload text; lives as long as this object and until it is next set.
    const char* getMessage() const { return m_message.c_str(); }
    size_t getMessageLength() const { return m_message.size(); }
    // Null clears the text.
    void setMessage(const char* text);
    const char* getReqID() const { return m_reqID.c_str(); }
    void setReqID(const char* id);
    // The message type the answer refers to, "" when the server named none.
    const char* getRefMsgType() const { return m_refMsgType.c_str(); }
    // The value of a parameter, "" when absent; lives as long as this object.
    const char* getParameter(const char* name) const;
    // Inserts or replaces; null name is ignored, null value stored as "".
    void setParameter(const char* name, const char* value);
    int getParameterCount() const { return static_cast<int>(m_parameters.size()); }
    // True once a fill has read the message's identifier.
    bool isFilled() const { return m_filled; }
    // Clears the payload text.
    void reset() { m_message.clear(); }

protected:
    CQORAResponse() = default;
    ~CQORAResponse() override = default;
    // Back to the state of a new object, before a fill.
    void clearAll();

    std::string m_message;
    std::string m_reqID;
    std::string m_refMsgType;
    std::map<std::string, std::string> m_parameters;
    bool m_filled = false;
};

// A DAS answer: the result set is the parameter named "DAS".
class CZDASQORAResponse : public CQORAResponse {
public:
    CZDASQORAResponse() = default;
    // True only for a MSGTYPE_QORARESPONSE message whose parameter group holds a
    // "DAS" entry.
    bool fill(merrow::IMessage* message) override;
    int getMessageProtocol() const override { return 0; }

protected:
    ~CZDASQORAResponse() override = default;
};

// An RTMP answer: the XML text travels in FLDTAG_TEXT.
class CRTMPQORAResponse : public CQORAResponse {
public:
    CRTMPQORAResponse() = default;
    // True for a MSGTYPE_QORARTMPRESPONSE message that carries a text.
    bool fill(merrow::IMessage* message) override;
    int getMessageProtocol() const override { return 1; }

protected:
    ~CRTMPQORAResponse() override = default;
};

} // namespace zel
