#include "rtmp_protocol.h"

#include <cstring>

#include "answer_texts.h"
#include "merrow/fix_defs.h"

namespace pellora::dealer {

using Fx = merrow::IFixDefs;

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes the five named entities and character references; false on anything else.
bool decodeValue(const std::string& raw, std::string& out) {
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '<') return false;
        if (c != '&') {
            out += c;
            continue;
        }
        const size_t semi = raw.find(';', i);
        if (semi == std::string::npos || semi - i > 10) return false;
        const std::string ent = raw.substr(i + 1, semi - i - 1);
        if (ent == "amp") out += '&';
        else if (ent == "lt") out += '<';
        else if (ent == "gt") out += '>';
        else if (ent == "quot") out += '"';
        else if (ent == "apos") out += '\'';
        else if (ent.size() > 1 && ent[0] == '#') {
            const bool hex = ent[1] == 'x';
            const std::string digits = ent.substr(hex ? 2 : 1);
            if (digits.empty()) return false;
            uint32_t cp = 0;
            for (char d : digits) {
                int v;
                if (d >= '0' && d <= '9') v = d - '0';
                else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
                else return false;
                cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
                if (cp > 0x10FFFF) return false;
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
            appendUtf8(out, cp);
        } else {
            return false;
        }
        i = semi;
    }
    return true;
}

void appendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

void attribute(std::string& out, const char* name, const std::string& value) {
    out += ' ';
    out += name;
    out += "=\"";
    appendEscaped(out, value);
    out += '"';
}

// An attribute the client's "&"-doubling leaves intact: no entity, bare "&", quoted
// with whichever quote character the value lacks. False when none fits.
bool bareAttribute(std::string& out, const char* name, const std::string& value) {
    if (value.find('<') != std::string::npos) return false;
    const bool dq = value.find('"') != std::string::npos;
    const bool sq = value.find('\'') != std::string::npos;
    if (dq && sq) return false;
    const char q = dq ? '\'' : '"';
    out += ' ';
    out += name;
    out += '=';
    out += q;
    out += value;
    out += q;
    return true;
}

bool isDecimal(const std::string& s) {
    return !s.empty() && s.size() <= 18 && s.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

const std::string* XmlRequest::attribute(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.first == name) return &a.second;
    return nullptr;
}

Status readXmlRequest(const std::string& text, XmlRequest& out) {
    out = XmlRequest();
    if (text.size() > kMaxXmlRequest)
        return Status::error("The XML request is larger than " + std::to_string(kMaxXmlRequest) + " bytes.");
    size_t i = 0;
    const size_t n = text.size();
    auto skipSpace = [&] {
        while (i < n && isSpace(text[i])) ++i;
    };
    skipSpace();
    if (text.compare(i, 5, "<?xml") == 0) {
        const size_t end = text.find("?>", i);
        if (end == std::string::npos) return Status::error("The XML declaration is not closed.");
        i = end + 2;
        skipSpace();
    }
    if (i >= n || text[i] != '<') return Status::error("The XML request holds no element.");
    ++i;
    const size_t nameStart = i;
    if (i >= n || !isNameStart(text[i])) return Status::error("The XML request's element has no name.");
    while (i < n && isNameChar(text[i])) ++i;
    out.name = text.substr(nameStart, i - nameStart);
    for (;;) {
        const size_t before = i;
        skipSpace();
        if (i >= n) return Status::error("The element <" + out.name + "> is not closed.");
        if (text[i] == '/' || text[i] == '>') break;
        if (i == before) return Status::error("The element <" + out.name + "> is malformed.");
        const size_t attrStart = i;
        if (!isNameStart(text[i])) return Status::error("The element <" + out.name + "> is malformed.");
        while (i < n && isNameChar(text[i])) ++i;
        std::string name = text.substr(attrStart, i - attrStart);
        skipSpace();
        if (i >= n || text[i] != '=') return Status::error("The attribute " + name + " has no value.");
        ++i;
        skipSpace();
        if (i >= n || (text[i] != '"' && text[i] != '\'')) return Status::error("The attribute " + name + " is not quoted.");
        const char q = text[i++];
        const size_t end = text.find(q, i);
        if (end == std::string::npos) return Status::error("The attribute " + name + " is not closed.");
        std::string value;
        if (!decodeValue(text.substr(i, end - i), value))
            return Status::error("The attribute " + name + " holds a bad character or entity.");
        i = end + 1;
        if (i < n && !isSpace(text[i]) && text[i] != '/' && text[i] != '>')
            return Status::error("The element <" + out.name + "> is malformed.");
        for (const auto& a : out.attributes)
            if (a.first == name) return Status::error("The attribute " + name + " is repeated.");
        out.attributes.emplace_back(std::move(name), std::move(value));
    }
    if (text[i] == '/') {
        if (i + 1 >= n || text[i + 1] != '>') return Status::error("The element <" + out.name + "> is malformed.");
        i += 2;
    } else {
        // An element with content: only white space may come before its end tag.
        ++i;
        skipSpace();
        const std::string endTag = "</" + out.name;
        if (text.compare(i, endTag.size(), endTag) != 0)
            return Status::error("The element <" + out.name + "> holds content or is not closed.");
        i += endTag.size();
        skipSpace();
        if (i >= n || text[i] != '>') return Status::error("The element <" + out.name + "> is not closed.");
        ++i;
    }
    skipSpace();
    if (i != n) return Status::error("The XML request holds more than one element.");
    return Status::ok();
}

std::string xmlRequestIdOf(const std::string& text) {
    XmlRequest r;
    if (readXmlRequest(text, r).isOk()) {
        const std::string* id = r.attribute("RequestId");
        return id ? *id : std::string();
    }
    // Unreadable: the first RequestId="…" text, taken as it stands.
    for (const char q : {'"', '\''}) {
        const std::string key = std::string("RequestId=") + q;
        const size_t at = text.find(key);
        if (at == std::string::npos) continue;
        const size_t start = at + key.size();
        const size_t end = text.find(q, start);
        if (end != std::string::npos && end - start <= 256) return text.substr(start, end - start);
    }
    return std::string();
}

std::string sysConfigDocument(const World& w, const Connection& c, std::vector<std::string>* omitted) {
    std::string out = "<SysConfigMsg>";
    auto prop = [&](const std::string& name, const std::string& value) {
        std::string element = "<Prop";
        if (!bareAttribute(element, "name", name) || !bareAttribute(element, "value", value)) {
            if (omitted) omitted->push_back(name);
            return;
        }
        out += element;
        out += "/>";
    };
    for (const SystemProperty& p : w.systemProperties) prop(p.name, p.value);
    if (!c.priceTerminal.empty()) prop("EXT_PRICE_TERMINAL", c.priceTerminal);
    out += "</SysConfigMsg>";
    return out;
}

std::string pairsDocument(const std::vector<Instrument>& instruments, const std::vector<OfferQuote>& quotes) {
    std::string out = "<SubscrList>";
    for (const Instrument& m : instruments) {
        out += "<Pair";
        attribute(out, "QORASymId", m.offerId);
        attribute(out, "Symbol", m.symbol);
        attribute(out, "ContractCurrency", m.contractCurrency);
        attribute(out, "Precision", std::to_string(m.digits));
        attribute(out, "PointSize", formatNumber(m.pointSize));
        // Offer prices are final: no adjustment to add.
        attribute(out, "SellAdj", "0");
        attribute(out, "BuyAdj", "0");
        attribute(out, "InstrumentType", std::to_string(m.instrumentType));
        for (const OfferQuote& q : quotes) {
            if (q.offerId != m.offerId) continue;
            attribute(out, "QuoteID", q.quoteId);
            attribute(out, "BidPx", formatPrice(q.bid, m.digits));
            attribute(out, "AskPx", formatPrice(q.ask, m.digits));
            attribute(out, "HighValue", formatPrice(q.high, m.digits));
            attribute(out, "LowValue", formatPrice(q.low, m.digits));
            break;
        }
        out += "/>";
    }
    out += "</SubscrList>";
    return out;
}

MessagePtr rtmpResponse(const std::string& requestId, const std::string& xml) {
    MessagePtr m(merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_QORARTMPRESPONSE));
    m->setValue(Fx::FLDTAG_TESTREQID, requestId.c_str());
    m->setValue(Fx::FLDTAG_TEXT, xml.data(), xml.size());
    return m;
}

MessagePtr xmlMessage(const std::string& xml) {
    MessagePtr m(merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_QORAXMLMESSAGE));
    m->setValue(Fx::FLDTAG_TEXT, xml.data(), xml.size());
    return m;
}

MessagePtr level2Snapshot(const std::vector<Level2Quote>& quotes, int64_t sequence) {
    MessagePtr m(merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT));
    merrow::IFieldGroup* origin = m->createGroupList(Fx::FLDTAG_NOMDENTRIES)->appendGroup();
    origin->setValue(Fx::FLDTAG_QORAMDORIGINATOR, kLevel2Originator);
    origin->setIntValue(Fx::FLDTAG_MDREQID, sequence);
    merrow::IFieldGroupList* list = origin->createGroupList(Fx::FLDTAG_QORAMDQUOTES);
    for (const Level2Quote& l : quotes) {
        if (!l.instrument) continue;
        const Instrument& ins = *l.instrument;
        const OfferQuote& q = l.quote;
        merrow::IFieldGroup* g = list->appendGroup();
        g->setValue(Fx::FLDTAG_SYMBOL, ins.symbol.c_str());
        if (isDecimal(ins.offerId))
            g->setIntValue(Fx::FLDTAG_QORASYMID, std::stoll(ins.offerId));
        else
            g->setValue(Fx::FLDTAG_QORASYMID, ins.offerId.c_str());
        g->setValue(Fx::FLDTAG_QUOTEENTRYID, q.quoteId.c_str());
        // Whole seconds since 1970, the form the clients read quote times in.
        g->setIntValue(Fx::FLDTAG_QORAMDQUOTEDATETIME, q.time > 0 ? q.time / kMsPerSecond : 0);
        g->setIntValue(static_cast<int>(Fx::MDENTRYTYPE_VOLUME), q.volume);
        merrow::IFieldGroup* ladder = g->createGroupList(Fx::FLDTAG_QORAMDPRICELADDERS)->appendGroup();
        ladder->setValue(Fx::FLDTAG_QORAMDLADDERID, "0");
        merrow::IFieldGroupList* entries = ladder->createGroupList(Fx::FLDTAG_QORAMDENTRYLIST);
        const double amount = ins.maxQuantity > 0 ? ins.maxQuantity : 1000000;
        auto entry = [&](char type, double rate, double size, const std::string& tradable) {
            merrow::IFieldGroup* e = entries->appendGroup();
            const char t[2] = {type, '\0'};
            e->setValue(Fx::FLDTAG_MDENTRYTYPE, t);
            e->setDoubleValue(Fx::FLDTAG_MDENTRYPX, rate);
            e->setDoubleValue(Fx::FLDTAG_QORAMDENTRYAMOUNT, size);
            e->setValue(Fx::FLDTAG_QUOTECONDITION, tradable == "I" ? "0" : "1");
        };
        entry(Fx::MDENTRYTYPE_BID, q.bid, amount, q.bidTradable);
        entry(Fx::MDENTRYTYPE_ASK, q.ask, amount, q.askTradable);
        entry(Fx::MDENTRYTYPE_HIGH, q.high, 0, "T");
        entry(Fx::MDENTRYTYPE_LOW, q.low, 0, "T");
    }
    return m;
}

} // namespace pellora::dealer
