#pragma once
// Level-2 prices of the RTMP price server (MSGTYPE_QORARTMPMARKETDATASNAPSHOT): per
// price originator, quotes with ladders of bid, ask, high and low entries.
//
// Ownership: a tree owned from the root; every getter returns a view that lives as
// long as the snapshot.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/messages/fix_object.h"

namespace zel {

class CMDPriceEntry {
public:
    enum PriceEntryType : int { Bid = 0, Ask = 1, High = 2, Low = 3 };

    CMDPriceEntry(PriceEntryType type, double rate, double amount, std::string condition)
        : m_type(type), m_rate(rate), m_amount(amount), m_condition(std::move(condition))
    {
    }
    PriceEntryType getType() const { return m_type; }
    double getRate() const { return m_rate; }
    double getAmount() const { return m_amount; }
    const char* getCondition() const { return m_condition.c_str(); }

private:
    PriceEntryType m_type;
    double m_rate;
    double m_amount;
    std::string m_condition;
};

class CMDPriceLadder {
public:
    explicit CMDPriceLadder(std::string id) : m_id(std::move(id)) {}
    const char* getId() const { return m_id.c_str(); }
    const std::vector<std::unique_ptr<CMDPriceEntry>>& getPriceEntries() const { return m_entries; }
    std::vector<std::unique_ptr<CMDPriceEntry>>& priceEntries() { return m_entries; }

private:
    std::string m_id;
    std::vector<std::unique_ptr<CMDPriceEntry>> m_entries;
};

class CMDQuote {
public:
    CMDQuote() = default;
    // The symbol of the instrument.
    const char* getCurrency() const { return m_currency.c_str(); }
    const char* getOfferId() const { return m_offerId.c_str(); }
    const char* getQuoteId() const { return m_quoteId.c_str(); }
    // Date serials (UTC); 0 when the server sent none or an unreadable one.
    double getDateTime() const { return m_dateTime; }
    double getExpirationDateTime() const { return m_expiration; }
    int64_t getVolume() const { return m_volume; }
    const std::vector<std::unique_ptr<CMDPriceLadder>>& getPriceLadders() const { return m_ladders; }

private:
    friend class CLevel2MarketDataSnapshot;
    std::string m_currency;
    std::string m_offerId;
    std::string m_quoteId;
    double m_dateTime = 0;
    double m_expiration = 0;
    int64_t m_volume = 0;
    std::vector<std::unique_ptr<CMDPriceLadder>> m_ladders;
};

class CLevel2MarketData {
public:
    CLevel2MarketData(std::string originator, int64_t sequence)
        : m_originator(std::move(originator)), m_sequence(sequence)
    {
    }
    const char* getOriginator() const { return m_originator.c_str(); }
    int64_t getSequenceNumber() const { return m_sequence; }
    const std::vector<std::unique_ptr<CMDQuote>>& getQuotes() const { return m_quotes; }

private:
    friend class CLevel2MarketDataSnapshot;
    std::string m_originator;
    int64_t m_sequence;
    std::vector<std::unique_ptr<CMDQuote>> m_quotes;
};

class CLevel2MarketDataSnapshot : public AFixObject {
public:
    CLevel2MarketDataSnapshot() = default;

    int getKind() const override { return KIND_LEVEL2MARKETDATASNAPSHOT; }
    // Incoming only.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // Reads a MSGTYPE_QORARTMPMARKETDATASNAPSHOT with an FLDTAG_NOMDENTRIES group;
    // ladder entries of another type are skipped. Quote times are seconds since
    // 1970 (UTC).
    bool fill(merrow::IMessage* message) override;
    void reset() { m_marketDatas.clear(); }

    const std::vector<std::unique_ptr<CLevel2MarketData>>& getMarketDatas() const { return m_marketDatas; }
    // The snapshot for a log, one line per originator, quote and price entry:
    // "MD: originator = LP1; sequenceNumber = 42", "--== Quote: currency = EUR/USD;
    // quoteId = Q-1", "     bid = 1.2345 (amount = 1000000; condition = A)".
    // Numbers are written the same whatever the process's locale.
    std::string toString() const;

protected:
    ~CLevel2MarketDataSnapshot() override = default;

private:
    std::vector<std::unique_ptr<CLevel2MarketData>> m_marketDatas;
};

} // namespace zel
