#include "core/tables/accounts_properties_table.h"

#include <mutex>

namespace zel {

void AccountsPropertiesTable::add(std::unique_ptr<AccountProperties> record)
{
    if (!record)
        return;
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    auto& offers = m_profiles[record->leverageProfileID];
    const std::string offer = record->offerID;
    std::unique_ptr<AccountProperties>& slot = offers[offer];
    // A reader may still hold the record it found: it stays until the table goes.
    if (slot)
        m_retired.push_back(std::move(slot));
    slot = std::move(record);
}

const AccountProperties* AccountsPropertiesTable::find(const char* profileID, const char* offerID) const
{
    if (!profileID || !offerID)
        return nullptr;
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    auto profile = m_profiles.find(profileID);
    if (profile == m_profiles.end())
        return nullptr;
    auto entry = profile->second.find(offerID);
    return entry == profile->second.end() ? nullptr : entry->second.get();
}

} // namespace zel
