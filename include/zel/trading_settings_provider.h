#pragma once
// The trading limits the server set for this login, per instrument and account:
// condition distances, order quantities, base unit sizes, margins, market status
// and the range of trailing steps. Every answer is read at call time from the
// instruments and account properties that the login loaded.
//
// Ownership: reference counted; IZelLoginRules::getTradingSettingsProvider adds a
// reference for the caller.
// [Threading] Any thread. [Exceptions] Nothing throws; an unknown instrument, a
// missing account or missing account properties give 0, closed or false.

#include "vorntool/add_ref.h"
#include "zel/market_status.h"
#include "zel/zel_export.h"

class IZelAccountRow;

class ZEL_API IZelTradingSettingsProvider : public IAddRef {
public:
    // Minimum distances from the market, in points, by instrument symbol.
    virtual int getCondDistStopForTrade(const char* instrument) = 0;
    virtual int getCondDistLimitForTrade(const char* instrument) = 0;
    virtual int getCondDistStopForEntryOrder(const char* instrument) = 0;
    virtual int getCondDistLimitForEntryOrder(const char* instrument) = 0;
    virtual int getCondDistEntryStop(const char* instrument) = 0;
    virtual int getCondDistEntryLimit(const char* instrument) = 0;
    // Quantities; account may be null (an FX instrument then answers 0).
    virtual int getMinQuantity(const char* instrument, IZelAccountRow* account) = 0;
    virtual int getMaxQuantity(const char* instrument, IZelAccountRow* account) = 0;
    virtual int getBaseUnitSize(const char* instrument, IZelAccountRow* account) = 0;
    // Closed for an unknown instrument.
    virtual ZelMarketStatus getMarketStatus(const char* instrument) = 0;
    virtual int getMinTrailingStepForStop() = 0;
    virtual int getMinTrailingStepForLimit() = 0;
    virtual int getMinTrailingStepForEntryStop() = 0;
    virtual int getMinTrailingStepForEntryLimit() = 0;
    virtual int getMaxTrailingStepForStop() = 0;
    virtual int getMaxTrailingStepForLimit() = 0;
    virtual int getMaxTrailingStepForEntryStop() = 0;
    virtual int getMaxTrailingStepForEntryLimit() = 0;
    // The maintenance margin of one lot of the instrument for the account.
    virtual double getMMR(const char* instrument, IZelAccountRow* account) = 0;
    // The three margin levels of one lot; true only in three-level margin mode
    // (the outputs are filled in either mode when the data exist).
    virtual bool getMargins(const char* instrument, IZelAccountRow* account, double& first, double& second,
                            double& third) = 0;

protected:
    IZelTradingSettingsProvider() = default;
    ~IZelTradingSettingsProvider() override = default;
};
