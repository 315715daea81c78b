#pragma once
// The delivery side of one client session: its listeners, the queue of messages and
// status reports on their way to them, and the messages held while no message
// listener is subscribed.
//
// Everything reaches the application on one strand, in the order it was posted. Posted
// from the I/O thread that read the frame, the callbacks run on that thread once the
// read's handler has returned (no other thread is woken), so a long callback holds
// neither the link's heart-beats nor, with the runtime's watchdog lending the
// context another thread, the other sessions of that thread.
// Messages that find no message listener are held and go, oldest first, to the next
// listener that subscribes (also when one listener replaces another); status reports
// pass them. More held than the bound calls the overflow handler once: the session
// is then expired, and no message after the overflow is delivered (what was held
// before it still goes to a listener that subscribes, in order, without a hole).
//
// The queue is bounded by push-back, not by dropping: above a bound of messages or
// bytes waiting, holdReading() tells the session's link to stop reading, and once the
// strand has taken the queue down to half of both, the resume handler lets it read
// again. A slow callback (or a strand on the other transport thread that is busy)
// thus holds the price stream at the server, where market data is conflated, instead
// of in this process. Held messages (no listener) have the hold queue's bound.
//
// [Threading] subscribe, unsubscribe, post*, setStrand and free may be called from
// any thread, also from inside a callback. Callbacks run on the strand, one at a
// time, with no lock of this class held.
// [Lifetime] Listeners are held with one reference per subscription and one more for
// the length of each delivery. After free() no callback starts.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

#include "field_group.h"
#include "inbound_sequencer.h"
#include "merrow/listeners.h"

namespace merrow::detail {

using DeliveryStrand = asio::strand<asio::io_context::executor_type>;

// The status object handed to status listeners.
class SessionStatus final : public ISessionStatus {
public:
    SessionStatus(int code, int messageCode, std::string reason)
        : m_code(code), m_messageCode(messageCode), m_reason(std::move(reason))
    {
    }
    int getStatusCode() const override { return m_code; }
    int getMessageCode() const override { return m_messageCode; }
    const char* getReasonText() const override { return m_reason.c_str(); }

private:
    int m_code;
    int m_messageCode;
    std::string m_reason;
};

class ClientDelivery : public std::enable_shared_from_this<ClientDelivery> {
public:
    ClientDelivery(DeliveryStrand strand, size_t maxHeld = HoldQueue<int>::kDefaultMaxItems,
                   size_t maxHeldBytes = HoldQueue<int>::kDefaultMaxBytes);
    ~ClientDelivery();
    ClientDelivery(const ClientDelivery&) = delete;
    ClientDelivery& operator=(const ClientDelivery&) = delete;

    // The session object handed to callbacks; set once before anything is posted.
    void setHandle(IUserSession* handle) { m_handle = handle; }
    // Called once, on the strand, when the held messages pass the bound.
    void setOverflowHandler(std::function<void(const std::string&)> handler);

    // The push-back bound (see above) and what lets the link read again; `resume` runs
    // on the strand with no lock of this class held. Set before anything is posted.
    void setReadBound(size_t maxMessages, size_t maxBytes, std::function<void()> resume);
    // Asked by the session's link after each read (any thread): true while more than
    // the bound waits; the resume handler then runs once the queue is down to half.
    bool holdReading();

    // A price session logged in by session delivers on its trade session's strand.
    void setStrand(DeliveryStrand strand);
    DeliveryStrand strand() const;
    // True inside a callback of this delivery (or of another session on its strand).
    bool runningHere() const;

    void subscribe(IUserMessageListener* listener);
    void unsubscribe(IUserMessageListener* listener);
    void subscribe(IUserSessionStatusListener* listener);
    void unsubscribe(IUserSessionStatusListener* listener);

    // `bytes` is the message's size on the wire, counted against the hold bound.
    void postMessage(std::unique_ptr<FieldGroup> message, size_t bytes);
    void postStatus(int code, int messageCode, std::string reason);

    // No callback starts after this returns (except the one in progress); drops the
    // listeners and what waits, then runs `last` on the strand once the callback in
    // progress has returned.
    void free(std::function<void()> last);

    // For tests: messages held now; messages waiting in the queue now and at most so
    // far; how often holdReading() has started a hold.
    size_t heldCount() const;
    size_t queuedCount() const;
    size_t peakQueuedCount() const;
    uint64_t holdsStarted() const;
    // For tests: runs on the strand between taking an item with its listeners and
    // handing it to them, where another thread may swap the listeners.
    void setTestHookBeforeDelivery(std::function<void()> hook) { m_testBeforeDelivery = std::move(hook); }

private:
    struct Item {
        std::unique_ptr<FieldGroup> message;  // null: a status report
        size_t bytes = 0;
        bool held = false;  // came back from the hold queue: older than any overflow
        int code = 0;
        int messageCode = 0;
        std::string reason;
    };
    template <class L>
    struct Subscription {
        L* listener;
        std::atomic<bool> active{true};
        explicit Subscription(L* l) : listener(l) {}
    };
    using MessageSub = Subscription<IUserMessageListener>;
    using StatusSub = Subscription<IUserSessionStatusListener>;

    // The strand to run drain() on when the caller must schedule it (after unlocking).
    // Queue bookkeeping, caller holds m_mutex. popped() returns the resume handler
    // to run after unlocking when the queue went down to half the bound.
    void pushedLocked(const Item& item);
    std::function<void()> poppedLocked(const Item& item);
    std::optional<DeliveryStrand> scheduleLocked();
    void schedule(const DeliveryStrand& strand);
    void drain();
    template <class L>
    static bool addTo(std::vector<std::shared_ptr<Subscription<L>>>& list, L* listener);
    template <class L>
    static std::shared_ptr<Subscription<L>> removeFrom(std::vector<std::shared_ptr<Subscription<L>>>& list,
                                                       L* listener);

    IUserSession* m_handle = nullptr;
    std::atomic<bool> m_freed{false};

    mutable std::mutex m_mutex;
    DeliveryStrand m_strand;
    std::vector<std::shared_ptr<MessageSub>> m_messageSubs;
    std::vector<std::shared_ptr<StatusSub>> m_statusSubs;
    std::deque<Item> m_queue;
    size_t m_queuedMessages = 0;  // message items in m_queue and their wire bytes
    size_t m_queuedBytes = 0;
    size_t m_peakQueued = 0;
    size_t m_boundMessages = SIZE_MAX;
    size_t m_boundBytes = SIZE_MAX;
    bool m_holding = false;  // holdReading() said true; the resume handler is owed
    uint64_t m_holdsStarted = 0;
    std::function<void()> m_onResume;
    HoldQueue<std::unique_ptr<FieldGroup>> m_held;
    bool m_scheduled = false;
    bool m_overflowReported = false;
    std::function<void(const std::string&)> m_onOverflow;
    std::function<void()> m_testBeforeDelivery;
};

} // namespace merrow::detail
