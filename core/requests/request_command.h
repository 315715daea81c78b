#pragma once
// The command vocabulary of requests: command numbers, the command texts a value
// map names, the order types of "CreateOrder", and the contingency kinds.

#include <cstdint>

namespace zel {

// Command numbers sent to the server (FLDTAG_QORACOMMANDID). Numbers without a
// member here are used as plain values.
enum RequestCommand : int32_t {
    CmdLogout = 2,
    CmdGetSystemProperties = 3,  // on DAS also the offers refresh by account
    CmdRefreshAccounts = 5,
    CmdRefreshMessages = 7,
    CmdRefreshOffers = 9,
    CmdRefreshTrades = 10,
    CmdDeleteOrder = 19,
    CmdEditOrder = 20,
    CmdSetSubscriptionStatus = 24,
    CmdCreateOrder = 34,
    CmdRefreshTradesByAccount = 44,
    CmdRefreshOrders = 46,
    CmdRefreshClosedTrades = 67,
    CmdRefreshClosedTradesByAccount = 70,
    CmdGetLastOrderUpdate = 117,
    CmdContingencyGroup = 131,
    CmdUpdateMarginRequirements = 138,
    CmdGetInstruments = 139,
};

// The texts of ZelRequestParamsEnum::Command.
struct CommandNames {
    static constexpr const char* CreateOrder = "CreateOrder";
    static constexpr const char* CreateOCO = "CreateOCO";
    static constexpr const char* CreateOTO = "CreateOTO";
    static constexpr const char* EditOrder = "EditOrder";
    static constexpr const char* DeleteOrder = "DeleteOrder";
    static constexpr const char* JoinToNewContingencyGroup = "JoinToNewContingencyGroup";
    static constexpr const char* JoinToExistingContingencyGroup = "JoinToExistingContingencyGroup";
    static constexpr const char* RemoveFromContingencyGroup = "RemoveFromContingencyGroup";
    static constexpr const char* SetSubscriptionStatus = "SetSubscriptionStatus";
    static constexpr const char* UpdateMarginRequirements = "UpdateMarginRequirements";
    static constexpr const char* GetLastOrderUpdate = "GetLastOrderUpdate";
};

struct RequestCommandName {
    const char* name;  // the canonical spelling, one of CommandNames
    RequestCommand command;
};

// The entry of a command text, matched without regard to case; null when the text
// (or null) names no command. Entries are static.
const RequestCommandName* findRequestCommand(const char* text);

// The order types of "CreateOrder" (ZelRequestParamsEnum::OrderType).
struct OrderTypes {
    static constexpr const char* MarketOpen = "OM";        // open at any price
    static constexpr const char* MarketOpenRate = "O";     // open at a rate
    static constexpr const char* MarketOpenRange = "OR";   // open within a range
    static constexpr const char* MarketClose = "CM";       // close at any price
    static constexpr const char* MarketCloseRate = "C";    // close at a rate
    static constexpr const char* MarketCloseRange = "CR";  // close within a range
    static constexpr const char* StopEntry = "SE";
    static constexpr const char* LimitEntry = "LE";
    static constexpr const char* Stop = "S";   // attached to a trade
    static constexpr const char* Limit = "L";  // attached to a trade

    // The canonical spelling of a type, matched without regard to case in the order
    // above; null when the text (or null) names no type.
    static const char* find(const char* text);
};

// Values of ZelRequestParamsEnum::ContingencyGroupType and of CONTINGENCY_TYPE.
enum ContingencyType : int32_t {
    ContingencyNone = 0,
    ContingencyOCO = 1,
    ContingencyOTO = 2,
    // A further linked kind, joined to a new group like an OTO.
    ContingencyLinked = 3,
};

} // namespace zel
