#include "merrow/threading.h"

#include <system_error>

namespace merrow {
namespace threading {

AThread::~AThread()
{
    join();
}

bool AThread::start(void* argument)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_running.load(std::memory_order_acquire))
        return false;
    // The previous run has returned; its thread is about to end.
    if (m_thread.joinable())
        m_thread.join();
    m_running.store(true, std::memory_order_release);
    try {
        m_thread = std::thread(&AThread::body, this, argument);
        m_runner = m_thread.get_id();
    } catch (const std::system_error&) {
        m_running.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

bool AThread::join()
{
    std::thread mine;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        // Thread ids are reused only after a thread ends, so while run is going
        // the id tells its own thread apart.
        if (m_running.load(std::memory_order_acquire) && m_runner == std::this_thread::get_id())
            return false;
        if (!m_thread.joinable()) {
            // Another caller is joining: wait until run has returned.
            m_ended.wait(guard, [this] { return !m_running.load(std::memory_order_acquire); });
            return true;
        }
        mine = std::move(m_thread);
    }
    // Joined outside the lock, so a run that calls start or join cannot deadlock.
    mine.join();
    return true;
}

void AThread::body(void* argument)
{
    try {
        run(argument);
    } catch (...) {
        // Nothing to report to: the thread ends as if run had returned.
    }
    // Notified under the lock: a waiting joiner may destroy the object as soon as
    // it returns, so nothing here may touch it after the lock is released.
    std::lock_guard<std::mutex> guard(m_lock);
    m_running.store(false, std::memory_order_release);
    m_ended.notify_all();
}

} // namespace threading
} // namespace merrow
