#pragma once
// TGenericTables: one live table of the table manager (offers, accounts, orders,
// trades, closed trades, messages or the summary), its rows in a concurrent row map
// keyed by column 0. Every change runs the table's calculation first (what the other
// tables derive from it) and then tells the application's listeners.
//
// Ownership: reference counted; the table manager holds one reference of each table.
// The map holds one reference of each row. Listeners are held by their connection
// (one reference each) until unsubscribed and no call to them is under way.
// [Threading] Readers (size, getRow, getNextRow, findRow, cells) take no lock.
// Writers (add, update, remove, reloads) hold the manager's write lock for the whole
// change, calculations and listeners included, so changes of all tables apply one at
// a time and calculations see the tables at rest.
// [Exceptions] A listener's exception is caught at the boundary and dropped; the
// other listeners still run.

#include <atomic>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/tables/columns.h"
#include "core/tables/concurrent_hash_map.h"
#include "core/tables/event.h"
#include "core/tables/live_table.h"
#include "core/tables/row_compare.h"
#include "core/tables/rows.h"
#include "zel/tables.h"

namespace zel {

// What a table's calculation does when its rows change. Runs on the writer's thread
// under the manager's write lock, before the application hears of the change.
template <class Row>
class ITableCalculation {
public:
    virtual void rowAdded(Row* row) = 0;
    virtual void rowChanged(Row* row, Row* old) = 0;
    virtual void rowDeleted(Row* row) = 0;

protected:
    ~ITableCalculation() = default;
};

// The part of a table that does not depend on its row class.
class TableOwner {
public:
    // The lock that serialises changes to all tables of one manager.
    virtual RecursiveMutex& writeMutex() = 0;
    // Sends the refresh request of a table; the table passes itself.
    virtual void refreshTable(ZelTable table) = 0;

protected:
    ~TableOwner() = default;
};

// The application's listeners of one kind of change. Firing runs on the applying
// thread under the manager's write lock and reads a cached copy of the list,
// refreshed only when a subscription changed: no lock and no reference count per
// call. Subscribing and unsubscribing lock a small mutex and never wait for a call:
// an unsubscribed listener is skipped from then on and released once the applying
// thread has let go of the copy that held it.
class TableListenerList {
public:
    using Call = void (IZelTableListener::*)(const char*, IZelRow*);

    void add(IZelTableListener* listener)
    {
        auto slot = std::make_shared<Slot>();
        slot->listener = RefPtr<IZelTableListener>(listener);
        LockGuard<Mutex> lock(m_mutex);
        auto next = std::make_shared<std::vector<std::shared_ptr<Slot>>>(*m_list);
        next->push_back(std::move(slot));
        m_list = std::move(next);
        m_version.fetch_add(1, std::memory_order_release);
    }
    void remove(IZelTableListener* listener)
    {
        LockGuard<Mutex> lock(m_mutex);
        auto next = std::make_shared<std::vector<std::shared_ptr<Slot>>>(*m_list);
        for (auto it = next->begin(); it != next->end(); ++it) {
            if ((*it)->listener.get() == listener) {
                (*it)->active.store(false, std::memory_order_release);
                next->erase(it);
                m_list = std::move(next);
                m_version.fetch_add(1, std::memory_order_release);
                return;
            }
        }
    }
    void clear()
    {
        LockGuard<Mutex> lock(m_mutex);
        for (const auto& slot : *m_list)
            slot->active.store(false, std::memory_order_release);
        m_list = std::make_shared<std::vector<std::shared_ptr<Slot>>>();
        m_version.fetch_add(1, std::memory_order_release);
    }
    // Only on the applying thread, under the manager's write lock. A listener's
    // exception stops at this boundary; the others still run.
    void fire(Call call, const char* id, IZelRow* row)
    {
        const uint64_t version = m_version.load(std::memory_order_acquire);
        if (version != m_cachedVersion) {
            LockGuard<Mutex> lock(m_mutex);
            // A fire further up this thread's stack may still walk the old copy.
            if (m_firing > 0)
                m_retired.push_back(std::move(m_cache));
            m_cache = m_list;
            m_cachedVersion = version;
        }
        const std::vector<std::shared_ptr<Slot>>& list = *m_cache;
        if (list.empty())
            return;
        // No reference count per call: the copy stays alive (in m_cache or
        // m_retired) until the outermost fire returns.
        ++m_firing;
        for (const std::shared_ptr<Slot>& slot : list) {
            if (!slot->active.load(std::memory_order_acquire))
                continue;
            try {
                (slot->listener.get()->*call)(id, row);
            } catch (...) {
            }
        }
        if (--m_firing == 0 && !m_retired.empty())
            m_retired.clear();
    }

private:
    struct Slot {
        RefPtr<IZelTableListener> listener;
        std::atomic<bool> active{true};
    };
    Mutex m_mutex;
    std::shared_ptr<const std::vector<std::shared_ptr<Slot>>> m_list ZEL_GUARDED_BY(m_mutex) =
        std::make_shared<std::vector<std::shared_ptr<Slot>>>();
    std::atomic<uint64_t> m_version{0};
    // The applying thread's copy.
    std::shared_ptr<const std::vector<std::shared_ptr<Slot>>> m_cache =
        std::make_shared<std::vector<std::shared_ptr<Slot>>>();
    uint64_t m_cachedVersion = 0;
    // Nesting of fire on the applying thread, and the copies replaced meanwhile.
    int m_firing = 0;
    std::vector<std::shared_ptr<const std::vector<std::shared_ptr<Slot>>>> m_retired;
};

template <class ITable, class Row>
class TGenericTables final : public TThreadSafeAddRefImpl<ITable>, public ILiveTable<Row> {
public:
    using RowType = Row;
    using IRow = std::remove_pointer_t<decltype(std::declval<ITable&>().getRow(0))>;
    static constexpr ZelTable kTable = Row::kTable;

    explicit TGenericTables(TableOwner* owner)
        : m_owner(owner), m_columns(ColumnsFactory::getInst()->getColumnsForTable(kTable), RefPtr<TableColumnCollection>::adopt)
    {
        m_rows.insert_event().connect(m_rows.subscription_scope(), this, &TGenericTables::onMapInsert);
        m_rows.update_event().connect(m_rows.subscription_scope(), this, &TGenericTables::onMapUpdate);
        m_rows.erase_event().connect(m_rows.subscription_scope(), this, &TGenericTables::onMapErase);
    }

    long addRef() override { return TThreadSafeAddRefImpl<ITable>::addRef(); }
    long release() override { return TThreadSafeAddRefImpl<ITable>::release(); }

    // ---- IZelTable ----
    int size() override { return static_cast<int>(m_rows.size()); }
    IZelTableColumnCollection* columns() override
    {
        m_columns->addRef();
        return m_columns.get();
    }
    const void* getCell(int row, int column) override
    {
        const Column* c = m_columns->getColumn(column);
        RefPtr<Row> r = row >= 0 ? m_rows.get(static_cast<size_t>(row)) : RefPtr<Row>();
        // The pointer lives as long as the row; the map keeps it at least until the
        // row is replaced, as the interface says.
        return c != nullptr && r ? c->getCell(r.get()) : nullptr;
    }
    bool isCellValid(int row, int column) override
    {
        const Column* c = m_columns->getColumn(column);
        RefPtr<Row> r = row >= 0 ? m_rows.get(static_cast<size_t>(row)) : RefPtr<Row>();
        if (c == nullptr || !r)
            return false;
        if constexpr (std::is_same_v<Row, OfferRow>)
            return r->isValid(column);
        return true;
    }
    ZelTable tableType() override { return kTable; }

    void subscribeUpdate(ZelTableUpdateType type, IZelTableListener* listener) override
    {
        switch (type) {
        case ZelTableUpdateType::Insert:
            subscribe(Kind::Added, listener);
            break;
        case ZelTableUpdateType::Update:
            subscribe(Kind::Changed, listener);
            break;
        case ZelTableUpdateType::Delete:
            subscribe(Kind::Deleted, listener);
            break;
        default:
            break;
        }
    }
    void unsubscribeUpdate(ZelTableUpdateType type, IZelTableListener* listener) override
    {
        switch (type) {
        case ZelTableUpdateType::Insert:
            unsubscribe(Kind::Added, listener);
            break;
        case ZelTableUpdateType::Update:
            unsubscribe(Kind::Changed, listener);
            break;
        case ZelTableUpdateType::Delete:
            unsubscribe(Kind::Deleted, listener);
            break;
        default:
            break;
        }
    }
    void subscribeStatus(IZelTableListener* listener) override { subscribe(Kind::Status, listener); }
    void unsubscribeStatus(IZelTableListener* listener) override { unsubscribe(Kind::Status, listener); }
    void subscribeEachRow(IZelTableListener* listener) override { subscribe(Kind::EachRow, listener); }
    void unsubscribeEachRow(IZelTableListener* listener) override { unsubscribe(Kind::EachRow, listener); }
    ZelTableStatus getStatus() override { return m_status.load(std::memory_order_acquire); }
    void refresh() override { m_owner->refreshTable(kTable); }
    void fireEachRow() override
    {
        if (m_eachRow.empty())
            return;
        m_rows.for_each([this](const char* key, Row* row) { m_eachRow.fire(key, static_cast<IRow*>(row)); });
    }
    bool isCellChanged(int row, int column) override
    {
        const Column* c = m_columns->getColumn(column);
        RefPtr<Row> r = row >= 0 ? m_rows.get(static_cast<size_t>(row)) : RefPtr<Row>();
        return c != nullptr && r && c->isCellChanged(r.get());
    }

    // ---- typed ----
    IRow* getRow(int index) override
    {
        if (index < 0)
            return nullptr;
        return m_rows.get(static_cast<size_t>(index)).detach();
    }
    bool getNextRow(IZelTableIterator& iterator, IRow*& row) override
    {
        typename rl::concurrent_hash_map<Row>::position pos{iterator.cell, iterator.slot, iterator.item};
        RefPtr<Row> out;
        const bool found = m_rows.next(pos, out);
        iterator.cell = pos.cell;
        iterator.slot = pos.slot;
        iterator.item = pos.item;
        row = out.detach();
        return found;
    }
    bool findRow(const char* id, IRow*& row) override
    {
        row = m_rows.find(id).detach();
        return row != nullptr;
    }

    // ---- internal ----
    // The row of that identifier with a reference, or null; for calculations.
    RefPtr<Row> find(const char* id) const { return m_rows.find(id); }
    // Calls fn(row) with the row of that identifier, valid for the call only.
    template <class F>
    bool visit(const char* id, F&& fn) const
    {
        return m_rows.visit(id, std::forward<F>(fn));
    }
    template <class F>
    void forEach(F&& fn) const
    {
        m_rows.for_each([&fn](const char*, Row* row) { fn(row); });
    }

    // Takes the row (a reference of the table's own; the caller keeps its reference).
    // A stored identifier is replaced as an update: the calculations follow the new
    // row and the change listeners hear of it.
    void add(Row* row) override
    {
        if (row == nullptr)
            return;
        prepareTableRow(*row);
        const char* key = keyOf(row);
        LockGuard<RecursiveMutex> lock(m_owner->writeMutex());
        if (m_reloading)
            m_seen.insert(key);
        if (m_rows.contains(key))
            m_rows.update(key, row);
        else
            m_rows.insert(key, row);
    }
    void update(Row* row)
    {
        if (row == nullptr)
            return;
        prepareTableRow(*row);
        LockGuard<RecursiveMutex> lock(m_owner->writeMutex());
        m_rows.update(keyOf(row), row);
    }
    void remove(Row* row)
    {
        if (row == nullptr)
            return;
        remove(keyOf(row));
    }
    void remove(const char* id)
    {
        LockGuard<RecursiveMutex> lock(m_owner->writeMutex());
        m_rows.erase(id);
    }

    // Tells the change listeners of a row whose calculated cells moved.
    void fireRowChanged(Row* row) { m_changed.fire(&IZelTableListener::onChanged, keyOf(row), static_cast<IRow*>(row)); }

    void setStatus(ZelTableStatus status)
    {
        m_status.store(status, std::memory_order_release);
        m_statusEvent.fire(status);
    }
    void setCalculation(ITableCalculation<Row>* calculation) { m_calculation = calculation; }

    // A whole-table load (a refresh answer) runs between these two: every row added
    // meanwhile is remembered, rows whose cells equal the stored row's announce
    // nothing, and endReload removes (with a deleted event) every row the answer
    // did not carry, so the table equals the answer.
    void beginReload() ZEL_TSA(no_thread_safety_analysis)
    {
        m_owner->writeMutex().lock();
        m_reloading = true;
        m_seen.clear();
    }
    void endReload()
    {
        endReload([](Row*) { return true; });
    }
    // As endReload, removing only the unseen rows that belong to the answer
    // (belongs(row) is true): an Orders answer covers one account.
    template <class Belongs>
    void endReload(Belongs belongs) ZEL_TSA(no_thread_safety_analysis)
    {
        std::vector<std::string> gone;
        m_rows.for_each([&](const char* key, Row* row) {
            if (m_seen.count(key) == 0 && belongs(row))
                gone.emplace_back(key);
        });
        m_reloading = false;
        m_seen.clear();
        for (const std::string& key : gone)
            m_rows.erase(key.c_str());
        m_owner->writeMutex().unlock();
    }

    // Ends a reload without removing anything.
    void abandonReload() ZEL_TSA(no_thread_safety_analysis)
    {
        m_reloading = false;
        m_seen.clear();
        m_owner->writeMutex().unlock();
    }

    size_t tableBytes() const { return m_rows.table_bytes(); }

protected:
    ~TGenericTables() override
    {
        // The listeners go first: none may run while the rows are taken down.
        m_scope.disconnectAll();
        m_added.clear();
        m_changed.clear();
        m_deleted.clear();
        m_rows.subscription_scope().disconnectAll();
    }

private:
    enum class Kind { Added, Changed, Deleted, Status, EachRow };
    struct Subscription {
        Kind kind;
        IZelTableListener* listener;
        Cpp::ConnectionRef connection;
    };

public:
    static const char* keyOf(Row* row) { return cellValue(row->record().*firstColumn()); }
    static auto firstColumn()
    {
        if constexpr (std::is_same_v<Row, OfferRow> || std::is_same_v<Row, SummariesRow>)
            return &Row::RecordType::OfferID;
        else if constexpr (std::is_same_v<Row, AccountRow>)
            return &Row::RecordType::AccountID;
        else if constexpr (std::is_same_v<Row, OrderRow>)
            return &Row::RecordType::OrderID;
        else if constexpr (std::is_same_v<Row, MessageRow>)
            return &Row::RecordType::MsgID;
        else
            return &Row::RecordType::TradeID;
    }

private:
    // The map's events, on the writer's thread with the row's cell locked.
    void onMapInsert(const char* key, Row* row)
    {
        if (m_calculation)
            m_calculation->rowAdded(row);
        m_added.fire(&IZelTableListener::onAdded, key, static_cast<IRow*>(row));
    }
    void onMapUpdate(const char* key, Row* row, Row* old)
    {
        if (m_calculation)
            m_calculation->rowChanged(row, old);
        const bool changed = markChangedCells(*row, *old);
        // Accounts, and every table during a reload, announce only real changes.
        if (changed || (!m_reloading && kTable != ZelTable::Accounts))
            m_changed.fire(&IZelTableListener::onChanged, key, static_cast<IRow*>(row));
    }
    void onMapErase(const char* key, Row* row)
    {
        if (m_calculation)
            m_calculation->rowDeleted(row);
        m_deleted.fire(&IZelTableListener::onDeleted, key, static_cast<IRow*>(row));
    }

    void subscribe(Kind kind, IZelTableListener* listener)
    {
        if (listener == nullptr)
            return;
        RefPtr<IZelTableListener> held(listener);
        Cpp::ConnectionRef connection;
        switch (kind) {
        case Kind::Added:
            m_added.add(listener);
            return;
        case Kind::Changed:
            m_changed.add(listener);
            return;
        case Kind::Deleted:
            m_deleted.add(listener);
            return;
        case Kind::Status:
            connection = m_statusEvent.connect(m_scope, [held](ZelTableStatus status) {
                try {
                    held->onStatusChanged(status);
                } catch (...) {
                }
            });
            break;
        case Kind::EachRow:
            connection = m_eachRow.connect(m_scope, [held](const char* id, IZelRow* row) {
                try {
                    held->onEachRow(id, row);
                } catch (...) {
                }
            });
            break;
        }
        LockGuard<Mutex> lock(m_subscriptionsMutex);
        m_subscriptions.push_back(Subscription{kind, listener, std::move(connection)});
    }
    void unsubscribe(Kind kind, IZelTableListener* listener)
    {
        switch (kind) {
        case Kind::Added:
            m_added.remove(listener);
            return;
        case Kind::Changed:
            m_changed.remove(listener);
            return;
        case Kind::Deleted:
            m_deleted.remove(listener);
            return;
        default:
            break;
        }
        Cpp::ConnectionRef connection;
        {
            LockGuard<Mutex> lock(m_subscriptionsMutex);
            for (auto it = m_subscriptions.begin(); it != m_subscriptions.end(); ++it) {
                if (it->kind == kind && it->listener == listener) {
                    connection = std::move(it->connection);
                    m_subscriptions.erase(it);
                    break;
                }
            }
        }
        // The connection holds the listener; a call under way keeps it alive.
        if (connection)
            connection->disconnect();
    }

    TableOwner* const m_owner;
    RefPtr<TableColumnCollection> m_columns;
    std::atomic<ZelTableStatus> m_status{ZelTableStatus::Initial};
    ITableCalculation<Row>* m_calculation = nullptr;
    bool m_reloading = false;  // under the write lock
    std::unordered_set<std::string> m_seen;
    Cpp::Event<ZelTableStatus> m_statusEvent;
    TableListenerList m_added;
    TableListenerList m_changed;
    TableListenerList m_deleted;
    Cpp::Event<const char*, IZelRow*> m_eachRow;
    Mutex m_subscriptionsMutex;
    std::vector<Subscription> m_subscriptions ZEL_GUARDED_BY(m_subscriptionsMutex);
    Cpp::ConnectionScope m_scope;
    // Last: destroyed first, while the events above still exist.
    rl::concurrent_hash_map<Row> m_rows;
};

} // namespace zel
