// DAS requests and batches over the real transport: each command's answer line by
// line at the field positions the SDK's parsers read, one user never reaching another
// user's rows, and rejects for what cannot be read.

#include "dealer_fixture.h"

namespace pellora::dealer::testing {
namespace {

using RequestTest = DealerTest;

TEST_F(RequestTest, SystemPropertiesInstrumentsAndMargins) {
    auto c = loggedIn();
    auto sys = lines(c->command(3));
    EXPECT_EQ(sys[0], "0");
    EXPECT_EQ(sys[1], "BASE_CRNCY;USD;");
    bool reports = false;
    for (size_t i = 1; i < sys.size(); ++i) {
        EXPECT_EQ(fields(sys[i]).size(), 3u) << sys[i];
        reports |= sys[i].rfind("TRADER_REPORTS_URL;https://", 0) == 0;
        EXPECT_EQ(sys[i].find("EXT_PRICE_TERMINAL"), std::string::npos);
    }
    EXPECT_TRUE(reports);

    auto ins = lines(c->command(139));
    ASSERT_EQ(ins.size(), 15u);  // "0" and 14 instruments
    EXPECT_EQ(at(ins[1], 0), "1");
    EXPECT_EQ(at(ins[1], 9), "EUR/USD");
    EXPECT_EQ(at(ins[1], 10), "EUR");
    EXPECT_EQ(at(ins[1], 12), "5");
    EXPECT_EQ(at(ins[1], 13), "0.0001");
    EXPECT_EQ(at(ins[1], 21), "1");
    EXPECT_EQ(at(ins[1], 33), "O");
    EXPECT_EQ(at(ins[1], 36), "1000");
    EXPECT_EQ(at(ins[14], 9), "GER30");
    EXPECT_EQ(at(ins[14], 21), "2");

    // demo's accounts share leverage profile "1": 14 margin lines of that profile only.
    auto props = lines(c->command(138));
    ASSERT_EQ(props.size(), 15u);
    for (size_t i = 1; i < props.size(); ++i) EXPECT_EQ(at(props[i], 0), "1");
    EXPECT_EQ(at(props[1], 1), "1");
    // Per unit: 0.02 × 1,000 units is the 20 USD a lot of EUR/USD costs.
    EXPECT_EQ(at(props[1], 2), "0.02");
    EXPECT_EQ(at(props[1], 3), "0.02");
    EXPECT_EQ(at(props[1], 4), "0.02");
}

TEST_F(RequestTest, AccountsAndOffers) {
    auto c = loggedIn();
    auto acc = lines(c->command(5, {{"TraderID", "1001"}}));
    ASSERT_EQ(acc.size(), 3u);
    EXPECT_EQ(acc[0], "0");
    EXPECT_EQ(at(acc[1], 0), "01001");
    EXPECT_EQ(at(acc[1], 4), "50000.00");
    EXPECT_EQ(at(acc[1], 13), "32");
    EXPECT_EQ(at(acc[1], 34), "Y");
    EXPECT_EQ(at(acc[1], 39), "1000");
    EXPECT_EQ(at(acc[1], 45), "1");
    EXPECT_EQ(at(acc[2], 0), "01002");
    EXPECT_EQ(at(acc[2], 34), "N");

    auto off = lines(c->command(9, {{"TraderID", "1001"}}));
    ASSERT_EQ(off.size(), 15u);
    EXPECT_EQ(at(off[1], 0), "1");
    EXPECT_EQ(at(off[1], 5), "1.08450");  // the start bid, five decimals
    EXPECT_EQ(at(off[1], 6), "1.08458");
    EXPECT_EQ(at(off[2], 5), "149.120");  // USD/JPY: three decimals
    EXPECT_EQ(at(off[1], 13), "T");
    EXPECT_EQ(at(off[1], 4).size(), 17u);  // MMDDYYYYhhmmssmmm
}

TEST_F(RequestTest, TablesHoldOnlyTheUsersRows) {
    auto demo = loggedIn();
    LoginArgs other;
    other.user = other.password = "demo22";
    auto demo22 = loggedIn(other);

    struct Case {
        int command;
        std::vector<std::pair<std::string, std::string>> params;
        std::vector<std::string> ids;  // field 0 of each line after "0"
    };
    const Case cases[] = {
        {10, {{"TraderID", "1001"}}, {"T1"}},
        {44, {{"AcctID", "01001"}}, {"T1"}},
        {44, {{"AcctID", "01002"}}, {}},
        {46, {}, {"O1"}},
        {46, {{"AcctID", "01002"}}, {"O1"}},
        {67, {{"TraderID", "1001"}}, {"C1"}},
        {70, {{"AcctID", "01001"}}, {"C1"}},
        {7, {}, {"M1"}},
    };
    for (const Case& k : cases) {
        auto l = lines(demo->command(k.command, k.params));
        ASSERT_EQ(l[0], "0") << k.command;
        std::vector<std::string> ids;
        for (size_t i = 1; i < l.size(); ++i) ids.push_back(at(l[i], 0));
        EXPECT_EQ(ids, k.ids) << "command " << k.command;
    }
    auto t = lines(demo->command(10));
    EXPECT_EQ(at(t[1], 4), "01001");
    EXPECT_EQ(at(t[1], 6), "1");
    EXPECT_EQ(at(t[1], 10), "1.08450");
    EXPECT_EQ(at(t[1], 12), "B");
    EXPECT_EQ(at(t[1], 13), "10000");
    auto o = lines(demo->command(46));
    EXPECT_EQ(at(o[1], 10), "01002");
    EXPECT_EQ(at(o[1], 12), "3");
    EXPECT_EQ(at(o[1], 14), "2000");
    EXPECT_EQ(at(o[1], 32), "LE");
    EXPECT_EQ(at(o[1], 33), "W");
    auto ct = lines(demo->command(67));
    EXPECT_EQ(at(ct[1], 9), "12.50");
    EXPECT_EQ(at(ct[1], 14), "1.08120");
    auto m = lines(demo->command(7));
    EXPECT_EQ(at(m[1], 7), "Welcome");
    EXPECT_EQ(at(m[1], 8), "Hello");

    // Another user's account or trader ID reaches nothing, and says so.
    EXPECT_EQ(demo->command(44, {{"AcctID", "02001"}}), "3;Unknown account '02001'.");
    EXPECT_EQ(demo->command(70, {{"AcctID", "02001"}}), "3;Unknown account '02001'.");
    EXPECT_EQ(demo->command(46, {{"AcctID", "02001"}}), "3;Unknown account '02001'.");
    EXPECT_EQ(demo->command(5, {{"TraderID", "1022"}}), "2;Unknown trader 1022.");
    EXPECT_EQ(at(lines(demo22->command(10))[1], 0), "T2");
    EXPECT_EQ(at(lines(demo22->command(7))[1], 0), "M2");
}

TEST_F(RequestTest, BatchMembersAreAnsweredUnderTheirOwnIds) {
    auto c = loggedIn();
    merrow::IUserSession* s = c->session();
    const std::string batchId = c->newId();
    const std::string a = c->newId(), b = c->newId(), bad = c->newId();
    merrow::IMessage* batch = s->getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUESTBATCH);
    batch->setValue(Fx::FLDTAG_TESTREQID, batchId.c_str());
    batch->setValue(Fx::FLDTAG_MDREQID, batchId.c_str());
    merrow::IFieldGroupList* members = batch->createGroupList(Fx::FLDTAG_EMBMSG);
    for (auto [id, cmd] : {std::pair<std::string, int>{a, 5}, {b, 7}, {bad, 4242}}) {
        merrow::IMessage* m = c->requestMessage(id, cmd, {});
        members->addGroup(m);
        merrow::ConnectionManagerEx::freeObject(m);
    }
    ASSERT_NE(s->send(batch), 0);
    merrow::ConnectionManagerEx::freeObject(batch);
    Got ga, gb, gbad;
    ASSERT_TRUE(c->messages().waitFor([&](const Got& g) { return g.id() == a; }, &ga));
    ASSERT_TRUE(c->messages().waitFor([&](const Got& g) { return g.id() == b; }, &gb));
    ASSERT_TRUE(c->messages().waitFor([&](const Got& g) { return g.id() == bad; }, &gbad));
    EXPECT_EQ(ga.type, Fx::MSGTYPE_QORARESPONSE);
    EXPECT_EQ(at(lines(ga.das)[1], 0), "01001");
    EXPECT_EQ(at(lines(gb.das)[1], 0), "M1");
    EXPECT_EQ(gbad.type, Fx::MSGTYPE_QORAREQUESTREJECT);
    EXPECT_EQ(gbad.field(Fx::FLDTAG_QORAERRORDETAILS), "Unknown command 4242.");
    EXPECT_EQ(c->command(5).substr(0, 1), "0");  // everything before it has arrived
    for (const Got& g : c->messages().all()) EXPECT_NE(g.id(), batchId);
}

TEST_F(RequestTest, UnreadableRequestsAreRejectedAndTheSessionStays) {
    auto c = loggedIn();
    merrow::IUserSession* s = c->session();
    struct Case {
        const char* what;
        std::function<void(merrow::IMessage*)> spoil;
        const char* reason;
    };
    const Case cases[] = {
        {"no command", [](merrow::IMessage* m) { m->removeField(Fx::FLDTAG_QORACOMMANDID); },
         "The request has no command number."},
        {"command not a number", [](merrow::IMessage* m) { m->setValue(Fx::FLDTAG_QORACOMMANDID, "5x"); },
         "The command number '5x' is not a number."},
        {"negative command", [](merrow::IMessage* m) { m->setValue(Fx::FLDTAG_QORACOMMANDID, "-5"); },
         "The command number '-5' is not a number."},
        {"unknown command", [](merrow::IMessage* m) { m->setIntValue(Fx::FLDTAG_QORACOMMANDID, 999); },
         "Unknown command 999."},
        {"parameter without a name",
         [](merrow::IMessage* m) {
             m->getGroupList(Fx::FLDTAG_QORANOPARAM)->appendGroup()->setValue(Fx::FLDTAG_QORAPARAMVALUE, "x");
         },
         "A request parameter has no name."},
        {"parameters not a group", [](merrow::IMessage* m) { m->setValue(Fx::FLDTAG_QORANOPARAM, "AcctID=1"); },
         "The request's parameters are not a group."},
        {"by account without AcctID", [](merrow::IMessage* m) { m->setIntValue(Fx::FLDTAG_QORACOMMANDID, 44); },
         "Command 44 needs the parameter AcctID."},
    };
    for (const Case& k : cases) {
        const std::string id = c->newId();
        merrow::IMessage* m = c->requestMessage(id, 5, {});
        k.spoil(m);
        Got g;
        ASSERT_TRUE(c->exchange(m, id, g)) << k.what;
        EXPECT_EQ(g.type, Fx::MSGTYPE_QORAREQUESTREJECT) << k.what;
        EXPECT_EQ(g.field(Fx::FLDTAG_QORAERRORDETAILS), k.reason) << k.what;
        EXPECT_EQ(g.field(Fx::FLDTAG_TEXT), k.reason) << k.what;
    }
    // A message type the dealer does not know is refused as well.
    merrow::IMessage* odd = s->getMessageFactory()->createMessage("ZZ");
    odd->setValue(Fx::FLDTAG_TESTREQID, "odd-1");
    Got g;
    ASSERT_TRUE(c->exchange(odd, "odd-1", g));
    EXPECT_EQ(g.type, Fx::MSGTYPE_QORAREQUESTREJECT);
    EXPECT_EQ(c->command(5).substr(0, 2), "0\n");
}

} // namespace
} // namespace pellora::dealer::testing
