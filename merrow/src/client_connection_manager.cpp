#include "merrow/connection_manager.h"

#include <cstdlib>

#include "client_runtime.h"
#include "client_user_session.h"
#include "debug_log.h"
#include "merrow/generic_exception.h"
#include "url.h"

namespace merrow {

using detail::ClientRuntime;
using detail::ClientSettings;

namespace {

std::string text(const char* s)
{
    return s ? s : "";
}

} // namespace

int ConnectionManagerEx::init(int mode)
{
    (void)mode;
    return ClientRuntime::instance().init() ? 1 : 0;
}

void ConnectionManagerEx::finalize(int mode)
{
    (void)mode;
    (void)ClientRuntime::instance().finalize();
}

void ConnectionManagerEx::setNoReconnectAttempts(int attempts)
{
    ClientRuntime::instance().update([attempts](ClientSettings& s) { s.reconnectAttempts = attempts; });
}

void ConnectionManagerEx::setNoReloginAttempts(int attempts)
{
    ClientRuntime::instance().update([attempts](ClientSettings& s) { s.reloginAttempts = attempts; });
}

void ConnectionManagerEx::setAsync(int async)
{
    (void)async;  // delivery is always asynchronous
}

void ConnectionManagerEx::setTcpTimeout(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    ClientRuntime::instance().update([milliseconds](ClientSettings& s) { s.tcpTimeoutMs = milliseconds; });
}

void ConnectionManagerEx::setProxyServer(const char* host, int port)
{
    const std::string h = text(host);
    const uint16_t p = (port > 0 && port <= 65535) ? static_cast<uint16_t>(port) : 0;
    ClientRuntime::instance().update([&](ClientSettings& s) {
        s.proxyHost = p ? h : std::string();
        s.proxyPort = p;
    });
}

void ConnectionManagerEx::setBasicProxyAuthorization(const char* user, const char* password)
{
    const std::string u = text(user);
    const std::string pw = user ? text(password) : std::string();
    ClientRuntime::instance().update([&](ClientSettings& s) {
        s.proxyUser = u;
        s.proxyPassword = pw;
    });
}

void ConnectionManagerEx::setCAInfo(const char* path)
{
    const std::string p = text(path);
    ClientRuntime::instance().update([&](ClientSettings& s) { s.caFile = p; });
}

void ConnectionManagerEx::setDebug(int on)
{
    detail::DebugLog::instance().setDebug(on != 0);
}

void ConnectionManagerEx::setDebugLogFile(const char* name)
{
    detail::DebugLog::instance().setFile(name);
}

IUserSession* ConnectionManagerEx::createUserSession(const char* url, const char* connection, const char* user,
                                                     const char* password, const char* application)
{
    return createUserSession(url, connection, "", user, password, application, "");
}

IUserSession* ConnectionManagerEx::createUserSession(const char* url, const char* connection,
                                                     const char* stationKind, const char* user,
                                                     const char* password, const char* application,
                                                     const char* extra)
{
    detail::ClientSessionConfig config;
    config.url = text(url);
    Status parsed = detail::parseUrl(config.url, &config.endpoint);
    if (!parsed.ok())
        throw GenericException(parsed.reason());
    config.connection = text(connection);
    config.stationKind = text(stationKind);
    config.user = text(user);
    config.password = text(password);
    config.application = text(application);
    config.extra = text(extra);
    ClientRuntime::instance().ensureStarted();
    return new detail::UserSession(detail::ClientSession::create(std::move(config)));
}

void ConnectionManagerEx::freeObject(IUserSession* session)
{
    // Every IUserSession comes from createUserSession.
    if (session)
        static_cast<detail::UserSession*>(session)->free();
}

void ConnectionManagerEx::freeObject(IMessage* message)
{
    freeMessage(message);
}

void ConnectionManagerEx::freeObject(IFieldGroup* group)
{
    freeFieldGroup(group);
}

void ConnectionManagerEx::freeObject(IFieldGroupList* list)
{
    freeFieldGroupList(list);
}

void ConnectionManagerEx::freePointer(void* pointer)
{
    std::free(pointer);
}

} // namespace merrow
