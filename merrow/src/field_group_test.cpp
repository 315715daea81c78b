#include "field_group.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "merrow/fix_defs.h"

namespace merrow {
namespace {

constexpr int kTag = 100;

// Owns what the factory created, the way a caller must free it.
struct Owned {
    IMessage* m = getMessageFactory()->createMessage("X");
    ~Owned() { freeMessage(m); }
};

TEST(FieldGroupTest, IntegerAndTextReadEachOther)
{
    struct Case {
        const char* text;
        int64_t asInt;
        double asDouble;
    };
    const Case cases[] = {
        {"42", 42, 42.0},
        {"-17", -17, -17.0},
        {"  +8", 8, 8.0},
        {"12abc", 12, 12.0},
        {"1.75", 1, 1.75},
        {"abc", 0, 0.0},
        {"", 0, 0.0},
        {"-", 0, 0.0},
        {"9223372036854775807", std::numeric_limits<int64_t>::max(), 9223372036854775807.0},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min(), -9223372036854775808.0},
        {"99999999999999999999", std::numeric_limits<int64_t>::max(), 1e20},
        {"-99999999999999999999", std::numeric_limits<int64_t>::min(), -1e20},
    };
    Owned o;
    for (const Case& c : cases) {
        o.m->setValue(kTag, c.text);
        EXPECT_EQ(o.m->getIntValue(kTag), c.asInt) << c.text;
        EXPECT_DOUBLE_EQ(o.m->getDoubleValue(kTag), c.asDouble) << c.text;
        EXPECT_STREQ(o.m->getValue(kTag), c.text);
        EXPECT_EQ(o.m->getField(kTag)->getType(), WIRETYPE_TEXT);
    }

    const int64_t ints[] = {0, -1, 1234567, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    for (int64_t v : ints) {
        o.m->setIntValue(kTag, v);
        EXPECT_EQ(o.m->getValue(kTag), std::to_string(v));
        EXPECT_EQ(o.m->getField(kTag)->getLength(), std::to_string(v).size());
        EXPECT_EQ(o.m->getField(kTag)->getType(), WIRETYPE_TEXT) << "an integer answers the text wire type";
        EXPECT_EQ(o.m->getIntValue(kTag), v);
    }
}

TEST(FieldGroupTest, DoublesReadAsShortestTextAndSaturatingInteger)
{
    struct Case {
        double v;
        const char* text;
        int64_t asInt;
    };
    const Case cases[] = {
        {1.5, "1.5", 1},
        {-2.75, "-2.75", -2},
        {0.1, "0.1", 0},
        {1e300, "1e+300", std::numeric_limits<int64_t>::max()},
        {-1e300, "-1e+300", std::numeric_limits<int64_t>::min()},
        {std::numeric_limits<double>::infinity(), "inf", std::numeric_limits<int64_t>::max()},
        {std::nan(""), "nan", 0},
    };
    Owned o;
    for (const Case& c : cases) {
        o.m->setDoubleValue(kTag, c.v);
        EXPECT_STREQ(o.m->getValue(kTag), c.text);
        EXPECT_EQ(o.m->getIntValue(kTag), c.asInt) << c.text;
        EXPECT_EQ(o.m->getField(kTag)->getType(), WIRETYPE_DOUBLE);
        // The text reads back as the same double.
        o.m->setValue(kTag + 1, c.text);
        const double back = o.m->getDoubleValue(kTag + 1);
        if (std::isnan(c.v))
            EXPECT_TRUE(std::isnan(back));
        else
            EXPECT_EQ(back, c.v);
    }
}

TEST(FieldGroupTest, DecimalPointDoesNotFollowTheProcessLocale)
{
    // A decimal-comma locale, when the machine has one; the reading must not change.
    const char* old = setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    bool set = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"})
        if (!set && setlocale(LC_NUMERIC, name))
            set = true;
    if (!set)
        GTEST_SKIP() << "no decimal-comma locale installed";
    Owned o;
    o.m->setValue(kTag, "1.25");
    EXPECT_EQ(o.m->getDoubleValue(kTag), 1.25);
    setlocale(LC_NUMERIC, saved.c_str());
}

TEST(FieldGroupTest, SettersReplaceInPlaceAndOneFieldPerTag)
{
    Owned o;
    o.m->setValue(1, "a");
    o.m->setIntValue(2, 5);
    o.m->setValue(3, "c");
    o.m->setDoubleValue(2, 2.5);  // replaces, keeps the position
    ASSERT_EQ(o.m->getFieldCount(), 4);  // the type leads
    EXPECT_EQ(o.m->getFieldAt(0)->getTag(), IFixDefs::FLDTAG_MSGTYPE);
    EXPECT_EQ(o.m->getFieldAt(2)->getTag(), 2);
    EXPECT_EQ(o.m->getFieldAt(2)->getType(), WIRETYPE_DOUBLE);
    EXPECT_STREQ(o.m->getValue(2), "2.5");

    // A cached decimal text must not survive a change of the value.
    o.m->setIntValue(4, 7);
    EXPECT_STREQ(o.m->getValue(4), "7");
    o.m->setIntValue(4, 8);
    EXPECT_STREQ(o.m->getValue(4), "8");

    o.m->setValue(3, nullptr);  // null removes
    EXPECT_FALSE(o.m->hasField(3));
    EXPECT_TRUE(o.m->removeField(1));
    EXPECT_FALSE(o.m->removeField(1));
    EXPECT_EQ(o.m->getFieldCount(), 3);
}

TEST(FieldGroupTest, BadArgumentsAreIgnored)
{
    Owned o;
    o.m->setValue(0, "x");
    o.m->setIntValue(-5, 1);
    o.m->setDoubleValue(0, 1.0);
    o.m->setValue(7, nullptr, 3);
    EXPECT_EQ(o.m->createGroupList(0), nullptr);
    EXPECT_EQ(o.m->getFieldCount(), 1);
    o.m->setValue(7, nullptr, 0);  // the empty text
    EXPECT_STREQ(o.m->getValue(7), "");
    EXPECT_EQ(o.m->getValue(999), nullptr);
    EXPECT_EQ(o.m->getIntValue(999), 0);
    EXPECT_EQ(o.m->getDoubleValue(999), 0.0);
    EXPECT_EQ(o.m->getFieldAt(-1), nullptr);
    EXPECT_EQ(o.m->getFieldAt(99), nullptr);
    EXPECT_EQ(o.m->getGroupList(7), nullptr) << "a text is not a group list";
    freeMessage(nullptr);
    freeFieldGroupList(nullptr);
}

TEST(FieldGroupTest, TextsKeepEveryByte)
{
    Owned o;
    const char bytes[] = {'a', '\0', '\xff', '\x80', 'z'};
    o.m->setValue(kTag, bytes, sizeof bytes);
    const IField* f = o.m->getField(kTag);
    ASSERT_EQ(f->getLength(), sizeof bytes);
    EXPECT_EQ(std::memcmp(f->getValue(), bytes, sizeof bytes), 0);
    // A value taken from another field of the same group, while the group grows.
    for (int t = 1; t < 40; ++t)
        o.m->setValue(kTag + t, o.m->getValue(kTag + t - 1));
    EXPECT_STREQ(o.m->getValue(kTag + 39), "a");
}

TEST(FieldGroupTest, MessageTypeIsItsMsgTypeField)
{
    IMessageFactory* f = getMessageFactory();
    IMessage* m = f->createMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    EXPECT_STREQ(m->getMsgType(), IFixDefs::MSGTYPE_QORARESPONSE);
    EXPECT_STREQ(m->getValue(IFixDefs::FLDTAG_MSGTYPE), IFixDefs::MSGTYPE_QORARESPONSE);
    m->setMsgType(nullptr);
    EXPECT_STREQ(m->getMsgType(), "");
    freeMessage(m);

    // A plain group has no type until it carries the field.
    IFieldGroup* g = f->createFieldGroup();
    ASSERT_NE(g->asMessage(), nullptr);
    EXPECT_STREQ(g->asMessage()->getMsgType(), "");
    g->setValue(IFixDefs::FLDTAG_MSGTYPE, IFixDefs::MSGTYPE_DASMESSAGE);
    EXPECT_STREQ(g->asMessage()->getMsgType(), IFixDefs::MSGTYPE_DASMESSAGE);
    freeFieldGroup(g);
}

TEST(FieldGroupTest, GroupListsWalkAndCopyOnAttach)
{
    IMessageFactory* f = getMessageFactory();
    Owned o;
    IFieldGroupList* list = f->createFieldGroupList();
    IFieldGroup* entry = f->createFieldGroup();
    for (int i = 0; i < 3; ++i) {
        entry->setIntValue(IFixDefs::FLDTAG_QORAPARAMNAME, i);
        EXPECT_NE(list->addGroup(entry), entry) << "the list holds a copy";
    }
    EXPECT_EQ(list->addGroup(nullptr), nullptr);
    o.m->setGroupList(IFixDefs::FLDTAG_QORANOPARAM, list);
    // The caller's objects are still its own: changing or freeing them leaves the message alone.
    entry->setIntValue(IFixDefs::FLDTAG_QORAPARAMNAME, 99);
    list->appendGroup();
    freeFieldGroup(entry);
    freeFieldGroupList(list);

    IFieldGroupList* got = o.m->getGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(o.m->getField(IFixDefs::FLDTAG_QORANOPARAM)->getType(), WIRETYPE_GROUPLIST);
    EXPECT_EQ(o.m->getValue(IFixDefs::FLDTAG_QORANOPARAM), nullptr);
    ASSERT_EQ(got->size(), 3);
    int n = 0;
    for (IFieldGroup* g = got->first(); g; g = got->next())
        EXPECT_EQ(g->getIntValue(IFixDefs::FLDTAG_QORAPARAMNAME), n++);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(got->next(), nullptr) << "stays past the end";
    EXPECT_EQ(got->get(3), nullptr);
    EXPECT_EQ(got->get(-1), nullptr);

    // Objects owned by a parent are never freed by the free functions.
    freeFieldGroup(got->get(0));
    freeFieldGroupList(got);
    EXPECT_EQ(o.m->getGroupList(IFixDefs::FLDTAG_QORANOPARAM)->size(), 3);
}

TEST(FieldGroupTest, ListMayBeSetFromItsOwnGroupOrAncestor)
{
    Owned o;
    IFieldGroupList* l = o.m->createGroupList(10);
    IFieldGroup* e = l->appendGroup();
    e->setValue(1, "inner");
    // From itself: replaced by a copy of itself.
    o.m->setGroupList(10, o.m->getGroupList(10));
    ASSERT_EQ(o.m->getGroupList(10)->size(), 1);
    // An entry takes a snapshot of the list that holds it: no cycle.
    IFieldGroup* entry = o.m->getGroupList(10)->get(0);
    entry->setGroupList(11, o.m->getGroupList(10));
    IFieldGroupList* nested = o.m->getGroupList(10)->get(0)->getGroupList(11);
    ASSERT_NE(nested, nullptr);
    EXPECT_STREQ(nested->get(0)->getValue(1), "inner");
    EXPECT_EQ(nested->get(0)->getGroupList(11), nullptr);
    // A list can also be replaced by another kind of value and back.
    o.m->setValue(10, "flat");
    EXPECT_EQ(o.m->getGroupList(10), nullptr);
    EXPECT_STREQ(o.m->getValue(10), "flat");
}

} // namespace
} // namespace merrow
