#include "core/responses/response_reader_factory.h"

#include <cstdio>
#include <cstring>

#include "core/marketdata/market_data_snapshot_response_reader.h"
#include "core/messages/wire_values.h"
#include "core/responses/account_properties_parser.h"
#include "core/responses/command_response_reader.h"
#include "core/responses/das_message_processor.h"
#include "core/responses/offers_sax_parser.h"
#include "core/responses/properties_response_processor.h"
#include "core/responses/response.h"
#include "core/responses/system_properties.h"
#include "core/responses/table_parsers.h"
#include "vornexpat/xml_parser.h"

namespace zel {

namespace {

// The text of a response, or null for a null response or one that carries none.
const Response* textOf(IZelResponse* response)
{
    return dynamic_cast<const Response*>(response);
}

template <class Reader, class Parser>
Reader* readTable(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    RefPtr<Reader> reader = adoptRef(new Reader());
    Parser parser(reader.get(), nullptr, 0);
    CResultSetTokenizer(text->getResponse()).tokenize(&parser);
    return reader.detach();
}

// The fill mode of the table manager's mode: 1 or 2 put rows into the live table.
int fillMode(const TablesManager& manager)
{
    return static_cast<int>(manager.getMode());
}

// Parses the whole answer into the live table of Row when the manager keeps it.
template <class Row, class Parser>
void fillLiveTable(const RefPtr<TablesManager>& manager, IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text || !manager)
        return;
    RefPtr<ILiveTable<Row>> table = manager->liveTable<Row>();
    if (!table)
        return;
    Parser parser(nullptr, table.get(), fillMode(*manager));
    CResultSetTokenizer(text->getResponse()).tokenize(&parser);
}

} // namespace

// ---- the shared part ----

void ResponseReaderFactory::createOffersTableManagerReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    RefPtr<TablesManager> manager = tableManager();
    if (!text || !manager)
        return;
    RefPtr<ILiveTable<OfferRow>> table = manager->liveTable<OfferRow>();
    if (!table)
        return;
    OfferRowFactory factory(manager->instruments());
    OffersParser parser(factory, nullptr, table.get(), fillMode(*manager));
    CResultSetTokenizer(text->getResponse()).tokenize(&parser);
}

void ResponseReaderFactory::createAccountsTableManagerReader(IZelResponse* response)
{
    fillLiveTable<AccountRow, AccountsParser>(tableManager(), response);
}

void ResponseReaderFactory::createOrdersTableManagerReader(IZelResponse* response)
{
    fillLiveTable<OrderRow, OrdersParser>(tableManager(), response);
}

void ResponseReaderFactory::createTradesTableManagerReader(IZelResponse* response)
{
    fillLiveTable<TradeRow, TradesParser>(tableManager(), response);
}

void ResponseReaderFactory::createClosedTradesTableManagerReader(IZelResponse* response)
{
    fillLiveTable<ClosedTradeRow, ClosedTradesParser>(tableManager(), response);
}

void ResponseReaderFactory::createMessagesTableManagerReader(IZelResponse* response)
{
    fillLiveTable<MessageRow, MessagesParserWithDecoding>(tableManager(), response);
}

void ResponseReaderFactory::setTableManager(TablesManager* manager)
{
    LockGuard<Mutex> lock(m_mutex);
    m_tableManager = RefPtr<TablesManager>(manager);
}

void ResponseReaderFactory::setPriceReaderFactory(ResponseReaderFactory* factory)
{
    RefPtr<TablesManager> manager = tableManager();
    if (factory && factory != this)
        factory->setTableManager(manager.get());
    LockGuard<Mutex> lock(m_mutex);
    m_priceReaderFactory = factory != this ? RefPtr<ResponseReaderFactory>(factory) : nullptr;
}

RefPtr<TablesManager> ResponseReaderFactory::tableManager() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_tableManager;
}

RefPtr<ResponseReaderFactory> ResponseReaderFactory::priceReaderFactory() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_priceReaderFactory;
}

// ---- DAS ----

void DasResponseReaderFactory::setNothingFieldValue(const char* value)
{
    if (!value)
        return;
    LockGuard<Mutex> lock(m_nothingMutex);
    m_nothing = value;
}

std::string DasResponseReaderFactory::getNothingFieldValue() const
{
    LockGuard<Mutex> lock(m_nothingMutex);
    return m_nothing;
}

IZelTablesUpdatesReader* DasResponseReaderFactory::createTablesUpdatesReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    RefPtr<TablesManager> manager = tableManager();
    RefPtr<InstrumentsTable> instruments(manager ? manager->instruments() : nullptr);
    OfferRowFactory factory(instruments.get());
    RefPtr<TablesUpdatesReader> reader = adoptRef(new TablesUpdatesReader());
    const std::string nothing = getNothingFieldValue();
    DasMessageProcessor processor(reader.get(), factory, instruments.get(), nothing.c_str());
    CResultSetTokenizer(text->getResponse()).tokenize(&processor);
    return reader.detach();
}

IZelMarketDataSnapshotResponseReader* DasResponseReaderFactory::createMarketDataSnapshotReader(IZelResponse* response)
{
    auto* history = dynamic_cast<MarketDataSnapshotResponse*>(response);
    if (!history)
        return nullptr;
    double bidAdjustment = 0, askAdjustment = 0;
    if (RefPtr<TablesManager> manager = tableManager()) {
        if (std::shared_ptr<const Instrument> i = manager->instruments()->findByInstrument(history->getInstrument())) {
            bidAdjustment = i->sellAdj;
            askAdjustment = i->buyAdj;
        }
    }
    RefPtr<MarketDataSnapshotResponseReader> reader =
        adoptRef(new MarketDataSnapshotResponseReader(bidAdjustment, askAdjustment, history->getPeriod()));
    MarketRateParser parser(reader.get());
    CResultSetTokenizer(history->getResponse()).tokenize(&parser);
    reader->setLastBarTime(history->getLastBarTime());
    reader->setLastBarVolume(static_cast<int>(history->getLastBarVolume()));
    return reader.detach();
}

IZelOffersTableResponseReader* DasResponseReaderFactory::createOffersTableReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    const ZelResponseType type = response->getType();
    if (type == ZelResponseType::TablesUpdates) {
        if (RefPtr<ResponseReaderFactory> prices = priceReaderFactory())
            return prices->createOffersTableReader(response);
    } else if (type != ZelResponseType::OffersTable) {
        return nullptr;
    }
    RefPtr<TablesManager> manager = tableManager();
    OfferRowFactory factory(manager ? manager->instruments() : nullptr);
    RefPtr<OffersTableResponseReader> reader = adoptRef(new OffersTableResponseReader());
    if (type == ZelResponseType::OffersTable) {
        OffersParser parser(factory, reader.get(), nullptr, 0);
        CResultSetTokenizer(text->getResponse()).tokenize(&parser);
    } else {
        OfferDasMessageProcessor processor(reader.get(), factory);
        CResultSetTokenizer(text->getResponse()).tokenize(&processor);
    }
    return reader.detach();
}

IZelAccountsTableResponseReader* DasResponseReaderFactory::createAccountsTableReader(IZelResponse* response)
{
    return readTable<AccountsTableResponseReader, AccountsParser>(response);
}

IZelOrdersTableResponseReader* DasResponseReaderFactory::createOrdersTableReader(IZelResponse* response)
{
    return readTable<OrdersTableResponseReader, OrdersParser>(response);
}

IZelTradesTableResponseReader* DasResponseReaderFactory::createTradesTableReader(IZelResponse* response)
{
    return readTable<TradesTableResponseReader, TradesParser>(response);
}

IZelClosedTradesTableResponseReader* DasResponseReaderFactory::createClosedTradesTableReader(IZelResponse* response)
{
    return readTable<ClosedTradesTableResponseReader, ClosedTradesParser>(response);
}

IZelMessagesTableResponseReader* DasResponseReaderFactory::createMessagesTableReader(IZelResponse* response)
{
    return readTable<MessagesTableResponseReader, MessagesParser>(response);
}

IZelOrderResponseReader* DasResponseReaderFactory::createOrderResponseReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    RefPtr<OrderResponseReader> reader = adoptRef(new OrderResponseReader());
    OrderResponseProcessor processor(reader.get());
    CResultSetTokenizer(text->getResponse()).tokenize(&processor);
    return reader.detach();
}

IZelLastOrderUpdateResponseReader* DasResponseReaderFactory::createLastOrderUpdateResponseReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    RefPtr<LastOrderUpdateResponseReader> reader = adoptRef(new LastOrderUpdateResponseReader());
    LastOrderUpdatesParser parser(reader.get());
    CResultSetTokenizer(text->getResponse()).tokenize(&parser);
    return reader.detach();
}

IZelCommandResponseReader* DasResponseReaderFactory::createCommandResponseReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    RefPtr<CommandResponseReader> reader = adoptRef(new CommandResponseReader());
    CommandResponseProcessor processor(reader.get());
    CResultSetTokenizer(text->getResponse()).tokenize(&processor);
    return reader.detach();
}

IZelSystemPropertiesReader* DasResponseReaderFactory::createSystemPropertiesReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    if (!text)
        return nullptr;
    return new SystemProperties(PropertiesResponseProcessor(';', '\n').parse(text->getResponse()));
}

bool DasResponseReaderFactory::processMarginRequirementsResponse(IZelResponse* response)
{
    const Response* text = textOf(response);
    RefPtr<TablesManager> manager = tableManager();
    if (!text || !manager || response->getType() != ZelResponseType::MarginRequirements)
        return false;
    AccountPropertiessParser parser(manager->accountsProperties());
    CResultSetTokenizer(text->getResponse()).tokenize(&parser);
    return true;
}

// ---- RTMP ----

IZelOffersTableResponseReader* RTMPResponseReaderFactory::createOffersTableReader(IZelResponse* response)
{
    if (!response)
        return nullptr;
    const ZelResponseType type = response->getType();
    if (type == ZelResponseType::OffersTable) {
        const Response* text = textOf(response);
        if (!text)
            return nullptr;
        RefPtr<TablesManager> manager = tableManager();
        OfferRowFactory factory(manager ? manager->instruments() : nullptr);
        RefPtr<OffersTableResponseReader> reader = adoptRef(new OffersTableResponseReader());
        OffersSAXParser handler(factory, reader.get(), nullptr, 0);
        // A malformed document keeps the offers read before the error.
        (void)XmlParser::Parse(text->getResponse(), text->getResponseLength(), &handler);
        return reader.detach();
    }
    if (type != ZelResponseType::TablesUpdates)
        return nullptr;
    if (RefPtr<ResponseReaderFactory> prices = priceReaderFactory())
        return prices->createOffersTableReader(response);
    auto* level2 = dynamic_cast<Level2MarketDataSnapshotResponse*>(response);
    return level2 && level2->getMDS() ? processMarketDataSnapshot(*level2->getMDS()) : nullptr;
}

void RTMPResponseReaderFactory::createOffersTableManagerReader(IZelResponse* response)
{
    const Response* text = textOf(response);
    RefPtr<TablesManager> manager = tableManager();
    if (!text || !manager)
        return;
    RefPtr<ILiveTable<OfferRow>> table = manager->liveTable<OfferRow>();
    if (!table)
        return;
    OfferRowFactory factory(manager->instruments());
    OffersSAXParser handler(factory, nullptr, table.get(), fillMode(*manager));
    // A malformed document keeps the offers read before the error.
    (void)XmlParser::Parse(text->getResponse(), text->getResponseLength(), &handler);
}

OffersTableResponseReader* RTMPResponseReaderFactory::processMarketDataSnapshot(const CLevel2MarketDataSnapshot& snapshot)
{
    RefPtr<TablesManager> manager = tableManager();
    OfferRowFactory factory(manager ? manager->instruments() : nullptr);
    RefPtr<OffersTableResponseReader> reader = adoptRef(new OffersTableResponseReader());
    for (const auto& data : snapshot.getMarketDatas()) {
        for (const auto& quote : data->getQuotes()) {
            auto offer = std::make_unique<Offer>();
            char id[16];
            std::snprintf(id, sizeof id, "%d", parseWireInt(quote->getOfferId()));
            offer->OfferID = id;
            offer->QuoteID = quote->getQuoteId();
            offer->Volume = static_cast<int32_t>(quote->getVolume());
            offer->Time = quote->getDateTime();
            const auto& ladders = quote->getPriceLadders();
            if (!ladders.empty()) {
                for (const auto& entry : ladders.front()->getPriceEntries()) {
                    const char* tradable = entry->getCondition()[0] == '0' ? "I" : "T";
                    switch (entry->getType()) {
                    case CMDPriceEntry::Bid:
                        offer->rawBid = entry->getRate();
                        offer->BidTradable = tradable;
                        break;
                    case CMDPriceEntry::Ask:
                        offer->rawAsk = entry->getRate();
                        offer->AskTradable = tradable;
                        break;
                    case CMDPriceEntry::Low: offer->Low = entry->getRate(); break;
                    case CMDPriceEntry::High: offer->High = entry->getRate(); break;
                    }
                }
            }
            reader->add(factory.create(std::move(offer), true));
        }
    }
    return reader.detach();
}

} // namespace zel
