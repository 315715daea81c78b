#include "demo_world.h"

namespace pellora::dealer {

namespace {

struct Pair {
    const char* offerId;
    const char* symbol;
    int digits;
    double pointSize;
    double bid;
    double spread;
    double volatility;
    double margin;  // margin of one 1,000-unit lot
};

// Majors, crosses and JPY pairs with typical spreads (pips) and per-minute moves.
const Pair kPairs[] = {
    {"1", "EUR/USD", 5, 0.0001, 1.08450, 0.8, 0.8, 20},  {"2", "USD/JPY", 3, 0.01, 149.120, 1.0, 1.0, 20},
    {"3", "GBP/USD", 5, 0.0001, 1.26530, 1.2, 1.0, 25},  {"4", "USD/CHF", 5, 0.0001, 0.88210, 1.5, 0.8, 20},
    {"5", "EUR/CHF", 5, 0.0001, 0.95640, 2.0, 0.6, 25},  {"6", "AUD/USD", 5, 0.0001, 0.65420, 1.0, 0.7, 20},
    {"7", "USD/CAD", 5, 0.0001, 1.35870, 1.5, 0.8, 20},  {"8", "NZD/USD", 5, 0.0001, 0.60130, 1.8, 0.7, 25},
    {"9", "EUR/GBP", 5, 0.0001, 0.85710, 1.2, 0.5, 25},  {"10", "EUR/JPY", 3, 0.01, 161.720, 1.6, 1.2, 30},
    {"11", "GBP/JPY", 3, 0.01, 188.680, 2.5, 1.6, 35},   {"12", "CHF/JPY", 3, 0.01, 169.050, 2.5, 1.3, 35},
};

struct Cfd {
    const char* offerId;
    const char* symbol;
    const char* currency;
    double bid;
    double spread;
    double volatility;
    double margin;  // per contract (one unit)
};

const Cfd kCfds[] = {
    {"13", "SPX500", "USD", 5125.3, 5, 8, 250},
    {"14", "GER30", "EUR", 17850.0, 10, 15, 900},
};

Instrument pair(const Pair& p) {
    Instrument m;
    m.offerId = p.offerId;
    m.symbol = p.symbol;
    m.contractCurrency = std::string(p.symbol).substr(0, 3);
    m.digits = p.digits;
    m.pointSize = p.pointSize;
    m.instrumentType = 1;
    m.baseUnitSize = 1000;
    m.contractMultiplier = 1;
    m.conditionDistances = {1, 1, 1, 1};
    m.minQuantity = 1000;
    m.maxQuantity = 50000000;
    m.tradingStatus = "O";
    m.valueDate = "";
    m.startBid = p.bid;
    m.startAsk = p.bid + p.spread * p.pointSize;
    m.spread = p.spread;
    m.volatility = p.volatility;
    return m;
}

Instrument cfd(const Cfd& c) {
    Instrument m;
    m.offerId = c.offerId;
    m.symbol = c.symbol;
    m.contractCurrency = c.currency;
    m.digits = 1;
    m.pointSize = 0.1;
    m.instrumentType = 2;
    m.baseUnitSize = 1;
    m.contractMultiplier = 1;
    m.conditionDistances = {5, 5, 5, 5};
    m.minQuantity = 1;
    m.maxQuantity = 1000;
    m.tradingStatus = "O";
    m.permissions = "107,N";
    m.startBid = c.bid;
    m.startAsk = c.bid + c.spread * m.pointSize;
    m.spread = c.spread;
    m.volatility = c.volatility;
    return m;
}

Account account(const char* id, const char* profile, double balance, const char* maintenance,
                const char* kind = "32") {
    Account a;
    a.id = id;
    a.name = id;
    a.kind = kind;
    a.currency = "USD";
    a.balance = balance;
    a.leverageProfile = profile;
    a.maintenanceType = maintenance;
    a.amountLimit = 0;
    a.baseUnitSize = 1000;
    return a;
}

Connection connection(const char* name, Protocol protocol, bool initialMessages,
                      std::vector<TradingSession> sessions, const char* priceTerminal = "") {
    Connection c;
    c.name = name;
    c.protocol = protocol;
    c.initialMessages = initialMessages;
    c.sessions = std::move(sessions);
    c.priceTerminal = priceTerminal;
    return c;
}

void addFlags(World& w, const char* prefix, const char* granted, const char* denied) {
    // Codes of the SDK's permission checker: 86 entry, 87 change/delete, 88 market,
    // 89 subscription, 94 stop/limit, 98 quotes, 107 accept quote, 108 reports,
    // 171/172 stop and limit shown, 102 dealer's own.
    auto add = [&](const char* codes, const char* value) {
        std::string list = codes;
        size_t pos = 0;
        while (pos < list.size()) {
            const size_t comma = list.find(',', pos);
            const std::string code = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
            w.systemProperties.push_back({std::string(prefix) + code, value});
            if (comma == std::string::npos) break;
            pos = comma + 1;
        }
    };
    add(granted, "Y");
    add(denied, "N");
}

} // namespace

World demoWorld() {
    World w;
    w.station.version = "1.0.3";

    for (const Pair& p : kPairs) w.instruments.push_back(pair(p));
    for (const Cfd& c : kCfds) w.instruments.push_back(cfd(c));

    w.accounts = {account("01001", "1", 50000, "Y"), account("01002", "1", 10000, "N"),
                  account("02001", "2", 25000, "Y"), account("03001", "2", 100000, "Y"),
                  account("03002", "2", 0, "Y", "38")};

    w.users = {
        {"demo", "pbkdf2-sha256$20000$64656d6f2d73616c742d303031$"
                 "e7e68c321ef3de4101c180e6d27f8cfa2d1e638e8fa12f8e682f1883b6c99607",
         UserKindTrader, 1001, {"01001", "01002"}},
        {"demo22", "pbkdf2-sha256$20000$64656d6f2d73616c742d303232$"
                   "a23e10c29d17a673bd9054181d32aef161b888b118cff94b84ba9cb9a1bc41cb",
         UserKindCustomer, 1022, {"02001"}},
        {"demo24", "pbkdf2-sha256$20000$64656d6f2d73616c742d303234$"
                   "861abc4b70d560580af7bbbbc43d2250dc6860e17d36a18abc34007e36d4c2ae",
         UserKindDealer, 1024, {"03001", "03002"}},
    };

    // Margin values are per unit of the amount, as clients read them (they multiply by
    // the base unit size to show a lot's margin). Three-level margins are off, so all
    // three values are the one margin the dealer charges and every display mode agrees.
    for (const char* profile : {"1", "2"}) {
        const double scale = profile[0] == '1' ? 1.0 : 2.0;
        for (const Pair& p : kPairs) {
            const double perUnit = p.margin * scale / 1000;
            w.margins.push_back({profile, p.offerId, {perUnit, perUnit, perUnit}});
        }
        for (const Cfd& c : kCfds) {
            const double perUnit = c.margin * scale;
            w.margins.push_back({profile, c.offerId, {perUnit, perUnit, perUnit}});
        }
    }

    w.priceTerminals.push_back({"PriceDemo", Protocol::Das, {}});
    for (const Instrument& m : w.instruments) w.priceTerminals.back().offerIds.push_back(m.offerId);

    w.connections = {
        connection("Demo", Protocol::Das, true, {{"Demo", "DemoSession", "Demo", "Demo trading session", ""}}),
        connection("DemoMulti", Protocol::Das, true,
                   {{"DemoMulti", "Main", "Main", "Main trading session", ""},
                    {"DemoMulti", "Secure", "Secure", "Trading session with a PIN", "1234"}}),
        connection("DemoAsync", Protocol::Das, false,
                   {{"DemoAsync", "AsyncSession", "Async", "Trade desk loaded by requests", ""}}),
        connection("DemoRTMP", Protocol::Rtmp, true, {{"DemoRTMP", "RTMPSession", "RTMP", "Prices over RTMP", ""}}),
        connection("DemoPrice", Protocol::Das, true,
                   {{"DemoPrice", "PriceSession", "Price", "Prices from a price terminal", ""}}, "PriceDemo"),
    };

    w.systemProperties = {
        {"BASE_CRNCY", "USD"},
        {"BASE_UNIT_SIZE", "1000"},
        {"SERVER_TIME_UTC", "UTC"},
        {"TRADER_REPORTS_URL", "https://localhost/reports?source=pellora&kind=statement"},
        {"NON_CHANGED_VALUE", "!="},
        {"TRAILING_FLUCTUATE", "Y"},
        {"TRAILING_DYNAMIC", "Y"},
        {"TRAILING_FLUCTUATE_PTS_MIN", "10"},
        {"TRAILING_FLUCTUATE_PTS_MAX", "300"},
        {"THREE_LEVEL_MARGIN", "N"},
        {"SHOW_MR", "ALL"},
        {"OCO_DISABLED", "N"},
        {"NET_QTY_ORDR_DISABLED", "N"},
        {"RTMP_SYMBOL_SUBSCR_ENABLED", "Y"},
    };
    addFlags(w, "TP_", "86,87,88,89,94,108,109,118,171,172", "91,98,105,107");
    addFlags(w, "CP_", "86,87,88,89,94,108,171,172", "91,98,105,107");
    addFlags(w, "DP_", "102", "86,87,88,89,94,98,107,108,171,172");
    return w;
}

} // namespace pellora::dealer
