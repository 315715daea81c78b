#pragma once
// Whether a trading command is allowed for this login (see zel/permission_checker.h):
// the user kind, the numbered permission flags of the system properties and the
// instrument's own permission set.
//
// Ownership: reference counted; made by the trade desk over its system properties
// and table manager (references held).
// [Threading] Any thread. The caches have their own mutex, held only around map
// access; init() runs before the checker is handed out.

#include <atomic>
#include <map>
#include <string>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/responses/system_properties.h"
#include "core/tables/tables_manager.h"
#include "vorntool/add_ref.h"
#include "zel/permission_checker.h"
#include "zel/table_readers.h"

namespace zel {

class PermissionChecker : public TThreadSafeAddRefImpl<IZelPermissionChecker> {
public:
    enum EZelPermissionType {
        CreateMarketOpen = 0, CreateMarketClose = 1, CreateEntry = 2, CreateStopLimit = 3,
        ChangeMarketOpen = 4, ChangeMarketClose = 5, ChangeEntry = 6, ChangeStopLimit = 7,
        DeleteMarketOpen = 8, DeleteMarketClose = 9, DeleteEntry = 10, DeleteStopLimit = 11,
        Type12 = 12, Type13 = 13, RequestQuote = 14, AcceptQuote = 15, DeleteQuote = 16, Type17 = 17,
        CreateOCO = 18, CreateOTO = 19, JoinContingencyGroup = 20, RemoveFromContingencyGroup = 21,
        ChangeOfferSubscription = 22, CreateNetClose = 23, ChangeNetClose = 24, DeleteNetClose = 25,
        CreateNetStopLimit = 26, ChangeNetStopLimit = 27, DeleteNetStopLimit = 28
    };
    enum CGroupMethod { OCO = 0, OTO = 1, Join = 2, Remove = 3 };

    PermissionChecker(SystemProperties* properties, TablesManager* tables, int userKind);

    // The trailing type, the day-netting flag (from the accounts, may be null) and
    // the default flags of absent permission properties.
    void init(IZelAccountsTableResponseReader* accounts);
    void setSymbolSubscrEnabledFlag(bool enabled) { m_symbolSubscr.store(enabled); }

    // error, when given, receives "This command is disabled.".
    int getPermission(EZelPermissionType type, const char* instrument, std::string* error = nullptr);
    bool allowed(int code);
    bool isPermissionEnabled(int offerID, int code);
    int checkUserPermissionEnabled(int offerID, int codeForKind20, int codeForKind24);
    int checkUserPermissionEnabled2(int offerID, int code, int secondCode, int codeForKind24, bool strict);
    int getOCOCommandPermission(int offerID, CGroupMethod method);
    bool getBoolPropertyVal(const char* name, bool defaultValue);
    int getStopLimitVisible();
    bool isLLC() { return getStopLimitVisible() == -2; }
    bool isReportUrlAllowed() { return allowed(108) || allowed(109) || allowed(118); }
    int getTrailingStopType() const { return m_trailingType.load(); }
    bool isDayNetting() const { return m_dayNetting.load(); }

    int canCreateMarketOpenOrder(const char* i) override { return getPermission(CreateMarketOpen, i); }
    int canChangeMarketOpenOrder(const char* i) override { return getPermission(ChangeMarketOpen, i); }
    int canDeleteMarketOpenOrder(const char* i) override { return getPermission(DeleteMarketOpen, i); }
    int canCreateMarketCloseOrder(const char* i) override { return getPermission(CreateMarketClose, i); }
    int canChangeMarketCloseOrder(const char* i) override { return getPermission(ChangeMarketClose, i); }
    int canDeleteMarketCloseOrder(const char* i) override { return getPermission(DeleteMarketClose, i); }
    int canCreateEntryOrder(const char* i) override { return getPermission(CreateEntry, i); }
    int canChangeEntryOrder(const char* i) override { return getPermission(ChangeEntry, i); }
    int canDeleteEntryOrder(const char* i) override { return getPermission(DeleteEntry, i); }
    int canCreateStopLimitOrder(const char* i) override { return getPermission(CreateStopLimit, i); }
    int canChangeStopLimitOrder(const char* i) override { return getPermission(ChangeStopLimit, i); }
    int canDeleteStopLimitOrder(const char* i) override { return getPermission(DeleteStopLimit, i); }
    int canRequestQuote(const char* i) override { return getPermission(RequestQuote, i); }
    int canAcceptQuote(const char* i) override { return getPermission(AcceptQuote, i); }
    int canDeleteQuote(const char* i) override { return getPermission(DeleteQuote, i); }
    int canCreateOCO(const char* i) override { return getPermission(CreateOCO, i); }
    int canCreateOTO(const char* i) override { return getPermission(CreateOTO, i); }
    int canJoinToNewContingencyGroup(const char* i) override { return getPermission(JoinContingencyGroup, i); }
    int canJoinToExistingContingencyGroup(const char* i) override { return getPermission(JoinContingencyGroup, i); }
    int canRemoveFromContingencyGroup(const char* i) override { return getPermission(RemoveFromContingencyGroup, i); }
    int canChangeOfferSubscription(const char* i) override { return getPermission(ChangeOfferSubscription, i); }
    int canCreateNetCloseOrder(const char* i) override { return getPermission(CreateNetClose, i); }
    int canChangeNetCloseOrder(const char* i) override { return getPermission(ChangeNetClose, i); }
    int canDeleteNetCloseOrder(const char* i) override { return getPermission(DeleteNetClose, i); }
    int canCreateNetStopLimitOrder(const char* i) override { return getPermission(CreateNetStopLimit, i); }
    int canChangeNetStopLimitOrder(const char* i) override { return getPermission(ChangeNetStopLimit, i); }
    int canDeleteNetStopLimitOrder(const char* i) override { return getPermission(DeleteNetStopLimit, i); }

    bool canUseDynamicTrailingForStop() override;
    bool canUseDynamicTrailingForLimit() override;
    bool canUseDynamicTrailingForEntryStop() override { return canUseDynamicTrailingForLimit(); }
    bool canUseDynamicTrailingForEntryLimit() override { return canUseDynamicTrailingForLimit(); }
    bool canUseFluctuateTrailingForStop() override;
    bool canUseFluctuateTrailingForLimit() override;
    bool canUseFluctuateTrailingForEntryStop() override { return canUseFluctuateTrailingForLimit(); }
    bool canUseFluctuateTrailingForEntryLimit() override { return canUseFluctuateTrailingForLimit(); }

protected:
    ~PermissionChecker() override = default;

private:
    int evaluate(EZelPermissionType type, int offerID, bool hasInstrument);
    int netRule();
    void initTrailingStopType();
    void setDefPropertiesValues();
    const char* prefix() const;

    Mutex m_cacheMutex;
    std::map<int, bool> m_granted ZEL_GUARDED_BY(m_cacheMutex);
    std::map<std::string, bool> m_boolProperties ZEL_GUARDED_BY(m_cacheMutex);
    RefPtr<SystemProperties> m_properties;
    RefPtr<TablesManager> m_tables;
    const int m_userKind;
    std::atomic<int> m_trailingType{0};
    std::atomic<bool> m_dayNetting{false};
    std::atomic<bool> m_symbolSubscr{true};
};

} // namespace zel
