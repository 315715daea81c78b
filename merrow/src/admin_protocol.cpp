#include "admin_protocol.h"

#include <cstring>
#include <limits>

#include "merrow/fix_defs.h"

namespace merrow {
namespace admin {

namespace {

using Fx = IFixDefs;

std::unique_ptr<FieldGroup> make(const char* type)
{
    auto m = std::make_unique<FieldGroup>();
    m->setMsgType(type);
    return m;
}

void setText(FieldGroup& g, int tag, const std::string& v) { g.setValue(tag, v.data(), v.size()); }
void setTextIfAny(FieldGroup& g, int tag, const std::string& v)
{
    if (!v.empty())
        setText(g, tag, v);
}

// Reads a field as text whatever kind the sender chose; false when it is absent or a
// group list.
bool readText(const IFieldGroup& g, int tag, std::string& out)
{
    const IField* f = g.getField(tag);
    if (!f || f->getType() == WIRETYPE_GROUPLIST)
        return false;
    const char* v = f->getValue();
    out.assign(v ? v : "", v ? f->getLength() : 0);
    return true;
}

// A field holding a whole number: an integer, or a text of base-10 digits (a sign
// allowed). False when absent or not a number.
bool readInt(const IFieldGroup& g, int tag, int64_t& out)
{
    const auto* f = dynamic_cast<const Field*>(g.getField(tag));
    if (!f) {
        const IField* other = g.getField(tag);
        if (!other || other->getType() == WIRETYPE_GROUPLIST)
            return false;
        out = other->getIntValue();
        return true;
    }
    switch (f->kind()) {
    case FieldKind::Integer:
        out = f->rawInt();
        return true;
    case FieldKind::Text: {
        const std::string& t = f->rawText();
        size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
        if (i == t.size() || t.size() > 20)
            return false;
        for (size_t k = i; k < t.size(); ++k)
            if (t[k] < '0' || t[k] > '9')
                return false;
        out = textToInt(t.data(), t.size());
        return true;
    }
    default:
        return false;
    }
}

Status missing(const char* what, const char* field) { return Status::error(std::string(what) + ": " + field + " is missing"); }
Status invalid(const char* what, const char* field) { return Status::error(std::string(what) + ": " + field + " is not valid"); }

Status checkType(const IMessage& m, AdminType want, const char* what)
{
    if (adminTypeOf(m) != want)
        return Status::error(std::string(what) + " expected, got message type \"" + m.getMsgType() + "\"");
    return Status();
}

Status optText(const IFieldGroup& g, int tag, std::string& out, const char* what, const char* field)
{
    if (!g.hasField(tag))
        return Status();
    if (!readText(g, tag, out))
        return invalid(what, field);
    return Status();
}

Status reqText(const IFieldGroup& g, int tag, std::string& out, const char* what, const char* field)
{
    if (!g.hasField(tag))
        return missing(what, field);
    return optText(g, tag, out, what, field);
}

Status optInt(const IFieldGroup& g, int tag, int64_t& out, const char* what, const char* field, int64_t lo = std::numeric_limits<int64_t>::min(),
              int64_t hi = std::numeric_limits<int64_t>::max())
{
    if (!g.hasField(tag))
        return Status();
    int64_t v = 0;
    if (!readInt(g, tag, v) || v < lo || v > hi)
        return invalid(what, field);
    out = v;
    return Status();
}

Status reqInt(const IFieldGroup& g, int tag, int64_t& out, const char* what, const char* field, int64_t lo = std::numeric_limits<int64_t>::min(),
              int64_t hi = std::numeric_limits<int64_t>::max())
{
    if (!g.hasField(tag))
        return missing(what, field);
    return optInt(g, tag, out, what, field, lo, hi);
}

Status optBool(const IFieldGroup& g, int tag, bool& out, const char* what, const char* field)
{
    int64_t v = out ? 1 : 0;
    Status st = optInt(g, tag, v, what, field, 0, 1);
    out = v != 0;
    return st;
}

Status optSeq(const IFieldGroup& g, int tag, uint64_t& out, const char* what, const char* field)
{
    int64_t v = static_cast<int64_t>(out);
    Status st = optInt(g, tag, v, what, field, 0);
    out = static_cast<uint64_t>(v);
    return st;
}

Status checkVersion(int64_t v, const char* what)
{
    if (v != kProtocolVersion)
        return Status::error(std::string(what) + ": protocol version " + std::to_string(v) + " is not supported (this side speaks " +
                             std::to_string(kProtocolVersion) + ")");
    return Status();
}

void buildNameValues(FieldGroup& g, int tag, const std::vector<NameValue>& list)
{
    if (list.empty())
        return;
    IFieldGroupList* l = g.createGroupList(tag);
    for (const auto& nv : list) {
        auto* e = static_cast<FieldGroup*>(l->appendGroup());
        setText(*e, FLDTAG_PARAMNAME, nv.name);
        setText(*e, FLDTAG_PARAMVALUE, nv.value);
    }
}

// Entries without a name are skipped: a list with holes is still usable.
Status parseNameValues(const IFieldGroup& g, int tag, std::vector<NameValue>& out, const char* what)
{
    out.clear();
    if (!g.hasField(tag))
        return Status();
    IFieldGroupList* l = g.getGroupList(tag);
    if (!l)
        return invalid(what, "name/value list");
    for (int i = 0; i < l->size(); ++i) {
        const IFieldGroup* e = l->get(i);
        NameValue nv;
        if (!e || !readText(*e, FLDTAG_PARAMNAME, nv.name) || nv.name.empty())
            continue;
        readText(*e, FLDTAG_PARAMVALUE, nv.value);
        out.push_back(std::move(nv));
    }
    return Status();
}

void buildInitial(FieldGroup& g, const std::vector<InitialMessage>& list)
{
    if (list.empty())
        return;
    IFieldGroupList* l = g.createGroupList(FLDTAG_NOINITIALMESSAGES);
    for (const auto& im : list) {
        auto* e = static_cast<FieldGroup*>(l->appendGroup());
        e->setIntValue(FLDTAG_COMMANDNUMBER, im.commandNumber);
        setText(*e, Fx::FLDTAG_TEXT, im.text);
    }
}

Status parseInitial(const IFieldGroup& g, std::vector<InitialMessage>& out, const char* what)
{
    out.clear();
    if (!g.hasField(FLDTAG_NOINITIALMESSAGES))
        return Status();
    IFieldGroupList* l = g.getGroupList(FLDTAG_NOINITIALMESSAGES);
    if (!l)
        return invalid(what, "initial message list");
    for (int i = 0; i < l->size(); ++i) {
        const IFieldGroup* e = l->get(i);
        InitialMessage im;
        if (!e || !readInt(*e, FLDTAG_COMMANDNUMBER, im.commandNumber))
            return invalid(what, "initial message command number");
        readText(*e, Fx::FLDTAG_TEXT, im.text);
        out.push_back(std::move(im));
    }
    return Status();
}

#define MERROW_TRY(expr)            \
    do {                            \
        Status st_ = (expr);        \
        if (!st_.ok())              \
            return st_;             \
    } while (0)

} // namespace

AdminType adminTypeOf(const char* t)
{
    if (!t || !*t)
        return AdminType::kUnknown;
    if (t[1] == '\0') {
        switch (t[0]) {
        case '0':
            return AdminType::kHeartbeat;
        case '1':
            return AdminType::kTestRequest;
        case '5':
            return AdminType::kLogout;
        case 'A':
            return AdminType::kLogon;
        default:
            return AdminType::kUnknown;
        }
    }
    if (std::strncmp(t, "U950", 4) != 0 || t[4] == '\0' || t[5] != '\0')
        return AdminType::kUnknown;
    switch (t[4]) {
    case '0':
        return AdminType::kHello;
    case '1':
        return AdminType::kStationDescriptor;
    case '2':
        return AdminType::kLogonAck;
    case '3':
        return AdminType::kLogonReject;
    case '4':
        return AdminType::kSetFilter;
    case '5':
        return AdminType::kResendComplete;
    default:
        return AdminType::kUnknown;
    }
}

AdminType adminTypeOf(const IMessage& message) { return adminTypeOf(message.getMsgType()); }

const std::string* findValue(const std::vector<NameValue>& list, const std::string& name)
{
    for (const auto& nv : list)
        if (nv.name == name)
            return &nv.value;
    return nullptr;
}

int statusCodeOf(LogoutReason reason)
{
    switch (reason) {
    case LogoutReason::kShutdown:
        return Fx::STATUSCODE_SHUTDOWN;
    case LogoutReason::kForcedRelogin:
        return Fx::STATUSCODE_FORCED_RELOGIN;
    case LogoutReason::kClient:
        return Fx::STATUSCODE_DISCONNECTED;
    case LogoutReason::kNormal:
    case LogoutReason::kExpired:
    default:
        return Fx::STATUSCODE_EXPIRED;
    }
}

// ---- Hello

std::unique_ptr<FieldGroup> build(const Hello& m)
{
    auto g = make(MSGTYPE_HELLO);
    g->setIntValue(FLDTAG_PROTOCOLVERSION, m.protocolVersion);
    setText(*g, FLDTAG_CONNECTIONNAME, m.connectionName);
    setTextIfAny(*g, FLDTAG_STATIONKIND, m.stationKind);
    setTextIfAny(*g, FLDTAG_APPLICATIONNAME, m.applicationName);
    return g;
}

Status parse(const IMessage& msg, Hello& out)
{
    const char* w = "Hello";
    out = Hello();
    MERROW_TRY(checkType(msg, AdminType::kHello, w));
    MERROW_TRY(reqInt(msg, FLDTAG_PROTOCOLVERSION, out.protocolVersion, w, "protocol version"));
    MERROW_TRY(reqText(msg, FLDTAG_CONNECTIONNAME, out.connectionName, w, "connection name"));
    MERROW_TRY(optText(msg, FLDTAG_STATIONKIND, out.stationKind, w, "station kind"));
    MERROW_TRY(optText(msg, FLDTAG_APPLICATIONNAME, out.applicationName, w, "application name"));
    return checkVersion(out.protocolVersion, w);
}

// ---- StationDescriptor

std::unique_ptr<FieldGroup> build(const StationDescriptor& m)
{
    auto g = make(MSGTYPE_STATIONDESCRIPTOR);
    if (m.refused) {
        g->setIntValue(FLDTAG_REFUSED, 1);
        setText(*g, Fx::FLDTAG_TEXT, m.refusalText);
        return g;
    }
    buildNameValues(*g, FLDTAG_NOPARAMS, m.parameters);
    if (!m.tradingSessions.empty()) {
        IFieldGroupList* l = g->createGroupList(FLDTAG_NOTRADINGSESSIONDESCS);
        for (const auto& d : m.tradingSessions) {
            auto* e = static_cast<FieldGroup*>(l->appendGroup());
            e->setValue(Fx::FLDTAG_TRADINGSESSIONID, d.getID());
            e->setValue(Fx::FLDTAG_TRADINGSESSIONSUBID, d.getSubID());
            e->setValue(FLDTAG_TRADINGSESSIONNAME, d.getName());
            e->setValue(FLDTAG_TRADINGSESSIONDESC, d.getDesc());
            if (d.pinRequired())
                e->setIntValue(FLDTAG_PINREQUIRED, 1);
        }
    }
    setTextIfAny(*g, FLDTAG_REDIRECTURL, m.redirectUrl);
    return g;
}

Status parse(const IMessage& msg, StationDescriptor& out)
{
    const char* w = "StationDescriptor";
    out = StationDescriptor();
    MERROW_TRY(checkType(msg, AdminType::kStationDescriptor, w));
    MERROW_TRY(optBool(msg, FLDTAG_REFUSED, out.refused, w, "refused flag"));
    if (out.refused) {
        readText(msg, Fx::FLDTAG_TEXT, out.refusalText);
        if (out.refusalText.empty())
            out.refusalText = "The server refused the connection.";
        return Status();
    }
    MERROW_TRY(parseNameValues(msg, FLDTAG_NOPARAMS, out.parameters, w));
    if (msg.hasField(FLDTAG_NOTRADINGSESSIONDESCS)) {
        IFieldGroupList* l = msg.getGroupList(FLDTAG_NOTRADINGSESSIONDESCS);
        if (!l)
            return invalid(w, "trading session list");
        for (int i = 0; i < l->size(); ++i) {
            const IFieldGroup* e = l->get(i);
            std::string id, sub, name, desc;
            if (!e || !readText(*e, Fx::FLDTAG_TRADINGSESSIONID, id) || id.empty())
                return missing(w, "trading session ID");
            readText(*e, Fx::FLDTAG_TRADINGSESSIONSUBID, sub);
            readText(*e, FLDTAG_TRADINGSESSIONNAME, name);
            readText(*e, FLDTAG_TRADINGSESSIONDESC, desc);
            bool pin = false;
            MERROW_TRY(optBool(*e, FLDTAG_PINREQUIRED, pin, w, "PIN flag"));
            out.tradingSessions.emplace_back(id.c_str(), sub.c_str(), name.c_str(), desc.c_str(), pin);
        }
    }
    return optText(msg, FLDTAG_REDIRECTURL, out.redirectUrl, w, "redirect URL");
}

// ---- Logon

std::unique_ptr<FieldGroup> build(const Logon& m)
{
    auto g = make(MSGTYPE_LOGON);
    g->setIntValue(FLDTAG_PROTOCOLVERSION, m.protocolVersion);
    setText(*g, FLDTAG_CONNECTIONNAME, m.connectionName);
    setTextIfAny(*g, FLDTAG_STATIONKIND, m.stationKind);
    setTextIfAny(*g, FLDTAG_APPLICATIONNAME, m.applicationName);
    setTextIfAny(*g, FLDTAG_USERNAME, m.user);
    setTextIfAny(*g, FLDTAG_PASSWORD, m.password);
    setTextIfAny(*g, Fx::FLDTAG_TRADINGSESSIONID, m.tradingSessionId);
    setTextIfAny(*g, Fx::FLDTAG_TRADINGSESSIONSUBID, m.tradingSessionSubId);
    setTextIfAny(*g, FLDTAG_PIN, m.pin);
    setTextIfAny(*g, FLDTAG_EXTRAPARAMS, m.extraParams);
    g->setIntValue(FLDTAG_HEARTBEATMS, m.heartbeatMs);
    if (m.filterMask != 0)
        g->setIntValue(FLDTAG_FILTERMASK, m.filterMask);
    if (m.bySession) {
        g->setIntValue(FLDTAG_BYSESSION, 1);
        setText(*g, FLDTAG_BYSESSIONID, m.bySessionId);
        setText(*g, FLDTAG_BYSESSIONSUBID, m.bySessionSubId);
        g->setIntValue(FLDTAG_BYSESSIONTRADERID, m.bySessionTraderId);
    }
    if (m.isResume()) {
        setText(*g, FLDTAG_SESSIONID, m.sessionId);
        setText(*g, FLDTAG_RESUMETOKEN, m.resumeToken);
        g->setIntValue(FLDTAG_LASTRECEIVED, static_cast<int64_t>(m.lastReceived));
    }
    return g;
}

Status parse(const IMessage& msg, Logon& out)
{
    const char* w = "Logon";
    out = Logon();
    MERROW_TRY(checkType(msg, AdminType::kLogon, w));
    MERROW_TRY(reqInt(msg, FLDTAG_PROTOCOLVERSION, out.protocolVersion, w, "protocol version"));
    MERROW_TRY(checkVersion(out.protocolVersion, w));
    MERROW_TRY(optText(msg, FLDTAG_CONNECTIONNAME, out.connectionName, w, "connection name"));
    MERROW_TRY(optText(msg, FLDTAG_STATIONKIND, out.stationKind, w, "station kind"));
    MERROW_TRY(optText(msg, FLDTAG_APPLICATIONNAME, out.applicationName, w, "application name"));
    MERROW_TRY(optText(msg, FLDTAG_USERNAME, out.user, w, "user name"));
    MERROW_TRY(optText(msg, FLDTAG_PASSWORD, out.password, w, "password"));
    MERROW_TRY(optText(msg, Fx::FLDTAG_TRADINGSESSIONID, out.tradingSessionId, w, "trading session ID"));
    MERROW_TRY(optText(msg, Fx::FLDTAG_TRADINGSESSIONSUBID, out.tradingSessionSubId, w, "trading session sub-ID"));
    MERROW_TRY(optText(msg, FLDTAG_PIN, out.pin, w, "PIN"));
    MERROW_TRY(optText(msg, FLDTAG_EXTRAPARAMS, out.extraParams, w, "extra parameters"));
    MERROW_TRY(optInt(msg, FLDTAG_HEARTBEATMS, out.heartbeatMs, w, "heart-beat interval", 1, 24LL * 3600 * 1000));
    int64_t mask = 0;
    MERROW_TRY(optInt(msg, FLDTAG_FILTERMASK, mask, w, "filter mask", 0, std::numeric_limits<int>::max()));
    out.filterMask = static_cast<int>(mask);
    MERROW_TRY(optBool(msg, FLDTAG_BYSESSION, out.bySession, w, "by-session flag"));
    if (out.bySession) {
        MERROW_TRY(reqText(msg, FLDTAG_BYSESSIONID, out.bySessionId, w, "trade session ID"));
        MERROW_TRY(optText(msg, FLDTAG_BYSESSIONSUBID, out.bySessionSubId, w, "trade session sub-ID"));
        MERROW_TRY(reqInt(msg, FLDTAG_BYSESSIONTRADERID, out.bySessionTraderId, w, "trader ID"));
        if (out.bySessionId.empty())
            return missing(w, "trade session ID");
    }
    MERROW_TRY(optText(msg, FLDTAG_SESSIONID, out.sessionId, w, "session ID"));
    if (out.isResume()) {
        MERROW_TRY(reqText(msg, FLDTAG_RESUMETOKEN, out.resumeToken, w, "resume token"));
        if (!msg.hasField(FLDTAG_LASTRECEIVED))
            return missing(w, "last received sequence");
        MERROW_TRY(optSeq(msg, FLDTAG_LASTRECEIVED, out.lastReceived, w, "last received sequence"));
    }
    return Status();
}

// ---- LogonAck

std::unique_ptr<FieldGroup> build(const LogonAck& m)
{
    auto g = make(MSGTYPE_LOGONACK);
    setText(*g, FLDTAG_SESSIONID, m.sessionId);
    setText(*g, FLDTAG_RESUMETOKEN, m.resumeToken);
    g->setIntValue(FLDTAG_TRADERID, m.traderId);
    g->setIntValue(FLDTAG_USERKIND, m.userKind);
    buildNameValues(*g, FLDTAG_NOPARAMS, m.properties);
    buildInitial(*g, m.initialMessages);
    g->setIntValue(FLDTAG_HEARTBEATMS, m.heartbeatMs);
    g->setIntValue(FLDTAG_LASTRECEIVED, static_cast<int64_t>(m.lastReceived));
    if (m.resumed)
        g->setIntValue(FLDTAG_RESUMED, 1);
    if (m.maxPayload != 0)
        g->setIntValue(FLDTAG_MAXPAYLOAD, m.maxPayload);
    return g;
}

Status parse(const IMessage& msg, LogonAck& out)
{
    const char* w = "LogonAck";
    out = LogonAck();
    MERROW_TRY(checkType(msg, AdminType::kLogonAck, w));
    MERROW_TRY(reqText(msg, FLDTAG_SESSIONID, out.sessionId, w, "session ID"));
    if (out.sessionId.empty())
        return missing(w, "session ID");
    MERROW_TRY(reqText(msg, FLDTAG_RESUMETOKEN, out.resumeToken, w, "resume token"));
    MERROW_TRY(optInt(msg, FLDTAG_TRADERID, out.traderId, w, "trader ID"));
    MERROW_TRY(optInt(msg, FLDTAG_USERKIND, out.userKind, w, "user kind"));
    MERROW_TRY(parseNameValues(msg, FLDTAG_NOPARAMS, out.properties, w));
    MERROW_TRY(parseInitial(msg, out.initialMessages, w));
    MERROW_TRY(optInt(msg, FLDTAG_HEARTBEATMS, out.heartbeatMs, w, "heart-beat interval", 1, 24LL * 3600 * 1000));
    MERROW_TRY(optSeq(msg, FLDTAG_LASTRECEIVED, out.lastReceived, w, "last received sequence"));
    int64_t maxPayload = 0;
    MERROW_TRY(optInt(msg, FLDTAG_MAXPAYLOAD, maxPayload, w, "payload limit", 0, int64_t{UINT32_MAX}));
    out.maxPayload = static_cast<uint32_t>(maxPayload);
    return optBool(msg, FLDTAG_RESUMED, out.resumed, w, "resumed flag");
}

// ---- LogonReject

std::unique_ptr<FieldGroup> build(const LogonReject& m)
{
    auto g = make(MSGTYPE_LOGONREJECT);
    setText(*g, Fx::FLDTAG_TEXT, m.text);
    if (m.expired)
        g->setIntValue(FLDTAG_EXPIRED, 1);
    return g;
}

Status parse(const IMessage& msg, LogonReject& out)
{
    const char* w = "LogonReject";
    out = LogonReject();
    MERROW_TRY(checkType(msg, AdminType::kLogonReject, w));
    readText(msg, Fx::FLDTAG_TEXT, out.text);
    MERROW_TRY(optBool(msg, FLDTAG_EXPIRED, out.expired, w, "expired flag"));
    // A reject is still a reject when its text got lost: give the person something.
    if (out.text.empty())
        out.text = out.expired ? "The session has expired." : "The server refused the logon.";
    return Status();
}

// ---- Heartbeat, TestRequest

std::unique_ptr<FieldGroup> build(const Heartbeat& m)
{
    auto g = make(MSGTYPE_HEARTBEAT);
    setTextIfAny(*g, Fx::FLDTAG_TESTREQID, m.testReqId);
    return g;
}

Status parse(const IMessage& msg, Heartbeat& out)
{
    out = Heartbeat();
    MERROW_TRY(checkType(msg, AdminType::kHeartbeat, "Heartbeat"));
    return optText(msg, Fx::FLDTAG_TESTREQID, out.testReqId, "Heartbeat", "TestReqID");
}

std::unique_ptr<FieldGroup> build(const TestRequest& m)
{
    auto g = make(MSGTYPE_TESTREQUEST);
    setText(*g, Fx::FLDTAG_TESTREQID, m.testReqId);
    return g;
}

Status parse(const IMessage& msg, TestRequest& out)
{
    out = TestRequest();
    MERROW_TRY(checkType(msg, AdminType::kTestRequest, "TestRequest"));
    return reqText(msg, Fx::FLDTAG_TESTREQID, out.testReqId, "TestRequest", "TestReqID");
}

// ---- Logout

std::unique_ptr<FieldGroup> build(const Logout& m)
{
    auto g = make(MSGTYPE_LOGOUT);
    g->setIntValue(FLDTAG_LOGOUTREASON, static_cast<int64_t>(m.reason));
    setTextIfAny(*g, Fx::FLDTAG_TEXT, m.text);
    return g;
}

Status parse(const IMessage& msg, Logout& out)
{
    const char* w = "Logout";
    out = Logout();
    MERROW_TRY(checkType(msg, AdminType::kLogout, w));
    int64_t reason = 0;
    // An unknown reason from a newer peer still ends the session: read it as normal.
    if (!optInt(msg, FLDTAG_LOGOUTREASON, reason, w, "reason").ok() || reason < 0 ||
        reason > static_cast<int64_t>(LogoutReason::kClient))
        reason = 0;
    out.reason = static_cast<LogoutReason>(reason);
    readText(msg, Fx::FLDTAG_TEXT, out.text);
    return Status();
}

// ---- SetFilter, ResendComplete

std::unique_ptr<FieldGroup> build(const SetFilter& m)
{
    auto g = make(MSGTYPE_SETFILTER);
    g->setIntValue(FLDTAG_FILTERMASK, m.mask);
    return g;
}

Status parse(const IMessage& msg, SetFilter& out)
{
    out = SetFilter();
    MERROW_TRY(checkType(msg, AdminType::kSetFilter, "SetFilter"));
    int64_t mask = 0;
    MERROW_TRY(reqInt(msg, FLDTAG_FILTERMASK, mask, "SetFilter", "filter mask", 0, std::numeric_limits<int>::max()));
    out.mask = static_cast<int>(mask);
    return Status();
}

std::unique_ptr<FieldGroup> build(const ResendComplete& m)
{
    auto g = make(MSGTYPE_RESENDCOMPLETE);
    buildInitial(*g, m.initialMessages);
    return g;
}

Status parse(const IMessage& msg, ResendComplete& out)
{
    out = ResendComplete();
    MERROW_TRY(checkType(msg, AdminType::kResendComplete, "ResendComplete"));
    return parseInitial(msg, out.initialMessages, "ResendComplete");
}

} // namespace admin
} // namespace merrow
