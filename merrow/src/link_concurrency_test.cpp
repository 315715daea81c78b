#include "link.h"

#include <gtest/gtest.h>

#include <atomic>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "inbound_sequencer.h"
#include "server_test_util.h"

namespace merrow {
namespace detail {
namespace {

using namespace testing_util;

LinkOptions withInterval(Duration interval)
{
    LinkOptions o;
    o.heartbeatInterval = interval;
    return o;
}

// Two links over a loopback pair, each on its own strand.
struct LinkPair {
    explicit LinkPair(LinkOptions a = LinkOptions(), LinkOptions b = LinkOptions(),
                      const Clock& clock = SteadyClock::instance())
    {
        auto sockets = socketPair(io.io);
        left = Link::create(asio::make_strand(io.io), makeTcpStream(std::move(sockets.first)), clock, a);
        right = Link::create(asio::make_strand(io.io), makeTcpStream(std::move(sockets.second)), clock, b);
    }
    void start()
    {
        left->start(leftHandler);
        right->start(rightHandler);
    }
    ~LinkPair()
    {
        left->abort("test over");
        right->abort("test over");
        leftHandler->waitClosed();
        rightHandler->waitClosed();
    }

    IoThreads io;
    std::shared_ptr<RecordingHandler> leftHandler = std::make_shared<RecordingHandler>();
    std::shared_ptr<RecordingHandler> rightHandler = std::make_shared<RecordingHandler>();
    std::shared_ptr<Link> left;
    std::shared_ptr<Link> right;
};

// A link against a raw peer that the test drives byte by byte.
struct LinkAndRaw {
    explicit LinkAndRaw(LinkOptions options = LinkOptions(), const Clock& clock = SteadyClock::instance())
        : raw([&] {
              auto sockets = socketPair(io.io);
              link = Link::create(asio::make_strand(io.io), makeTcpStream(std::move(sockets.first)), clock, options);
              return RawPeer(std::move(sockets.second));
          }())
    {
    }
    void start()
    {
        link->start(handler);
        syncStrand(link->strand());
    }
    ~LinkAndRaw()
    {
        link->abort("test over");
        if (handler)
            handler->waitClosed();
    }

    IoThreads io;
    std::shared_ptr<Link> link;
    RawPeer raw;
    std::shared_ptr<RecordingHandler> handler = std::make_shared<RecordingHandler>();
};

TEST(Link, FramesFlowBothWaysInOrderAndGathered)
{
    LinkPair p;
    constexpr int kQueued = 2000;
    // Queued before start: they must leave in far fewer writes than frames.
    for (int i = 1; i <= kQueued; ++i) {
        ASSERT_TRUE(p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, i), *appMessage("U9000", i, 150)).ok());
        ASSERT_TRUE(p.right->sendMessage(appHeader(Fx::CHANNEL_MARKET_DATA, 0), *appMessage("W", i)).ok());
    }
    p.start();
    ASSERT_TRUE(p.rightHandler->waitFrames(kQueued));
    ASSERT_TRUE(p.leftHandler->waitFrames(kQueued));
    EXPECT_LT(p.left->writesMade(), 10u);
    EXPECT_EQ(p.left->framesWritten(), static_cast<uint64_t>(kQueued));

    std::vector<int64_t> expected;
    for (int i = 1; i <= kQueued; ++i)
        expected.push_back(i);
    EXPECT_EQ(p.rightHandler->numbers(), expected);
    EXPECT_EQ(p.leftHandler->numbers(), expected);

    // Two producers at once: each one's frames keep their order, nothing is lost.
    constexpr int kEach = 5000;
    auto produce = [&](int base) {
        for (int i = 0; i < kEach; ++i)
            ASSERT_TRUE(p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", base + i)).ok());
    };
    std::thread t1(produce, 100000), t2(produce, 200000);
    t1.join();
    t2.join();
    ASSERT_TRUE(p.rightHandler->waitFrames(kQueued + 2 * kEach));
    int64_t last1 = 0, last2 = 0;
    for (int64_t n : p.rightHandler->numbers()) {
        if (n >= 200000) {
            EXPECT_GT(n, last2);
            last2 = n;
        } else if (n >= 100000) {
            EXPECT_GT(n, last1);
            last1 = n;
        }
    }
    EXPECT_EQ(last1, 100000 + kEach - 1);
    EXPECT_EQ(last2, 200000 + kEach - 1);
}

TEST(Link, SharedCopiedAndEncodedFramesKeepTheirOrder)
{
    LinkPair p;
    p.start();
    auto one = std::make_shared<const std::vector<uint8_t>>(encode(appHeader(Fx::CHANNEL_TRADING_DATA, 1), *appMessage("U9000", 1)));
    auto two = encode(appHeader(Fx::CHANNEL_TRADING_DATA, 2), *appMessage("U9000", 2, 40000));
    ASSERT_TRUE(p.left->sendFrame(one).ok());
    ASSERT_TRUE(p.left->sendBytes(two.data(), two.size()).ok());
    ASSERT_TRUE(p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, 3), *appMessage("U9000", 3)).ok());
    ASSERT_TRUE(p.left->sendFrame(one).ok());
    ASSERT_TRUE(p.rightHandler->waitFrames(4));
    EXPECT_EQ(p.rightHandler->numbers(), (std::vector<int64_t>{1, 2, 3, 1}));
    EXPECT_FALSE(p.left->sendFrame(nullptr).ok());
    EXPECT_FALSE(p.left->sendBytes(nullptr, 0).ok());
}

TEST(Link, RefusesAFrameAboveThePeersLimit)
{
    LinkOptions o;
    o.sendLimits.maxPayload = 1000;
    LinkPair p(o);
    p.start();
    Status st = p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, 1), *appMessage("U9000", 1, 2000));
    EXPECT_FALSE(st.ok());
    ASSERT_TRUE(p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, 1), *appMessage("U9000", 7, 500)).ok());
    ASSERT_TRUE(p.rightHandler->waitFrames(1));
    EXPECT_EQ(p.rightHandler->numbers(), std::vector<int64_t>{7});
}

TEST(Link, HeartbeatsKeepAnIdleLinkAlive)
{
    LinkPair p(withInterval(100ms), withInterval(100ms));
    p.start();
    // Six intervals of idleness each way, more than twice the 2.5 that would kill it.
    ASSERT_TRUE(p.rightHandler->waitUntil([](const std::vector<Got>& f) {
        size_t n = 0;
        for (auto& g : f)
            n += g.type == admin::MSGTYPE_HEARTBEAT;
        return n >= 6;
    }));
    ASSERT_TRUE(p.leftHandler->waitUntil([](const std::vector<Got>& f) {
        size_t n = 0;
        for (auto& g : f)
            n += g.type == admin::MSGTYPE_HEARTBEAT;
        return n >= 6;
    }));
    EXPECT_FALSE(p.leftHandler->closed()) << p.leftHandler->reason();
    EXPECT_FALSE(p.rightHandler->closed()) << p.rightHandler->reason();
    EXPECT_EQ(p.leftHandler->count(admin::MSGTYPE_TESTREQUEST), 0u);
}

TEST(Link, SilentPeerIsDeclaredDeadAtTwoAndAHalfIntervalsNotBefore)
{
    ManualClock clock;
    const Duration interval = std::chrono::seconds(10);  // real timers stay out of the way
    LinkAndRaw t(withInterval(interval), clock);
    t.start();

    clock.advance(interval);
    t.link->poke();
    auto hb = t.raw.read();
    ASSERT_TRUE(hb);
    EXPECT_STREQ(hb->message->getMsgType(), admin::MSGTYPE_HEARTBEAT);

    clock.advance(interval / 2);
    t.link->poke();
    auto tr = t.raw.read();
    ASSERT_TRUE(tr);
    EXPECT_STREQ(tr->message->getMsgType(), admin::MSGTYPE_TESTREQUEST);
    EXPECT_NE(tr->message->getValue(Fx::FLDTAG_TESTREQID), nullptr);

    clock.advance(interval * 9 / 10);  // 2.4 intervals of silence
    t.link->poke();
    syncStrand(t.link->strand());
    syncStrand(t.link->strand());
    EXPECT_FALSE(t.handler->closed()) << t.handler->reason();

    clock.advance(interval / 10);
    t.link->poke();
    ASSERT_TRUE(t.handler->waitClosed());
    EXPECT_NE(t.handler->reason().find("2.5 heart-beat intervals"), std::string::npos) << t.handler->reason();
}

TEST(Link, AFrameFromThePeerPutsOffTheDeadline)
{
    ManualClock clock;
    const Duration interval = std::chrono::seconds(10);
    LinkAndRaw t(withInterval(interval), clock);
    t.start();
    clock.advance(interval * 2);
    ASSERT_TRUE(t.raw.write(adminHeader(), *admin::build(admin::Heartbeat{})));
    ASSERT_TRUE(t.handler->waitFrames(1));
    clock.advance(interval * 2);  // 4 intervals since start, 2 since the peer spoke
    t.link->poke();
    syncStrand(t.link->strand());
    EXPECT_FALSE(t.handler->closed()) << t.handler->reason();
}

// A handler whose consumer is behind: the link stops reading after the read that
// made it so, its own silence rule does not count the time it chose not to read
// (heart-beats still go out), and resumeReading() brings the waiting frames in.
class HoldingHandler : public RecordingHandler {
public:
    bool holdReading() override { return hold.load(); }
    std::atomic<bool> hold{false};
};

TEST(Link, AHeldLinkStopsReadingKeepsItsHeartbeatsAndIsNotDeclaredDead)
{
    ManualClock clock;
    const Duration interval = std::chrono::seconds(10);
    LinkAndRaw t(withInterval(interval), clock);
    auto holding = std::make_shared<HoldingHandler>();
    holding->hold = true;
    t.handler = holding;
    t.start();
    ASSERT_TRUE(t.raw.write(appHeader(Fx::CHANNEL_MARKET_DATA, 0), *appMessage("W", 1)));
    ASSERT_TRUE(t.handler->waitFrames(1));
    syncStrand(t.link->strand());
    ASSERT_TRUE(t.raw.write(appHeader(Fx::CHANNEL_MARKET_DATA, 0), *appMessage("W", 2)));

    clock.advance(interval * 3);  // silence that would be death for a link that reads
    t.link->poke();
    auto hb = t.raw.read();
    ASSERT_TRUE(hb);
    EXPECT_STREQ(hb->message->getMsgType(), admin::MSGTYPE_HEARTBEAT);
    syncStrand(t.link->strand());
    EXPECT_FALSE(t.handler->closed()) << t.handler->reason();
    EXPECT_EQ(1u, t.handler->size()) << "a held link read on";

    holding->hold = false;
    t.link->resumeReading();
    ASSERT_TRUE(t.handler->waitFrames(2));
    // The silence rule counts again from the resume.
    clock.advance(interval * 5 / 2);
    t.link->poke();
    ASSERT_TRUE(t.handler->waitClosed());
    EXPECT_NE(t.handler->reason().find("2.5 heart-beat intervals"), std::string::npos) << t.handler->reason();
}

// The kernel cuts a connection whose peer keeps its window closed for TCP_USER_TIMEOUT,
// though the peer answers every probe: 2.5 heart-beat intervals, never below the
// floor, which a server raises for clients that stop reading while their callbacks
// are behind.
TEST(Link, TheKernelsUserTimeoutIsTwoAndAHalfIntervalsAboveItsFloor)
{
    struct Case {
        Duration interval;
        Duration floor;
        unsigned expectMs;
    };
    const Case cases[] = {
        {std::chrono::milliseconds(150), std::chrono::seconds(5), 5000},
        {std::chrono::seconds(10), std::chrono::seconds(5), 25000},
        {std::chrono::milliseconds(150), std::chrono::seconds(60), 60000},
    };
    for (const Case& c : cases) {
        IoThreads io;
        auto sockets = socketPair(io.io);
        const int fd = sockets.first.native_handle();
        LinkOptions o = withInterval(c.interval);
        o.minUserTimeout = c.floor;
        auto link = Link::create(asio::make_strand(io.io), makeTcpStream(std::move(sockets.first)),
                                 SteadyClock::instance(), o);
        auto handler = std::make_shared<RecordingHandler>();
        link->start(handler);
        syncStrand(link->strand());
        unsigned ms = 0;
        socklen_t len = sizeof ms;
        ASSERT_EQ(0, ::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, &len));
        EXPECT_EQ(c.expectMs, ms);
        link->abort("test over");
        handler->waitClosed();
    }
}

TEST(Link, CorruptFramesCloseWithAReasonAndReachNoHandler)
{
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> bytes;
        const char* reasonHas;
    };
    auto good = [] { return encode(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", 1)); };
    const Case cases[] = {
        {"bad CRC",
         [&] {
             auto b = encode(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", 2));
             b.back() ^= 0x55;
             return b;
         },
         "CRC"},
        {"above the limit", [&] { return encode(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", 2, 5000)); },
         "limit"},
        {"garbage", [] { return std::vector<uint8_t>(64, 0xFF); }, "protocol error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkOptions o;
        o.receiveLimits.maxPayload = 4096;
        LinkAndRaw t(o);
        t.start();
        auto bytes = good();
        auto bad = c.bytes();
        bytes.insert(bytes.end(), bad.begin(), bad.end());
        ASSERT_TRUE(t.raw.writeBytes(bytes));
        ASSERT_TRUE(t.handler->waitClosed());
        EXPECT_NE(t.handler->reason().find("protocol error"), std::string::npos) << t.handler->reason();
        EXPECT_NE(t.handler->reason().find(c.reasonHas), std::string::npos) << t.handler->reason();
        EXPECT_EQ(t.handler->numbers(), std::vector<int64_t>{1});
        EXPECT_EQ(t.handler->closedCount(), 1);
        EXPECT_TRUE(t.link->closed());
    }
}

TEST(Link, AnswersTestRequestsAndReportsTheEndOfTheStream)
{
    LinkAndRaw t;
    t.start();
    ASSERT_TRUE(t.raw.write(adminHeader(), *admin::build(admin::TestRequest{"abc"})));
    auto answer = t.raw.read();
    ASSERT_TRUE(answer);
    EXPECT_STREQ(answer->message->getMsgType(), admin::MSGTYPE_HEARTBEAT);
    EXPECT_STREQ(answer->message->getValue(Fx::FLDTAG_TESTREQID), "abc");
    ASSERT_TRUE(t.handler->waitFrames(1));
    EXPECT_EQ(t.handler->count(admin::MSGTYPE_TESTREQUEST), 1u);

    t.raw.closeNow();
    ASSERT_TRUE(t.handler->waitClosed());
    EXPECT_EQ(t.handler->reason(), "peer closed the connection");
}

TEST(Link, CloseWritesWhatIsQueuedFirst)
{
    LinkPair p;
    p.start();
    for (int i = 1; i <= 500; ++i)
        ASSERT_TRUE(p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", i, 100)).ok());
    p.left->close("bye");
    EXPECT_FALSE(p.left->sendMessage(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", 501)).ok());
    ASSERT_TRUE(p.rightHandler->waitClosed());
    EXPECT_EQ(p.rightHandler->numbers().size(), 500u);
    EXPECT_EQ(p.rightHandler->reason(), "peer closed the connection");
    ASSERT_TRUE(p.leftHandler->waitClosed());
    EXPECT_EQ(p.leftHandler->reason(), "bye");
    EXPECT_EQ(p.leftHandler->closedCount(), 1);
}

// A handler that acknowledges through a real InboundSequencer on a manual clock.
class AckingHandler : public RecordingHandler {
public:
    explicit AckingHandler(const Clock& clock) : m_sequencer(clock) {}
    void onFrame(Link& link, wire::Frame frame) override
    {
        if (frame.header.kind == wire::FrameKind::Application &&
            frame.header.channel == Fx::CHANNEL_TRADING_DATA) {
            std::lock_guard<std::mutex> lock(m_seqMutex);
            EXPECT_TRUE(m_sequencer.accept(frame.header.sequence).deliver());
        }
        RecordingHandler::onFrame(link, std::move(frame));
    }
    uint64_t currentLastReceived() override
    {
        std::lock_guard<std::mutex> lock(m_seqMutex);
        return m_sequencer.lastReceived();
    }
    void onAckSent() override
    {
        std::lock_guard<std::mutex> lock(m_seqMutex);
        m_sequencer.onAckSent();
        ++acksSent;
    }
    bool bareAckDue() override
    {
        std::lock_guard<std::mutex> lock(m_seqMutex);
        return m_sequencer.bareAckDue();
    }
    std::optional<TimePoint> ackDeadline() override
    {
        std::lock_guard<std::mutex> lock(m_seqMutex);
        return m_sequencer.ackDeadline();
    }
    std::atomic<int> acksSent{0};

private:
    std::mutex m_seqMutex;
    InboundSequencer m_sequencer;
};

TEST(Link, AOneWayStreamIsAcknowledgedByCountAndByDelay)
{
    ManualClock clock;
    LinkAndRaw t(withInterval(std::chrono::seconds(10)), clock);
    auto acking = std::make_shared<AckingHandler>(clock);
    t.handler = acking;
    t.start();

    std::vector<uint8_t> burst;
    for (uint64_t s = 1; s <= InboundSequencer::kDefaultAckEvery; ++s) {
        auto f = encode(appHeader(Fx::CHANNEL_TRADING_DATA, s), *appMessage("U9000", static_cast<int64_t>(s)));
        burst.insert(burst.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(t.raw.writeBytes(burst));
    auto ack = t.raw.readUntil(admin::MSGTYPE_HEARTBEAT);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.lastReceived, InboundSequencer::kDefaultAckEvery);

    for (uint64_t s = 1025; s <= 1027; ++s)
        ASSERT_TRUE(t.raw.write(appHeader(Fx::CHANNEL_TRADING_DATA, s), *appMessage("U9000", static_cast<int64_t>(s))));
    ASSERT_TRUE(acking->waitFrames(1027));
    clock.advance(InboundSequencer::kDefaultAckDelay);
    t.link->poke();
    ack = t.raw.readUntil(admin::MSGTYPE_HEARTBEAT);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.lastReceived, 1027u);
    EXPECT_GE(acking->acksSent.load(), 2);
}

// Frames offered by the handler's pull source leave after the link's own queue.
class SourceHandler : public RecordingHandler {
public:
    void takeFrames(std::vector<SharedFrame>& out, size_t) override
    {
        std::lock_guard<std::mutex> lock(m_sourceMutex);
        for (auto& f : source)
            out.push_back(std::move(f));
        source.clear();
    }
    void offer(SharedFrame f)
    {
        std::lock_guard<std::mutex> lock(m_sourceMutex);
        source.push_back(std::move(f));
    }

private:
    std::mutex m_sourceMutex;
    std::vector<SharedFrame> source;
};

TEST(Link, PullsFramesFromItsHandlerWhenKicked)
{
    LinkPair p;
    auto source = std::make_shared<SourceHandler>();
    p.leftHandler = source;
    p.start();
    syncStrand(p.left->strand());
    for (int i = 1; i <= 3; ++i)
        source->offer(std::make_shared<const std::vector<uint8_t>>(
            encode(appHeader(Fx::CHANNEL_TRADING_DATA, 0), *appMessage("U9000", i, i == 2 ? 20000 : 10))));
    p.left->kick();
    ASSERT_TRUE(p.rightHandler->waitFrames(3));
    EXPECT_EQ(p.rightHandler->numbers(), (std::vector<int64_t>{1, 2, 3}));
}

TEST(Link, AFailingOrVanishedHandlerEndsTheLink)
{
    {
        LinkAndRaw t;
        t.handler->onFrameHook = [](wire::Frame&) { throw std::runtime_error("handler broke"); };
        t.start();
        ASSERT_TRUE(t.raw.write(adminHeader(), *admin::build(admin::Heartbeat{})));
        ASSERT_TRUE(t.handler->waitClosed());
        EXPECT_NE(t.handler->reason().find("handler broke"), std::string::npos);
    }
    {
        LinkAndRaw t;
        t.start();
        t.handler.reset();
        ASSERT_TRUE(t.raw.write(adminHeader(), *admin::build(admin::Heartbeat{})));
        EXPECT_FALSE(t.raw.read());
        EXPECT_TRUE(t.raw.eof());
        EXPECT_TRUE(t.link->closed());
    }
}

} // namespace
} // namespace detail
} // namespace merrow
