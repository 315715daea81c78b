// pellora-demo: the story of the README's first command, on the public SDK. Logs
// in, shows prices moving, buys at market, follows the trade's profit and loss and
// the account's equity, attaches a stop and a limit, closes the trade, shows the
// closed trade and the new balance, fetches an hour of one-minute bars and logs
// out. On a terminal the live parts redraw in place; piped, they print plain lines.
// Each step waits a bounded time: a step that cannot finish is one line on stderr
// and exit code 2 (1 when the server refused), never a hang.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "client.h"
#include "output.h"
#include "parse.h"
#include "settings.h"
#include "vorntool/date.h"

using namespace pellora::cli;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    SettingFlags flags;
    std::string symbol = "EUR/USD";
    int amount = 10000;
    double liveSeconds = 4;
    double timeout = 15;
};

struct Price {
    double bid = 0, ask = 0, point = 0.0001;
    int digits = 5;
    std::string offerID;
};

// Thrown inside the story to end it with a reason; caught in main only.
struct StoryFailure {
    Failure failure;
};

class Story {
public:
    Story(Client& client, const Options& o) : m_client(client), m_o(o), m_terminal(::isatty(STDOUT_FILENO)) {}
    // The price handler refers to this story: it is taken back, and any call of it
    // under way finished, before the story goes (also when a step failed).
    ~Story() { m_client.onUpdates(nullptr); }
    Story(const Story&) = delete;
    Story& operator=(const Story&) = delete;

    void run() {
        const ConnectionSettings& s = m_client.settings();
        say(fmt::format("logged in to {} as {} (connection {})", s.url, s.user, s.connection));
        loadOffers();
        m_account = firstAccount(m_balanceBefore);
        watchPrices();
        const std::string order = openTrade();
        const TradeInfo trade = waitForTrade(order);
        say(fmt::format("opened trade {} (order {}): {} {} {} at {:.{}f}", trade.id, order,
                        trade.buy ? "buy" : "sell", trade.amount, m_o.symbol, trade.open, price().digits));
        followTrade(trade);
        attachStopAndLimit(trade);
        closeTrade(trade);
        showClosed(trade);
        showBars();
        say("logging out");
    }

private:
    struct TradeInfo {
        std::string id;
        bool buy = true;
        int amount = 0;
        double open = 0;
    };

    [[noreturn]] void fail(Failure f) { throw StoryFailure{std::move(f)}; }
    [[noreturn]] void fail(int code, std::string text) { fail(Failure{code, std::move(text)}); }

    void say(const std::string& line) { std::cout << line << std::endl; }
    void heading(const std::string& line) { std::cout << "\n== " << line << std::endl; }

    Price price() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_price;
    }

    Ref<IZelResponse> call(IZelRequest* request) {
        Ref<IZelResponse> response;
        Failure f;
        if (!request) fail(kExitUsage, "the SDK could not make the request");
        if (!m_client.call(request, response, f)) fail(f);
        return response;
    }

    template <class Reader>
    Ref<Reader> table(ZelTable t, Reader* (IZelResponseReaderFactory::*make)(IZelResponse*),
                      const char* account = nullptr) {
        Ref<IZelRequestFactory> f = m_client.requestFactory();
        if (!f) fail(kExitUsage, "the session is not Connected");
        Ref<IZelRequest> r = Ref<IZelRequest>::adopt(account ? f->createRefreshTableRequestByAccount(t, account)
                                                             : f->createRefreshTableRequest(t));
        Ref<IZelResponse> response = call(r.get());
        Ref<IZelResponseReaderFactory> readers = m_client.readerFactory();
        Ref<Reader> reader = readers ? Ref<Reader>::adopt((readers.get()->*make)(response.get())) : Ref<Reader>();
        if (!reader) fail(kExitUsage, "the server's answer could not be read");
        return reader;
    }

    void loadOffers() {
        auto offers = table(ZelTable::Offers, &IZelResponseReaderFactory::createOffersTableReader);
        for (int i = 0; i < offers->size(); ++i) {
            Ref<IZelOfferRow> r = Ref<IZelOfferRow>::adopt(offers->getRow(i));
            if (!r) continue;
            const Price p{r->getBid(), r->getAsk(), r->getPointSize() > 0 ? r->getPointSize() : 0.0001,
                          r->getDigits(), r->getOfferID()};
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_o.symbol == r->getInstrument()) m_price = p;
            // The price part shows the traded symbol and the next few, so that it moves.
            if (m_shown.size() < 5 || m_o.symbol == r->getInstrument()) {
                if (m_shown.size() == 5) m_shown.pop_back();
                m_shown.push_back(r->getOfferID());
                m_symbols[r->getOfferID()] = r->getInstrument();
            }
            m_all[r->getOfferID()] = p;
        }
        if (price().offerID.empty()) fail(kExitRefused, fmt::format("the server has no offer '{}'", m_o.symbol));
        Ref<IZelResponseReaderFactory> readers = m_client.readerFactory();
        m_client.onUpdates([this, readers](IZelResponse* response) {
            Ref<IZelTablesUpdatesReader> u =
                Ref<IZelTablesUpdatesReader>::adopt(readers->createTablesUpdatesReader(response));
            if (!u) return;
            for (int i = 0; i < u->size(); ++i) {
                if (u->getUpdateTable(i) != ZelTable::Offers) continue;
                Ref<IZelOfferRow> r = Ref<IZelOfferRow>::adopt(u->getOfferRow(i));
                if (!r) continue;
                std::lock_guard<std::mutex> lock(m_mutex);
                auto it = m_all.find(r->getOfferID());
                if (it == m_all.end()) continue;
                if (r->isBidValid()) it->second.bid = r->getBid();
                if (r->isAskValid()) it->second.ask = r->getAsk();
                if (m_symbols.count(r->getOfferID())) ++m_shownTicks;
                if (m_price.offerID == r->getOfferID()) {
                    m_price = it->second;
                    ++m_ticks;
                }
            }
        });
    }

    std::string firstAccount(double& balance) {
        auto accounts = table(ZelTable::Accounts, &IZelResponseReaderFactory::createAccountsTableReader);
        if (accounts->size() == 0) fail(kExitRefused, "the login has no account");
        Ref<IZelAccountRow> r = Ref<IZelAccountRow>::adopt(accounts->getRow(0));
        balance = r->getBalance();
        return r->getAccountID();
    }

    // Prints one block: on a terminal it replaces the previous block in place.
    void redraw(const std::string& block, bool first) {
        if (m_terminal) {
            if (!first && m_lastLines > 0) std::cout << fmt::format("\x1b[{}A\x1b[J", m_lastLines);
            m_lastLines = static_cast<int>(std::count(block.begin(), block.end(), '\n'));
        }
        std::cout << block << std::flush;
    }

    // Runs for the live time; tick() gives the block to show after each price move.
    template <class Tick>
    void live(const long long& counter, Tick tick) {
        const auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(m_o.liveSeconds * 1000));
        long long seen = -1;
        bool first = true;
        Clock::time_point nextPlain = Clock::now();
        while (Clock::now() < end && !g_interrupted) {
            long long ticks;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ticks = counter;
            }
            // Piped, a block at most every half second keeps the lines readable.
            if (ticks != seen && (m_terminal || Clock::now() >= nextPlain)) {
                seen = ticks;
                redraw(tick(first), first);
                first = false;
                nextPlain = Clock::now() + std::chrono::milliseconds(500);
            }
            Failure f;
            if (!m_client.waitFor(std::chrono::milliseconds(100), f)) fail(f);
        }
        if (m_terminal) m_lastLines = 0;
    }

    void watchPrices() {
        heading(fmt::format("prices moving ({:g} s)", m_o.liveSeconds));
        live(m_shownTicks, [this](bool first) {
            Table t({"symbol", "bid", "ask", "spread"});
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const std::string& id : m_shown) {
                const Price& p = m_all[id];
                t.addRow({Table::text(m_symbols[id]), Table::number(p.bid, p.digits), Table::number(p.ask, p.digits),
                          Table::number((p.ask - p.bid) / p.point, 1)});
            }
            return render(t, first);
        });
    }

    // A table as text. Piped, a one-row table prints its header once and then
    // the row alone; a larger one prints each block whole after a blank line.
    std::string render(const Table& t, bool first) {
        std::ostringstream s;
        t.print(s, OutputFormat::Table);
        std::string text = s.str();
        if (!m_terminal && !first) text = t.size() == 1 ? text.substr(text.find('\n') + 1) : "\n" + text;
        return text;
    }

    Ref<IZelValueMap> newMap(IZelRequestFactory* f) {
        Ref<IZelValueMap> map = Ref<IZelValueMap>::adopt(f->createValueMap());
        if (!map) fail(kExitUsage, "this server takes no orders");
        return map;
    }

    std::string sendOrder(IZelValueMap* map, const char* what) {
        Ref<IZelRequestFactory> f = m_client.requestFactory();
        if (!f) fail(kExitUsage, "the session is not Connected");
        Ref<IZelRequest> request = Ref<IZelRequest>::adopt(f->createOrderRequest(map));
        if (!request) fail(kExitUsage, fmt::format("{}: {}", what, f->getLastError()));
        Ref<IZelResponse> response = call(request.get());
        Ref<IZelResponseReaderFactory> readers = m_client.readerFactory();
        Ref<IZelOrderResponseReader> r =
            Ref<IZelOrderResponseReader>::adopt(readers ? readers->createOrderResponseReader(response.get()) : nullptr);
        if (!r) fail(kExitUsage, fmt::format("{}: the server's answer could not be read", what));
        if (!r->isSuccessful()) fail(kExitRefused, fmt::format("{}: {}", what, r->getErrorDescription()));
        return r->getOrderID();
    }

    std::string openTrade() {
        heading(fmt::format("buying {} {} at market", m_o.amount, m_o.symbol));
        Ref<IZelRequestFactory> f = m_client.requestFactory();
        if (!f) fail(kExitUsage, "the session is not Connected");
        Ref<IZelValueMap> map = newMap(f.get());
        map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
        map->setString(ZelRequestParamsEnum::OrderType, "OM");
        map->setString(ZelRequestParamsEnum::AccountID, m_account.c_str());
        map->setString(ZelRequestParamsEnum::OfferID, price().offerID.c_str());
        map->setString(ZelRequestParamsEnum::BuySell, "B");
        map->setInt(ZelRequestParamsEnum::Amount, m_o.amount);
        return sendOrder(map.get(), "buy");
    }

    // The trade an order opened, looked for until the timeout.
    TradeInfo waitForTrade(const std::string& orderID) {
        const auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(m_o.timeout * 1000));
        while (Clock::now() < end && !g_interrupted) {
            auto trades = table(ZelTable::Trades, &IZelResponseReaderFactory::createTradesTableReader);
            for (int i = 0; i < trades->size(); ++i) {
                Ref<IZelTradeRow> r = Ref<IZelTradeRow>::adopt(trades->getRow(i));
                if (r && orderID == r->getOpenOrderID())
                    return TradeInfo{r->getTradeID(), std::string(r->getBuySell()) == "B", r->getAmount(),
                                     r->getOpenRate()};
            }
            Failure f;
            if (!m_client.waitFor(std::chrono::milliseconds(200), f)) fail(f);
        }
        fail(kExitUsage, fmt::format("order {} opened no trade within {:g} s", orderID, m_o.timeout));
    }

    std::string quoteCurrency() const {
        const size_t slash = m_o.symbol.find('/');
        return slash == std::string::npos ? "" : m_o.symbol.substr(slash + 1);
    }

    // The trade's close price and profit and loss and the account's equity as the
    // live tables calculate them on every tick; found is false until the rows are in.
    struct LiveFigures {
        bool found = false;
        double close = 0, pl = 0, equity = 0;
    };
    LiveFigures liveFigures(const TradeInfo& t) {
        LiveFigures v;
        Ref<IZelTableManager> m = m_client.tableManager();
        if (!m) return v;
        auto trades = Ref<IZelTable>::adopt(m->getTable(ZelTable::Trades));
        auto accounts = Ref<IZelTable>::adopt(m->getTable(ZelTable::Accounts));
        if (!trades || !accounts) return v;
        IZelTradeTableRow* tr = nullptr;
        if (!static_cast<IZelTradesTable*>(trades.get())->findRow(t.id.c_str(), tr)) return v;
        auto tradeRow = Ref<IZelTradeTableRow>::adopt(tr);
        IZelAccountTableRow* ar = nullptr;
        if (!static_cast<IZelAccountsTable*>(accounts.get())->findRow(m_account.c_str(), ar)) return v;
        auto accountRow = Ref<IZelAccountTableRow>::adopt(ar);
        v.found = true;
        v.close = tradeRow->getClose();
        v.pl = tradeRow->getGrossPL();
        v.equity = accountRow->getEquity();
        return v;
    }

    void followTrade(const TradeInfo& trade) {
        heading(fmt::format("profit and loss of trade {} and the equity of account {} follow the market ({:g} s)",
                            trade.id, m_account, m_o.liveSeconds));
        live(m_ticks, [&](bool first) {
            const Price p = price();
            const LiveFigures f = liveFigures(trade);
            Table t({"trade", "symbol", "side", "amount", "open", "close", "pl", "equity"});
            if (f.found) {
                t.addRow({Table::text(trade.id), Table::text(m_o.symbol), Table::text(trade.buy ? "B" : "S"),
                          Table::integer(trade.amount), Table::number(trade.open, p.digits),
                          Table::number(f.close, p.digits), Table::number(f.pl, 2), Table::number(f.equity, 2)});
            } else {
                t.addRow({Table::text(trade.id), Table::text(m_o.symbol), Table::text(trade.buy ? "B" : "S"),
                          Table::integer(trade.amount), Table::number(trade.open, p.digits), Table::text("-"),
                          Table::text("-"), Table::text("-")});
            }
            return render(t, first);
        });
    }

    void attachStopAndLimit(const TradeInfo& trade) {
        const Price p = price();
        const double distance = 50 * p.point;
        const double stop = trade.buy ? p.bid - distance : p.ask + distance;
        const double limit = trade.buy ? p.bid + distance : p.ask - distance;
        heading(fmt::format("attaching a stop at {:.{}f} and a limit at {:.{}f}", stop, p.digits, limit, p.digits));
        Ref<IZelRequestFactory> f = m_client.requestFactory();
        if (!f) fail(kExitUsage, "the session is not Connected");
        std::string ids[2];
        for (int k = 0; k < 2; ++k) {
            Ref<IZelValueMap> map = newMap(f.get());
            map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
            map->setString(ZelRequestParamsEnum::OrderType, k == 0 ? "S" : "L");
            map->setString(ZelRequestParamsEnum::AccountID, m_account.c_str());
            map->setString(ZelRequestParamsEnum::OfferID, p.offerID.c_str());
            map->setString(ZelRequestParamsEnum::TradeID, trade.id.c_str());
            map->setString(ZelRequestParamsEnum::BuySell, trade.buy ? "S" : "B");
            map->setInt(ZelRequestParamsEnum::Amount, trade.amount);
            map->setDouble(ZelRequestParamsEnum::Rate, k == 0 ? stop : limit);
            ids[k] = sendOrder(map.get(), k == 0 ? "stop" : "limit");
        }
        say(fmt::format("stop order {} and limit order {} wait on trade {}", ids[0], ids[1], trade.id));
    }

    void closeTrade(const TradeInfo& trade) {
        heading(fmt::format("closing trade {} at market", trade.id));
        Ref<IZelRequestFactory> f = m_client.requestFactory();
        if (!f) fail(kExitUsage, "the session is not Connected");
        Ref<IZelValueMap> map = newMap(f.get());
        map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
        map->setString(ZelRequestParamsEnum::OrderType, "CM");
        map->setString(ZelRequestParamsEnum::AccountID, m_account.c_str());
        map->setString(ZelRequestParamsEnum::OfferID, price().offerID.c_str());
        map->setString(ZelRequestParamsEnum::TradeID, trade.id.c_str());
        map->setString(ZelRequestParamsEnum::BuySell, trade.buy ? "S" : "B");
        map->setInt(ZelRequestParamsEnum::Amount, trade.amount);
        say(fmt::format("close order {}", sendOrder(map.get(), "close")));
    }

    void showClosed(const TradeInfo& trade) {
        const auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(m_o.timeout * 1000));
        while (Clock::now() < end && !g_interrupted) {
            auto closed = table(ZelTable::ClosedTrades, &IZelResponseReaderFactory::createClosedTradesTableReader);
            for (int i = 0; i < closed->size(); ++i) {
                Ref<IZelClosedTradeRow> r = Ref<IZelClosedTradeRow>::adopt(closed->getRow(i));
                if (!r || trade.id != r->getTradeID()) continue;
                const int d = price().digits;
                say(fmt::format("closed trade {}: {} {} {} opened {:.{}f} closed {:.{}f} gross P/L {:.2f} {}", trade.id,
                                trade.buy ? "buy" : "sell", r->getAmount(), m_o.symbol, r->getOpenRate(), d,
                                r->getCloseRate(), d, r->getGrossPL(), quoteCurrency()));
                double balance = 0;
                firstAccount(balance);
                say(fmt::format("balance of account {}: {:.2f} (was {:.2f})", m_account, balance, m_balanceBefore));
                return;
            }
            Failure f;
            if (!m_client.waitFor(std::chrono::milliseconds(200), f)) fail(f);
        }
        fail(kExitUsage, fmt::format("trade {} did not appear among the closed trades within {:g} s", trade.id,
                                     m_o.timeout));
    }

    void showBars() {
        heading(fmt::format("one hour of one-minute bars of {}", m_o.symbol));
        Ref<IZelRequestFactory> f = m_client.requestFactory();
        if (!f) fail(kExitUsage, "the session is not Connected");
        Ref<IZelTimeframeCollection> frames = Ref<IZelTimeframeCollection>::adopt(f->getTimeFrameCollection());
        Ref<IZelTimeframe> m1 = frames ? Ref<IZelTimeframe>::adopt(frames->get("m1")) : Ref<IZelTimeframe>();
        if (!m1) fail(kExitUsage, "the server has no one-minute bars");
        Ref<IZelRequest> r =
            Ref<IZelRequest>::adopt(f->createMarketDataSnapshotRequestInstrument(m_o.symbol.c_str(), m1.get(), 60));
        const double now = vorntool::date::nowGMTSerial();
        if (r) f->fillMarketDataSnapshotRequestTime(r.get(), now - 1.0 / 24, now, true);
        Ref<IZelResponse> response = call(r.get());
        Ref<IZelResponseReaderFactory> readers = m_client.readerFactory();
        Ref<IZelMarketDataSnapshotResponseReader> bars = Ref<IZelMarketDataSnapshotResponseReader>::adopt(
            readers ? readers->createMarketDataSnapshotReader(response.get()) : nullptr);
        if (!bars) fail(kExitUsage, "the price history could not be read");
        const int n = bars->size();
        if (n == 0) fail(kExitUsage, "the server sent no bars");
        say(fmt::format("{} bars from {} to {} (UTC)", n, formatDate(bars->getDate(0)), formatDate(bars->getDate(n - 1))));
        Table t({"time", "bid_open", "bid_high", "bid_low", "bid_close", "volume"});
        const int d = price().digits;
        for (int i = std::max(0, n - 5); i < n; ++i)
            t.addRow({Table::text(formatDate(bars->getDate(i))), Table::number(bars->getBidOpen(i), d),
                      Table::number(bars->getBidHigh(i), d), Table::number(bars->getBidLow(i), d),
                      Table::number(bars->getBidClose(i), d), Table::integer(bars->getVolume(i))});
        t.print(std::cout, OutputFormat::Table);
    }

    Client& m_client;
    const Options& m_o;
    const bool m_terminal;
    std::mutex m_mutex;
    Price m_price;                                // the traded symbol's
    std::map<std::string, Price> m_all;           // every offer, by offer ID
    std::vector<std::string> m_shown;             // offer IDs of the price part
    std::map<std::string, std::string> m_symbols;  // their symbols
    long long m_ticks = 0, m_shownTicks = 0;
    std::string m_account;
    double m_balanceBefore = 0;
    int m_lastLines = 0;
};

void onSignal(int) { g_interrupted = true; }

int report(const Failure& f) {
    std::cerr << "pellora-demo: " << f.text << std::endl;
    return f.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"pellora-demo: the Pellora SDK's tour against a dealer: prices, a trade with its profit and loss,\n"
                 "a stop and a limit, the close, the new balance and an hour of one-minute bars.\n"
                 "Connection settings as for pellora (flags, PELLORA_* variables, ~/.config/pellora/config).",
                 "pellora-demo"};
    Options o;
    app.add_option("--url", o.flags.url, "server address, tcp://HOST:PORT or tls://HOST:PORT");
    app.add_option("-u,--user", o.flags.user, "user name");
    app.add_option("-c,--connection", o.flags.connection, "connection name");
    app.add_option("--ca", o.flags.caFile, "certificate-authority file for tls:// addresses");
    app.add_option("--config", o.flags.configFile, "config file");
    app.add_option("--symbol", o.symbol, "the instrument traded")->capture_default_str();
    app.add_option("--amount", o.amount, "units bought")->capture_default_str()->check(CLI::Range(1, 100000000));
    app.add_option("--live", o.liveSeconds, "seconds of each live part")->capture_default_str()->check(CLI::Range(0.0, 86400.0));
    app.add_option("--timeout", o.timeout, "seconds to wait for the server at each step")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 3600.0));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "pellora-demo: " << e.what() << " (pellora-demo --help)" << std::endl;
        return kExitUsage;
    }
    ConnectionSettings settings;
    std::string error;
    if (!resolveSettings(o.flags, [](const char* n) { return std::getenv(n); }, settings, error))
        return report(Failure{kExitUsage, error});
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    auto client = std::make_unique<Client>(settings, std::chrono::milliseconds(static_cast<long long>(o.timeout * 1000)),
                                           false);
    // The live tables calculate the trade's profit and loss and the account's equity.
    client->setTableManagerMode(ZelTableManagerMode::TableManagerAndReaders);
    Failure failure;
    std::cout << "pellora demo: logging in to " << settings.url << " as " << settings.user << std::endl;
    if (!client->login(failure)) {
        client.reset();
        return report(failure);
    }
    try {
        Story(*client, o).run();
    } catch (const StoryFailure& f) {
        // The session is logged out and let go before the reason is printed.
        client.reset();
        return report(f.failure);
    }
    client.reset();
    std::cout << "done" << std::endl;
    return 0;
}
