#pragma once
// The price-history reader and the parser of the DAS price-history lines
// ("time;bidOpen;bidClose;bidHigh;bidLow;askOpen;askClose;askHigh;askLow;volume").
//
// Ownership: the reader starts with one reference for the creator and owns its
// rows. [Threading] Filled on one thread, read-only once handed out.

#include <cstdint>
#include <vector>

#include "core/responses/result_set_tokenizer.h"
#include "vorntool/add_ref.h"
#include "zel/market_data_snapshot_reader.h"

namespace zel {

// One bar or tick; a tick keeps its bid and ask in the close fields.
struct MarketRate {
    double date = 0;
    double bidOpen = 0, bidClose = 0, bidHigh = 0, bidLow = 0;
    double askOpen = 0, askClose = 0, askHigh = 0, askLow = 0;
    int volume = 0;
};

class MarketDataSnapshotResponseReader : public TThreadSafeAddRefImpl<IZelMarketDataSnapshotResponseReader> {
public:
    // period 0: ticks.
    MarketDataSnapshotResponseReader(double bidAdjustment, double askAdjustment, int period);

    bool isBar() override { return m_isBar; }
    int size() override { return static_cast<int>(m_rates.size()); }
    double getDate(int i) override { return at(i).date; }
    double getBid(int i) override { return getBidClose(i); }
    double getAsk(int i) override { return getAskClose(i); }
    double getBidOpen(int i) override { return at(i).bidOpen; }
    double getBidHigh(int i) override { return at(i).bidHigh; }
    double getBidLow(int i) override { return at(i).bidLow; }
    double getBidClose(int i) override { return at(i).bidClose; }
    double getAskOpen(int i) override { return at(i).askOpen; }
    double getAskHigh(int i) override { return at(i).askHigh; }
    double getAskLow(int i) override { return at(i).askLow; }
    double getAskClose(int i) override { return at(i).askClose; }
    int getVolume(int i) override { return at(i).volume; }
    int getLastBarVolume() override { return m_lastBarVolume; }
    double getLastBarTime() override { return m_lastBarTime; }

    // Adds the adjustments to the row's prices and appends it.
    void add(MarketRate rate);
    void reverse();
    void setLastBarTime(double serial) { m_lastBarTime = serial; }
    void setLastBarVolume(int volume) { m_lastBarVolume = volume; }
    int getPeriod() const { return m_period; }

protected:
    ~MarketDataSnapshotResponseReader() override = default;

private:
    const MarketRate& at(int i) const;

    std::vector<MarketRate> m_rates;
    double m_bidAdjustment;
    double m_askAdjustment;
    int m_period;
    bool m_isBar;
    double m_lastBarTime = 0;
    int m_lastBarVolume = 0;
};

// Every line, the status line included, is one bar.
class MarketRateParser : public ITokenizerCallback {
public:
    explicit MarketRateParser(MarketDataSnapshotResponseReader* reader) : m_reader(reader) {}
    bool onLineBegin(int line) override;
    bool onNextField(int line, int field, const char* text) override;
    bool onLineEnd(int line) override;

private:
    MarketDataSnapshotResponseReader* m_reader;
    MarketRate m_bar;
    bool m_any = false;
};

} // namespace zel
