#include "inbound_sequencer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace merrow::detail {
namespace {

using namespace std::chrono_literals;
using Code = SequenceCheck::Code;

class InboundSequencerTest : public ::testing::Test {
protected:
    // Feeds numbers in order; returns the ones delivered.
    std::vector<std::uint64_t> feed(std::uint64_t from, std::uint64_t to)
    {
        std::vector<std::uint64_t> delivered;
        for (std::uint64_t n = from; n <= to; ++n)
            if (seq.accept(n).deliver())
                delivered.push_back(n);
        return delivered;
    }

    ManualClock clock;
    InboundSequencer seq{clock};
};

TEST_F(InboundSequencerTest, ResentFramesAlreadyReceivedAreDroppedOnce)
{
    EXPECT_EQ(feed(1, 5).size(), 5u);
    // A resend after a reconnect overlaps what already arrived: only 6 and 7 are new.
    EXPECT_EQ(feed(3, 7), (std::vector<std::uint64_t>{6, 7}));
    EXPECT_EQ(seq.lastReceived(), 7u);
    EXPECT_EQ(seq.accept(7).code, Code::kDuplicate);
    EXPECT_EQ(seq.accept(1).code, Code::kDuplicate);
}

TEST_F(InboundSequencerTest, GapsAndNumberZeroAreProtocolErrorsThatDoNotAdvance)
{
    feed(1, 3);
    const SequenceCheck gap = seq.accept(5);
    EXPECT_EQ(gap.code, Code::kGap);
    EXPECT_FALSE(gap.reason.empty());
    EXPECT_EQ(seq.accept(0).code, Code::kInvalid);
    EXPECT_EQ(seq.lastReceived(), 3u);
    EXPECT_TRUE(seq.accept(4).deliver());  // the resume then carries on from 3
}

TEST_F(InboundSequencerTest, BareAckDueAfter1024UnacknowledgedFrames)
{
    feed(1, 1023);
    EXPECT_FALSE(seq.bareAckDue());
    feed(1024, 1024);
    EXPECT_TRUE(seq.bareAckDue());
    seq.onAckSent();
    EXPECT_FALSE(seq.bareAckDue());
    EXPECT_EQ(seq.unacknowledged(), 0u);
    feed(1, 2000);  // all duplicates: nothing new to acknowledge
    EXPECT_FALSE(seq.bareAckDue());
}

TEST_F(InboundSequencerTest, BareAckDue50msAfterTheFirstUnacknowledgedFrame)
{
    EXPECT_FALSE(seq.ackDeadline().has_value());
    const TimePoint first = clock.now();
    feed(1, 1);
    clock.advance(30ms);
    feed(2, 2);  // a later frame does not move the deadline
    ASSERT_TRUE(seq.ackDeadline().has_value());
    EXPECT_EQ(*seq.ackDeadline(), first + 50ms);
    clock.advance(20ms - 1ns);
    EXPECT_FALSE(seq.bareAckDue());
    clock.advance(1ns);
    EXPECT_TRUE(seq.bareAckDue());

    seq.onAckSent();  // e.g. the ack rode on an outgoing response
    EXPECT_FALSE(seq.ackDeadline().has_value());
    clock.advance(10ms);
    feed(3, 3);
    EXPECT_EQ(*seq.ackDeadline(), clock.now() + 50ms);
}

TEST_F(InboundSequencerTest, ResetNumbersANewLogicalSessionFromOne)
{
    feed(1, 4);
    seq.reset();
    EXPECT_EQ(seq.lastReceived(), 0u);
    EXPECT_FALSE(seq.bareAckDue());
    EXPECT_TRUE(seq.accept(1).deliver());
}

TEST(HoldQueue, DeliversInArrivalOrderToTheNextListener)
{
    HoldQueue<std::unique_ptr<std::string>> q;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(q.push(std::make_unique<std::string>("m" + std::to_string(i)), 10).ok());
    EXPECT_EQ(q.size(), 5u);
    EXPECT_EQ(q.bytes(), 50u);
    auto held = q.takeAll();
    ASSERT_EQ(held.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(*held[static_cast<std::size_t>(i)], "m" + std::to_string(i));
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.bytes(), 0u);
    // Held again after the listener left, for the one after it.
    ASSERT_TRUE(q.push(std::make_unique<std::string>("later"), 1).ok());
    EXPECT_EQ(*q.takeAll().front(), "later");
}

TEST(HoldQueue, PassingTheBoundExpiresAndRefusesUntilCleared)
{
    struct Case {
        const char* name;
        std::size_t maxItems;
        std::size_t maxBytes;
        std::vector<std::size_t> fits;
        std::size_t overflows;
    };
    const Case cases[] = {
        {"items", 3, 1000, {1, 1, 1}, 1},
        {"bytes", 100, 10, {5, 5}, 1},
        {"one message above the byte bound", 100, 10, {}, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HoldQueue<int> q(c.maxItems, c.maxBytes);
        int n = 0;
        for (std::size_t bytes : c.fits)
            ASSERT_TRUE(q.push(n++, bytes).ok());
        const HoldStatus s = q.push(n++, c.overflows);
        EXPECT_EQ(s.code, HoldStatus::Code::kOverflow);
        EXPECT_FALSE(s.reason.empty());
        EXPECT_TRUE(q.overflowed());
        // Sticky: a later, smaller message must not slip in after a lost one.
        (void)q.takeAll();
        EXPECT_FALSE(q.push(n++, 0).ok());
        q.clear();
        EXPECT_TRUE(q.push(n++, 1).ok());
    }
}

TEST(HoldQueue, DefaultBoundIsTheJournals)
{
    HoldQueue<int> q;
    for (int i = 0; i < 65536; ++i)
        ASSERT_TRUE(q.push(i, 1).ok()) << i;
    EXPECT_FALSE(q.push(65536, 1).ok());
}

} // namespace
} // namespace merrow::detail
