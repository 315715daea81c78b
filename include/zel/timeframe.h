#pragma once
// Price-history timeframes: the fixed collection a request factory hands out
// (IZelRequestFactory::getTimeFrameCollection), one entry per bar size the price
// server keeps ("t1", "m1" ... "M1").
//
// Ownership: getters that return an interface add a reference that the caller
// releases. Identifier texts live as long as their timeframe.
// [Threading] Timeframes and the collection never change once built, so any thread
// may read and release them.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

enum class ZelTimeframeUnit : int32_t {
    Tick = 0,
    Minute = 1,
    Hour = 2,
    Day = 3,
    Week = 4,
    Month = 5,
};

class ZEL_API IZelTimeframe : public IAddRef {
public:
    // "t1", "m5", "H4", "D1", "M1" ...: case-sensitive ("M1" is a month, "m1" a minute).
    virtual const char* getID() = 0;
    virtual ZelTimeframeUnit getUnit() = 0;
    // The number of units in one bar.
    virtual int getSize() = 0;

protected:
    IZelTimeframe() = default;
    ~IZelTimeframe() override = default;
};

class ZEL_API IZelTimeframeCollection : public IAddRef {
public:
    virtual int size() = 0;
    // Adds a reference: the caller releases it. Null outside 0..size()-1.
    virtual IZelTimeframe* get(int index) = 0;
    // Adds a reference: the caller releases it. Null for an identifier outside the
    // collection (compared exactly) or a null one.
    virtual IZelTimeframe* get(const char* id) = 0;

protected:
    IZelTimeframeCollection() = default;
    ~IZelTimeframeCollection() override = default;
};
