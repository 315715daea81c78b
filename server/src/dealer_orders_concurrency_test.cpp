// Orders over the real transport, written field by field as the client's order
// builder writes them: answered only once stored, with every row they touch pushed in
// one message after the answer; resends answered the same and executed once, also
// across a restart of a virtual-clock dealer; one user never touching another's.

#include "control.h"
#include "dealer_fixture.h"

namespace pellora::dealer::testing {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

Params marketOrder(const std::string& side, int amount, const std::string& account = "01001") {
    return {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", account}, {"BuySell", side}, {"Quantity", std::to_string(amount)}};
}

// The pushed update texts received so far holding `what`.
std::vector<std::string> pushed(Client& c, const std::string& what) {
    std::vector<std::string> out;
    for (const Got& g : c.messages().all())
        if (g.type == Fx::MSGTYPE_DASMESSAGE && g.field(Fx::FLDTAG_TEXT).find(what) != std::string::npos)
            out.push_back(g.field(Fx::FLDTAG_TEXT));
    return out;
}

bool waitPushed(Client& c, const std::string& what) {
    return c.messages().waitFor([&](const Got& g) {
        return g.type == Fx::MSGTYPE_DASMESSAGE && g.field(Fx::FLDTAG_TEXT).find(what) != std::string::npos;
    });
}

std::string orderIdOf(const std::string& answer) {
    auto l = lines(answer);
    return l.size() == 2 && l[0] == "0" ? at(l[1], 0) : std::string();
}

class OrdersTest : public DealerTest {
protected:
    void SetUp() override {
        dir = freshDir();
        startDealer(testConfig(dir));
        dealer->stopPrices();  // prices move only by hand
    }
    void restart() {
        dealer->stop();
        dealer.reset();
        startDealer(testConfig(dir));
        dealer->stopPrices();
    }
    // Sends a request under a given ID and returns the answer text (the recorder is
    // cleared first: an earlier answer under the same ID must not count).
    static std::string sendAs(Client& c, const std::string& id, int command, const Params& p) {
        c.messages().clear();
        Got g;
        if (!c.exchange(c.requestMessage(id, command, p), id, g)) return "<no answer>";
        return g.hasDas ? g.das : "<" + g.type + ">";
    }
    std::string dir;
};

TEST_F(OrdersTest, MarketOrderIsAnsweredThenItsRowsArePushedInOneMessage) {
    auto c = loggedIn();
    const std::string id = orderIdOf(c->command(34, marketOrder("B", 10000)));
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(waitPushed(*c, "\nTRADE;I;"));
    auto texts = pushed(*c, "\nTRADE;I;");
    ASSERT_EQ(texts.size(), 1u);
    auto l = lines(texts[0]);
    // Line 0: the server time closed by ";", as the client reads it.
    ASSERT_EQ(l[0].size(), 2u + 17 + 1);
    EXPECT_EQ(l[0].substr(0, 2), "0;");
    EXPECT_EQ(l[0].back(), ';');
    EXPECT_EQ(l[0].substr(2, 17), formatTime(dealer->now()));
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[1].substr(0, 8 + id.size()), "ORDER;I;" + id);
    EXPECT_EQ(l[2].substr(0, 8), "TRADE;I;");
    EXPECT_EQ(at(l[2], 2 + 6), "1");
    EXPECT_EQ(at(l[2], 2 + 13), "10000");
    EXPECT_EQ(at(l[2], 2 + 20), "200");  // margin 0.02 a unit
    EXPECT_EQ(at(l[2], 2 + 22), id);
    EXPECT_EQ(l[3].substr(0, 8 + id.size()), "ORDER;D;" + id);
    EXPECT_EQ(l[4].substr(0, 13), "ACCT;U;01001;");
    EXPECT_EQ(at(l[4], 2 + 5), "400.00");  // with the world's 10,000 of T1
    // The answer came before the push.
    size_t answerAt = 0, pushAt = 0;
    auto all = c->messages().all();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].type == Fx::MSGTYPE_QORARESPONSE && all[i].das.find(id + ";N") != std::string::npos) answerAt = i + 1;
        if (all[i].type == Fx::MSGTYPE_DASMESSAGE && all[i].field(Fx::FLDTAG_TEXT).find("TRADE;I") != std::string::npos)
            pushAt = i + 1;
    }
    EXPECT_LT(answerAt, pushAt);
    // The tables answer the same rows.
    auto trades = lines(c->command(44, {{"AcctID", "01001"}}));
    ASSERT_EQ(trades.size(), 3u);  // "0", the world's T1 and the new trade
    EXPECT_EQ(at(trades[2], 22), id);
    EXPECT_EQ(dealer->stats().ordersExecuted, 1u);
}

TEST_F(OrdersTest, EntryOrderFillsWhenTheSetPriceCrossesIt) {
    auto c = loggedIn();
    const std::string id = orderIdOf(c->command(34, {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"},
                                                      {"BuySell", "B"}, {"Quantity", "1000"}, {"Rate", "1.080000"},
                                                      {"Side", "-1"}, {"RateL", "1.100000"}}));
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(waitPushed(*c, "ORDER;I;" + id));
    ASSERT_TRUE(dealer->setPrice("1", 1.07990).isOk());
    ASSERT_TRUE(waitPushed(*c, "ORDER;D;" + id));
    auto fill = pushed(*c, "ORDER;D;" + id);
    ASSERT_EQ(fill.size(), 1u);
    EXPECT_NE(fill[0].find("\nTRADE;I;"), std::string::npos);
    EXPECT_NE(fill[0].find("\nORDER;U;"), std::string::npos);  // the limit starts working
    auto orders = lines(c->command(46, {{"AcctID", "01001"}}));
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_EQ(at(orders[1], 32), "L");
    EXPECT_EQ(at(orders[1], 43), "Y");
}

TEST_F(OrdersTest, BatchMembersAreAnsweredEachAndFormOneOcoGroup) {
    auto c = loggedIn();
    merrow::IUserSession* s = c->session();
    merrow::IMessage* batch = s->getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUESTBATCH);
    const std::string batchId = c->newId(), a = c->newId(), b = c->newId();
    batch->setValue(Fx::FLDTAG_TESTREQID, batchId.c_str());
    merrow::IFieldGroupList* members = batch->createGroupList(Fx::FLDTAG_EMBMSG);
    // Stops: "Side" 1 to buy, -1 to sell.
    for (auto [id, side, rate, sideField] :
         {std::tuple<std::string, const char*, const char*, const char*>{a, "B", "1.095000", "1"},
          {b, "S", "1.070000", "-1"}}) {
        merrow::IMessage* m = c->requestMessage(id, 34, {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"},
                                                         {"BuySell", side}, {"Quantity", "1000"}, {"Rate", rate},
                                                         {"Side", sideField}, {"CONTINGENCY_TYPE", "1"}});
        members->addGroup(m);
        merrow::ConnectionManagerEx::freeObject(m);
    }
    ASSERT_NE(s->send(batch), 0);
    merrow::ConnectionManagerEx::freeObject(batch);
    Got ga, gb;
    ASSERT_TRUE(c->messages().waitFor([&](const Got& g) { return g.id() == a; }, &ga));
    ASSERT_TRUE(c->messages().waitFor([&](const Got& g) { return g.id() == b; }, &gb));
    const std::string first = orderIdOf(ga.das), second = orderIdOf(gb.das);
    ASSERT_FALSE(first.empty()) << ga.das;
    ASSERT_FALSE(second.empty()) << gb.das;
    auto orders = lines(c->command(46, {{"AcctID", "01001"}}));
    ASSERT_EQ(orders.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(at(orders[i], 45), first);
        EXPECT_EQ(at(orders[i], 53), "1");
    }
    ASSERT_TRUE(dealer->setPrice("1", 1.09600).isOk());
    ASSERT_TRUE(waitPushed(*c, "ORDER;D;" + second));
    EXPECT_EQ(lines(c->command(46, {{"AcctID", "01001"}})).size(), 1u);
}

TEST_F(OrdersTest, ResentRequestIsAnsweredTheSameAndExecutedOnceAlsoAfterARestart) {
    auto c = loggedIn();
    const std::string first = sendAs(*c, "resend-1", 34, marketOrder("B", 1000));
    ASSERT_FALSE(orderIdOf(first).empty()) << first;
    EXPECT_EQ(sendAs(*c, "resend-1", 34, marketOrder("B", 1000)), first);
    EXPECT_EQ(dealer->stats().ordersExecuted, 1u);
    // The dealer's clock is virtual and far from the wall clock: the remembered answer
    // must survive the restart all the same.
    c.reset();
    restart();
    auto again = loggedIn();
    EXPECT_EQ(sendAs(*again, "resend-1", 34, marketOrder("B", 1000)), first);
    EXPECT_EQ(dealer->stats().ordersExecuted, 0u);
    EXPECT_EQ(lines(again->command(44, {{"AcctID", "01001"}})).size(), 3u);  // T1 and the one trade
    // Another user's request of the same ID is its own.
    LoginArgs other;
    other.user = other.password = "demo22";
    auto demo22 = loggedIn(other);
    EXPECT_EQ(sendAs(*demo22, "resend-1", 34, marketOrder("B", 1000)), "3;Unknown account '01001'.");
    // A day later it is forgotten.
    ASSERT_TRUE(dealer->stepClock(Store::kRequestMemory + 1000).isOk());
    EXPECT_NE(sendAs(*again, "resend-1", 34, marketOrder("B", 1000)), first);
}

TEST_F(OrdersTest, UsersCannotTouchEachOthersAccountsOrdersOrTrades) {
    auto demo = loggedIn();
    LoginArgs other;
    other.user = other.password = "demo22";
    auto demo22 = loggedIn(other);
    EXPECT_EQ(demo22->command(34, marketOrder("B", 1000, "01001")), "3;Unknown account '01001'.");
    // T1 belongs to demo's 01001; O1 to demo's 01002.
    EXPECT_EQ(demo22->command(34, {{"Stage", "C"}, {"OfferID", "1"}, {"AcctID", "02001"}, {"TradeID", "T1"},
                                   {"BuySell", "S"}, {"Quantity", "1000"}}),
              "6;Unknown trade T1.");
    EXPECT_EQ(demo22->command(19, {{"OrderID", "O1"}}), "5;Unknown order O1.");
    EXPECT_EQ(demo22->command(20, {{"OrderID", "O1"}, {"AcctID", "01002"}, {"Quantity", "5000"}}), "5;Unknown order O1.");
    EXPECT_EQ(demo22->command(117, {{"AcctReportID", "01001"}, {"ReportID", "01001"}, {"OrderID", "O1"}}),
              "3;Unknown account '01001'.");
    EXPECT_EQ(lines(demo->command(46, {{"AcctID", "01002"}})).size(), 2u);  // O1 untouched
    EXPECT_TRUE(pushed(*demo, "ORDER;").empty());
}

TEST_F(OrdersTest, ControlRaisesMarginCallsStepsToRolloverAndCountsOrders) {
    auto c = loggedIn();
    ASSERT_FALSE(orderIdOf(c->command(34, marketOrder("B", 1000))).empty());
    EXPECT_EQ(runControlCommand(*dealer, "margin-call 01001"), "ok");
    ASSERT_TRUE(waitPushed(*c, "\nMAIL;I;"));
    auto mail = pushed(*c, "\nMAIL;I;");
    EXPECT_NE(mail[0].find("<BASE64-DATA>"), std::string::npos);
    EXPECT_EQ(runControlCommand(*dealer, "margin-call"), "error usage: margin-call ACCOUNT");
    EXPECT_EQ(runControlCommand(*dealer, "margin-call 99"), "error Unknown account '99'.");
    const UnixMs before = dealer->now();
    const std::string r = runControlCommand(*dealer, "rollover");
    ASSERT_EQ(r.substr(0, 3), "ok ");
    EXPECT_GT(dealer->now(), before);
    EXPECT_EQ(formatTime(dealer->now()).substr(8, 6), "220000");  // 17:00 New York in January
    EXPECT_NE(runControlCommand(*dealer, "stats").find(" orders=1"), std::string::npos);
}

} // namespace
} // namespace pellora::dealer::testing
