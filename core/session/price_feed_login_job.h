#pragma once
// The price-feed login: one worker thread that opens the price session with the
// trade session's identity and hands it to the communicator, which then sets
// Connected. A refusal or an unreachable price server fails the whole login.
//
// Ownership: owned by the communicator (one current job, and jobs retired while
// their thread ends).
// [Threading] run(argument) is the worker body.

#include <atomic>
#include <string>
#include <thread>

#include "merrow/threading.h"

namespace zel {

class ServerCommunicator;

struct PriceFeedLoginData {
    std::string url;
    std::string traderID;
    std::string sessionID;
    std::string subID;
    std::string priceServer;
};

class PriceFeedLoginJob : public merrow::threading::AThread {
public:
    PriceFeedLoginJob(PriceFeedLoginData data, ServerCommunicator* communicator);
    ~PriceFeedLoginJob() override;

    bool run();
    void wait();
    bool isOnThisThread() const;

protected:
    void run(void* argument) override;

private:
    const PriceFeedLoginData m_data;
    ServerCommunicator* m_communicator;
    std::atomic<std::thread::id> m_threadId{};
};

} // namespace zel
