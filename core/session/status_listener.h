#pragma once
// Maps the transport's status reports of the trade and price sessions to the
// session's status: reconnecting and reconnected, lost, and the price session's own
// reconnects. Reports of a messaging session the communicator does not hold (one
// still logging in, one already closed) change nothing.
//
// Ownership: reference counted; the communicator and each subscription hold one.
// detach() cuts the link to the communicator: later reports are ignored.
// [Threading] update runs on transport threads; it holds the listener's own
// re-entrant mutex while it maps a report, so reports are mapped one at a time and
// detach waits for a mapping in progress.

#include "core/base/mutex.h"
#include "merrow/listeners.h"
#include "vorntool/add_ref.h"

namespace zel {

class ServerCommunicator;

class CStatusListener : public TThreadSafeAddRefImpl<merrow::IUserSessionStatusListener> {
public:
    explicit CStatusListener(ServerCommunicator* communicator);

    void update(merrow::IUserSession* session, merrow::ISessionStatus* status) override;
    void detach();
    // A new trade session starts with no reconnect in progress.
    void resetFlags();

    bool isTradeReconnecting() const;
    bool isPriceReconnecting() const;

protected:
    ~CStatusListener() override = default;

private:
    void onTradeStatus(ServerCommunicator& c, merrow::IUserSession* session, int code, int message)
        ZEL_REQUIRES(m_mutex);
    void onPriceStatus(ServerCommunicator& c, merrow::IUserSession* session, int code, int message) ZEL_REQUIRES(m_mutex);

    mutable RecursiveMutex m_mutex;
    ServerCommunicator* m_communicator ZEL_GUARDED_BY(m_mutex);
    bool m_tradeReconnecting ZEL_GUARDED_BY(m_mutex) = false;
    bool m_priceReconnecting ZEL_GUARDED_BY(m_mutex) = false;
};

} // namespace zel
