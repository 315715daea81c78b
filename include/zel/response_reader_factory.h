#pragma once
// Turns a response into a reader of its kind. The session hands out the factory of
// its protocol (IZelSession::getResponseReaderFactory) once Connected.
//
// Ownership: each create returns a new reader holding one reference for the
// caller, or null when the factory has no reader of that kind or the response does
// not fit (a null response included). The factory lives as long as its session.
// [Threading] Any thread; usually the transport's callback thread that delivered
// the response. Readers are built from the response alone (and the instruments the
// session knows), never from other readers.

#include "vorntool/add_ref.h"
#include "zel/command_response_reader.h"
#include "zel/market_data_snapshot_reader.h"
#include "zel/response.h"
#include "zel/system_properties_reader.h"
#include "zel/table_readers.h"
#include "zel/zel_export.h"

class ZEL_API IZelResponseReaderFactory : public IAddRef {
public:
    virtual IZelTablesUpdatesReader* createTablesUpdatesReader(IZelResponse* response) = 0;
    virtual IZelMarketDataSnapshotResponseReader* createMarketDataSnapshotReader(IZelResponse* response) = 0;
    virtual IZelOffersTableResponseReader* createOffersTableReader(IZelResponse* response) = 0;
    virtual IZelAccountsTableResponseReader* createAccountsTableReader(IZelResponse* response) = 0;
    virtual IZelOrdersTableResponseReader* createOrdersTableReader(IZelResponse* response) = 0;
    virtual IZelTradesTableResponseReader* createTradesTableReader(IZelResponse* response) = 0;
    virtual IZelClosedTradesTableResponseReader* createClosedTradesTableReader(IZelResponse* response) = 0;
    virtual IZelMessagesTableResponseReader* createMessagesTableReader(IZelResponse* response) = 0;
    virtual IZelOrderResponseReader* createOrderResponseReader(IZelResponse* response) = 0;
    virtual IZelLastOrderUpdateResponseReader* createLastOrderUpdateResponseReader(IZelResponse* response) = 0;
    virtual IZelCommandResponseReader* createCommandResponseReader(IZelResponse* response) = 0;
    virtual IZelSystemPropertiesReader* createSystemPropertiesReader(IZelResponse* response) = 0;
    // Applies a margin-requirements response to the session's account properties;
    // false when the response is of another kind.
    virtual bool processMarginRequirementsResponse(IZelResponse* response) = 0;

protected:
    IZelResponseReaderFactory() = default;
    ~IZelResponseReaderFactory() override = default;
};
