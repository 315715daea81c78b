#pragma once
// Test doubles for the session: a messaging session the test drives by hand, the
// factory that hands it out, recording status and response listeners, and
// builders of the messages a dealing server sends.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/session/user_session_factory.h"
#include "merrow/fix_defs.h"
#include "merrow/generic_exception.h"
#include "merrow/listeners.h"
#include "merrow/message.h"
#include "merrow/user_session.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"
#include "zel/session_status.h"

namespace zel {
namespace testing {

using Fx = merrow::IFixDefs;

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

inline MessagePtr newMessage(const char* type)
{
    return MessagePtr(merrow::getMessageFactory()->createMessage(type));
}

// A DAS answer to a request: the result set under the parameter "DAS".
inline MessagePtr dasAnswer(const std::string& requestID, const std::string& text)
{
    MessagePtr m = newMessage(Fx::MSGTYPE_QORARESPONSE);
    m->setValue(Fx::FLDTAG_TESTREQID, requestID.c_str());
    merrow::IFieldGroup* entry = m->createGroupList(Fx::FLDTAG_QORANOPARAM)->appendGroup();
    entry->setValue(Fx::FLDTAG_QORAPARAMNAME, "DAS");
    entry->setValue(Fx::FLDTAG_QORAPARAMVALUE, text.c_str());
    return m;
}

// A pushed DAS table update.
inline MessagePtr dasUpdate(const std::string& text)
{
    MessagePtr m = newMessage(Fx::MSGTYPE_DASMESSAGE);
    m->setValue(Fx::FLDTAG_TEXT, text.c_str());
    return m;
}

inline MessagePtr requestReject(const std::string& requestID, const std::string& text)
{
    MessagePtr m = newMessage(Fx::MSGTYPE_QORAREQUESTREJECT);
    m->setValue(Fx::FLDTAG_TESTREQID, requestID.c_str());
    m->setValue(Fx::FLDTAG_TEXT, text.c_str());
    return m;
}

class FakeStatus : public merrow::ISessionStatus {
public:
    FakeStatus(int code, int message) : m_code(code), m_message(message) {}
    int getStatusCode() const override { return m_code; }
    int getMessageCode() const override { return m_message; }
    const char* getReasonText() const override { return ""; }

private:
    int m_code;
    int m_message;
};

// A messaging session played by the test: scripted answers for the login steps,
// a record of everything the core did with it, and delivery on demand.
class FakeUserSession : public merrow::IUserSession {
public:
    FakeUserSession() = default;
    ~FakeUserSession() override = default;

    // Script.
    int stationLoaded = 1;
    std::string version;  // "" : no "version" parameter
    std::vector<merrow::TradingSessionDesc> descriptors;
    int loginResult = 1;
    std::string loginThrows;  // non-empty: login throws this text
    int sendResult = 1;
    int loginBySessionResult = 1;
    int userKind = 20;
    // Answers that came with the login, by command number; session properties.
    std::map<std::string, std::string> initialMessages;
    std::map<std::string, std::string> properties;
    // Runs on the sender's thread for every message taken.
    std::function<void(merrow::IMessage*)> onSend;

    // Record.
    std::mutex mutex;
    std::vector<std::string> calls;
    std::string loginExtra;
    std::string selectedSubID;
    int closing = 0;
    int filter = 0;
    std::atomic<int> sent{0};
    std::vector<merrow::IUserMessageListener*> messageListeners;
    std::vector<merrow::IUserSessionStatusListener*> statusListeners;

    void record(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
    bool called(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const std::string& c : calls)
            if (c == call)
                return true;
        return false;
    }

    // Delivery, on the test's thread as if it were the transport's.
    void deliver(merrow::IMessage* message)
    {
        std::vector<merrow::IUserMessageListener*> copy;
        {
            std::lock_guard<std::mutex> lock(mutex);
            copy = messageListeners;
            for (auto* l : copy)
                l->addRef();
        }
        for (auto* l : copy) {
            l->update(this, message);
            l->release();
        }
    }
    void report(int code, int message)
    {
        FakeStatus status(code, message);
        std::vector<merrow::IUserSessionStatusListener*> copy;
        {
            std::lock_guard<std::mutex> lock(mutex);
            copy = statusListeners;
            for (auto* l : copy)
                l->addRef();
        }
        for (auto* l : copy) {
            l->update(this, &status);
            l->release();
        }
    }
    size_t messageListenerCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return messageListeners.size();
    }

    void setTradingSession(const merrow::TradingSessionDesc* desc) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_selected.reset(desc ? new merrow::TradingSessionDesc(*desc) : nullptr);
        selectedSubID = desc ? desc->getSubID() : "";
    }
    const merrow::TradingSessionDesc* getTradingSession() override { return m_selected.get(); }
    int loadStationDescriptor() override
    {
        record("loadStationDescriptor");
        m_descPointers.clear();
        for (const auto& d : descriptors)
            m_descPointers.push_back(&d);
        m_descPointers.push_back(nullptr);
        return stationLoaded;
    }
    const char* getStationParameter(const char* name) override
    {
        return std::string(name) == "version" && !version.empty() ? version.c_str() : nullptr;
    }
    const merrow::TradingSessionDesc* const* getTradingSessionDescs() override
    {
        if (m_descPointers.empty())
            m_descPointers.push_back(nullptr);
        return m_descPointers.data();
    }
    const char* getSessionID() override { return "S1"; }
    void subscribe(merrow::IUserMessageListener* l) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto* x : messageListeners)
            if (x == l)
                return;
        l->addRef();
        messageListeners.push_back(l);
    }
    void unsubscribe(merrow::IUserMessageListener* l) override { drop(messageListeners, l); }
    void subscribe(merrow::IUserSessionStatusListener* l) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto* x : statusListeners)
            if (x == l)
                return;
        l->addRef();
        statusListeners.push_back(l);
    }
    void unsubscribe(merrow::IUserSessionStatusListener* l) override { drop(statusListeners, l); }
    int send(merrow::IMessage* message) override
    {
        ++sent;
        if (onSend && sendResult)
            onSend(message);
        return sendResult;
    }
    char* newRequestID() override
    {
        std::string id = "R" + std::to_string(++m_nextID);
        char* p = static_cast<char*>(std::malloc(id.size() + 1));
        std::memcpy(p, id.c_str(), id.size() + 1);
        return p;
    }
    void freeRequestID(char* id) override { std::free(id); }
    void logout() override { record("logout"); }
    int getUserKind() override { return userKind; }
    int getTraderID() override { return 7; }
    void setMessageFilter(int mask) override { filter = mask; }
    void setClosing(int c) override { closing = c; }
    int login(const char* extra) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            loginExtra = extra ? extra : "";
        }
        record("login");
        if (!loginThrows.empty())
            throw merrow::GenericException(loginThrows);
        return loginResult;
    }
    const char* getSessionProperty(const char* name) override
    {
        auto it = properties.find(name ? name : "");
        return it == properties.end() ? nullptr : it->second.c_str();
    }
    const char* getInitialMessage(const char* command) override
    {
        auto it = initialMessages.find(command ? command : "");
        return it == initialMessages.end() ? nullptr : it->second.c_str();
    }
    int loginBySession(const char*, const char*, const char*, int) override
    {
        record("loginBySession");
        return loginBySessionResult;
    }
    void reconnect() override { record("reconnect"); }
    merrow::IMessageFactory* getMessageFactory() override { return merrow::getMessageFactory(); }

    void releaseListeners()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto* l : messageListeners)
            l->release();
        for (auto* l : statusListeners)
            l->release();
        messageListeners.clear();
        statusListeners.clear();
    }

private:
    template <class L>
    void drop(std::vector<L*>& list, L* l)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (*it == l) {
                list.erase(it);
                l->release();
                return;
            }
        }
    }

    std::unique_ptr<merrow::TradingSessionDesc> m_selected;
    std::vector<const merrow::TradingSessionDesc*> m_descPointers;
    int m_nextID = 0;
};

// Hands out fake sessions prepared by the test; a freed session is kept (for the
// test to inspect) and its listeners are dropped, as the transport does.
class FakeSessionFactory : public IUserSessionFactory {
public:
    std::function<void(FakeUserSession&)> prepare;
    std::mutex mutex;
    std::vector<std::unique_ptr<FakeUserSession>> made;
    std::vector<FakeUserSession*> freed;

    merrow::IUserSession* createUserSession(const char*, const char*, const char*, const char*, const char*) override
    {
        auto s = std::make_unique<FakeUserSession>();
        if (prepare)
            prepare(*s);
        std::lock_guard<std::mutex> lock(mutex);
        made.push_back(std::move(s));
        return made.back().get();
    }
    void freeUserSession(merrow::IUserSession* session) override
    {
        auto* fake = static_cast<FakeUserSession*>(session);
        fake->releaseListeners();
        std::lock_guard<std::mutex> lock(mutex);
        freed.push_back(fake);
    }
    FakeUserSession* last()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return made.empty() ? nullptr : made.back().get();
    }
    bool wasFreed(FakeUserSession* s)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto* f : freed)
            if (f == s)
                return true;
        return false;
    }
    ~FakeSessionFactory() override
    {
        for (auto& s : made)
            s->releaseListeners();
    }
};

// Records statuses and login failures; optional hooks run inside the callbacks.
class StatusRecorder : public TThreadSafeAddRefImpl<IZelSessionStatus> {
public:
    std::mutex mutex;
    std::vector<int> statuses;
    std::vector<std::string> errors;
    std::function<void(int)> onStatus;
    std::function<void(const char*)> onFailure;

    void onSessionStatusChanged(ZelSessionStatus status) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            statuses.push_back(status);
        }
        if (onStatus)
            onStatus(status);
    }
    void onLoginFailed(const char* error) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            errors.emplace_back(error);
        }
        if (onFailure)
            onFailure(error);
    }
    std::vector<int> seen()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return statuses;
    }
    std::vector<std::string> failures()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return errors;
    }
};

// Records every response callback as a line ("completed R1", "failed R1: text",
// "update <payload>"), tagged with a name, into a shared log.
class ResponseRecorder : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    ResponseRecorder(std::string name, std::vector<std::string>* log, std::mutex* logMutex)
        : m_name(std::move(name)), m_log(log), m_logMutex(logMutex)
    {
    }
    std::function<void(ResponseRecorder&)> onCall;

    void onRequestCompleted(const char* id, IZelResponse*) override { add("completed " + std::string(id)); }
    void onRequestFailed(const char* id, const char* error) override
    {
        add("failed " + std::string(id) + ": " + error);
    }
    void onTablesUpdates(IZelResponse*) override { add("update"); }

private:
    void add(const std::string& line)
    {
        {
            std::lock_guard<std::mutex> lock(*m_logMutex);
            m_log->push_back(m_name + " " + line);
        }
        if (onCall)
            onCall(*this);
    }
    std::string m_name;
    std::vector<std::string>* m_log;
    std::mutex* m_logMutex;
};

} // namespace testing
} // namespace zel
