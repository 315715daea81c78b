#include "core/requests/order_request_factory.h"

#include <gtest/gtest.h>

#include <clocale>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/requests/das_request_factory.h"
#include "core/requests/message_builder.h"
#include "core/requests/request.h"
#include "core/requests/request_factory_test_support.h"
#include "core/requests/value_map.h"

namespace zel {
namespace {

using P = ZelRequestParamsEnum;
using factory_testing::IdIssuingSession;

// One parameter of a value map: a text, an integer or a double.
struct Set {
    P param;
    std::variant<const char*, int, double> value;
};

RefPtr<ValueMap> makeMap(const std::vector<Set>& sets)
{
    RefPtr<ValueMap> m = adoptRef(new ValueMap());
    for (const Set& s : sets) {
        if (auto* t = std::get_if<const char*>(&s.value))
            m->setString(s.param, *t);
        else if (auto* i = std::get_if<int>(&s.value))
            m->setInt(s.param, *i);
        else
            m->setDouble(s.param, std::get<double>(s.value));
    }
    return m;
}

// "Name=value;..." in wire order.
std::string paramsOf(IZelRequest* request)
{
    auto* c = dynamic_cast<CommandRequest*>(request);
    if (!c)
        return "<not a command>";
    std::string out;
    for (int i = 0; i < c->getParamCount(); ++i) {
        if (i)
            out += ';';
        out += std::string(c->getParamName(i)) + "=" + c->getParamValue(i);
    }
    return out;
}

int commandOf(IZelRequest* request)
{
    auto* c = dynamic_cast<CommandRequest*>(request);
    return c ? c->getCommandID() : -1;
}

RefPtr<CommandRequest> childOf(IZelRequest* request, int index)
{
    return adoptRef(dynamic_cast<CommandRequest*>(request->getChildRequest(index)));
}

class OrderBuilding : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(session.outstandingIDs(), 0) << "request identifiers not handed back"; }

    // The request, with the last error checked to be empty.
    RefPtr<IZelRequest> build(IZelValueMap* map)
    {
        RefPtr<IZelRequest> r = adoptRef(factory->createOrderRequest(map));
        if (r) {
            EXPECT_STREQ(factory->getLastError(), "");
        }
        return r;
    }

    IdIssuingSession session;
    RefPtr<DasRequestFactory> factory = adoptRef(new DasRequestFactory(&session));
};

// The common order fields.
const Set kOffer{P::OfferID, "1"};
const Set kAccount{P::AccountID, "A1"};
const Set kBuy{P::BuySell, "B"};
const Set kSell{P::BuySell, "S"};
const Set kAmount{P::Amount, 1000};
const Set kRate{P::Rate, 1.2345};
const Set kTrade{P::TradeID, "T1"};
const Set kRange1{P::RateMin, 1.2};
const Set kRange2{P::RateMax, 1.3};

Set cmd(const char* c)
{
    return {P::Command, c};
}
Set type(const char* t)
{
    return {P::OrderType, t};
}

struct SingleCase {
    const char* name;
    std::vector<Set> sets;
    int command;
    const char* params;  // expected wire fields, or null when the build fails
    const char* error = nullptr;  // expected last error when it fails
};

TEST_F(OrderBuilding, SingleOrdersAndCommands)
{
    const SingleCase cases[] = {
        {"market open with everything optional",
         {cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy, kAmount, {P::TimeInForce, "GTC"},
          {P::CustomID, "c1"}, {P::ClientRate, 1.5}, {P::RateStop, 1.1}, {P::RateLimit, 1.3}},
         34,
         "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;GTC=GTC;QTXT=c1;CLIENTRATE=1.500000;RateS=1.100000;"
         "RateL=1.300000"},
        {"command and type in any case", {cmd("createorder"), type("om"), kOffer, kAccount, kSell, kAmount}, 34,
         "Stage=O;OfferID=1;AcctID=A1;BuySell=S;Quantity=1000"},
        {"open at a rate", {cmd("CreateOrder"), type("O"), kOffer, kAccount, kBuy, kAmount, kRate}, 34,
         "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.234500"},
        {"open within a range puts the range first",
         {cmd("CreateOrder"), type("OR"), kOffer, kAccount, kBuy, kAmount, kRange1, kRange2}, 34,
         "Stage=O;Rate2=1.200000;RATE3=1.300000;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000"},
        {"close a trade", {cmd("CreateOrder"), type("CM"), kOffer, kAccount, kTrade, kSell, kAmount}, 34,
         "Stage=C;OfferID=1;AcctID=A1;TradeID=T1;BuySell=S;Quantity=1000"},
        {"net-quantity close stands in for trade and amount",
         {cmd("CreateOrder"), type("CM"), kOffer, kAccount, kSell, {P::NetQuantity, "Y"}}, 34,
         "Stage=O;OfferID=1;AcctID=A1;NET_QTY_FLG=Y;BuySell=S"},
        {"close at a rate, net flag other than Y keeps the close stage",
         {cmd("CreateOrder"), type("C"), kOffer, kAccount, kSell, kRate, {P::NetQuantity, "y"}}, 34,
         "Stage=C;OfferID=1;AcctID=A1;NET_QTY_FLG=y;BuySell=S;Rate=1.234500"},
        {"close within a range",
         {cmd("CreateOrder"), type("CR"), kOffer, kAccount, kTrade, kSell, kAmount, kRange1, kRange2}, 34,
         "Stage=C;Rate2=1.200000;RATE3=1.300000;OfferID=1;AcctID=A1;BuySell=S;Quantity=1000;TradeID=T1"},
        {"limit entry to buy sells below", {cmd("CreateOrder"), type("LE"), kOffer, kAccount, kBuy, kAmount, kRate},
         34, "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.234500;Side=-1"},
        {"limit entry to sell", {cmd("CreateOrder"), type("LE"), kOffer, kAccount, kSell, kAmount, kRate}, 34,
         "Stage=O;OfferID=1;AcctID=A1;BuySell=S;Quantity=1000;Rate=1.234500;Side=1"},
        {"stop entry to buy with its own and its stop's trailing and a pegged stop",
         {cmd("CreateOrder"), type("SE"), kOffer, kAccount, kBuy, kAmount, kRate, {P::TrailStep, 10},
          {P::TrailStepStop, 5}, {P::PegTypeStop, "M"}, {P::PegOffsetStop, 20}, {P::ContingencyGroupType, 1}},
         34,
         "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.234500;Side=1;TrailUpdatePips=10;"
         "CONTINGENCY_TYPE=1;TrailUpdatePipsS=5;PEG_TYPES=1;PRICE_OFFSET_PIPS_S=20"},
        {"lower-case b counts as sell", {cmd("CreateOrder"), type("SE"), kOffer, kAccount, {P::BuySell, "b"}, kAmount, kRate},
         34, "Stage=O;OfferID=1;AcctID=A1;BuySell=b;Quantity=1000;Rate=1.234500;Side=-1"},
        {"limit on a trade", {cmd("CreateOrder"), type("L"), kOffer, kAccount, kTrade, kBuy, kAmount, kRate}, 34,
         "Stage=C;OfferID=1;AcctID=A1;TradeID=T1;BuySell=B;Quantity=1000;Side=-1;Rate=1.234500"},
        {"pegged trailing stop on a trade",
         {cmd("CreateOrder"), type("S"), kOffer, kAccount, kTrade, kSell, kAmount, {P::TrailStep, 5},
          {P::PegType, "O"}, {P::PegOffset, 3}},
         34,
         "Stage=C;OfferID=1;AcctID=A1;TradeID=T1;BuySell=S;Quantity=1000;Side=-1;TrailUpdatePips=5;PEG_TYPE=0;"
         "PRICE_OFFSET_PIPS=3"},
        {"edit", {cmd("EditOrder"), {P::OrderID, "O1"}, kAccount, {P::Amount, 500}, kRate, {P::CustomID, "x"}}, 20,
         "OrderID=O1;AcctID=A1;Quantity=500;QTXT=x;Rate=1.234500"},
        {"edit to a pegged price", {cmd("EditOrder"), {P::OrderID, "O1"}, kAccount, {P::PegType, "M"}, {P::PegOffset, -2}},
         20, "OrderID=O1;AcctID=A1;PEG_TYPE=1;PRICE_OFFSET_PIPS=-2"},
        {"delete", {cmd("DeleteOrder"), {P::OrderID, "O1"}, kAccount}, 19, "OrderID=O1"},
        {"subscription", {cmd("SetSubscriptionStatus"), kOffer, {P::SubscriptionStatus, "T"}}, 24, "OfferID=1;Status=T"},
        {"remove from a group", {cmd("RemoveFromContingencyGroup"), {P::OrderID, "O1"}, kAccount}, 131,
         "OrderID=O1;AcctID=A1"},
        {"join without children is a single group change",
         {cmd("JoinToNewContingencyGroup"), {P::ContingencyGroupType, 1}}, 131, "CONTINGENCY_TYPE=1"},
        {"margin requirements", {cmd("UpdateMarginRequirements"), kAccount}, 138, ""},
        {"last order update",
         {cmd("GetLastOrderUpdate"), {P::LookupKey, "OrderID"}, {P::LookupValue, "O7"}, {P::AccountName, "acc"}}, 117,
         "AcctReportID=acc;ReportID=acc;OrderID=O7"},

        {"no command", {type("OM")}, 0, nullptr, "The required parameter 'Command' must be specified"},
        {"empty command", {cmd("")}, 0, nullptr, "The required parameter 'Command' must be specified"},
        {"unknown command", {cmd("CreateOrders")}, 0, nullptr, "Command 'CreateOrders' does not exist."},
        {"no order type", {cmd("CreateOrder"), kOffer}, 0, nullptr, "The required parameter 'OrderType' must be specified"},
        {"unknown order type", {cmd("CreateOrder"), type("SL")}, 0, nullptr, "Order type 'SL' does not exist."},
        {"missing amount", {cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy}, 0, nullptr,
         "The required parameter 'Amount' must be specified"},
        {"close without trade or net flag names the trade", {cmd("CreateOrder"), type("CM"), kOffer, kAccount, kSell, kAmount},
         0, nullptr, "The required parameter 'TradeID' must be specified"},
        {"range without its top", {cmd("CreateOrder"), type("OR"), kOffer, kAccount, kBuy, kAmount, kRange1}, 0, nullptr,
         "The required parameter 'RateMax' must be specified"},
        {"stop as rate and peg", {cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy, kAmount, {P::RateStop, 1.1}, {P::PegTypeStop, "M"}},
         0, nullptr, "Either 'RateStop' or both 'PegTypeStop' and 'PegOffsetStop' must be specified."},
        {"limit peg without offset", {cmd("CreateOrder"), type("LE"), kOffer, kAccount, kBuy, kAmount, kRate, {P::PegTypeLimit, "O"}},
         0, nullptr, "'PegOffsetLimit' must be specified."},
        {"stop offset without peg type", {cmd("CreateOrder"), type("O"), kOffer, kAccount, kBuy, kAmount, kRate, {P::PegOffsetStop, 4}},
         0, nullptr, "'PegTypeStop' must be specified."},
        {"peg type in lower case", {cmd("CreateOrder"), type("L"), kOffer, kAccount, kTrade, kBuy, kAmount, {P::PegType, "o"}, {P::PegOffset, 3}},
         0, nullptr, "The 'o' must be either O or M."},
        {"stop trailing without a stop", {cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy, kAmount, {P::TrailStepStop, 5}, {P::PegTypeStop, "M"}},
         0, nullptr,
         "Either 'RateStop' or both 'PegTypeStop' and 'PegOffsetStop' must be specified for using TrailStepStop parameters."},
        {"trailing stop on a trade without a price", {cmd("CreateOrder"), type("S"), kOffer, kAccount, kTrade, kBuy, kAmount, {P::TrailStep, 5}},
         0, nullptr, "Either 'Rate' or both 'PegType' and 'PegOffset' must be specified for using TrailStepStop parameters."},
        {"limit on a trade without a price", {cmd("CreateOrder"), type("L"), kOffer, kAccount, kTrade, kBuy, kAmount}, 0, nullptr,
         "Either 'Rate' or both 'PegType' and 'PegOffset' must be specified."},
        {"edit without account", {cmd("EditOrder"), {P::OrderID, "O1"}}, 0, nullptr,
         "The required parameter 'AccountID' must be specified"},
        {"edit to rate and peg", {cmd("EditOrder"), {P::OrderID, "O1"}, kAccount, kRate, {P::PegOffset, 2}}, 0, nullptr,
         "Either 'Rate' or both 'PegType' and 'PegOffset' must be specified."},
        {"delete without order", {cmd("DeleteOrder")}, 0, nullptr, "The required parameter 'OrderID' must be specified"},
        {"subscription without status", {cmd("SetSubscriptionStatus"), kOffer}, 0, nullptr,
         "The required parameter 'SubscriptionStatus' must be specified"},
        {"remove without account", {cmd("RemoveFromContingencyGroup"), {P::OrderID, "O1"}}, 0, nullptr,
         "The required parameter 'AccountID' must be specified"},
        {"last order update without key", {cmd("GetLastOrderUpdate"), {P::LookupValue, "O7"}, {P::AccountName, "acc"}}, 0,
         nullptr, "The required parameter 'LookupKey' must be specified"},
        {"last order update with an empty key", {cmd("GetLastOrderUpdate"), {P::LookupKey, ""}, {P::LookupValue, "O7"}, {P::AccountName, "acc"}},
         0, nullptr, "The required parameter 'LookupKey' must be specified"},
        {"last order update without account", {cmd("GetLastOrderUpdate"), {P::LookupKey, "OrderID"}, {P::LookupValue, "O7"}},
         0, nullptr, "The required parameter 'AccountName' must be specified"},
    };
    for (const SingleCase& c : cases) {
        SCOPED_TRACE(c.name);
        RefPtr<ValueMap> map = makeMap(c.sets);
        RefPtr<IZelRequest> r = adoptRef(factory->createOrderRequest(map.get()));
        if (c.params) {
            ASSERT_TRUE(r) << factory->getLastError();
            EXPECT_STREQ(factory->getLastError(), "");
            EXPECT_EQ(commandOf(r.get()), c.command);
            EXPECT_EQ(paramsOf(r.get()), c.params);
            EXPECT_EQ(r->getChildrenCount(), 0);
            EXPECT_STRNE(r->getRequestID(), "");
        } else {
            EXPECT_FALSE(r);
            EXPECT_STREQ(factory->getLastError(), c.error);
        }
    }
}

TEST_F(OrderBuilding, OcoChildrenEachCarryTheKind)
{
    RefPtr<ValueMap> oco = makeMap({cmd("CreateOCO")});
    oco->appendChild(makeMap({cmd("CreateOrder"), type("LE"), kOffer, kAccount, kBuy, kAmount, kRate}).get());
    oco->appendChild(makeMap({cmd("CreateOrder"), type("SE"), kOffer, kAccount, kBuy, kAmount, {P::Rate, 1.3}}).get());
    RefPtr<IZelRequest> r = build(oco.get());
    ASSERT_TRUE(r) << factory->getLastError();
    EXPECT_EQ(commandOf(r.get()), 34);
    EXPECT_EQ(paramsOf(r.get()), "");
    ASSERT_EQ(r->getChildrenCount(), 2);
    EXPECT_EQ(paramsOf(childOf(r.get(), 0).get()),
              "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.234500;Side=-1;CONTINGENCY_TYPE=1");
    EXPECT_EQ(paramsOf(childOf(r.get(), 1).get()),
              "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.300000;Side=1;CONTINGENCY_TYPE=1");
    // Each request of the batch is answered under its own identifier.
    const std::string parent = r->getRequestID();
    EXPECT_NE(parent, childOf(r.get(), 0)->getRequestID());
    EXPECT_NE(std::string(childOf(r.get(), 0)->getRequestID()), childOf(r.get(), 1)->getRequestID());

    // A plain batch of orders is sent with kind 0.
    oco->setString(P::Command, "CreateOrder");
    r = build(oco.get());
    ASSERT_TRUE(r);
    EXPECT_TRUE(childOf(r.get(), 1)->isParamExists("CONTINGENCY_TYPE"));
    EXPECT_EQ(paramsOf(childOf(r.get(), 1).get()).substr(paramsOf(childOf(r.get(), 1).get()).rfind(';')),
              ";CONTINGENCY_TYPE=0");
}

TEST_F(OrderBuilding, BatchFailuresKeepTheChildsReason)
{
    const RefPtr<ValueMap> good = makeMap({cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy, kAmount});
    struct Case {
        const char* name;
        RefPtr<ValueMap> child;
        const char* error;
    } cases[] = {
        {"failing child", makeMap({cmd("CreateOrder"), type("OM"), kOffer, kBuy, kAmount}),
         "The required parameter 'AccountID' must be specified"},
        {"child without command", makeMap({type("OM"), kOffer, kAccount, kBuy, kAmount}),
         "The required parameter 'Command' must be specified"},
        {"child of another command", makeMap({cmd("DeleteOrder"), {P::OrderID, "O1"}}),
         "Command 'DeleteOrder' cannot be part of this batch: a batch holds requests of its own command only."},
        {"child of an unknown command", makeMap({cmd("Nonsense")}), "Command 'Nonsense' does not exist."},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* top : {"CreateOCO", "CreateOTO"}) {
            RefPtr<ValueMap> batch = makeMap({cmd(top)});
            batch->appendChild(good.get());
            batch->appendChild(c.child.get());
            EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(factory->createOrderRequest(batch.get())));
            EXPECT_STREQ(factory->getLastError(), c.error);
        }
    }
}

TEST_F(OrderBuilding, OtoTriggersTheFirstOrderOfAnOco)
{
    RefPtr<ValueMap> oto = makeMap({cmd("CreateOTO")});
    oto->appendChild(makeMap({cmd("CreateOrder"), type("LE"), kOffer, kAccount, kBuy, kAmount, kRate}).get());
    RefPtr<ValueMap> oco = makeMap({cmd("CreateOCO")});
    oco->appendChild(makeMap({cmd("CreateOrder"), type("LE"), kOffer, kAccount, kSell, kAmount, {P::Rate, 1.4}}).get());
    oco->appendChild(makeMap({cmd("CreateOrder"), type("SE"), kOffer, kAccount, kSell, kAmount, {P::Rate, 1.1}}).get());
    oto->appendChild(oco.get());
    oto->appendChild(makeMap({cmd("CreateOrder"), type("SE"), kOffer, kAccount, kBuy, kAmount, {P::Rate, 1.5}}).get());

    RefPtr<IZelRequest> r = build(oto.get());
    ASSERT_TRUE(r) << factory->getLastError();
    ASSERT_EQ(r->getChildrenCount(), 3);
    RefPtr<CommandRequest> primary = childOf(r.get(), 0);
    const std::string qid = primary->getRequestID();
    EXPECT_FALSE(primary->isParamExists("CONTINGENCY_TYPE"));
    EXPECT_FALSE(primary->isParamExists("PRIMARY_QID"));

    RefPtr<CommandRequest> group = childOf(r.get(), 1);
    ASSERT_EQ(group->getChildrenCount(), 2);
    EXPECT_EQ(paramsOf(childOf(group.get(), 0).get()),
              "Stage=O;OfferID=1;AcctID=A1;BuySell=S;Quantity=1000;Rate=1.400000;Side=1;CONTINGENCY_TYPE=1;PRIMARY_QID=" +
                  qid);
    EXPECT_FALSE(childOf(group.get(), 1)->isParamExists("PRIMARY_QID"));
    EXPECT_EQ(paramsOf(childOf(r.get(), 2).get()),
              "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.500000;Side=1;CONTINGENCY_TYPE=2;PRIMARY_QID=" +
                  qid);
}

TEST_F(OrderBuilding, OtoWithAnOcoGoesOutAsOneFlatBatchOfItsOrders)
{
    RefPtr<ValueMap> oto = makeMap({cmd("CreateOTO")});
    oto->appendChild(makeMap({cmd("CreateOrder"), type("LE"), kOffer, kAccount, kBuy, kAmount, kRate}).get());
    RefPtr<ValueMap> oco = makeMap({cmd("CreateOCO")});
    oco->appendChild(makeMap({cmd("CreateOrder"), type("LE"), kOffer, kAccount, kSell, kAmount, {P::Rate, 1.4}}).get());
    oco->appendChild(makeMap({cmd("CreateOrder"), type("SE"), kOffer, kAccount, kSell, kAmount, {P::Rate, 1.1}}).get());
    oto->appendChild(oco.get());
    RefPtr<IZelRequest> r = build(oto.get());
    ASSERT_TRUE(r) << factory->getLastError();

    RefPtr<CZDASTradeSessionRequest> converted =
        IMessageBuilder::convert(dynamic_cast<CommandRequest*>(r.get()), CmdCreateOrder);
    auto* batch = dynamic_cast<CTradeSessionRequestBatch*>(converted.get());
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->getRequestCount(), 3);
    RefPtr<CommandRequest> group = childOf(r.get(), 1);
    EXPECT_STREQ(batch->getRequest(0)->getRequestID(), childOf(r.get(), 0)->getRequestID());
    EXPECT_STREQ(batch->getRequest(1)->getRequestID(), childOf(group.get(), 0)->getRequestID());
    EXPECT_STREQ(batch->getRequest(2)->getRequestID(), childOf(group.get(), 1)->getRequestID());
    EXPECT_STREQ(batch->getRequest(1)->getParameter("PRIMARY_QID"), childOf(r.get(), 0)->getRequestID());
}

TEST_F(OrderBuilding, OtoWithoutChildrenIsASingleOrder)
{
    RefPtr<IZelRequest> r = build(makeMap({cmd("CreateOTO"), type("OM"), kOffer, kAccount, kBuy, kAmount}).get());
    ASSERT_TRUE(r) << factory->getLastError();
    EXPECT_EQ(r->getChildrenCount(), 0);
    EXPECT_EQ(paramsOf(r.get()), "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000");
}

// A group join with orders O1, O2, O3 (O1 of account A0).
RefPtr<ValueMap> joinMap(const std::vector<Set>& top)
{
    RefPtr<ValueMap> m = makeMap(top);
    m->appendChild(makeMap({{P::OrderID, "O1"}, {P::AccountID, "A0"}}).get());
    m->appendChild(makeMap({{P::OrderID, "O2"}, kAccount}).get());
    m->appendChild(makeMap({{P::OrderID, "O3"}, kAccount}).get());
    return m;
}

TEST_F(OrderBuilding, GroupJoins)
{
    struct Case {
        const char* name;
        RefPtr<ValueMap> map;
        std::vector<std::string> children;
    } cases[] = {
        {"new OCO: every order takes part, no group ID",
         joinMap({cmd("JoinToNewContingencyGroup"), {P::ContingencyGroupType, 1}}),
         {"CONTINGENCY_TYPE=1;AcctID=A0;OrderID=O1", "CONTINGENCY_TYPE=1;AcctID=A1;OrderID=O2",
          "CONTINGENCY_TYPE=1;AcctID=A1;OrderID=O3"}},
        {"new OTO: the first order is the group",
         joinMap({cmd("JoinToNewContingencyGroup"), {P::ContingencyGroupType, 2}}),
         {"CONTINGENCY_TYPE=2;AcctID=A1;OrderID=O2;CONTINGENCY_ID=O1",
          "CONTINGENCY_TYPE=2;AcctID=A1;OrderID=O3;CONTINGENCY_ID=O1"}},
        {"new linked group as text kind", joinMap({cmd("jointonewcontingencygroup"), {P::ContingencyGroupType, "3"}}),
         {"CONTINGENCY_TYPE=3;AcctID=A1;OrderID=O2;CONTINGENCY_ID=O1",
          "CONTINGENCY_TYPE=3;AcctID=A1;OrderID=O3;CONTINGENCY_ID=O1"}},
        {"existing group: every order joins it",
         joinMap({cmd("JoinToExistingContingencyGroup"), {P::ContingencyID, "G9"}, {P::ContingencyGroupType, 1}}),
         {"CONTINGENCY_ID=G9;CONTINGENCY_TYPE=1;AcctID=A0;OrderID=O1", "CONTINGENCY_ID=G9;CONTINGENCY_TYPE=1;AcctID=A1;OrderID=O2",
          "CONTINGENCY_ID=G9;CONTINGENCY_TYPE=1;AcctID=A1;OrderID=O3"}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        RefPtr<IZelRequest> r = build(c.map.get());
        ASSERT_TRUE(r) << factory->getLastError();
        EXPECT_EQ(commandOf(r.get()), 131);
        EXPECT_EQ(paramsOf(r.get()), "");
        ASSERT_EQ(r->getChildrenCount(), static_cast<int>(c.children.size()));
        for (size_t i = 0; i < c.children.size(); ++i) {
            RefPtr<CommandRequest> child = childOf(r.get(), static_cast<int>(i));
            EXPECT_EQ(child->getCommandID(), 131);
            EXPECT_EQ(paramsOf(child.get()), c.children[i]);
        }
    }
}

TEST_F(OrderBuilding, GroupJoinFailures)
{
    RefPtr<ValueMap> noAccount = joinMap({cmd("JoinToNewContingencyGroup"), {P::ContingencyGroupType, 1}});
    noAccount->appendChild(makeMap({{P::OrderID, "O4"}}).get());
    RefPtr<ValueMap> noPrimaryOrder = makeMap({cmd("JoinToNewContingencyGroup"), {P::ContingencyGroupType, 2}});
    noPrimaryOrder->appendChild(makeMap({kAccount}).get());
    noPrimaryOrder->appendChild(makeMap({{P::OrderID, "O2"}, kAccount}).get());
    struct Case {
        const char* name;
        RefPtr<ValueMap> map;
        const char* error;
    } cases[] = {
        {"existing group without its ID",
         joinMap({cmd("JoinToExistingContingencyGroup"), {P::ContingencyGroupType, 1}}),
         "The required parameter 'ContingencyID' must be specified"},
        {"order without account", noAccount, "The required parameter 'AccountID' must be specified"},
        {"OTO primary without order ID", noPrimaryOrder, "The required parameter 'OrderID' must be specified"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(factory->createOrderRequest(c.map.get())));
        EXPECT_STREQ(factory->getLastError(), c.error);
    }
}

// An application's own implementation of the interface: the factory cannot read it.
class ForeignMap : public TThreadSafeAddRefImpl<IZelValueMap> {
public:
    void setString(ZelRequestParamsEnum, const char*) override {}
    void setDouble(ZelRequestParamsEnum, double) override {}
    void setInt(ZelRequestParamsEnum, int) override {}
    void setBoolean(ZelRequestParamsEnum, bool) override {}
    IZelValueMap* clone() override { return nullptr; }
    void clear() override {}
    int getChildrenCount() override { return 0; }
    IZelValueMap* getChild(int) override { return nullptr; }
    void appendChild(IZelValueMap*) override {}
};

TEST_F(OrderBuilding, UnreadableMapsAndAClosedSession)
{
    RefPtr<IZelValueMap> foreign = adoptRef<IZelValueMap>(new ForeignMap());
    RefPtr<ValueMap> withForeignChild = makeMap({cmd("CreateOCO")});
    withForeignChild->appendChild(foreign.get());
    for (IZelValueMap* map : {static_cast<IZelValueMap*>(nullptr), foreign.get(),
                              static_cast<IZelValueMap*>(withForeignChild.get())}) {
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(factory->createOrderRequest(map)));
        EXPECT_STREQ(factory->getLastError(), "The value map is not valid.");
    }

    RefPtr<ValueMap> order = makeMap({cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy, kAmount});
    EXPECT_TRUE(build(order.get()));  // a success clears the last error

    factory->resetSession();
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(factory->createOrderRequest(order.get())));
    EXPECT_STREQ(factory->getLastError(), "The session is closed.");
}

TEST_F(OrderBuilding, BuilderKeepsItsMapAliveAndLeavesItUnchanged)
{
    RefPtr<ValueMap> map = makeMap({cmd("CreateOCO")});
    map->appendChild(makeMap({cmd("CreateOrder"), type("OM"), kOffer, kAccount, kBuy, kAmount}).get());
    {
        OrderRequestFactory builder(&session, *factory, map.get());
        EXPECT_TRUE(builder.isBatch());
        RefPtr<CommandRequest> r = adoptRef(builder.createRequest());
        ASSERT_TRUE(r) << builder.getLastError();
        EXPECT_EQ(builder.getLastError(), "");
    }
    EXPECT_EQ(map->getParamCount(), 1);
    ASSERT_EQ(map->getChildrenCount(), 1);
    EXPECT_EQ(dynamic_cast<ValueMap*>(map->peekChild(0))->getParamCount(), 6);

    OrderRequestFactory builder(&session, *factory, map.get());
    map.reset();  // only the builder's reference is left
    RefPtr<CommandRequest> r = adoptRef(builder.createRequest());
    EXPECT_TRUE(r);
}

TEST_F(OrderBuilding, NumbersIgnoreTheLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* set = nullptr;
    for (const char* l : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if ((set = std::setlocale(LC_NUMERIC, l)) != nullptr)
            break;
    if (!set)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    RefPtr<ValueMap> map = makeMap({cmd("CreateOrder"), type("O"), kOffer, kAccount, kBuy, kAmount, kRate});
    RefPtr<IZelRequest> r = build(map.get());
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(paramsOf(r.get()), "Stage=O;OfferID=1;AcctID=A1;BuySell=B;Quantity=1000;Rate=1.234500");
}

} // namespace
} // namespace zel
