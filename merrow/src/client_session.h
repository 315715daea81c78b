#pragma once
// The engine of one client session: station descriptor, logon, sequenced traffic,
// reconnect and resume. The public IUserSession object (client_user_session.h) is a
// thin handle over it; the engine outlives the handle until its last connection has
// flushed its Logout.
//
// State that the protocol changes (link, sequencer, reconnect policy, phase) lives on
// the session's I/O strand; every link of the session runs on that strand too. The
// journal is shared with the senders under m_sendMutex, so send() numbers and queues
// a frame from any thread in one step and the numbering matches the order on the
// wire. Texts handed out by getters live in snapshots that are kept until the
// session ends (station descriptors, selected trading sessions) or for one more
// logon after they were replaced (session properties and initial messages).
//
// [Threading] The public operations may be called from any thread; the blocking ones
// (loadStationDescriptor, login, loginBySession) refuse transport threads.
// [Locking] m_sendMutex, then m_dataMutex, then the link's own lock; no lock is held
// while the delivery runs a callback.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

#include "admin_protocol.h"
#include "client_delivery.h"
#include "client_runtime.h"
#include "inbound_sequencer.h"
#include "journal.h"
#include "link.h"
#include "reconnect_policy.h"
#include "url.h"

namespace merrow::detail {

struct ClientSessionConfig {
    std::string url;
    Endpoint endpoint;
    std::string connection;
    std::string stationKind;
    std::string user;
    std::string password;
    std::string application;
    std::string extra;  // the seven-text form's extra text, for loginBySession
};

class ClientSession final : public LinkHandler, public std::enable_shared_from_this<ClientSession> {
public:
    static std::shared_ptr<ClientSession> create(ClientSessionConfig config);
    ~ClientSession() override;

    ClientDelivery& delivery() { return *m_delivery; }
    const std::string& logName() const { return m_logName; }

    void setTradingSession(const TradingSessionDesc* desc);
    const TradingSessionDesc* tradingSession() const;
    int loadStationDescriptor();
    const char* stationParameter(const char* name) const;
    const TradingSessionDesc* const* tradingSessionDescs() const;
    const char* sessionId() const;
    int send(IMessage* message);
    void logout();
    int userKind() const;
    int traderId() const;
    void setMessageFilter(int mask);
    void setClosing(int closing);
    int login(const char* extra);
    const char* sessionProperty(const char* name) const;
    const char* initialMessage(const char* command) const;
    int loginBySession(const char* sessionID, const char* subID, const char* traderID, int flags);
    void reconnect();

    // ConnectionManagerEx::freeObject: stops at once (Logout when logged in), and
    // runs `destroyHandle` on the delivery strand after the callback in progress.
    void free(std::function<void()> destroyHandle);
    // finalize: drops everything without reports.
    void shutdown();

    // LinkHandler, on the I/O strand.
    void onFrame(Link& link, wire::Frame frame) override;
    void onClosed(Link& link, const std::string& reason) override;
    uint64_t currentLastReceived() override { return m_sequencer.lastReceived(); }
    void onAckSent() override { m_sequencer.onAckSent(); }
    bool bareAckDue() override { return m_sequencer.bareAckDue(); }
    std::optional<TimePoint> ackDeadline() override { return m_sequencer.ackDeadline(); }
    bool holdReading() override { return m_delivery->holdReading(); }

    // For tests: frames kept in the journal.
    size_t journalSize() const;

private:
    explicit ClientSession(ClientSessionConfig config);

    // One blocking call waiting for the I/O strand.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        int result = 0;
        bool raise = false;
        std::string text;
        void finish(int r, bool raiseIt, std::string t);
    };
    enum class OpKind { kNone, kHello, kLogon };
    enum class Resume { kNone, kWaiting, kConnecting, kAwaitAck, kAwaitResendComplete };

    struct StationSnapshot {
        std::map<std::string, std::string> parameters;
        std::vector<TradingSessionDesc> descs;
        std::vector<const TradingSessionDesc*> array;  // null-terminated
    };
    struct LogonSnapshot {
        std::map<std::string, std::string> properties;
        std::map<std::string, std::string> initialMessages;
    };

    void checkBlockingAllowed(const char* operation) const;
    int runBlocking(const char* operation, std::function<void(std::shared_ptr<Waiter>)> start);
    void finishOp(int result, bool raise, std::string text);
    void armOpTimer(const char* what);
    void cancelOpTimer();

    void connect(const Endpoint& endpoint, std::function<void(ConnectResult)> then);
    void attachLink(std::unique_ptr<ByteStream> stream);
    void dropLink(const std::string& reason);
    void cancelConnect();
    bool sendAdmin(const IMessage& message);
    admin::Logon buildLogon(bool resume) const;

    void startHello(std::shared_ptr<Waiter> waiter);
    void onDescriptor(const IMessage& message);
    void startLogon(std::shared_ptr<Waiter> waiter, admin::Logon logon);
    void onLogonAck(const IMessage& message);
    void onLogonReject(const IMessage& message);
    void onResendComplete(const IMessage& message);
    void onLogout(const IMessage& message);
    void onApplicationFrame(wire::Frame frame);

    void onLoss(const std::string& reason);
    void apply(const ReconnectStep& step, const std::string& reason);
    void startResumeAttempt();
    void refreshPolicyCounts();
    void expire(const std::string& reason);
    // logout and free: a Logout on the link where the server knows the session, then
    // the end (deferred while a resume's Logon is unanswered).
    void endByClient(const std::string& logoutText, const std::string& reason, bool report);
    bool endAfterResumeIfAsked();
    void endSession(int code, int messageCode, const std::string& reason, bool report = true);
    void storeLogon(const std::vector<admin::NameValue>& properties,
                    const std::vector<admin::InitialMessage>* initial);

    const ClientSessionConfig m_config;
    const std::string m_logName;
    ClientRuntime& m_runtime;
    Strand m_io;
    std::shared_ptr<ClientDelivery> m_delivery;

    // I/O strand state.
    std::shared_ptr<Link> m_link;
    Endpoint m_loginEndpoint;
    InboundSequencer m_sequencer;
    ReconnectPolicy m_policy;
    asio::steady_timer m_opTimer;
    asio::steady_timer m_retryTimer;
    uint64_t m_opTimerGen = 0;
    uint64_t m_retryGen = 0;
    uint64_t m_connectGen = 0;
    std::function<void()> m_cancelConnect;  // the attempt under way, if any
    std::shared_ptr<Waiter> m_op;
    OpKind m_opKind = OpKind::kNone;
    bool m_helloLinkReady = false;  // the link of the descriptor may carry the Logon
    bool m_loggedIn = false;        // a logical session exists
    bool m_ended = false;
    bool m_freed = false;
    Resume m_resume = Resume::kNone;
    std::string m_resumeToken;
    std::vector<admin::NameValue> m_resumeProperties;
    // logout or free while a resume's Logon waits for its answer: the Logout goes on
    // that link once the server has taken it back (before, the server would not know
    // the session the Logout ends), or the session ends when the attempt fails.
    struct EndAfterResume {
        std::string logoutText;
        std::string reason;
        bool report = true;
    };
    std::optional<EndAfterResume> m_endAfterResume;
    int m_filterInLogon = 0;                     // the filter the resume's Logon carried
    std::shared_ptr<Link> m_closingLink;         // flushing its last frames
    std::shared_ptr<ClientSession> m_keepAlive;  // until m_closingLink reports
    std::atomic<uint64_t> m_lastReceivedMirror{0};
    std::atomic<int> m_filter{0};
    std::atomic<bool> m_closing{false};

    // Senders and the I/O strand.
    mutable std::mutex m_sendMutex;
    Journal m_journal;
    bool m_sendable = false;           // logged in and not ended
    wire::Limits m_peerLimits;         // the server's receive limit, from its LogonAck
    std::shared_ptr<Link> m_liveLink;  // set while frames may go straight out

    // Texts handed out by getters.
    mutable std::mutex m_dataMutex;
    std::deque<std::unique_ptr<TradingSessionDesc>> m_selected;
    const TradingSessionDesc* m_current = nullptr;
    std::deque<std::shared_ptr<const StationSnapshot>> m_stations;
    std::deque<std::shared_ptr<const LogonSnapshot>> m_logons;  // current at the back
    std::string m_sessionId;
    std::atomic<int> m_traderId{0};
    std::atomic<int> m_userKind{0};
    bool m_blockingBusy = false;
};

} // namespace merrow::detail
