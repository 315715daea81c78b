#pragma once
// When a client session tries again after losing its connection, and when it gives up.
// One outage runs from the loss (or reconnect()) until a resume succeeds; within it,
// failed connection attempts and failed resumes over connections that did open are
// counted separately, and either bound ends the outage with a give-up
// (STATUSCODE_RELOGIN_FAILED). Delays start at 100 ms, double up to 5 s, and carry
// ±20 % jitter so that many clients cut at once do not return in step.

#include "clock.h"

#include <functional>

namespace merrow::detail {

enum class ReconnectAction {
    kNone,    // nothing to do: stopped, already given up, or an event out of turn
    kWait,    // arm a timer for `delay`, then call attemptStarted() and connect
    kGiveUp,  // report STATUSCODE_RELOGIN_FAILED; reported once per outage
};

struct ReconnectStep {
    ReconnectAction action = ReconnectAction::kNone;
    Duration delay{};
    // True on the first step of an outage: report STATUSCODE_DISCONNECTED/MSGCODE_RECONNETING.
    bool reportDisconnected = false;
};

// [Threading] Not thread-safe: used on the owning session's strand.
class ReconnectPolicy {
public:
    static constexpr Duration kFirstDelay = std::chrono::milliseconds(100);
    static constexpr Duration kMaxDelay = std::chrono::seconds(5);
    static constexpr double kJitter = 0.2;

    // Returns a value in [0, 1]; values outside are clamped. The default draws from a
    // generator seeded once per policy.
    using RandomSource = std::function<double()>;

    ReconnectPolicy(int reconnectAttempts, int reloginAttempts, RandomSource random = {});

    // Connection attempts that fail to open, and resumes that fail over connections
    // that did open, tolerated in one outage; checked at the next failure. 0 (or a
    // negative count) gives up at once.
    void setNoReconnectAttempts(int n);
    void setNoReloginAttempts(int n);

    // The connection dropped. Outside an outage this begins one; during an attempt it
    // is that attempt failing.
    ReconnectStep onConnectionLost();
    // The application asked for a reconnect: a fresh cycle with fresh counts. It is
    // reported as a new outage unless one is already running.
    ReconnectStep reconnect();

    // The delay of the last step has passed and a connection attempt begins now.
    void attemptStarted();
    // The attempt's connection opened (TCP, TLS and proxy done); the resume begins.
    void onConnectionOpened();
    // The attempt failed: the connection did not open, or it opened and the resume did
    // not complete (dropped, timed out).
    ReconnectStep onAttemptFailed();
    // The resume succeeded: the outage is over and the counts start again.
    void onResumed();

    // setClosing(1), logout, or a session that can no longer be resumed (expired,
    // forced relogin, shutdown): nothing is retried any more, reconnect() included.
    void stop();

    bool stopped() const { return m_phase == Phase::kStopped; }
    bool inOutage() const { return m_phase == Phase::kWaiting || m_phase == Phase::kConnecting || m_phase == Phase::kResuming; }
    int failedConnects() const { return m_failedConnects; }
    int failedResumes() const { return m_failedResumes; }

private:
    enum class Phase { kConnected, kWaiting, kConnecting, kResuming, kGaveUp, kStopped };

    ReconnectStep beginOutage(bool report);
    ReconnectStep nextStep();
    Duration backoff(int attempt);

    int m_maxConnects;
    int m_maxResumes;
    RandomSource m_random;
    Phase m_phase = Phase::kConnected;
    int m_failedConnects = 0;
    int m_failedResumes = 0;
};

} // namespace merrow::detail
