#pragma once
// The public session object: a handle that forwards to its ClientSession engine.
// Destroyed on the delivery strand after freeObject, once the callback in progress
// has returned, so the pointer a callback received stays valid to its end.

#include <memory>

#include "client_session.h"
#include "merrow/user_session.h"

namespace merrow::detail {

class UserSession final : public IUserSession {
public:
    explicit UserSession(std::shared_ptr<ClientSession> engine);
    ~UserSession() override;

    ClientSession& engine() { return *m_engine; }
    // ConnectionManagerEx::freeObject.
    void free();

    void setTradingSession(const TradingSessionDesc* desc) override { m_engine->setTradingSession(desc); }
    const TradingSessionDesc* getTradingSession() override { return m_engine->tradingSession(); }
    int loadStationDescriptor() override;
    const char* getStationParameter(const char* name) override { return m_engine->stationParameter(name); }
    const TradingSessionDesc* const* getTradingSessionDescs() override { return m_engine->tradingSessionDescs(); }
    const char* getSessionID() override { return m_engine->sessionId(); }
    void subscribe(IUserMessageListener* listener) override { m_engine->delivery().subscribe(listener); }
    void unsubscribe(IUserMessageListener* listener) override { m_engine->delivery().unsubscribe(listener); }
    void subscribe(IUserSessionStatusListener* listener) override { m_engine->delivery().subscribe(listener); }
    void unsubscribe(IUserSessionStatusListener* listener) override { m_engine->delivery().unsubscribe(listener); }
    int send(IMessage* message) override { return m_engine->send(message); }
    char* newRequestID() override;
    void freeRequestID(char* requestID) override;
    void logout() override { m_engine->logout(); }
    int getUserKind() override { return m_engine->userKind(); }
    int getTraderID() override { return m_engine->traderId(); }
    void setMessageFilter(int mask) override { m_engine->setMessageFilter(mask); }
    void setClosing(int closing) override { m_engine->setClosing(closing); }
    int login(const char* extra) override;
    const char* getSessionProperty(const char* name) override { return m_engine->sessionProperty(name); }
    const char* getInitialMessage(const char* command) override { return m_engine->initialMessage(command); }
    int loginBySession(const char* sessionID, const char* subID, const char* traderID, int flags) override;
    void reconnect() override { m_engine->reconnect(); }
    IMessageFactory* getMessageFactory() override;

private:
    std::shared_ptr<ClientSession> m_engine;
};

} // namespace merrow::detail
