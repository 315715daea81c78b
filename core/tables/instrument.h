#pragma once
// The instrument record: what the server says about one offer's instrument (name,
// digits, point size, price adjustments, trading limits), and the lookup through
// which offer rows are completed from it. The comments name the field of the DAS
// instruments table each member comes from.
//
// [Threading] A record is filled by the parser that makes it and not changed once it
// is in the instruments table (an update replaces it).

#include <cstdint>
#include <memory>
#include <string>

#include "vorntool/add_ref.h"

namespace zel {

struct Instrument {
    std::string offerID;            // 0: the key of the instruments table
    double buyInterest = 0;         // 4
    double sellInterest = 0;        // 5
    std::string symbol;             // 9: the instrument name ("EUR/USD")
    std::string contractCurrency;   // 10
    int32_t precision = 0;          // 12: digits
    double pointSize = 0;           // 13
    double sellAdj = 0;             // 15: added to the raw bid
    double buyAdj = 0;              // 16: added to the raw ask
    std::string subscriptionStatus; // 18
    int32_t instrumentType = 0;     // 21
    std::string priceStream;        // 23: the price-stream name
    int32_t contractMultiplier = 0; // 25
    std::string permissions;        // 26: the permissions list
    double condDistStopForTrade = 0;  // 27: condition distances
    double condDistLimitForTrade = 0; // 28
    double condDistEntryStop = 0;     // 29
    double condDistEntryLimit = 0;    // 30
    int32_t maxQuantity = 0;        // 31
    int32_t minQuantity = 0;        // 32
    std::string tradingStatus;      // 33
    int32_t baseUnitSize = 0;       // 36
    std::string field38;            // 38: stored as received, not interpreted
    std::string valueDate;          // 40

    // The fields an update left out: one bit per field that an update may omit,
    // in the order of kOmittableFields (byte k / 8, bit value 1 << (k % 8)).
    uint8_t missingFields[3] = {0, 0, 0};

    static constexpr int kOmittableFields[24] = {0,  9,  10, 12, 13, 15, 16, 18, 21, 25, 5,  4,
                                                 23, 26, 27, 28, 29, 30, 31, 32, 33, 36, 38, 40};

    // Marks or tests a DAS field as left out; fields without a bit are never missing.
    void setFieldMissing(int field, bool missing = true)
    {
        const int k = bitOf(field);
        if (k < 0)
            return;
        const unsigned bit = 1u << (k % 8);
        uint8_t& byte = missingFields[k / 8];
        byte = static_cast<uint8_t>(missing ? (byte | bit) : (byte & ~bit));
    }
    bool isFieldMissing(int field) const
    {
        const int k = bitOf(field);
        return k >= 0 && (missingFields[k / 8] & (1u << (k % 8))) != 0;
    }
    bool hasMissingFields() const { return (missingFields[0] | missingFields[1] | missingFields[2]) != 0; }
    // Takes every field this record left out from the stored one and clears the
    // bits: the result is complete again.
    void completeFrom(const Instrument& stored);

private:
    static int bitOf(int field)
    {
        for (int k = 0; k < 24; ++k) {
            if (kOmittableFields[k] == field)
                return k;
        }
        return -1;
    }
};

// A record that outlives every use (a test's fixture) handed out without an owner.
inline std::shared_ptr<const Instrument> borrowInstrument(const Instrument* instrument)
{
    return instrument ? std::shared_ptr<const Instrument>(std::shared_ptr<const Instrument>(), instrument) : nullptr;
}

// How the offer rows find their instrument; the instruments table implements it.
class IInstrumentsLookup : public IAddRef {
public:
    // The instrument of the offer, or null when unknown (and for a null ID). The
    // record is shared: it stays whole for as long as the caller holds it, even when
    // an update replaces it in the table meanwhile.
    virtual std::shared_ptr<const Instrument> find(const char* offerID) = 0;

protected:
    IInstrumentsLookup() = default;
    ~IInstrumentsLookup() override = default;
};

} // namespace zel
