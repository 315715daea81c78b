#include "core/responses/response.h"

namespace zel {

Response::Response(ZelResponseType type, const char* requestID, const char* payload)
    : m_requestID(requestID ? requestID : ""), m_type(type), m_response(payload ? payload : "")
{
}

void Response::setResponse(const char* text)
{
    m_response.assign(text ? text : "");
}

CommandResponseImpl::CommandResponseImpl(ZelResponseType type, const char* requestID, int32_t command)
    : Response(type, requestID), m_command(command)
{
}

MarketDataSnapshotResponse::MarketDataSnapshotResponse(const char* requestID, const char* instrument, int period,
                                                       double lastBarTime, int64_t lastBarVolume, const char* payload)
    : Response(ZelResponseType::MarketDataSnapshot, requestID, payload),
      m_instrument(instrument ? instrument : ""),
      m_period(period),
      m_lastBarTime(lastBarTime),
      m_lastBarVolume(lastBarVolume)
{
}

Level2MarketDataSnapshotResponse::Level2MarketDataSnapshotResponse(CLevel2MarketDataSnapshot* snapshot)
    : Response(ZelResponseType::TablesUpdates, ""), m_snapshot(snapshot)
{
}

} // namespace zel
