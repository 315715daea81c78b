// Mends found by a review of the dealer: a resumed session gets every offer's
// current price at once, the log shows session IDs as a prefix only, one dealer per
// data folder, and a control socket that only its owner can use and that never
// replaces a file that is not a stale socket; and the edge world the order tests
// use, served as the SDK reads it; and batches beyond their bound refused.

#include "dealer_fixture.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "control.h"
#include "test_worlds.h"

namespace pellora::dealer::testing {
namespace {

using HardeningTest = DealerTest;

TEST_F(HardeningTest, ResumedSessionsStartAgainFromEveryOffersPrice) {
    const size_t offers = dealer->world().instruments.size();
    auto das = loggedIn();
    LoginArgs r;
    r.connection = "DemoRTMP";
    auto rtmp = loggedIn(r);
    dealer->stopPrices();  // no tick can pass for the snapshot
    EXPECT_EQ(dealer->cut(""), 2u);
    // The DAS session: one market-data update with every offer, as the offers table has it.
    Got g;
    ASSERT_TRUE(das->messages().waitFor([](const Got& m) { return m.type == Fx::MSGTYPE_DASMESSAGE; }, &g));
    const auto pushed = lines(g.field(Fx::FLDTAG_TEXT));
    const auto table = lines(das->command(9));
    ASSERT_EQ(pushed.size(), offers + 1);
    ASSERT_EQ(table.size(), offers + 1);
    for (size_t i = 1; i < pushed.size(); ++i) EXPECT_EQ(pushed[i], "OFFER;U;" + table[i]);
    // The RTMP session: one level-2 snapshot of every offer.
    ASSERT_TRUE(rtmp->messages().waitFor([](const Got& m) { return !m.quotes.empty(); }, &g));
    EXPECT_EQ(g.quotes.size(), offers);
}

// A batch of orders, each member under its own ID.
merrow::IMessage* orderBatch(Client& c, int members, std::vector<std::string>& ids) {
    merrow::IMessage* batch = c.session()->getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUESTBATCH);
    const std::string batchId = c.newId();
    batch->setValue(Fx::FLDTAG_TESTREQID, batchId.c_str());
    batch->setValue(Fx::FLDTAG_MDREQID, batchId.c_str());
    merrow::IFieldGroupList* list = batch->createGroupList(Fx::FLDTAG_EMBMSG);
    for (int i = 0; i < members; ++i) {
        ids.push_back(c.newId());
        merrow::IMessage* m = c.requestMessage(
            ids.back(), 34,
            {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", "B"}, {"Quantity", "1000"}});
        list->addGroup(m);
        merrow::ConnectionManagerEx::freeObject(m);
    }
    return batch;
}

TEST_F(HardeningTest, OversizedBatchesExecuteNothingAndSayWhy) {
    auto c = loggedIn();
    const size_t trades = lines(c->command(10)).size();
    // Past the bound every member is refused under its own ID, and no order runs.
    std::vector<std::string> ids;
    merrow::IMessage* batch = orderBatch(*c, 101, ids);
    ASSERT_NE(c->session()->send(batch), 0);
    merrow::ConnectionManagerEx::freeObject(batch);
    for (const std::string& id : ids) {
        Got g;
        ASSERT_TRUE(c->messages().waitFor([&](const Got& m) { return m.id() == id; }, &g)) << id;
        EXPECT_EQ(g.type, Fx::MSGTYPE_QORAREQUESTREJECT);
        EXPECT_EQ(g.field(Fx::FLDTAG_QORAERRORDETAILS), "A batch holds at most 100 requests; this one holds 101.");
    }
    EXPECT_EQ(lines(c->command(10)).size(), trades);
    // At the bound the batch runs.
    ids.clear();
    batch = orderBatch(*c, 100, ids);
    ASSERT_NE(c->session()->send(batch), 0);
    merrow::ConnectionManagerEx::freeObject(batch);
    Got last;
    ASSERT_TRUE(c->messages().waitFor([&](const Got& m) { return m.id() == ids.back(); }, &last));
    EXPECT_EQ(last.type, Fx::MSGTYPE_QORARESPONSE);
    EXPECT_EQ(lines(c->command(10)).size(), trades + 100);

    // Far past it the session ends instead of taking a flood of rejects; others go on.
    auto other = loggedIn();
    ids.clear();
    batch = orderBatch(*c, 1001, ids);
    ASSERT_NE(c->session()->send(batch), 0);
    merrow::ConnectionManagerEx::freeObject(batch);
    EXPECT_TRUE(c->statuses().waitCode(Fx::STATUSCODE_EXPIRED));
    EXPECT_EQ(lines(other->command(10)).size(), trades + 100);
}

TEST(HardeningLogTest, SessionIdsAreLoggedAsAPrefixOnly) {
    auto lines = std::make_shared<std::vector<std::string>>();
    auto mu = std::make_shared<std::mutex>();
    auto sink = [lines, mu](const std::string& l) {
        std::lock_guard<std::mutex> lock(*mu);
        lines->push_back(l);
    };
    DealerConfig c = testConfig(freshDir());
    c.log = sink;
    c.serverOptions.log = sink;
    std::unique_ptr<Dealer> d;
    ASSERT_TRUE(Dealer::create(std::move(c), d).isOk());
    ASSERT_TRUE(d->listen("tcp://127.0.0.1:0").isOk());
    ASSERT_TRUE(d->start().isOk());
    std::string id;
    {
        Client client("tcp://127.0.0.1:" + std::to_string(d->boundPort(0)));
        ASSERT_EQ(client.login(LoginArgs()), "");
        id = client.session()->getSessionID();
        d->cut("demo");
        EXPECT_EQ(client.command(5).substr(0, 2), "0\n");  // resumed
    }
    d->stop();
    std::lock_guard<std::mutex> lock(*mu);
    size_t mentions = 0;
    for (const std::string& l : *lines) {
        EXPECT_EQ(l.find(id), std::string::npos) << l;
        if (l.find(id.substr(0, 8)) != std::string::npos) ++mentions;
    }
    EXPECT_GE(mentions, 3u);  // logged on, cut, resumed, ended
}

TEST(HardeningFolderTest, OneDealerPerDataFolder) {
    const std::string dir = freshDir();
    std::unique_ptr<Dealer> first, second;
    ASSERT_TRUE(Dealer::create(testConfig(dir), first).isOk());
    Status s = Dealer::create(testConfig(dir), second);
    EXPECT_FALSE(s.isOk());
    EXPECT_NE(s.text().find("'" + dir + "' is in use"), std::string::npos) << s.text();
    first.reset();
    EXPECT_TRUE(Dealer::create(testConfig(dir), second).isOk());
}

TEST(EdgeWorldTest, ServesWhatTheDemoWorldLeavesOut) {
    DealerConfig c = testConfig(freshDir());
    c.world = edgeWorld();
    ASSERT_TRUE(c.world.validate().isOk()) << c.world.validate().text();
    std::unique_ptr<Dealer> d;
    ASSERT_TRUE(Dealer::create(std::move(c), d).isOk());
    ASSERT_TRUE(d->listen("tcp://127.0.0.1:0").isOk());
    ASSERT_TRUE(d->start().isOk());
    Client client("tcp://127.0.0.1:" + std::to_string(d->boundPort(0)));
    LoginArgs a;
    a.user = a.password = "edge";
    ASSERT_EQ(client.login(a), "");
    const auto accounts = lines(client.command(5));
    ASSERT_EQ(accounts.size(), 3u);
    EXPECT_EQ(at(accounts[1], 0), "05001");
    EXPECT_EQ(at(accounts[1], 34), "D");
    EXPECT_EQ(at(accounts[1], 37), "100000");
    EXPECT_EQ(at(accounts[2], 39), "10000");
    bool closedSeen = false, permissionSeen = false;
    for (const std::string& l : lines(client.command(139))) {
        if (at(l, 0) == "15") {
            closedSeen = at(l, 33) == "C";
            EXPECT_EQ(at(l, 26), "88,N,94,Y");
        }
        if (at(l, 0) == "1") permissionSeen = at(l, 26) == "88,Y,94,N";
    }
    EXPECT_TRUE(closedSeen);
    EXPECT_TRUE(permissionSeen);
    d->stop();
}

class ControlSocketTest : public DealerTest {
protected:
    std::string path() const { return dir_ + "/control.sock"; }
    // One command over a fresh connection: the answer line, or "" when refused silently.
    std::string ask(const std::string& line) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path().c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return "<no connection>";
        }
        const std::string req = line + "\n";
        // A refused peer may find the socket closed already: no SIGPIPE for that.
        (void)!::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        std::string answer;
        char ch;
        while (::read(fd, &ch, 1) == 1 && ch != '\n') answer += ch;
        ::close(fd);
        return answer;
    }
    std::string dir_ = freshDir();
};

TEST_F(ControlSocketTest, OwnerOnlyWhateverTheUmask) {
    const mode_t old = ::umask(0);
    ControlSocket control(*dealer);
    Status s = control.start(path());
    ::umask(old);
    ASSERT_TRUE(s.isOk()) << s.text();
    struct stat st {};
    ASSERT_EQ(::lstat(path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ask("stats").substr(0, 3), "ok ");
    // A connection of another user is refused without running anything.
    control.setAllowedUid(::geteuid() + 1);
    EXPECT_EQ(ask("stop-prices"), "error permission denied");
}

TEST_F(ControlSocketTest, NeverReplacesAFileThatIsNotAStaleSocket) {
    {
        std::ofstream(path()) << "precious";
        ControlSocket control(*dealer);
        Status s = control.start(path());
        EXPECT_FALSE(s.isOk());
        EXPECT_NE(s.text().find("is not a socket"), std::string::npos) << s.text();
    }
    std::ifstream in(path());
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "precious");
    ::unlink(path().c_str());
    // A live socket is not taken over; a stale one is.
    ControlSocket first(*dealer);
    ASSERT_TRUE(first.start(path()).isOk());
    ControlSocket second(*dealer);
    EXPECT_NE(second.start(path()).text().find("running process"), std::string::npos);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    first.stop();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path().c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);  // bound, never listening
    ::close(stale);
    ControlSocket third(*dealer);
    EXPECT_TRUE(third.start(path()).isOk());
    EXPECT_EQ(ask("stats").substr(0, 3), "ok ");
}

} // namespace
} // namespace pellora::dealer::testing
