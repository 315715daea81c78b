#pragma once
// An in-process dealer with the demo world on an ephemeral port, and recording
// listeners for the public session API. Tests only.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dealer.h"
#include "demo_world.h"
#include "vorntool/add_ref.h"
#include "zel/zel.h"

namespace login_e2e {

using S = IZelSessionStatus;
using namespace std::chrono_literals;
constexpr auto kWait = 30s;

inline std::string freshDir()
{
    char tmpl[] = "/tmp/login-e2e-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    return d ? d : "/tmp/login-e2e-fallback";
}

// Statuses and login failures as a session reports them; an optional action runs
// inside each status callback.
class StatusLog : public TThreadSafeAddRefImpl<IZelSessionStatus> {
public:
    std::function<void(int)> onStatus;

    void onSessionStatusChanged(ZelSessionStatus status) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_statuses.push_back(status);
        }
        if (onStatus)
            onStatus(status);
        m_changed.notify_all();
    }
    void onLoginFailed(const char* error) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failures.emplace_back(error ? error : "<null>");
        }
        m_changed.notify_all();
    }
    // Waits until status has been reported (count times).
    bool waitFor(int status, int count = 1)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] {
            int n = 0;
            for (int s : m_statuses)
                n += s == status;
            return n >= count;
        });
    }
    std::vector<int> statuses()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_statuses;
    }
    std::vector<std::string> failures()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failures;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_statuses;
    std::vector<std::string> m_failures;
};

// Answers by request ID.
class ResponseLog : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    void onRequestCompleted(const char* id, IZelResponse* response) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        response->addRef();
        m_completed.emplace_back(id, response);
        m_changed.notify_all();
    }
    void onRequestFailed(const char* id, const char* error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failed.emplace_back(id, error ? error : "");
        m_changed.notify_all();
    }
    void onTablesUpdates(IZelResponse* response) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_updates;
        if (keepUpdates && response) {
            response->addRef();
            m_kept.push_back(response);
        }
        m_changed.notify_all();
    }
    // Set before the updates come to keep them (updates()).
    bool keepUpdates = false;
    // The kept updates, each with a reference for the caller.
    std::vector<IZelResponse*> updates()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (IZelResponse* r : m_kept)
            r->addRef();
        return m_kept;
    }
    // The response of a request (a reference for the caller), null when it failed
    // or did not come.
    IZelResponse* waitCompleted(const std::string& id)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        IZelResponse* found = nullptr;
        m_changed.wait_for(lock, kWait, [&] {
            for (auto& c : m_completed)
                if (c.first == id) {
                    found = c.second;
                    return true;
                }
            for (auto& f : m_failed)
                if (f.first == id)
                    return true;
            return false;
        });
        if (found)
            found->addRef();
        return found;
    }
    std::string waitFailed(const std::string& id)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::string text = "<none>";
        m_changed.wait_for(lock, kWait, [&] {
            for (auto& f : m_failed)
                if (f.first == id) {
                    text = f.second;
                    return true;
                }
            return false;
        });
        return text;
    }
    size_t failedCount(const std::string& id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (auto& f : m_failed)
            n += f.first == id;
        return n;
    }
    bool waitUpdates(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_updates >= count; });
    }

protected:
    ~ResponseLog() override
    {
        for (auto& c : m_completed)
            c.second->release();
        for (IZelResponse* r : m_kept)
            r->release();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, IZelResponse*>> m_completed;
    std::vector<std::pair<std::string, std::string>> m_failed;
    int m_updates = 0;
    std::vector<IZelResponse*> m_kept;
};

// A reference held and given back at the end of scope.
template <class T>
struct Held {
    T* p = nullptr;
    Held() = default;
    explicit Held(T* x) : p(x) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held()
    {
        if (p)
            p->release();
    }
    T* operator->() const { return p; }
    T* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
    void reset(T* x = nullptr)
    {
        if (p)
            p->release();
        p = x;
    }
};

class DealerFixture : public ::testing::Test {
protected:
    void SetUp() override { startDealer(pellora::dealer::demoWorld()); }
    void TearDown() override
    {
        session.reset();
        if (dealer)
            dealer->stop();
    }
    void startDealer(pellora::dealer::World world)
    {
        pellora::dealer::DealerConfig c;
        c.world = std::move(world);
        c.dataDir = freshDir();
        c.seed = 7;
        c.tickRate = 20;
        c.virtualClock = true;
        c.serverOptions.maxLogonFailures = 1000;
        c.serverOptions.threads = 2;
        auto s = pellora::dealer::Dealer::create(std::move(c), dealer);
        ASSERT_TRUE(s.isOk()) << s.text();
        ASSERT_TRUE(dealer->listen("tcp://127.0.0.1:0").isOk());
        ASSERT_TRUE(dealer->start().isOk());
        url = "tcp://127.0.0.1:" + std::to_string(dealer->boundPort(0));
    }

    // A new session with a status log subscribed.
    void newSession()
    {
        session.reset(CZelTransport::createSession());
        status.reset(new StatusLog());
        session->subscribeSessionStatus(status.get());
        responses.reset(new ResponseLog());
        session->subscribeResponse(responses.get());
    }
    // Logs in and waits for Connected (or a failure).
    bool loginAndWait(const char* user, const char* password, const char* connection)
    {
        if (!session)
            newSession();
        if (session->login(user, password, url.c_str(), connection) == 0)
            return false;
        return status->waitFor(S::Connected);
    }
    // Sends and returns the request ID.
    std::string send(IZelRequest* request)
    {
        Held<IZelRequest> r(request);
        if (!r)
            return "";
        std::string id = r->getRequestID();
        session->sendRequest(r.get());
        return id;
    }

    std::unique_ptr<pellora::dealer::Dealer> dealer;
    std::string url;
    Held<IZelSession> session;
    Held<StatusLog> status;
    Held<ResponseLog> responses;
};

} // namespace login_e2e
