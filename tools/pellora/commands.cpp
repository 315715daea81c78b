#include "commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

#include "parse.h"

namespace pellora::cli {

bool fail(Context& cx, int code, std::string text) {
    cx.failure = {code, std::move(text)};
    return false;
}

namespace {

// The SDK gives no factories outside Connected: after the login, the connection was lost.
bool notConnected(Context& cx) {
    return fail(cx, kExitUsage, fmt::format("the connection to {} was lost", cx.client.settings().url));
}

template <class Reader>
using MakeReader = Reader* (IZelResponseReaderFactory::*)(IZelResponse*);

template <class Reader>
bool read(Context& cx, IZelRequest* request, MakeReader<Reader> make, Ref<Reader>& out,
          const std::function<void(double)>& waiting = nullptr) {
    Ref<IZelResponse> response;
    if (!cx.client.call(request, response, cx.failure, waiting)) return false;
    Ref<IZelResponseReaderFactory> readers = cx.client.readerFactory();
    if (!readers) return notConnected(cx);
    out = Ref<Reader>::adopt((readers.get()->*make)(response.get()));
    if (!out) return fail(cx, kExitUsage, "the server's answer could not be read");
    return true;
}

template <class Reader>
bool fetch(Context& cx, ZelTable table, MakeReader<Reader> make, Ref<Reader>& out, const char* account = nullptr) {
    Ref<IZelRequestFactory> factory = cx.client.requestFactory();
    if (!factory) return notConnected(cx);
    Ref<IZelRequest> request = Ref<IZelRequest>::adopt(
        account ? factory->createRefreshTableRequestByAccount(table, account) : factory->createRefreshTableRequest(table));
    if (!request) return fail(cx, kExitUsage, "this server does not serve that table");
    return read(cx, request.get(), make, out);
}

struct OfferInfo {
    std::string id, symbol;
    int digits = 5;
    double bid = 0, ask = 0, point = 0;
};

// Offers by ID, for the symbol and digits of rows that name only an offer ID.
bool offersByID(Context& cx, std::map<std::string, OfferInfo>& out) {
    Ref<IZelOffersTableResponseReader> offers;
    if (!fetch(cx, ZelTable::Offers, &IZelResponseReaderFactory::createOffersTableReader, offers)) return false;
    for (int i = 0; i < offers->size(); ++i) {
        Ref<IZelOfferRow> r = Ref<IZelOfferRow>::adopt(offers->getRow(i));
        if (!r) continue;
        out[r->getOfferID()] = OfferInfo{r->getOfferID(), r->getInstrument(), r->getDigits(), r->getBid(), r->getAsk(),
                                         r->getPointSize()};
    }
    return true;
}

bool findSymbol(Context& cx, const std::map<std::string, OfferInfo>& offers, const std::string& symbol,
                OfferInfo& out) {
    for (const auto& [id, o] : offers)
        if (o.symbol == symbol) {
            out = o;
            return true;
        }
    return fail(cx, kExitRefused, fmt::format("unknown symbol '{}'", symbol));
}

std::string symbolOf(const std::map<std::string, OfferInfo>& offers, const std::string& offerID) {
    auto it = offers.find(offerID);
    return it == offers.end() ? offerID : it->second.symbol;
}

int digitsOf(const std::map<std::string, OfferInfo>& offers, const std::string& offerID) {
    auto it = offers.find(offerID);
    return it == offers.end() ? 5 : it->second.digits;
}

bool accountIDs(Context& cx, std::vector<std::string>& out) {
    Ref<IZelAccountsTableResponseReader> accounts;
    if (!fetch(cx, ZelTable::Accounts, &IZelResponseReaderFactory::createAccountsTableReader, accounts)) return false;
    for (int i = 0; i < accounts->size(); ++i) {
        Ref<IZelAccountRow> r = Ref<IZelAccountRow>::adopt(accounts->getRow(i));
        if (r) out.push_back(r->getAccountID());
    }
    return true;
}

void addOfferRow(Table& t, IZelOfferRow* r) {
    const int d = r->getDigits();
    const double pip = r->getPointSize() > 0 ? r->getPointSize() : 0;
    t.addRow({Table::text(r->getInstrument()), Table::number(r->getBid(), d), Table::number(r->getAsk(), d),
              pip > 0 ? Table::number((r->getAsk() - r->getBid()) / pip, 1) : Cell{"", true},
              Table::number(r->getHigh(), d), Table::number(r->getLow(), d), Table::text(formatDate(r->getTime())),
              Table::text(r->getOfferID())});
}

const std::vector<std::string> kOfferColumns = {"symbol", "bid", "ask", "spread", "high", "low", "time", "offer"};

// Sends a filled value map as an order; prints the order created.
bool sendOrder(Context& cx, IZelRequestFactory* factory, IZelValueMap* map, const char* what) {
    Ref<IZelRequest> request = Ref<IZelRequest>::adopt(factory->createOrderRequest(map));
    if (!request) return fail(cx, kExitUsage, fmt::format("{}: {}", what, factory->getLastError()));
    Ref<IZelResponse> response;
    if (!cx.client.call(request.get(), response, cx.failure)) return false;
    Ref<IZelResponseReaderFactory> readers = cx.client.readerFactory();
    if (!readers) return notConnected(cx);
    if (response->getType() == ZelResponseType::OrderResponse) {
        Ref<IZelOrderResponseReader> r =
            Ref<IZelOrderResponseReader>::adopt(readers->createOrderResponseReader(response.get()));
        if (r && !r->isSuccessful()) return fail(cx, kExitRefused, r->getErrorDescription());
        const std::string id = r ? r->getOrderID() : "";
        if (cx.format == OutputFormat::Json)
            cx.out << jsonLine({{"order", Table::text(id)}, {"request", Table::text(request->getRequestID())}}) << "\n";
        else
            cx.out << fmt::format("{}: order {}\n", what, id);
        return true;
    }
    Ref<IZelCommandResponseReader> r =
        Ref<IZelCommandResponseReader>::adopt(readers->createCommandResponseReader(response.get()));
    if (r && !r->isSuccessful()) return fail(cx, kExitRefused, r->getErrorDescription());
    if (cx.format == OutputFormat::Json)
        cx.out << jsonLine({{"done", Table::text(what)}, {"request", Table::text(request->getRequestID())}}) << "\n";
    else
        cx.out << fmt::format("{}: done\n", what);
    return true;
}

// The account of an order, found among the orders of every account.
bool findOrder(Context& cx, const std::string& orderID, std::string& account) {
    std::vector<std::string> accounts;
    if (!accountIDs(cx, accounts)) return false;
    for (const auto& a : accounts) {
        Ref<IZelOrdersTableResponseReader> orders;
        if (!fetch(cx, ZelTable::Orders, &IZelResponseReaderFactory::createOrdersTableReader, orders, a.c_str()))
            return false;
        for (int i = 0; i < orders->size(); ++i) {
            Ref<IZelOrderRow> r = Ref<IZelOrderRow>::adopt(orders->getRow(i));
            if (r && orderID == r->getOrderID()) {
                account = r->getAccountID();
                return true;
            }
        }
    }
    return fail(cx, kExitRefused, fmt::format("no waiting order '{}'", orderID));
}

}  // namespace

bool checkOrder(OrderOptions& o, std::string& error) {
    if (!parseAmount(o.amount, o.amountValue, error)) return false;
    if (o.rate && !parseRate(*o.rate, o.rateValue, error)) return false;
    if (o.stop && !parseRate(*o.stop, o.stopValue, error)) return false;
    if (o.limit && !parseRate(*o.limit, o.limitValue, error)) return false;
    if (o.trailing && !o.stop) {
        error = "--trailing needs --stop";
        return false;
    }
    if (o.trailing && !parseTrailStep(*o.trailing, o.trailValue, error)) return false;
    return true;
}

bool checkClose(CloseOptions& o, std::string& error) {
    return !o.amount || parseAmount(*o.amount, o.amountValue, error);
}

bool checkEdit(EditOptions& o, std::string& error) {
    if (!o.rate && !o.amount) {
        error = "edit needs --rate or --amount";
        return false;
    }
    if (o.rate && !parseRate(*o.rate, o.rateValue, error)) return false;
    return !o.amount || parseAmount(*o.amount, o.amountValue, error);
}

bool checkHistory(HistoryOptions& o, std::string& error) {
    if (!isKnownTimeframe(o.timeframe)) {
        error = fmt::format("timeframe '{}' is not one of {}", o.timeframe, knownTimeframes());
        return false;
    }
    if (o.from && !parseDate(*o.from, o.fromValue, error)) return false;
    if (o.to && !parseDate(*o.to, o.toValue, error)) return false;
    if (o.fromValue != 0 && o.toValue != 0 && o.toValue < o.fromValue) {
        error = "--to is before --from";
        return false;
    }
    if (o.maxBars < 1 || o.maxBars > 100000) {
        error = "--max must be from 1 to 100000";
        return false;
    }
    return true;
}

bool checkReport(ReportOptions& o, std::string& error) {
    if (o.from && !parseDate(*o.from, o.fromValue, error)) return false;
    return !o.to || parseDate(*o.to, o.toValue, error);
}

bool runStatus(Context& cx) {
    const ConnectionSettings& s = cx.client.settings();
    // The server's time comes with its pushed updates: give the first one a moment.
    for (int i = 0; i < 10 && cx.client.session()->getServerTime() == 0; ++i)
        if (!cx.client.waitFor(std::chrono::milliseconds(100), cx.failure)) return false;
    const std::string time = formatDate(cx.client.session()->getServerTime());
    if (cx.format == OutputFormat::Json) {
        cx.out << jsonLine({{"status", Table::text("Connected")},
                            {"url", Table::text(s.url)},
                            {"user", Table::text(s.user)},
                            {"connection", Table::text(s.connection)},
                            {"serverTime", Table::text(time)},
                            {"api", Table::text(sz_pellora_api_version)}})
               << "\n";
    } else {
        cx.out << fmt::format("Connected to {} as {} (connection {}); server time {}; API {}\n", s.url, s.user,
                              s.connection, time.empty() ? "not yet known" : time, sz_pellora_api_version);
    }
    return true;
}

bool runOffers(Context& cx, const OffersOptions& o) {
    Ref<IZelOffersTableResponseReader> offers;
    if (!fetch(cx, ZelTable::Offers, &IZelResponseReaderFactory::createOffersTableReader, offers)) return false;
    Table t(kOfferColumns);
    std::map<std::string, Ref<IZelOfferRow>> rows;  // by offer ID, in the watch
    std::vector<std::string> order;
    for (int i = 0; i < offers->size(); ++i) {
        Ref<IZelOfferRow> r = Ref<IZelOfferRow>::adopt(offers->getRow(i));
        if (!r || (!o.symbol.empty() && o.symbol != r->getInstrument())) continue;
        addOfferRow(t, r.get());
        order.push_back(r->getOfferID());
        rows[r->getOfferID()] = r;
    }
    if (!o.symbol.empty() && rows.empty()) return fail(cx, kExitRefused, fmt::format("unknown symbol '{}'", o.symbol));
    const bool terminal = cx.format == OutputFormat::Table && ::isatty(STDOUT_FILENO);
    if (!o.watch) {
        t.print(cx.out, cx.format);
        return true;
    }

    // Pushed prices: on a terminal the table is redrawn in place; piped, each
    // changed offer is one more row (or JSON object). The handler is in place
    // before the first table is shown, so that no price pushed after a reader has
    // seen that table is missed.
    std::mutex mutex;
    std::vector<Ref<IZelOfferRow>> changed;
    Ref<IZelResponseReaderFactory> readers = cx.client.readerFactory();
    if (!readers) return notConnected(cx);
    cx.client.onUpdates([&](IZelResponse* response) {
        Ref<IZelTablesUpdatesReader> u = Ref<IZelTablesUpdatesReader>::adopt(readers->createTablesUpdatesReader(response));
        if (!u) return;
        std::lock_guard<std::mutex> lock(mutex);
        for (int i = 0; i < u->size(); ++i)
            if (u->getUpdateTable(i) == ZelTable::Offers)
                if (IZelOfferRow* r = u->getOfferRow(i)) changed.push_back(Ref<IZelOfferRow>::adopt(r));
    });
    if (terminal) cx.out << "\x1b[H\x1b[2J";
    t.print(cx.out, cx.format);
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(o.seconds ? static_cast<long long>(*o.seconds * 1000) : 1LL << 40);
    bool ok = true;
    while (ok && !g_interrupted && std::chrono::steady_clock::now() < end) {
        ok = cx.client.waitFor(std::chrono::milliseconds(250), cx.failure);
        std::vector<Ref<IZelOfferRow>> batch;
        {
            std::lock_guard<std::mutex> lock(mutex);
            batch.swap(changed);
        }
        if (batch.empty()) continue;
        Table lines(kOfferColumns);
        for (auto& r : batch) {
            if (!rows.count(r->getOfferID())) continue;
            if (terminal) rows[r->getOfferID()] = r;
            else addOfferRow(lines, r.get());
        }
        if (terminal) {
            Table all(kOfferColumns);
            for (const auto& id : order) addOfferRow(all, rows[id].get());
            cx.out << "\x1b[H";
            all.print(cx.out, cx.format);
        } else if (lines.size()) {
            // Piped: the rows alone, without the header again.
            if (cx.format == OutputFormat::Json) {
                lines.print(cx.out, cx.format);
            } else {
                std::ostringstream s;
                lines.print(s, cx.format);
                const std::string text = s.str();
                cx.out << text.substr(text.find('\n') + 1) << std::flush;
            }
        }
    }
    cx.client.onUpdates(nullptr);
    return ok;
}

bool runAccounts(Context& cx) {
    Ref<IZelAccountsTableResponseReader> accounts;
    if (!fetch(cx, ZelTable::Accounts, &IZelResponseReaderFactory::createAccountsTableReader, accounts)) return false;
    Table t({"account", "name", "balance", "m2m_equity", "used_margin", "margin_call", "hedging", "base_unit"});
    for (int i = 0; i < accounts->size(); ++i) {
        Ref<IZelAccountRow> r = Ref<IZelAccountRow>::adopt(accounts->getRow(i));
        if (!r) continue;
        t.addRow({Table::text(r->getAccountID()), Table::text(r->getAccountName()), Table::number(r->getBalance(), 2),
                  Table::number(r->getM2MEquity(), 2), Table::number(r->getUsedMargin(), 2),
                  Table::text(r->getMarginCallFlag()), Table::text(r->getMaintenanceType()),
                  Table::integer(r->getBaseUnitSize())});
    }
    t.print(cx.out, cx.format);
    return true;
}

bool runTrades(Context& cx) {
    std::map<std::string, OfferInfo> offers;
    if (!offersByID(cx, offers)) return false;
    Ref<IZelTradesTableResponseReader> trades;
    if (!fetch(cx, ZelTable::Trades, &IZelResponseReaderFactory::createTradesTableReader, trades)) return false;
    Table t({"trade", "account", "symbol", "side", "amount", "open", "close", "pl_pips", "opened", "used_margin"});
    for (int i = 0; i < trades->size(); ++i) {
        Ref<IZelTradeRow> r = Ref<IZelTradeRow>::adopt(trades->getRow(i));
        if (!r) continue;
        const int d = digitsOf(offers, r->getOfferID());
        // Without the table manager the reader row has no calculated profit: it is
        // worked out here from the current price of its offer, in pips.
        double close = 0, pips = 0;
        if (auto it = offers.find(r->getOfferID()); it != offers.end()) {
            const bool buy = std::string(r->getBuySell()) == "B";
            close = buy ? it->second.bid : it->second.ask;
            const double point = it->second.point > 0 ? it->second.point : 1;
            pips = (buy ? close - r->getOpenRate() : r->getOpenRate() - close) / point;
        }
        t.addRow({Table::text(r->getTradeID()), Table::text(r->getAccountID()),
                  Table::text(symbolOf(offers, r->getOfferID())), Table::text(r->getBuySell()),
                  Table::integer(r->getAmount()), Table::number(r->getOpenRate(), d), Table::number(close, d),
                  Table::number(pips, 1), Table::text(formatDate(r->getOpenTime())),
                  Table::integer(r->getUsedMargin())});
    }
    t.print(cx.out, cx.format);
    return true;
}

bool runOrders(Context& cx) {
    std::map<std::string, OfferInfo> offers;
    if (!offersByID(cx, offers)) return false;
    std::vector<std::string> accounts;
    if (!accountIDs(cx, accounts)) return false;
    Table t({"order", "account", "symbol", "side", "type", "amount", "rate", "trade", "status", "trail"});
    for (const auto& a : accounts) {
        Ref<IZelOrdersTableResponseReader> orders;
        if (!fetch(cx, ZelTable::Orders, &IZelResponseReaderFactory::createOrdersTableReader, orders, a.c_str()))
            return false;
        for (int i = 0; i < orders->size(); ++i) {
            Ref<IZelOrderRow> r = Ref<IZelOrderRow>::adopt(orders->getRow(i));
            if (!r) continue;
            t.addRow({Table::text(r->getOrderID()), Table::text(r->getAccountID()),
                      Table::text(symbolOf(offers, r->getOfferID())), Table::text(r->getBuySell()),
                      Table::text(r->getType()), Table::integer(r->getAmount()),
                      Table::number(r->getRate(), digitsOf(offers, r->getOfferID())), Table::text(r->getTradeID()),
                      Table::text(r->getStatus()), Table::integer(r->getTrailStep())});
        }
    }
    t.print(cx.out, cx.format);
    return true;
}

bool runClosed(Context& cx) {
    std::map<std::string, OfferInfo> offers;
    if (!offersByID(cx, offers)) return false;
    Ref<IZelClosedTradesTableResponseReader> closed;
    if (!fetch(cx, ZelTable::ClosedTrades, &IZelResponseReaderFactory::createClosedTradesTableReader, closed))
        return false;
    Table t({"trade", "account", "symbol", "side", "amount", "open", "close", "gross_pl", "commission", "closed"});
    for (int i = 0; i < closed->size(); ++i) {
        Ref<IZelClosedTradeRow> r = Ref<IZelClosedTradeRow>::adopt(closed->getRow(i));
        if (!r) continue;
        const int d = digitsOf(offers, r->getOfferID());
        t.addRow({Table::text(r->getTradeID()), Table::text(r->getAccountID()),
                  Table::text(symbolOf(offers, r->getOfferID())), Table::text(r->getBuySell()),
                  Table::integer(r->getAmount()), Table::number(r->getOpenRate(), d),
                  Table::number(r->getCloseRate(), d), Table::number(r->getGrossPL(), 2),
                  Table::number(r->getCommission(), 2), Table::text(formatDate(r->getCloseTime()))});
    }
    t.print(cx.out, cx.format);
    return true;
}

bool runMessages(Context& cx) {
    Ref<IZelMessagesTableResponseReader> messages;
    if (!fetch(cx, ZelTable::Messages, &IZelResponseReaderFactory::createMessagesTableReader, messages)) return false;
    Table t({"message", "time", "from", "subject", "text"});
    for (int i = 0; i < messages->size(); ++i) {
        Ref<IZelMessageRow> r = Ref<IZelMessageRow>::adopt(messages->getRow(i));
        if (!r) continue;
        std::string text = r->getText();
        std::replace(text.begin(), text.end(), '\n', ' ');
        t.addRow({Table::text(r->getMsgID()), Table::text(formatDate(r->getTime())), Table::text(r->getFrom()),
                  Table::text(r->getSubject()), Table::text(text)});
    }
    t.print(cx.out, cx.format);
    return true;
}

bool runOrder(Context& cx, const OrderOptions& o) {
    std::map<std::string, OfferInfo> offers;
    if (!offersByID(cx, offers)) return false;
    OfferInfo offer;
    if (!findSymbol(cx, offers, o.symbol, offer)) return false;
    std::string account;
    if (o.account) {
        account = *o.account;
    } else {
        std::vector<std::string> accounts;
        if (!accountIDs(cx, accounts)) return false;
        if (accounts.empty()) return fail(cx, kExitRefused, "the login has no account");
        account = accounts.front();
    }
    Ref<IZelRequestFactory> factory = cx.client.requestFactory();
    if (!factory) return notConnected(cx);
    Ref<IZelValueMap> map = Ref<IZelValueMap>::adopt(factory->createValueMap());
    if (!map) return fail(cx, kExitUsage, "this server takes no orders");
    const char* type = "OM";
    if (o.rate) {
        // A buy above the market waits for the price to rise to it (a stop entry);
        // below it, for the price to fall (a limit entry). The reverse for a sell.
        const bool above = o.rateValue > (o.buy ? offer.ask : offer.bid);
        type = (o.buy == above) ? "SE" : "LE";
    }
    map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
    map->setString(ZelRequestParamsEnum::OrderType, type);
    map->setString(ZelRequestParamsEnum::AccountID, account.c_str());
    map->setString(ZelRequestParamsEnum::OfferID, offer.id.c_str());
    map->setString(ZelRequestParamsEnum::BuySell, o.buy ? "B" : "S");
    map->setInt(ZelRequestParamsEnum::Amount, o.amountValue);
    if (o.rate) map->setDouble(ZelRequestParamsEnum::Rate, o.rateValue);
    if (o.stop) map->setDouble(ZelRequestParamsEnum::RateStop, o.stopValue);
    if (o.limit) map->setDouble(ZelRequestParamsEnum::RateLimit, o.limitValue);
    if (o.trailing) map->setInt(ZelRequestParamsEnum::TrailStepStop, o.trailValue);
    return sendOrder(cx, factory.get(), map.get(), o.buy ? "buy" : "sell");
}

bool runClose(Context& cx, const CloseOptions& o) {
    Ref<IZelTradesTableResponseReader> trades;
    if (!fetch(cx, ZelTable::Trades, &IZelResponseReaderFactory::createTradesTableReader, trades)) return false;
    Ref<IZelTradeRow> trade;
    for (int i = 0; i < trades->size() && !trade; ++i) {
        Ref<IZelTradeRow> r = Ref<IZelTradeRow>::adopt(trades->getRow(i));
        if (r && o.tradeID == r->getTradeID()) trade = r;
    }
    if (!trade) return fail(cx, kExitRefused, fmt::format("no open trade '{}'", o.tradeID));
    Ref<IZelRequestFactory> factory = cx.client.requestFactory();
    if (!factory) return notConnected(cx);
    Ref<IZelValueMap> map = Ref<IZelValueMap>::adopt(factory->createValueMap());
    if (!map) return fail(cx, kExitUsage, "this server takes no orders");
    map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
    map->setString(ZelRequestParamsEnum::OrderType, "CM");
    map->setString(ZelRequestParamsEnum::TradeID, trade->getTradeID());
    map->setString(ZelRequestParamsEnum::AccountID, trade->getAccountID());
    map->setString(ZelRequestParamsEnum::OfferID, trade->getOfferID());
    map->setString(ZelRequestParamsEnum::BuySell, std::string(trade->getBuySell()) == "B" ? "S" : "B");
    map->setInt(ZelRequestParamsEnum::Amount, o.amount ? o.amountValue : trade->getAmount());
    return sendOrder(cx, factory.get(), map.get(), "close");
}

bool runEdit(Context& cx, const EditOptions& o) {
    std::string account;
    if (!findOrder(cx, o.orderID, account)) return false;
    Ref<IZelRequestFactory> factory = cx.client.requestFactory();
    if (!factory) return notConnected(cx);
    Ref<IZelValueMap> map = Ref<IZelValueMap>::adopt(factory->createValueMap());
    if (!map) return fail(cx, kExitUsage, "this server takes no orders");
    map->setString(ZelRequestParamsEnum::Command, "EditOrder");
    map->setString(ZelRequestParamsEnum::OrderID, o.orderID.c_str());
    map->setString(ZelRequestParamsEnum::AccountID, account.c_str());
    if (o.rate) map->setDouble(ZelRequestParamsEnum::Rate, o.rateValue);
    if (o.amount) map->setInt(ZelRequestParamsEnum::Amount, o.amountValue);
    return sendOrder(cx, factory.get(), map.get(), "edit");
}

bool runCancel(Context& cx, const std::string& orderID) {
    std::string account;
    if (!findOrder(cx, orderID, account)) return false;
    Ref<IZelRequestFactory> factory = cx.client.requestFactory();
    if (!factory) return notConnected(cx);
    Ref<IZelValueMap> map = Ref<IZelValueMap>::adopt(factory->createValueMap());
    if (!map) return fail(cx, kExitUsage, "this server takes no orders");
    map->setString(ZelRequestParamsEnum::Command, "DeleteOrder");
    map->setString(ZelRequestParamsEnum::OrderID, orderID.c_str());
    map->setString(ZelRequestParamsEnum::AccountID, account.c_str());
    return sendOrder(cx, factory.get(), map.get(), "cancel");
}

bool runHistory(Context& cx, const HistoryOptions& o) {
    Ref<IZelRequestFactory> factory = cx.client.requestFactory();
    if (!factory) return notConnected(cx);
    Ref<IZelTimeframeCollection> frames = Ref<IZelTimeframeCollection>::adopt(factory->getTimeFrameCollection());
    Ref<IZelTimeframe> frame = frames ? Ref<IZelTimeframe>::adopt(frames->get(o.timeframe.c_str())) : Ref<IZelTimeframe>();
    if (!frame) return fail(cx, kExitUsage, fmt::format("this server has no timeframe '{}'", o.timeframe));
    Ref<IZelRequest> request = Ref<IZelRequest>::adopt(
        factory->createMarketDataSnapshotRequestInstrument(o.symbol.c_str(), frame.get(), o.maxBars));
    if (!request) return fail(cx, kExitUsage, "this server offers no price history");
    factory->fillMarketDataSnapshotRequestTime(request.get(), o.fromValue, o.toValue, false);
    // On a terminal a download that takes more than a moment shows a bar that
    // fills towards the timeout (on stderr, so the bars on stdout stay clean).
    const bool terminal = ::isatty(STDERR_FILENO);
    bool shown = false;
    const double limit = cx.client.timeoutSeconds();
    auto progress = [&](double seconds) {
        if (!terminal || seconds < 0.5) return;
        const int width = 30;
        const int filled = std::min(width, static_cast<int>(width * seconds / limit));
        std::cerr << fmt::format("\rfetching {} {} [{:<{}}] {:.1f} s", o.symbol, o.timeframe,
                                 std::string(static_cast<size_t>(filled), '#'), width, seconds)
                  << std::flush;
        shown = true;
    };
    Ref<IZelMarketDataSnapshotResponseReader> bars;
    const bool ok =
        read(cx, request.get(), &IZelResponseReaderFactory::createMarketDataSnapshotReader, bars, progress);
    if (shown) std::cerr << "\r\x1b[2K" << std::flush;
    if (!ok) return false;
    Table t({"time", "bid_open", "bid_high", "bid_low", "bid_close", "ask_open", "ask_high", "ask_low", "ask_close",
             "volume"});
    for (int i = 0; i < bars->size(); ++i)
        t.addRow({Table::text(formatDate(bars->getDate(i))), Table::number(bars->getBidOpen(i), 5),
                  Table::number(bars->getBidHigh(i), 5), Table::number(bars->getBidLow(i), 5),
                  Table::number(bars->getBidClose(i), 5), Table::number(bars->getAskOpen(i), 5),
                  Table::number(bars->getAskHigh(i), 5), Table::number(bars->getAskLow(i), 5),
                  Table::number(bars->getAskClose(i), 5), Table::integer(bars->getVolume(i))});
    t.print(cx.out, o.csv ? OutputFormat::Csv : cx.format);
    return true;
}

bool fetchAccounts(Context& cx, Ref<IZelAccountsTableResponseReader>& out) {
    return fetch(cx, ZelTable::Accounts, &IZelResponseReaderFactory::createAccountsTableReader, out);
}

bool instrumentSymbols(Context& cx, std::vector<std::string>& out) {
    Ref<IZelOffersTableResponseReader> offers;
    if (!fetch(cx, ZelTable::Offers, &IZelResponseReaderFactory::createOffersTableReader, offers)) return false;
    for (int i = 0; i < offers->size(); ++i) {
        Ref<IZelOfferRow> r = Ref<IZelOfferRow>::adopt(offers->getRow(i));
        if (r) out.push_back(r->getInstrument());
    }
    return true;
}

bool runReport(Context& cx, const ReportOptions& o) {
    Ref<IZelAccountsTableResponseReader> accounts;
    if (!fetch(cx, ZelTable::Accounts, &IZelResponseReaderFactory::createAccountsTableReader, accounts)) return false;
    Ref<IZelAccountRow> account;
    for (int i = 0; i < accounts->size() && !account; ++i) {
        Ref<IZelAccountRow> r = Ref<IZelAccountRow>::adopt(accounts->getRow(i));
        if (r && (!o.account || *o.account == r->getAccountID())) account = r;
    }
    if (!account) return fail(cx, kExitRefused, o.account ? fmt::format("no account '{}'", *o.account) : "the login has no account");
    IZelSession* s = cx.client.session();
    const int needed = s->getReportURL(nullptr, 0, account.get(), o.fromValue, o.toValue, o.format.c_str(), nullptr,
                                       nullptr, 0);
    if (needed == -1) return fail(cx, kExitRefused, "reports are not allowed for this login");
    if (needed <= 0) return notConnected(cx);
    std::string url(static_cast<size_t>(needed) + 1, '\0');
    const int n = s->getReportURL(url.data(), static_cast<int>(url.size()), account.get(), o.fromValue, o.toValue,
                                  o.format.c_str(), nullptr, nullptr, 0);
    if (n < 0) return fail(cx, kExitUsage, "the report address could not be made");
    url.resize(static_cast<size_t>(n));
    if (cx.format == OutputFormat::Json)
        cx.out << jsonLine({{"account", Table::text(account->getAccountID())}, {"url", Table::text(url)}}) << "\n";
    else
        cx.out << url << "\n";
    return true;
}

}  // namespace pellora::cli
