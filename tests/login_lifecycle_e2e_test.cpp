// The life of a logged-in session against the in-process dealer: a cut connection
// resumes and the trade desk reloads in place, the dealer ending the session ends
// it here, and many create/login/logout/release cycles leave nothing behind.

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/login_e2e_support.h"

namespace login_e2e {
namespace {

class Lifecycle : public DealerFixture {};

TEST_F(Lifecycle, ACutConnectionResumesAndTheSessionWorksOn)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "Demo")) << ::testing::PrintToString(status->failures());
    Held<IZelLoginRules> before(session->getLoginRules());
    // Prices stream while the connection is cut.
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(dealer->setPrice("1", 1.1 + i * 0.001).isOk());
    ASSERT_GE(dealer->cut("demo"), 1u);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(dealer->setPrice("2", 150.0 + i * 0.01).isOk());
    ASSERT_TRUE(status->waitFor(S::Connected, 2)) << ::testing::PrintToString(status->statuses());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected, S::Reconnecting, S::Connected}));
    Held<IZelLoginRules> after(session->getLoginRules());
    EXPECT_EQ(before.get(), after.get()) << "the trade desk reloads in place";

    Held<IZelRequestFactory> factory(session->getRequestFactory());
    ASSERT_TRUE(factory);
    const std::string id = send(factory->createRefreshTableRequest(ZelTable::Accounts));
    Held<IZelResponse> answer(responses->waitCompleted(id));
    EXPECT_TRUE(answer) << responses->waitFailed(id);
}

TEST_F(Lifecycle, TheDealerEndingTheSessionIsALoss)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoAsync")) << ::testing::PrintToString(status->failures());
    ASSERT_GE(dealer->expire("demo"), 1u);
    ASSERT_TRUE(status->waitFor(S::Disconnected));
    EXPECT_EQ(status->statuses(),
              (std::vector<int>{S::Connecting, S::Connected, S::SessionLost, S::Disconnected}));
    EXPECT_EQ(session->getLoginRules(), nullptr);
    EXPECT_EQ(session->getRequestFactory(), nullptr);
    // A new login is accepted.
    status.reset(new StatusLog());
    session->subscribeSessionStatus(status.get());
    ASSERT_NE(session->login("demo", "demo", url.c_str(), "Demo"), 0);
    EXPECT_TRUE(status->waitFor(S::Connected));
}

size_t entries(const char* path)
{
    size_t n = 0;
    if (DIR* d = ::opendir(path)) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

TEST_F(Lifecycle, ManyCyclesLeaveNoThreadOrDescriptorBehind)
{
    auto cycle = [&] {
        Held<IZelSession> s(CZelTransport::createSession());
        Held<StatusLog> log(new StatusLog());
        s->subscribeSessionStatus(log.get());
        ASSERT_NE(s->login("demo", "demo", url.c_str(), "Demo"), 0);
        ASSERT_TRUE(log->waitFor(S::Connected)) << ::testing::PrintToString(log->failures());
        s->logout();
        ASSERT_EQ(log->statuses().back(), S::Disconnected);
    };
    cycle();  // the transport's own threads start with the first session
    const size_t threads = entries("/proc/self/task");
    const size_t fds = entries("/proc/self/fd");
    for (int i = 0; i < 200; ++i) {
        cycle();
        if (HasFatalFailure())
            return;
    }
    // A thread the transport lent to a busy I/O context leaves on its own once the
    // context is idle again: wait for that, a leak stays above the baseline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((entries("/proc/self/task") > threads || entries("/proc/self/fd") > fds) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(entries("/proc/self/task"), threads);
    EXPECT_LE(entries("/proc/self/fd"), fds);
}

} // namespace
} // namespace login_e2e

namespace login_e2e {
namespace {

TEST_F(Lifecycle, DemoPriceResumesItsPriceConnectionAlone)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoPrice")) << ::testing::PrintToString(status->failures());
    ASSERT_EQ(dealer->cutPrices("demo"), 1u);
    ASSERT_TRUE(status->waitFor(S::Connected, 2)) << ::testing::PrintToString(status->statuses());
    EXPECT_EQ(status->statuses(),
              (std::vector<int>{S::Connecting, S::Connected, S::PriceSessionReconnecting, S::Connected}));
    // Prices flow again on the resumed price connection.
    ASSERT_TRUE(dealer->setPrice("1", 1.2345).isOk());
    EXPECT_TRUE(responses->waitUpdates(1));
}

} // namespace
} // namespace login_e2e
