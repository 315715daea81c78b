// Refreshing a live table: the request, the answer loaded as a whole (the table then
// equals the answer), and the table's status with its events. The Summary status
// follows the Trades status; the Orders table asks once per account.

#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/responses/response_reader_factory.h"
#include "core/tables/tables_manager.h"
#include "zel/request.h"
#include "zel/request_factory.h"

namespace zel {

namespace {

// Waits for the answers of one refresh. Holds one reference of itself while
// subscribed to the session, released when its last answer or failure arrives.
// [Threading] Callbacks on the transport's callback thread; refresh() on the caller's.
class RefreshListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    RefreshListener(TablesManager* manager, ZelTable table) : m_manager(manager), m_table(table) {}

    // accountID: the account an Orders request is for, so that its answer replaces
    // that account's orders only; empty for the other tables.
    void expect(const char* requestID, const char* accountID)
    {
        LockGuard<Mutex> lock(m_mutex);
        m_pending.emplace_back(requestID ? requestID : "", accountID ? accountID : "");
    }

    void onRequestCompleted(const char* requestID, IZelResponse* response) override
    {
        std::string account;
        bool last = false;
        if (!take(requestID, account, last))
            return;
        if (!load(response, account)) {
            // Nothing could be read: the table is not what the server holds, and
            // saying Refreshed would hide that.
            {
                LockGuard<Mutex> lock(m_mutex);
                m_pending.clear();
            }
            finish(ZelTableStatus::Failed);
            return;
        }
        if (last)
            finish(ZelTableStatus::Refreshed);
    }
    void onRequestFailed(const char* requestID, const char*) override
    {
        std::string account;
        bool last = false;
        if (!take(requestID, account, last))
            return;
        {
            LockGuard<Mutex> lock(m_mutex);
            m_pending.clear();
        }
        finish(ZelTableStatus::Failed);
    }
    void onTablesUpdates(IZelResponse*) override {}

    void finish(ZelTableStatus status)
    {
        RefPtr<IZelResponseListener> self(this);  // the session may drop its reference now
        if (IZelSession* session = m_manager->getSession())
            session->unsubscribeResponse(this);
        m_manager->setTableStatus(m_table, status);
        if (m_table == ZelTable::Trades)
            m_manager->setTableStatus(ZelTable::Summary, status);
    }

protected:
    ~RefreshListener() override = default;

private:
    bool take(const char* requestID, std::string& account, bool& last)
    {
        if (requestID == nullptr)
            return false;
        LockGuard<Mutex> lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (it->first == requestID) {
                account = it->second;
                m_pending.erase(it);
                last = m_pending.empty();
                return true;
            }
        }
        return false;
    }

    template <class Table, class Read>
    void reload(Table* table, Read read, const std::string& account)
    {
        if (table == nullptr)
            return;
        table->beginReload();
        // A parse that failed part way removes nothing: the answer was not whole.
        try {
            read();
        } catch (...) {
            table->abandonReload();
            return;
        }
        using Row = typename Table::RowType;
        if constexpr (std::is_same_v<Row, OrderRow>) {
            if (!account.empty()) {
                table->endReload([&account](Row* row) { return row->record().AccountID == account; });
                return;
            }
        }
        table->endReload();
    }

    // False when the answer could not be read at all (no session, no readers).
    bool load(IZelResponse* response, const std::string& account)
    {
        RefPtr<IZelResponseReaderFactory> factory = m_manager->readerFactory();
        auto* readers = dynamic_cast<ResponseReaderFactory*>(factory.get());
        if (readers == nullptr)
            return false;
        switch (m_table) {
        case ZelTable::Offers:
            reload(m_manager->getOffers().get(), [&] { readers->createOffersTableManagerReader(response); }, account);
            break;
        case ZelTable::Accounts:
            reload(m_manager->getAccounts().get(), [&] { readers->createAccountsTableManagerReader(response); },
                   account);
            break;
        case ZelTable::Orders:
            reload(m_manager->getOrders().get(), [&] { readers->createOrdersTableManagerReader(response); }, account);
            break;
        case ZelTable::Trades:
            reload(m_manager->getTrades().get(), [&] { readers->createTradesTableManagerReader(response); }, account);
            break;
        case ZelTable::ClosedTrades:
            reload(m_manager->getClosedTrades().get(),
                   [&] { readers->createClosedTradesTableManagerReader(response); }, account);
            break;
        case ZelTable::Messages:
            reload(m_manager->getMessages().get(), [&] { readers->createMessagesTableManagerReader(response); },
                   account);
            break;
        default:
            break;
        }
        return true;
    }

    RefPtr<TablesManager> m_manager;
    const ZelTable m_table;
    Mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_pending ZEL_GUARDED_BY(m_mutex);
};

} // namespace

void TablesManager::setTableStatus(ZelTable table, ZelTableStatus status)
{
    switch (table) {
    case ZelTable::Offers:
        if (auto t = getOffers())
            t->setStatus(status);
        break;
    case ZelTable::Accounts:
        if (auto t = getAccounts())
            t->setStatus(status);
        break;
    case ZelTable::Orders:
        if (auto t = getOrders())
            t->setStatus(status);
        break;
    case ZelTable::Trades:
        if (auto t = getTrades())
            t->setStatus(status);
        break;
    case ZelTable::ClosedTrades:
        if (auto t = getClosedTrades())
            t->setStatus(status);
        break;
    case ZelTable::Messages:
        if (auto t = getMessages())
            t->setStatus(status);
        break;
    case ZelTable::Summary:
        if (auto t = getSummary())
            t->setStatus(status);
        break;
    }
}

void TablesManager::refreshTable(ZelTable table)
{
    if (table == ZelTable::Summary)
        return;  // calculated here, never asked for
    IZelSession* session = getSession();
    if (session == nullptr)
        return;
    setTableStatus(table, ZelTableStatus::Refreshing);
    RefPtr<IZelRequestFactory> factory(session->getRequestFactory(), RefPtr<IZelRequestFactory>::adopt);
    if (!factory) {
        setTableStatus(table, ZelTableStatus::Failed);
        return;
    }
    RefPtr<RefreshListener> listener = adoptRef(new RefreshListener(this, table));
    std::vector<RefPtr<IZelRequest>> requests;
    if (table == ZelTable::Orders) {
        RefPtr<AccountsTable> accounts = getAccounts();
        if (!accounts || accounts->size() == 0) {
            setTableStatus(table, ZelTableStatus::Failed);
            return;
        }
        bool failed = false;
        accounts->forEach([&](AccountRow* account) {
            if (failed || std::strtol(account->record().AccountKind.c_str(), nullptr, 10) == 38)
                return;
            RefPtr<IZelRequest> request(
                factory->createRefreshTableRequestByAccount(ZelTable::Orders, account->record().AccountID.c_str()),
                RefPtr<IZelRequest>::adopt);
            if (!request) {
                failed = true;
                return;
            }
            listener->expect(request->getRequestID(), account->record().AccountID.c_str());
            requests.push_back(std::move(request));
        });
        if (failed || requests.empty()) {
            setTableStatus(table, ZelTableStatus::Failed);
            return;
        }
    } else {
        RefPtr<IZelRequest> request(factory->createRefreshTableRequest(table), RefPtr<IZelRequest>::adopt);
        if (!request) {
            setTableStatus(table, ZelTableStatus::Failed);
            return;
        }
        listener->expect(request->getRequestID(), nullptr);
        requests.push_back(std::move(request));
    }
    if (table == ZelTable::Trades)
        setTableStatus(ZelTable::Summary, ZelTableStatus::Refreshing);
    session->subscribeResponse(listener.get());
    for (const RefPtr<IZelRequest>& request : requests)
        session->sendRequest(request.get());
}

} // namespace zel
