#include "core/responses/system_properties.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/base/ref_ptr.h"

namespace zel {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs entries(IZelSystemPropertiesReader& r)
{
    Pairs out;
    for (int i = 0; i < r.size(); ++i) {
        const char* name = nullptr;
        const char* value = r.getProperty(i, name);
        out.emplace_back(name, value);
    }
    return out;
}

TEST(SystemProperties, DasTextForms)
{
    struct Case {
        const char* text;
        Pairs expected;
    } cases[] = {
        {"0\nBASE_CRNCY;USD;\nEND_TRADING_DAY;21:00;\n",
         {{"BASE_CRNCY", "USD"}, {"END_TRADING_DAY", "21:00"}}},
        {"0\nA;1;B;2;\nC;3;", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},  // two pairs on one line
        {"0\nA;1", {{"A", "1"}}},                                       // the last value runs to the end
        {"0\nA;1;B", {{"A", "1"}}},                                     // a name without separator ends it
        {"0;no line feed", {}},
        {"0\nA;;\n;v;", {{"A", ""}, {"", "v"}}},
    };
    PropertiesResponseProcessor das(';', '\n');
    for (const Case& c : cases) {
        RefPtr<SystemProperties> p = adoptRef(new SystemProperties(das.parse(c.text)));
        EXPECT_EQ(entries(*p), c.expected) << c.text;
    }
}

TEST(SystemProperties, LookupIsExactAndFirstWins)
{
    PropertiesResponseProcessor das(';', '\n');
    RefPtr<SystemProperties> p = adoptRef(new SystemProperties(das.parse("0\nTP;1;\nTP;2;\n")));
    EXPECT_EQ(p->size(), 2);
    EXPECT_STREQ(p->findProperty("TP"), "1");
    EXPECT_EQ(p->findProperty("tp"), nullptr);
    EXPECT_EQ(p->findProperty(nullptr), nullptr);
    const char* name = "stale";
    EXPECT_EQ(p->getProperty(2, name), nullptr);
    EXPECT_EQ(name, nullptr);

    RefPtr<SystemProperties> empty = adoptRef(new SystemProperties());
    EXPECT_EQ(empty->size(), 0);
    EXPECT_EQ(empty->findProperty("TP"), nullptr);
    empty->add("X", nullptr);
    EXPECT_STREQ(empty->findProperty("X"), "");
}

TEST(SystemProperties, XmlForm)
{
    const std::string xml =
        "<SysConfigMsg><Prop name=\"A\" value=\"1\"/><Prop NAME=\"B\" VALUE=\"2\"/>"
        "<Prop name=\"C\"/><Other name=\"D\" value=\"4\"/><prop name=\"E\" value=\"5\"/></SysConfigMsg>";
    auto list = std::make_unique<PropertiesResponseReader>();
    CommandSAXParser handler(list.get());
    EXPECT_TRUE(XmlParser::Parse(xml.c_str(), xml.size(), &handler));
    RefPtr<SystemProperties> p = adoptRef(new SystemProperties(std::move(list)));
    EXPECT_EQ(entries(*p), (Pairs{{"A", "1"}, {"B", "2"}}));
}

} // namespace
} // namespace zel
