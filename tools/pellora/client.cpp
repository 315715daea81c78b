#include "client.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

namespace pellora::cli {

std::atomic<bool> g_interrupted{false};

namespace {

using Clock = std::chrono::steady_clock;
using Status = IZelSessionStatus::ZelSessionStatus;

// Pending answers are polled this often so that an interrupt ends a wait soon.
constexpr std::chrono::milliseconds kPoll{100};

// "20 s", "0.5 s": a timeout below a second is not shown as 0.
std::string seconds(std::chrono::milliseconds d) { return fmt::format("{:g} s", d.count() / 1000.0); }

}  // namespace

struct Client::State {
    std::mutex mutex;
    std::condition_variable changed;
    Status status = IZelSessionStatus::Disconnected;
    bool everConnected = false;
    bool lost = false;
    // When the connection dropped and the session began reconnecting; unset while
    // Connected. A reconnection that takes longer than the timeout ends a wait.
    std::optional<std::chrono::steady_clock::time_point> reconnectingSince;
    std::string loginError;
    std::string tradingSession, pin;
    IZelSession* session = nullptr;  // valid while the client lives
    // Identifiers waited for, and what came back for each.
    std::set<std::string> waiting;
    std::map<std::string, Ref<IZelResponse>> answers;
    std::map<std::string, std::string> failures;
    std::function<void(IZelResponse*)> updates;
    int updatesRunning = 0;  // calls of updates under way, outside the mutex
    bool verbose = false;
};

namespace {

const char* statusName(Status s) {
    switch (s) {
    case IZelSessionStatus::Disconnected: return "Disconnected";
    case IZelSessionStatus::Connecting: return "Connecting";
    case IZelSessionStatus::TradingSessionRequested: return "TradingSessionRequested";
    case IZelSessionStatus::Connected: return "Connected";
    case IZelSessionStatus::Reconnecting: return "Reconnecting";
    case IZelSessionStatus::Disconnecting: return "Disconnecting";
    case IZelSessionStatus::SessionLost: return "SessionLost";
    case IZelSessionStatus::PriceSessionReconnecting: return "PriceSessionReconnecting";
    }
    return "?";
}

// [Threading] Runs on the login worker, a transport thread or the thread calling
// logout, under the session's status-listener lock: it only records and wakes.
class StatusListener : public TThreadSafeAddRefImpl<IZelSessionStatus> {
public:
    explicit StatusListener(std::shared_ptr<Client::State> s) : m_s(std::move(s)) {}
    void onSessionStatusChanged(ZelSessionStatus status) override {
        if (m_s->verbose) fmt::print(stderr, "pellora: status {}\n", statusName(status));
        if (status == TradingSessionRequested) chooseTradingSession();
        std::lock_guard<std::mutex> lock(m_s->mutex);
        m_s->status = status;
        if (status == Connected) m_s->everConnected = true;
        if (status == Reconnecting || status == PriceSessionReconnecting) {
            if (!m_s->reconnectingSince) m_s->reconnectingSince = std::chrono::steady_clock::now();
        } else {
            m_s->reconnectingSince.reset();
        }
        if (m_s->everConnected && (status == SessionLost || status == Disconnected)) m_s->lost = true;
        m_s->changed.notify_all();
    }
    void onLoginFailed(const char* error) override {
        std::lock_guard<std::mutex> lock(m_s->mutex);
        m_s->loginError = error && *error ? error : "The login failed.";
        m_s->changed.notify_all();
    }

private:
    // The session named in the settings (by ID or name), else the first offered.
    void chooseTradingSession() {
        IZelSession* session = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_s->mutex);
            session = m_s->session;
        }
        if (!session) return;
        std::string id = m_s->tradingSession;
        Ref<IZelSessionDescriptorCollection> all = Ref<IZelSessionDescriptorCollection>::adopt(
            session->getTradingSessionDescriptors());
        if (all) {
            for (int i = 0; i < all->size(); ++i) {
                Ref<IZelSessionDescriptor> d = Ref<IZelSessionDescriptor>::adopt(all->get(i));
                if (!d) continue;
                if (m_s->tradingSession.empty() || m_s->tradingSession == d->getName() ||
                    m_s->tradingSession == d->getID()) {
                    id = d->getID();
                    break;
                }
            }
        }
        session->setTradingSession(id.c_str(), m_s->pin.c_str());
    }
    std::shared_ptr<Client::State> m_s;
};

// [Threading] Runs on the transport's delivery thread, one message at a time.
class ResponseListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    explicit ResponseListener(std::shared_ptr<Client::State> s) : m_s(std::move(s)) {}
    void onRequestCompleted(const char* requestID, IZelResponse* response) override {
        std::lock_guard<std::mutex> lock(m_s->mutex);
        const std::string id = requestID ? requestID : "";
        if (!m_s->waiting.count(id) || !response) return;
        response->addRef();
        m_s->answers[id] = Ref<IZelResponse>::adopt(response);
        m_s->changed.notify_all();
    }
    void onRequestFailed(const char* requestID, const char* error) override {
        std::lock_guard<std::mutex> lock(m_s->mutex);
        const std::string id = requestID ? requestID : "";
        if (!m_s->waiting.count(id)) return;
        m_s->failures[id] = error && *error ? error : "The request failed.";
        m_s->changed.notify_all();
    }
    void onTablesUpdates(IZelResponse* response) override {
        std::function<void(IZelResponse*)> handler;
        {
            std::lock_guard<std::mutex> lock(m_s->mutex);
            if (!m_s->updates || !response) return;
            handler = m_s->updates;
            ++m_s->updatesRunning;
        }
        try {
            handler(response);
        } catch (...) {
            // A handler's failure loses its update, not the delivery thread.
        }
        std::lock_guard<std::mutex> lock(m_s->mutex);
        --m_s->updatesRunning;
        m_s->changed.notify_all();
    }

private:
    std::shared_ptr<Client::State> m_s;
};

}  // namespace

int loginFailureExitCode(const std::string& text) {
    for (const char* marker : {"Can't connected to server", "could not be verified", "certificate", "proxy",
                               "Proxy", "URL", "did not answer"})
        if (text.find(marker) != std::string::npos) return kExitUsage;
    return kExitRefused;
}

Client::Client(ConnectionSettings settings, std::chrono::milliseconds timeout, bool verbose)
    : m_settings(std::move(settings)), m_timeout(timeout), m_state(std::make_shared<State>()) {
    m_state->verbose = verbose;
    m_state->tradingSession = m_settings.tradingSession;
    m_state->pin = m_settings.pin;
}

Client::~Client() {
    logout();
    if (m_session) {
        m_session->unsubscribeResponse(m_responseListener.get());
        m_session->unsubscribeSessionStatus(m_statusListener.get());
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->session = nullptr;
        m_state->updates = nullptr;
    }
}

bool Client::login(Failure& failure) {
    CZelTransport::setCAInfo(m_settings.caFile.empty() ? nullptr : m_settings.caFile.c_str());
    m_session = Ref<IZelSession>::adopt(CZelTransport::createSession());
    if (!m_session) {
        failure = {kExitUsage, "the SDK could not create a session"};
        return false;
    }
    m_state->session = m_session.get();
    m_session->useTableManager(m_tableManagerMode);
    m_statusListener = Ref<IZelSessionStatus>::adopt(new StatusListener(m_state));
    m_responseListener = Ref<IZelResponseListener>::adopt(new ResponseListener(m_state));
    m_session->subscribeSessionStatus(m_statusListener.get());
    m_session->subscribeResponse(m_responseListener.get());

    if (m_session->login(m_settings.user.c_str(), m_settings.password.c_str(), m_settings.url.c_str(),
                         m_settings.connection.c_str()) == 0) {
        failure = {kExitUsage, "the SDK could not start the login"};
        return false;
    }
    const auto deadline = Clock::now() + m_timeout;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    bool started = false;
    for (;;) {
        if (m_state->status == IZelSessionStatus::Connected) {
            m_connected = true;
            return true;
        }
        if (m_state->status != IZelSessionStatus::Disconnected) started = true;
        if (!m_state->loginError.empty() && m_state->status == IZelSessionStatus::Disconnected) {
            failure = {loginFailureExitCode(m_state->loginError), m_state->loginError};
            return false;
        }
        if (started && m_state->status == IZelSessionStatus::Disconnected && m_state->loginError.empty()) {
            failure = {kExitUsage, fmt::format("the login to {} ended without an answer", m_settings.url)};
            return false;
        }
        if (g_interrupted) {
            failure = {kExitUsage, "interrupted during the login"};
            return false;
        }
        if (Clock::now() >= deadline) {
            // A dealer that answered but never let the login finish is told apart
            // from one that never answered at all.
            failure = {kExitUsage,
                       m_state->status == IZelSessionStatus::Disconnected
                           ? fmt::format("no answer from {} within {} (is the dealer running?)", m_settings.url,
                                         seconds(m_timeout))
                           : fmt::format("the login to {} did not reach Connected within {} (it stayed {})",
                                         m_settings.url, seconds(m_timeout), statusName(m_state->status))};
            return false;
        }
        m_state->changed.wait_for(lock, kPoll);
    }
}

void Client::logout() {
    if (m_session && m_connected) {
        m_connected = false;
        m_session->logout();
    }
}

Ref<IZelRequestFactory> Client::requestFactory() const {
    return m_session ? Ref<IZelRequestFactory>::adopt(m_session->getRequestFactory()) : Ref<IZelRequestFactory>();
}

Ref<IZelResponseReaderFactory> Client::readerFactory() const {
    return m_session ? Ref<IZelResponseReaderFactory>::adopt(m_session->getResponseReaderFactory())
                     : Ref<IZelResponseReaderFactory>();
}

Ref<IZelTableManager> Client::tableManager() const {
    return m_session ? Ref<IZelTableManager>::adopt(m_session->getTableManager()) : Ref<IZelTableManager>();
}

bool Client::call(IZelRequest* request, Ref<IZelResponse>& response, Failure& failure,
                  const std::function<void(double)>& waiting) {
    if (!request) {
        failure = {kExitUsage, "the SDK could not make the request"};
        return false;
    }
    std::vector<std::string> ids;
    if (request->getChildrenCount() == 0) {
        ids.push_back(request->getRequestID());
    } else {
        for (int i = 0; i < request->getChildrenCount(); ++i) {
            Ref<IZelRequest> child = Ref<IZelRequest>::adopt(request->getChildRequest(i));
            if (child) ids.push_back(child->getRequestID());
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        for (const auto& id : ids) m_state->waiting.insert(id);
    }
    m_session->sendRequest(request);
    const auto started = Clock::now();
    const auto deadline = started + m_timeout;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    auto forget = [&] {
        for (const auto& id : ids) {
            m_state->waiting.erase(id);
            m_state->answers.erase(id);
            m_state->failures.erase(id);
        }
    };
    for (;;) {
        for (const auto& id : ids)
            if (auto f = m_state->failures.find(id); f != m_state->failures.end()) {
                failure = {kExitRefused, f->second};
                forget();
                return false;
            }
        size_t done = 0;
        for (const auto& id : ids) done += m_state->answers.count(id);
        if (done == ids.size()) {
            response = m_state->answers[ids.front()];
            forget();
            return true;
        }
        if (m_state->lost) {
            failure = {kExitUsage, fmt::format("the connection to {} was lost", m_settings.url)};
            forget();
            return false;
        }
        if (g_interrupted) {
            failure = {kExitUsage, "interrupted"};
            forget();
            return false;
        }
        if (Clock::now() >= deadline) {
            failure = {kExitUsage, fmt::format("no answer from {} within {}", m_settings.url, seconds(m_timeout))};
            forget();
            return false;
        }
        m_state->changed.wait_for(lock, kPoll);
        if (waiting) {
            lock.unlock();
            waiting(std::chrono::duration<double>(Clock::now() - started).count());
            lock.lock();
        }
    }
}

void Client::onUpdates(std::function<void(IZelResponse*)> handler) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->updates = std::move(handler);
    // The handler replaced may still be running on the delivery thread with what it
    // refers to: once this returns, it is not.
    m_state->changed.wait(lock, [&] { return m_state->updatesRunning == 0; });
}

bool Client::waitFor(std::chrono::milliseconds duration, Failure& failure) {
    const auto deadline = Clock::now() + duration;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    while (Clock::now() < deadline && !g_interrupted) {
        if (m_state->lost) {
            failure = {kExitUsage, fmt::format("the connection to {} was lost", m_settings.url)};
            return false;
        }
        if (m_state->reconnectingSince && Clock::now() - *m_state->reconnectingSince >= m_timeout) {
            failure = {kExitUsage, fmt::format("the connection to {} was lost and did not come back within {}",
                                               m_settings.url, seconds(m_timeout))};
            return false;
        }
        m_state->changed.wait_for(lock, kPoll);
    }
    return true;
}

}  // namespace pellora::cli
