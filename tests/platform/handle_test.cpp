// The owned handle: a handle is closed exactly once whoever holds it last, a quiet close
// leaves the failure being reported intact, and the checked close tells a refused close.
#include "platform/handle.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using platform::UniqueHandle;
using purgelet::testing::SimPC;

class UniqueHandleTest : public ::testing::Test {
protected:
    SimPC pc_{nlohmann::json::parse(R"J({"drives": [
        {"letter": "E", "kind": "fixed", "image": "e.img", "size": 65536,
         "volume": {"label": "DATA", "fileSystem": "FAT"}}]})J")};

    static HANDLE OpenE() {
        return platform::k32().CreateFileA("\\\\.\\E:", GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
    }
    std::size_t Open() { return pc_.kernel().OpenDeviceHandles(); }
};

TEST_F(UniqueHandleTest, QuietCloseKeepsTheLastErrorOfTheFailureOnItsWay) {
    {
        UniqueHandle handle(OpenE());
        ASSERT_TRUE(handle);
        ASSERT_EQ(Open(), 1u);
        platform::k32().SetLastError(ERROR_NOT_READY);
    }
    EXPECT_EQ(Open(), 0u);
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));

    UniqueHandle reused(OpenE());
    const HANDLE next = OpenE();
    platform::k32().SetLastError(ERROR_SHARING_VIOLATION);
    reused.Reset(next); // the first is closed, the second held
    EXPECT_EQ(Open(), 1u);
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(UniqueHandleTest, OwnershipMovesAndEachHandleClosesOnce) {
    UniqueHandle first(OpenE());
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(first.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(second);

    UniqueHandle third(OpenE());
    ASSERT_EQ(Open(), 2u);
    third = std::move(second); // third's own handle is closed, second's taken over
    EXPECT_EQ(Open(), 1u);
    third = std::move(third);
    EXPECT_EQ(Open(), 1u);

    const HANDLE raw = third.Release();
    EXPECT_FALSE(third);
    EXPECT_EQ(Open(), 1u); // released, not closed
    EXPECT_TRUE(UniqueHandle(raw).Close());
    EXPECT_EQ(Open(), 0u);
}

TEST_F(UniqueHandleTest, CheckedCloseTellsARefusedCloseAndGivesTheHandleUp) {
    UniqueHandle none;
    EXPECT_TRUE(none.Close()); // nothing held, nothing to refuse
    UniqueHandle nullHandle(nullptr);
    EXPECT_FALSE(nullHandle); // CreateEvent's failure value is "none" too

    UniqueHandle held(OpenE());
    EXPECT_TRUE(held.Close());
    EXPECT_FALSE(held);
    EXPECT_EQ(Open(), 0u);

    UniqueHandle stale(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7777)));
    EXPECT_FALSE(stale.Close());
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(stale);
    EXPECT_TRUE(stale.Close());
}

} // namespace
