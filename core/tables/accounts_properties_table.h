#pragma once
// Margin settings per leverage profile and offer, from the margin-requirements
// answers: three margin values that the trading rules read.
//
// Ownership: reference counted (the table manager holds it); records are owned by
// the table. [Threading] Filled while the trade desk initializes (and by margin
// answers on the delivering thread); lookups take a shared lock, so a late fill
// never races a reader.

#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "vorntool/add_ref.h"

namespace zel {

struct AccountProperties {
    std::string leverageProfileID;
    std::string offerID;
    double margin1 = 0;
    double margin2 = 0;
    double margin3 = 0;
};

class AccountsPropertiesTable : public CThreadSafeAddRefImpl {
public:
    AccountsPropertiesTable() = default;

    // Takes the record over, replacing one stored under the same keys.
    void add(std::unique_ptr<AccountProperties> record);
    // Null when either key is unknown. The record stays valid until the table goes,
    // even when a later margin answer replaces it (then it keeps its old values).
    const AccountProperties* find(const char* profileID, const char* offerID) const;

protected:
    ~AccountsPropertiesTable() override = default;

private:
    mutable std::shared_mutex m_mutex;
    std::unordered_map<std::string, std::unordered_map<std::string, std::unique_ptr<AccountProperties>>> m_profiles;
    std::vector<std::unique_ptr<AccountProperties>> m_retired;
};

} // namespace zel
