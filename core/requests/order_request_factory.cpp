#include "core/requests/order_request_factory.h"

#include <cstring>

#include "core/requests/request_command.h"
#include "core/requests/request_params.h"
#include "core/requests/strings.h"

namespace zel {

namespace {

const ValueMap* asValueMap(IZelValueMap* map)
{
    return dynamic_cast<const ValueMap*>(map);
}

// The value's text, or null when the map lacks the parameter.
const char* textOf(const ValueMap& map, ZelRequestParamsEnum param)
{
    const ValueMapValue* v = map.getParam(param);
    return v ? v->getString() : nullptr;
}

bool isEmpty(const char* text)
{
    return !text || !*text;
}

void addContingencyTypeUnlessPresent(CommandRequest& request, int32_t kind)
{
    if (!request.isParamExists(paramContingencyType_NAME))
        request.addParam(paramContingencyType_NAME, std::to_string(kind).c_str());
}

} // namespace

OrderRequestFactory::OrderRequestFactory(merrow::IUserSession* session, const RequestFactoryBase& factory,
                                         IZelValueMap* valueMap)
    : m_session(session),
      m_factory(factory),
      m_holder(valueMap),
      m_map(dynamic_cast<ValueMap*>(valueMap)),
      m_helper(OrderRequestHelper::instance())
{
}

CommandRequest* OrderRequestFactory::createRequest()
{
    m_lastError.clear();
    if (!m_map) {
        fail(Strings::getValueMapNotValid());
        return nullptr;
    }
    return dispatch().detach();
}

OrderRequestFactory::Req OrderRequestFactory::makeRequest(int32_t command) const
{
    const std::string id = RequestFactoryBase::takeRequestID(m_session);
    return adoptRef(new CommandRequest(id.c_str(), command));
}

OrderRequestFactory::Req OrderRequestFactory::fail(const char* message)
{
    m_lastError = message ? message : "";
    return Req();
}

bool OrderRequestFactory::copyParam(const ValueMap& map, P param, CommandRequest& request) const
{
    const char* text = textOf(map, param);
    if (!text)
        return false;
    if (const char* wire = m_factory.getParamName(param))
        request.addParam(wire, text);
    return true;
}

OrderRequestFactory::Req OrderRequestFactory::dispatch()
{
    const char* commandText = textOf(*m_map, P::Command);
    if (isEmpty(commandText))
        return fail(Strings::getMissedRequiredParam(userName(P::Command)));
    const RequestCommandName* command = findRequestCommand(commandText);
    if (!command)
        return fail(Strings::getUnknownCommand(commandText));

    const std::string name = command->name;
    if (name == CommandNames::UpdateMarginRequirements)
        return makeRequest(CmdUpdateMarginRequirements);
    bool applicable = false;
    if (name == CommandNames::CreateOTO) {
        Req r = buildOTO(&applicable);
        if (applicable)
            return r;
    }
    const bool joinNew = name == CommandNames::JoinToNewContingencyGroup;
    const bool joinExisting = name == CommandNames::JoinToExistingContingencyGroup;
    if (joinNew || joinExisting) {
        Req r = buildGroupJoin(joinNew, &applicable);
        if (applicable)
            return r;
    }

    int32_t kind = ContingencyNone;
    if (joinNew || joinExisting) {
        const ValueMapValue* v = m_map->getParam(P::ContingencyGroupType);
        kind = v ? v->getInteger() : 0;
    } else if (name == CommandNames::CreateOTO) {
        kind = ContingencyOTO;
    } else if (name == CommandNames::CreateOCO) {
        kind = ContingencyOCO;
    }
    if (isBatch())
        return buildBatch(command->command, kind);
    return buildSingle(command->command, kind);
}

OrderRequestFactory::Req OrderRequestFactory::buildSingle(int32_t command, int32_t kind)
{
    switch (command) {
    case CmdCreateOrder:
        return buildOrder();
    case CmdEditOrder:
        return buildEdit();
    case CmdDeleteOrder:
        return buildByKey(command, CommandNames::DeleteOrder);
    case CmdContingencyGroup:
        return buildGroupManagement(kind);
    case CmdSetSubscriptionStatus:
        return buildByKey(command, CommandNames::SetSubscriptionStatus);
    case CmdGetLastOrderUpdate:
        return buildLastOrderUpdate();
    default:
        return Req();
    }
}

bool OrderRequestFactory::requiredFill(const std::string& key, const ValueMap& map, CommandRequest& request)
{
    for (P p : m_helper.getRequired(key)) {
        if (copyParam(map, p, request))
            continue;
        P alternative;
        if (m_helper.getAlternative(key, p, &alternative) && copyParam(map, alternative, request))
            continue;
        fail(Strings::getMissedRequiredParam(userName(p)));
        return false;
    }
    return true;
}

bool OrderRequestFactory::requiredCheck(const std::string& key)
{
    for (P p : m_helper.getRequired(key)) {
        if (m_map->hasParam(p))
            continue;
        P alternative;
        if (m_helper.getAlternative(key, p, &alternative) && m_map->hasParam(alternative))
            continue;
        fail(Strings::getMissedRequiredParam(userName(p)));
        return false;
    }
    return true;
}

void OrderRequestFactory::optionalFill(const std::string& key, CommandRequest& request) const
{
    for (P p : m_helper.getOptional(key))
        copyParam(*m_map, p, request);
}

void OrderRequestFactory::addSide(CommandRequest& request, bool reversed) const
{
    const char* buySell = textOf(*m_map, P::BuySell);
    const bool buy = buySell && std::strcmp(buySell, "B") == 0;
    request.addParam(paramSide_NAME, buy != reversed ? "-1" : "1");
}

bool OrderRequestFactory::rangeFill(CommandRequest& request)
{
    for (P p : {P::RateMin, P::RateMax})
        if (!m_map->hasParam(p)) {
            fail(Strings::getMissedRequiredParam(userName(p)));
            return false;
        }
    copyParam(*m_map, P::RateMin, request);
    copyParam(*m_map, P::RateMax, request);
    return true;
}

bool OrderRequestFactory::trailingCheck(CommandRequest& request, P trail, P rate, P pegType, P pegOffset)
{
    if (!m_map->hasParam(trail))
        return true;
    if (!m_map->hasParam(rate) && (!m_map->hasParam(pegType) || !m_map->hasParam(pegOffset))) {
        fail(Strings::getTrailStopError(userName(rate), userName(pegType), userName(pegOffset)));
        return false;
    }
    copyParam(*m_map, trail, request);
    return true;
}

bool OrderRequestFactory::legCheck(CommandRequest& request, P rate, P pegType, P pegOffset, bool rateRequired)
{
    const bool hasRate = m_map->hasParam(rate);
    const bool hasType = m_map->hasParam(pegType);
    const bool hasOffset = m_map->hasParam(pegOffset);
    if ((hasRate && (hasType || hasOffset)) || (rateRequired && !hasRate && !hasType && !hasOffset)) {
        fail(Strings::getLegFieldError(userName(rate), userName(pegType), userName(pegOffset)));
        return false;
    }
    if (hasType != hasOffset) {
        fail(Strings::getPegParamError(userName(hasType ? pegOffset : pegType)));
        return false;
    }
    if (hasRate)
        return copyParam(*m_map, rate, request);
    if (hasType) {
        const char* given = textOf(*m_map, pegType);
        const char* digit = std::strcmp(given, "O") == 0 ? "0" : std::strcmp(given, "M") == 0 ? "1" : nullptr;
        if (!digit) {
            fail(Strings::getPegTypeError(given));
            return false;
        }
        if (const char* wire = m_factory.getParamName(pegType))
            request.addParam(wire, digit);
        copyParam(*m_map, pegOffset, request);
    }
    return true;
}

bool OrderRequestFactory::stopLimitFill(CommandRequest& request)
{
    return trailingCheck(request, P::TrailStepStop, P::RateStop, P::PegTypeStop, P::PegOffsetStop) &&
           legCheck(request, P::RateStop, P::PegTypeStop, P::PegOffsetStop, false) &&
           legCheck(request, P::RateLimit, P::PegTypeLimit, P::PegOffsetLimit, false);
}

OrderRequestFactory::Req OrderRequestFactory::buildOrder()
{
    const char* typeText = textOf(*m_map, P::OrderType);
    if (isEmpty(typeText))
        return fail(Strings::getMissedRequiredParam(userName(P::OrderType)));
    const char* type = OrderTypes::find(typeText);
    if (!type)
        return fail(Strings::getUnknownOrderType(typeText));
    const std::string key = type;

    Req r = makeRequest(CmdCreateOrder);
    bool ok = false;
    if (key == OrderTypes::MarketOpen || key == OrderTypes::MarketOpenRate || key == OrderTypes::MarketOpenRange) {
        r->addParam(paramStage_NAME, "O");
        ok = (key != OrderTypes::MarketOpenRange || rangeFill(*r)) && requiredFill(key, *m_map, *r);
        if (ok) {
            optionalFill(key, *r);
            ok = stopLimitFill(*r);
        }
    } else if (key == OrderTypes::MarketClose || key == OrderTypes::MarketCloseRate ||
               key == OrderTypes::MarketCloseRange) {
        // A net-quantity close opens the opposite position, so it goes out at the open stage.
        const char* net = textOf(*m_map, P::NetQuantity);
        r->addParam(paramStage_NAME, net && std::strcmp(net, "Y") == 0 ? "O" : "C");
        ok = (key != OrderTypes::MarketCloseRange || rangeFill(*r)) && requiredFill(key, *m_map, *r);
        if (ok) {
            optionalFill(key, *r);
            ok = stopLimitFill(*r);
        }
    } else if (key == OrderTypes::LimitEntry || key == OrderTypes::StopEntry) {
        r->addParam(paramStage_NAME, "O");
        ok = requiredFill(key, *m_map, *r);
        if (ok) {
            addSide(*r, key == OrderTypes::StopEntry);
            optionalFill(key, *r);
            ok = stopLimitFill(*r);
        }
    } else {  // "L", "S": attached to an existing trade
        const bool stop = key == OrderTypes::Stop;
        r->addParam(paramStage_NAME, "C");
        ok = requiredFill(key, *m_map, *r);
        if (ok) {
            addSide(*r, stop);
            ok = !stop || trailingCheck(*r, P::TrailStep, P::Rate, P::PegType, P::PegOffset);
        }
        if (ok) {
            optionalFill(key, *r);
            ok = legCheck(*r, P::Rate, P::PegType, P::PegOffset, true);
        }
    }
    if (!ok)
        return Req();
    copyParam(*m_map, P::CustomID, *r);
    return r;
}

OrderRequestFactory::Req OrderRequestFactory::buildEdit()
{
    const std::string key = CommandNames::EditOrder;
    Req r = makeRequest(CmdEditOrder);
    if (!requiredFill(key, *m_map, *r))
        return Req();
    optionalFill(key, *r);
    if (!legCheck(*r, P::Rate, P::PegType, P::PegOffset, false))
        return Req();
    return r;
}

OrderRequestFactory::Req OrderRequestFactory::buildByKey(int32_t command, const char* key)
{
    Req r = makeRequest(command);
    if (!requiredFill(key, *m_map, *r))
        return Req();
    return r;
}

OrderRequestFactory::Req OrderRequestFactory::buildGroupManagement(int32_t kind)
{
    Req r = makeRequest(CmdContingencyGroup);
    const char* key = kind != ContingencyNone ? CommandNames::JoinToNewContingencyGroup
                                              : CommandNames::RemoveFromContingencyGroup;
    if (!requiredFill(key, *m_map, *r))
        return Req();
    if (kind != ContingencyNone)
        addContingencyTypeUnlessPresent(*r, kind);
    return r;
}

OrderRequestFactory::Req OrderRequestFactory::buildLastOrderUpdate()
{
    if (!requiredCheck(CommandNames::GetLastOrderUpdate))
        return Req();
    // The key becomes a field name: an empty one would put a nameless field on the wire.
    const char* key = textOf(*m_map, P::LookupKey);
    if (isEmpty(key))
        return fail(Strings::getMissedRequiredParam(userName(P::LookupKey)));
    const char* account = textOf(*m_map, P::AccountName);
    Req r = makeRequest(CmdGetLastOrderUpdate);
    r->addParam(paramAccountName_NAME, account);
    r->addParam(paramReportID_NAME, account);
    r->addParam(key, textOf(*m_map, P::LookupValue));
    return r;
}

bool OrderRequestFactory::buildChildren(CommandRequest& parent, int32_t command)
{
    const int count = m_map->getChildrenCount();
    for (int i = 0; i < count; ++i) {
        IZelValueMap* child = m_map->peekChild(i);
        const ValueMap* childMap = asValueMap(child);
        if (!childMap) {
            fail(Strings::getValueMapNotValid());
            return false;
        }
        const char* childCommand = textOf(*childMap, P::Command);
        if (isEmpty(childCommand)) {
            fail(Strings::getMissedRequiredParam(userName(P::Command)));
            return false;
        }
        // A batch goes out as one command, so every member must be of that command.
        const RequestCommandName* found = findRequestCommand(childCommand);
        if (!found) {
            fail(Strings::getUnknownCommand(childCommand));
            return false;
        }
        if (found->command != command) {
            fail(Strings::getCommandNotInBatch(childCommand));
            return false;
        }
        OrderRequestFactory nested(m_session, m_factory, child);
        CommandRequest* built = nested.createRequest();
        if (!built) {
            fail(nested.getLastError().c_str());
            return false;
        }
        parent.addChild(built);
    }
    return true;
}

OrderRequestFactory::Req OrderRequestFactory::buildBatch(int32_t command, int32_t kind)
{
    Req r = makeRequest(command);
    if (!buildChildren(*r, command))
        return Req();
    for (int i = 0; i < r->getChildrenCount(); ++i)
        addContingencyTypeUnlessPresent(*r->getChild(i), kind);
    return r;
}

OrderRequestFactory::Req OrderRequestFactory::buildOTO(bool* applicable)
{
    *applicable = isBatch();
    if (!*applicable)
        return Req();
    Req r = makeRequest(CmdCreateOrder);
    if (!buildChildren(*r, CmdCreateOrder))
        return Req();
    const std::string primaryID = r->getChild(0)->getRequestID();
    for (int i = 1; i < r->getChildrenCount(); ++i) {
        CommandRequest* child = r->getChild(i);
        // An OCO group is triggered through its first order.
        if (child->getChildrenCount() > 0)
            child = child->getChild(0);
        addContingencyTypeUnlessPresent(*child, ContingencyOTO);
        child->addParam(paramPrimaryQID_NAME, primaryID.c_str());
    }
    return r;
}

OrderRequestFactory::Req OrderRequestFactory::buildGroupJoin(bool isNew, bool* applicable)
{
    *applicable = false;
    const ValueMapValue* kindValue = m_map->getParam(P::ContingencyGroupType);
    if (!isBatch() || !kindValue)
        return Req();
    const int32_t kind = kindValue->getInteger();
    const int count = m_map->getChildrenCount();
    const std::string key = isNew ? CommandNames::JoinToNewContingencyGroup : CommandNames::JoinToExistingContingencyGroup;

    std::string groupID;
    bool hasGroupID = false;
    int first = 0;
    if (!isNew) {
        *applicable = true;
        const char* id = textOf(*m_map, P::ContingencyID);
        if (!id)
            return fail(Strings::getMissedRequiredParam(userName(P::ContingencyID)));
        groupID = id;
        hasGroupID = true;
    } else if (kind == ContingencyOTO || kind == ContingencyLinked) {
        if (count < 2)
            return Req();
        *applicable = true;
        // The first order is the group's primary: the others join under its ID.
        const ValueMap* primary = asValueMap(m_map->peekChild(0));
        if (!primary)
            return fail(Strings::getValueMapNotValid());
        const char* id = textOf(*primary, P::OrderID);
        if (!id)
            return fail(Strings::getMissedRequiredParam(userName(P::OrderID)));
        groupID = id;
        hasGroupID = true;
        first = 1;
    } else {
        *applicable = true;
    }

    Req r = makeRequest(CmdContingencyGroup);
    for (int i = first; i < count; ++i) {
        const ValueMap* childMap = asValueMap(m_map->peekChild(i));
        if (!childMap)
            return fail(Strings::getValueMapNotValid());
        Req child = makeRequest(CmdContingencyGroup);
        if (!requiredFill(key, *m_map, *child))
            return Req();
        for (P p : m_helper.getChildParams(key))
            if (!copyParam(*childMap, p, *child))
                return fail(Strings::getMissedRequiredParam(userName(p)));
        if (hasGroupID) {
            child->addParam(paramContingencyID_NAME, groupID.c_str());
            child->addParam(paramContingencyType_NAME, std::to_string(kind).c_str());
        }
        r->addChild(child.detach());
    }
    return r;
}

} // namespace zel
