// A client that stops reading while prices stream: the dealer holds its session to
// the outbound queue's conflation bound (the latest tick per offer once the queue is
// full) instead of growing without end, and the other sessions are not held up.

#include "dealer_fixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "testutil/fault_proxy.h"

namespace pellora::dealer::testing {
namespace {

using testutil::Direction;

bool isOffers(const Got& g) { return g.type == Fx::MSGTYPE_DASMESSAGE; }

class SlowReaderTest : public DealerTest {
protected:
    // More ticks per step than the queue takes before it conflates.
    static constexpr int kTicksPerSecond = 1500;
    // Steps pushed while the stuck session's queue is full.
    static constexpr int kFullRounds = 10;

    void SetUp() override {
        DealerConfig c = testConfig(freshDir());
        c.tickRate = kTicksPerSecond;
        // Filling the stuck path's buffers takes a while under a sanitizer: the
        // heart-beat rule, which the stall breaks too, must not end the test first.
        c.serverOptions.minHeartbeat = std::chrono::seconds(60);
        startDealer(std::move(c));
    }

    // Every session's waiting frames, once the reading ones have drained below
    // `limit` (bounded); what is left belongs to the one that does not read.
    size_t settledQueue(size_t limit) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        size_t queued = dealer->stats().queuedFrames;
        while (queued > limit && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            queued = dealer->stats().queuedFrames;
        }
        return queued;
    }
};

TEST_F(SlowReaderTest, AClientThatNeverReadsStaysWithinTheQueueBoundAndOthersGoOn) {
    testutil::FaultProxy proxy("127.0.0.1", dealer->boundPort(0));
    Client stuck("tcp://127.0.0.1:" + std::to_string(proxy.port()));
    ASSERT_EQ(stuck.login(LoginArgs()), "");
    auto reader = loggedIn();
    // From here nothing the dealer sends reaches the stuck client: the proxy's buffer
    // and then the kernel's fill, and the session's queue takes the rest.
    proxy.stall(Direction::ServerToClient, true);

    // At most conflateAbove frames, and then one waiting frame per offer.
    const size_t bound = merrow::ServerOptions().conflateAbove + dealer->world().instruments.size();
    size_t most = 0;
    int fullRounds = 0;
    for (int round = 0; round < 400 && fullRounds < kFullRounds; ++round) {
        ASSERT_TRUE(dealer->stepClock(1000).isOk());
        const size_t queued = settledQueue(bound);
        ASSERT_LE(queued, bound) << "round " << round;
        most = std::max(most, queued);
        if (queued > bound / 2) ++fullRounds;
        // The reading session has its prices every round.
        ASSERT_TRUE(reader->messages().waitFor(isOffers)) << "round " << round;
        reader->messages().clear();
    }
    // The stuck session's queue did fill up: the bound is what held it.
    EXPECT_GE(fullRounds, kFullRounds) << "most frames queued: " << most;
    EXPECT_EQ(reader->command(5).substr(0, 2), "0\n");

    // Released, the stuck client gets its prices again on the same session: nothing
    // ended it.
    stuck.messages().clear();
    proxy.stall(Direction::ServerToClient, false);
    EXPECT_TRUE(stuck.messages().waitFor(isOffers));
    EXPECT_EQ(dealer->stats().sessions, 2u);
}

} // namespace
} // namespace pellora::dealer::testing
