#include "core/rules/trading_settings_provider.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "zel/rows.h"

namespace zel {

TradingSettingsProvider::TradingSettingsProvider(SystemProperties* properties, TablesManager* tables, int userKind)
    : m_properties(properties), m_tables(tables), m_userKind(userKind)
{
}

bool TradingSettingsProvider::parseInt(const char* text, int& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*end || errno == ERANGE || v > INT_MAX || v < INT_MIN)
        return false;
    value = static_cast<int>(v);
    return true;
}

void TradingSettingsProvider::init()
{
    if (!m_properties)
        return;
    int v = 0;
    if (parseInt(m_properties->findProperty("TRAILING_FLUCTUATE_PTS_MIN"), v))
        m_minTrailing.store(v);
    if (parseInt(m_properties->findProperty("TRAILING_FLUCTUATE_PTS_MAX"), v))
        m_maxTrailing.store(v);
    int mode = 0;
    if (const char* show = m_properties->findProperty("SHOW_MR")) {
        if (!strcasecmp(show, "EMR"))
            mode = 1;
        else if (!strcasecmp(show, "MMR"))
            mode = 2;
        else if (!strcasecmp(show, "LMR"))
            mode = 3;
        else if (!strcasecmp(show, "ALL"))
            mode = 4;
    }
    m_showMR.store(mode);
    const char* three = m_properties->findProperty("THREE_LEVEL_MARGIN");
    m_threeLevel.store(three && std::string(three) == "Y");
}

std::shared_ptr<const Instrument> TradingSettingsProvider::find(const char* symbol) const
{
    if (!symbol || !*symbol || !m_tables)
        return nullptr;
    return m_tables->instruments()->findByInstrument(symbol);
}

int TradingSettingsProvider::getCondDistStopForTrade(const char* instrument)
{
    auto i = find(instrument);
    return i ? static_cast<int>(i->condDistStopForTrade) : 0;
}

int TradingSettingsProvider::getCondDistLimitForTrade(const char* instrument)
{
    auto i = find(instrument);
    return i ? static_cast<int>(i->condDistLimitForTrade) : 0;
}

int TradingSettingsProvider::getCondDistStopForEntryOrder(const char* instrument)
{
    return getCondDistEntryStop(instrument);
}

int TradingSettingsProvider::getCondDistLimitForEntryOrder(const char* instrument)
{
    return getCondDistEntryLimit(instrument);
}

int TradingSettingsProvider::getCondDistEntryStop(const char* instrument)
{
    auto i = find(instrument);
    return i ? static_cast<int>(i->condDistEntryStop) : 0;
}

int TradingSettingsProvider::getCondDistEntryLimit(const char* instrument)
{
    auto i = find(instrument);
    return i ? static_cast<int>(i->condDistEntryLimit) : 0;
}

int TradingSettingsProvider::getBaseUnitSize(const char* instrument, IZelAccountRow* account)
{
    auto i = find(instrument);
    if (!i)
        return 0;
    const int size = i->baseUnitSize != 0 ? i->baseUnitSize : 1;
    if (i->instrumentType != 1)
        return size;
    if (!account)
        return 0;
    int accountSize = account->getBaseUnitSize();
    if (accountSize == 0) {
        int v = 0;
        accountSize = m_properties && parseInt(m_properties->findProperty("BASE_UNIT_SIZE"), v) ? v : 0;
    }
    return size > accountSize ? size : accountSize;
}

int TradingSettingsProvider::getMinQuantity(const char* instrument, IZelAccountRow* account)
{
    auto i = find(instrument);
    if (!i)
        return 0;
    const int unit = getBaseUnitSize(instrument, account);
    const int minimum = i->minQuantity != 0 ? i->minQuantity : unit;
    // An FX instrument asked without an account has no unit: its own minimum is
    // the best answer, and nothing may divide by zero.
    if (unit <= 0)
        return minimum > 0 ? minimum : 0;
    if (minimum % unit == 0)
        return minimum > unit ? minimum : unit;
    const long long n = static_cast<long long>(static_cast<double>(minimum) / unit + 0.5);
    const long long rounded = n * unit;
    if (rounded > INT_MAX)
        return INT_MAX;
    return rounded > unit ? static_cast<int>(rounded) : unit;
}

int TradingSettingsProvider::getMaxQuantity(const char* instrument, IZelAccountRow* account)
{
    auto i = find(instrument);
    if (!i)
        return 0;
    if (i->instrumentType == 1) {
        if (!account)
            return 0;
        const int limit = account->getAmountLimit();
        if (limit != 0)
            return limit;
    }
    return i->maxQuantity;
}

ZelMarketStatus TradingSettingsProvider::getMarketStatus(const char* instrument)
{
    auto i = find(instrument);
    if (!i || i->tradingStatus.empty() || i->tradingStatus[0] == 'C')
        return ZelMarketStatus::Closed;
    return ZelMarketStatus::Open;
}

int TradingSettingsProvider::marginUnits(const Instrument& instrument, IZelAccountRow* account)
{
    int units = instrument.baseUnitSize;
    if (instrument.instrumentType == 1 && account) {
        const int accountSize = account->getBaseUnitSize();
        if (accountSize > units)
            units = accountSize;
    }
    return units;
}

const AccountProperties* TradingSettingsProvider::accountProperties(const Instrument& instrument,
                                                                    IZelAccountRow* account) const
{
    if (!account || !m_tables)
        return nullptr;
    const char* profile = account->getLevarageProfileID();
    return m_tables->accountsProperties()->find(profile ? profile : "", instrument.offerID.c_str());
}

double TradingSettingsProvider::getMMR(const char* instrument, IZelAccountRow* account)
{
    if (!account)
        return 0;
    auto i = find(instrument);
    if (!i)
        return 0;
    const AccountProperties* p = accountProperties(*i, account);
    if (!p)
        return 0;
    const double value = (m_showMR.load() != 0 || m_threeLevel.load()) ? p->margin2 : p->margin1;
    return value * marginUnits(*i, account);
}

bool TradingSettingsProvider::getMargins(const char* instrument, IZelAccountRow* account, double& first,
                                         double& second, double& third)
{
    first = second = third = 0;
    if (m_userKind == 24 || !account)
        return false;
    auto i = find(instrument);
    if (!i)
        return false;
    const AccountProperties* p = accountProperties(*i, account);
    if (!p)
        return false;
    const double units = marginUnits(*i, account);
    if (m_threeLevel.load()) {
        first = p->margin2 * units;
        second = p->margin3 * units;
        third = p->margin1 * units;
        return true;
    }
    first = second = third = p->margin1 * units;
    return false;
}

} // namespace zel
