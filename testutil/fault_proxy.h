#pragma once
// A fault-injecting TCP proxy for transport and end-to-end tests. It listens on an
// ephemeral port of 127.0.0.1, forwards every accepted connection to a target, and
// lets the test cut, stall, delay, drop, corrupt or refuse the byte stream of each
// direction while traffic flows.
//
// [Threading] The proxy runs one asio thread of its own. Every operation but the
// destructor may be called from any thread, concurrently; a steering call returns
// once the fault is in force on the proxy's thread, so bytes the proxy forwards after
// the return obey it (bytes already handed to the kernel before it do not). No
// callback ever runs on the test's behalf, so nothing re-enters the proxy from its
// own thread.
// [Scope] Each fault applies to the connections open at the call (Scope::Current),
// as a rule to every connection accepted later (Scope::Future), or both. A rule stays
// until replaced or cleared; a one-shot fault of a rule (cut, drop, corrupt) applies
// once to each new connection.
// [Positions] Byte and frame positions count the bytes the sender wrote in that
// direction (dropped bytes included) from the moment the fault takes effect: the call
// for a current connection, its first byte for a new one. Frames are found with the
// transport's header (see stream_faults.h: a frame is 26 + payload length bytes), so
// counting frames is meaningful on plain TCP only, not inside TLS.
// [Cuts] A cut resets both sides (SO_LINGER 0). A positioned cut first waits (bounded)
// until the peer's kernel acknowledged the bytes before the cut point, so the far side
// reads exactly those bytes and then sees the reset.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace testutil {

enum class Direction { ClientToServer = 0, ServerToClient = 1 };

enum class Scope { Current, Future, Both };

class FaultProxy {
public:
    // Resolves the target now and starts listening and forwarding; throws
    // std::system_error when the target does not resolve or the port cannot be bound.
    FaultProxy(const std::string& targetHost, std::uint16_t targetPort);
    // Stops accepting, resets every connection, joins the thread.
    ~FaultProxy();
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    std::uint16_t port() const;
    // Connections accepted from now on go to this target; throws as the constructor.
    void setTarget(const std::string& targetHost, std::uint16_t targetPort);

    // Resets every open connection at once (nothing is drained); rules are untouched.
    void cutAll();
    // Resets after `n` more bytes in `dir` (0: now, once bytes in flight are delivered).
    void cutAfterBytes(Direction dir, std::uint64_t n, Scope scope = Scope::Current);
    // Resets when the k-th frame (k >= 1) beginning in `dir` has had `bytesIntoFrame`
    // of its bytes forwarded: 0 resets between frames k-1 and k, a value inside the
    // frame's size cuts it in the middle (4 cuts right after its length field).
    void cutAtFrame(Direction dir, std::uint64_t k, std::uint64_t bytesIntoFrame = 0,
                    Scope scope = Scope::Current);
    // Holds every byte (and the end of stream) of `dir` while on; the sockets stay
    // open, so the far side sees a silent, half-open peer. Reading from the sender
    // goes on until 1 MiB is queued, then its kernel buffers fill. Off forwards what
    // queued, in order.
    void stall(Direction dir, bool on, Scope scope = Scope::Current);
    // Forwards each chunk read in `dir` no earlier than `delay` after it was read,
    // keeping the order; the delay in force counts, also for chunks already queued
    // (0 turns it off and lets them go).
    void delay(Direction dir, std::chrono::milliseconds delay, Scope scope = Scope::Current);
    // Discards the next `n` bytes of `dir` silently.
    void dropBytes(Direction dir, std::uint64_t n, Scope scope = Scope::Current);
    // XORs `mask` (non-zero) into each of the next `n` forwarded bytes of `dir`
    // (bytes being dropped are not counted).
    void corruptNext(Direction dir, std::uint64_t n, std::uint8_t mask = 0xFF,
                     Scope scope = Scope::Current);
    // While on, new connections are accepted and reset at once, as an unreachable
    // server looks to a client that connected; none reaches the target.
    void refuseNew(bool on);
    // Lifts stalls and delays and forgets pending cuts, drops and corruption of the
    // scope's connections or rules (refuseNew is kept).
    void clearFaults(Scope scope = Scope::Both);

    // Bytes delivered to the far side in `dir`, summed over every connection.
    std::uint64_t bytesForwarded(Direction dir) const;
    // Bytes read from the sender in `dir`, forwarded or not (yet).
    std::uint64_t bytesReceived(Direction dir) const;
    // Every connection accepted, refused ones included.
    std::uint64_t connectionsAccepted() const;
    std::uint64_t connectionsRefused() const;
    // Accepted, not refused and not yet closed or reset.
    std::uint64_t connectionsOpen() const;

    // Bounded waits for tests; each returns whether the condition held in time:
    // at least `accepted` accepted, exactly `open` open, at least `n` bytes.
    bool waitForConnections(std::uint64_t accepted, std::chrono::milliseconds timeout) const;
    bool waitForOpenConnections(std::uint64_t open, std::chrono::milliseconds timeout) const;
    bool waitForBytesForwarded(Direction dir, std::uint64_t n,
                               std::chrono::milliseconds timeout) const;
    bool waitForBytesReceived(Direction dir, std::uint64_t n,
                              std::chrono::milliseconds timeout) const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace testutil
