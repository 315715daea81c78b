#include "core/tables/instruments_table.h"

namespace zel {

const PermissionSet* InstrumentsTable::InstrumentData::getPermissionSet()
{
    std::shared_ptr<const Instrument> instrument = getInstrument();
    if (!instrument)
        return nullptr;
    std::call_once(m_permissionsOnce, [&] {
        auto set = std::make_unique<PermissionSet>();
        set->readPermissions(instrument->permissions.c_str());  // pairs before a bad one stay
        const std::string& status = instrument->tradingStatus;
        set->setTradingStatus(status.empty() || status[0] == 'C' ? ZelMarketStatus::Closed : ZelMarketStatus::Open);
        m_permissions = std::move(set);
    });
    return m_permissions.get();
}

RefPtr<InstrumentsTable::InstrumentData> InstrumentsTable::entry(const char* offerID)
{
    return offerID ? m_offers.find(offerID) : RefPtr<InstrumentData>();
}

RefPtr<InstrumentsTable::InstrumentData> InstrumentsTable::entryBySymbol(const char* symbol)
{
    if (!symbol)
        return nullptr;
    RefPtr<OfferIDText> id = m_symbols.find(symbol);
    return id ? entry(id->text.c_str()) : RefPtr<InstrumentData>();
}

void InstrumentsTable::add(std::unique_ptr<Instrument> record)
{
    if (!record)
        return;
    LockGuard<Mutex> lock(m_addMutex);
    RefPtr<InstrumentData> data = entry(record->offerID.c_str());
    if (!data) {
        if (record->hasMissingFields())
            record->completeFrom(Instrument());
        data = adoptRef(new InstrumentData());
        m_offers.insert(record->offerID.c_str(), data.get());
    } else if (record->hasMissingFields()) {
        if (std::shared_ptr<const Instrument> stored = data->getInstrument())
            record->completeFrom(*stored);
        else
            record->completeFrom(Instrument());
    }
    if (!record->symbol.empty()) {
        RefPtr<OfferIDText> id = adoptRef(new OfferIDText(record->offerID));
        m_symbols.insert(record->symbol.c_str(), id.get());
    }
    data->setInstrument(std::shared_ptr<const Instrument>(std::move(record)));
    m_version.fetch_add(1, std::memory_order_acq_rel);
}

std::shared_ptr<const Instrument> InstrumentsTable::find(const char* offerID)
{
    RefPtr<InstrumentData> data = entry(offerID);
    return data ? data->getInstrument() : nullptr;
}

std::shared_ptr<const Instrument> InstrumentsTable::findByInstrument(const char* symbol)
{
    RefPtr<InstrumentData> data = entryBySymbol(symbol);
    return data ? data->getInstrument() : nullptr;
}

const PermissionSet* InstrumentsTable::findPermissionSet(const char* offerID)
{
    RefPtr<InstrumentData> data = entry(offerID);
    return data ? data->getPermissionSet() : nullptr;
}

Cpp::Event<>& InstrumentsTable::getEventRefChanged(const char* offerID)
{
    if (!offerID)
        return m_unknown;
    RefPtr<InstrumentData> data = entry(offerID);
    if (!data) {
        LockGuard<Mutex> lock(m_addMutex);
        data = entry(offerID);
        if (!data) {
            data = adoptRef(new InstrumentData());
            m_offers.insert(offerID, data.get());
        }
    }
    // The map holds the entry for the table's life, so the reference stays valid.
    return data->changed();
}

Cpp::Event<>& InstrumentsTable::getEventRefChangedByInstrument(const char* symbol)
{
    RefPtr<InstrumentData> data = entryBySymbol(symbol);
    return data ? data->changed() : m_unknown;
}

void InstrumentsTable::fireChanged(const char* offerID)
{
    if (RefPtr<InstrumentData> data = entry(offerID))
        data->changed().fire();
}

Cpp::Event<>* InstrumentsTable::findEventChanged(const char* offerID)
{
    RefPtr<InstrumentData> data = entry(offerID);
    return data ? &data->changed() : nullptr;
}

void InstrumentsTable::fireChangedByInstrument(const char* symbol)
{
    if (RefPtr<InstrumentData> data = entryBySymbol(symbol))
        data->changed().fire();
}

} // namespace zel
