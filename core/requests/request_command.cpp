#include "core/requests/request_command.h"

#include "core/messages/wire_values.h"

namespace zel {

namespace {

const RequestCommandName kCommands[] = {
    {CommandNames::CreateOrder, CmdCreateOrder},
    {CommandNames::CreateOCO, CmdCreateOrder},
    {CommandNames::CreateOTO, CmdCreateOrder},
    {CommandNames::EditOrder, CmdEditOrder},
    {CommandNames::DeleteOrder, CmdDeleteOrder},
    {CommandNames::JoinToNewContingencyGroup, CmdContingencyGroup},
    {CommandNames::JoinToExistingContingencyGroup, CmdContingencyGroup},
    {CommandNames::RemoveFromContingencyGroup, CmdContingencyGroup},
    {CommandNames::SetSubscriptionStatus, CmdSetSubscriptionStatus},
    {CommandNames::UpdateMarginRequirements, CmdUpdateMarginRequirements},
    {CommandNames::GetLastOrderUpdate, CmdGetLastOrderUpdate},
};

const char* const kOrderTypes[] = {
    OrderTypes::MarketOpen,  OrderTypes::MarketOpenRate,   OrderTypes::MarketOpenRange, OrderTypes::MarketClose,
    OrderTypes::MarketCloseRate, OrderTypes::MarketCloseRange, OrderTypes::StopEntry,   OrderTypes::LimitEntry,
    OrderTypes::Stop,        OrderTypes::Limit,
};

} // namespace

const RequestCommandName* findRequestCommand(const char* text)
{
    for (const RequestCommandName& c : kCommands)
        if (equalsIgnoreCase(text, c.name))
            return &c;
    return nullptr;
}

const char* OrderTypes::find(const char* text)
{
    for (const char* t : kOrderTypes)
        if (equalsIgnoreCase(text, t))
            return t;
    return nullptr;
}

} // namespace zel
