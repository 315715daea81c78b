// Buys at market with a stop and a limit attached, waits for the trade the order
// opens, and shows the trade with its stop and limit orders.
//   place_order [URL [SYMBOL]]   (PELLORA_URL, PELLORA_USER, PELLORA_PASSWORD, PELLORA_CONNECTION)
// Exits 0 when the trade is open with its stop and limit.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "example_session.h"

namespace {

// The whole table as the server has it now: a response with a reference, or null.
IZelResponse* fetchTable(example::Session& session, ZelTable table) {
    IZelRequestFactory* factory = session->getRequestFactory();  // null once the connection is gone
    if (!factory) return nullptr;
    IZelRequest* request = factory->createRefreshTableRequest(table);
    IZelResponse* response = session.call(request);
    if (request) request->release();
    factory->release();
    return response;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string symbol = argc > 2 ? argv[2] : "EUR/USD";
    example::Session session;
    if (!session.login(example::settingsFrom(argc, argv))) return 1;
    IZelResponseReaderFactory* readers = session->getResponseReaderFactory();
    if (!readers) return 1;

    // The offer of the symbol and the first account.
    std::string offerID, accountID;
    double bid = 0, ask = 0, point = 0;
    if (IZelResponse* response = fetchTable(session, ZelTable::Offers)) {
        IZelOffersTableResponseReader* offers = readers->createOffersTableReader(response);
        for (int i = 0; offers && i < offers->size(); ++i) {
            IZelOfferRow* row = offers->getRow(i);
            if (row && symbol == row->getInstrument()) {
                offerID = row->getOfferID();
                bid = row->getBid();
                ask = row->getAsk();
                point = row->getPointSize();
            }
            if (row) row->release();
        }
        if (offers) offers->release();
        response->release();
    }
    if (IZelResponse* response = fetchTable(session, ZelTable::Accounts)) {
        IZelAccountsTableResponseReader* accounts = readers->createAccountsTableReader(response);
        IZelAccountRow* row = accounts && accounts->size() > 0 ? accounts->getRow(0) : nullptr;
        if (row) accountID = row->getAccountID();
        if (row) row->release();
        if (accounts) accounts->release();
        response->release();
    }
    if (offerID.empty() || accountID.empty()) {
        std::fprintf(stderr, "no offer %s or no account\n", symbol.c_str());
        readers->release();
        return 1;
    }

    // A buy closes at the bid: the stop 50 points below it, the limit 50 above.
    const double stop = bid - 50 * point, limit = bid + 50 * point;
    IZelRequestFactory* factory = session->getRequestFactory();
    IZelValueMap* map = factory ? factory->createValueMap() : nullptr;
    if (!map) {
        std::fprintf(stderr, "the session takes no orders now\n");
        if (factory) factory->release();
        readers->release();
        return 1;
    }
    map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
    map->setString(ZelRequestParamsEnum::OrderType, "OM");
    map->setString(ZelRequestParamsEnum::AccountID, accountID.c_str());
    map->setString(ZelRequestParamsEnum::OfferID, offerID.c_str());
    map->setString(ZelRequestParamsEnum::BuySell, "B");
    map->setInt(ZelRequestParamsEnum::Amount, 10000);
    map->setDouble(ZelRequestParamsEnum::RateStop, stop);
    map->setDouble(ZelRequestParamsEnum::RateLimit, limit);
    IZelRequest* request = factory->createOrderRequest(map);
    if (!request) std::fprintf(stderr, "order refused by the SDK: %s\n", factory->getLastError());
    std::printf("buying 10000 %s at %.5f, stop %.5f, limit %.5f\n", symbol.c_str(), ask, stop, limit);
    IZelResponse* response = session.call(request);
    if (request) request->release();
    map->release();
    factory->release();

    std::string orderID;
    if (response) {
        IZelOrderResponseReader* order = readers->createOrderResponseReader(response);
        if (order && order->isSuccessful()) orderID = order->getOrderID();
        else if (order) std::fprintf(stderr, "the server refused the order: %s\n", order->getErrorDescription());
        if (order) order->release();
        response->release();
    }
    if (orderID.empty()) {
        readers->release();
        return 1;
    }
    std::printf("order %s accepted\n", orderID.c_str());

    // The order fills on its own time: look for its trade for up to 30 s.
    std::string tradeID;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (tradeID.empty() && std::chrono::steady_clock::now() < deadline) {
        if (IZelResponse* trades = fetchTable(session, ZelTable::Trades)) {
            IZelTradesTableResponseReader* reader = readers->createTradesTableReader(trades);
            for (int i = 0; reader && i < reader->size(); ++i) {
                IZelTradeRow* row = reader->getRow(i);
                if (row && orderID == row->getOpenOrderID()) {
                    tradeID = row->getTradeID();
                    std::printf("trade %s: %s %d at %.5f\n", tradeID.c_str(), row->getBuySell(), row->getAmount(),
                                row->getOpenRate());
                }
                if (row) row->release();
            }
            if (reader) reader->release();
            trades->release();
        }
        if (tradeID.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    // The stop and the limit wait on the trade as orders of their own.
    int attached = 0;
    if (!tradeID.empty()) {
        if (IZelResponse* orders = fetchTable(session, ZelTable::Orders)) {
            IZelOrdersTableResponseReader* reader = readers->createOrdersTableReader(orders);
            for (int i = 0; reader && i < reader->size(); ++i) {
                IZelOrderRow* row = reader->getRow(i);
                if (row && tradeID == row->getTradeID()) {
                    std::printf("order %s: %s at %.5f\n", row->getOrderID(), row->getType(), row->getRate());
                    const std::string type = row->getType();
                    attached += type == "S" || type == "L";
                }
                if (row) row->release();
            }
            if (reader) reader->release();
            orders->release();
        }
    }
    readers->release();
    if (tradeID.empty()) std::fprintf(stderr, "order %s opened no trade within 30 s\n", orderID.c_str());
    return !tradeID.empty() && attached == 2 ? 0 : 1;
}
