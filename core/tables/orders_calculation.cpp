// Orders: the stop and limit rates they give their trade and their entry order
// (found through the orders-by-trade and orders-by-request indexes), and the rate of
// a trailing stop, which follows the market in whole pips.

#include <cmath>
#include <cstdlib>
#include <string>

#include "core/tables/table_calculations.h"

namespace zel {

namespace {

bool isWorking(const Order& o) { return cellValue(o.WorkingIndicator) && o.Status.c_str()[0] == 'W'; }
bool isEntry(const Order& o) { return o.Type.size() > 1 && o.Type.c_str()[1] == 'E'; }
char kindOf(const Order& o) { return o.Type.c_str()[0]; }

} // namespace

void TableCalculations::indexOrder(OrderRow& order)
{
    const Order& o = order.record();
    // Only what a calculation looks for: trailing orders by offer, every order by
    // trade, entry orders and the orders waiting for them by request.
    if (cellValue(o.TrailStep) > 0)
        m_indexes.offer(o.OfferID.c_str()).orders.emplace_back(&order);
    if (!o.TradeID.empty())
        m_indexes.ordersByTrade(o.TradeID.c_str()).emplace_back(&order);
    if (!o.RequestID.empty() && (isEntry(o) || !cellValue(o.WorkingIndicator)))
        m_indexes.ordersByRequest(o.RequestID.c_str()).emplace_back(&order);
}

void TableCalculations::unindexOrder(OrderRow& order)
{
    const Order& o = order.record();
    if (OfferEntry* entry = m_indexes.findOffer(o.OfferID.c_str()))
        eraseRow(entry->orders, &order);
    if (auto* byTrade = m_indexes.findOrdersByTrade(o.TradeID.c_str())) {
        eraseRow(*byTrade, &order);
        if (byTrade->empty())
            m_indexes.dropOrdersByTrade(o.TradeID.c_str());
    }
    if (auto* byRequest = m_indexes.findOrdersByRequest(o.RequestID.c_str())) {
        eraseRow(*byRequest, &order);
        if (byRequest->empty())
            m_indexes.dropOrdersByRequest(o.RequestID.c_str());
    }
    m_indexes.trailDistances().erase(&order);
    m_indexes.copiedTrails().erase(&order);
}

// The trade of tradeID and the entry orders of requestID take their stop and limit
// again; those whose rates moved tell their listeners.
void TableCalculations::refreshOrdersOf(const char* tradeID, const char* requestID, const OrderRow* except)
{
    if (tradeID != nullptr && *tradeID != '\0') {
        if (RefPtr<TradeRow> trade = m_trades.find(tradeID)) {
            if (initializeTradesFields(*trade))
                m_trades.fireRowChanged(trade.get());
        }
    }
    if (requestID != nullptr && *requestID != '\0') {
        if (auto* byRequest = m_indexes.findOrdersByRequest(requestID)) {
            const std::vector<RefPtr<OrderRow>> orders = *byRequest;
            for (const RefPtr<OrderRow>& entry : orders) {
                if (entry.get() != except && initializeEntryOrderFields(*entry))
                    m_orders.fireRowChanged(entry.get());
            }
        }
    }
}

void TableCalculations::rowAdded(OrderRow* order)
{
    indexOrder(*order);
    initializeEntryOrderFields(*order);
    calculateOrdersFields(*order, false);
    refreshOrdersOf(order->record().TradeID.c_str(), order->record().RequestID.c_str(), order);
}

void TableCalculations::rowChanged(OrderRow* order, OrderRow* old)
{
    const std::string oldTrade = old->record().TradeID.str();
    const std::string oldRequest = old->record().RequestID.str();
    const auto trail = m_indexes.trailDistances().find(old);
    const bool hadTrail = trail != m_indexes.trailDistances().end();
    const int distance = hadTrail ? trail->second : 0;
    unindexOrder(*old);
    indexOrder(*order);
    if (hadTrail)
        m_indexes.trailDistances()[order] = distance;
    initializeEntryOrderFields(*order);
    calculateOrdersFields(*order, false);
    refreshOrdersOf(order->record().TradeID.c_str(), order->record().RequestID.c_str(), order);
    if (oldTrade != order->record().TradeID.c_str() || oldRequest != order->record().RequestID.c_str())
        refreshOrdersOf(oldTrade.c_str(), oldRequest.c_str(), order);
}

void TableCalculations::rowDeleted(OrderRow* order)
{
    unindexOrder(*order);
    // A cancelled stop or limit leaves its trade and entry order.
    refreshOrdersOf(order->record().TradeID.c_str(), order->record().RequestID.c_str(), order);
}

bool TableCalculations::initializeTradesFields(TradeRow& trade)
{
    Trade& t = trade.record();
    bool haveStop = false;
    bool haveLimit = false;
    double stop = 0;
    double limit = 0;
    if (auto* orders = m_indexes.findOrdersByTrade(t.TradeID.c_str())) {
        for (const RefPtr<OrderRow>& order : *orders) {
            const Order& o = order->record();
            if (!isWorking(o) || isEntry(o))
                continue;
            if (kindOf(o) == 'S' && !haveStop) {
                stop = cellValue(o.Rate);
                haveStop = true;
            } else if (kindOf(o) == 'L' && !haveLimit) {
                limit = cellValue(o.Rate);
                haveLimit = true;
            }
        }
    }
    const double oldStop = cellValue(t.Stop);
    const double oldLimit = cellValue(t.Limit);
    const bool wasStop = trade.isCalculated(TradeColumns::Stop);
    const bool wasLimit = trade.isCalculated(TradeColumns::Limit);
    storeCalculated(trade, t.Stop, TradeColumns::Stop, stop, haveStop);
    storeCalculated(trade, t.Limit, TradeColumns::Limit, limit, haveLimit);
    return oldStop != cellValue(t.Stop) || oldLimit != cellValue(t.Limit) || wasStop != haveStop ||
           wasLimit != haveLimit;
}

bool TableCalculations::initializeEntryOrderFields(OrderRow& order)
{
    Order& o = order.record();
    bool haveStop = false;
    bool haveLimit = false;
    double stop = 0;
    double limit = 0;
    int trailStep = 0;
    double trailRate = 0;
    if (isEntry(o) && isWorking(o)) {
        if (auto* orders = m_indexes.findOrdersByRequest(o.RequestID.c_str())) {
            for (const RefPtr<OrderRow>& other : *orders) {
                const Order& w = other->record();
                // Stop and limit orders waiting for this entry order to fill.
                if (other.get() == &order || cellValue(w.WorkingIndicator))
                    continue;
                if (kindOf(w) == 'S' && !haveStop) {
                    stop = cellValue(w.Rate);
                    trailStep = cellValue(w.TrailStep);
                    trailRate = cellValue(w.TrailRate);
                    haveStop = true;
                } else if (kindOf(w) == 'L' && !haveLimit) {
                    limit = cellValue(w.Rate);
                    haveLimit = true;
                }
            }
        }
    }
    const double oldStop = cellValue(o.Stop);
    const double oldLimit = cellValue(o.Limit);
    const bool wasStop = order.isCalculated(OrderColumns::Stop);
    const bool wasLimit = order.isCalculated(OrderColumns::Limit);
    storeCalculated(order, o.Stop, OrderColumns::Stop, stop, haveStop);
    storeCalculated(order, o.Limit, OrderColumns::Limit, limit, haveLimit);
    const bool trailMoved = copyStopTrail(order, haveStop, trailStep, trailRate);
    return oldStop != cellValue(o.Stop) || oldLimit != cellValue(o.Limit) || wasStop != haveStop ||
           wasLimit != haveLimit || trailMoved;
}

// An entry order shows the trailing of the stop waiting for it, but only in place of
// trailing of its own: an entry order's own trail step and rate are never
// overwritten, and a shown stop trail never makes the entry order's rate trail.
// When the stop leaves, the entry order's own (empty) trail comes back.
bool TableCalculations::copyStopTrail(OrderRow& order, bool show, int trailStep, double trailRate)
{
    Order& o = order.record();
    auto& copied = m_indexes.copiedTrails();
    if (!show && copied.empty())
        return false;
    auto it = copied.find(&order);
    const bool showing = it != copied.end();
    if (!showing && cellValue(o.TrailStep) != 0)
        return false;  // trailing of its own
    if (!show && !showing)
        return false;
    if (!showing)
        it = copied.emplace(&order, cellValue(o.TrailRate)).first;
    const int step = show ? trailStep : 0;
    const double rate = show ? trailRate : it->second;
    if (!show)
        copied.erase(it);
    const bool stepMoved = cellValue(o.TrailStep) != step;
    const bool rateMoved = !(cellValue(o.TrailRate) == rate);
    storeCellValue(o.TrailStep, step);
    storeCellValue(o.TrailRate, rate);
    if (stepMoved)
        order.setCellChanged(OrderColumns::TrailStep, true);
    if (rateMoved)
        order.setCellChanged(OrderColumns::TrailRate, true);
    return stepMoved || rateMoved;
}

// A trailing stop keeps the whole-pip distance it had from the market when it
// arrived; when the market has moved in the trade's favour by at least the trail step,
// the rate follows by the whole pips the market moved. It never moves back.
bool TableCalculations::calculateOrdersFields(OrderRow& order, bool fire)
{
    Order& o = order.record();
    const int step = cellValue(o.TrailStep);
    if (step <= 0 || !isWorking(o) || kindOf(o) != 'S')
        return false;
    // The trail step of the entry order's stop, shown on the entry order.
    if (!m_indexes.copiedTrails().empty() && m_indexes.copiedTrails().count(&order) != 0)
        return false;
    double bid = 0;
    double ask = 0;
    double pointSize = 0;
    if (!m_offers.visit(o.OfferID.c_str(), [&](OfferRow* offer) {
            bid = cellValue(offer->record().Bid);
            ask = cellValue(offer->record().Ask);
            pointSize = cellValue(offer->record().PointSize);
        }))
        return false;
    if (!(pointSize > 0) || !std::isfinite(bid) || !std::isfinite(ask) || bid <= 0 || ask <= 0)
        return false;
    const bool buy = o.BuySell.c_str()[0] == 'B';
    const double market = buy ? ask : bid;
    const double rate = cellValue(o.Rate);
    auto& distances = m_indexes.trailDistances();
    auto known = distances.find(&order);
    if (known == distances.end()) {
        const int n = static_cast<int>(std::floor(std::fabs(market - rate) / pointSize + 0.5));
        distances.emplace(&order, n);
        return false;
    }
    const double keep = known->second * pointSize;
    // A sell stop sits below the market and rises with it; a buy stop falls.
    const double candidate = buy ? market + keep : market - keep;
    const double pips = std::floor((buy ? rate - candidate : candidate - rate) / pointSize + 1e-6);
    if (pips < step)
        return false;
    const double moved = buy ? rate - pips * pointSize : rate + pips * pointSize;
    storeCellValue(o.Rate, moved);
    order.setCellChanged(OrderColumns::Rate, true);
    if (!isEntry(o)) {
        if (RefPtr<TradeRow> trade = m_trades.find(o.TradeID.c_str())) {
            if (initializeTradesFields(*trade))
                m_trades.fireRowChanged(trade.get());
        }
    }
    if (fire)
        m_orders.fireRowChanged(&order);
    return true;
}

} // namespace zel
