#pragma once
// The message catalogue: every text the request factory leaves in getLastError.
//
// Ownership: each getter returns a text owned by the catalogue; a getter that fills
// in names writes into a buffer of its own per thread, valid until the same getter
// runs again on that thread. Null arguments are written as "".
// [Threading] Any thread; buffers are per thread, so no call overwrites another
// thread's text.

namespace zel {

class Strings {
public:
    Strings() = delete;

    // "The required parameter '%s' must be specified"
    static const char* getMissedRequiredParam(const char* param);
    // "Command '%s' does not exist."
    static const char* getUnknownCommand(const char* command);
    // "Command '%s' cannot be part of this batch: a batch holds requests of its own command only."
    static const char* getCommandNotInBatch(const char* command);
    // "Order type '%s' does not exist."
    static const char* getUnknownOrderType(const char* orderType);
    // "Either '%s' or both '%s' and '%s' must be specified for using TrailStepStop parameters."
    static const char* getTrailStopError(const char* rate, const char* pegType, const char* pegOffset);
    // "Either '%s' or both '%s' and '%s' must be specified."
    static const char* getLegFieldError(const char* rate, const char* pegType, const char* pegOffset);
    // "'%s' must be specified."
    static const char* getPegParamError(const char* param);
    // "The '%s' must be either O or M."
    static const char* getPegTypeError(const char* given);
    // "The value map is not valid."
    static const char* getValueMapNotValid();
    // "The session is closed."
    static const char* getSessionClosed();
    // "The market data request was rejected.": a market-data reject without a text.
    static const char* getMarketDataRequestRejected();
    // "Desc=%s": the text of a request the server rejected.
    static const char* getErrorDesc(const char* text);
};

} // namespace zel
