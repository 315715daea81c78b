#include "admin_protocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "frame_codec.h"

namespace merrow {
namespace admin {
namespace {

using Fx = IFixDefs;

// Through the real wire: encode as an admin frame, decode, and hand back the message.
std::unique_ptr<FieldGroup> throughWire(const FieldGroup& message)
{
    std::vector<uint8_t> bytes;
    wire::FrameHeader header;
    header.kind = wire::FrameKind::Admin;
    EXPECT_TRUE(wire::encodeFrame(header, message, bytes).ok());
    wire::FrameDecoder decoder;
    decoder.feed(bytes.data(), bytes.size());
    std::optional<wire::Frame> frame;
    EXPECT_TRUE(decoder.next(frame).ok());
    EXPECT_TRUE(frame.has_value());
    return frame ? std::move(frame->message) : std::make_unique<FieldGroup>();
}

template <class T>
T roundTrip(const T& in)
{
    auto decoded = throughWire(*build(in));
    T out;
    Status st = parse(*decoded, out);
    EXPECT_TRUE(st.ok()) << st.reason();
    return out;
}

TEST(AdminProtocol, HelloAndStationDescriptorRoundTrip)
{
    Hello h;
    h.connectionName = "DemoPrice";
    h.stationKind = "PriceServer";
    h.applicationName = "tests";
    Hello hh = roundTrip(h);
    EXPECT_EQ(hh.protocolVersion, kProtocolVersion);
    EXPECT_EQ(hh.connectionName, "DemoPrice");
    EXPECT_EQ(hh.stationKind, "PriceServer");
    EXPECT_EQ(hh.applicationName, "tests");

    StationDescriptor d;
    d.parameters = {{"version", "1.0.3"}, {"empty", ""}};
    d.tradingSessions.emplace_back("QORA", "S1", "Main", "Main session", false);
    d.tradingSessions.emplace_back("QORA", "S2", "Pin", "With PIN", true);
    d.redirectUrl = "tcp://127.0.0.1:7081";
    StationDescriptor dd = roundTrip(d);
    EXPECT_FALSE(dd.refused);
    ASSERT_EQ(dd.parameters.size(), 2u);
    ASSERT_NE(findValue(dd.parameters, "version"), nullptr);
    EXPECT_EQ(*findValue(dd.parameters, "version"), "1.0.3");
    EXPECT_EQ(*findValue(dd.parameters, "empty"), "");
    EXPECT_EQ(findValue(dd.parameters, "absent"), nullptr);
    ASSERT_EQ(dd.tradingSessions.size(), 2u);
    EXPECT_STREQ(dd.tradingSessions[1].getSubID(), "S2");
    EXPECT_STREQ(dd.tradingSessions[1].getDesc(), "With PIN");
    EXPECT_TRUE(dd.tradingSessions[1].pinRequired());
    EXPECT_FALSE(dd.tradingSessions[0].pinRequired());
    EXPECT_EQ(dd.redirectUrl, "tcp://127.0.0.1:7081");

    StationDescriptor refused;
    refused.refused = true;
    refused.refusalText = "Unknown connection 'X'.";
    refused.parameters = {{"version", "ignored"}};
    StationDescriptor rr = roundTrip(refused);
    EXPECT_TRUE(rr.refused);
    EXPECT_EQ(rr.refusalText, "Unknown connection 'X'.");
    EXPECT_TRUE(rr.parameters.empty());
}

TEST(AdminProtocol, LogonRoundTripFreshBySessionAndResume)
{
    Logon l;
    l.connectionName = "Demo";
    l.user = "demo";
    l.password = std::string("p\0w", 3);  // any bytes survive
    l.tradingSessionId = "QORA";
    l.tradingSessionSubId = "S2";
    l.pin = "1234";
    l.extraParams = "EXTRA=3,139,9";
    l.heartbeatMs = 150;
    l.filterMask = Fx::CHANNEL_MARKET_DATA;
    Logon ll = roundTrip(l);
    EXPECT_EQ(ll.user, "demo");
    EXPECT_EQ(ll.password, l.password);
    EXPECT_EQ(ll.tradingSessionSubId, "S2");
    EXPECT_EQ(ll.pin, "1234");
    EXPECT_EQ(ll.extraParams, "EXTRA=3,139,9");
    EXPECT_EQ(ll.heartbeatMs, 150);
    EXPECT_EQ(ll.filterMask, Fx::CHANNEL_MARKET_DATA);
    EXPECT_FALSE(ll.bySession);
    EXPECT_FALSE(ll.isResume());

    Logon b;
    b.connectionName = "PriceDemo";
    b.stationKind = "PriceServer";
    b.bySession = true;
    b.bySessionId = "abc";
    b.bySessionSubId = "sub";
    b.bySessionTraderId = 77;
    Logon bb = roundTrip(b);
    EXPECT_TRUE(bb.bySession);
    EXPECT_EQ(bb.bySessionId, "abc");
    EXPECT_EQ(bb.bySessionSubId, "sub");
    EXPECT_EQ(bb.bySessionTraderId, 77);
    EXPECT_TRUE(bb.user.empty());

    Logon r;
    r.connectionName = "Demo";
    r.sessionId = "s1";
    r.resumeToken = "t1";
    r.lastReceived = (uint64_t(1) << 40) + 5;
    Logon rr = roundTrip(r);
    EXPECT_TRUE(rr.isResume());
    EXPECT_EQ(rr.resumeToken, "t1");
    EXPECT_EQ(rr.lastReceived, r.lastReceived);
}

TEST(AdminProtocol, LogonAckRejectAndTheSmallMessagesRoundTrip)
{
    LogonAck a;
    a.sessionId = "s";
    a.resumeToken = "t";
    a.traderId = 4711;
    a.userKind = 22;
    a.properties = {{"TransportProvider", "DAS"}};
    a.initialMessages = {{3, "line1\nline2"}, {139, ""}};
    a.heartbeatMs = 200;
    a.lastReceived = 12;
    a.resumed = true;
    LogonAck aa = roundTrip(a);
    EXPECT_EQ(aa.sessionId, "s");
    EXPECT_EQ(aa.traderId, 4711);
    EXPECT_EQ(aa.userKind, 22);
    EXPECT_EQ(*findValue(aa.properties, "TransportProvider"), "DAS");
    ASSERT_EQ(aa.initialMessages.size(), 2u);
    EXPECT_EQ(aa.initialMessages[0].commandNumber, 3);
    EXPECT_EQ(aa.initialMessages[0].text, "line1\nline2");
    EXPECT_EQ(aa.initialMessages[1].commandNumber, 139);
    EXPECT_EQ(aa.heartbeatMs, 200);
    EXPECT_EQ(aa.lastReceived, 12u);
    EXPECT_TRUE(aa.resumed);

    LogonReject j = roundTrip(LogonReject{"Wrong PIN.", false});
    EXPECT_EQ(j.text, "Wrong PIN.");
    EXPECT_FALSE(j.expired);
    EXPECT_TRUE(roundTrip(LogonReject{"The session has expired.", true}).expired);

    EXPECT_EQ(roundTrip(Heartbeat{"T7"}).testReqId, "T7");
    EXPECT_EQ(roundTrip(Heartbeat{}).testReqId, "");
    EXPECT_EQ(roundTrip(TestRequest{"T8"}).testReqId, "T8");
    Logout o = roundTrip(Logout{LogoutReason::kForcedRelogin, "Log in again."});
    EXPECT_EQ(o.reason, LogoutReason::kForcedRelogin);
    EXPECT_EQ(o.text, "Log in again.");
    EXPECT_EQ(roundTrip(SetFilter{3}).mask, 3);
    ResendComplete rc = roundTrip(ResendComplete{{{5, "five"}}});
    ASSERT_EQ(rc.initialMessages.size(), 1u);
    EXPECT_EQ(rc.initialMessages[0].text, "five");
}

TEST(AdminProtocol, TypesByMessageType)
{
    const std::pair<const char*, AdminType> cases[] = {
        {"0", AdminType::kHeartbeat},          {"1", AdminType::kTestRequest},
        {"5", AdminType::kLogout},             {"A", AdminType::kLogon},
        {"U9500", AdminType::kHello},          {"U9501", AdminType::kStationDescriptor},
        {"U9502", AdminType::kLogonAck},       {"U9503", AdminType::kLogonReject},
        {"U9504", AdminType::kSetFilter},      {"U9505", AdminType::kResendComplete},
        {"U9506", AdminType::kUnknown},        {"U950", AdminType::kUnknown},
        {"U95000", AdminType::kUnknown},       {"U9000", AdminType::kUnknown},
        {"", AdminType::kUnknown},             {"AA", AdminType::kUnknown},
        {"2", AdminType::kUnknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(adminTypeOf(c.first), c.second) << c.first;
    EXPECT_EQ(adminTypeOf(static_cast<const char*>(nullptr)), AdminType::kUnknown);
}

TEST(AdminProtocol, LogoutReasonsMapToStatusCodes)
{
    EXPECT_EQ(statusCodeOf(LogoutReason::kNormal), Fx::STATUSCODE_EXPIRED);
    EXPECT_EQ(statusCodeOf(LogoutReason::kExpired), Fx::STATUSCODE_EXPIRED);
    EXPECT_EQ(statusCodeOf(LogoutReason::kShutdown), Fx::STATUSCODE_SHUTDOWN);
    EXPECT_EQ(statusCodeOf(LogoutReason::kForcedRelogin), Fx::STATUSCODE_FORCED_RELOGIN);
    EXPECT_EQ(statusCodeOf(LogoutReason::kClient), Fx::STATUSCODE_DISCONNECTED);
}

// Messages a faulty or hostile peer might send: each parse either fails with a
// reason or yields sane values; none crashes.
TEST(AdminProtocol, TolerantParsing)
{
    struct Case {
        const char* name;
        std::function<std::unique_ptr<FieldGroup>()> make;
        std::function<Status(const IMessage&)> parse;
        bool ok;
        const char* reasonHas;
    };
    auto msg = [](const char* type) {
        auto m = std::make_unique<FieldGroup>();
        m->setMsgType(type);
        return m;
    };
    auto parseHello = [](const IMessage& m) {
        Hello h;
        return parse(m, h);
    };
    auto parseLogon = [](const IMessage& m) {
        Logon l;
        return parse(m, l);
    };
    auto parseAck = [](const IMessage& m) {
        LogonAck a;
        return parse(m, a);
    };
    auto parseDescriptor = [](const IMessage& m) {
        StationDescriptor d;
        return parse(m, d);
    };
    const Case cases[] = {
        {"wrong type", [&] { return build(Logon{}); }, parseHello, false, "Hello expected"},
        {"no version", [&] { auto m = msg(MSGTYPE_HELLO); m->setValue(FLDTAG_CONNECTIONNAME, "x"); return m; }, parseHello, false, "protocol version is missing"},
        {"other version", [&] { Hello h; h.protocolVersion = 99; h.connectionName = "x"; return build(h); }, parseHello, false, "not supported"},
        {"version as text", [&] { auto m = msg(MSGTYPE_HELLO); m->setValue(FLDTAG_PROTOCOLVERSION, "1"); m->setValue(FLDTAG_CONNECTIONNAME, "x"); return m; }, parseHello, true, ""},
        {"version not a number", [&] { auto m = msg(MSGTYPE_HELLO); m->setValue(FLDTAG_PROTOCOLVERSION, "1x"); m->setValue(FLDTAG_CONNECTIONNAME, "x"); return m; }, parseHello, false, "protocol version is not valid"},
        {"version as double", [&] { auto m = msg(MSGTYPE_HELLO); m->setDoubleValue(FLDTAG_PROTOCOLVERSION, 1.0); m->setValue(FLDTAG_CONNECTIONNAME, "x"); return m; }, parseHello, false, "not valid"},
        {"name as group list", [&] { auto m = build(Hello{}); m->createGroupList(FLDTAG_CONNECTIONNAME); return m; }, parseHello, false, "connection name is not valid"},
        {"heart-beat not a number", [&] { auto m = build(Logon{}); m->setValue(FLDTAG_HEARTBEATMS, "fast"); return m; }, parseLogon, false, "heart-beat interval"},
        {"heart-beat zero", [&] { auto m = build(Logon{}); m->setIntValue(FLDTAG_HEARTBEATMS, 0); return m; }, parseLogon, false, "heart-beat interval"},
        {"negative filter", [&] { auto m = build(Logon{}); m->setIntValue(FLDTAG_FILTERMASK, -1); return m; }, parseLogon, false, "filter mask"},
        {"resume without token", [&] { auto m = build(Logon{}); m->setValue(FLDTAG_SESSIONID, "s"); m->setIntValue(FLDTAG_LASTRECEIVED, 1); return m; }, parseLogon, false, "resume token is missing"},
        {"resume without last received", [&] { auto m = build(Logon{}); m->setValue(FLDTAG_SESSIONID, "s"); m->setValue(FLDTAG_RESUMETOKEN, "t"); return m; }, parseLogon, false, "last received"},
        {"resume negative last received", [&] { Logon l; l.sessionId = "s"; l.resumeToken = "t"; auto m = build(l); m->setIntValue(FLDTAG_LASTRECEIVED, -3); return m; }, parseLogon, false, "last received"},
        {"by session without ID", [&] { auto m = build(Logon{}); m->setIntValue(FLDTAG_BYSESSION, 1); m->setIntValue(FLDTAG_BYSESSIONTRADERID, 3); return m; }, parseLogon, false, "trade session ID is missing"},
        {"by-session flag 2", [&] { auto m = build(Logon{}); m->setIntValue(FLDTAG_BYSESSION, 2); return m; }, parseLogon, false, "by-session flag"},
        {"ack without session", [&] { return msg(MSGTYPE_LOGONACK); }, parseAck, false, "session ID is missing"},
        {"ack initial without number", [&] { LogonAck a; a.sessionId = "s"; auto m = build(a); m->createGroupList(FLDTAG_NOINITIALMESSAGES)->appendGroup()->setValue(Fx::FLDTAG_TEXT, "x"); return m; }, parseAck, false, "command number"},
        {"ack properties as text", [&] { LogonAck a; a.sessionId = "s"; auto m = build(a); m->setValue(FLDTAG_NOPARAMS, "x"); return m; }, parseAck, false, "name/value list"},
        {"ack property without name skipped", [&] { LogonAck a; a.sessionId = "s"; auto m = build(a); m->createGroupList(FLDTAG_NOPARAMS)->appendGroup()->setValue(FLDTAG_PARAMVALUE, "v"); return m; }, parseAck, true, ""},
        {"descriptor session without ID", [&] { auto m = msg(MSGTYPE_STATIONDESCRIPTOR); m->createGroupList(FLDTAG_NOTRADINGSESSIONDESCS)->appendGroup()->setValue(FLDTAG_TRADINGSESSIONNAME, "n"); return m; }, parseDescriptor, false, "trading session ID is missing"},
        {"descriptor empty", [&] { return msg(MSGTYPE_STATIONDESCRIPTOR); }, parseDescriptor, true, ""},
    };
    for (const Case& c : cases) {
        auto m = throughWire(*c.make());
        Status st = c.parse(*m);
        EXPECT_EQ(st.ok(), c.ok) << c.name << ": " << st.reason();
        if (!c.ok) {
            EXPECT_NE(st.reason().find(c.reasonHas), std::string::npos) << c.name << ": " << st.reason();
        }
    }
}

TEST(AdminProtocol, RefusalsWithoutTextStillSaySomething)
{
    auto reject = std::make_unique<FieldGroup>();
    reject->setMsgType(MSGTYPE_LOGONREJECT);
    LogonReject r;
    ASSERT_TRUE(parse(*reject, r).ok());
    EXPECT_FALSE(r.text.empty());

    auto refused = std::make_unique<FieldGroup>();
    refused->setMsgType(MSGTYPE_STATIONDESCRIPTOR);
    refused->setIntValue(FLDTAG_REFUSED, 1);
    StationDescriptor d;
    ASSERT_TRUE(parse(*refused, d).ok());
    EXPECT_TRUE(d.refused);
    EXPECT_FALSE(d.refusalText.empty());

    // A reason from a newer peer still ends the session, read as the normal one.
    auto logout = std::make_unique<FieldGroup>();
    logout->setMsgType(MSGTYPE_LOGOUT);
    logout->setIntValue(FLDTAG_LOGOUTREASON, 42);
    Logout o;
    ASSERT_TRUE(parse(*logout, o).ok());
    EXPECT_EQ(o.reason, LogoutReason::kNormal);
}

} // namespace
} // namespace admin
} // namespace merrow
