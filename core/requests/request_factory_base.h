#pragma once
// What both request factories share: the messaging session that issues request
// identifiers, the timeframe collection, the wire-name translation of parameters and
// the last-error text.
//
// Ownership: created by a protocol provider with `new` (one reference for the
// creator). The messaging session is not owned: the factory only borrows it until
// resetSession.
// [Threading] Requests may be made on any thread; resetSession may race with them and
// turns later calls into failures. The last error is unlocked: see IZelRequestFactory.

#include <atomic>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/requests/request_command.h"
#include "core/requests/request_params.h"
#include "core/requests/timeframe.h"
#include "merrow/user_session.h"
#include "vorntool/add_ref.h"
#include "zel/request_factory.h"

namespace zel {

class RequestFactoryBase : public TThreadSafeAddRefImpl<IZelRequestFactory> {
public:
    IZelTimeframeCollection* getTimeFrameCollection() override { return m_timeframes.share(); }
    const char* getLastError() override { return m_lastError.c_str(); }

    // A new request holding one reference for a command the protocol knows without
    // parameters (system properties, instruments ...); null otherwise or without a
    // session.
    virtual IZelRequest* createRequestByCommand(RequestCommand command) = 0;

    bool isSessionValid() const { return getSession() != nullptr; }
    // Detaches the messaging session when it closes; session-bound calls yield null
    // from then on.
    void resetSession() { m_session.store(nullptr); }
    // Neither protocol sends a logout as a request, so this is null.
    IZelRequest* createLogout() { return createRequestByCommand(CmdLogout); }

    // Wire field names (DAS only); null for a parameter without one, and on RTMP.
    const char* getParamName(ZelRequestParamsEnum param) const { return m_translation.getParamName(param); }
    const char* getParamName(RequestParamsEnum param) const { return m_translation.getParamName(param); }

    // The borrowed messaging session, or null once reset.
    merrow::IUserSession* getSession() const { return m_session.load(); }

    // A fresh identifier from the session, copied; the session's text is handed back
    // at once. "" for a null session or a session that issued none.
    static std::string takeRequestID(merrow::IUserSession* session);

protected:
    explicit RequestFactoryBase(merrow::IUserSession* session);
    ~RequestFactoryBase() override = default;

    RequestParamsTranslation m_translation;  // filled by the DAS factory only
    std::string m_lastError;

private:
    std::atomic<merrow::IUserSession*> m_session;
    RefPtr<TimeFrameCollection> m_timeframes;
};

} // namespace zel
