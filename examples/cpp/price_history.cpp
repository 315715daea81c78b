// Downloads the last hour of one-minute bars of an instrument and prints them as
// CSV (UTC times, bid and ask prices).
//   price_history [URL [SYMBOL]]   (PELLORA_URL, PELLORA_USER, PELLORA_PASSWORD, PELLORA_CONNECTION)
// Exits 0 when the server sent bars.
#include <cstdio>
#include <string>

#include "example_session.h"
#include "vorntool/date.h"

int main(int argc, char** argv) {
    const std::string symbol = argc > 2 ? argv[2] : "EUR/USD";
    example::Session session;
    if (!session.login(example::settingsFrom(argc, argv))) return 1;

    IZelRequestFactory* factory = session->getRequestFactory();  // null once the connection is gone
    if (!factory) return 1;
    IZelTimeframeCollection* timeframes = factory->getTimeFrameCollection();
    IZelTimeframe* m1 = timeframes ? timeframes->get("m1") : nullptr;
    IZelRequest* request = factory->createMarketDataSnapshotRequestInstrument(symbol.c_str(), m1, 300);
    // Date serials count days: an hour is 1/24.
    const double now = vorntool::date::nowGMTSerial();
    if (request) factory->fillMarketDataSnapshotRequestTime(request, now - 1.0 / 24, now, true);
    IZelResponse* response = session.call(request);
    if (request) request->release();
    if (m1) m1->release();
    if (timeframes) timeframes->release();
    factory->release();
    if (!response) return 1;

    IZelResponseReaderFactory* readers = session->getResponseReaderFactory();
    IZelMarketDataSnapshotResponseReader* bars = readers ? readers->createMarketDataSnapshotReader(response) : nullptr;
    const int count = bars ? bars->size() : 0;
    std::printf("time,bid_open,bid_high,bid_low,bid_close,ask_open,ask_high,ask_low,ask_close,volume\n");
    for (int i = 0; i < count; ++i)
        std::printf("%s,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%d\n",
                    vorntool::date(bars->getDate(i)).toString(2 | 0x80).c_str(), bars->getBidOpen(i),
                    bars->getBidHigh(i), bars->getBidLow(i), bars->getBidClose(i), bars->getAskOpen(i),
                    bars->getAskHigh(i), bars->getAskLow(i), bars->getAskClose(i), bars->getVolume(i));
    std::fprintf(stderr, "%d bars of %s\n", count, symbol.c_str());
    if (bars) bars->release();
    if (readers) readers->release();
    response->release();
    return count > 0 ? 0 : 1;
}
