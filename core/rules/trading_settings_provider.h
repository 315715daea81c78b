#pragma once
// The trading limits of a login (see zel/trading_settings_provider.h), read at call
// time from the instruments and account-properties tables; only a few system
// property values are kept, read once by init().
//
// Ownership: reference counted; made by the trade desk, which it references
// through the system properties and the table manager it holds.
// [Threading] Any thread: the tables are thread-safe and the kept values are
// atomics written by init() before the provider is handed out.

#include <atomic>

#include "core/base/ref_ptr.h"
#include "core/responses/system_properties.h"
#include "core/tables/tables_manager.h"
#include "vorntool/add_ref.h"
#include "zel/trading_settings_provider.h"

namespace zel {

class TradingSettingsProvider : public TThreadSafeAddRefImpl<IZelTradingSettingsProvider> {
public:
    TradingSettingsProvider(SystemProperties* properties, TablesManager* tables, int userKind);

    // Reads the trailing range and the margin modes from the system properties.
    void init();
    // True and the value only when the whole text is a decimal integer.
    static bool parseInt(const char* text, int& value);

    int getCondDistStopForTrade(const char* instrument) override;
    int getCondDistLimitForTrade(const char* instrument) override;
    int getCondDistStopForEntryOrder(const char* instrument) override;
    int getCondDistLimitForEntryOrder(const char* instrument) override;
    int getCondDistEntryStop(const char* instrument) override;
    int getCondDistEntryLimit(const char* instrument) override;
    int getMinQuantity(const char* instrument, IZelAccountRow* account) override;
    int getMaxQuantity(const char* instrument, IZelAccountRow* account) override;
    int getBaseUnitSize(const char* instrument, IZelAccountRow* account) override;
    ZelMarketStatus getMarketStatus(const char* instrument) override;
    int getMinTrailingStepForStop() override { return m_minTrailing.load(); }
    int getMinTrailingStepForLimit() override { return getMinTrailingStepForStop(); }
    int getMinTrailingStepForEntryStop() override { return getMinTrailingStepForStop(); }
    int getMinTrailingStepForEntryLimit() override { return getMinTrailingStepForStop(); }
    int getMaxTrailingStepForStop() override { return m_maxTrailing.load(); }
    int getMaxTrailingStepForLimit() override { return getMaxTrailingStepForStop(); }
    int getMaxTrailingStepForEntryStop() override { return getMaxTrailingStepForStop(); }
    int getMaxTrailingStepForEntryLimit() override { return getMaxTrailingStepForStop(); }
    double getMMR(const char* instrument, IZelAccountRow* account) override;
    bool getMargins(const char* instrument, IZelAccountRow* account, double& first, double& second,
                    double& third) override;

    int marginDisplayMode() const { return m_showMR.load(); }
    bool threeLevelMargin() const { return m_threeLevel.load(); }

protected:
    ~TradingSettingsProvider() override = default;

private:
    std::shared_ptr<const Instrument> find(const char* symbol) const;
    // The instrument's base unit size, raised to the account's for FX.
    static int marginUnits(const Instrument& instrument, IZelAccountRow* account);
    const AccountProperties* accountProperties(const Instrument& instrument, IZelAccountRow* account) const;

    std::atomic<int> m_minTrailing{30};
    std::atomic<int> m_maxTrailing{500};
    RefPtr<SystemProperties> m_properties;
    RefPtr<TablesManager> m_tables;
    std::atomic<int> m_showMR{0};
    std::atomic<bool> m_threeLevel{false};
    const int m_userKind;
};

} // namespace zel
