#pragma once
// The rows of the trading tables. A table response reader hands out rows through the
// plain row interfaces (IZelOfferRow, ...); the tables of the table manager hand out
// the table-row interfaces (IZelOfferTableRow, ...), which add the columns the
// library calculates (profit and loss, margins, stop and limit rates).
//
// Ownership: a row lives as long as it is referenced; whoever hands one out adds a
// reference that the caller releases. Texts returned as const char* are
// NUL-terminated, never null ("" when the server sent nothing) and live as long as
// the row. getCell returns a pointer into the row, valid as long as the row is held.
// [Threading] Rows may be read and released on any thread. A reader row never
// changes; the calculated columns of a table row are recalculated by the table
// manager on the thread that delivers price and table updates.
// [Errors] Nothing throws. Column indexes out of range give null or false.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/table_column.h"
#include "zel/zel_export.h"

// The tables of a trading account, as the refresh requests and the table manager
// name them.
enum class ZelTable : int32_t {
    Offers = 0,
    Accounts = 1,
    Orders = 2,
    Trades = 3,
    ClosedTrades = 4,
    Messages = 5,
    Summary = 6,
};

// What every row offers: its cells by column index (the indexes of the table's full
// column list, which a reader row's shorter list is the start of) and its columns.
class ZEL_API IZelRow : public IAddRef {
public:
    // The cell of column: a pointer into the row (see IZelTableColumn for what it
    // points at); null for an index outside the table's columns.
    virtual const void* getCell(int column) = 0;
    // Whether the last update of the table changed that column; false for a reader
    // row and for an index out of range.
    virtual bool isCellChanged(int column) = 0;
    // The columns of this row, with a reference added: the caller releases it. A
    // reader row has the columns the server sends, a table row all of them.
    virtual IZelTableColumnCollection* columns() = 0;
    virtual ZelTable tableType() = 0;

protected:
    IZelRow() = default;
    ~IZelRow() override = default;
};

// A live price. The is...Valid tests say whether a column was supplied: an offer
// built from an instrument update that left a field out has that column invalid.
class ZEL_API IZelOfferRow : public IZelRow {
public:
    virtual const char* getOfferID() = 0;
    virtual const char* getInstrument() = 0;
    virtual const char* getQuoteID() = 0;
    virtual double getBid() = 0;
    virtual double getAsk() = 0;
    virtual double getLow() = 0;
    virtual double getHigh() = 0;
    virtual int getVolume() = 0;
    // Day serial.
    virtual double getTime() = 0;
    virtual const char* getBidTradable() = 0;
    virtual const char* getAskTradable() = 0;
    virtual double getSellInterest() = 0;
    virtual double getBuyInterest() = 0;
    virtual const char* getContractCurrency() = 0;
    virtual int getDigits() = 0;
    virtual double getPointSize() = 0;
    virtual const char* getSubscriptionStatus() = 0;
    virtual int getInstrumentType() = 0;
    virtual int getContractMultiplier() = 0;
    virtual const char* getTradingStatus() = 0;
    virtual const char* getValueDate() = 0;

    virtual bool isOfferIDValid() = 0;
    virtual bool isInstrumentValid() = 0;
    virtual bool isQuoteIDValid() = 0;
    virtual bool isBidValid() = 0;
    virtual bool isAskValid() = 0;
    virtual bool isLowValid() = 0;
    virtual bool isHighValid() = 0;
    virtual bool isVolumeValid() = 0;
    virtual bool isTimeValid() = 0;
    virtual bool isBidTradableValid() = 0;
    virtual bool isAskTradableValid() = 0;
    virtual bool isSellInterestValid() = 0;
    virtual bool isBuyInterestValid() = 0;
    virtual bool isContractCurrencyValid() = 0;
    virtual bool isDigitsValid() = 0;
    virtual bool isPointSizeValid() = 0;
    virtual bool isSubscriptionStatusValid() = 0;
    virtual bool isInstrumentTypeValid() = 0;
    virtual bool isContractMultiplierValid() = 0;
    virtual bool isTradingStatusValid() = 0;
    virtual bool isValueDateValid() = 0;

protected:
    IZelOfferRow() = default;
    ~IZelOfferRow() override = default;
};

class ZEL_API IZelOfferTableRow : public IZelOfferRow {
public:
    // Calculated: the value of one pip of one base unit, in the account currency.
    virtual double getPipCost() = 0;
    virtual bool isPipCostValid() = 0;

protected:
    IZelOfferTableRow() = default;
    ~IZelOfferTableRow() override = default;
};

class ZEL_API IZelAccountRow : public IZelRow {
public:
    virtual const char* getAccountID() = 0;
    virtual const char* getAccountName() = 0;
    virtual const char* getAccountKind() = 0;
    virtual double getBalance() = 0;
    virtual double getNonTradeEquity() = 0;
    virtual double getM2MEquity() = 0;
    virtual double getUsedMargin() = 0;
    virtual double getUsedMargin3() = 0;
    virtual const char* getMarginCallFlag() = 0;
    // Day serial.
    virtual double getLastMarginCallDate() = 0;
    virtual const char* getMaintenanceType() = 0;
    virtual int getAmountLimit() = 0;
    virtual int getBaseUnitSize() = 0;
    virtual bool getMaintenanceFlag() = 0;
    virtual const char* getManagerAccountID() = 0;
    // Spelled as the server's column is.
    virtual const char* getLevarageProfileID() = 0;

protected:
    IZelAccountRow() = default;
    ~IZelAccountRow() override = default;
};

class ZEL_API IZelAccountTableRow : public IZelAccountRow {
public:
    // Calculated from the account's trades.
    virtual double getEquity() = 0;
    virtual double getDayPL() = 0;
    virtual double getUsableMargin() = 0;
    virtual double getGrossPL() = 0;

protected:
    IZelAccountTableRow() = default;
    ~IZelAccountTableRow() override = default;
};

class ZEL_API IZelOrderRow : public IZelRow {
public:
    virtual const char* getOrderID() = 0;
    virtual const char* getRequestID() = 0;
    virtual double getRate() = 0;
    virtual double getExecutionRate() = 0;
    virtual double getRateMin() = 0;
    virtual double getRateMax() = 0;
    virtual const char* getTradeID() = 0;
    virtual const char* getAccountID() = 0;
    virtual const char* getAccountName() = 0;
    virtual const char* getOfferID() = 0;
    virtual bool getNetQuantity() = 0;
    virtual const char* getBuySell() = 0;
    virtual const char* getStage() = 0;
    virtual const char* getType() = 0;
    virtual const char* getStatus() = 0;
    // Day serial.
    virtual double getStatusTime() = 0;
    virtual int getAmount() = 0;
    virtual double getLifetime() = 0;
    virtual double getAtMarket() = 0;
    virtual int getTrailStep() = 0;
    virtual double getTrailRate() = 0;
    virtual const char* getTimeInForce() = 0;
    virtual const char* getAccountKind() = 0;
    virtual const char* getRequestTXT() = 0;
    virtual const char* getContingentOrderID() = 0;
    virtual int getContingencyType() = 0;
    virtual const char* getPrimaryID() = 0;
    virtual int getOriginAmount() = 0;
    virtual int getFilledAmount() = 0;
    virtual bool getWorkingIndicator() = 0;
    virtual const char* getPegType() = 0;
    virtual double getPegOffset() = 0;
    // Day serial.
    virtual double getExpireDate() = 0;
    virtual const char* getValueDate() = 0;
    virtual const char* getParties() = 0;

protected:
    IZelOrderRow() = default;
    ~IZelOrderRow() override = default;
};

class ZEL_API IZelOrderTableRow : public IZelOrderRow {
public:
    // Calculated: the rates of the order's stop and limit orders.
    virtual double getStop() = 0;
    virtual double getLimit() = 0;

protected:
    IZelOrderTableRow() = default;
    ~IZelOrderTableRow() override = default;
};

class ZEL_API IZelTradeRow : public IZelRow {
public:
    virtual const char* getTradeID() = 0;
    virtual const char* getAccountID() = 0;
    virtual const char* getAccountName() = 0;
    virtual const char* getAccountKind() = 0;
    virtual const char* getOfferID() = 0;
    virtual int getAmount() = 0;
    virtual const char* getBuySell() = 0;
    virtual double getOpenRate() = 0;
    // Day serial.
    virtual double getOpenTime() = 0;
    virtual const char* getOpenQuoteID() = 0;
    virtual const char* getOpenOrderID() = 0;
    virtual const char* getOpenOrderReqID() = 0;
    virtual const char* getOpenOrderRequestTXT() = 0;
    virtual double getCommission() = 0;
    virtual double getRolloverInterest() = 0;
    virtual const char* getTradeIDOrigin() = 0;
    // An integer, unlike the account's used margin.
    virtual int getUsedMargin() = 0;
    virtual const char* getValueDate() = 0;
    virtual const char* getParties() = 0;

protected:
    IZelTradeRow() = default;
    ~IZelTradeRow() override = default;
};

class ZEL_API IZelTradeTableRow : public IZelTradeRow {
public:
    // Calculated from the trade's offer and its stop and limit orders.
    virtual double getPL() = 0;
    virtual double getGrossPL() = 0;
    virtual double getClose() = 0;
    virtual double getStop() = 0;
    virtual double getLimit() = 0;

protected:
    IZelTradeTableRow() = default;
    ~IZelTradeTableRow() override = default;
};

class ZEL_API IZelClosedTradeRow : public IZelRow {
public:
    virtual const char* getTradeID() = 0;
    virtual const char* getAccountID() = 0;
    virtual const char* getAccountName() = 0;
    virtual const char* getAccountKind() = 0;
    virtual const char* getOfferID() = 0;
    virtual int getAmount() = 0;
    virtual const char* getBuySell() = 0;
    virtual double getGrossPL() = 0;
    virtual double getCommission() = 0;
    virtual double getRolloverInterest() = 0;
    virtual double getOpenRate() = 0;
    virtual const char* getOpenQuoteID() = 0;
    // Day serial.
    virtual double getOpenTime() = 0;
    virtual const char* getOpenOrderID() = 0;
    virtual const char* getOpenOrderReqID() = 0;
    virtual const char* getOpenOrderRequestTXT() = 0;
    virtual const char* getOpenOrderParties() = 0;
    virtual double getCloseRate() = 0;
    virtual const char* getCloseQuoteID() = 0;
    // Day serial.
    virtual double getCloseTime() = 0;
    virtual const char* getCloseOrderID() = 0;
    virtual const char* getCloseOrderReqID() = 0;
    virtual const char* getCloseOrderRequestTXT() = 0;
    virtual const char* getCloseOrderParties() = 0;
    virtual const char* getTradeIDOrigin() = 0;
    virtual const char* getTradeIDRemain() = 0;
    virtual const char* getValueDate() = 0;

protected:
    IZelClosedTradeRow() = default;
    ~IZelClosedTradeRow() override = default;
};

// Closed trades have no calculated columns.
class ZEL_API IZelClosedTradeTableRow : public IZelClosedTradeRow {
protected:
    IZelClosedTradeTableRow() = default;
    ~IZelClosedTradeTableRow() override = default;
};

class ZEL_API IZelMessageRow : public IZelRow {
public:
    virtual const char* getMsgID() = 0;
    // Day serial.
    virtual double getTime() = 0;
    virtual const char* getFrom() = 0;
    virtual const char* getType() = 0;
    virtual const char* getFeature() = 0;
    virtual const char* getText() = 0;
    virtual const char* getSubject() = 0;
    // Whether getText is a fragment of HTML.
    virtual bool getHTMLFragmentFlag() = 0;

protected:
    IZelMessageRow() = default;
    ~IZelMessageRow() override = default;
};

class ZEL_API IZelMessageTableRow : public IZelMessageRow {
protected:
    IZelMessageTableRow() = default;
    ~IZelMessageTableRow() override = default;
};

// The summary exists only in the table manager: one row per instrument with open
// trades, every column calculated.
class ZEL_API IZelSummaryRow : public IZelRow {
protected:
    IZelSummaryRow() = default;
    ~IZelSummaryRow() override = default;
};

class ZEL_API IZelSummaryTableRow : public IZelSummaryRow {
public:
    virtual const char* getOfferID() = 0;
    virtual int getDefaultSortOrder() = 0;
    virtual const char* getInstrument() = 0;
    virtual double getSellNetPL() = 0;
    // Amounts in thousands.
    virtual double getSellAmountK() = 0;
    virtual double getSellAvgOpen() = 0;
    virtual double getBuyClose() = 0;
    virtual double getSellClose() = 0;
    virtual double getBuyAvgOpen() = 0;
    virtual double getBuyAmountK() = 0;
    virtual double getBuyNetPL() = 0;
    virtual double getAmountK() = 0;
    virtual double getGrossPL() = 0;
    virtual double getNetPL() = 0;

protected:
    IZelSummaryTableRow() = default;
    ~IZelSummaryTableRow() override = default;
};
