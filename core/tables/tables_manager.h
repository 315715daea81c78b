#pragma once
// The owner of the session's tables. It always holds the two internal tables
// (instruments, account properties), whatever the mode; the live trading tables
// join it when the table manager is switched on.
//
// Ownership: reference counted; the trade desk and the reader factories hold it.
// [Threading] The two tables are thread-safe; the settings are atomics or read
// under the manager's mutex.

#include <atomic>
#include <string>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/tables/accounts_properties_table.h"
#include "core/tables/instruments_table.h"
#include "vorntool/add_ref.h"
#include "zel/session.h"

namespace zel {

class TablesManager : public CThreadSafeAddRefImpl {
public:
    explicit TablesManager(ZelTableManagerMode mode = ZelTableManagerMode::NoTableManager);

    // Add a reference: the caller releases them.
    InstrumentsTable* getInstruments() const { return m_instruments.share(); }
    AccountsPropertiesTable* getAccountsProperties() const { return m_accountsProperties.share(); }
    // Without a reference; live as long as the manager.
    InstrumentsTable* instruments() const { return m_instruments.get(); }
    AccountsPropertiesTable* accountsProperties() const { return m_accountsProperties.get(); }

    ZelTableManagerMode getMode() const { return m_mode.load(); }
    void setMode(ZelTableManagerMode mode) { m_mode.store(mode); }
    std::string getAccountCurrency() const;
    void setAccountCurrency(const char* currency);
    int getBaseUnitSize() const { return m_baseUnitSize.load(); }
    void setBaseUnitSize(int size) { m_baseUnitSize.store(size); }

protected:
    ~TablesManager() override = default;

private:
    RefPtr<InstrumentsTable> m_instruments;
    RefPtr<AccountsPropertiesTable> m_accountsProperties;
    std::atomic<ZelTableManagerMode> m_mode;
    mutable Mutex m_mutex;
    std::string m_accountCurrency ZEL_GUARDED_BY(m_mutex);
    std::atomic<int> m_baseUnitSize{0};
};

} // namespace zel
