#pragma once
// A messaging session for factory tests: issues "Q1", "Q2" ... as request
// identifiers and counts the ones not handed back, so tests see leaks of them.

#include <cstdlib>
#include <cstring>
#include <string>

#include "merrow/user_session.h"

namespace zel {
namespace factory_testing {

class IdIssuingSession : public merrow::IUserSession {
public:
    IdIssuingSession() = default;
    ~IdIssuingSession() override = default;

    int outstandingIDs() const { return m_outstanding; }
    int issuedIDs() const { return m_next - 1; }
    void setNullIDs(bool on) { m_nullIDs = on; }

    char* newRequestID() override
    {
        if (m_nullIDs)
            return nullptr;
        ++m_outstanding;
        return strdup(("Q" + std::to_string(m_next++)).c_str());
    }
    void freeRequestID(char* id) override
    {
        if (id)
            --m_outstanding;
        std::free(id);
    }
    int getTraderID() override { return 77; }
    const char* getSessionID() override { return "S-1"; }

    void setTradingSession(const merrow::TradingSessionDesc*) override {}
    const merrow::TradingSessionDesc* getTradingSession() override { return nullptr; }
    int loadStationDescriptor() override { return 0; }
    const char* getStationParameter(const char*) override { return nullptr; }
    const merrow::TradingSessionDesc* const* getTradingSessionDescs() override { return m_noDescs; }
    void subscribe(merrow::IUserMessageListener*) override {}
    void unsubscribe(merrow::IUserMessageListener*) override {}
    void subscribe(merrow::IUserSessionStatusListener*) override {}
    void unsubscribe(merrow::IUserSessionStatusListener*) override {}
    int send(merrow::IMessage*) override { return 0; }
    void logout() override {}
    int getUserKind() override { return 20; }
    void setMessageFilter(int) override {}
    void setClosing(int) override {}
    int login(const char*) override { return 0; }
    const char* getSessionProperty(const char*) override { return nullptr; }
    const char* getInitialMessage(const char*) override { return nullptr; }
    int loginBySession(const char*, const char*, const char*, int) override { return 0; }
    void reconnect() override {}
    merrow::IMessageFactory* getMessageFactory() override { return nullptr; }

private:
    int m_next = 1;
    int m_outstanding = 0;
    bool m_nullIDs = false;
    const merrow::TradingSessionDesc* m_noDescs[1] = {nullptr};
};

} // namespace factory_testing
} // namespace zel
