#include "core/marketdata/market_data_snapshot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/marketdata/market_data_request_reject.h"
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

struct Entry {
    const char* type;
    const char* price;
    const char* date = "20110315";
    const char* time = "14:30:05";
};

MessagePtr snapshotMessage(int interval, std::initializer_list<Entry> entries, const char* symbol = "EUR/USD")
{
    MessagePtr m(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH));
    m->setValue(IFixDefs::FLDTAG_MDREQID, "md-1");
    m->setValue(IFixDefs::FLDTAG_SYMBOL, symbol);
    m->setIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL, interval);
    m->setIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG, IFixDefs::QORACONTINUOUS_PACKET);
    m->setValue(IFixDefs::FLDTAG_QORASYMID, "1");
    merrow::IFieldGroupList* list = m->createGroupList(IFixDefs::FLDTAG_NOMDENTRIES);
    for (const Entry& e : entries) {
        merrow::IFieldGroup* g = list->appendGroup();
        if (e.type)
            g->setValue(IFixDefs::FLDTAG_MDENTRYTYPE, e.type);
        g->setValue(IFixDefs::FLDTAG_MDENTRYPX, e.price);
        if (e.date)
            g->setValue(IFixDefs::FLDTAG_MDENTRYDATE, e.date);
        if (e.time)
            g->setValue(IFixDefs::FLDTAG_MDENTRYTIME, e.time);
    }
    return m;
}

RefPtr<CMarketDataSnapshot> decodeSnapshot(merrow::IMessage* m)
{
    RefPtr<AFixObject> o(CFixObjectFactory::toObject(m));
    if (!o || o->getKind() != AFixObject::KIND_MARKETDATASNAPSHOT)
        return nullptr;
    return RefPtr<CMarketDataSnapshot>(static_cast<CMarketDataSnapshot*>(o.get()));
}

const double kTime = vorntool::date(2011, 3, 15, 14, 30, 5).getSerial();

TEST(MarketDataSnapshot, TickFromMessage)
{
    MessagePtr m = snapshotMessage(0, {{"0", "1.2345"}, {"1", "1.2347"}, {"7", "1.3"}, {"8", "1.1"}, {"9", "5"}});
    merrow::IFieldGroup* bid = m->getGroupList(IFixDefs::FLDTAG_NOMDENTRIES)->get(0);
    bid->setValue(IFixDefs::FLDTAG_QUOTEENTRYID, "Q-1");
    bid->setValue(IFixDefs::FLDTAG_QUOTECONDITION, "A");
    bid->setIntValue(IFixDefs::FLDTAG_QUOTETYPE, 1);
    bid->setValue(IFixDefs::FLDTAG_EXPIREDATE, "20110316");
    bid->setValue(IFixDefs::FLDTAG_EXPIRETIME, "00:00:00");
    bid->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, "PriceServer");
    bid->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, "");

    RefPtr<CMarketDataSnapshot> s = decodeSnapshot(m.get());
    ASSERT_TRUE(s);
    EXPECT_STREQ(s->getMDReqID(), "md-1");
    EXPECT_STREQ(s->getInstrument(), "EUR/USD");
    EXPECT_STREQ(s->getQORASymID(), "1");
    EXPECT_EQ(s->getContinuousFlag(), IFixDefs::QORACONTINUOUS_PACKET);
    EXPECT_DOUBLE_EQ(s->getBidClose(), 1.2345);
    EXPECT_DOUBLE_EQ(s->getAskClose(), 1.2347);
    EXPECT_DOUBLE_EQ(s->getHigh(), 1.3);
    EXPECT_DOUBLE_EQ(s->getLow(), 1.1);
    EXPECT_DOUBLE_EQ(s->getDateTime(), kTime);
    EXPECT_STREQ(s->getQuoteID(), "Q-1");
    EXPECT_STREQ(s->getBidId(), "Q-1");
    EXPECT_STREQ(s->getAskId(), "");
    EXPECT_STREQ(s->getBidQuoteCondition(), "A");
    EXPECT_EQ(s->getBidQuoteType(), 1);
    EXPECT_EQ(s->getAskQuoteType(), -1) << "no quote type was sent for the ask";
    EXPECT_DOUBLE_EQ(s->getBidExpireDateTime(), vorntool::date(2011, 3, 16).getSerial());
    EXPECT_EQ(s->getAskExpireDateTime(), 0);
    EXPECT_STREQ(s->getTradingSessionID(), "QORA") << "an empty session ID keeps the default";
    EXPECT_STREQ(s->getTradingSessionSubID(), "PriceServer");
    EXPECT_TRUE(s->isValid());
    EXPECT_TRUE(s->isComplete());
}

TEST(MarketDataSnapshot, BarKeepsOnlyBarPricesAndSkipsZeroAndUnknownEntries)
{
    MessagePtr m = snapshotMessage(5, {{"i", "1.1"},
                                       {"j", "1.2"},
                                       {"k", "1.3"},
                                       {"l", "1.0"},
                                       {"0", "9.9"},   // a tick price means nothing in a bar
                                       {"m", "0"},     // zero price
                                       {"zz", "2.0"},  // not one character
                                       {nullptr, "2.0"},
                                       {"n", "1.25", nullptr, nullptr}});
    RefPtr<CMarketDataSnapshot> s = decodeSnapshot(m.get());
    ASSERT_TRUE(s);
    EXPECT_DOUBLE_EQ(s->getBidOpen(), 1.1);
    EXPECT_DOUBLE_EQ(s->getBidClose(), 1.2);
    EXPECT_DOUBLE_EQ(s->getBidHigh(), 1.3);
    EXPECT_DOUBLE_EQ(s->getBidLow(), 1.0);
    EXPECT_EQ(s->getAskOpen(), 0);
    EXPECT_DOUBLE_EQ(s->getAskClose(), 1.25);
    EXPECT_DOUBLE_EQ(s->getDateTime(), kTime) << "an entry without date and time keeps the time";
    EXPECT_STREQ(s->getIntervalString(), "1 hour");
    EXPECT_TRUE(s->isValid()) << "four bid prices make a bar";
}

TEST(MarketDataSnapshot, Validity)
{
    struct Case {
        const char* name;
        int interval;
        double bid[4];  // open, high, low, close
        double ask[4];
        bool valid;
    } cases[] = {
        {"tick with only a bid", 0, {0, 0, 0, 1.2}, {0, 0, 0, 0}, true},
        {"tick with only an ask open", 0, {0, 0, 0, 0}, {1.2, 0, 0, 0}, true},
        {"tick with only a high", 0, {0, 1.3, 0, 0}, {0, 0, 0, 0}, false},
        {"bar with three ask and four bid prices", 1, {1, 1, 1, 1}, {1, 1, 0, 1}, true},
        {"bar with four ask prices", 1, {0, 0, 0, 0}, {1, 1, 1, 1}, true},
        {"bar with three of each", 1, {1, 0, 1, 1}, {1, 1, 1, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RefPtr<CMarketDataSnapshot> s(new CMarketDataSnapshot());
        s->setInstrument("EUR/USD");
        s->setDateTime(kTime);
        s->setInterval(c.interval);
        s->setBidOpen(c.bid[0]);
        s->setBidHigh(c.bid[1]);
        s->setBidLow(c.bid[2]);
        s->setBidClose(c.bid[3]);
        s->setAskOpen(c.ask[0]);
        s->setAskHigh(c.ask[1]);
        s->setAskLow(c.ask[2]);
        s->setAskClose(c.ask[3]);
        EXPECT_EQ(s->isValid(), c.valid);
        s->setDateTime(0);
        EXPECT_FALSE(s->isValid()) << "no time";
        s->setDateTime(kTime);
        s->setInstrument("");
        EXPECT_FALSE(s->isValid()) << "no instrument";
    }
}

TEST(MarketDataSnapshot, IntervalNames)
{
    const struct {
        int interval;
        const char* name;
    } cases[] = {{-1, "custom period"}, {0, "tick"},    {1, "1 minute"}, {2, "5 minutes"},
                 {3, "15 minutes"},     {4, "30 minutes"}, {5, "1 hour"}, {6, "1 day"},
                 {7, "1 week"},         {8, "1 month"}, {9, "1 year"},   {42, ""},
                 {-2, ""}};
    RefPtr<CMarketDataSnapshot> s(new CMarketDataSnapshot());
    for (const auto& c : cases) {
        s->setInterval(c.interval);
        EXPECT_STREQ(s->getIntervalString(), c.name) << c.interval;
    }
}

TEST(MarketDataSnapshot, WrittenBarReadsBackTheSame)
{
    RefPtr<CMarketDataSnapshot> s(new CMarketDataSnapshot());
    s->setInstrument("USD/JPY");
    s->setMDReqID("md-2");
    s->setInterval(6);
    s->setDateTime(kTime);
    s->setQuoteID("Q");
    s->setBidOpen(101.125);
    s->setBidHigh(101.5);
    s->setBidLow(100.75);
    s->setBidClose(101.00001);
    s->setAskClose(101.2);
    MessagePtr m(s->toMessage(nullptr));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getGroupList(IFixDefs::FLDTAG_NOMDENTRIES)->size(), 5) << "zero prices are not written";

    RefPtr<CMarketDataSnapshot> back = decodeSnapshot(m.get());
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->getInstrument(), "USD/JPY");
    EXPECT_STREQ(back->getMDReqID(), "md-2");
    EXPECT_EQ(back->getInterval(), 6);
    EXPECT_DOUBLE_EQ(back->getDateTime(), kTime);
    EXPECT_STREQ(back->getQuoteID(), "Q");
    EXPECT_DOUBLE_EQ(back->getBidOpen(), 101.125);
    EXPECT_DOUBLE_EQ(back->getBidClose(), 101.00001) << "a fractional pip survives the text";
    EXPECT_DOUBLE_EQ(back->getAskClose(), 101.2);
    EXPECT_EQ(back->getAskOpen(), 0);
}

TEST(MarketDataSnapshot, BadFormsDecodeToNothing)
{
    MessagePtr noEntries(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH));
    noEntries->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
    EXPECT_FALSE(decodeSnapshot(noEntries.get()));
    RefPtr<CMarketDataSnapshot> s(new CMarketDataSnapshot());
    MessagePtr other(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATAREQUEST));
    EXPECT_FALSE(s->fill(other.get()));
    EXPECT_FALSE(s->fill(nullptr));
}

TEST(MarketDataRequestReject, ReadsAndWritesItsThreeFields)
{
    MessagePtr m(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT));
    m->setValue(IFixDefs::FLDTAG_MDREQID, "md-3");
    m->setIntValue(IFixDefs::FLDTAG_MDREQREJREASON, IFixDefs::MDREQREJREASON_UNKNOWN_SYMBOL);
    m->setValue(IFixDefs::FLDTAG_TEXT, "Unknown instrument.");
    RefPtr<AFixObject> o(CFixObjectFactory::toObject(m.get()));
    ASSERT_TRUE(o);
    ASSERT_EQ(o->getKind(), AFixObject::KIND_MARKETDATAREQUESTREJECT);
    auto* reject = static_cast<CMarketDataRequestReject*>(o.get());
    EXPECT_STREQ(reject->getMDReqID(), "md-3");
    EXPECT_EQ(reject->getMDReqRejReason(), IFixDefs::MDREQREJREASON_UNKNOWN_SYMBOL);
    EXPECT_STREQ(reject->getText(), "Unknown instrument.");

    m->removeField(IFixDefs::FLDTAG_MDREQREJREASON);
    ASSERT_TRUE(reject->fill(m.get()));
    EXPECT_EQ(reject->getMDReqRejReason(), -1) << "no reason is not reason 0";
    MessagePtr written(reject->toMessage(nullptr));
    ASSERT_TRUE(written);
    EXPECT_FALSE(written->hasField(IFixDefs::FLDTAG_MDREQREJREASON));
    EXPECT_STREQ(written->getValue(IFixDefs::FLDTAG_TEXT), "Unknown instrument.");

    MessagePtr other(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH));
    EXPECT_FALSE(reject->fill(other.get()));
}

} // namespace
} // namespace zel
