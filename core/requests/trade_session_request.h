#pragma once
// Outgoing command messages: the common base of the DAS and RTMP forms and the DAS
// single request (a command number with named text parameters).
//
// Ownership: message objects (AFixObject) start at a count of 0; the creator takes
// the first reference. toMessage returns a new message the caller frees.
// [Threading] Built and rendered on the sending thread, never shared.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/messages/fix_object.h"

namespace zel {

// The factory for outgoing messages: the session's, or the process-wide one for a
// null session (or a session that offers none). Never null.
merrow::IMessageFactory* outgoingMessageFactory(merrow::IUserSession* session);

class CTradeSessionRequest : public AFixObject {
public:
    int getKind() const override { return KIND_TRADESESSIONREQUEST; }
    // Outgoing only: nothing is read.
    bool fill(merrow::IMessage* message) override { return true; }
    // 0 DAS, 1 RTMP.
    virtual int getMessageProtocol() const = 0;
    // A null name is ignored; a null value is stored as "".
    virtual void setParameter(const char* name, const char* value) = 0;
    virtual bool isBatch() const { return false; }
    // The value, "" when absent; lives until the parameter is next set.
    virtual const char* getParameter(const char* name) const = 0;
    // A copy of the parameters, name to value.
    virtual std::map<std::string, std::string> getParameters() const = 0;

    // The request identifier; "" until set or filled in by a rendering.
    const char* getRequestID() const { return m_requestID.c_str(); }
    // Null is stored as "".
    virtual void setRequestID(const char* id) { m_requestID = id != nullptr ? id : ""; }
    const char* getParties() const { return m_parties.c_str(); }
    void setParties(const char* parties) { m_parties = parties != nullptr ? parties : ""; }
    // The command number; -1 until set.
    int32_t getRID() const { return m_rid; }
    void setRID(int32_t rid) { m_rid = rid; }
    bool isForceAsync() const { return m_forceAsync; }
    void setForceAsync(bool forceAsync) { m_forceAsync = forceAsync; }

protected:
    CTradeSessionRequest() = default;
    ~CTradeSessionRequest() override = default;

    std::string m_requestID;
    std::string m_parties;
    int32_t m_rid = -1;
    bool m_forceAsync = false;
};

class CZDASTradeSessionRequest : public CTradeSessionRequest {
public:
    CZDASTradeSessionRequest() = default;

    // A MSGTYPE_QORAREQUEST message for the session's trading session. An empty
    // identifier is first filled with a fresh one from the session, and kept. Null
    // without a session or when the session gives no identifier.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    int getMessageProtocol() const override { return 0; }
    // Replaces the value of the first parameter of that name (compared without
    // regard to case) in place, else appends the pair: the order is the wire order.
    void setParameter(const char* name, const char* value) override;
    const char* getParameter(const char* name) const override;
    std::map<std::string, std::string> getParameters() const override;

    int getParamCount() const { return static_cast<int>(m_params.size()); }
    // Null outside 0..getParamCount()-1.
    const char* getParamName(int index) const;
    const char* getParamValue(int index) const;

protected:
    ~CZDASTradeSessionRequest() override = default;
    // Fills an empty identifier from the session; false when it gives none.
    bool ensureRequestID(merrow::IUserSession* session);
    // Sets FLDTAG_TRADINGSESSIONID / SUBID from the session's selected trading
    // session (nothing when none is selected).
    static void setTradingSession(merrow::IUserSession* session, merrow::IMessage* message);

    std::vector<std::pair<std::string, std::string>> m_params;
};

} // namespace zel
