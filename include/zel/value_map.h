#pragma once
// Value maps: how an application describes an order or an order command before the
// request factory turns it into a request (IZelRequestFactory::createValueMap and
// createOrderRequest). A map holds typed parameters keyed by ZelRequestParamsEnum
// and an ordered list of child maps for batches (OCO, OTO, contingency groups).
//
// Ownership: createValueMap and clone return a new map holding one reference that
// belongs to the caller; getChild adds a reference that the caller releases;
// appendChild adds a reference of the map's own. The last release destroys the map,
// its values and its references to children.
// [Threading] Counting is atomic; the contents are not locked: fill a map on one
// thread, then hand it to the factory.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

// The parameters an application may set. The names are also the ones the factory
// uses in its error texts ("The required parameter 'Rate' must be specified").
enum class ZelRequestParamsEnum : int32_t {
    Command = 1,  // text: "CreateOrder", "EditOrder", ... (any case)
    AccountID = 2,
    OfferID = 3,
    TradeID = 4,
    BuySell = 5,  // "B" buys; anything else sells
    Amount = 6,
    Rate = 7,
    RateStop = 8,
    RateLimit = 9,
    TrailStepStop = 10,
    TrailStep = 11,
    TimeInForce = 12,
    CustomID = 13,
    OrderID = 14,
    PegOffsetStop = 15,
    PegOffsetLimit = 16,
    PegTypeStop = 17,
    PegTypeLimit = 18,
    PegOffset = 19,
    PegType = 20,
    NetQuantity = 21,
    OrderType = 22,  // text: "OM", "O", "OR", "CM", "C", "CR", "SE", "LE", "S", "L" (any case)
    RateMin = 23,
    RateMax = 24,
    ContingencyID = 25,
    SubscriptionStatus = 26,
    ClientRate = 27,
    ContingencyGroupType = 28,  // set with setInt: 0 none, 1 OCO, 2 OTO, 3 linked
    PrimaryQID = 29,
    AccountName = 30,
    LookupKey = 31,    // text: the name of the field to look up
    LookupValue = 32,  // text: the value looked up under that name
};

class ZEL_API IZelValueMap : public IAddRef {
public:
    // Stores a text (copied). A null text removes the parameter.
    virtual void setString(ZelRequestParamsEnum param, const char* value) = 0;
    // Each setter replaces a value already present, whatever its type.
    virtual void setDouble(ZelRequestParamsEnum param, double value) = 0;
    virtual void setInt(ZelRequestParamsEnum param, int value) = 0;
    virtual void setBoolean(ZelRequestParamsEnum param, bool value) = 0;
    // Returns a new map holding one reference: a copy of every value and a deep copy
    // of every child, independent of this map.
    virtual IZelValueMap* clone() = 0;
    // Removes every child (releasing this map's references); parameters stay.
    virtual void clear() = 0;
    virtual int getChildrenCount() = 0;
    // Adds a reference: the caller releases it. Null for an index outside
    // 0..getChildrenCount()-1.
    virtual IZelValueMap* getChild(int index) = 0;
    // Appends the child and adds a reference to it. A null child, this map itself or
    // a map that already holds this one among its descendants is not appended.
    virtual void appendChild(IZelValueMap* child) = 0;

protected:
    IZelValueMap() = default;
    ~IZelValueMap() override = default;
};
