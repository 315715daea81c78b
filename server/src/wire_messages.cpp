#include "wire_messages.h"

#include <cctype>
#include <cstring>

namespace pellora::dealer {

using Fx = merrow::IFixDefs;

namespace {

bool sameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string textOf(const merrow::IFieldGroup& m, int tag) {
    const char* v = m.getValue(tag);
    return v ? std::string(v) : std::string();
}

// A non-negative decimal integer of at most 9 digits.
bool readInt(const std::string& s, int& out) {
    if (s.empty() || s.size() > 9) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool digitsAt(const char* s, size_t at, size_t n, int& out) {
    out = 0;
    for (size_t i = 0; i < n; ++i) {
        const char c = s[at + i];
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

MessagePtr create(const char* type) { return MessagePtr(merrow::getMessageFactory()->createMessage(type)); }

} // namespace

const std::string* DasRequest::param(const std::string& name) const {
    for (const auto& p : params)
        if (sameText(p.first, name)) return &p.second;
    return nullptr;
}

std::string requestIdOf(const merrow::IFieldGroup& m) {
    const std::string type = textOf(m, Fx::FLDTAG_MSGTYPE);
    if (type == Fx::MSGTYPE_MARKETDATAREQUEST || type == Fx::MSGTYPE_QORAREQUESTBATCH) {
        std::string id = textOf(m, Fx::FLDTAG_MDREQID);
        if (!id.empty() || type == Fx::MSGTYPE_MARKETDATAREQUEST) return id;
    }
    return textOf(m, Fx::FLDTAG_TESTREQID);
}

Status readDasRequest(const merrow::IFieldGroup& m, DasRequest& out) {
    out = DasRequest();
    out.requestId = textOf(m, Fx::FLDTAG_TESTREQID);
    if (out.requestId.empty()) return Status::error("The request has no request ID.");
    if (!m.hasField(Fx::FLDTAG_QORACOMMANDID)) return Status::error("The request has no command number.");
    if (!readInt(textOf(m, Fx::FLDTAG_QORACOMMANDID), out.command))
        return Status::error("The command number '" + textOf(m, Fx::FLDTAG_QORACOMMANDID) + "' is not a number.");
    if (m.hasField(Fx::FLDTAG_QORANOPARAM)) {
        merrow::IFieldGroupList* list = m.getGroupList(Fx::FLDTAG_QORANOPARAM);
        if (!list) return Status::error("The request's parameters are not a group.");
        for (int i = 0; i < list->size(); ++i) {
            const merrow::IFieldGroup* g = list->get(i);
            const char* name = g ? g->getValue(Fx::FLDTAG_QORAPARAMNAME) : nullptr;
            if (!name || !*name) return Status::error("A request parameter has no name.");
            const char* value = g->getValue(Fx::FLDTAG_QORAPARAMVALUE);
            out.params.emplace_back(name, value ? value : "");
        }
    }
    return Status::ok();
}

bool parseWireDateTime(const char* date, const char* time, UnixMs& out) {
    if (!date || std::strlen(date) != 8) return false;
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (!digitsAt(date, 0, 4, y) || !digitsAt(date, 4, 2, mo) || !digitsAt(date, 6, 2, d)) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || y < 1900) return false;
    if (time && *time) {
        if (std::strlen(time) != 8 || time[2] != ':' || time[5] != ':') return false;
        if (!digitsAt(time, 0, 2, h) || !digitsAt(time, 3, 2, mi) || !digitsAt(time, 6, 2, s)) return false;
        if (h > 23 || mi > 59 || s > 59) return false;
    }
    out = makeUtc(y, mo, d, h, mi, s);
    return true;
}

Status readMarketDataRequest(const merrow::IFieldGroup& m, MarketDataRequest& out, int& reason) {
    out = MarketDataRequest();
    reason = Fx::MDREQREJREASON_UNKNOWN_SYMBOL;
    out.requestId = textOf(m, Fx::FLDTAG_MDREQID);
    if (out.requestId.empty()) return Status::error("The market-data request has no request ID.");
    if (m.getIntValue(Fx::FLDTAG_SUBSCRIPTIONREQUESTTYPE) != Fx::SUBSCRIPTIONREQUESTTYPE_SNAPSHOT) {
        reason = Fx::MDREQREJREASON_UNSUPPORTED_SUBSCRIPTIONREQUESTTYPE;
        return Status::error("Only snapshots of price history are served.");
    }
    merrow::IFieldGroupList* symbols = m.getGroupList(Fx::FLDTAG_NORELATEDSYM);
    if (!symbols || symbols->size() != 1 || !symbols->get(0)->getValue(Fx::FLDTAG_SYMBOL))
        return Status::error("The request must name exactly one instrument.");
    out.symbol = symbols->get(0)->getValue(Fx::FLDTAG_SYMBOL);

    reason = Fx::MDREQREJREASON_UNSUPPORTED_MDENTRYTYPE;
    int interval = 0;
    if (!readInt(textOf(m, Fx::FLDTAG_QORATIMINGINTERVAL).empty() ? "0" : textOf(m, Fx::FLDTAG_QORATIMINGINTERVAL),
                 interval))
        return Status::error("The timing interval '" + textOf(m, Fx::FLDTAG_QORATIMINGINTERVAL) + "' is not a number.");
    // The settlement type stands on the message; accept it in the entry-type group too.
    std::string settl = textOf(m, Fx::FLDTAG_SETTLTYPE);
    if (settl.empty())
        if (merrow::IFieldGroupList* types = m.getGroupList(Fx::FLDTAG_NOMDENTRYTYPES))
            for (int i = 0; i < types->size() && settl.empty(); ++i)
                if (const char* v = types->get(i)->getValue(Fx::FLDTAG_SETTLTYPE)) settl = v;
    if (Status s = timeframeFromRequest(interval, settl, out.timeframe); !s.isOk()) return s;

    reason = Fx::MDREQREJREASON_UNSUPPORTED_MARKETDEPTH;
    const std::string depth = textOf(m, Fx::FLDTAG_MARKETDEPTH);
    if (!depth.empty() && !readInt(depth, out.count))
        return Status::error("The number of bars '" + depth + "' is not a number.");

    reason = Fx::MDREQREJREASON_UNKNOWN_SYMBOL;
    if (m.hasField(Fx::FLDTAG_QORASTARTDATE) &&
        !parseWireDateTime(m.getValue(Fx::FLDTAG_QORASTARTDATE), m.getValue(Fx::FLDTAG_QORASTARTTIME), out.from))
        return Status::error("The start date is not a date.");
    if (m.hasField(Fx::FLDTAG_QORAENDDATE) &&
        !parseWireDateTime(m.getValue(Fx::FLDTAG_QORAENDDATE), m.getValue(Fx::FLDTAG_QORAENDTIME), out.to))
        return Status::error("The end date is not a date.");
    if (out.from && out.to && out.from > out.to) return Status::error("The start date is after the end date.");
    out.includeWeekends = sameText(textOf(m, Fx::FLDTAG_QORAINCLUDEWEEKENDS), "true");
    out.responseFormat = textOf(m, Fx::FLDTAG_RESPONSE_FORMAT);
    return Status::ok();
}

MessagePtr dasResponse(const std::string& requestId, const std::string& text) {
    MessagePtr m = create(Fx::MSGTYPE_QORARESPONSE);
    m->setValue(Fx::FLDTAG_TESTREQID, requestId.c_str());
    merrow::IFieldGroup* g = m->createGroupList(Fx::FLDTAG_QORANOPARAM)->appendGroup();
    g->setValue(Fx::FLDTAG_QORAPARAMNAME, "DAS");
    g->setValue(Fx::FLDTAG_QORAPARAMVALUE, text.data(), text.size());
    return m;
}

MessagePtr requestReject(const std::string& requestId, const std::string& reason) {
    MessagePtr m = create(Fx::MSGTYPE_QORAREQUESTREJECT);
    m->setValue(Fx::FLDTAG_TESTREQID, requestId.c_str());
    m->setValue(Fx::FLDTAG_QORAERRORDETAILS, reason.c_str());
    m->setValue(Fx::FLDTAG_TEXT, reason.c_str());
    return m;
}

MessagePtr marketDataReject(const std::string& requestId, int reason, const std::string& text) {
    MessagePtr m = create(Fx::MSGTYPE_MARKETDATAREQUESTREJECT);
    m->setValue(Fx::FLDTAG_MDREQID, requestId.c_str());
    m->setIntValue(Fx::FLDTAG_MDREQREJREASON, reason);
    m->setValue(Fx::FLDTAG_TEXT, text.c_str());
    return m;
}

MessagePtr dasMessage(const std::string& text) {
    MessagePtr m = create(Fx::MSGTYPE_DASMESSAGE);
    m->setValue(Fx::FLDTAG_TEXT, text.data(), text.size());
    return m;
}

} // namespace pellora::dealer
