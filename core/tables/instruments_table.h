#pragma once
// The instruments of the session, one per offer: findable by offer ID and by symbol,
// each with its permission set (made on first request) and its changed event,
// through which price changes reach the trades and orders of the offer.
//
// Ownership: reference counted (the table manager holds it). Records are shared:
// an update swaps in a new record, and a reader that still holds the old one keeps
// it whole until it lets go. Entries are never removed before the table goes, so
// event references stay valid as long as the table.
// [Threading] Lookups are lock-free reads of the row map (plus the atomic load of a
// record pointer); adds are serialized by the table's own lock, since an update
// merges with the stored record. Events fire on the caller's thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/mutex.h"
#include "core/rules/permission_set.h"
#include "core/tables/concurrent_hash_map.h"
#include "core/tables/event.h"
#include "core/tables/instrument.h"

namespace zel {

class InstrumentsTable : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
public:
    class InstrumentData : public CThreadSafeAddRefImpl {
    public:
        InstrumentData() = default;
        std::shared_ptr<const Instrument> getInstrument() const { return std::atomic_load(&m_instrument); }
        void setInstrument(std::shared_ptr<const Instrument> record) { std::atomic_store(&m_instrument, std::move(record)); }
        // Made from the instrument of the first request and kept; null while the
        // entry has no instrument.
        const PermissionSet* getPermissionSet();
        Cpp::Event<>& changed() { return m_changed; }

    protected:
        ~InstrumentData() override = default;

    private:
        std::shared_ptr<const Instrument> m_instrument;
        std::once_flag m_permissionsOnce;
        std::unique_ptr<PermissionSet> m_permissions;
        Cpp::Event<> m_changed;
    };

    InstrumentsTable() = default;

    // Takes the record over. A record that left fields out is completed from the
    // stored one (an update never wipes what it did not carry); any other replaces
    // it. The offer keeps its permission set, event and connections.
    void add(std::unique_ptr<Instrument> record);
    std::shared_ptr<const Instrument> find(const char* offerID) override;
    std::shared_ptr<const Instrument> findByInstrument(const char* symbol);
    // Null for an unknown offer. Lives as long as the table.
    const PermissionSet* findPermissionSet(const char* offerID);
    // The offer's changed event; an unknown offer gets its (empty) entry now, so a
    // later add of its instrument keeps the connections made before.
    Cpp::Event<>& getEventRefChanged(const char* offerID);
    // An unknown symbol gets an event that nothing ever fires.
    Cpp::Event<>& getEventRefChangedByInstrument(const char* symbol);
    void fireChanged(const char* offerID);
    // The offer's changed event, or null while the offer has no entry. Lives as
    // long as the table.
    Cpp::Event<>* findEventChanged(const char* offerID);
    void fireChangedByInstrument(const char* symbol);
    size_t size() const { return m_offers.size(); }
    // Moves on after every add: what was derived from the instruments before an
    // earlier value may be stale.
    uint64_t version() const { return m_version.load(std::memory_order_acquire); }

protected:
    ~InstrumentsTable() override = default;

private:
    // A text held by the symbol map.
    class OfferIDText : public CThreadSafeAddRefImpl {
    public:
        explicit OfferIDText(std::string id) : text(std::move(id)) {}
        const std::string text;

    protected:
        ~OfferIDText() override = default;
    };

    RefPtr<InstrumentData> entry(const char* offerID);
    RefPtr<InstrumentData> entryBySymbol(const char* symbol);

    Mutex m_addMutex;
    std::atomic<uint64_t> m_version{1};
    rl::concurrent_hash_map<InstrumentData> m_offers;
    rl::concurrent_hash_map<OfferIDText> m_symbols;
    Cpp::Event<> m_unknown;
};

} // namespace zel
