#pragma once
// The server's refusal of a request: a reject code, the error details, a text for
// display and optional named parameters.

#include <map>
#include <string>

#include "core/messages/fix_object.h"

namespace zel {

class CQORARequestReject : public AFixObject {
public:
    CQORARequestReject() = default;

    int getKind() const override { return KIND_QORAREQUESTREJECT; }
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // True for any MSGTYPE_QORAREQUESTREJECT message; absent fields read as empty.
    bool fill(merrow::IMessage* message) override;

    // Texts live as long as this object and until it is next filled or set.
    const char* getReqID() const { return m_reqID.c_str(); }
    // The text to show: the server's text, or the error details when it sent none.
    const char* getText() const { return m_text.c_str(); }
    // The error details.
    const char* getMessage() const { return m_details.c_str(); }
    // Null sets "".
    void setMessage(const char* details);
    const char* getRefMsgType() const { return m_refMsgType.c_str(); }
    // The reject code (FLDTAG_QORAREQUESTREJECT), 0 when absent.
    int getRequestReject() const { return m_rejectCode; }
    int getErrorCode() const { return m_errorCode; }

    // Parameters in name order. getParamName is null past the end, getValueString
    // null for an absent name; getValueInt and getValueDouble read 0 then.
    int getParamCount() const { return static_cast<int>(m_params.size()); }
    const char* getParamName(int index) const;
    const char* getValueString(const char* name) const;
    int getValueInt(const char* name) const;
    double getValueDouble(const char* name) const;

    // Back to the state of a new object.
    void reset();

protected:
    ~CQORARequestReject() override = default;

private:
    std::string m_reqID;
    std::string m_details;
    std::string m_text;
    std::string m_refMsgType;
    int m_rejectCode = 0;
    int m_errorCode = -1;
    std::map<std::string, std::string> m_params;
};

} // namespace zel
