#include "core/marketdata/trading_session_status.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/base/ref_ptr.h"
#include "core/marketdata/trading_session_status_request.h"
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

template <class T>
RefPtr<T> decodeAs(merrow::IMessage* m, int kind)
{
    RefPtr<AFixObject> o(CFixObjectFactory::toObject(m));
    if (!o || o->getKind() != kind)
        return nullptr;
    return RefPtr<T>(static_cast<T*>(o.get()));
}

TEST(TradingSessionStatus, ReadsTheServersMessage)
{
    MessagePtr m(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_TRADINGSESSIONSTATUS));
    m->setValue(IFixDefs::FLDTAG_TRADSESREQID, "ts-1");
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, "Dealing");
    m->setIntValue(IFixDefs::FLDTAG_TRADSESMODE, 2);
    m->setIntValue(IFixDefs::FLDTAG_TRADSESSTATUS, TradingSessionStatusOpen);
    m->setValue(IFixDefs::FLDTAG_TRADSESOPENTIME, "20110315-14:30:05");
    m->setValue(IFixDefs::FLDTAG_TRADSESSTARTTIME, "20110315");
    m->setValue(IFixDefs::FLDTAG_TEXT, "open");
    m->setIntValue(IFixDefs::FLDTAG_QORASERVERTIMEZONE, -300);
    merrow::IFieldGroup* c = m->createGroupList(IFixDefs::FLDTAG_NORELATEDSYM)->appendGroup();
    c->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
    c->setValue(IFixDefs::FLDTAG_CURRENCY, "EUR");
    c->setIntValue(IFixDefs::FLDTAG_QORASYMPRECISION, 5);
    c->setValue(IFixDefs::FLDTAG_QORASYMID, "1");
    c->setIntValue(IFixDefs::FLDTAG_ROUNDLOT, 1000);
    merrow::IFieldGroupList* params = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    for (const char* name : {"BASE_CRNCY", "BASE_CRNCY"}) {
        merrow::IFieldGroup* p = params->appendGroup();
        p->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, name);
        p->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, params->size() == 1 ? "USD" : "EUR");
    }

    RefPtr<CTradingSessionStatus> s = decodeAs<CTradingSessionStatus>(m.get(), AFixObject::KIND_TRADINGSESSIONSTATUS);
    ASSERT_TRUE(s);
    EXPECT_STREQ(s->getTradSesReqID(), "ts-1");
    EXPECT_STREQ(s->getTradingSessionID(), "QORA");
    EXPECT_STREQ(s->getTradingSessionSubID(), "Dealing");
    EXPECT_EQ(s->getTradSesMode(), 2);
    EXPECT_EQ(s->getTradSesStatus(), TradingSessionStatusOpen);
    EXPECT_DOUBLE_EQ(s->getTradSesOpenTime(), vorntool::date(2011, 3, 15, 14, 30, 5).getSerial());
    EXPECT_DOUBLE_EQ(s->getTradSesStartTime(), vorntool::date(2011, 3, 15).getSerial()) << "a date without a time";
    EXPECT_EQ(s->getTradSesCloseTime(), 0);
    EXPECT_STREQ(s->getText(), "open");
    EXPECT_EQ(s->getQORAServerTimeZone(), -300);
    ASSERT_EQ(s->getCurrencyCount(), 1);
    EXPECT_STREQ(s->getCurrency(0)->getSymbol(), "EUR/USD");
    EXPECT_STREQ(s->getCurrency(0)->getCurrency(), "EUR");
    EXPECT_EQ(s->getCurrency(0)->getPrecision(), 5);
    EXPECT_STREQ(s->getCurrency(0)->getID(), "1");
    EXPECT_EQ(s->getCurrency(0)->getRoundLot(), 1000);
    EXPECT_EQ(s->getCurrency(1), nullptr);
    ASSERT_EQ(s->getParamCount(), 2) << "parameters are kept as listed, repeats too";
    EXPECT_STREQ(s->getParamName(1), "BASE_CRNCY");
    EXPECT_STREQ(s->getParam(1), "EUR");
    EXPECT_STREQ(s->getParam("BASE_CRNCY"), "USD");
    EXPECT_EQ(s->getParam(2), nullptr);
}

TEST(TradingSessionStatus, WrittenStatusReadsBackTheSame)
{
    RefPtr<CTradingSessionStatus> s(new CTradingSessionStatus());
    s->setTradSesReqID("ts-2");
    s->setTradSesStatus(TradingSessionStatusClosed);
    s->setTradSesCloseTime(vorntool::date(2012, 3, 7, 9, 5, 7).getSerial());
    s->setTransactTime(vorntool::date(2012, 3, 7, 9, 5, 0).getSerial());
    s->addCurrency(std::make_unique<CCurrency>("USD/JPY", "USD", 3, "2", 100000.0));
    MessagePtr m(s->toMessage(nullptr));
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->getValue(IFixDefs::FLDTAG_TRADSESCLOSETIME), "20120307-09:05:07");
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_TRADSESOPENTIME)) << "a time of 0 is not sent";
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_QORANOPARAM));

    RefPtr<CTradingSessionStatus> back = decodeAs<CTradingSessionStatus>(m.get(), AFixObject::KIND_TRADINGSESSIONSTATUS);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->getTradSesReqID(), "ts-2");
    EXPECT_EQ(back->getTradSesStatus(), TradingSessionStatusClosed);
    EXPECT_DOUBLE_EQ(back->getTradSesCloseTime(), s->getTradSesCloseTime());
    EXPECT_DOUBLE_EQ(back->getTransactTime(), s->getTransactTime());
    EXPECT_EQ(back->getParamCount(), 0);
    ASSERT_EQ(back->getCurrencyCount(), 1);
    EXPECT_EQ(back->getCurrency(0)->getPrecision(), 3);
    EXPECT_EQ(back->getCurrency(0)->getRoundLot(), 100000.0);

    m->setMsgType(IFixDefs::MSGTYPE_TRADINGSESSIONSTATUSREQUEST);
    EXPECT_FALSE(back->fill(m.get()));
}

TEST(TradingSessionStatusRequest, RoundTripAndBadForms)
{
    RefPtr<CTradingSessionStatusRequest> r(new CTradingSessionStatusRequest());
    r->setTradSesReqID("tr-1");
    r->setTradingSessionSubID("Dealing");
    r->setSubscriptionRequestType(SubscriptionRequestSubscribe);
    MessagePtr m(r->toMessage(nullptr));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE), IFixDefs::SUBSCRIPTIONREQUESTTYPE_SUBSCRIBE);

    RefPtr<CTradingSessionStatusRequest> back =
        decodeAs<CTradingSessionStatusRequest>(m.get(), AFixObject::KIND_TRADINGSESSIONSTATUSREQUEST);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->getTradSesReqID(), "tr-1");
    EXPECT_STREQ(back->getTradingSessionID(), "QORA");
    EXPECT_STREQ(back->getTradingSessionSubID(), "Dealing");
    EXPECT_EQ(back->getSubscriptionRequestType(), SubscriptionRequestSubscribe);

    m->setIntValue(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE, 7);
    EXPECT_EQ(CFixObjectFactory::toObject(m.get()), nullptr) << "an unknown subscription type";
    m->removeField(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE);
    EXPECT_EQ(CFixObjectFactory::toObject(m.get()), nullptr);

    r->setSubscriptionRequestType(static_cast<ESubscriptionRequestType>(5));
    EXPECT_EQ(r->toMessage(nullptr), nullptr) << "a type outside the enumeration renders nothing";
}

} // namespace
} // namespace zel
