#pragma once
// The tool's session on the public SDK: logs in, waits for Connected, sends a
// request and waits for its answer, hears pushed updates. Every wait is bounded,
// so an unreachable or silent dealer is a reason on one line, never a hang.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "settings.h"
#include "zel/zel.h"

namespace pellora::cli {

// Holds one reference of an SDK object and releases it at the end.
template <class T>
class Ref {
public:
    Ref() = default;
    // Takes over a reference the caller already holds (a create... or get... result).
    static Ref adopt(T* p) {
        Ref r;
        r.m_p = p;
        return r;
    }
    Ref(const Ref& o) : m_p(o.m_p) {
        if (m_p) m_p->addRef();
    }
    Ref(Ref&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    Ref& operator=(Ref o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~Ref() {
        if (m_p) m_p->release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Exit codes of the tool.
enum ExitCode { kExitOk = 0, kExitRefused = 1, kExitUsage = 2 };

struct Failure {
    int exitCode = kExitUsage;
    std::string text;
};

// Set by SIGINT/SIGTERM; long waits end when it turns true.
extern std::atomic<bool> g_interrupted;

class Client {
public:
    Client(ConnectionSettings settings, std::chrono::milliseconds timeout, bool verbose);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Logs in and waits until Connected. False with the reason: exit 1 when the
    // server refused the login, 2 when it could not be reached or did not answer.
    bool login(Failure& failure);
    void logout();

    // Sends the request and waits for the answer under its identifier (for a batch,
    // the answers of all its children; the first one is returned).
    // While it waits, waiting (when given) is told the seconds gone, every tenth
    // of a second, on the caller's thread.
    bool call(IZelRequest* request, Ref<IZelResponse>& response, Failure& failure,
              const std::function<void(double)>& waiting = nullptr);

    // Runs for each pushed update on the SDK's delivery thread; keep it short. Returns
    // once no call of the handler it replaces is under way, so the handler may refer
    // to the caller's locals until it is replaced (by nullptr at the end). Never call
    // it from inside the handler.
    void onUpdates(std::function<void(IZelResponse*)> handler);
    // Waits until interrupted, the connection is lost (false) or the time is up. A
    // session that stays reconnecting for longer than the timeout counts as lost.
    bool waitFor(std::chrono::milliseconds duration, Failure& failure);

    IZelSession* session() const { return m_session.get(); }
    Ref<IZelRequestFactory> requestFactory() const;
    Ref<IZelResponseReaderFactory> readerFactory() const;
    // The live tables: the mode is set before login (none by default: the tool's
    // commands read answers); the manager is null without one or before Connected.
    void setTableManagerMode(ZelTableManagerMode mode) { m_tableManagerMode = mode; }
    Ref<IZelTableManager> tableManager() const;
    const ConnectionSettings& settings() const { return m_settings; }
    double timeoutSeconds() const { return std::chrono::duration<double>(m_timeout).count(); }

    struct State;

private:
    ConnectionSettings m_settings;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<State> m_state;
    Ref<IZelSession> m_session;
    Ref<IZelSessionStatus> m_statusListener;
    Ref<IZelResponseListener> m_responseListener;
    bool m_connected = false;
    ZelTableManagerMode m_tableManagerMode = ZelTableManagerMode::NoTableManager;
};

// Sorts a login failure text: the transport's "cannot reach" and certificate
// failures are connection errors (2); what the server answered is a refusal (1).
int loginFailureExitCode(const std::string& text);

}  // namespace pellora::cli
