#pragma once
// Test support: a user session that only answers what message rendering asks
// (session ID, trading session, fresh request identifiers, the message factory),
// and an owning pointer for rendered messages.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "merrow/message.h"
#include "merrow/user_session.h"

namespace zel {
namespace testing_support {

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

class FakeUserSession final : public merrow::IUserSession {
public:
    FakeUserSession() : m_desc("QORA", "Dealing", "Dealing", "", false) {}
    ~FakeUserSession() override = default;

    // Request identifiers come out as "gen-1", "gen-2", ...; with failIds, none.
    bool failIds = false;
    bool noTradingSession = false;
    int issued = 0;

    void setTradingSession(const merrow::TradingSessionDesc* desc) override {}
    const merrow::TradingSessionDesc* getTradingSession() override
    {
        return noTradingSession ? nullptr : &m_desc;
    }
    int loadStationDescriptor() override { return 0; }
    const char* getStationParameter(const char*) override { return nullptr; }
    const merrow::TradingSessionDesc* const* getTradingSessionDescs() override { return m_none; }
    const char* getSessionID() override { return "sess-1"; }
    void subscribe(merrow::IUserMessageListener*) override {}
    void unsubscribe(merrow::IUserMessageListener*) override {}
    void subscribe(merrow::IUserSessionStatusListener*) override {}
    void unsubscribe(merrow::IUserSessionStatusListener*) override {}
    int send(merrow::IMessage*) override { return 0; }
    // Allocated with malloc: ConnectionManagerEx::freePointer frees it.
    char* newRequestID() override
    {
        if (failIds)
            return nullptr;
        return strdup(("gen-" + std::to_string(++issued)).c_str());
    }
    void freeRequestID(char* id) override { std::free(id); }
    void logout() override {}
    int getUserKind() override { return 20; }
    int getTraderID() override { return 7; }
    void setMessageFilter(int) override {}
    void setClosing(int) override {}
    int login(const char*) override { return 0; }
    const char* getSessionProperty(const char*) override { return nullptr; }
    const char* getInitialMessage(const char*) override { return nullptr; }
    int loginBySession(const char*, const char*, const char*, int) override { return 0; }
    void reconnect() override {}
    merrow::IMessageFactory* getMessageFactory() override { return merrow::getMessageFactory(); }

private:
    merrow::TradingSessionDesc m_desc;
    const merrow::TradingSessionDesc* m_none[1] = {nullptr};
};

} // namespace testing_support
} // namespace zel
