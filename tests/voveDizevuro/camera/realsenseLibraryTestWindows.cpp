#include "voveDizevuro/camera/realsenseLibrary.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kiro::test {

// _putenv_s keeps the CRT's narrow and wide environments in step, so _wgetenv sees the change;
// an empty value removes the variable.
void SetTestEnvironment(const char* name, const char* value) { _putenv_s(name, value != nullptr ? value : ""); }

}  // namespace kiro::test

namespace {

TEST(RealsenseLibraryWindowsTest, LooksForTheReleaseDll) {
    EXPECT_EQ(kiro::detail::RealsenseLibraryFileNames(), std::vector<std::string>{"realsense2.dll"});
}

}  // namespace
