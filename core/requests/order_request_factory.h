#pragma once
// Order building: validates a value map against the order table and turns it into
// one DAS CommandRequest whose parameters are wire fields, with child requests for
// batches (OCO, OTO, contingency groups). Children are built by nested builders.
//
// Ownership: a builder lives for one createOrderRequest call and holds a reference
// to its value map; createRequest returns a new request holding one reference for
// the caller. The session and the factory are borrowed for the call.
// [Threading] Per call, never shared.

#include <cstdint>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/requests/order_request_helper.h"
#include "core/requests/request.h"
#include "core/requests/request_factory_base.h"
#include "core/requests/value_map.h"
#include "merrow/user_session.h"

namespace zel {

class OrderRequestFactory {
public:
    // A null map, or one that is not this library's ValueMap, makes createRequest
    // fail with "The value map is not valid.".
    OrderRequestFactory(merrow::IUserSession* session, const RequestFactoryBase& factory, IZelValueMap* valueMap);

    // The request, or null with the reason in getLastError. Never throws for bad input.
    CommandRequest* createRequest();
    // "" until a failure.
    const std::string& getLastError() const { return m_lastError; }
    bool isBatch() const { return m_map && m_map->getChildrenCount() > 0; }

    OrderRequestFactory(const OrderRequestFactory&) = delete;
    OrderRequestFactory& operator=(const OrderRequestFactory&) = delete;

private:
    using P = ZelRequestParamsEnum;
    using Req = RefPtr<CommandRequest>;

    Req dispatch();
    Req makeRequest(int32_t command) const;
    Req fail(const char* message);

    const char* userName(P param) const { return m_helper.getUserName(param); }
    // Adds the parameter's wire field with the value's text from the map; false
    // when the map lacks it.
    bool copyParam(const ValueMap& map, P param, CommandRequest& request) const;

    bool requiredFill(const std::string& key, const ValueMap& map, CommandRequest& request);
    bool requiredCheck(const std::string& key);
    void optionalFill(const std::string& key, CommandRequest& request) const;
    void addSide(CommandRequest& request, bool reversed) const;
    bool rangeFill(CommandRequest& request);
    bool trailingCheck(CommandRequest& request, P trail, P rate, P pegType, P pegOffset);
    bool legCheck(CommandRequest& request, P rate, P pegType, P pegOffset, bool rateRequired);
    bool stopLimitFill(CommandRequest& request);

    Req buildSingle(int32_t command, int32_t kind);
    Req buildOrder();
    Req buildEdit();
    Req buildByKey(int32_t command, const char* key);
    Req buildGroupManagement(int32_t kind);
    Req buildLastOrderUpdate();
    Req buildBatch(int32_t command, int32_t kind);
    // Builds every child map as a request of the given command into parent.
    bool buildChildren(CommandRequest& parent, int32_t command);
    // The special builders set *applicable to false when the map is not theirs to
    // build, so that the ordinary builders run instead.
    Req buildOTO(bool* applicable);
    Req buildGroupJoin(bool isNew, bool* applicable);

    merrow::IUserSession* m_session;
    const RequestFactoryBase& m_factory;
    RefPtr<IZelValueMap> m_holder;
    ValueMap* m_map;  // m_holder as this library's map; null when it is not one
    const OrderRequestHelper& m_helper;
    std::string m_lastError;
};

} // namespace zel
