// What the four examples share: where to log in (the command line, then the
// environment), and a session that logs in, waits for Connected and sends
// requests whose answers it waits for. Public headers only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "zel/zel.h"

namespace example {

struct Settings {
    std::string url, user, password, connection;
};

// URL from argv[1] or PELLORA_URL; PELLORA_USER, PELLORA_PASSWORD and
// PELLORA_CONNECTION; without them, the demo login of a local dealer.
inline Settings settingsFrom(int argc, char** argv) {
    auto env = [](const char* name, const char* otherwise) {
        const char* v = std::getenv(name);
        return std::string(v && *v ? v : otherwise);
    };
    Settings s;
    s.url = argc > 1 ? argv[1] : env("PELLORA_URL", "tcp://127.0.0.1:7080");
    s.user = env("PELLORA_USER", "demo");
    s.password = env("PELLORA_PASSWORD", "demo");
    s.connection = env("PELLORA_CONNECTION", "Demo");
    return s;
}

// What the listeners record and the main thread waits on.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    IZelSessionStatus::ZelSessionStatus status = IZelSessionStatus::Disconnected;
    bool started = false;
    std::string loginError;
    IZelSession* session = nullptr;
    std::map<std::string, IZelResponse*> answers;  // by request ID, one reference each
    std::map<std::string, std::string> failures;
};

// [Threading] Runs on the SDK's login and transport threads, under the session's
// status-listener lock: it records, wakes the main thread, and picks the first
// trading session when the server offers several.
class StatusListener : public TThreadSafeAddRefImpl<IZelSessionStatus> {
public:
    explicit StatusListener(std::shared_ptr<Shared> s) : m_s(std::move(s)) {}
    void onSessionStatusChanged(ZelSessionStatus status) override {
        if (status == TradingSessionRequested) {
            IZelSessionDescriptorCollection* all = m_s->session->getTradingSessionDescriptors();
            IZelSessionDescriptor* first = all && all->size() > 0 ? all->get(0) : nullptr;
            m_s->session->setTradingSession(first ? first->getID() : "", "");
            if (first) first->release();
            if (all) all->release();
        }
        std::lock_guard<std::mutex> lock(m_s->mutex);
        m_s->status = status;
        m_s->started = m_s->started || status != Disconnected;
        m_s->changed.notify_all();
    }
    void onLoginFailed(const char* error) override {
        std::lock_guard<std::mutex> lock(m_s->mutex);
        m_s->loginError = error ? error : "";
        m_s->changed.notify_all();
    }

private:
    std::shared_ptr<Shared> m_s;
};

// [Threading] Runs on the transport's delivery thread, one message at a time.
// Answers are kept (with a reference) for the thread that waits for them.
class ResponseListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    explicit ResponseListener(std::shared_ptr<Shared> s) : m_s(std::move(s)) {}
    void onRequestCompleted(const char* requestID, IZelResponse* response) override {
        if (!requestID || !response) return;
        response->addRef();
        std::lock_guard<std::mutex> lock(m_s->mutex);
        IZelResponse*& slot = m_s->answers[requestID];
        if (slot) slot->release();
        slot = response;
        m_s->changed.notify_all();
    }
    void onRequestFailed(const char* requestID, const char* error) override {
        if (!requestID) return;
        std::lock_guard<std::mutex> lock(m_s->mutex);
        m_s->failures[requestID] = error ? error : "the request failed";
        m_s->changed.notify_all();
    }
    void onTablesUpdates(IZelResponse*) override {}

private:
    std::shared_ptr<Shared> m_s;
};

class Session {
public:
    explicit Session(ZelTableManagerMode mode = ZelTableManagerMode::NoTableManager)
        : m_shared(std::make_shared<Shared>()),
          m_status(new StatusListener(m_shared)),
          m_responses(new ResponseListener(m_shared)) {
        m_session = CZelTransport::createSession();  // one reference: ours
        m_shared->session = m_session;
        m_session->useTableManager(mode);
        m_session->subscribeSessionStatus(m_status);
        m_session->subscribeResponse(m_responses);
    }
    ~Session() {
        if (m_connected) m_session->logout();
        m_session->unsubscribeResponse(m_responses);
        m_session->unsubscribeSessionStatus(m_status);
        for (auto& a : m_shared->answers) a.second->release();
        m_responses->release();
        m_status->release();
        m_session->release();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    IZelSession* operator->() const { return m_session; }
    IZelSession* get() const { return m_session; }

    // [doc login]
    // Logs in and waits (at most 30 s) for Connected, or says why not.
    bool login(const Settings& s) {
        std::printf("logging in to %s as %s\n", s.url.c_str(), s.user.c_str());
        if (m_session->login(s.user.c_str(), s.password.c_str(), s.url.c_str(), s.connection.c_str()) == 0) {
            std::fprintf(stderr, "login failed: the session could not start it\n");
            return false;
        }
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return m_shared->status == IZelSessionStatus::Connected ||
                   (m_shared->started && m_shared->status == IZelSessionStatus::Disconnected);
        });
        m_connected = m_shared->status == IZelSessionStatus::Connected;
        if (!m_connected) std::fprintf(stderr, "login failed: %s\n", m_shared->loginError.c_str());
        return m_connected;
    }
    // [doc end]

    // Sends the request and waits (at most 30 s) for its answer: the response with
    // a reference for the caller, or null after printing why.
    IZelResponse* call(IZelRequest* request) {
        if (!request) {
            std::fprintf(stderr, "the SDK could not make the request\n");
            return nullptr;
        }
        const std::string id = request->getRequestID();
        m_session->sendRequest(request);
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return m_shared->answers.count(id) || m_shared->failures.count(id);
        });
        auto answer = m_shared->answers.find(id);
        if (answer != m_shared->answers.end()) {
            IZelResponse* response = answer->second;
            m_shared->answers.erase(answer);
            return response;
        }
        auto failure = m_shared->failures.find(id);
        std::fprintf(stderr, "request %s failed: %s\n", id.c_str(),
                     failure != m_shared->failures.end() ? failure->second.c_str() : "no answer within 30 s");
        return nullptr;
    }

private:
    std::shared_ptr<Shared> m_shared;
    StatusListener* m_status;
    ResponseListener* m_responses;
    IZelSession* m_session = nullptr;
    bool m_connected = false;
};

}  // namespace example
