#pragma once
// The price history of an instrument: bars of one timeframe (or ticks), oldest
// first, with the instrument's price adjustments already applied.
//
// Ownership: the reader factory returns a new reader holding one reference for the
// caller. [Threading] Immutable once returned; any thread.
// Indexes outside 0..size()-1 read as 0.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelMarketDataSnapshotResponseReader : public IAddRef {
public:
    // False for ticks.
    virtual bool isBar() = 0;
    virtual int size() = 0;
    // The bar's (or tick's) time, a date serial in UTC.
    virtual double getDate(int index) = 0;
    // The closing prices; a tick keeps its prices there.
    virtual double getBid(int index) = 0;
    virtual double getAsk(int index) = 0;
    virtual double getBidOpen(int index) = 0;
    virtual double getBidHigh(int index) = 0;
    virtual double getBidLow(int index) = 0;
    virtual double getBidClose(int index) = 0;
    virtual double getAskOpen(int index) = 0;
    virtual double getAskHigh(int index) = 0;
    virtual double getAskLow(int index) = 0;
    virtual double getAskClose(int index) = 0;
    virtual int getVolume(int index) = 0;
    virtual int getLastBarVolume() = 0;
    virtual double getLastBarTime() = 0;

protected:
    IZelMarketDataSnapshotResponseReader() = default;
    ~IZelMarketDataSnapshotResponseReader() override = default;
};
