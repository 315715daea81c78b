#pragma once
// Fixtures for the trading rules: system properties, an instruments table and
// account properties built from small descriptions, and an account row.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/responses/system_properties.h"
#include "core/tables/tables_manager.h"
#include "vorntool/add_ref.h"
#include "zel/rows.h"

namespace zel {
namespace testing {

struct InstrumentSpec {
    const char* offerID;
    const char* symbol;
    int type;
    int baseUnitSize;
    int minQuantity;
    int maxQuantity;
    const char* tradingStatus;
    const char* permissions;
};

struct RulesWorld {
    RefPtr<SystemProperties> properties = adoptRef(new SystemProperties());
    RefPtr<TablesManager> tables = adoptRef(new TablesManager());

    RulesWorld(const std::vector<std::pair<std::string, std::string>>& props, const std::vector<InstrumentSpec>& instruments)
    {
        for (const auto& p : props)
            properties->add(p.first.c_str(), p.second.c_str());
        for (const InstrumentSpec& s : instruments) {
            auto i = std::make_unique<Instrument>();
            i->offerID = s.offerID;
            i->symbol = s.symbol;
            i->instrumentType = s.type;
            i->baseUnitSize = s.baseUnitSize;
            i->minQuantity = s.minQuantity;
            i->maxQuantity = s.maxQuantity;
            i->tradingStatus = s.tradingStatus;
            i->permissions = s.permissions;
            i->condDistStopForTrade = 5.9;
            i->condDistLimitForTrade = 6;
            i->condDistEntryStop = 7;
            i->condDistEntryLimit = 8;
            tables->instruments()->add(std::move(i));
        }
    }
    void margins(const char* profile, const char* offer, double m1, double m2, double m3)
    {
        auto a = std::make_unique<AccountProperties>();
        a->leverageProfileID = profile;
        a->offerID = offer;
        a->margin1 = m1;
        a->margin2 = m2;
        a->margin3 = m3;
        tables->accountsProperties()->add(std::move(a));
    }
};

class FakeAccount : public TThreadSafeAddRefImpl<IZelAccountRow> {
public:
    int baseUnitSize = 0;
    int amountLimit = 0;
    std::string profile = "P1";
    std::string maintenance = "Y";

    const void* getCell(int) override { return nullptr; }
    bool isCellChanged(int) override { return false; }
    IZelTableColumnCollection* columns() override { return nullptr; }
    ZelTable tableType() override { return ZelTable::Accounts; }
    const char* getAccountID() override { return "A1"; }
    const char* getAccountName() override { return "A1"; }
    const char* getAccountKind() override { return "32"; }
    double getBalance() override { return 0; }
    double getNonTradeEquity() override { return 0; }
    double getM2MEquity() override { return 0; }
    double getUsedMargin() override { return 0; }
    double getUsedMargin3() override { return 0; }
    const char* getMarginCallFlag() override { return "N"; }
    double getLastMarginCallDate() override { return 0; }
    const char* getMaintenanceType() override { return maintenance.c_str(); }
    int getAmountLimit() override { return amountLimit; }
    int getBaseUnitSize() override { return baseUnitSize; }
    bool getMaintenanceFlag() override { return false; }
    const char* getManagerAccountID() override { return ""; }
    const char* getLevarageProfileID() override { return profile.c_str(); }
};

} // namespace testing
} // namespace zel
