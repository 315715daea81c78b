#include "core/marketdata/level2_market_data_snapshot.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/base/ref_ptr.h"
#include "core/messages/fix_object_factory.h"
#include "merrow/fix_defs.h"
#include "vorntool/date.h"

namespace zel {
namespace {

using merrow::IFixDefs;

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

void addEntry(merrow::IFieldGroupList* list, const char* type, double rate, double amount, const char* condition)
{
    merrow::IFieldGroup* e = list->appendGroup();
    e->setValue(IFixDefs::FLDTAG_MDENTRYTYPE, type);
    e->setDoubleValue(IFixDefs::FLDTAG_MDENTRYPX, rate);
    e->setDoubleValue(IFixDefs::FLDTAG_QORAMDENTRYAMOUNT, amount);
    e->setValue(IFixDefs::FLDTAG_QUOTECONDITION, condition);
}

// One originator with two quotes: EUR/USD with a ladder of bid, volume (skipped) and
// ask entries, and USD/JPY whose time is 0 and whose ladder is empty.
MessagePtr level2Message()
{
    MessagePtr m(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARTMPMARKETDATASNAPSHOT));
    merrow::IFieldGroup* origin = m->createGroupList(IFixDefs::FLDTAG_NOMDENTRIES)->appendGroup();
    origin->setValue(IFixDefs::FLDTAG_QORAMDORIGINATOR, "LP1");
    origin->setIntValue(IFixDefs::FLDTAG_MDREQID, 42);
    merrow::IFieldGroupList* quotes = origin->createGroupList(IFixDefs::FLDTAG_QORAMDQUOTES);

    merrow::IFieldGroup* q = quotes->appendGroup();
    q->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
    q->setIntValue(IFixDefs::FLDTAG_QORAMDQUOTEDATETIME, 1300199405);  // 2011-03-15 14:30:05 UTC
    q->setValue(IFixDefs::FLDTAG_QUOTEENTRYID, "Q-1");
    q->setDoubleValue(IFixDefs::FLDTAG_QORAMDQUOTEEXPIREDATETIME, 1300233600.75);  // whole seconds count
    q->setIntValue(static_cast<int>(IFixDefs::MDENTRYTYPE_VOLUME), 1500);
    q->setValue(IFixDefs::FLDTAG_QORASYMID, "1");
    merrow::IFieldGroup* ladder = q->createGroupList(IFixDefs::FLDTAG_QORAMDPRICELADDERS)->appendGroup();
    ladder->setValue(IFixDefs::FLDTAG_QORAMDLADDERID, "L1");
    merrow::IFieldGroupList* entries = ladder->createGroupList(IFixDefs::FLDTAG_QORAMDENTRYLIST);
    addEntry(entries, "0", 1.2345, 1e6, "A");
    addEntry(entries, "B", 9, 9, "");
    addEntry(entries, "1", 1.2347, 2e6, "");
    addEntry(entries, "8", 1.1, 0, "");

    merrow::IFieldGroup* jpy = quotes->appendGroup();
    jpy->setValue(IFixDefs::FLDTAG_SYMBOL, "USD/JPY");
    jpy->setIntValue(IFixDefs::FLDTAG_QORAMDQUOTEDATETIME, 0);
    jpy->setValue(IFixDefs::FLDTAG_QORAMDQUOTEEXPIREDATETIME, "-5");
    jpy->createGroupList(IFixDefs::FLDTAG_QORAMDPRICELADDERS)->appendGroup();
    return m;
}

TEST(Level2MarketDataSnapshot, BuildsTheTree)
{
    MessagePtr m = level2Message();
    RefPtr<AFixObject> o(CFixObjectFactory::toObject(m.get()));
    ASSERT_TRUE(o);
    ASSERT_EQ(o->getKind(), AFixObject::KIND_LEVEL2MARKETDATASNAPSHOT);
    const auto& datas = static_cast<CLevel2MarketDataSnapshot*>(o.get())->getMarketDatas();
    ASSERT_EQ(datas.size(), 1u);
    EXPECT_STREQ(datas[0]->getOriginator(), "LP1");
    EXPECT_EQ(datas[0]->getSequenceNumber(), 42);
    const auto& quotes = datas[0]->getQuotes();
    ASSERT_EQ(quotes.size(), 2u);

    const CMDQuote& eur = *quotes[0];
    EXPECT_STREQ(eur.getCurrency(), "EUR/USD");
    EXPECT_STREQ(eur.getQuoteId(), "Q-1");
    EXPECT_STREQ(eur.getOfferId(), "1");
    EXPECT_EQ(eur.getVolume(), 1500);
    EXPECT_DOUBLE_EQ(eur.getDateTime(), vorntool::date(2011, 3, 15, 14, 30, 5).getSerial());
    EXPECT_DOUBLE_EQ(eur.getExpirationDateTime(), vorntool::date(2011, 3, 16).getSerial());
    ASSERT_EQ(eur.getPriceLadders().size(), 1u);
    const CMDPriceLadder& ladder = *eur.getPriceLadders()[0];
    EXPECT_STREQ(ladder.getId(), "L1");
    const auto& entries = ladder.getPriceEntries();
    ASSERT_EQ(entries.size(), 3u) << "the entry of an unknown type is skipped, the others kept";
    EXPECT_EQ(entries[0]->getType(), CMDPriceEntry::Bid);
    EXPECT_DOUBLE_EQ(entries[0]->getRate(), 1.2345);
    EXPECT_DOUBLE_EQ(entries[0]->getAmount(), 1e6);
    EXPECT_STREQ(entries[0]->getCondition(), "A");
    EXPECT_EQ(entries[1]->getType(), CMDPriceEntry::Ask);
    EXPECT_EQ(entries[2]->getType(), CMDPriceEntry::Low);

    const CMDQuote& jpy = *quotes[1];
    EXPECT_EQ(jpy.getDateTime(), 0) << "a quote time of 0 is no date";
    EXPECT_EQ(jpy.getExpirationDateTime(), 0);
    EXPECT_EQ(jpy.getVolume(), 0);
    ASSERT_EQ(jpy.getPriceLadders().size(), 1u);
    EXPECT_TRUE(jpy.getPriceLadders()[0]->getPriceEntries().empty());
}

TEST(Level2MarketDataSnapshot, TimesAreSecondsSince1970)
{
    MessagePtr m = level2Message();
    RefPtr<CLevel2MarketDataSnapshot> s(new CLevel2MarketDataSnapshot());
    ASSERT_TRUE(s->fill(m.get()));
    const CMDQuote& eur = *s->getMarketDatas()[0]->getQuotes()[0];
    EXPECT_DOUBLE_EQ(eur.getDateTime(), vorntool::date(2011, 3, 15, 14, 30, 5).getSerial());
    EXPECT_DOUBLE_EQ(eur.getExpirationDateTime(), vorntool::date(2011, 3, 16).getSerial()) << "whole seconds";
    EXPECT_EQ(s->getMarketDatas()[0]->getQuotes()[1]->getExpirationDateTime(), 0) << "below 1: no date";
    merrow::IFieldGroup* q = m->getGroupList(IFixDefs::FLDTAG_NOMDENTRIES)->get(0)->getGroupList(IFixDefs::FLDTAG_QORAMDQUOTES)->get(0);
    q->setValue(IFixDefs::FLDTAG_QORAMDQUOTEDATETIME, "1300199405");  // the same as a text
    q->setIntValue(IFixDefs::FLDTAG_QORAMDQUOTEEXPIREDATETIME, 300000000000);  // past the last date
    ASSERT_TRUE(s->fill(m.get()));
    EXPECT_DOUBLE_EQ(s->getMarketDatas()[0]->getQuotes()[0]->getDateTime(), vorntool::date(2011, 3, 15, 14, 30, 5).getSerial());
    EXPECT_EQ(s->getMarketDatas()[0]->getQuotes()[0]->getExpirationDateTime(), 0);
}

TEST(Level2MarketDataSnapshot, TextForTheLog)
{
    MessagePtr m = level2Message();
    RefPtr<CLevel2MarketDataSnapshot> s(new CLevel2MarketDataSnapshot());
    ASSERT_TRUE(s->fill(m.get()));
    EXPECT_EQ(s->toString(),
              "MD: originator = LP1; sequenceNumber = 42\n"
              "--== Quote: currency = EUR/USD; quoteId = Q-1\n"
              "     bid = 1.2345 (amount = 1000000; condition = A)\n"
              "     ask = 1.2347 (amount = 2000000; condition = )\n"
              "     low = 1.1 (amount = 0; condition = )\n"
              "--== Quote: currency = USD/JPY; quoteId = ");
    RefPtr<CLevel2MarketDataSnapshot> empty(new CLevel2MarketDataSnapshot());
    EXPECT_EQ(empty->toString(), "");
}

TEST(Level2MarketDataSnapshot, BadFormsDecodeToNothing)
{
    MessagePtr noGroup(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARTMPMARKETDATASNAPSHOT));
    EXPECT_EQ(CFixObjectFactory::toObject(noGroup.get()), nullptr);
    // The group under the tag is a text, not a list.
    noGroup->setValue(IFixDefs::FLDTAG_NOMDENTRIES, "3");
    EXPECT_EQ(CFixObjectFactory::toObject(noGroup.get()), nullptr);

    RefPtr<CLevel2MarketDataSnapshot> s(new CLevel2MarketDataSnapshot());
    MessagePtr m = level2Message();
    ASSERT_TRUE(s->fill(m.get()));
    m->setMsgType(IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH);
    EXPECT_FALSE(s->fill(m.get()));
    EXPECT_TRUE(s->getMarketDatas().empty()) << "a failed fill leaves nothing of an earlier one";
}

} // namespace
} // namespace zel
