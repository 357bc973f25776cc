// The system is installed once at start-up, never made by whichever thread asks first.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(SystemInstallation, ACallBeforeAnyInstallationFailsClearlyAndAnInstallationIsUsedAsIs) {
    auto previous = platform::Install(nullptr);
    ASSERT_NE(previous, nullptr) << "the test program installs the default system at start";
    EXPECT_EQ(platform::InstalledSystem(), nullptr);
    EXPECT_THROW(platform::k32(), std::logic_error);
    EXPECT_EQ(platform::InstalledSystem(), nullptr) << "the failed call made no system";

    platform::System* expected = previous.get();
    platform::Install(std::move(previous));
    EXPECT_EQ(platform::InstalledSystem(), expected);
    EXPECT_EQ(&platform::sys(), expected);
}

} // namespace
