#include "core/rules/permission_checker.h"

#include <strings.h>

#include <cstdio>
#include <string>

#include "core/rules/permission_set.h"
#include "zel/rows.h"

namespace zel {

namespace {

bool isYes(const char* value)
{
    return value && *value && !strcasecmp(value, "Y");
}

bool present(const char* value)
{
    return value && *value;
}

std::string flagName(const char* prefix, int code)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s%i", prefix, code);
    return name;
}

// The codes that get a default flag when the server sent none, in this order.
constexpr int kDefaultCodes[31] = {81, 77, 79, 80, 78, 85, 137, 88, 86, 89, 87, 87, 94, 88, 108, 107,
                                   82, 83, 138, 96, 99, 103, 150, 151, 156, 157, 90, 159, 90, 159, 102};

// The default of position p (1-based) for each user kind.
bool defaultFor(int userKind, int p)
{
    if (userKind == 20)
        return p != 16;
    if (userKind == 24)
        return p == 31;
    return (p >= 1 && p <= 7) || p == 15 || (p >= 17 && p <= 21) || (p >= 23 && p <= 30);
}

} // namespace

PermissionChecker::PermissionChecker(SystemProperties* properties, TablesManager* tables, int userKind)
    : m_properties(properties), m_tables(tables), m_userKind(userKind)
{
}

const char* PermissionChecker::prefix() const
{
    switch (m_userKind) {
    case 20: return "TP_";
    case 22: return "CP_";
    case 24: return "DP_";
    default: return nullptr;
    }
}

void PermissionChecker::init(IZelAccountsTableResponseReader* accounts)
{
    initTrailingStopType();
    if (accounts) {
        bool dayNetting = m_userKind == 24;
        if (!dayNetting) {
            const int n = accounts->size();
            for (int r = 0; r < n && !dayNetting; ++r) {
                IZelAccountRow* row = accounts->getRow(r);
                if (!row)
                    continue;
                const char* type = row->getMaintenanceType();
                dayNetting = type && !strcasecmp(type, "D");
                row->release();
            }
        }
        m_dayNetting.store(dayNetting);
    }
    setDefPropertiesValues();
}

void PermissionChecker::initTrailingStopType()
{
    int type = 0;
    bool seen = false;
    if (!m_properties) {
        m_trailingType.store(0);
        return;
    }
    const char* fluctuate = m_properties->findProperty("TRAILING_FLUCTUATE");
    if (present(fluctuate)) {
        seen = true;
        if (isYes(fluctuate))
            type = 2;
    }
    const char* dynamic = m_properties->findProperty("TRAILING_DYMANIC");
    if (!present(dynamic))
        dynamic = m_properties->findProperty("TRAILING_DYNAMIC");
    if (present(dynamic)) {
        seen = true;
        if (isYes(dynamic))
            type = type != 0 ? 3 : 1;
    }
    if (type == 0 && !seen && isYes(m_properties->findProperty("TRAILING_STOP_USED"))) {
        type = 5;
        if (isYes(m_properties->findProperty("TRAILING_STOP_DYNAMIC")))
            type = 4;
    }
    m_trailingType.store(type);
}

void PermissionChecker::setDefPropertiesValues()
{
    const char* pre = prefix();
    if (!m_properties)
        return;
    // Unknown kinds have no flags of their own; their defaults are the customer's.
    if (!pre)
        pre = "CP_";
    for (int p = 1; p <= 31; ++p) {
        const std::string name = flagName(pre, kDefaultCodes[p - 1]);
        if (!m_properties->findProperty(name.c_str()))
            m_properties->add(name.c_str(), defaultFor(m_userKind, p) ? "Y" : "N");
    }
}

bool PermissionChecker::allowed(int code)
{
    {
        LockGuard<Mutex> lock(m_cacheMutex);
        auto it = m_granted.find(code);
        if (it != m_granted.end())
            return it->second;
    }
    const char* pre = prefix();
    if (!pre)
        return false;
    bool granted = false;
    if ((code == 91 || code == 105) && m_userKind != 24) {
        granted = false;
    } else {
        const std::string name = flagName(pre, code);
        const char* value = m_properties ? m_properties->findProperty(name.c_str()) : nullptr;
        granted = value ? std::string(value) == "Y" : (code == 171 || code == 172);
    }
    LockGuard<Mutex> lock(m_cacheMutex);
    m_granted[code] = granted;
    return granted;
}

bool PermissionChecker::isPermissionEnabled(int offerID, int code)
{
    if (m_userKind == 20 && offerID >= 0 && m_tables) {
        char id[16];
        std::snprintf(id, sizeof id, "%d", offerID);
        if (const PermissionSet* set = m_tables->instruments()->findPermissionSet(id)) {
            const IPermissionSet::FXPermissionStatus status = set->getPermissionStatus(code);
            if (status == IPermissionSet::Enabled)
                return true;
            if (status == IPermissionSet::Disabled)
                return false;
        }
    }
    return allowed(code);
}

int PermissionChecker::checkUserPermissionEnabled(int offerID, int a, int b)
{
    int code = 0;
    if (m_userKind == 20)
        code = a;
    else if (m_userKind == 24)
        code = b;
    if (code == 0)
        return 0;
    return isPermissionEnabled(offerID, code) ? 1 : 0;
}

int PermissionChecker::checkUserPermissionEnabled2(int offerID, int a, int c, int d, bool strict)
{
    if (m_userKind == 24)
        return isPermissionEnabled(offerID, d) ? 1 : 0;
    if (m_userKind == 20 || m_userKind == 22) {
        if (isPermissionEnabled(offerID, a) && isPermissionEnabled(offerID, c))
            return 1;
        return strict ? -2 : 0;
    }
    return 0;
}

int PermissionChecker::getStopLimitVisible()
{
    if (m_userKind == 24)
        return 1;
    const bool a = allowed(171);
    const bool b = allowed(172);
    if (a && b)
        return 1;
    return a ? -2 : 0;
}

bool PermissionChecker::getBoolPropertyVal(const char* name, bool defaultValue)
{
    if (!name)
        return defaultValue;
    {
        LockGuard<Mutex> lock(m_cacheMutex);
        auto it = m_boolProperties.find(name);
        if (it != m_boolProperties.end())
            return it->second;
    }
    const char* value = m_properties ? m_properties->findProperty(name) : nullptr;
    const bool result = present(value) ? value[0] == 'Y' : defaultValue;
    LockGuard<Mutex> lock(m_cacheMutex);
    m_boolProperties[name] = result;
    return result;
}

int PermissionChecker::getOCOCommandPermission(int offerID, CGroupMethod method)
{
    if (getBoolPropertyVal("OCO_DISABLED", false))
        return -2;
    if (static_cast<int>(method) > 3)
        return 1;
    return checkUserPermissionEnabled(offerID, 86, 87);
}

int PermissionChecker::netRule()
{
    if (m_dayNetting.load() && m_userKind != 24)
        return 0;
    return getBoolPropertyVal("NET_QTY_ORDR_DISABLED", false) ? 0 : 1;
}

int PermissionChecker::getPermission(EZelPermissionType type, const char* instrument, std::string* error)
{
    if (error)
        *error = "This command is disabled.";
    if ((m_userKind != 20 && m_userKind != 22) || type == Type13 || type == Type17)
        return -2;
    if (instrument && *instrument) {
        std::shared_ptr<const Instrument> found =
            m_tables ? m_tables->instruments()->findByInstrument(instrument) : nullptr;
        if (!found)
            return 0;
        char* end = nullptr;
        const long id = std::strtol(found->offerID.c_str(), &end, 10);
        return evaluate(type, static_cast<int>(id), true);
    }
    return evaluate(type, -1, false);
}

int PermissionChecker::evaluate(EZelPermissionType type, int offer, bool hasInstrument)
{
    switch (type) {
    case CreateMarketOpen:
        return checkUserPermissionEnabled2(offer, 88, 171, 88, false);
    case CreateMarketClose:
        if (evaluate(CreateStopLimit, offer, hasInstrument) == -2)
            return -2;
        return checkUserPermissionEnabled2(offer, 88, 171, 88, true);
    case CreateEntry:
        return checkUserPermissionEnabled2(offer, 86, 171, 86, false);
    case CreateStopLimit:
        if (hasInstrument && isLLC())
            return -2;
        return checkUserPermissionEnabled2(offer, 94, 171, 94, true);
    case ChangeMarketOpen:
    case ChangeMarketClose:
    case ChangeNetClose:
    case DeleteNetClose:
        return -2;
    case ChangeEntry:
        return checkUserPermissionEnabled(offer, 86, 87);
    case ChangeStopLimit:
    case DeleteStopLimit:
        if (evaluate(CreateStopLimit, offer, hasInstrument) == -2)
            return -2;
        return checkUserPermissionEnabled(offer, 94, 87);
    case DeleteMarketOpen:
    case DeleteEntry:
        return checkUserPermissionEnabled(offer, 87, 87);
    case DeleteMarketClose:
        if (evaluate(CreateMarketClose, offer, hasInstrument) == -2)
            return -2;
        return checkUserPermissionEnabled(offer, 87, 87);
    case Type12:
        return 1;
    case Type13:
        return checkUserPermissionEnabled(offer, 98, 98);
    case RequestQuote:
    case DeleteQuote:
        return checkUserPermissionEnabled(-1, 98, 98);
    case AcceptQuote:
        return checkUserPermissionEnabled(-1, 107, 107);
    case Type17:
        return checkUserPermissionEnabled(offer, 107, 107);
    case CreateOCO:
        return getOCOCommandPermission(offer, OCO);
    case CreateOTO:
        return getOCOCommandPermission(offer, OTO);
    case JoinContingencyGroup:
        return getOCOCommandPermission(offer, Join);
    case RemoveFromContingencyGroup:
        return getOCOCommandPermission(offer, Remove);
    case ChangeOfferSubscription:
        if (!m_symbolSubscr.load())
            return 0;
        return checkUserPermissionEnabled(-1, 89, 89);
    case CreateNetClose:
        return netRule();
    case CreateNetStopLimit:
    case ChangeNetStopLimit:
    case DeleteNetStopLimit:
        return isLLC() ? netRule() : -2;
    }
    return 0;
}

bool PermissionChecker::canUseDynamicTrailingForStop()
{
    const int t = m_trailingType.load();
    return t == 1 || t == 3 || t == 4;
}

bool PermissionChecker::canUseDynamicTrailingForLimit()
{
    const int t = m_trailingType.load();
    return t == 1 || t == 3;
}

bool PermissionChecker::canUseFluctuateTrailingForStop()
{
    const int t = m_trailingType.load();
    return t == 2 || t == 3 || t == 5;
}

bool PermissionChecker::canUseFluctuateTrailingForLimit()
{
    const int t = m_trailingType.load();
    return t == 2 || t == 3;
}

} // namespace zel
