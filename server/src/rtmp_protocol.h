#pragma once
// The RTMP variant's wire texts, written and read by the dealer on its own: the XML
// request element a client sends, the "SysConfigMsg" document of the system
// properties, the "SubscrList" document of instruments and offers, and level-2
// market-data snapshots. Pure functions; any thread.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "records.h"
#include "status.h"
#include "wire_messages.h"
#include "world.h"

namespace pellora::dealer {

// One request element: its name and its attributes in document order, entities
// decoded ("<SubscrList RequestId=\"7\" SessionId=\"...\" Parties=\"\"/>").
struct XmlRequest {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;

    // The value of the first attribute of that name (exact), or null.
    const std::string* attribute(const std::string& name) const;
};

// The largest request element read; anything longer is refused unread.
constexpr size_t kMaxXmlRequest = 64 * 1024;

// Reads a single element (an XML declaration and white space around it allowed);
// fails with the reason a reject carries.
Status readXmlRequest(const std::string& text, XmlRequest& out);
// The "RequestId" attribute of a text that may not parse as a whole ("" when none):
// a request the dealer refuses is still refused under its ID.
std::string xmlRequestIdOf(const std::string& text);

// "<SysConfigMsg>" with one "<Prop name=… value=…/>" per property (and
// "EXT_PRICE_TERMINAL" for a connection with a price terminal). Every "&" stays a
// bare "&" and no entity is written: the client escapes each "&" itself before it
// parses. An attribute holding '"' is quoted with apostrophes; a property that no
// quoting can carry (a '<', or both quote characters) is left out and its name put
// in `omitted`.
std::string sysConfigDocument(const World& w, const Connection& c, std::vector<std::string>* omitted = nullptr);

// The "SubscrList" answer: one "<Pair …/>" per instrument with the instrument's
// attributes and, where a quote of it is given, the offer's; ordinary XML escaping.
std::string pairsDocument(const std::vector<Instrument>& instruments, const std::vector<OfferQuote>& quotes);

// MSGTYPE_QORARTMPRESPONSE under the request's ID with the XML text.
MessagePtr rtmpResponse(const std::string& requestId, const std::string& xml);
// A pushed MSGTYPE_QORAXMLMESSAGE with no request ID.
MessagePtr xmlMessage(const std::string& xml);

// One quote of a level-2 snapshot: the instrument's offer ID, symbol and digits
// and its current quote.
struct Level2Quote {
    const Instrument* instrument = nullptr;
    OfferQuote quote;
};
// The name the dealer gives itself as the prices' originator.
constexpr const char* kLevel2Originator = "Pellora";
// MSGTYPE_QORARTMPMARKETDATASNAPSHOT: one originator entry (sequence number in
// FLDTAG_MDREQID) whose quotes carry symbol, offer ID, quote ID, the tick time as
// whole seconds since 1970, the day's volume, and one ladder of bid, ask, high and
// low entries. A quote's condition is "1" when tradable, "0" when indicative.
MessagePtr level2Snapshot(const std::vector<Level2Quote>& quotes, int64_t sequence);

} // namespace pellora::dealer
