#pragma once
// The login worker: one thread per login attempt that creates the trade session,
// checks the server's minimum API version, lets the application choose a trading
// session (and give a PIN), and logs in. Success hands the open session to the
// communicator; every failure reaches the status listeners as onLoginFailed with a
// text, then Disconnected.
//
// Ownership: owned by the communicator (one current job, and jobs retired while
// their thread ends); holds one reference to its LoginData.
// [Threading] run(argument) is the worker body; every status notification of a
// login comes from this thread.

#include <atomic>
#include <string>
#include <thread>

#include "core/base/ref_ptr.h"
#include "core/session/login_data.h"
#include "merrow/threading.h"
#include "merrow/user_session.h"

namespace zel {

class ServerCommunicator;

class LoginJob : public merrow::threading::AThread {
public:
    // ownerRetained: the communicator holds the session object for this job, and
    // the job lets go of it when it ends.
    LoginJob(LoginData* data, ServerCommunicator* communicator, bool ownerRetained = false);
    ~LoginJob() override;

    // Starts the thread; false when it could not be started.
    bool run();
    // Waits for the thread without a time limit.
    void wait();
    bool isOnThisThread() const;

    // Passes when the station names no version, or one not above the API's;
    // version receives the station's text.
    static bool checkVersion(merrow::IUserSession* session, std::string& version);
    // True when required (major.minor.patch) is at most own, field by field.
    static bool checkValidVersion(const char* required, const char* own);
    // Reads "%d.%d.%d"; fields that cannot be read stay 0.
    static void getVersion(const char* text, int& major, int& minor, int& patch);
    // Appends ";" (when extra is not empty), "PIN=" and the PIN.
    static void addPinToExtraParams(const std::string& pin, std::string& extra);

protected:
    void run(void* argument) override;

private:
    RefPtr<LoginData> m_data;
    ServerCommunicator* m_communicator;
    const bool m_ownerRetained;
    std::atomic<std::thread::id> m_threadId{};
};

} // namespace zel
