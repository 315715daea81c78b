#pragma once
// What one login needs: the texts given to login, and the trading session and PIN
// that the application chooses later (from inside its status callback, on its own
// thread) for the login worker to read.
//
// Ownership: reference counted, one reference for the creator.
// [Threading] The five main texts are fixed at creation; the later two are copied
// in and out under the object's mutex.

#include <string>

#include "core/base/mutex.h"
#include "vorntool/add_ref.h"

namespace zel {

class LoginData : public CThreadSafeAddRefImpl {
public:
    // Null texts are stored as "".
    LoginData(const char* user, const char* url, const char* password, const char* connection, const char* extra);

    void getMainData(std::string& user, std::string& url, std::string& password, std::string& connection,
                     std::string& extra) const;
    const std::string& getUrl() const { return m_url; }
    const std::string& getConnection() const { return m_connection; }

    // Null texts are stored as "".
    void setExtendedData(const char* sessionID, const char* pin);
    void getExtendedData(std::string& sessionID, std::string& pin) const;

protected:
    ~LoginData() override = default;

private:
    const std::string m_user;
    const std::string m_url;
    const std::string m_password;
    const std::string m_connection;
    const std::string m_extra;
    mutable Mutex m_mutex;
    std::string m_sessionID ZEL_GUARDED_BY(m_mutex);
    std::string m_pin ZEL_GUARDED_BY(m_mutex);
};

} // namespace zel
