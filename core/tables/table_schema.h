#pragma once
// The columns of the seven tables, in column order: X(identifier, type, kind).
// The identifier is the column's name and the name of its record member, getter
// (get<name>), cell getter (get<name>AsVariant) and change test (is<name>Changed);
// type is an IZelTableColumn::ZelTableColumnType; kind is Reader for the columns a
// server answer carries and Calculated for those the table manager fills. Records,
// rows and column lists are all generated from these lists, so a column is added here
// and in the public row interface, nowhere else.

#define ZEL_OFFER_COLUMNS(X)                                                                                  \
    X(OfferID, String, Reader)                                                                                \
    X(Instrument, String, Reader)                                                                             \
    X(QuoteID, String, Reader)                                                                                \
    X(Bid, Double, Reader)                                                                                    \
    X(Ask, Double, Reader)                                                                                    \
    X(Low, Double, Reader)                                                                                    \
    X(High, Double, Reader)                                                                                   \
    X(Volume, Integer, Reader)                                                                                \
    X(Time, Date, Reader)                                                                                     \
    X(BidTradable, String, Reader)                                                                            \
    X(AskTradable, String, Reader)                                                                            \
    X(SellInterest, Double, Reader)                                                                           \
    X(BuyInterest, Double, Reader)                                                                            \
    X(ContractCurrency, String, Reader)                                                                       \
    X(Digits, Integer, Reader)                                                                                \
    X(PointSize, Double, Reader)                                                                              \
    X(SubscriptionStatus, String, Reader)                                                                     \
    X(InstrumentType, Integer, Reader)                                                                        \
    X(ContractMultiplier, Integer, Reader)                                                                    \
    X(TradingStatus, String, Reader)                                                                          \
    X(ValueDate, String, Reader)                                                                              \
    X(PipCost, Double, Calculated)

#define ZEL_ACCOUNT_COLUMNS(X)                                                                                \
    X(AccountID, String, Reader)                                                                              \
    X(AccountName, String, Reader)                                                                            \
    X(AccountKind, String, Reader)                                                                            \
    X(Balance, Double, Reader)                                                                                \
    X(NonTradeEquity, Double, Reader)                                                                         \
    X(M2MEquity, Double, Reader)                                                                              \
    X(UsedMargin, Double, Reader)                                                                             \
    X(UsedMargin3, Double, Reader)                                                                            \
    X(MarginCallFlag, String, Reader)                                                                         \
    X(LastMarginCallDate, Date, Reader)                                                                       \
    X(MaintenanceType, String, Reader)                                                                        \
    X(AmountLimit, Integer, Reader)                                                                           \
    X(BaseUnitSize, Integer, Reader)                                                                          \
    X(MaintenanceFlag, Boolean, Reader)                                                                       \
    X(ManagerAccountID, String, Reader)                                                                       \
    X(LevarageProfileID, String, Reader)                                                                      \
    X(Equity, Double, Calculated)                                                                             \
    X(DayPL, Double, Calculated)                                                                              \
    X(UsableMargin, Double, Calculated)                                                                       \
    X(GrossPL, Double, Calculated)

#define ZEL_ORDER_COLUMNS(X)                                                                                  \
    X(OrderID, String, Reader)                                                                                \
    X(RequestID, String, Reader)                                                                              \
    X(Rate, Double, Reader)                                                                                   \
    X(ExecutionRate, Double, Reader)                                                                          \
    X(RateMin, Double, Reader)                                                                                \
    X(RateMax, Double, Reader)                                                                                \
    X(TradeID, String, Reader)                                                                                \
    X(AccountID, String, Reader)                                                                              \
    X(AccountName, String, Reader)                                                                            \
    X(OfferID, String, Reader)                                                                                \
    X(NetQuantity, Boolean, Reader)                                                                           \
    X(BuySell, String, Reader)                                                                                \
    X(Stage, String, Reader)                                                                                  \
    X(Type, String, Reader)                                                                                   \
    X(Status, String, Reader)                                                                                 \
    X(StatusTime, Date, Reader)                                                                               \
    X(Amount, Integer, Reader)                                                                                \
    X(Lifetime, Double, Reader)                                                                               \
    X(AtMarket, Double, Reader)                                                                               \
    X(TrailStep, Integer, Reader)                                                                             \
    X(TrailRate, Double, Reader)                                                                              \
    X(TimeInForce, String, Reader)                                                                            \
    X(AccountKind, String, Reader)                                                                            \
    X(RequestTXT, String, Reader)                                                                             \
    X(ContingentOrderID, String, Reader)                                                                      \
    X(ContingencyType, Integer, Reader)                                                                       \
    X(PrimaryID, String, Reader)                                                                              \
    X(OriginAmount, Integer, Reader)                                                                          \
    X(FilledAmount, Integer, Reader)                                                                          \
    X(WorkingIndicator, Boolean, Reader)                                                                      \
    X(PegType, String, Reader)                                                                                \
    X(PegOffset, Double, Reader)                                                                              \
    X(ExpireDate, Date, Reader)                                                                               \
    X(ValueDate, String, Reader)                                                                              \
    X(Parties, String, Reader)                                                                                \
    X(Stop, Double, Calculated)                                                                               \
    X(Limit, Double, Calculated)

#define ZEL_TRADE_COLUMNS(X)                                                                                  \
    X(TradeID, String, Reader)                                                                                \
    X(AccountID, String, Reader)                                                                              \
    X(AccountName, String, Reader)                                                                            \
    X(AccountKind, String, Reader)                                                                            \
    X(OfferID, String, Reader)                                                                                \
    X(Amount, Integer, Reader)                                                                                \
    X(BuySell, String, Reader)                                                                                \
    X(OpenRate, Double, Reader)                                                                               \
    X(OpenTime, Date, Reader)                                                                                 \
    X(OpenQuoteID, String, Reader)                                                                            \
    X(OpenOrderID, String, Reader)                                                                            \
    X(OpenOrderReqID, String, Reader)                                                                         \
    X(OpenOrderRequestTXT, String, Reader)                                                                    \
    X(Commission, Double, Reader)                                                                             \
    X(RolloverInterest, Double, Reader)                                                                       \
    X(TradeIDOrigin, String, Reader)                                                                          \
    X(UsedMargin, Integer, Reader)                                                                            \
    X(ValueDate, String, Reader)                                                                              \
    X(Parties, String, Reader)                                                                                \
    X(PL, Double, Calculated)                                                                                 \
    X(GrossPL, Double, Calculated)                                                                            \
    X(Close, Double, Calculated)                                                                              \
    X(Stop, Double, Calculated)                                                                               \
    X(Limit, Double, Calculated)

#define ZEL_CLOSED_TRADE_COLUMNS(X)                                                                           \
    X(TradeID, String, Reader)                                                                                \
    X(AccountID, String, Reader)                                                                              \
    X(AccountName, String, Reader)                                                                            \
    X(AccountKind, String, Reader)                                                                            \
    X(OfferID, String, Reader)                                                                                \
    X(Amount, Integer, Reader)                                                                                \
    X(BuySell, String, Reader)                                                                                \
    X(GrossPL, Double, Reader)                                                                                \
    X(Commission, Double, Reader)                                                                             \
    X(RolloverInterest, Double, Reader)                                                                       \
    X(OpenRate, Double, Reader)                                                                               \
    X(OpenQuoteID, String, Reader)                                                                            \
    X(OpenTime, Date, Reader)                                                                                 \
    X(OpenOrderID, String, Reader)                                                                            \
    X(OpenOrderReqID, String, Reader)                                                                         \
    X(OpenOrderRequestTXT, String, Reader)                                                                    \
    X(OpenOrderParties, String, Reader)                                                                       \
    X(CloseRate, Double, Reader)                                                                              \
    X(CloseQuoteID, String, Reader)                                                                           \
    X(CloseTime, Date, Reader)                                                                                \
    X(CloseOrderID, String, Reader)                                                                           \
    X(CloseOrderReqID, String, Reader)                                                                        \
    X(CloseOrderRequestTXT, String, Reader)                                                                   \
    X(CloseOrderParties, String, Reader)                                                                      \
    X(TradeIDOrigin, String, Reader)                                                                          \
    X(TradeIDRemain, String, Reader)                                                                          \
    X(ValueDate, String, Reader)

#define ZEL_MESSAGE_COLUMNS(X)                                                                                \
    X(MsgID, String, Reader)                                                                                  \
    X(Time, Date, Reader)                                                                                     \
    X(From, String, Reader)                                                                                   \
    X(Type, String, Reader)                                                                                   \
    X(Feature, String, Reader)                                                                                \
    X(Text, String, Reader)                                                                                   \
    X(Subject, String, Reader)                                                                                \
    X(HTMLFragmentFlag, Boolean, Reader)

// The whole summary is calculated: it has no reader columns.
#define ZEL_SUMMARY_COLUMNS(X)                                                                                \
    X(OfferID, String, Calculated)                                                                            \
    X(DefaultSortOrder, Integer, Calculated)                                                                  \
    X(Instrument, String, Calculated)                                                                         \
    X(SellNetPL, Double, Calculated)                                                                          \
    X(SellAmountK, Double, Calculated)                                                                        \
    X(SellAvgOpen, Double, Calculated)                                                                        \
    X(BuyClose, Double, Calculated)                                                                           \
    X(SellClose, Double, Calculated)                                                                          \
    X(BuyAvgOpen, Double, Calculated)                                                                         \
    X(BuyAmountK, Double, Calculated)                                                                         \
    X(BuyNetPL, Double, Calculated)                                                                           \
    X(AmountK, Double, Calculated)                                                                            \
    X(GrossPL, Double, Calculated)                                                                            \
    X(NetPL, Double, Calculated)
