#pragma once
// One bar or tick of a price-history answer (MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH).

#include <string>

#include "core/messages/fix_object.h"

namespace zel {

class CMarketDataSnapshot : public AFixObject {
public:
    CMarketDataSnapshot() { reset(); }

    int getKind() const override { return KIND_MARKETDATASNAPSHOT; }
    // A new message the caller frees: ticks as a bid and an ask entry, bars as one
    // entry per non-zero price.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    // Reads a MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH with an FLDTAG_NOMDENTRIES group;
    // entries of an unknown type or a zero price are skipped.
    bool fill(merrow::IMessage* message) override;
    void reset();

    // Stores one price; false when it was ignored (no type, a zero price, or a type
    // this kind of snapshot does not hold). Date and time (server texts) set the
    // snapshot's time when both are given; a non-empty quote ID replaces the stored.
    bool updateEntry(char type, double price, const char* date, const char* time, const char* quoteID);
    // Has an instrument, a time, and the prices of a bar (all four of one side) or
    // of a tick (any one).
    bool isValid() const;
    bool isComplete() const { return mComplete; }
    void setComplete(bool complete) { mComplete = complete; }
    // The name of the interval ("1 hour"), "" for an unknown one.
    const char* getIntervalString() const;
    // Every field as "name=value", separated by blanks (for logs).
    std::string toString() const;

    const char* getQuoteID() const { return mQuoteID.c_str(); }
    void setQuoteID(const char* v) { mQuoteID = v != nullptr ? v : ""; }
    const char* getInstrument() const { return mInstrument.c_str(); }
    void setInstrument(const char* v) { mInstrument = v != nullptr ? v : ""; }
    double getDateTime() const { return mDateTime; }
    void setDateTime(double v) { mDateTime = v; }
    double getBidOpen() const { return mBidOpen; }
    void setBidOpen(double v) { mBidOpen = v; }
    double getBidHigh() const { return mBidHigh; }
    void setBidHigh(double v) { mBidHigh = v; }
    double getBidLow() const { return mBidLow; }
    void setBidLow(double v) { mBidLow = v; }
    double getBidClose() const { return mBidClose; }
    void setBidClose(double v) { mBidClose = v; }
    double getAskOpen() const { return mAskOpen; }
    void setAskOpen(double v) { mAskOpen = v; }
    double getAskHigh() const { return mAskHigh; }
    void setAskHigh(double v) { mAskHigh = v; }
    double getAskLow() const { return mAskLow; }
    void setAskLow(double v) { mAskLow = v; }
    double getAskClose() const { return mAskClose; }
    void setAskClose(double v) { mAskClose = v; }
    double getLow() const { return mLow; }
    void setLow(double v) { mLow = v; }
    double getHigh() const { return mHigh; }
    void setHigh(double v) { mHigh = v; }
    // 0 = tick; see getIntervalString.
    int getInterval() const { return mInterval; }
    void setInterval(int v) { mInterval = v; }
    const char* getMDReqID() const { return mMDReqID.c_str(); }
    void setMDReqID(const char* v) { mMDReqID = v != nullptr ? v : ""; }
    const char* getTradingSessionID() const { return mTradingSessionID.c_str(); }
    void setTradingSessionID(const char* v) { mTradingSessionID = v != nullptr ? v : ""; }
    const char* getTradingSessionSubID() const { return mTradingSessionSubID.c_str(); }
    void setTradingSessionSubID(const char* v) { mTradingSessionSubID = v != nullptr ? v : ""; }
    int getContinuousFlag() const { return mContinuousFlag; }
    void setContinuousFlag(int v) { mContinuousFlag = v; }
    const char* getBidId() const { return mBidId.c_str(); }
    void setBidId(const char* v) { mBidId = v != nullptr ? v : ""; }
    const char* getAskId() const { return mAskId.c_str(); }
    void setAskId(const char* v) { mAskId = v != nullptr ? v : ""; }
    const char* getBidQuoteCondition() const { return mBidQuoteCondition.c_str(); }
    void setBidQuoteCondition(const char* v) { mBidQuoteCondition = v != nullptr ? v : ""; }
    const char* getAskQuoteCondition() const { return mAskQuoteCondition.c_str(); }
    void setAskQuoteCondition(const char* v) { mAskQuoteCondition = v != nullptr ? v : ""; }
    // -1 when the server sent none.
    int getBidQuoteType() const { return mBidQuoteType; }
    void setBidQuoteType(int v) { mBidQuoteType = v; }
    int getAskQuoteType() const { return mAskQuoteType; }
    void setAskQuoteType(int v) { mAskQuoteType = v; }
    double getBidExpireDateTime() const { return mBidExpireDateTime; }
    void setBidExpireDateTime(double v) { mBidExpireDateTime = v; }
    double getAskExpireDateTime() const { return mAskExpireDateTime; }
    void setAskExpireDateTime(double v) { mAskExpireDateTime = v; }
    const char* getQORASymID() const { return mSymID.c_str(); }
    void setQORASymID(const char* v) { mSymID = v != nullptr ? v : ""; }

protected:
    ~CMarketDataSnapshot() override = default;

private:
    std::string mQuoteID;
    std::string mInstrument;
    double mDateTime;
    double mBidOpen, mBidHigh, mBidLow, mBidClose;
    double mAskOpen, mAskHigh, mAskLow, mAskClose;
    double mLow, mHigh;
    int mInterval;
    bool mComplete;
    std::string mMDReqID;
    std::string mTradingSessionID;
    std::string mTradingSessionSubID;
    int mContinuousFlag;
    std::string mBidId, mAskId;
    std::string mBidQuoteCondition, mAskQuoteCondition;
    int mBidQuoteType, mAskQuoteType;
    double mBidExpireDateTime, mAskExpireDateTime;
    std::string mSymID;
};

} // namespace zel
