#pragma once
// Reading the DAS requests and market-data requests clients send, and building the
// messages the dealer answers with. Reading never trusts the client: every field may
// be missing, of another kind or nonsense, and each reader says why it refused.
// Built messages belong to a MessagePtr, which frees them. Pure functions; any thread.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "merrow/fix_defs.h"
#include "merrow/message.h"
#include "status.h"
#include "timeframes.h"
#include "wire_time.h"

namespace pellora::dealer {

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

// One DAS request (a single request or a batch member).
struct DasRequest {
    std::string requestId;
    int command = 0;
    std::vector<std::pair<std::string, std::string>> params;  // in wire order

    // The value of the first parameter of that name (case-insensitive), or null.
    const std::string* param(const std::string& name) const;
};

// The request ID of a message as far as it can be read ("" when it has none).
std::string requestIdOf(const merrow::IFieldGroup& m);
// Reads a single request; fails with the reason a reject carries.
Status readDasRequest(const merrow::IFieldGroup& m, DasRequest& out);

// A price-history request.
struct MarketDataRequest {
    std::string requestId;
    std::string symbol;
    const Timeframe* timeframe = nullptr;
    int count = 0;          // 0: the default
    UnixMs from = 0, to = 0;
    bool includeWeekends = false;
    std::string responseFormat;
};
// Fails with the reject reason code (an MDREQREJREASON_* value) and a text.
Status readMarketDataRequest(const merrow::IFieldGroup& m, MarketDataRequest& out, int& rejectReason);

// MSGTYPE_QORARESPONSE under the ID, with the "DAS" entry holding the text.
MessagePtr dasResponse(const std::string& requestId, const std::string& text);
// MSGTYPE_QORAREQUESTREJECT under the ID with the reason as details and text.
MessagePtr requestReject(const std::string& requestId, const std::string& reason);
// MSGTYPE_MARKETDATAREQUESTREJECT.
MessagePtr marketDataReject(const std::string& requestId, int reason, const std::string& text);
// MSGTYPE_DASMESSAGE carrying a pushed update text.
MessagePtr dasMessage(const std::string& text);

// "YYYYMMDD" and "HH:MM:SS" (UTC) of the market-data request fields; false when malformed.
bool parseWireDateTime(const char* date, const char* time, UnixMs& out);

} // namespace pellora::dealer
