#pragma once
// The permissions the server grants for one instrument: permission codes mapped to
// enabled or disabled, and the instrument's trading status. Read from the
// instrument's list "code,Y,code,N,...".
//
// Ownership: owned by the instruments table's entry of its offer; others borrow it.
// [Threading] Filled once when first asked for, then only read; the instruments
// table serializes that first fill.

#include <map>

#include "zel/market_status.h"

namespace zel {

class IPermissionSet {
public:
    enum FXPermissionStatus { NotSet = 0, Enabled = 1, Disabled = 2 };

    virtual ~IPermissionSet() = default;
    virtual FXPermissionStatus getPermissionStatus(int code) const = 0;
};

class PermissionSet : public IPermissionSet {
public:
    // Parses the list; an empty or null text is a valid empty list. A zero or
    // non-numeric code, a missing value or one other than "Y"/"N" stops the parse
    // with false; the pairs before it stay.
    bool readPermissions(const char* text);
    void setPermissionStatus(int code, FXPermissionStatus status) { m_status[code] = status; }
    // A closed market disables trading (codes 88 and 107) whatever the list says.
    FXPermissionStatus getPermissionStatus(int code) const override;
    void setTradingStatus(ZelMarketStatus status) { m_tradingStatus = status; }
    ZelMarketStatus getTradingStatus() const { return m_tradingStatus; }
    void clear() { m_status.clear(); }

private:
    std::map<int, FXPermissionStatus> m_status;
    ZelMarketStatus m_tradingStatus = ZelMarketStatus::Open;
};

} // namespace zel
