#pragma once
// Worlds for tests that need what the demo world leaves out: a day-netting account,
// an account amount limit, an account base unit size above the instrument's, a
// closed instrument, and per-instrument permissions that a public query reads.
// Header-only, tests only.

#include "demo_world.h"
#include "world.h"

namespace pellora::dealer {

// The demo world plus user "edge" (password "edge", trader 1050) with:
//   05001  day netting ("D"), amount limit 100,000, base unit size 1,000
//   05002  hedging, base unit size 10,000 (EUR/USD's is 1,000)
// instrument 15 "USD/SEK" closed (trading status "C") with permissions "88,N,94,Y",
// and EUR/USD (1) with the permissions "88,Y,94,N".
inline World edgeWorld() {
    World w = demoWorld();
    Account dayNetting;
    dayNetting.id = dayNetting.name = "05001";
    dayNetting.currency = "USD";
    dayNetting.balance = 20000;
    dayNetting.leverageProfile = "1";
    dayNetting.maintenanceType = "D";
    dayNetting.amountLimit = 100000;
    dayNetting.baseUnitSize = 1000;
    Account bigLots = dayNetting;
    bigLots.id = bigLots.name = "05002";
    bigLots.maintenanceType = "Y";
    bigLots.amountLimit = 0;
    bigLots.baseUnitSize = 10000;
    w.accounts.push_back(dayNetting);
    w.accounts.push_back(bigLots);
    w.users.push_back({"edge", "plain:edge", UserKindTrader, 1050, {"05001", "05002"}});

    Instrument closed = *w.findInstrument("1");
    closed.offerId = "15";
    closed.symbol = "USD/SEK";
    closed.contractCurrency = "USD";
    closed.digits = 4;
    closed.pointSize = 0.001;
    closed.startBid = 10.5;
    closed.startAsk = 10.51;
    closed.spread = 10;
    closed.tradingStatus = "C";
    closed.permissions = "88,N,94,Y";
    w.instruments.push_back(closed);
    for (Instrument& m : w.instruments)
        if (m.offerId == "1") m.permissions = "88,Y,94,N";
    for (const char* profile : {"1", "2"}) w.margins.push_back({profile, "15", {25, 20, 10}});
    for (PriceTerminal& t : w.priceTerminals) t.offerIds.push_back("15");
    return w;
}

} // namespace pellora::dealer
