#pragma once
// The state of a trading session (MSGTYPE_TRADINGSESSIONSTATUS): mode, status,
// times, the server's time zone, the instruments and named parameters.

#include <memory>
#include <string>
#include <vector>

#include "core/messages/fix_object.h"

namespace zel {

// FIX TradSesStatus codes.
enum ETradingSessionStatus : int {
    TradingSessionStatusUnknown = 0,
    TradingSessionStatusHalted = 1,
    TradingSessionStatusOpen = 2,
    TradingSessionStatusClosed = 3,
    TradingSessionStatusPreOpen = 4,
    TradingSessionStatusPreClose = 5,
    TradingSessionStatusRequestRejected = 6,
};

// One instrument of a trading session.
class CCurrency {
public:
    CCurrency(std::string symbol, std::string currency, int precision, std::string id, double roundLot)
        : m_symbol(std::move(symbol)), m_currency(std::move(currency)), m_precision(precision), m_id(std::move(id)),
          m_roundLot(roundLot)
    {
    }
    const char* getSymbol() const { return m_symbol.c_str(); }
    const char* getCurrency() const { return m_currency.c_str(); }
    int getPrecision() const { return m_precision; }
    const char* getID() const { return m_id.c_str(); }
    double getRoundLot() const { return m_roundLot; }

private:
    std::string m_symbol;
    std::string m_currency;
    int m_precision;
    std::string m_id;
    double m_roundLot;
};

class CTradingSessionStatus : public AFixObject {
public:
    CTradingSessionStatus() { reset(); }

    int getKind() const override { return KIND_TRADINGSESSIONSTATUS; }
    // A new message the caller frees. Times go out as UTC "YYYYMMDD-hh:mm:ss", only
    // when not 0.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    // False for a message of another type.
    bool fill(merrow::IMessage* message) override;
    void reset();

    const char* getTradSesReqID() const { return m_reqID.c_str(); }
    void setTradSesReqID(const char* v) { m_reqID = v != nullptr ? v : ""; }
    const char* getTradingSessionID() const { return m_sessionID.c_str(); }
    void setTradingSessionID(const char* v) { m_sessionID = v != nullptr ? v : ""; }
    const char* getTradingSessionSubID() const { return m_sessionSubID.c_str(); }
    void setTradingSessionSubID(const char* v) { m_sessionSubID = v != nullptr ? v : ""; }
    int getTradSesMode() const { return m_mode; }
    void setTradSesMode(int v) { m_mode = v; }
    ETradingSessionStatus getTradSesStatus() const { return m_status; }
    void setTradSesStatus(ETradingSessionStatus v) { m_status = v; }
    const char* getTradSesStatusRejReason() const { return m_rejReason.c_str(); }
    void setTradSesStatusRejReason(const char* v) { m_rejReason = v != nullptr ? v : ""; }
    // Date serials (UTC), 0 when not sent.
    double getTradSesStartTime() const { return m_startTime; }
    void setTradSesStartTime(double v) { m_startTime = v; }
    double getTradSesOpenTime() const { return m_openTime; }
    void setTradSesOpenTime(double v) { m_openTime = v; }
    double getTradSesCloseTime() const { return m_closeTime; }
    void setTradSesCloseTime(double v) { m_closeTime = v; }
    double getTransactTime() const { return m_transactTime; }
    void setTransactTime(double v) { m_transactTime = v; }
    const char* getText() const { return m_text.c_str(); }
    void setText(const char* v) { m_text = v != nullptr ? v : ""; }
    int getQORAServerTimeZone() const { return m_serverTimeZone; }
    void setQORAServerTimeZone(int v) { m_serverTimeZone = v; }

    int getCurrencyCount() const { return static_cast<int>(m_currencies.size()); }
    // Null outside the list; lives as long as this object.
    const CCurrency* getCurrency(int index) const;
    void addCurrency(std::unique_ptr<CCurrency> currency);

    int getParamCount() const { return static_cast<int>(m_paramNames.size()); }
    // Null outside the list.
    const char* getParamName(int index) const;
    const char* getParam(int index) const;
    // The value of the first parameter of that name, or null.
    const char* getParam(const char* name) const;
    // Null name ignored; null value stored as "".
    void addParam(const char* name, const char* value);

protected:
    ~CTradingSessionStatus() override = default;

private:
    std::string m_reqID;
    std::string m_sessionID;
    std::string m_sessionSubID;
    int m_mode;
    ETradingSessionStatus m_status;
    std::string m_rejReason;
    double m_startTime, m_openTime, m_closeTime, m_transactTime;
    std::string m_text;
    int m_serverTimeZone;
    std::vector<std::unique_ptr<CCurrency>> m_currencies;
    std::vector<std::string> m_paramNames;
    std::vector<std::string> m_paramValues;
};

} // namespace zel
