#pragma once
// The session protocol's admin messages: what travels in frames of kind Admin.
// Each message has a plain struct, a build function (struct to message) and a
// parse function (message to struct). Parsing is tolerant: a missing optional
// field takes its default, a missing required field or a value out of range gives
// an error Status with a reason, and nothing crashes or throws. docs/wire.md
// describes the conversation for people.
//
// Conversation on one connection (client C, server S):
//   C: Hello            S: StationDescriptor           (optional; may redirect)
//   C: Logon            S: LogonAck | LogonReject
//   resume only:        S: the journal after Logon.lastReceived (resent flag set),
//                       S: ResendComplete (carries the fresh initial messages)
//   either side at any time: Heartbeat, TestRequest (answered by a Heartbeat that
//   names its TestReqID), Logout (then the sender closes); C: SetFilter.
// A connection may begin with Logon directly (a resume needs one round trip): the
// Logon names the connection and station kind itself.
//
// Every frame's header carries the sender's last received trading sequence number,
// so a Heartbeat doubles as the bare acknowledgement.
//
// [Threading] Free functions on their arguments only; call them from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "field_group.h"
#include "merrow/trading_session_desc.h"
#include "status.h"

namespace merrow {
namespace admin {

// The protocol version this build speaks; a Hello or Logon with another major
// version is refused with a text.
constexpr int64_t kProtocolVersion = 1;

// Message types of admin frames. FIX 4.4 letters where FIX has the message; the
// transport's own from "U9500".
constexpr const char* MSGTYPE_HEARTBEAT = "0";
constexpr const char* MSGTYPE_TESTREQUEST = "1";
constexpr const char* MSGTYPE_LOGOUT = "5";
constexpr const char* MSGTYPE_LOGON = "A";
constexpr const char* MSGTYPE_HELLO = "U9500";
constexpr const char* MSGTYPE_STATIONDESCRIPTOR = "U9501";
constexpr const char* MSGTYPE_LOGONACK = "U9502";
constexpr const char* MSGTYPE_LOGONREJECT = "U9503";
constexpr const char* MSGTYPE_SETFILTER = "U9504";
constexpr const char* MSGTYPE_RESENDCOMPLETE = "U9505";

// Field tags of admin messages, from 9500. FLDTAG_TEXT (58) and FLDTAG_TESTREQID
// (112), FLDTAG_TRADINGSESSIONID (336) and FLDTAG_TRADINGSESSIONSUBID (625) are
// shared with the public set.
// Hello and Logon: who is calling.
constexpr int FLDTAG_PROTOCOLVERSION = 9500;
constexpr int FLDTAG_CONNECTIONNAME = 9501;
constexpr int FLDTAG_STATIONKIND = 9502;
constexpr int FLDTAG_APPLICATIONNAME = 9503;
// Name/value lists (station parameters, session properties): a group list whose
// entries hold FLDTAG_PARAMNAME and FLDTAG_PARAMVALUE.
constexpr int FLDTAG_NOPARAMS = 9510;
constexpr int FLDTAG_PARAMNAME = 9511;
constexpr int FLDTAG_PARAMVALUE = 9512;
// StationDescriptor: trading sessions (entries: 336, 625, name, description,
// PIN flag), redirect, refusal.
constexpr int FLDTAG_NOTRADINGSESSIONDESCS = 9520;
constexpr int FLDTAG_TRADINGSESSIONNAME = 9521;
constexpr int FLDTAG_TRADINGSESSIONDESC = 9522;
constexpr int FLDTAG_PINREQUIRED = 9523;
constexpr int FLDTAG_REDIRECTURL = 9524;
constexpr int FLDTAG_REFUSED = 9525;
// Logon: credentials and options.
constexpr int FLDTAG_USERNAME = 9530;
constexpr int FLDTAG_PASSWORD = 9531;
constexpr int FLDTAG_PIN = 9532;
constexpr int FLDTAG_EXTRAPARAMS = 9533;
constexpr int FLDTAG_HEARTBEATMS = 9534;
constexpr int FLDTAG_FILTERMASK = 9535;
constexpr int FLDTAG_BYSESSION = 9536;
constexpr int FLDTAG_BYSESSIONID = 9537;
constexpr int FLDTAG_BYSESSIONSUBID = 9538;
constexpr int FLDTAG_BYSESSIONTRADERID = 9539;
// Session identity and resume (Logon, LogonAck).
constexpr int FLDTAG_SESSIONID = 9540;
constexpr int FLDTAG_RESUMETOKEN = 9541;
constexpr int FLDTAG_LASTRECEIVED = 9542;
constexpr int FLDTAG_RESUMED = 9543;
// LogonAck: what the login produced.
constexpr int FLDTAG_TRADERID = 9550;
constexpr int FLDTAG_USERKIND = 9551;
// Initial messages: a group list whose entries hold FLDTAG_COMMANDNUMBER and
// FLDTAG_TEXT.
constexpr int FLDTAG_NOINITIALMESSAGES = 9552;
constexpr int FLDTAG_COMMANDNUMBER = 9553;
// LogonAck: the largest payload the server takes; a client builds no larger frame.
constexpr int FLDTAG_MAXPAYLOAD = 9554;
// LogonReject and Logout.
constexpr int FLDTAG_EXPIRED = 9560;
constexpr int FLDTAG_LOGOUTREASON = 9561;

enum class AdminType {
    kUnknown,
    kHeartbeat,
    kTestRequest,
    kLogout,
    kLogon,
    kHello,
    kStationDescriptor,
    kLogonAck,
    kLogonReject,
    kSetFilter,
    kResendComplete,
};

// The admin type of a message by its message type; kUnknown for anything else.
AdminType adminTypeOf(const IMessage& message);
AdminType adminTypeOf(const char* msgType);

struct NameValue {
    std::string name;
    std::string value;
};

// The value of the first entry with the name, or null.
const std::string* findValue(const std::vector<NameValue>& list, const std::string& name);

struct InitialMessage {
    int64_t commandNumber = 0;
    std::string text;
};

struct Hello {
    int64_t protocolVersion = kProtocolVersion;
    std::string connectionName;
    std::string stationKind;  // "" or "PriceServer"
    std::string applicationName;
};

// The server's answer to Hello. A refusal carries only its text, written for a
// person ("Unknown connection name \"X\"."); the client raises it unchanged.
struct StationDescriptor {
    std::vector<NameValue> parameters;  // at least "version"
    std::vector<TradingSessionDesc> tradingSessions;
    std::string redirectUrl;  // empty: log in on this connection
    bool refused = false;
    std::string refusalText;
};

struct Logon {
    int64_t protocolVersion = kProtocolVersion;
    std::string connectionName;
    std::string stationKind;
    std::string applicationName;
    // Credentials; empty for loginBySession.
    std::string user;
    std::string password;
    std::string tradingSessionId;
    std::string tradingSessionSubId;
    std::string pin;  // empty: none given
    std::string extraParams;
    int64_t heartbeatMs = 10000;  // the interval the client wants
    int filterMask = 0;           // channels the client does not want
    // loginBySession: the trade session's identity stands in for user and password.
    bool bySession = false;
    std::string bySessionId;
    std::string bySessionSubId;
    int64_t bySessionTraderId = 0;
    // Resume of a cut session: all three set (sessionId non-empty).
    std::string sessionId;
    std::string resumeToken;
    uint64_t lastReceived = 0;  // highest trading sequence the client has

    bool isResume() const { return !sessionId.empty(); }
};

struct LogonAck {
    std::string sessionId;
    std::string resumeToken;
    int64_t traderId = 0;
    int64_t userKind = 0;
    std::vector<NameValue> properties;  // at least "TransportProvider"
    // For a fresh logon; a resumed ack carries none (ResendComplete does).
    std::vector<InitialMessage> initialMessages;
    int64_t heartbeatMs = 10000;  // the interval both sides use from now on
    uint64_t lastReceived = 0;    // highest trading sequence the server has from this session
    bool resumed = false;
    uint32_t maxPayload = 0;      // the server's receive limit; 0: not told (the default applies)
};

struct LogonReject {
    std::string text;
    bool expired = false;  // a resume refused because the session is gone
};

struct Heartbeat {
    std::string testReqId;  // set when answering a TestRequest
};

struct TestRequest {
    std::string testReqId;
};

enum class LogoutReason : int64_t {
    kNormal = 0,         // the server ended the session (an administrator, say)
    kExpired = 1,        // the session cannot continue (journal overflow, ...)
    kShutdown = 2,       // the server is going down
    kForcedRelogin = 3,  // the user must log in again
    kClient = 4,         // the client logged out
};

struct Logout {
    LogoutReason reason = LogoutReason::kNormal;
    std::string text;
};

struct SetFilter {
    int mask = 0;
};

struct ResendComplete {
    std::vector<InitialMessage> initialMessages;
};

// Builders: a new message of the admin type holding the struct's fields.
std::unique_ptr<FieldGroup> build(const Hello& m);
std::unique_ptr<FieldGroup> build(const StationDescriptor& m);
std::unique_ptr<FieldGroup> build(const Logon& m);
std::unique_ptr<FieldGroup> build(const LogonAck& m);
std::unique_ptr<FieldGroup> build(const LogonReject& m);
std::unique_ptr<FieldGroup> build(const Heartbeat& m);
std::unique_ptr<FieldGroup> build(const TestRequest& m);
std::unique_ptr<FieldGroup> build(const Logout& m);
std::unique_ptr<FieldGroup> build(const SetFilter& m);
std::unique_ptr<FieldGroup> build(const ResendComplete& m);

// Parsers: fill `out` from a message of that type. A message of another type, a
// required field missing or a value out of range is an error naming the field;
// `out` is then left in an unspecified but valid state.
Status parse(const IMessage& message, Hello& out);
Status parse(const IMessage& message, StationDescriptor& out);
Status parse(const IMessage& message, Logon& out);
Status parse(const IMessage& message, LogonAck& out);
Status parse(const IMessage& message, LogonReject& out);
Status parse(const IMessage& message, Heartbeat& out);
Status parse(const IMessage& message, TestRequest& out);
Status parse(const IMessage& message, Logout& out);
Status parse(const IMessage& message, SetFilter& out);
Status parse(const IMessage& message, ResendComplete& out);

// The Logout reason as the client reports it (a STATUSCODE_* of IFixDefs).
int statusCodeOf(LogoutReason reason);

} // namespace admin
} // namespace merrow
