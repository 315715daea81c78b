#include "core/requests/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace zel {
namespace {

TEST(Strings, CatalogueTexts)
{
    EXPECT_STREQ(Strings::getMissedRequiredParam("Rate"), "The required parameter 'Rate' must be specified");
    EXPECT_STREQ(Strings::getUnknownCommand("X"), "Command 'X' does not exist.");
    EXPECT_STREQ(Strings::getUnknownOrderType("Q"), "Order type 'Q' does not exist.");
    EXPECT_STREQ(Strings::getTrailStopError("A", "B", "C"),
                 "Either 'A' or both 'B' and 'C' must be specified for using TrailStepStop parameters.");
    EXPECT_STREQ(Strings::getLegFieldError("A", "B", "C"), "Either 'A' or both 'B' and 'C' must be specified.");
    EXPECT_STREQ(Strings::getPegParamError("P"), "'P' must be specified.");
    EXPECT_STREQ(Strings::getPegTypeError("o"), "The 'o' must be either O or M.");
    EXPECT_STREQ(Strings::getValueMapNotValid(), "The value map is not valid.");
    EXPECT_STREQ(Strings::getSessionClosed(), "The session is closed.");
    EXPECT_STREQ(Strings::getMarketDataRequestRejected(), "The market data request was rejected.");
}

TEST(Strings, ArgumentsAreCopiedVerbatim)
{
    // A "%s" or "%d" inside an argument is text, not a directive; null reads as "".
    EXPECT_STREQ(Strings::getUnknownCommand("%s%d"), "Command '%s%d' does not exist.");
    EXPECT_STREQ(Strings::getLegFieldError(nullptr, "B", nullptr), "Either '' or both 'B' and '' must be specified.");
}

TEST(Strings, EachThreadKeepsItsOwnText)
{
    const char* mine = Strings::getPegParamError("Mine");
    std::string theirs;
    std::thread([&] { theirs = Strings::getPegParamError("Theirs"); }).join();
    EXPECT_STREQ(mine, "'Mine' must be specified.");
    EXPECT_EQ(theirs, "'Theirs' must be specified.");
}

} // namespace
} // namespace zel
