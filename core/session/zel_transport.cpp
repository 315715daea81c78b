#include "core/session/zel_session.h"
#include "merrow/connection_manager.h"
#include "zel/session.h"

extern "C" ZEL_API const char sz_pellora_api_version[] = "api_ver.1.0.3";

IZelSession* CZelTransport::createSession()
{
    try {
        return new zel::CZelSession();
    } catch (...) {
        return nullptr;
    }
}

void CZelTransport::setProxy(const char* host, int port, const char* user, const char* password)
{
    merrow::ConnectionManagerEx::setProxyServer(host, port);
    if (user)
        merrow::ConnectionManagerEx::setBasicProxyAuthorization(user, password);
}

void CZelTransport::setCAInfo(const char* path)
{
    merrow::ConnectionManagerEx::setCAInfo(path);
}

void CZelTransport::setNumberOfReconnections(int count)
{
    merrow::ConnectionManagerEx::setNoReloginAttempts(count);
}
