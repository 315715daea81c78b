#include "core/messages/time_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "merrow/fix_defs.h"
#include "merrow/message.h"

namespace zel {
namespace {

using merrow::IFixDefs;

double serial(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return vorntool::date::construct(uint16_t(y), uint16_t(mo), uint16_t(d), uint16_t(h), uint16_t(mi),
                                     uint16_t(s), uint16_t(ms));
}

TEST(ParseDasTimestamp, ReadsTheTableStreamLayout)
{
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"03152011143005", serial(2011, 3, 15, 14, 30, 5)},
        {"03152011143005250", serial(2011, 3, 15, 14, 30, 5, 250)},
        // Milliseconds only at exactly 17 characters; other tails are ignored.
        {"031520111430052", serial(2011, 3, 15, 14, 30, 5)},
        {"0315201114300525", serial(2011, 3, 15, 14, 30, 5)},
        {"031520111430052501", serial(2011, 3, 15, 14, 30, 5)},
        {"02292012000000", serial(2012, 2, 29, 0, 0, 0)},
        {"12319999235959999", serial(9999, 12, 31, 23, 59, 59, 999)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(c.text).getSerial(), c.expected) << c.text;
        EXPECT_NE(c.expected, 0.0) << c.text;
    }
}

TEST(ParseDasTimestamp, BadTextsGiveTheEmptyDate)
{
    const char* cases[] = {
        nullptr,
        "",
        "0315201114300",       // 13 digits
        "0315201114300a",      // a letter
        "03152011 43005",      // a blank
        "-3152011143005",      // a sign
        "0315201114300525x",   // a letter after the seconds still counts
        "13152011143005",      // month 13
        "02292011143005",      // 29 February of a common year
        "03152011243005",      // hour 24
        "03152011146005",      // minute 60
        "00002011143005",      // month and day 0
    };
    for (const char* text : cases)
        EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(text).getSerial(), 0.0) << (text ? text : "(null)");
}

// The form with a length reads the slice it is given and nothing after it.
TEST(ParseDasTimestamp, LengthFormReadsOnlyItsSlice)
{
    const char* texts[] = {"03152011143005", "03152011143005250", "0315201114300525", "12319999235959999",
                           "0315201114300",  "0315201114300a",    "13152011143005",   "02292011143005", ""};
    for (const char* t : texts)
        EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(t, std::strlen(t)).getSerial(),
                  TimeUtils::parseQORADasMessageTimeStamp(t).getSerial())
            << t;
    const char* longer = "03152011143005250x;";
    EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(longer, 14).getSerial(), serial(2011, 3, 15, 14, 30, 5));
    EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(longer, 17).getSerial(), serial(2011, 3, 15, 14, 30, 5, 250));
    EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(longer, 18).getSerial(), 0.0);
    EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(longer, 13).getSerial(), 0.0);
    EXPECT_EQ(TimeUtils::parseQORADasMessageTimeStamp(nullptr, 14).getSerial(), 0.0);
}

// Stamps of every field value in and out of range, across leap rules and the ends of
// the year range: the serial is bit for bit the one vorntool::date::construct gives.
TEST(ParseDasTimestamp, SerialsEqualTheDateLibrarys)
{
    auto put = [](char* at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            at[i] = char('0' + value % 10);
    };
    auto check = [&](int y, int mo, int d, int h, int mi, int sec, int ms, bool withMs) {
        char text[18] = {};
        put(text, mo, 2);
        put(text + 2, d, 2);
        put(text + 4, y, 4);
        put(text + 8, h, 2);
        put(text + 10, mi, 2);
        put(text + 12, sec, 2);
        if (withMs)
            put(text + 14, ms, 3);
        const double got = TimeUtils::parseQORADasMessageTimeStamp(text).getSerial();
        const double expected = serial(y, mo, d, h, mi, sec, withMs ? ms : 0);
        return std::memcmp(&got, &expected, sizeof got) == 0;
    };
    std::vector<int> years;
    for (int y = 0; y <= 9999; y += (y < 40 || (y > 1580 && y < 1620) || (y > 1880 && y < 2110) || y > 9960) ? 1 : 37)
        years.push_back(y);
    years.insert(years.end(), {2000, 2100, 2400, 9999});
    int failures = 0;
    for (int y : years)
        for (int mo = 0; mo <= 13; ++mo)
            for (int d = 0; d <= 32; ++d) {
                const int k = y + mo * 7 + d * 3;  // times that vary with the date, some out of range
                if (!check(y, mo, d, k % 25, k % 61, (k / 3) % 61, k % 1000, k % 2 == 0) && ++failures < 10)
                    ADD_FAILURE() << y << "-" << mo << "-" << d << " at " << k;
            }
    for (int t = 0; t < 86400; ++t)
        if (!check(2026, 5, 1, t / 3600, t / 60 % 60, t % 60, t % 1000, true) && ++failures < 10)
            ADD_FAILURE() << "second " << t;
    EXPECT_EQ(failures, 0);
}

TEST(ServerDateText, ReadsDateAndTime)
{
    EXPECT_EQ(QORAdate2Ole("20110315", "14:30:05"), serial(2011, 3, 15, 14, 30, 5));
    EXPECT_EQ(QORAdate2Ole("20110315", nullptr), serial(2011, 3, 15, 0, 0, 0));
    // Only the slices are read: a time with milliseconds keeps its seconds.
    EXPECT_EQ(QORAdate2Ole("20110315", "14:30:05.250"), serial(2011, 3, 15, 14, 30, 5));
    // A short or garbled time keeps the date; what cannot be read is 0.
    EXPECT_EQ(QORAdate2Ole("20110315", "14:30"), serial(2011, 3, 15, 14, 30, 0));
    EXPECT_EQ(QORAdate2Ole("20110315", ""), serial(2011, 3, 15, 0, 0, 0));
    EXPECT_EQ(QORAdate2Ole("20110315", "xx:30:05"), serial(2011, 3, 15, 0, 30, 5));
}

TEST(ServerDateText, BadTextsGiveZero)
{
    struct Case {
        const char* date;
        const char* time;
    } cases[] = {
        {nullptr, "14:30:05"},
        {"", nullptr},
        {"201103", nullptr},         // cut short: nothing is read past the end
        {"2011031", "14:30:05"},
        {"20111315", nullptr},       // month 13
        {"20110230", nullptr},       // 30 February
        {"20110315", "25:00:00"},
        {"2011-3-15", nullptr},      // another layout
        {"abcd0315", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QORAdate2Ole(c.date, c.time), 0.0) << (c.date ? c.date : "(null)") << " "
                                                     << (c.time ? c.time : "(null)");
}

TEST(ServerDateText, WritesTheServerForm)
{
    EXPECT_EQ(OleDate2QORA(serial(2011, 3, 15, 14, 30, 5)), "20110315-14:30:05");
    EXPECT_EQ(OleDate2QORA(serial(2027, 1, 2, 3, 4, 5)), "20270102-03:04:05");
    // Round trip through the reader of the same form.
    const std::string text = OleDate2QORA(serial(2012, 2, 29, 23, 59, 58));
    EXPECT_EQ(QORAdate2Ole(text.substr(0, 8).c_str(), text.substr(9).c_str()), serial(2012, 2, 29, 23, 59, 58));
    // Outside the range of dates there is no text.
    EXPECT_EQ(OleDate2QORA(vorntool::date::maxDate + 2), "");
    EXPECT_EQ(OleDate2QORA(vorntool::date::minDate - 2), "");
    EXPECT_EQ(OleDate2QORA(std::nan("")), "");
}

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

TEST(RequestIDOfMessage, PicksTheFieldByType)
{
    struct Case {
        const char* type;
        int tag;  // 0: the type carries no identifier
    } cases[] = {
        {IFixDefs::MSGTYPE_QORAREQUEST, IFixDefs::FLDTAG_TESTREQID},
        {IFixDefs::MSGTYPE_QORAREQUESTREJECT, IFixDefs::FLDTAG_TESTREQID},
        {IFixDefs::MSGTYPE_QORARESPONSE, IFixDefs::FLDTAG_TESTREQID},
        {IFixDefs::MSGTYPE_QORARTMPRESPONSE, IFixDefs::FLDTAG_TESTREQID},
        {IFixDefs::MSGTYPE_QORARTMPOBJECTRESPONSE, IFixDefs::FLDTAG_TESTREQID},
        {IFixDefs::MSGTYPE_TRADINGSESSIONSTATUSREQUEST, IFixDefs::FLDTAG_TRADSESREQID},
        {IFixDefs::MSGTYPE_TRADINGSESSIONSTATUS, IFixDefs::FLDTAG_TRADSESREQID},
        {IFixDefs::MSGTYPE_MARKETDATAREQUEST, IFixDefs::FLDTAG_MDREQID},
        {IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT, IFixDefs::FLDTAG_MDREQID},
        {IFixDefs::MSGTYPE_QORAREQUESTBATCH, IFixDefs::FLDTAG_MDREQID},
        {IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH, IFixDefs::FLDTAG_MDREQID},
        {IFixDefs::MSGTYPE_QORARESPONSEBATCH, 0},
        {IFixDefs::MSGTYPE_DASMESSAGE, 0},
        {"U1234", 0},
    };
    const int tags[] = {IFixDefs::FLDTAG_TESTREQID, IFixDefs::FLDTAG_TRADSESREQID, IFixDefs::FLDTAG_MDREQID};
    for (const Case& c : cases) {
        MessagePtr m(merrow::getMessageFactory()->createMessage(c.type));
        // Every candidate field present with a different value: only the right one may answer.
        for (int tag : tags)
            m->setValue(tag, std::to_string(tag).c_str());
        EXPECT_STREQ(getRequestIDFromMessage(m.get()), c.tag ? std::to_string(c.tag).c_str() : "") << c.type;
    }
}

TEST(RequestIDOfMessage, AbsentFieldOrMessageGivesEmpty)
{
    MessagePtr m(merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARESPONSE));
    EXPECT_STREQ(getRequestIDFromMessage(m.get()), "");
    EXPECT_STREQ(getRequestIDFromMessage(nullptr), "");
    MessagePtr untyped(merrow::getMessageFactory()->createMessage(nullptr));
    untyped->setValue(IFixDefs::FLDTAG_TESTREQID, "id");
    EXPECT_STREQ(getRequestIDFromMessage(untyped.get()), "");
}

} // namespace
} // namespace zel
