#include "core/session/login_data.h"

namespace zel {

namespace {
const char* orEmpty(const char* text)
{
    return text ? text : "";
}
} // namespace

LoginData::LoginData(const char* user, const char* url, const char* password, const char* connection,
                     const char* extra)
    : m_user(orEmpty(user)),
      m_url(orEmpty(url)),
      m_password(orEmpty(password)),
      m_connection(orEmpty(connection)),
      m_extra(orEmpty(extra))
{
}

void LoginData::getMainData(std::string& user, std::string& url, std::string& password, std::string& connection,
                            std::string& extra) const
{
    user = m_user;
    url = m_url;
    password = m_password;
    connection = m_connection;
    extra = m_extra;
}

void LoginData::setExtendedData(const char* sessionID, const char* pin)
{
    LockGuard<Mutex> lock(m_mutex);
    m_sessionID = orEmpty(sessionID);
    m_pin = orEmpty(pin);
}

void LoginData::getExtendedData(std::string& sessionID, std::string& pin) const
{
    LockGuard<Mutex> lock(m_mutex);
    sessionID = m_sessionID;
    pin = m_pin;
}

} // namespace zel
