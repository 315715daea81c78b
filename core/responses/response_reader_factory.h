#pragma once
// The reader factories of the two protocols. DAS answers are result sets; RTMP
// offers only the offers table (from its XML answer or a level-2 snapshot).
//
// Ownership: reference counted; each holds the table manager (for the instruments
// and account properties) and, once a separate price session exists, the price
// session's factory. Every reader returned holds one reference for the caller.
// [Threading] Any thread; readers are built from the response and the
// instruments table's lock-free lookups.

#include <string>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/marketdata/level2_market_data_snapshot.h"
#include "core/responses/table_response_reader.h"
#include "core/tables/tables_manager.h"
#include "vorntool/add_ref.h"
#include "zel/response_reader_factory.h"

namespace zel {

class ResponseReaderFactory : public TThreadSafeAddRefImpl<IZelResponseReaderFactory> {
public:
    // Set when the session opens its trade desk.
    void setTableManager(TablesManager* manager);
    // The price session's factory; it gets this factory's table manager.
    void setPriceReaderFactory(ResponseReaderFactory* factory);

    // The table-manager readers: each parses a whole table answer into the table
    // manager's live table of that table (no reader, the manager's mode) and
    // returns nothing. Without a table manager, without that live table or
    // without an answer text they do nothing. Messages are always decoded.
    // [Threading] The thread that delivers the answer; rows are added through
    // the live table's own locking.
    virtual void createOffersTableManagerReader(IZelResponse* response);
    virtual void createAccountsTableManagerReader(IZelResponse* response);
    virtual void createOrdersTableManagerReader(IZelResponse* response);
    virtual void createTradesTableManagerReader(IZelResponse* response);
    virtual void createClosedTradesTableManagerReader(IZelResponse* response);
    virtual void createMessagesTableManagerReader(IZelResponse* response);

protected:
    ResponseReaderFactory() = default;
    ~ResponseReaderFactory() override = default;

    RefPtr<TablesManager> tableManager() const;
    RefPtr<ResponseReaderFactory> priceReaderFactory() const;

private:
    mutable Mutex m_mutex;
    RefPtr<TablesManager> m_tableManager ZEL_GUARDED_BY(m_mutex);
    RefPtr<ResponseReaderFactory> m_priceReaderFactory ZEL_GUARDED_BY(m_mutex);
};

class DasResponseReaderFactory : public ResponseReaderFactory {
public:
    DasResponseReaderFactory() = default;

    IZelTablesUpdatesReader* createTablesUpdatesReader(IZelResponse* response) override;
    IZelMarketDataSnapshotResponseReader* createMarketDataSnapshotReader(IZelResponse* response) override;
    IZelOffersTableResponseReader* createOffersTableReader(IZelResponse* response) override;
    IZelAccountsTableResponseReader* createAccountsTableReader(IZelResponse* response) override;
    IZelOrdersTableResponseReader* createOrdersTableReader(IZelResponse* response) override;
    IZelTradesTableResponseReader* createTradesTableReader(IZelResponse* response) override;
    IZelClosedTradesTableResponseReader* createClosedTradesTableReader(IZelResponse* response) override;
    IZelMessagesTableResponseReader* createMessagesTableReader(IZelResponse* response) override;
    IZelOrderResponseReader* createOrderResponseReader(IZelResponse* response) override;
    IZelLastOrderUpdateResponseReader* createLastOrderUpdateResponseReader(IZelResponse* response) override;
    IZelCommandResponseReader* createCommandResponseReader(IZelResponse* response) override;
    IZelSystemPropertiesReader* createSystemPropertiesReader(IZelResponse* response) override;
    bool processMarginRequirementsResponse(IZelResponse* response) override;

    // The marker of an unchanged field in pushed updates; null leaves it.
    void setNothingFieldValue(const char* value);
    std::string getNothingFieldValue() const;

protected:
    ~DasResponseReaderFactory() override = default;

private:
    mutable Mutex m_nothingMutex;
    std::string m_nothing ZEL_GUARDED_BY(m_nothingMutex) = "!=";
};

class RTMPResponseReaderFactory : public ResponseReaderFactory {
public:
    RTMPResponseReaderFactory() = default;

    IZelTablesUpdatesReader* createTablesUpdatesReader(IZelResponse*) override { return nullptr; }
    IZelMarketDataSnapshotResponseReader* createMarketDataSnapshotReader(IZelResponse*) override { return nullptr; }
    IZelOffersTableResponseReader* createOffersTableReader(IZelResponse* response) override;
    IZelAccountsTableResponseReader* createAccountsTableReader(IZelResponse*) override { return nullptr; }
    IZelOrdersTableResponseReader* createOrdersTableReader(IZelResponse*) override { return nullptr; }
    IZelTradesTableResponseReader* createTradesTableReader(IZelResponse*) override { return nullptr; }
    IZelClosedTradesTableResponseReader* createClosedTradesTableReader(IZelResponse*) override { return nullptr; }
    IZelMessagesTableResponseReader* createMessagesTableReader(IZelResponse*) override { return nullptr; }
    IZelOrderResponseReader* createOrderResponseReader(IZelResponse*) override { return nullptr; }
    IZelLastOrderUpdateResponseReader* createLastOrderUpdateResponseReader(IZelResponse*) override { return nullptr; }
    IZelCommandResponseReader* createCommandResponseReader(IZelResponse*) override { return nullptr; }
    IZelSystemPropertiesReader* createSystemPropertiesReader(IZelResponse*) override { return nullptr; }
    bool processMarginRequirementsResponse(IZelResponse*) override { return false; }

    // The offers answer is an XML document; the other tables have no RTMP answer,
    // so their table-manager readers do nothing.
    void createOffersTableManagerReader(IZelResponse* response) override;
    void createAccountsTableManagerReader(IZelResponse*) override {}
    void createOrdersTableManagerReader(IZelResponse*) override {}
    void createTradesTableManagerReader(IZelResponse*) override {}
    void createClosedTradesTableManagerReader(IZelResponse*) override {}
    void createMessagesTableManagerReader(IZelResponse*) override {}

    // Offer rows of every quote of a level-2 snapshot whose instrument is known.
    OffersTableResponseReader* processMarketDataSnapshot(const CLevel2MarketDataSnapshot& snapshot);

protected:
    ~RTMPResponseReaderFactory() override = default;
};

} // namespace zel
