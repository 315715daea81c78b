// A small application on the installed SDK. Without arguments it creates a
// session, checks its time converter and releases it. With URL USER PASSWORD
// CONNECTION it logs in, waits for Connected (at most 20 s), logs out and says so.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "vorntool/date.h"
#include "zel/zel.h"

namespace {

struct Waiter : TThreadSafeAddRefImpl<IZelSessionStatus> {
    std::mutex mutex;
    std::condition_variable changed;
    ZelSessionStatus status = Disconnected;
    bool started = false;
    std::string error;
    void onSessionStatusChanged(ZelSessionStatus s) override {
        std::lock_guard<std::mutex> lock(mutex);
        status = s;
        started = started || s != Disconnected;
        changed.notify_all();
    }
    void onLoginFailed(const char* e) override {
        std::lock_guard<std::mutex> lock(mutex);
        error = e ? e : "";
        changed.notify_all();
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::printf("api %s\n", sz_pellora_api_version);
    IZelSession* session = CZelTransport::createSession();
    if (!session) return 1;
    IZelTimeConverter* converter = session->getTimeConverter();
    const double noon = vorntool::date(2026, 6, 1, 12, 0, 0).getSerial();
    const bool same = converter && converter->convert(noon, IZelTimeConverter::UTC, IZelTimeConverter::UTC) == noon;
    if (converter) converter->release();
    if (!same) return 1;

    int rc = 0;
    if (argc == 5) {
        auto* waiter = new Waiter;
        session->subscribeSessionStatus(waiter);
        session->login(argv[2], argv[3], argv[1], argv[4]);
        std::unique_lock<std::mutex> lock(waiter->mutex);
        const bool done = waiter->changed.wait_for(lock, std::chrono::seconds(20), [&] {
            return waiter->status == IZelSessionStatus::Connected ||
                   (waiter->started && waiter->status == IZelSessionStatus::Disconnected);
        });
        const bool connected = done && waiter->status == IZelSessionStatus::Connected;
        std::printf("%s\n", connected ? "connected" : ("not connected: " + waiter->error).c_str());
        lock.unlock();
        if (connected) session->logout();
        session->unsubscribeSessionStatus(waiter);
        waiter->release();
        rc = connected ? 0 : 3;
    }
    session->release();
    std::printf("released\n");
    return rc;
}
