#include "core/session/login_job.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "core/requests/zel_const.h"
#include "core/session/server_communicator.h"
#include "core/session/session_creation_helper.h"
#include "merrow/generic_exception.h"
#include "zel/session.h"

namespace zel {

namespace {

std::string formatText(const char* pattern, const std::string& value)
{
    std::string out;
    const char* at = std::strstr(pattern, "%s");
    out.assign(pattern, at ? static_cast<size_t>(at - pattern) : std::strlen(pattern));
    if (at) {
        out += value;
        out += at + 2;
    }
    return out;
}

// The API's numbers follow the first "." of "api_ver.1.0.3".
const char* ownVersion()
{
    const char* dot = std::strchr(sz_pellora_api_version, '.');
    return dot ? dot + 1 : sz_pellora_api_version;
}

} // namespace

LoginJob::LoginJob(LoginData* data, ServerCommunicator* communicator, bool ownerRetained)
    : m_data(data), m_communicator(communicator), m_ownerRetained(ownerRetained)
{
}

LoginJob::~LoginJob()
{
    join();
}

bool LoginJob::run()
{
    return start(nullptr);
}

void LoginJob::wait()
{
    join();
}

bool LoginJob::isOnThisThread() const
{
    return isRunning() && m_threadId.load() == std::this_thread::get_id();
}

void LoginJob::getVersion(const char* text, int& major, int& minor, int& patch)
{
    major = minor = patch = 0;
    if (text)
        std::sscanf(text, "%d.%d.%d", &major, &minor, &patch);
}

bool LoginJob::checkValidVersion(const char* required, const char* own)
{
    int r[3], o[3];
    getVersion(required, r[0], r[1], r[2]);
    getVersion(own, o[0], o[1], o[2]);
    for (int i = 0; i < 3; ++i) {
        if (r[i] != o[i])
            return r[i] < o[i];
    }
    return true;
}

bool LoginJob::checkVersion(merrow::IUserSession* session, std::string& version)
{
    const char* required = session->getStationParameter("version");
    if (!required || !*required)
        return true;
    version = required;
    return checkValidVersion(required, ownVersion());
}

void LoginJob::addPinToExtraParams(const std::string& pin, std::string& extra)
{
    if (!extra.empty())
        extra += ";";
    extra += ZelConst::PIN_EXTRA_COMMAND;
    extra += pin;
}

void LoginJob::run(void* /*argument*/)
{
    m_threadId.store(std::this_thread::get_id());
    ServerCommunicator& c = *m_communicator;
    std::string user, url, password, connection, extra;
    m_data->getMainData(user, url, password, connection, extra);

    merrow::IUserSession* session = nullptr;
    std::string failure;
    try {
        session = SessionCreationHelper::createUserSession(c.sessionFactory(), user.c_str(), password.c_str(),
                                                           url.c_str(), connection.c_str(), c.messageListener(),
                                                           c.statusListener());
        if (!session)
            throw merrow::GenericException(formatText("Can't connected to server %s.", url));
        c.setStatus(IZelSessionStatus::Connecting);
        if (!session->loadStationDescriptor())
            throw merrow::GenericException(formatText("Can't connected to server %s.", url));
        std::string version;
        if (!checkVersion(session, version))
            throw merrow::GenericException(formatText(
                "The minimum required version of Pellora API is '%s'. Please update your Pellora API.", version));

        const merrow::TradingSessionDesc* const* descriptions = session->getTradingSessionDescs();
        c.onTradeSessionDescReceived(descriptions);

        std::string sessionID, pin;
        m_data->getExtendedData(sessionID, pin);
        const merrow::TradingSessionDesc* chosen = nullptr;
        for (size_t i = 0; descriptions && descriptions[i]; ++i) {
            if (sessionID == descriptions[i]->getSubID()) {
                chosen = descriptions[i];
                break;
            }
        }
        if (!chosen)
            throw merrow::GenericException("The wrong system id is specified.");
        session->setTradingSession(chosen);
        if (chosen->pinRequired())
            addPinToExtraParams(pin, extra);

        if (session->login(extra.c_str()) == 1) {
            // Ownership passes before the call: whatever happens inside, the
            // communicator holds the session and this worker never frees it.
            merrow::IUserSession* opened = std::exchange(session, nullptr);
            c.onSessionOpened(opened);
        } else {
            // The transport refused without saying why; the application still
            // deserves an answer rather than a login that never ends.
            failure = "Login failed.";
        }
    } catch (const merrow::GenericException& e) {
        failure = *e.getText() ? e.getText() : "Login failed.";
    } catch (const std::exception& e) {
        failure = *e.what() ? e.what() : "Login failed.";
    } catch (...) {
        failure = "Login failed.";
    }

    if (!failure.empty()) {
        // The transport's session goes before the application hears of the
        // failure: an application that ends its process on that notice must not
        // find this worker still inside the transport while its statics go away.
        if (session) {
            session->unsubscribe(static_cast<merrow::IUserMessageListener*>(c.messageListener()));
            session->unsubscribe(static_cast<merrow::IUserSessionStatusListener*>(c.statusListener()));
            c.sessionFactory().freeUserSession(session);
        }
        c.onLoginFailed(failure.c_str());
    }
    // The last step: it may let the session object go.
    c.loginEnded(this, m_ownerRetained);
}

} // namespace zel
