#include "core/requests/value_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/requests/request_command.h"
#include "core/requests/request_params.h"

namespace zel {
namespace {

using P = ZelRequestParamsEnum;

RefPtr<ValueMap> newMap()
{
    return adoptRef(new ValueMap());
}

ValueMap* asMap(IZelValueMap* m)
{
    return dynamic_cast<ValueMap*>(m);
}

TEST(ValueMapValue, WireTextOfEachType)
{
    struct Case {
        ValueMapValue value;
        int type;
        const char* text;
    } cases[] = {
        {ValueMapValue::ofDouble(1.2345), ValueMapValue::Double, "1.234500"},
        {ValueMapValue::ofDouble(-0.0000004), ValueMapValue::Double, "-0.000000"},
        {ValueMapValue::ofDouble(1e7 + 0.5), ValueMapValue::Double, "10000000.500000"},
        {ValueMapValue::ofDouble(0.0000005), ValueMapValue::Double, "0.000000"},  // just below half a millionth in binary
        {ValueMapValue::ofInteger(-42), ValueMapValue::Integer, "-42"},
        {ValueMapValue::ofInteger(std::numeric_limits<int32_t>::min()), ValueMapValue::Integer, "-2147483648"},
        {ValueMapValue::ofBoolean(true), ValueMapValue::Boolean, "true"},
        {ValueMapValue::ofBoolean(false), ValueMapValue::Boolean, "false"},
        {ValueMapValue::ofString("EUR/USD"), ValueMapValue::String, "EUR/USD"},
        {ValueMapValue::ofString(nullptr), ValueMapValue::String, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.getType(), c.type) << c.text;
        EXPECT_STREQ(c.value.getString(), c.text);
    }
}

// A Java host sets the C library's locale from the user's environment; the wire
// text of a rate must keep its decimal point.
TEST(ValueMapValue, DoubleTextIgnoresTheLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
    const char* set = nullptr;
    for (const char* l : locales)
        if ((set = std::setlocale(LC_NUMERIC, l)) != nullptr)
            break;
    if (set == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const ValueMapValue v = ValueMapValue::ofDouble(1.5);
    const double back = ValueMapValue::ofString("1.25").getDouble();
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_STREQ(v.getString(), "1.500000");
    EXPECT_EQ(back, 1.25);
}

TEST(ValueMapValue, GettersConvertBetweenTypes)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        ValueMapValue value;
        int32_t asInteger;
        double asDouble;
        bool asBoolean;
    } cases[] = {
        {ValueMapValue::ofString("42"), 42, 42.0, true},
        {ValueMapValue::ofString("  -7 lots"), -7, -7.0, true},
        {ValueMapValue::ofString("+3"), 3, 3.0, true},
        {ValueMapValue::ofString("1.75"), 1, 1.75, true},
        {ValueMapValue::ofString("abc"), 0, 0.0, false},
        {ValueMapValue::ofString(""), 0, 0.0, false},
        {ValueMapValue::ofString("0"), 0, 0.0, false},
        {ValueMapValue::ofString("TRUE"), 0, 0.0, true},
        {ValueMapValue::ofString("nan"), 0, 0.0, false},
        {ValueMapValue::ofString("99999999999"), std::numeric_limits<int32_t>::max(), 99999999999.0, true},
        {ValueMapValue::ofString("-99999999999"), std::numeric_limits<int32_t>::min(), -99999999999.0, true},
        {ValueMapValue::ofDouble(2.9), 2, 2.9, true},
        {ValueMapValue::ofDouble(-2.9), -2, -2.9, true},
        {ValueMapValue::ofDouble(1e20), std::numeric_limits<int32_t>::max(), 1e20, true},
        {ValueMapValue::ofDouble(-1e20), std::numeric_limits<int32_t>::min(), -1e20, true},
        {ValueMapValue::ofDouble(0.0), 0, 0.0, false},
        {ValueMapValue::ofInteger(-3), -3, -3.0, true},
        {ValueMapValue::ofInteger(0), 0, 0.0, false},
        {ValueMapValue::ofBoolean(true), 1, 1.0, true},
        {ValueMapValue::ofBoolean(false), 0, 0.0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.getInteger(), c.asInteger) << c.value.getString();
        EXPECT_EQ(c.value.getDouble(), c.asDouble) << c.value.getString();
        EXPECT_EQ(c.value.getBoolean(), c.asBoolean) << c.value.getString();
    }
    const ValueMapValue n = ValueMapValue::ofDouble(nan);
    EXPECT_EQ(n.getInteger(), 0);
    EXPECT_FALSE(n.getBoolean());
}

TEST(ValueMap, SettersStoreReplaceAndRemove)
{
    RefPtr<ValueMap> m = newMap();
    m->setString(P::OfferID, nullptr);  // absent: nothing changes
    EXPECT_EQ(m->getParamCount(), 0);

    m->setString(P::Rate, "1.1");
    m->setDouble(P::Rate, 1.2345);  // another type replaces the text
    ASSERT_NE(m->getParam(P::Rate), nullptr);
    EXPECT_EQ(m->getParam(P::Rate)->getType(), ValueMapValue::Double);
    EXPECT_STREQ(m->getParam(P::Rate)->getString(), "1.234500");
    m->setInt(P::Amount, 1000);
    m->setBoolean(P::NetQuantity, true);
    m->setString(P::Command, "CreateOrder");
    EXPECT_EQ(m->getParamCount(), 4);
    EXPECT_STREQ(m->getParam(P::Amount)->getString(), "1000");
    EXPECT_STREQ(m->getParam(P::NetQuantity)->getString(), "true");

    m->setString(P::Command, nullptr);  // present: removed
    EXPECT_FALSE(m->hasParam(P::Command));
    m->removeIfExist(P::Amount);
    m->removeIfExist(P::Amount);
    EXPECT_EQ(m->getParamCount(), 2);
    EXPECT_EQ(m->getParam(P::OrderID), nullptr);
}

// Counts destructions, so that tests see children released.
class CountedMap : public ValueMap {
public:
    explicit CountedMap(std::atomic<int>* destroyed) : m_destroyed(destroyed) {}

protected:
    ~CountedMap() override { m_destroyed->fetch_add(1); }

private:
    std::atomic<int>* m_destroyed;
};

TEST(ValueMap, ClearAndDestructionReleaseChildren)
{
    std::atomic<int> destroyed{0};
    RefPtr<ValueMap> parent = newMap();
    parent->setString(P::Command, "CreateOCO");
    for (int i = 0; i < 3; ++i) {
        RefPtr<CountedMap> child = adoptRef(new CountedMap(&destroyed));
        parent->appendChild(child.get());
        EXPECT_EQ(child->addRef(), 3);  // ours, the parent's, and this probe
        child->release();
    }
    EXPECT_EQ(parent->getChildrenCount(), 3);
    EXPECT_EQ(destroyed.load(), 0);
    parent->clear();
    EXPECT_EQ(destroyed.load(), 3);
    EXPECT_EQ(parent->getChildrenCount(), 0);
    EXPECT_TRUE(parent->hasParam(P::Command));  // parameters stay

    {
        RefPtr<ValueMap> holder = newMap();
        RefPtr<CountedMap> child = adoptRef(new CountedMap(&destroyed));
        holder->appendChild(child.get());
        child.reset();
        EXPECT_EQ(destroyed.load(), 3);
    }
    EXPECT_EQ(destroyed.load(), 4);  // the holder's last release took its child along
}

TEST(ValueMap, GetChildAddsAReference)
{
    RefPtr<ValueMap> parent = newMap();
    RefPtr<ValueMap> child = newMap();
    parent->appendChild(child.get());
    IZelValueMap* got = parent->getChild(0);
    EXPECT_EQ(got, child.get());
    EXPECT_EQ(got->release(), 2);  // the caller's reference, back again
    EXPECT_EQ(parent->getChild(1), nullptr);
    EXPECT_EQ(parent->getChild(-1), nullptr);
    EXPECT_EQ(parent->peekChild(0), child.get());
}

TEST(ValueMap, AppendChildRefusesNullSelfAndCycles)
{
    RefPtr<ValueMap> a = newMap();
    RefPtr<ValueMap> b = newMap();
    RefPtr<ValueMap> c = newMap();
    a->appendChild(nullptr);
    a->appendChild(a.get());
    EXPECT_EQ(a->getChildrenCount(), 0);
    a->appendChild(b.get());
    b->appendChild(c.get());
    c->appendChild(a.get());  // a holds c through b
    b->appendChild(a.get());
    EXPECT_EQ(c->getChildrenCount(), 0);
    EXPECT_EQ(b->getChildrenCount(), 1);
    // The same child twice is no cycle.
    a->appendChild(c.get());
    a->appendChild(c.get());
    EXPECT_EQ(a->getChildrenCount(), 3);
}

TEST(ValueMap, CloneIsADeepIndependentCopy)
{
    RefPtr<ValueMap> source = newMap();
    source->setString(P::Command, "CreateOTO");
    RefPtr<ValueMap> primary = newMap();
    primary->setDouble(P::Rate, 1.5);
    RefPtr<ValueMap> oco = newMap();
    RefPtr<ValueMap> leg = newMap();
    leg->setInt(P::Amount, 7);
    oco->appendChild(leg.get());
    source->appendChild(primary.get());
    source->appendChild(oco.get());

    IZelValueMap* raw = source->clone();
    RefPtr<ValueMap> copy = adoptRef(asMap(raw));
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_STREQ(copy->getParam(P::Command)->getString(), "CreateOTO");
    ASSERT_EQ(copy->getChildrenCount(), 2);
    ValueMap* copyOco = asMap(copy->peekChild(1));
    ASSERT_NE(copyOco, nullptr);
    EXPECT_NE(copyOco, oco.get());
    ValueMap* copyLeg = asMap(copyOco->peekChild(0));
    ASSERT_NE(copyLeg, nullptr);
    EXPECT_NE(copyLeg, leg.get());
    EXPECT_EQ(copyLeg->getParam(P::Amount)->getInteger(), 7);

    copyLeg->setInt(P::Amount, 9);
    copyOco->clear();
    asMap(copy->peekChild(0))->setDouble(P::Rate, 2.0);
    copy->setString(P::Command, nullptr);
    EXPECT_EQ(leg->getParam(P::Amount)->getInteger(), 7);
    EXPECT_EQ(oco->getChildrenCount(), 1);
    EXPECT_EQ(primary->getParam(P::Rate)->getDouble(), 1.5);
    EXPECT_TRUE(source->hasParam(P::Command));

    // The clone belongs to the caller with exactly one reference.
    EXPECT_EQ(copy->addRef(), 2);
    copy->release();
}

TEST(RequestParamsTranslation, PublicParametersReachTheirWireFields)
{
    RequestParamsTranslation t;
    EXPECT_EQ(t.getParamName(P::AccountID), nullptr);  // nothing before build
    t.build();
    EXPECT_EQ(t.publicToInternal().size(), 29u);
    EXPECT_EQ(t.internalToName().size(), 69u);
    struct Case {
        P param;
        const char* wire;  // null: no wire field
    } cases[] = {
        {P::Command, nullptr},
        {P::AccountID, "AcctID"},
        {P::Amount, "Quantity"},
        {P::RateStop, "RateS"},
        {P::RateLimit, "RateL"},
        {P::TrailStepStop, "TrailUpdatePipsS"},
        {P::TrailStep, "TrailUpdatePips"},
        {P::TimeInForce, "GTC"},
        {P::CustomID, "QTXT"},
        {P::PegOffsetStop, "PRICE_OFFSET_PIPS_S"},
        {P::PegTypeLimit, "PEG_TYPEL"},
        {P::NetQuantity, "NET_QTY_FLG"},
        {P::OrderType, "OrderType"},
        {P::RateMin, "Rate2"},
        {P::RateMax, "RATE3"},
        {P::SubscriptionStatus, "Status"},
        {P::ClientRate, "CLIENTRATE"},
        {P::ContingencyGroupType, "CONTINGENCY_TYPE"},
        {P::PrimaryQID, "PRIMARY_QID"},
        {P::AccountName, "AcctReportID"},
        {P::LookupKey, nullptr},
        {P::LookupValue, nullptr},
        {static_cast<P>(0), nullptr},
        {static_cast<P>(33), nullptr},
    };
    for (const Case& c : cases) {
        const char* got = t.getParamName(c.param);
        if (c.wire == nullptr)
            EXPECT_EQ(got, nullptr) << static_cast<int>(c.param);
        else
            EXPECT_STREQ(got, c.wire) << static_cast<int>(c.param);
    }
    EXPECT_STREQ(t.getParamName(paramTrailStep), "TrailStep");  // no public parameter reaches it
    EXPECT_STREQ(t.getParamName(paramStage), "Stage");
    EXPECT_STREQ(t.getParamName(paramHistMaxSize), "size");
    EXPECT_STREQ(t.getParamName(paramOfferIDInt), "OfferID");
    EXPECT_EQ(t.getParamName(static_cast<RequestParamsEnum>(69)), nullptr);

    t.build();  // rebuilding does not duplicate
    EXPECT_EQ(t.internalToName().size(), 69u);
    t.clear();
    EXPECT_EQ(t.getParamName(paramStage), nullptr);
}

TEST(RequestParamsTranslation, UserNamesAreTheParameterNames)
{
    EXPECT_STREQ(getUserParamName(P::Command), "Command");
    EXPECT_STREQ(getUserParamName(P::PegOffsetStop), "PegOffsetStop");
    EXPECT_STREQ(getUserParamName(P::LookupKey), "LookupKey");
    EXPECT_STREQ(getUserParamName(P::LookupValue), "LookupValue");
    EXPECT_STREQ(getUserParamName(static_cast<P>(0)), "");
    EXPECT_STREQ(getUserParamName(static_cast<P>(33)), "");
    for (int v = 1; v <= 32; ++v)
        EXPECT_EQ(static_cast<int>(kUserParamNames[v - 1].param), v);
}

TEST(CommandVocabulary, CommandTextsInAnyCase)
{
    struct Case {
        const char* text;
        const char* canonical;  // null: unknown
        int command;
    } cases[] = {
        {"CreateOrder", "CreateOrder", 34},
        {"createorder", "CreateOrder", 34},
        {"CREATEOCO", "CreateOCO", 34},
        {"cReAtEoTo", "CreateOTO", 34},
        {"EditOrder", "EditOrder", 20},
        {"deleteORDER", "DeleteOrder", 19},
        {"JoinToNewContingencyGroup", "JoinToNewContingencyGroup", 131},
        {"jointoexistingcontingencygroup", "JoinToExistingContingencyGroup", 131},
        {"RemoveFromContingencyGroup", "RemoveFromContingencyGroup", 131},
        {"SetSubscriptionStatus", "SetSubscriptionStatus", 24},
        {"UpdateMarginRequirements", "UpdateMarginRequirements", 138},
        {"GETLASTORDERUPDATE", "GetLastOrderUpdate", 117},
        {"CreateOrders", nullptr, 0},
        {"Create Order", nullptr, 0},
        {"", nullptr, 0},
        {nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        const RequestCommandName* found = findRequestCommand(c.text);
        if (c.canonical == nullptr) {
            EXPECT_EQ(found, nullptr) << (c.text ? c.text : "(null)");
            continue;
        }
        ASSERT_NE(found, nullptr) << c.text;
        EXPECT_STREQ(found->name, c.canonical);
        EXPECT_EQ(static_cast<int>(found->command), c.command);
    }
}

TEST(CommandVocabulary, OrderTypesInAnyCase)
{
    struct Case {
        const char* text;
        const char* canonical;
    } cases[] = {
        {"OM", "OM"}, {"om", "OM"}, {"o", "O"},   {"Or", "OR"}, {"cm", "CM"}, {"C", "C"},
        {"cR", "CR"}, {"se", "SE"}, {"LE", "LE"}, {"s", "S"},   {"l", "L"},   {"SL", nullptr},
        {"O ", nullptr}, {"", nullptr}, {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const char* found = OrderTypes::find(c.text);
        if (c.canonical == nullptr)
            EXPECT_EQ(found, nullptr) << (c.text ? c.text : "(null)");
        else
            EXPECT_STREQ(found, c.canonical) << c.text;
    }
}

} // namespace
} // namespace zel
