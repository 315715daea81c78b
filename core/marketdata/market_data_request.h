#pragma once
// The price-history and subscription request to the price server
// (MSGTYPE_MARKETDATAREQUEST); also decoded, when a peer reads one.

#include <string>
#include <vector>

#include "core/messages/fix_object.h"

namespace zel {

class CMarketDataRequest : public AFixObject {
public:
    // Bits of the MD entry type set.
    enum EntryTypeBit : int { EntryBid = 1, EntryAsk = 2, EntryHigh = 4, EntryLow = 8 };
    // Subscription request type indexes.
    enum SubscriptionIndex : int { Snapshot = 0, Subscribe = 1, Unsubscribe = 2 };

    CMarketDataRequest() { reset(); }

    int getKind() const override { return KIND_MARKETDATAREQUEST; }
    // A new message the caller frees; null for a subscription index outside 0..2.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    // Reads a MSGTYPE_MARKETDATAREQUEST; false for another type or an unknown
    // subscription request type.
    bool fill(merrow::IMessage* message) override;
    void reset();

    void setMDEntryTypeSet(int bits) { m_entryTypes = bits; }
    int getMDEntryTypeSet() const { return m_entryTypes; }
    // Null is ignored.
    void addRelatedSymbol(const char* symbol);
    int getSymbolCount() const { return static_cast<int>(m_symbols.size()); }
    // Null outside the list; lives as long as this object.
    const char* getRelatedSymbol(int index) const;
    void setTradingSessionID(const char* id) { m_tradingSessionID = id != nullptr ? id : ""; }
    const char* getTradingSessionID() const { return m_tradingSessionID.c_str(); }
    void setTradingSessionSubID(const char* id) { m_tradingSessionSubID = id != nullptr ? id : ""; }
    const char* getTradingSessionSubID() const { return m_tradingSessionSubID.c_str(); }
    void setSubscriptionRequestType(int index) { m_subscriptionType = index; }
    int getSubscriptionRequestType() const { return m_subscriptionType; }
    void setMDReqID(const char* id) { m_mdReqID = id != nullptr ? id : ""; }
    const char* getMDReqID() const { return m_mdReqID.c_str(); }
    void setTimingInterval(int interval) { m_timingInterval = interval; }
    int getTimingInterval() const { return m_timingInterval; }
    // Date serials (UTC); 0 = not set.
    void setStartDate(double serial) { m_startDate = serial; }
    double getStartDate() const { return m_startDate; }
    void setEndDate(double serial) { m_endDate = serial; }
    double getEndDate() const { return m_endDate; }
    // The maximum number of snapshots; not sent when 0 or less.
    void setNoSnapshot(int count) { m_noSnapshot = count; }
    int getNoSnapshot() const { return m_noSnapshot; }
    void setIncludeWeekendData(bool include) { m_includeWeekends = include; }
    bool getIncludeWeekendData() const { return m_includeWeekends; }
    void setMarketDepth(int depth) { m_marketDepth = depth; }
    int getMarketDepth() const { return m_marketDepth; }
    // Null means none (not sent).
    void setSettlType(const char* type);
    // Null when none.
    const char* getSettlType() const { return m_hasSettlType ? m_settlType.c_str() : nullptr; }
    void setResponseFormat(const char* format) { m_responseFormat = format != nullptr ? format : ""; }
    const char* getResponseFormat() const { return m_responseFormat.c_str(); }

protected:
    ~CMarketDataRequest() override = default;

private:
    int m_entryTypes;
    std::vector<std::string> m_symbols;
    std::string m_tradingSessionID;
    std::string m_tradingSessionSubID;
    int m_subscriptionType;
    std::string m_mdReqID;
    int m_timingInterval;
    double m_startDate;
    double m_endDate;
    int m_noSnapshot;
    bool m_includeWeekends;
    int m_marketDepth;
    std::string m_settlType;
    bool m_hasSettlType;
    std::string m_responseFormat;
};

} // namespace zel
