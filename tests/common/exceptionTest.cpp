#include "common/exception.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kiro::Exception;
using kiro::SourceLocation;

TEST(ExceptionTest, MessageWithoutFunctionIsStoredUnchanged) {
    const Exception e("x", SourceLocation{"src/f", 7, nullptr});
    EXPECT_STREQ(e.what(), "x");
}

TEST(ExceptionTest, LocationIsFoldedIntoTheText) {
    const Exception e("failed", SourceLocation{"a/b", 42, "ns::F"});
    EXPECT_STREQ(e.what(), "failed in ns::F a/b:42");
}

}  // namespace
