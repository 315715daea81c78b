#pragma once
// The response objects: a typed payload under the identifier of the request it
// answers. Plain text responses, command responses that remember their command, the
// price-history answer with its bar details, and the level-2 snapshot.
//
// Ownership: created with one reference for the creator (ResponseFactory hands it
// to the dispatcher); the last release deletes. Level2MarketDataSnapshotResponse
// holds one reference to its snapshot.
// [Threading] Built by one thread before delivery, immutable afterwards.

#include <cstdint>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/marketdata/level2_market_data_snapshot.h"
#include "vorntool/add_ref.h"
#include "zel/response.h"

namespace zel {

class Response : public TThreadSafeAddRefImpl<IZelResponse> {
public:
    // Null identifier or payload are stored as "".
    Response(ZelResponseType type, const char* requestID, const char* payload = nullptr);

    ZelResponseType getType() override { return m_type; }
    const char* getRequestID() override { return m_requestID.c_str(); }

    // The payload text; lives as long as the response and until it is next set.
    const char* getResponse() const { return m_response.c_str(); }
    size_t getResponseLength() const { return m_response.size(); }
    void setResponse(const char* text);

protected:
    ~Response() override = default;

private:
    std::string m_requestID;
    ZelResponseType m_type;
    std::string m_response;
};

// A response that remembers the command of its request, so readers can tell which
// command a CommandResponse answers.
class CommandResponseImpl : public Response {
public:
    CommandResponseImpl(ZelResponseType type, const char* requestID, int32_t command);
    int32_t getCommand() const { return m_command; }

protected:
    ~CommandResponseImpl() override = default;

private:
    int32_t m_command;
};

// The answer to a price-history request: the bars travel as the payload, the last
// bar's time and volume beside it.
class MarketDataSnapshotResponse : public Response {
public:
    MarketDataSnapshotResponse(const char* requestID, const char* instrument, int period, double lastBarTime,
                               int64_t lastBarVolume, const char* payload);

    const char* getInstrument() const { return m_instrument.c_str(); }
    // The timing interval of the request (0: ticks).
    int getPeriod() const { return m_period; }
    double getLastBarTime() const { return m_lastBarTime; }
    int64_t getLastBarVolume() const { return m_lastBarVolume; }

protected:
    ~MarketDataSnapshotResponse() override = default;

private:
    std::string m_instrument;
    int m_period;
    double m_lastBarTime;
    int64_t m_lastBarVolume;
};

// A pushed level-2 snapshot (RTMP prices); a TablesUpdates response.
class Level2MarketDataSnapshotResponse : public Response {
public:
    // Adds a reference to the snapshot.
    explicit Level2MarketDataSnapshotResponse(CLevel2MarketDataSnapshot* snapshot);
    // Without a new reference; lives as long as the response.
    CLevel2MarketDataSnapshot* getMDS() const { return m_snapshot.get(); }

protected:
    ~Level2MarketDataSnapshotResponse() override = default;

private:
    RefPtr<CLevel2MarketDataSnapshot> m_snapshot;
};

} // namespace zel
