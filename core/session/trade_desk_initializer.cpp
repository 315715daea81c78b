#include "core/session/trade_desk_initializer.h"

#include <chrono>
#include <cstring>

#include "core/requests/zel_const.h"
#include "core/responses/response.h"
#include "core/session/server_communicator.h"

namespace zel {

namespace {

std::mutex g_hookMutex;
std::function<void(std::weak_ptr<TradeDeskInitializer>)> g_expiryHook;

} // namespace

// ---- the listener ----

void InitResponseListener::onRequestCompleted(const char*, IZelResponse* response)
{
    auto owner = m_owner.lock();
    auto* command = dynamic_cast<CommandResponseImpl*>(response);
    if (owner && command)
        owner->onMessageReceived(command->getCommand(), command->getResponse());
}

void InitResponseListener::onRequestFailed(const char*, const char* error)
{
    if (auto owner = m_owner.lock())
        owner->onFailed(error && *error ? error : TradeDeskInitializer::kRefused);
}

void InitResponseListener::onTablesUpdates(IZelResponse* response)
{
    auto owner = m_owner.lock();
    auto* text = dynamic_cast<Response*>(response);
    if (owner && text && std::strstr(text->getResponse(), ZelConst::RTMP_SYS_CONFIG_MSG))
        owner->onMessageReceived(3, text->getResponse());
}

// ---- the initializer ----

TradeDeskInitializer::TradeDeskInitializer(std::shared_ptr<IProtocolProvider> provider)
    : m_provider(std::move(provider))
{
}

TradeDeskInitializer::~TradeDeskInitializer()
{
    stopWatchdog();
    RefPtr<InitResponseListener> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        listener = std::move(m_listener);
    }
    if (listener && m_communicator)
        m_communicator->unsubscribeResponse(listener.get());
}

int TradeDeskInitializer::defaultTimeoutMs()
{
    return 180000;
}

void TradeDeskInitializer::setExpiryHookForTesting(std::function<void(std::weak_ptr<TradeDeskInitializer>)> hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_expiryHook = std::move(hook);
}

bool TradeDeskInitializer::getInitMessages(merrow::IUserSession* session, ZelTableManagerMode mode,
                                           std::vector<std::string>& answers, std::vector<int>& commands)
{
    answers.clear();
    commands.clear();
    m_provider->getInitCommands(nullptr, commands);
    if (mode == ZelTableManagerMode::TableManagerOnly || mode == ZelTableManagerMode::TableManagerAndReaders) {
        commands.push_back(5);
        commands.push_back(9);
    }
    if (commands.empty() || !session)
        return false;
    for (int command : commands) {
        const std::string number = std::to_string(command);
        const char* text = session->getInitialMessage(number.c_str());
        if (text)
            answers.emplace_back(text);
    }
    return answers.size() == commands.size();
}

RefPtr<TradeDesk> TradeDeskInitializer::initFromSession(merrow::IUserSession* session, ZelTableManagerMode mode)
{
    std::vector<std::string> answers;
    std::vector<int> commands;
    if (!getInitMessages(session, mode, answers, commands))
        return nullptr;
    RefPtr<TradeDesk> desk = adoptRef(new TradeDesk(session->getUserKind()));
    desk->tables()->setMode(mode);
    if (m_prepare)
        m_prepare(desk.get());
    m_provider->initTradeDeskFromMessages(desk.get(), commands, answers);
    return desk;
}

void TradeDeskInitializer::reinitFromSession(merrow::IUserSession* session, ZelTableManagerMode mode,
                                             TradeDesk* desk)
{
    std::vector<std::string> answers;
    std::vector<int> commands;
    if (desk && getInitMessages(session, mode, answers, commands))
        m_provider->initTradeDeskFromMessages(desk, commands, answers);
}

void TradeDeskInitializer::initWithSendRequest(ServerCommunicator& communicator, int userKind, Callback callback,
                                               int timeoutMs)
{
    std::vector<RefPtr<IZelRequest>> requests;
    std::vector<int> commands;
    m_provider->getInitCommands(&requests, commands);
    RefPtr<InitResponseListener> listener = adoptRef(new InitResponseListener(weak_from_this()));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands = commands;
        m_communicator = &communicator;
        m_userKind = userKind;
        m_callback = std::move(callback);
        m_listener = listener;
    }
    communicator.subscribeInitResponse(listener.get());

    std::function<void(std::weak_ptr<TradeDeskInitializer>)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_expiryHook;
    }
    if (hook) {
        hook(weak_from_this());
    } else if (timeoutMs > 0) {
        std::weak_ptr<TradeDeskInitializer> weak = weak_from_this();
        try {
            m_watchdog = std::thread([this, weak, timeoutMs] {
                std::unique_lock<std::mutex> lock(m_mutex);
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
                if (m_wake.wait_until(lock, until, [this] { return m_stop || m_done; }))
                    return;
                lock.unlock();
                // Held for the call: the initializer stays while it expires.
                if (auto self = weak.lock())
                    self->expire();
            });
        } catch (...) {
            // Without a watchdog the login waits for the answers, as it always may.
        }
    }

    for (RefPtr<IZelRequest>& request : requests) {
        if (!request)
            continue;
        // A send that fails comes back as onRequestFailed of the listener.
        communicator.sendRequest(request.get());
    }
}

void TradeDeskInitializer::stopWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_watchdog.joinable()) {
        if (m_watchdog.get_id() == std::this_thread::get_id())
            m_watchdog.detach();
        else
            m_watchdog.join();
    }
}

std::string TradeDeskInitializer::answerOf(int command)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_answers.find(command);
    return it == m_answers.end() ? std::string() : it->second;
}

void TradeDeskInitializer::onMessageReceived(int command, const char* text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_done)
            return;
        bool listed = false;
        for (int c : m_commands)
            listed = listed || c == command;
        if (!listed)
            return;
        m_answers[command] = text ? text : "";
        if (m_answers.size() < m_commands.size())
            return;
    }
    finish(true, std::string());
}

void TradeDeskInitializer::onFailed(const std::string& text)
{
    finish(false, text);
}

void TradeDeskInitializer::expire()
{
    finish(false, kNoAnswer);
}

void TradeDeskInitializer::finish(bool success, const std::string& text)
{
    std::shared_ptr<TradeDeskInitializer> self = shared_from_this();
    RefPtr<InitResponseListener> listener;
    Callback callback;
    std::vector<std::string> answers;
    std::vector<int> commands;
    int userKind = 20;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_done || !m_callback)
            return;
        m_done = true;
        listener = std::move(m_listener);
        callback = m_callback;
        commands = m_commands;
        for (int c : commands)
            answers.push_back(m_answers[c]);
        userKind = m_userKind;
    }
    m_wake.notify_all();
    (void)listener;  // its registration ends with the initialization listener at Connected or close
    RefPtr<TradeDesk> desk;
    if (success) {
        desk = adoptRef(new TradeDesk(userKind));
        if (m_prepare)
            m_prepare(desk.get());
        m_provider->initTradeDeskFromMessages(desk.get(), commands, answers);
    }
    callback(success, desk, text);
}

} // namespace zel
