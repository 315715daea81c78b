#include "core/marketdata/market_data_snapshot_response_reader.h"

#include <algorithm>

#include "core/messages/wire_values.h"
#include "merrow/utc_timestamp.h"

namespace zel {

namespace {

// Read the same whatever the process's locale: a decimal comma must not cut a price.
double number(const char* text)
{
    return parseWireDouble(text);
}

int integer(const char* text)
{
    return parseWireInt(text);
}

} // namespace

MarketDataSnapshotResponseReader::MarketDataSnapshotResponseReader(double bidAdjustment, double askAdjustment,
                                                                   int period)
    : m_bidAdjustment(bidAdjustment), m_askAdjustment(askAdjustment), m_period(period), m_isBar(period != 0)
{
}

const MarketRate& MarketDataSnapshotResponseReader::at(int i) const
{
    static const MarketRate kNone;
    return i >= 0 && i < static_cast<int>(m_rates.size()) ? m_rates[static_cast<size_t>(i)] : kNone;
}

void MarketDataSnapshotResponseReader::add(MarketRate rate)
{
    rate.bidOpen += m_bidAdjustment;
    rate.bidHigh += m_bidAdjustment;
    rate.bidLow += m_bidAdjustment;
    rate.bidClose += m_bidAdjustment;
    rate.askOpen += m_askAdjustment;
    rate.askHigh += m_askAdjustment;
    rate.askLow += m_askAdjustment;
    rate.askClose += m_askAdjustment;
    m_rates.push_back(rate);
}

void MarketDataSnapshotResponseReader::reverse()
{
    std::reverse(m_rates.begin(), m_rates.end());
}

bool MarketRateParser::onLineBegin(int)
{
    m_bar = MarketRate();
    m_any = false;
    return true;
}

bool MarketRateParser::onNextField(int, int field, const char* text)
{
    m_any = true;
    switch (field) {
    case 0: m_bar.date = merrow::CUTCTimestamp::toDate(text); break;
    case 1: m_bar.bidOpen = number(text); break;
    case 2: m_bar.bidClose = number(text); break;
    case 3: m_bar.bidHigh = number(text); break;
    case 4: m_bar.bidLow = number(text); break;
    case 5: m_bar.askOpen = number(text); break;
    case 6: m_bar.askClose = number(text); break;
    case 7: m_bar.askHigh = number(text); break;
    case 8: m_bar.askLow = number(text); break;
    case 9: m_bar.volume = integer(text); break;
    default: break;
    }
    return true;
}

bool MarketRateParser::onLineEnd(int)
{
    // An empty line (the end of a text closed by a line feed) is no bar.
    if (m_any && m_reader)
        m_reader->add(m_bar);
    return true;
}

} // namespace zel
