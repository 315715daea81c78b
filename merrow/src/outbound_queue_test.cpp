#include "outbound_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace merrow::detail {
namespace {

using Code = QueueStatus::Code;
constexpr auto kTrading = OutboundChannel::kTrading;
constexpr auto kMd = OutboundChannel::kMarketData;

SharedFrame frameOf(const std::string& text)
{
    return std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end());
}

std::vector<std::string> drain(OutboundQueue& q)
{
    std::vector<std::string> out;
    while (auto f = q.pop())
        out.emplace_back(f->frame->begin(), f->frame->end());
    return out;
}

// Conflation starts once more than 3 frames wait, so the cases stay readable.
class OutboundQueueTest : public ::testing::Test {
protected:
    OutboundQueue q{3};
};

TEST_F(OutboundQueueTest, UpToTheThresholdEveryFrameIsKeptInOrder)
{
    ASSERT_EQ(q.push(frameOf("EUR1"), kMd, "EUR/USD").code, Code::kQueued);
    ASSERT_EQ(q.push(frameOf("EUR2"), kMd, "EUR/USD").code, Code::kQueued);
    ASSERT_EQ(q.push(frameOf("EUR3"), kMd, "EUR/USD").code, Code::kQueued);
    ASSERT_EQ(q.push(frameOf("EUR4"), kMd, "EUR/USD").code, Code::kQueued);  // 3 waited: not more than 3
    EXPECT_EQ(drain(q), (std::vector<std::string>{"EUR1", "EUR2", "EUR3", "EUR4"}));
}

TEST_F(OutboundQueueTest, AboveTheThresholdTheLatestSnapshotTakesTheQueuedOnesPlace)
{
    ASSERT_TRUE(q.push(frameOf("EUR1"), kMd, "EUR/USD").ok());
    ASSERT_TRUE(q.push(frameOf("fill1"), kTrading).ok());
    ASSERT_TRUE(q.push(frameOf("GBP1"), kMd, "GBP/USD").ok());
    ASSERT_TRUE(q.push(frameOf("fill2"), kTrading).ok());
    const std::size_t bytes = q.bytes();
    EXPECT_EQ(q.push(frameOf("EUR2-long"), kMd, "EUR/USD").code, Code::kReplaced);
    EXPECT_EQ(q.push(frameOf("GBP2"), kMd, "GBP/USD").code, Code::kReplaced);
    EXPECT_EQ(q.push(frameOf("JPY1"), kMd, "USD/JPY").code, Code::kQueued);  // no frame of that key waits
    EXPECT_EQ(q.size(), 5u);
    EXPECT_EQ(q.bytes(), bytes + 5 + 4);  // "-long" grew it; JPY1 added
    EXPECT_EQ(q.conflatedCount(), 2u);
    EXPECT_EQ(drain(q), (std::vector<std::string>{"EUR2-long", "fill1", "GBP2", "fill2", "JPY1"}));
}

TEST_F(OutboundQueueTest, TradingFramesAndKeylessMarketDataAreNeverConflated)
{
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        const std::string t = "fill" + std::to_string(i), m = "das" + std::to_string(i);
        // A key on the trading channel is ignored.
        ASSERT_EQ(q.push(frameOf(t), kTrading, "EUR/USD").code, Code::kQueued);
        ASSERT_EQ(q.push(frameOf(m), kMd).code, Code::kQueued);
        expected.push_back(t);
        expected.push_back(m);
    }
    EXPECT_EQ(q.tradingCount(), 10u);
    EXPECT_EQ(q.marketDataCount(), 10u);
    EXPECT_EQ(q.conflatedCount(), 0u);
    EXPECT_EQ(drain(q), expected);
}

TEST_F(OutboundQueueTest, AKeyedFrameBeforeAKeylessOneIsNoLongerReplaced)
{
    // The keyless frame carries several symbols (a batch with an EUR/USD tick newer
    // than EUR1): putting EUR3 in EUR1's place would deliver it before that tick.
    ASSERT_TRUE(q.push(frameOf("EUR1"), kMd, "EUR/USD").ok());
    ASSERT_TRUE(q.push(frameOf("EUR2+GBP1"), kMd).ok());
    ASSERT_TRUE(q.push(frameOf("GBP2"), kMd, "GBP/USD").ok());
    ASSERT_TRUE(q.push(frameOf("fill1"), kTrading).ok());
    EXPECT_EQ(q.push(frameOf("EUR3"), kMd, "EUR/USD").code, Code::kQueued);
    EXPECT_EQ(q.push(frameOf("EUR4"), kMd, "EUR/USD").code, Code::kReplaced);
    EXPECT_EQ(q.push(frameOf("GBP3"), kMd, "GBP/USD").code, Code::kReplaced);  // GBP2 came after the batch
    EXPECT_EQ(drain(q), (std::vector<std::string>{"EUR1", "EUR2+GBP1", "GBP3", "fill1", "EUR4"}));
}

TEST_F(OutboundQueueTest, ReplacesTheNewestQueuedFrameOfTheKey)
{
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(q.push(frameOf("EUR" + std::to_string(i)), kMd, "EUR/USD").ok());
    EXPECT_EQ(q.push(frameOf("EUR5"), kMd, "EUR/USD").code, Code::kReplaced);
    EXPECT_EQ(drain(q), (std::vector<std::string>{"EUR1", "EUR2", "EUR3", "EUR5"}));
}

TEST_F(OutboundQueueTest, AFrameAlreadyWrittenIsNeverTheOneReplaced)
{
    ASSERT_TRUE(q.push(frameOf("EUR1"), kMd, "EUR/USD").ok());
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(q.push(frameOf("fill" + std::to_string(i)), kTrading).ok());
    const std::optional<QueuedFrame> written = q.pop();
    ASSERT_TRUE(written && written->channel == kMd);
    // Four frames still wait: EUR2 finds no waiting frame of its key and queues.
    EXPECT_EQ(q.push(frameOf("EUR2"), kMd, "EUR/USD").code, Code::kQueued);
    EXPECT_EQ(q.push(frameOf("EUR3"), kMd, "EUR/USD").code, Code::kReplaced);
    EXPECT_EQ(drain(q), (std::vector<std::string>{"fill0", "fill1", "fill2", "fill3", "EUR3"}));
}

TEST(OutboundQueue, ConflationStartsAboveOneThousandQueued)
{
    OutboundQueue q;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(q.push(frameOf("p" + std::to_string(i)), kMd, "EUR/USD").code, Code::kQueued) << i;
    EXPECT_EQ(q.push(frameOf("p1000"), kMd, "EUR/USD").code, Code::kQueued);
    EXPECT_EQ(q.push(frameOf("p1001"), kMd, "EUR/USD").code, Code::kReplaced);
    EXPECT_EQ(q.size(), 1001u);
}

TEST(OutboundQueue, MarketDataPastItsBoundsIsRefusedTradingNever)
{
    OutboundQueue q(1000, 2, 20);  // at most 2 market-data frames, 20 bytes
    ASSERT_TRUE(q.push(frameOf("md1"), kMd).ok());
    ASSERT_TRUE(q.push(frameOf("md2"), kMd).ok());
    const QueueStatus s = q.push(frameOf("md3"), kMd);
    EXPECT_EQ(s.code, Code::kOverflow);
    EXPECT_FALSE(s.reason.empty());
    // Trading frames take the queue past its byte bound: never dropped.
    ASSERT_TRUE(q.push(frameOf("a-long-trading-response"), kTrading).ok());
    EXPECT_EQ(q.bytes(), 6u + 23u);
    (void)q.pop();
    (void)q.pop();
    EXPECT_EQ(q.push(frameOf("md4"), kMd).code, Code::kOverflow);  // still past the byte bound
    (void)q.pop();
    EXPECT_TRUE(q.push(frameOf("md4"), kMd).ok());
}

TEST(OutboundQueue, ReplacementThatWouldPassTheByteBoundIsRefused)
{
    OutboundQueue q(1, 100, 10);
    ASSERT_TRUE(q.push(frameOf("a1"), kMd, "A").ok());
    ASSERT_TRUE(q.push(frameOf("b1"), kMd, "B").ok());
    EXPECT_EQ(q.push(frameOf("a2-too-long"), kMd, "A").code, Code::kOverflow);
    EXPECT_EQ(q.push(frameOf("a2"), kMd, "A").code, Code::kReplaced);
    EXPECT_EQ(drain(q), (std::vector<std::string>{"a2", "b1"}));
}

TEST(OutboundQueue, BatchesFitTheirByteBudgetButAlwaysMoveOneFrame)
{
    OutboundQueue q;
    for (const char* t : {"aaaa", "bbbb", "cccc", "0123456789abcdef"})
        ASSERT_TRUE(q.push(frameOf(t), kTrading).ok());
    std::vector<SharedFrame> batch;
    q.takeBatch(10, batch);
    EXPECT_EQ(batch.size(), 2u);
    batch.clear();
    q.takeBatch(10, batch);  // "cccc", then the 16 bytes do not fit
    EXPECT_EQ(batch.size(), 1u);
    batch.clear();
    q.takeBatch(10, batch);  // larger than the budget on its own: still sent
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_EQ(batch[0]->size(), 16u);
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.bytes(), 0u);
}

// Records what a batch hands over, and how.
struct RecordingSink final : FrameSink {
    std::vector<std::string> frames;
    std::vector<bool> shared;
    void addCopy(const std::uint8_t* data, std::size_t size) override
    {
        frames.emplace_back(data, data + size);
        shared.push_back(false);
    }
    void addShared(const SharedFrame& frame) override
    {
        frames.emplace_back(frame->begin(), frame->end());
        shared.push_back(true);
    }
};

std::string drain1(OutboundQueue& q)
{
    const std::optional<QueuedFrame> f = q.pop();
    return f ? std::string(f->frame->begin(), f->frame->end()) : std::string();
}

void pushCopy(OutboundQueue& q, const std::string& text, const char* key)
{
    ASSERT_TRUE(q.pushCopy(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), kMd, key).ok());
}

// Copied market data lives in storage the queue reuses: the caller's bytes may go at
// once, conflation replaces in place, and a batch into a sink keeps the order, the
// byte count and the sharing of trading frames, round after round.
TEST_F(OutboundQueueTest, CopiedFramesConflateAndLeaveThroughASinkInOrder)
{
    for (int round = 0; round < 3; ++round) {
        std::string scratch = "EUR1";
        pushCopy(q, scratch, "EUR/USD");
        scratch = "overwritten";  // the queue holds its own copy
        ASSERT_TRUE(q.push(frameOf("fill1"), kTrading).ok());
        pushCopy(q, "GBP1", "GBP/USD");
        pushCopy(q, "JPY1", "USD/JPY");
        EXPECT_EQ(q.pushCopy(reinterpret_cast<const std::uint8_t*>("EUR2-longer"), 11, kMd, "EUR/USD").code,
                  Code::kReplaced);
        EXPECT_EQ(q.bytes(), 11u + 5u + 4u + 4u);
        EXPECT_EQ(q.pushCopy(nullptr, 0, kMd, "EUR/USD").code, Code::kInvalid);

        RecordingSink sink;
        q.takeBatch(16, sink);  // "EUR2-longer" and "fill1": the next one passes the budget
        EXPECT_EQ(sink.frames, (std::vector<std::string>{"EUR2-longer", "fill1"}));
        EXPECT_EQ(sink.shared, (std::vector<bool>{false, true}));
        EXPECT_EQ(q.bytes(), 8u);
        q.takeBatch(1024, sink);
        EXPECT_EQ(sink.frames, (std::vector<std::string>{"EUR2-longer", "fill1", "GBP1", "JPY1"}));
        EXPECT_TRUE(q.empty());
        EXPECT_EQ(q.bytes(), 0u);
        EXPECT_EQ(q.marketDataCount(), 0u);
    }
    // The order holds while the storage wraps around and grows under it.
    std::vector<std::string> expected, got;
    for (int i = 0; i < 60; ++i) {
        const std::string t = (i % 2 ? "fill" : "md") + std::to_string(i);
        if (i % 2)
            ASSERT_TRUE(q.push(frameOf(t), kTrading).ok());
        else
            pushCopy(q, t, "");
        expected.push_back(t);
        if (i % 3 == 0)
            got.push_back(drain1(q));
    }
    for (const std::string& t : drain(q))
        got.push_back(t);
    EXPECT_EQ(got, expected);
    // pop() hands a copied frame over as a frame of its own.
    pushCopy(q, "CHF1", "USD/CHF");
    const std::optional<QueuedFrame> f = q.pop();
    ASSERT_TRUE(f && f->frame);
    EXPECT_EQ(std::string(f->frame->begin(), f->frame->end()), "CHF1");
    EXPECT_EQ(q.bytes(), 0u);
}

TEST(OutboundQueue, EmptyFramesAreRefused)
{
    OutboundQueue q;
    EXPECT_EQ(q.push(nullptr, kTrading).code, Code::kInvalid);
    EXPECT_EQ(q.push(frameOf(""), kMd, "EUR/USD").code, Code::kInvalid);
    EXPECT_TRUE(q.empty());
}

} // namespace
} // namespace merrow::detail
