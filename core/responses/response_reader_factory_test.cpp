#include "core/responses/response_reader_factory.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/responses/response.h"
#include "core/responses/response_factory.h"
#include "core/session/session_test_support.h"

namespace zel {
namespace {

RefPtr<IZelResponse> response(ZelResponseType type, const char* text)
{
    return adoptRef<IZelResponse>(new Response(type, "R1", text));
}

class ReaderFactories : public ::testing::Test {
protected:
    ReaderFactories()
    {
        auto eur = std::make_unique<Instrument>();
        eur->offerID = "1";
        eur->symbol = "EUR/USD";
        eur->sellAdj = 0.0001;
        eur->buyAdj = 0.0002;
        manager->instruments()->add(std::move(eur));
        das->setTableManager(manager.get());
        rtmp->setTableManager(manager.get());
    }

    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    RefPtr<DasResponseReaderFactory> das = adoptRef(new DasResponseReaderFactory());
    RefPtr<RTMPResponseReaderFactory> rtmp = adoptRef(new RTMPResponseReaderFactory());
};

TEST_F(ReaderFactories, DasOffersByResponseType)
{
    RefPtr<IZelOffersTableResponseReader> table =
        adoptRef(das->createOffersTableReader(response(ZelResponseType::OffersTable, "0\n1;Q1;;;;1.1;1.2\n9;Q9\n").get()));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->size(), 1);
    RefPtr<IZelOffersTableResponseReader> pushed = adoptRef(das->createOffersTableReader(
        response(ZelResponseType::TablesUpdates, "0;01052026103005\nORDER;I;O1\nOFFER;U;1;Q2;;;;1.3;1.4\n").get()));
    ASSERT_TRUE(pushed);
    ASSERT_EQ(pushed->size(), 1);
    RefPtr<IZelOfferRow> row = adoptRef(pushed->getRow(0));
    EXPECT_NEAR(row->getBid(), 1.3001, 1e-12);
    EXPECT_EQ(das->createOffersTableReader(response(ZelResponseType::CommandResponse, "0").get()), nullptr);
    EXPECT_EQ(das->createOffersTableReader(nullptr), nullptr);
}

TEST_F(ReaderFactories, DasTableReadersReadWhateverTheType)
{
    RefPtr<IZelOrdersTableResponseReader> orders =
        adoptRef(das->createOrdersTableReader(response(ZelResponseType::Unknown, "0\nO1\nO2\n").get()));
    EXPECT_EQ(orders->size(), 2);
    RefPtr<IZelMessagesTableResponseReader> messages = adoptRef(
        das->createMessagesTableReader(response(ZelResponseType::Unknown, "0\nM1;;;;;;;<HTML-DATA>x</HTML-DATA>\n").get()));
    RefPtr<IZelMessageRow> message = adoptRef(messages->getRow(0));
    EXPECT_STREQ(message->getText(), "<HTML-DATA>x</HTML-DATA>") << "the messages reader keeps the text as sent";
    RefPtr<IZelAccountsTableResponseReader> accounts =
        adoptRef(das->createAccountsTableReader(response(ZelResponseType::AccountsTable, "0").get()));
    ASSERT_TRUE(accounts);
    EXPECT_EQ(accounts->size(), 0) << "no rows: empty, not null";
    EXPECT_EQ(das->createTradesTableReader(nullptr), nullptr);
}

TEST_F(ReaderFactories, DasCommandsPropertiesUpdatesAndMargins)
{
    RefPtr<IZelCommandResponseReader> command =
        adoptRef(das->createCommandResponseReader(response(ZelResponseType::CommandResponse, "0").get()));
    EXPECT_TRUE(command->isSuccessful());
    RefPtr<IZelOrderResponseReader> order =
        adoptRef(das->createOrderResponseReader(response(ZelResponseType::OrderResponse, "0\nO7;N").get()));
    EXPECT_STREQ(order->getOrderID(), "O7");
    RefPtr<IZelSystemPropertiesReader> props =
        adoptRef(das->createSystemPropertiesReader(response(ZelResponseType::SystemProperties, "0\nA;1;\n").get()));
    EXPECT_STREQ(props->findProperty("A"), "1");
    EXPECT_EQ(das->createSystemPropertiesReader(nullptr), nullptr);

    RefPtr<IZelTablesUpdatesReader> updates = adoptRef(das->createTablesUpdatesReader(
        response(ZelResponseType::TablesUpdates, "0;01052026103005\nOFFER;U;1;Q\nTRADE;I;T1\n").get()));
    ASSERT_EQ(updates->size(), 2);
    EXPECT_EQ(updates->getUpdateTable(1), ZelTable::Trades);

    EXPECT_FALSE(das->processMarginRequirementsResponse(response(ZelResponseType::CommandResponse, "0\nP;1;1;2;3").get()));
    EXPECT_TRUE(das->processMarginRequirementsResponse(response(ZelResponseType::MarginRequirements, "0\nP;1;1;2;3").get()));
    ASSERT_NE(manager->accountsProperties()->find("P", "1"), nullptr);
    EXPECT_EQ(manager->accountsProperties()->find("P", "1")->margin3, 3);
}

TEST_F(ReaderFactories, DasHistoryTakesTheInstrumentsAdjustments)
{
    RefPtr<IZelResponse> history = adoptRef<IZelResponse>(new MarketDataSnapshotResponse(
        "H1", "EUR/USD", 1, 46000.5, 17, "20260105-10:00:00;1;1.1;1.2;0.9;2;2.1;2.2;1.9;5\n20260105-10:01:00;1;1.2;1.3;1;2;2.2;2.3;2;6"));
    RefPtr<IZelMarketDataSnapshotResponseReader> r = adoptRef(das->createMarketDataSnapshotReader(history.get()));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), 2);
    EXPECT_TRUE(r->isBar());
    EXPECT_NEAR(r->getBidClose(0), 1.1001, 1e-12);
    EXPECT_NEAR(r->getAskClose(0), 2.1002, 1e-12);
    EXPECT_EQ(r->getVolume(1), 6) << "oldest first, as answered";
    EXPECT_EQ(r->getLastBarTime(), 46000.5);
    EXPECT_EQ(r->getLastBarVolume(), 17);
    EXPECT_EQ(das->createMarketDataSnapshotReader(response(ZelResponseType::MarketDataSnapshot, "").get()), nullptr)
        << "only the price-history response";
}

// A live table that keeps what the parsers give it.
template <class Row>
class KeptTable : public TThreadSafeAddRefImpl<ILiveTable<Row>> {
public:
    void add(Row* row) override { rows.emplace_back(row); }
    std::vector<RefPtr<Row>> rows;
};

template <class Row>
RefPtr<KeptTable<Row>> keepTable(TablesManager& manager)
{
    RefPtr<KeptTable<Row>> table = adoptRef(new KeptTable<Row>());
    manager.setLiveTable<Row>(table.get());
    return table;
}

TEST_F(ReaderFactories, TableManagerReadersFillOnlyTheLiveTablesTheManagerKeeps)
{
    manager->setMode(ZelTableManagerMode::TableManagerOnly);
    RefPtr<KeptTable<OfferRow>> offers = keepTable<OfferRow>(*manager);
    RefPtr<KeptTable<TradeRow>> trades = keepTable<TradeRow>(*manager);
    RefPtr<KeptTable<MessageRow>> messages = keepTable<MessageRow>(*manager);

    das->createOffersTableManagerReader(response(ZelResponseType::OffersTable, "0\n1;Q1;;;;1.1;1.2\n9;Q9\n").get());
    ASSERT_EQ(offers->rows.size(), 1u) << "the unknown instrument 9 is dropped";
    EXPECT_STREQ(offers->rows[0]->getInstrument(), "EUR/USD");
    das->createTradesTableManagerReader(response(ZelResponseType::TradesTable, "0\nT1;;;;A1\nT2;;;;A2\n").get());
    ASSERT_EQ(trades->rows.size(), 2u);
    EXPECT_FALSE(trades->rows[0]->isReaderRow());
    das->createMessagesTableManagerReader(
        response(ZelResponseType::MessagesTable, "0\nM1;;;;;;;<HTML-DATA>x</HTML-DATA>\n").get());
    ASSERT_EQ(messages->rows.size(), 1u);
    EXPECT_STREQ(messages->rows[0]->getText(), "x") << "the table's messages are decoded";
    EXPECT_TRUE(messages->rows[0]->getHTMLFragmentFlag());

    // Tables the manager does not keep, missing texts and other factories: nothing.
    das->createOrdersTableManagerReader(response(ZelResponseType::OrdersTable, "0\nO1\n").get());
    das->createTradesTableManagerReader(nullptr);
    EXPECT_EQ(trades->rows.size(), 2u);
    RefPtr<DasResponseReaderFactory> alone = adoptRef(new DasResponseReaderFactory());
    alone->createTradesTableManagerReader(response(ZelResponseType::TradesTable, "0\nT3\n").get());
    EXPECT_EQ(trades->rows.size(), 2u);

    rtmp->createOffersTableManagerReader(
        response(ZelResponseType::OffersTable, "<Offers><Pair QORASymId=\"1\" BidPx=\"1.5\"/></Offers>").get());
    ASSERT_EQ(offers->rows.size(), 2u) << "RTMP offers come from the XML answer";
    EXPECT_DOUBLE_EQ(offers->rows[1]->getBid(), 1.5001);
    rtmp->createTradesTableManagerReader(response(ZelResponseType::TradesTable, "0\nT3\n").get());
    EXPECT_EQ(trades->rows.size(), 2u);

    // Without the manager's table mode, rows go nowhere.
    manager->setMode(ZelTableManagerMode::NoTableManager);
    das->createTradesTableManagerReader(response(ZelResponseType::TradesTable, "0\nT3\n").get());
    EXPECT_EQ(trades->rows.size(), 2u);
    manager->setLiveTable<TradeRow>(nullptr);
    EXPECT_FALSE(manager->liveTable<TradeRow>());
}

TEST_F(ReaderFactories, RtmpOffersOnly)
{
    RefPtr<IZelResponse> any = response(ZelResponseType::OffersTable, "<Offers><Pair QORASymId=\"1\" BidPx=\"1.5\"/></Offers>");
    RefPtr<IZelOffersTableResponseReader> offers = adoptRef(rtmp->createOffersTableReader(any.get()));
    ASSERT_TRUE(offers);
    EXPECT_EQ(offers->size(), 1);
    EXPECT_EQ(rtmp->createOrdersTableReader(any.get()), nullptr);
    EXPECT_EQ(rtmp->createCommandResponseReader(any.get()), nullptr);
    EXPECT_EQ(rtmp->createSystemPropertiesReader(any.get()), nullptr);
    EXPECT_EQ(rtmp->createTablesUpdatesReader(any.get()), nullptr);
    EXPECT_FALSE(rtmp->processMarginRequirementsResponse(any.get()));

    // A level-2 snapshot: quotes of known offers become rows, with their time.
    testing::MessagePtr m = testing::newMessage(testing::Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT);
    merrow::IFieldGroup* origin = m->createGroupList(testing::Fx::FLDTAG_NOMDENTRIES)->appendGroup();
    merrow::IFieldGroupList* quotes = origin->createGroupList(testing::Fx::FLDTAG_QORAMDQUOTES);
    for (const char* id : {"1", "5"}) {
        merrow::IFieldGroup* q = quotes->appendGroup();
        q->setValue(testing::Fx::FLDTAG_QORASYMID, id);
        q->setValue(testing::Fx::FLDTAG_QUOTEENTRYID, "Q");
        q->setValue(testing::Fx::FLDTAG_QORAMDQUOTEDATETIME, "20260105-10:00:00");
        merrow::IFieldGroupList* entries =
            q->createGroupList(testing::Fx::FLDTAG_QORAMDPRICELADDERS)->appendGroup()->createGroupList(
                testing::Fx::FLDTAG_QORAMDENTRYLIST);
        merrow::IFieldGroup* bid = entries->appendGroup();
        const char type[2] = {testing::Fx::MDENTRYTYPE_BID, 0};
        bid->setValue(testing::Fx::FLDTAG_MDENTRYTYPE, type);
        bid->setDoubleValue(testing::Fx::FLDTAG_MDENTRYPX, 1.25);
        bid->setValue(testing::Fx::FLDTAG_QUOTECONDITION, "0A");
    }
    RefPtr<IZelResponse> l2 = adoptRef(ResponseFactory::createResponseFromMessage(m.get()));
    ASSERT_TRUE(l2);
    RefPtr<IZelOffersTableResponseReader> fromQuotes = adoptRef(rtmp->createOffersTableReader(l2.get()));
    ASSERT_TRUE(fromQuotes);
    ASSERT_EQ(fromQuotes->size(), 1) << "offer 5 has no instrument";
    RefPtr<IZelOfferRow> row = adoptRef(fromQuotes->getRow(0));
    EXPECT_NEAR(row->getBid(), 1.2501, 1e-12);
    EXPECT_STREQ(row->getBidTradable(), "I");
    EXPECT_GT(row->getTime(), 0.0) << "the quote's time is kept";
}

} // namespace
} // namespace zel
