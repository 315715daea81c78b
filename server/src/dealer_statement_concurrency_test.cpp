// The account-statement page over HTTP: the address a client builds from
// "TRADER_REPORTS_URL" and its session ID shows the account's figures; a wrong or
// ended session, or another user's account, gets 403 and no data.

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "dealer_fixture.h"
#include "statement_page.h"

namespace pellora::dealer::testing {
namespace {

namespace http = boost::beast::http;

struct Page {
    int status = 0;
    std::string body;
};

Page get(uint16_t port, const std::string& target) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    if (ec) return {};
    http::request<http::empty_body> req(http::verb::get, target, 11);
    req.set(http::field::host, "127.0.0.1");
    http::write(socket, req, ec);
    boost::beast::flat_buffer buf;
    http::response<http::string_body> res;
    http::read(socket, buf, res, ec);
    if (ec) return {};
    return {static_cast<int>(res.result_int()), res.body()};
}

class StatementTest : public DealerTest {
protected:
    void SetUp() override {
        DealerConfig c = testConfig(freshDir());
        Status s = Dealer::create(std::move(c), dealer);
        ASSERT_TRUE(s.isOk()) << s.text();
        ASSERT_TRUE(dealer->listen("tcp://127.0.0.1:0").isOk());
        ASSERT_TRUE(dealer->listenStatements("127.0.0.1", 0).isOk());
        ASSERT_TRUE(dealer->start().isOk());
        dealer->stopPrices();
        url = "tcp://127.0.0.1:" + std::to_string(dealer->boundPort(0));
    }
    uint16_t port() const { return static_cast<uint16_t>(std::stoi(dealer->statementUrl().substr(17, 5))); }
};

TEST_F(StatementTest, LiveSessionSeesItsAccountOthersGetForbidden) {
    auto c = loggedIn();
    // The reports property names this server.
    const std::string props = c->command(3);
    const std::string base = dealer->statementUrl();
    ASSERT_EQ(base.rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_NE(props.find("TRADER_REPORTS_URL;" + base + ";"), std::string::npos);
    ASSERT_EQ(lines(c->command(34, {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", "B"},
                                    {"Quantity", "2000"}}))[0],
              "0");
    const std::string sid = c->session()->getSessionID();
    // As a client builds it: "?S=<session>&cn=<sub-ID>&un=...&outFormat=html&account=...&from=so&till=now&report_name=..."
    const std::string target = "/statement?S=" + sid + "&cn=DemoSession&un=-123&outFormat=html&account=01001"
                               "&from=so&till=now&report_name=REPORT_NAME_CUSTOMER_ACCOUNT_STATEMENT";
    Page p = get(port(), target);
    ASSERT_EQ(p.status, 200);
    EXPECT_NE(p.body.find("<span class=\"account\">01001</span>"), std::string::npos);
    EXPECT_NE(p.body.find("<td class=\"balance\">50000.00</td>"), std::string::npos);
    EXPECT_NE(p.body.find("<td class=\"margin\">240.00</td>"), std::string::npos);  // T1 and the new 2,000
    EXPECT_NE(p.body.find("<td>T1</td>"), std::string::npos);
    EXPECT_NE(p.body.find("<td>C1</td>"), std::string::npos) << "closed trades of the account";
    EXPECT_EQ(p.body.find("02001"), std::string::npos);
    EXPECT_EQ(p.body.find("Private"), std::string::npos);

    struct Case {
        const char* what;
        std::string target;
    } denied[] = {
        {"unknown session", "/statement?S=nope&account=01001"},
        {"no session", "/statement?account=01001"},
        {"another user's account", "/statement?S=" + sid + "&account=02001"},
        {"bad date", "/statement?S=" + sid + "&from=13/45/2026"},
    };
    for (const Case& k : denied) {
        Page d = get(port(), k.target);
        EXPECT_EQ(d.status, 403) << k.what;
        EXPECT_EQ(d.body, "") << k.what;
    }
    EXPECT_EQ(get(port(), "/other?S=" + sid).status, 404);
    // Once the session has ended its address shows nothing.
    ASSERT_EQ(dealer->logout(sid), 1u);
    ASSERT_TRUE(c->statuses().waitCode(Fx::STATUSCODE_EXPIRED));
    // The server ends the session once its logout is out; wait for that, bounded.
    const auto until = std::chrono::steady_clock::now() + kWait;
    int status = 200;
    while ((status = get(port(), target).status) == 200 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    EXPECT_EQ(status, 403);
}

TEST(StatementPage, DatesAndEscaping) {
    UnixMs t = 0;
    EXPECT_TRUE(parseStatementDate("so", false, t));
    EXPECT_EQ(t, 0);
    EXPECT_TRUE(parseStatementDate("1/5/2026", false, t));
    EXPECT_EQ(t, makeUtc(2026, 1, 5));
    EXPECT_TRUE(parseStatementDate("1/5/2026", true, t));
    EXPECT_EQ(t, makeUtc(2026, 1, 6) - 1);
    EXPECT_FALSE(parseStatementDate("1/5/2026x", false, t));
    EXPECT_FALSE(parseStatementDate("now", false, t));
    EXPECT_EQ(htmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

} // namespace
} // namespace pellora::dealer::testing
