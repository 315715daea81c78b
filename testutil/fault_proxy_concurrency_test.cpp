#include "testutil/fault_proxy.h"
#include "testutil/stream_faults.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testutil::Direction;
using testutil::FaultProxy;
using testutil::Scope;
using testutil::StreamFaults;
using Bytes = std::vector<std::uint8_t>;

// Generous: these bound waits for things that must happen, they time nothing.
constexpr std::chrono::milliseconds kWait = 30s;
constexpr Direction kC2S = Direction::ClientToServer;
constexpr Direction kS2C = Direction::ServerToClient;

Bytes randomBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(gen());
    return out;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t to)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

void putBig(Bytes& out, std::uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A transport frame built by hand: the proxy reads only the length, so the payload
// and the CRC are arbitrary (the payload is random, header look-alikes included).
Bytes frame(std::uint32_t payloadLength, std::uint64_t sequence)
{
    Bytes out;
    putBig(out, payloadLength, 4);
    out.push_back(1); // kind: application
    out.push_back(0); // channel: trading
    putBig(out, sequence, 8);
    putBig(out, 0, 8);
    const Bytes payload = randomBytes(payloadLength, static_cast<std::uint32_t>(sequence));
    out.insert(out.end(), payload.begin(), payload.end());
    putBig(out, 0xC0FFEEu, 4);
    EXPECT_EQ(out.size(), testutil::frameBytes(payloadLength));
    return out;
}

// Bytes received on one socket and how the stream ended (error 0: orderly end).
class StreamLog {
public:
    struct View {
        Bytes bytes;
        bool ended = false;
        int error = 0;
    };

    void append(const std::uint8_t* p, std::size_t n)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_view.bytes.insert(m_view.bytes.end(), p, p + n);
        }
        m_changed.notify_all();
    }
    void end(int error)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_view.ended = true;
            m_view.error = error;
        }
        m_changed.notify_all();
    }
    View view() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_view;
    }
    bool waitFor(const std::function<bool(const View&)>& pred, std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return pred(m_view); });
    }
    bool waitBytes(std::size_t n, std::chrono::milliseconds timeout = kWait) const
    {
        return waitFor([n](const View& v) { return v.bytes.size() >= n; }, timeout);
    }
    bool waitEnded(std::chrono::milliseconds timeout = kWait) const
    {
        return waitFor([](const View& v) { return v.ended; }, timeout);
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    View m_view;
};

bool sendAll(int fd, const std::uint8_t* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// Reads until the end of the stream or an error, logging both.
void readAll(int fd, StreamLog& log)
{
    std::vector<std::uint8_t> buf(64 * 1024);
    for (;;) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n > 0) {
            log.append(buf.data(), static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        log.end(n == 0 ? 0 : errno);
        return;
    }
}

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port on which nothing listens (bound once, then released).
std::uint16_t deadPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A tiny echo server on plain sockets, one thread per connection: it logs what each
// connection received, echoes it, and answers the end of stream with its own.
class EchoServer {
public:
    EchoServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 64) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("echo server: cannot listen");
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~EchoServer()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        ::shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        for (auto& s : m_sessions)
            ::shutdown(s->fd, SHUT_RDWR);
        for (auto& t : m_threads)
            t.join();
        for (auto& s : m_sessions)
            ::close(s->fd);
        ::close(m_listen);
    }

    std::uint16_t port() const { return m_port; }

    std::size_t sessions() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sessions.size();
    }

    bool waitSessions(std::size_t n, std::chrono::milliseconds timeout = kWait) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_sessions.size() >= n; });
    }

    // The log of the i-th connection accepted; waits for it to exist.
    const StreamLog& session(std::size_t i) const
    {
        EXPECT_TRUE(waitSessions(i + 1));
        std::lock_guard<std::mutex> lock(m_mutex);
        if (i >= m_sessions.size())
            throw std::runtime_error("echo server: no such session");
        return m_sessions[i]->log;
    }

private:
    struct Session {
        explicit Session(int f) : fd(f) {}
        int fd;
        StreamLog log;
    };

    void acceptLoop()
    {
        for (;;) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) {
                ::close(fd);
                return;
            }
            m_sessions.push_back(std::make_unique<Session>(fd));
            Session* s = m_sessions.back().get();
            m_threads.emplace_back([s] { serve(*s); });
            m_changed.notify_all();
        }
    }

    // Once echoing fails (the peer reset) it keeps reading, so the log holds every
    // byte that arrived; the end records the first error, of sending or of reading.
    static void serve(Session& s)
    {
        std::vector<std::uint8_t> buf(64 * 1024);
        int sendError = 0;
        for (;;) {
            const ssize_t n = ::recv(s.fd, buf.data(), buf.size(), 0);
            if (n > 0) {
                s.log.append(buf.data(), static_cast<std::size_t>(n));
                if (sendError == 0 && !sendAll(s.fd, buf.data(), static_cast<std::size_t>(n)))
                    sendError = errno;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            const int readError = n == 0 ? 0 : errno;
            if (n == 0 && sendError == 0)
                ::shutdown(s.fd, SHUT_WR);
            s.log.end(sendError != 0 ? sendError : readError);
            return;
        }
    }

    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::vector<std::unique_ptr<Session>> m_sessions;
    std::vector<std::thread> m_threads;
};

// A client connection with a thread that logs everything it reads. A slow client
// has a small receive buffer and reads only once `startReading` is called.
class Client {
public:
    enum class Reader { Eager, Slow };

    explicit Client(std::uint16_t port, Reader reader = Reader::Eager)
        : m_reading(reader == Reader::Eager)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (reader == Reader::Slow) {
            const int size = 4096;
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        const sockaddr_in a = loopback(port);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            const std::string why = std::strerror(errno);
            ::close(m_fd);
            throw std::runtime_error("client: connect: " + why);
        }
        timeval tv{30, 0}; // a send blocked on a bug fails instead of hanging the test
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        m_reader = std::thread([this] {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_gate.wait(lock, [this] { return m_reading; });
            }
            readAll(m_fd, m_log);
        });
    }

    ~Client()
    {
        startReading();
        ::shutdown(m_fd, SHUT_RDWR);
        m_reader.join();
        ::close(m_fd);
    }

    bool send(const Bytes& b) { return sendPart(b.data(), b.size()); }
    // Sends in pieces of random size, so the proxy sees many different chunkings.
    bool sendInPieces(const Bytes& b, std::uint32_t seed)
    {
        std::mt19937 gen(seed);
        std::uniform_int_distribution<std::size_t> piece(1, 100000);
        for (std::size_t at = 0; at < b.size();) {
            const std::size_t n = std::min(piece(gen), b.size() - at);
            if (!sendPart(b.data() + at, n))
                return false;
            at += n;
        }
        return true;
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }
    void startReading()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reading = true;
        }
        m_gate.notify_all();
    }
    const StreamLog& log() const { return m_log; }
    // A reset reaches whichever call comes first: the reader's or a send's.
    bool sawReset() const
    {
        const int sendError = m_sendError.load();
        return m_log.view().error == ECONNRESET || sendError == ECONNRESET || sendError == EPIPE;
    }

private:
    bool sendPart(const std::uint8_t* p, std::size_t n)
    {
        if (sendAll(m_fd, p, n))
            return true;
        int expected = 0;
        m_sendError.compare_exchange_strong(expected, errno);
        return false;
    }

    int m_fd = -1;
    std::atomic<int> m_sendError{0};
    std::mutex m_mutex;
    std::condition_variable m_gate;
    bool m_reading;
    StreamLog m_log;
    std::thread m_reader;
};

std::size_t differingBytes(const Bytes& a, const Bytes& b)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        n += a[i] != b[i];
    return n;
}

// ---------------------------------------------------------------------------
// StreamFaults: positions of cuts, drops and corruption, chunk by chunk.

// Feeds `stream` in pieces of `piece` bytes; returns what was delivered and whether
// a cut came.
std::pair<Bytes, bool> feed(StreamFaults& f, Bytes stream, std::size_t piece)
{
    Bytes delivered;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::size_t n = std::min(piece, stream.size() - at);
        const StreamFaults::Result r = f.process(stream.data() + at, n);
        delivered.insert(delivered.end(), stream.begin() + static_cast<std::ptrdiff_t>(at + r.offset),
                         stream.begin() + static_cast<std::ptrdiff_t>(at + r.offset + r.length));
        if (r.cut)
            return {delivered, true};
    }
    return {delivered, false};
}

std::vector<Bytes> sampleFrames()
{
    return {frame(0, 1), frame(1, 2), frame(5, 3), frame(300, 4), frame(70000, 5), frame(2, 6)};
}

TEST(StreamFaults, FrameSizeIsHeaderPayloadAndTrailer)
{
    EXPECT_EQ(testutil::kFrameHeaderBytes, 22u);
    EXPECT_EQ(testutil::frameBytes(0), 26u);
    EXPECT_EQ(testutil::frameBytes(100), 126u);
}

TEST(StreamFaults, FramesAreCountedWhateverTheChunking)
{
    const std::vector<Bytes> frames = sampleFrames();
    const Bytes stream = concat(frames);
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{26},
                              std::size_t{4096}, stream.size()}) {
        StreamFaults f;
        const auto [delivered, cut] = feed(f, stream, piece);
        EXPECT_FALSE(cut);
        EXPECT_EQ(delivered, stream);
        EXPECT_EQ(f.framesStarted(), frames.size()) << "piece " << piece;
    }
}

TEST(StreamFaults, CutAtFrameStopsBetweenOrInsideFrames)
{
    const std::vector<Bytes> frames = sampleFrames();
    const Bytes stream = concat(frames);
    const std::size_t firstFour = concat({frames[0], frames[1], frames[2], frames[3]}).size();
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{1000}, stream.size()}) {
        StreamFaults between;
        between.cutAtFrame(5, 0);
        auto [d1, c1] = feed(between, stream, piece);
        EXPECT_TRUE(c1);
        EXPECT_EQ(d1, slice(stream, 0, firstFour)) << "piece " << piece;

        StreamFaults inside;
        inside.cutAtFrame(5, 4); // just after the length field
        auto [d2, c2] = feed(inside, stream, piece);
        EXPECT_TRUE(c2);
        EXPECT_EQ(d2, slice(stream, 0, firstFour + 4)) << "piece " << piece;

        StreamFaults first;
        first.cutAtFrame(1, 0);
        auto [d3, c3] = feed(first, stream, piece);
        EXPECT_TRUE(c3);
        EXPECT_TRUE(d3.empty());
    }
}

TEST(StreamFaults, CutAtFrameCountsFramesBeginningAfterTheRule)
{
    const std::vector<Bytes> frames = sampleFrames();
    const Bytes stream = concat(frames);
    StreamFaults f;
    // Mid-frame 4: that frame does not count, frame 5 is the first, frame 6 the second.
    const std::size_t midFour = concat({frames[0], frames[1], frames[2]}).size() + 100;
    Bytes head = slice(stream, 0, midFour);
    EXPECT_FALSE(f.process(head.data(), head.size()).cut);
    f.cutAtFrame(2, 0);
    const auto [rest, cut] = feed(f, slice(stream, midFour, stream.size()), 777);
    EXPECT_TRUE(cut);
    EXPECT_EQ(midFour + rest.size(), stream.size() - frames[5].size());
}

TEST(StreamFaults, CutAfterCountsBytesAcrossChunks)
{
    StreamFaults f;
    const Bytes data = randomBytes(100, 1);
    f.cutAfter(10);
    const auto [delivered, cut] = feed(f, data, 4);
    EXPECT_TRUE(cut);
    EXPECT_EQ(delivered, slice(data, 0, 10));

    StreamFaults now;
    now.cutAfter(0);
    EXPECT_TRUE(now.cutDue());
}

TEST(StreamFaults, DropThenCorruptTheFollowingBytes)
{
    StreamFaults f;
    const Bytes data = randomBytes(64, 2);
    f.drop(10);
    f.corrupt(5, 0x01);
    const auto [delivered, cut] = feed(f, data, 3);
    EXPECT_FALSE(cut);
    ASSERT_EQ(delivered.size(), data.size() - 10);
    for (std::size_t i = 0; i < delivered.size(); ++i)
        EXPECT_EQ(delivered[i], i < 5 ? data[10 + i] ^ 0x01 : data[10 + i]) << i;
    EXPECT_EQ(f.dropPending(), 0u);
    EXPECT_EQ(f.corruptPending(), 0u);
}

// ---------------------------------------------------------------------------
// FaultProxy over a real echo server.

class FaultProxyTest : public ::testing::Test {
protected:
    EchoServer server;
    FaultProxy proxy{"127.0.0.1", server.port()};
};

TEST_F(FaultProxyTest, ForwardsLargeRandomStreamsBothWaysByteExact)
{
    constexpr int kClients = 4;
    constexpr std::size_t kSize = 3 * 1024 * 1024;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<Bytes> data;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<Client>(proxy.port()));
        data.push_back(randomBytes(kSize, 100 + i));
    }
    ASSERT_TRUE(proxy.waitForConnections(kClients, kWait));
    std::vector<std::thread> senders;
    for (int i = 0; i < kClients; ++i)
        senders.emplace_back([&, i] {
            EXPECT_TRUE(clients[i]->sendInPieces(data[i], 7 + i));
            clients[i]->shutdownWrite();
        });
    for (auto& t : senders)
        t.join();
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[i]->log().waitEnded()) << i;
        const StreamLog::View back = clients[i]->log().view();
        EXPECT_EQ(back.error, 0);
        EXPECT_TRUE(back.bytes == data[i]) << "client " << i << " got " << back.bytes.size();
    }
    std::size_t matched = 0;
    for (std::size_t s = 0; s < kClients; ++s) {
        const StreamLog::View got = server.session(s).view();
        for (const Bytes& d : data)
            matched += got.bytes == d;
    }
    EXPECT_EQ(matched, static_cast<std::size_t>(kClients));
    EXPECT_TRUE(proxy.waitForOpenConnections(0, kWait));
    EXPECT_EQ(proxy.bytesForwarded(kC2S), kClients * kSize);
    EXPECT_EQ(proxy.bytesForwarded(kS2C), kClients * kSize);
    EXPECT_EQ(proxy.bytesReceived(kC2S), kClients * kSize);
    EXPECT_EQ(proxy.connectionsAccepted(), static_cast<std::uint64_t>(kClients));
}

TEST_F(FaultProxyTest, CutAllResetsEveryConnection)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Client>(proxy.port()));
        ASSERT_TRUE(clients.back()->send(randomBytes(1000, i)));
        ASSERT_TRUE(clients.back()->log().waitBytes(1000));
    }
    EXPECT_EQ(proxy.connectionsOpen(), 3u);
    proxy.cutAll();
    EXPECT_EQ(proxy.connectionsOpen(), 0u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(clients[i]->log().waitEnded());
        EXPECT_EQ(clients[i]->log().view().error, ECONNRESET);
        ASSERT_TRUE(server.session(i).waitEnded());
        EXPECT_EQ(server.session(i).view().error, ECONNRESET);
    }
}

TEST_F(FaultProxyTest, CutAfterBytesServerToClientDeliversExactlyThatMany)
{
    constexpr std::size_t kCut = 100003;
    Client c(proxy.port());
    ASSERT_TRUE(proxy.waitForConnections(1, kWait));
    proxy.cutAfterBytes(kS2C, kCut);
    const Bytes data = randomBytes(1024 * 1024, 3);
    c.sendInPieces(data, 3); // fails once the cut came
    ASSERT_TRUE(c.log().waitEnded());
    const StreamLog::View got = c.log().view();
    EXPECT_TRUE(c.sawReset());
    EXPECT_EQ(got.bytes.size(), kCut);
    EXPECT_TRUE(got.bytes == slice(data, 0, kCut));
    EXPECT_TRUE(proxy.waitForOpenConnections(0, kWait));
    EXPECT_EQ(proxy.bytesForwarded(kS2C), kCut);
}

TEST_F(FaultProxyTest, CutAfterBytesWaitsUntilASlowReaderHoldsTheBytes)
{
    // The client's small window leaves most of the bytes before the cut point in the
    // proxy's send buffer when the cut comes: a reset then would discard them.
    constexpr std::size_t kCut = 20000;
    Client c(proxy.port(), Client::Reader::Slow);
    ASSERT_TRUE(proxy.waitForConnections(1, kWait));
    proxy.cutAfterBytes(kS2C, kCut);
    const Bytes data = randomBytes(kCut + 5000, 15);
    std::thread sender([&] { c.send(data); });
    ASSERT_TRUE(proxy.waitForBytesForwarded(kS2C, kCut, kWait));
    c.startReading();
    ASSERT_TRUE(c.log().waitEnded());
    sender.join();
    EXPECT_TRUE(c.sawReset());
    EXPECT_EQ(c.log().view().bytes.size(), kCut);
    EXPECT_TRUE(c.log().view().bytes == slice(data, 0, kCut));
}

TEST_F(FaultProxyTest, CutAfterBytesClientToServerDeliversExactlyThatMany)
{
    constexpr std::size_t kCut = 123457;
    Client c(proxy.port());
    ASSERT_TRUE(proxy.waitForConnections(1, kWait));
    proxy.cutAfterBytes(kC2S, kCut);
    const Bytes data = randomBytes(1024 * 1024, 4);
    c.sendInPieces(data, 4);
    ASSERT_TRUE(c.log().waitEnded());
    const StreamLog& atServer = server.session(0);
    ASSERT_TRUE(atServer.waitEnded());
    const StreamLog::View got = atServer.view();
    EXPECT_NE(got.error, 0); // a reset, not an orderly end
    EXPECT_EQ(got.bytes.size(), kCut);
    EXPECT_TRUE(got.bytes == slice(data, 0, kCut));
    EXPECT_TRUE(c.sawReset());
    EXPECT_EQ(proxy.bytesForwarded(kC2S), kCut);
}

TEST_F(FaultProxyTest, CutAfterBytesAsARuleAppliesToNewConnectionsOnly)
{
    Client before(proxy.port());
    ASSERT_TRUE(proxy.waitForConnections(1, kWait));
    proxy.cutAfterBytes(kC2S, 1000, Scope::Future);

    const Bytes data = randomBytes(5000, 5);
    ASSERT_TRUE(before.send(data));
    ASSERT_TRUE(before.log().waitBytes(data.size()));
    EXPECT_TRUE(before.log().view().bytes == data);

    for (std::size_t i = 1; i <= 2; ++i) { // every new connection, not only the next
        Client after(proxy.port());
        after.send(data);
        ASSERT_TRUE(server.session(i).waitEnded());
        EXPECT_TRUE(server.session(i).view().bytes == slice(data, 0, 1000));
    }

    proxy.clearFaults();
    Client healed(proxy.port());
    ASSERT_TRUE(healed.send(data));
    ASSERT_TRUE(healed.log().waitBytes(data.size()));
    EXPECT_TRUE(healed.log().view().bytes == data);
}

TEST_F(FaultProxyTest, CutAtFrameClientToServerBetweenAndInsideFrames)
{
    const std::vector<Bytes> frames = sampleFrames();
    const Bytes stream = concat(frames);
    const std::size_t firstThree = concat({frames[0], frames[1], frames[2]}).size();
    {
        Client c(proxy.port());
        ASSERT_TRUE(proxy.waitForConnections(1, kWait));
        proxy.cutAtFrame(kC2S, 4);
        c.send(stream);
        ASSERT_TRUE(server.session(0).waitEnded());
        EXPECT_TRUE(server.session(0).view().bytes == slice(stream, 0, firstThree));
        ASSERT_TRUE(c.log().waitEnded());
        EXPECT_TRUE(c.sawReset());
    }
    {
        Client c(proxy.port());
        ASSERT_TRUE(proxy.waitForConnections(2, kWait));
        proxy.cutAtFrame(kC2S, 4, 10); // inside the fourth frame's header
        c.send(stream);
        ASSERT_TRUE(server.session(1).waitEnded());
        EXPECT_TRUE(server.session(1).view().bytes == slice(stream, 0, firstThree + 10));
    }
}

TEST_F(FaultProxyTest, CutAtFrameServerToClientCountsFramesFromTheCall)
{
    const std::vector<Bytes> frames = sampleFrames();
    Client c(proxy.port());
    // Two frames go through before the rule: they do not count.
    const Bytes early = concat({frames[0], frames[1]});
    ASSERT_TRUE(c.send(early));
    ASSERT_TRUE(c.log().waitBytes(early.size()));
    proxy.cutAtFrame(kS2C, 3);
    const Bytes late = concat({frames[2], frames[3], frames[4], frames[5]});
    c.send(late);
    ASSERT_TRUE(c.log().waitEnded());
    EXPECT_TRUE(c.sawReset());
    EXPECT_TRUE(c.log().view().bytes == concat({early, frames[2], frames[3]}));
}

TEST_F(FaultProxyTest, CutAtFrameAsARuleCountsFromTheConnectionStart)
{
    const std::vector<Bytes> frames = sampleFrames();
    proxy.cutAtFrame(kC2S, 2, 0, Scope::Future);
    Client c(proxy.port());
    c.send(concat(frames));
    ASSERT_TRUE(server.session(0).waitEnded());
    EXPECT_TRUE(server.session(0).view().bytes == frames[0]);
}

TEST_F(FaultProxyTest, StallHoldsEverythingThenResumeDeliversInOrder)
{
    Client c(proxy.port());
    ASSERT_TRUE(proxy.waitForConnections(1, kWait));
    proxy.stall(kC2S, true);
    const Bytes data = randomBytes(4 * 1024 * 1024, 6); // more than the proxy queues
    std::thread sender([&] { EXPECT_TRUE(c.sendInPieces(data, 6)); });

    // The proxy reads until its queue is full and forwards nothing meanwhile.
    ASSERT_TRUE(proxy.waitForBytesReceived(kC2S, 1024 * 1024, kWait));
    EXPECT_EQ(proxy.bytesForwarded(kC2S), 0u);
    EXPECT_TRUE(server.session(0).view().bytes.empty());
    EXPECT_FALSE(c.log().view().ended); // half-open, not closed
    EXPECT_EQ(proxy.connectionsOpen(), 1u);

    proxy.stall(kC2S, false);
    sender.join();
    ASSERT_TRUE(c.log().waitBytes(data.size()));
    EXPECT_TRUE(server.session(0).view().bytes == data);
    EXPECT_TRUE(c.log().view().bytes == data);
}

TEST_F(FaultProxyTest, StallServerToClientHoldsTheEndOfStreamToo)
{
    Client c(proxy.port());
    proxy.stall(kS2C, true, Scope::Both);
    const Bytes data = randomBytes(50000, 7);
    ASSERT_TRUE(c.send(data));
    c.shutdownWrite();
    // The server has echoed everything and closed its side; the proxy holds it all.
    ASSERT_TRUE(server.session(0).waitEnded());
    ASSERT_TRUE(proxy.waitForBytesReceived(kS2C, data.size(), kWait));
    EXPECT_EQ(proxy.bytesForwarded(kS2C), 0u);
    EXPECT_FALSE(c.log().view().ended);

    proxy.stall(kS2C, false);
    ASSERT_TRUE(c.log().waitEnded());
    EXPECT_EQ(c.log().view().error, 0);
    EXPECT_TRUE(c.log().view().bytes == data);
    EXPECT_TRUE(proxy.waitForOpenConnections(0, kWait));
}

TEST_F(FaultProxyTest, DelayForwardsNoEarlierThanTheDelay)
{
    constexpr auto kDelay = 150ms;
    Client c(proxy.port());
    ASSERT_TRUE(proxy.waitForConnections(1, kWait));
    proxy.delay(kC2S, kDelay);
    const Bytes a = randomBytes(1000, 8);
    const Bytes b = randomBytes(2000, 9);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.send(a));
    ASSERT_TRUE(c.send(b));
    ASSERT_TRUE(server.session(0).waitBytes(a.size() + b.size()));
    // A lower bound only: the proxy promises it, the machine's speed does not matter.
    EXPECT_GE(std::chrono::steady_clock::now() - start, kDelay);
    EXPECT_TRUE(server.session(0).view().bytes == concat({a, b}));

    // A long delay holds what was read; lifting it lets the queued chunks go at once.
    proxy.delay(kC2S, std::chrono::minutes(10));
    ASSERT_TRUE(c.send(a));
    ASSERT_TRUE(proxy.waitForBytesReceived(kC2S, 2 * a.size() + b.size(), kWait));
    EXPECT_EQ(proxy.bytesForwarded(kC2S), a.size() + b.size());
    proxy.delay(kC2S, 0ms);
    ASSERT_TRUE(c.log().waitBytes(2 * a.size() + b.size()));
    EXPECT_TRUE(c.log().view().bytes == concat({a, b, a}));
}

TEST_F(FaultProxyTest, DropBytesRemovesExactlyTheNextN)
{
    const Bytes data = randomBytes(4000, 10);
    Client c(proxy.port());
    ASSERT_TRUE(c.send(slice(data, 0, 1000)));
    ASSERT_TRUE(server.session(0).waitBytes(1000));
    proxy.dropBytes(kC2S, 500);
    ASSERT_TRUE(c.send(slice(data, 1000, 4000)));
    ASSERT_TRUE(c.log().waitBytes(3500));
    ASSERT_TRUE(proxy.waitForBytesForwarded(kC2S, 3500, kWait));
    const Bytes expected = concat({slice(data, 0, 1000), slice(data, 1500, 4000)});
    EXPECT_TRUE(server.session(0).view().bytes == expected);
    EXPECT_TRUE(c.log().view().bytes == expected);
    EXPECT_EQ(proxy.bytesReceived(kC2S), 4000u);
    EXPECT_EQ(proxy.bytesForwarded(kC2S), 3500u);
}

TEST_F(FaultProxyTest, DropBytesAsARuleDropsTheStartOfEachNewConnection)
{
    proxy.dropBytes(kS2C, 64, Scope::Future);
    const Bytes data = randomBytes(1000, 11);
    Client c(proxy.port());
    ASSERT_TRUE(c.send(data));
    c.shutdownWrite();
    ASSERT_TRUE(c.log().waitEnded());
    EXPECT_TRUE(server.session(0).view().bytes == data);
    EXPECT_TRUE(c.log().view().bytes == slice(data, 64, 1000));
}

TEST_F(FaultProxyTest, CorruptNextAltersExactlyTheNextN)
{
    const Bytes data = randomBytes(4000, 12);
    Client c(proxy.port());
    ASSERT_TRUE(c.send(slice(data, 0, 1000)));
    ASSERT_TRUE(c.log().waitBytes(1000));
    proxy.corruptNext(kC2S, 300, 0x01);
    ASSERT_TRUE(c.send(slice(data, 1000, 4000)));
    ASSERT_TRUE(c.log().waitBytes(4000));
    const Bytes got = server.session(0).view().bytes;
    ASSERT_EQ(got.size(), data.size());
    EXPECT_EQ(differingBytes(got, data), 300u);
    for (std::size_t i = 1000; i < 1300; ++i)
        ASSERT_EQ(got[i], data[i] ^ 0x01) << i;
    EXPECT_TRUE(slice(got, 1300, 4000) == slice(data, 1300, 4000));

    // The other direction: the echo of clean bytes comes back with 10 flipped.
    proxy.corruptNext(kS2C, 10);
    ASSERT_TRUE(c.send(data));
    ASSERT_TRUE(c.log().waitBytes(8000));
    const Bytes back = slice(c.log().view().bytes, 4000, 8000);
    EXPECT_EQ(differingBytes(back, data), 10u);
    EXPECT_EQ(back[0], static_cast<std::uint8_t>(data[0] ^ 0xFF));
}

TEST_F(FaultProxyTest, RefuseNewResetsNewConnectionsOnly)
{
    const Bytes data = randomBytes(1000, 13);
    Client kept(proxy.port());
    ASSERT_TRUE(kept.send(data));
    ASSERT_TRUE(kept.log().waitBytes(data.size()));

    proxy.refuseNew(true);
    {
        Client refused(proxy.port()); // TCP connects; the proxy then resets it
        ASSERT_TRUE(refused.log().waitEnded());
        EXPECT_TRUE(refused.sawReset());
        EXPECT_TRUE(refused.log().view().bytes.empty());
        EXPECT_EQ(proxy.connectionsRefused(), 1u);
        EXPECT_EQ(proxy.connectionsAccepted(), 2u);
    }
    EXPECT_EQ(server.sessions(), 1u);
    ASSERT_TRUE(kept.send(data)); // the open connection is untouched
    ASSERT_TRUE(kept.log().waitBytes(2 * data.size()));

    proxy.refuseNew(false);
    Client later(proxy.port());
    ASSERT_TRUE(later.send(data));
    ASSERT_TRUE(later.log().waitBytes(data.size()));
    EXPECT_EQ(server.sessions(), 2u);
    EXPECT_EQ(proxy.connectionsOpen(), 2u);
}

TEST_F(FaultProxyTest, UnreachableTargetResetsTheClient)
{
    proxy.setTarget("127.0.0.1", deadPort());
    Client c(proxy.port());
    ASSERT_TRUE(c.log().waitEnded());
    EXPECT_TRUE(c.log().view().bytes.empty());
    EXPECT_TRUE(proxy.waitForOpenConnections(0, kWait));

    proxy.setTarget("127.0.0.1", server.port());
    Client again(proxy.port());
    const Bytes data = randomBytes(100, 14);
    ASSERT_TRUE(again.send(data));
    ASSERT_TRUE(again.log().waitBytes(data.size()));
}

TEST_F(FaultProxyTest, SteeringFromManyThreadsWhileTrafficFlows)
{
    constexpr int kClients = 3;
    constexpr std::size_t kSize = 2 * 1024 * 1024;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<Bytes> data;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<Client>(proxy.port()));
        data.push_back(randomBytes(kSize, 200 + i));
    }
    ASSERT_TRUE(proxy.waitForConnections(kClients, kWait));
    std::atomic<bool> done{false};
    // Faults that keep the bytes intact, switched at random from two threads; a
    // stall never outlives the next few calls, so the senders always get through.
    std::vector<std::thread> steering;
    for (int s = 0; s < 2; ++s)
        steering.emplace_back([&, s] {
            std::mt19937 gen(400 + s);
            while (!done.load()) {
                const Direction dir = gen() % 2 ? kC2S : kS2C;
                const Scope scope = static_cast<Scope>(gen() % 3);
                switch (gen() % 4) {
                case 0: proxy.stall(dir, true, scope); break;
                case 1: proxy.stall(dir, false, scope); break;
                case 2: proxy.delay(dir, std::chrono::milliseconds(gen() % 3), scope); break;
                default:
                    (void)proxy.bytesForwarded(dir);
                    (void)proxy.connectionsOpen();
                    proxy.clearFaults(scope);
                    break;
                }
                std::this_thread::yield();
            }
        });
    std::vector<std::thread> senders;
    for (int i = 0; i < kClients; ++i)
        senders.emplace_back([&, i] { EXPECT_TRUE(clients[i]->sendInPieces(data[i], 300 + i)); });
    for (auto& t : senders)
        t.join();
    done = true;
    for (auto& t : steering)
        t.join();
    proxy.clearFaults();
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[i]->log().waitBytes(kSize)) << i;
        EXPECT_TRUE(clients[i]->log().view().bytes == data[i]) << i;
        EXPECT_TRUE(server.session(i).view().bytes.size() == kSize);
    }
    EXPECT_EQ(proxy.connectionsOpen(), static_cast<std::uint64_t>(kClients));
}

TEST(FaultProxyLifetime, DestroyingWhileTrafficFlowsResetsEveryConnection)
{
    EchoServer server;
    auto proxy = std::make_unique<FaultProxy>("127.0.0.1", server.port());
    constexpr int kClients = 4;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(std::make_unique<Client>(proxy->port()));
    ASSERT_TRUE(proxy->waitForConnections(kClients, kWait));
    proxy->delay(kS2C, 1ms); // some bytes are always queued in the proxy
    proxy->stall(kC2S, true, Scope::Future);
    std::atomic<bool> stop{false};
    std::vector<std::thread> senders;
    for (int i = 0; i < kClients; ++i)
        senders.emplace_back([&, i] {
            const Bytes chunk = randomBytes(32 * 1024, 500 + i);
            while (!stop.load() && clients[i]->send(chunk)) {
            }
        });
    Client stalled(proxy->port());
    ASSERT_TRUE(proxy->waitForConnections(kClients + 1, kWait));
    ASSERT_TRUE(proxy->waitForBytesForwarded(kS2C, 4 * 1024 * 1024, kWait));

    proxy.reset();
    for (auto& c : clients)
        EXPECT_TRUE(c->log().waitEnded());
    EXPECT_TRUE(stalled.log().waitEnded());
    stop = true;
    for (auto& t : senders)
        t.join();
    for (int i = 0; i < kClients; ++i)
        EXPECT_TRUE(server.session(i).waitEnded());
}

} // namespace
