#include "client_delivery.h"

#include <algorithm>

#include "client_runtime.h"

namespace merrow::detail {

namespace {

// Deliveries running on this thread: a schedule made from inside a callback (another
// session's, say) never runs callbacks nested in it, where the application may hold
// a lock that the nested callback takes again.
thread_local int t_delivering = 0;

struct Delivering {
    Delivering() { ++t_delivering; }
    ~Delivering() { --t_delivering; }
    Delivering(const Delivering&) = delete;
    Delivering& operator=(const Delivering&) = delete;
};

} // namespace

ClientDelivery::ClientDelivery(DeliveryStrand strand, size_t maxHeld, size_t maxHeldBytes)
    : m_strand(std::move(strand)), m_held(maxHeld, maxHeldBytes)
{
}

ClientDelivery::~ClientDelivery()
{
    // Subscriptions left when the session ends without free().
    for (auto& s : m_messageSubs)
        s->listener->release();
    for (auto& s : m_statusSubs)
        s->listener->release();
}

void ClientDelivery::setOverflowHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onOverflow = std::move(handler);
}

void ClientDelivery::setReadBound(size_t maxMessages, size_t maxBytes, std::function<void()> resume)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boundMessages = std::max<size_t>(maxMessages, 1);
    m_boundBytes = std::max<size_t>(maxBytes, 1);
    m_onResume = std::move(resume);
}

bool ClientDelivery::holdReading()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queuedMessages <= m_boundMessages && m_queuedBytes <= m_boundBytes)
        return false;
    if (!m_holding) {
        m_holding = true;
        ++m_holdsStarted;
    }
    return true;
}

void ClientDelivery::pushedLocked(const Item& item)
{
    if (!item.message)
        return;
    ++m_queuedMessages;
    m_queuedBytes += item.bytes;
    m_peakQueued = std::max(m_peakQueued, m_queuedMessages);
}

std::function<void()> ClientDelivery::poppedLocked(const Item& item)
{
    if (!item.message)
        return nullptr;
    --m_queuedMessages;
    m_queuedBytes -= std::min(m_queuedBytes, item.bytes);
    // Half the bound, not just under it: a reader that resumes at once would stop
    // again after one read, many times a second.
    if (!m_holding || m_queuedMessages > m_boundMessages / 2 || m_queuedBytes > m_boundBytes / 2)
        return nullptr;
    m_holding = false;
    return m_onResume;
}

void ClientDelivery::setStrand(DeliveryStrand strand)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strand = std::move(strand);
}

DeliveryStrand ClientDelivery::strand() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strand;
}

bool ClientDelivery::runningHere() const
{
    return strand().running_in_this_thread();
}

template <class L>
bool ClientDelivery::addTo(std::vector<std::shared_ptr<Subscription<L>>>& list, L* listener)
{
    for (auto& s : list)
        if (s->listener == listener)
            return false;
    list.push_back(std::make_shared<Subscription<L>>(listener));
    return true;
}

template <class L>
std::shared_ptr<ClientDelivery::Subscription<L>>
ClientDelivery::removeFrom(std::vector<std::shared_ptr<Subscription<L>>>& list, L* listener)
{
    for (auto it = list.begin(); it != list.end(); ++it) {
        if ((*it)->listener == listener) {
            auto s = *it;
            s->active.store(false, std::memory_order_release);
            list.erase(it);
            return s;
        }
    }
    return nullptr;
}

void ClientDelivery::subscribe(IUserMessageListener* listener)
{
    if (!listener || m_freed.load(std::memory_order_acquire))
        return;
    listener->addRef();
    std::optional<DeliveryStrand> run;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!addTo(m_messageSubs, listener)) {
            listener->release();  // never the last: the subscription holds one
            return;
        }
        // Held messages go to the new listener ahead of anything later.
        if (!m_held.empty())
            run = scheduleLocked();
    }
    if (run)
        schedule(*run);
}

void ClientDelivery::unsubscribe(IUserMessageListener* listener)
{
    std::shared_ptr<MessageSub> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gone = removeFrom(m_messageSubs, listener);
    }
    if (gone)
        gone->listener->release();
}

void ClientDelivery::subscribe(IUserSessionStatusListener* listener)
{
    if (!listener || m_freed.load(std::memory_order_acquire))
        return;
    listener->addRef();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!addTo(m_statusSubs, listener))
        listener->release();
}

void ClientDelivery::unsubscribe(IUserSessionStatusListener* listener)
{
    std::shared_ptr<StatusSub> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gone = removeFrom(m_statusSubs, listener);
    }
    if (gone)
        gone->listener->release();
}

void ClientDelivery::postMessage(std::unique_ptr<FieldGroup> message, size_t bytes)
{
    if (!message || m_freed.load(std::memory_order_acquire))
        return;
    std::optional<DeliveryStrand> run;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Item item;
        item.message = std::move(message);
        item.bytes = bytes;
        m_queue.push_back(std::move(item));
        pushedLocked(m_queue.back());
        run = scheduleLocked();
    }
    if (run)
        schedule(*run);
}

void ClientDelivery::postStatus(int code, int messageCode, std::string reason)
{
    if (m_freed.load(std::memory_order_acquire))
        return;
    std::optional<DeliveryStrand> run;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Item item;
        item.code = code;
        item.messageCode = messageCode;
        item.reason = std::move(reason);
        m_queue.push_back(std::move(item));
        run = scheduleLocked();
    }
    if (run)
        schedule(*run);
}

std::optional<DeliveryStrand> ClientDelivery::scheduleLocked()
{
    if (m_scheduled)
        return std::nullopt;
    m_scheduled = true;
    return m_strand;
}

void ClientDelivery::schedule(const DeliveryStrand& strand)
{
    auto self = shared_from_this();
    // Deferred, never run inside the caller: from the I/O thread that read the frame
    // the callbacks run on that thread right after the read's handler, which has then
    // returned, so the link (its heart-beats) is free while a callback runs; from a
    // callback, after it; from any other thread this is a plain post.
    asio::defer(strand, [self] { self->drain(); });
}

size_t ClientDelivery::heldCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held.size();
}

size_t ClientDelivery::queuedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queuedMessages;
}

size_t ClientDelivery::peakQueuedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peakQueued;
}

uint64_t ClientDelivery::holdsStarted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_holdsStarted;
}

void ClientDelivery::drain()
{
    const Delivering delivering;
    // Kept across the items: their capacity is reused, so a delivery allocates nothing.
    std::vector<std::shared_ptr<MessageSub>> messageSubs;
    std::vector<std::shared_ptr<StatusSub>> statusSubs;
    for (;;) {
        std::unique_ptr<FieldGroup> message;
        size_t messageBytes = 0;
        bool messageHeld = false;
        std::unique_ptr<SessionStatus> status;
        messageSubs.clear();
        statusSubs.clear();
        std::function<void(const std::string&)> overflow;
        std::string overflowReason;
        std::function<void()> resume;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_freed.load(std::memory_order_acquire)) {
                m_scheduled = false;
                return;
            }
            if (!m_messageSubs.empty() && !m_held.empty()) {
                auto held = m_held.takeAll();
                // Back to the front of the queue, in order, ahead of later arrivals.
                for (auto it = held.rbegin(); it != held.rend(); ++it) {
                    Item item;
                    item.message = std::move(*it);
                    item.held = true;
                    m_queue.push_front(std::move(item));
                    pushedLocked(m_queue.front());
                }
            }
            if (m_queue.empty()) {
                m_scheduled = false;
                return;
            }
            Item item = std::move(m_queue.front());
            m_queue.pop_front();
            resume = poppedLocked(item);
            if (item.message && m_overflowReported && !item.held) {
                // The session is being expired: a message after the overflow would
                // reach a listener with a hole before it.
            } else if (item.message) {
                if (m_messageSubs.empty()) {
                    HoldStatus held = m_held.push(std::move(item.message), item.bytes);
                    if (!held.ok() && !m_overflowReported) {
                        m_overflowReported = true;
                        overflow = m_onOverflow;
                        overflowReason = held.reason;
                    }
                } else {
                    message = std::move(item.message);
                    messageBytes = item.bytes;
                    messageHeld = item.held;
                    messageSubs.assign(m_messageSubs.begin(), m_messageSubs.end());
                    for (auto& s : messageSubs)
                        s->listener->addRef();
                }
            } else {
                status = std::make_unique<SessionStatus>(item.code, item.messageCode, std::move(item.reason));
                statusSubs.assign(m_statusSubs.begin(), m_statusSubs.end());
                for (auto& s : statusSubs)
                    s->listener->addRef();
            }
        }
        if (resume) {
            try {
                resume();
            } catch (...) {
            }
        }
        if (overflow)
            overflow(overflowReason);
        if (m_testBeforeDelivery)
            m_testBeforeDelivery();
        bool delivered = false;
        for (auto& s : messageSubs) {
            if (!m_freed.load(std::memory_order_acquire) && s->active.load(std::memory_order_acquire)) {
                delivered = true;
                ClientRuntime::callbackStarted();
                try {
                    s->listener->update(m_handle, message.get());
                } catch (...) {
                    // An application's exception ends at the transport's edge.
                }
                ClientRuntime::callbackEnded();
            }
            s->listener->release();
        }
        if (message && !delivered) {
            // Every listener of the copy left since it was taken (a swap in between):
            // the message goes back to the front, to the listeners now subscribed or
            // to the held ones.
            std::lock_guard<std::mutex> lock(m_mutex);
            Item item;
            item.message = std::move(message);
            item.bytes = messageBytes;
            item.held = messageHeld;
            m_queue.push_front(std::move(item));
            pushedLocked(m_queue.front());
        }
        for (auto& s : statusSubs) {
            if (!m_freed.load(std::memory_order_acquire) && s->active.load(std::memory_order_acquire)) {
                ClientRuntime::callbackStarted();
                try {
                    s->listener->update(m_handle, status.get());
                } catch (...) {
                }
                ClientRuntime::callbackEnded();
            }
            s->listener->release();
        }
    }
}

void ClientDelivery::free(std::function<void()> last)
{
    m_freed.store(true, std::memory_order_release);
    std::vector<std::shared_ptr<MessageSub>> messageSubs;
    std::vector<std::shared_ptr<StatusSub>> statusSubs;
    DeliveryStrand strand = this->strand();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        messageSubs.swap(m_messageSubs);
        statusSubs.swap(m_statusSubs);
        m_queue.clear();
        m_queuedMessages = 0;
        m_queuedBytes = 0;
        m_holding = false;
        m_held.clear();
    }
    for (auto& s : messageSubs) {
        s->active.store(false, std::memory_order_release);
        s->listener->release();
    }
    for (auto& s : statusSubs) {
        s->active.store(false, std::memory_order_release);
        s->listener->release();
    }
    if (last)
        asio::post(strand, [self = shared_from_this(), last = std::move(last)] { last(); });
}

} // namespace merrow::detail
