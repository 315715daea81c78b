#include "merrow/generic_exception.h"

#include <gtest/gtest.h>

namespace merrow {
namespace {

TEST(GenericExceptionTest, CarriesItsTextAndCatchesAsStdException)
{
    try {
        throw GenericException("The server certificate could not be verified: hostname mismatch.");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "The server certificate could not be verified: hostname mismatch.");
    }
    const GenericException none(static_cast<const char*>(nullptr));
    EXPECT_STREQ(none.getText(), "");
    const GenericException copy = GenericException(std::string("Wrong PIN."));
    EXPECT_STREQ(copy.getText(), "Wrong PIN.");
}

} // namespace
} // namespace merrow
