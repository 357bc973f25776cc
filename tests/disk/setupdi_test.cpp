// Physical disk detection through SetupAPI, against the simulated device installation
// service with its faults.
#include "disk/nt/setupdi.h"
#include "platform/sim/setupapi.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <gtest/gtest.h>
#include <ostream>

namespace purgelet {
namespace {

using platform::sim::SetupDevices;
using platform::sim::SetupDisk;
using platform::sim::SetupFault;
using platform::sim::SimSetupApi;

class SetupdiTest : public ::testing::Test {
protected:
    SimSetupApi& Install(SetupDevices devices) {
        auto system = std::make_unique<platform::System>();
        system->kernel32 = std::move(platform::CreateNativeSystem()->kernel32);
        auto api = std::make_unique<SimSetupApi>(*system->kernel32, std::move(devices));
        SimSetupApi& result = *api;
        system->setupapi = std::move(api);
        scope_ = std::make_unique<platform::ScopedSystem>(std::move(system));
        return result;
    }

    static SetupDevices TwoDisks() {
        SetupDevices devices;
        devices.disks.push_back({"Maxtor 6Y080L0", "\\\\?\\ide#diskmaxtor#1&0#{53f56307}", true});
        devices.disks.push_back({"WDC WD800JB", "\\\\?\\ide#diskwdc#2&0#{53f56307}", true});
        return devices;
    }

    std::vector<std::string> paths, names;
    std::unique_ptr<platform::ScopedSystem> scope_;
};

TEST_F(SetupdiTest, PairsNamesAndPathsByPositionAndReleasesBothSets) {
    SimSetupApi& api = Install(TwoDisks());
    paths = {"kept"};
    names = {"kept"};
    EnumerateDisks(paths, names);
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "Maxtor 6Y080L0", "WDC WD800JB"}));
    EXPECT_EQ(paths, (std::vector<std::string>{"kept", "\\\\?\\ide#diskmaxtor#1&0#{53f56307}",
                                               "\\\\?\\ide#diskwdc#2&0#{53f56307}"}));
    EXPECT_EQ(api.OpenSets(), 0);
}

TEST_F(SetupdiTest, NoDiskDrivesLeavesBothListsEmpty) {
    Install({});
    EnumerateDisks(paths, names);
    EXPECT_TRUE(paths.empty());
    EXPECT_TRUE(names.empty());
}

TEST_F(SetupdiTest, DriveWithoutFriendlyNameGetsEmptyNameAndItsPath) {
    SetupDevices devices = TwoDisks();
    devices.disks[0].friendlyName.reset();
    Install(std::move(devices));
    EnumerateDisks(paths, names);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "");
    EXPECT_EQ(paths[0], "\\\\?\\ide#diskmaxtor#1&0#{53f56307}");
    EXPECT_EQ(names[1], "WDC WD800JB");
}

TEST_F(SetupdiTest, FewerInterfacesThanDrivesEndsBothListsWithTheShorter) {
    SetupDevices devices = TwoDisks();
    devices.disks[1].hasInterface = false;
    Install(std::move(devices));
    EnumerateDisks(paths, names);
    EXPECT_EQ(names, (std::vector<std::string>{"Maxtor 6Y080L0"}));
    EXPECT_EQ(paths.size(), 1u);
}

TEST_F(SetupdiTest, SetsThatCannotBeOpenedLeaveTheListsUnchanged) {
    SetupDevices devices = TwoDisks();
    devices.fault = {SetupFault::Call::GetClassDevs, 0, 0, ERROR_ACCESS_DENIED};
    SimSetupApi& api = Install(devices);
    EXPECT_NO_THROW(EnumerateDisks(paths, names));
    EXPECT_TRUE(paths.empty() && names.empty());
    // The interface set fails after the drive set opened: the drive set is still released.
    api.devices.fault = {SetupFault::Call::GetClassDevs, 0, 1, ERROR_ACCESS_DENIED};
    EXPECT_NO_THROW(EnumerateDisks(paths, names));
    EXPECT_TRUE(paths.empty() && names.empty());
    EXPECT_EQ(api.OpenSets(), 0);
}

// Every unexpected error leaves as XSetupdi with the failing step in its message, keeps
// what was found before it, and releases the sets.
struct UnexpectedError {
    SetupFault::Call call;
    int passes;
    std::string messagePrefix;
};

// Readable test names: the call that fails and after how many good passes.
void PrintTo(const UnexpectedError& e, std::ostream* out) {
    *out << "call " << static_cast<int>(e.call) << " after " << e.passes;
}

class SetupdiErrorTest : public SetupdiTest,
                         public ::testing::WithParamInterface<UnexpectedError> {};

TEST_P(SetupdiErrorTest, RaisesXSetupdiAndReleasesTheSets) {
    SetupDevices devices = TwoDisks();
    devices.fault = {GetParam().call, 1, GetParam().passes, ERROR_GEN_FAILURE};
    SimSetupApi& api = Install(std::move(devices));
    try {
        EnumerateDisks(paths, names);
        FAIL() << "no XSetupdi";
    } catch (const XSetupdi& error) {
        const std::string expected =
            GetParam().messagePrefix + platform::k32().SysErrorMessage(ERROR_GEN_FAILURE);
        EXPECT_EQ(std::string(error.what()), expected);
        EXPECT_EQ(error.ErrorCode, static_cast<std::uint32_t>(ERROR_GEN_FAILURE));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Maxtor 6Y080L0"}));
    EXPECT_EQ(paths.size(), 1u);
    EXPECT_EQ(api.OpenSets(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, SetupdiErrorTest,
    ::testing::Values(UnexpectedError{SetupFault::Call::EnumDeviceInfo, 0,
                                      "SetupDiEnumDeviceInfo failed with error: "},
                      UnexpectedError{SetupFault::Call::GetProperty, 0, ""},
                      UnexpectedError{SetupFault::Call::GetProperty, 1, ""},
                      UnexpectedError{SetupFault::Call::EnumInterfaces, 0,
                                      "SetupDiEnumDeviceInterfaces failed with error: "},
                      UnexpectedError{SetupFault::Call::GetDetail, 0, ""},
                      UnexpectedError{
                          SetupFault::Call::GetDetail, 1,
                          "Error in SetupDiGetDeviceInterfaceDetail failed with error: "}));

TEST_F(SetupdiTest, IndexPastTheEndAnswersStar) {
    Install(TwoDisks());
    auto& api = *platform::sys().setupapi;
    HDEVINFO drives = api.SetupDiGetClassDevsA(&kDiskDriveSetupClass, nullptr, nullptr, 2);
    HDEVINFO interfaces =
        api.SetupDiGetClassDevsA(&kDiskDeviceInterfaceClass, nullptr, nullptr, 18);
    EXPECT_EQ(GetFriendlyName(drives, 1), "WDC WD800JB");
    EXPECT_EQ(GetFriendlyName(drives, 2), "*");
    EXPECT_EQ(GetDevicePath(interfaces, 1), "\\\\?\\ide#diskwdc#2&0#{53f56307}");
    EXPECT_EQ(GetDevicePath(interfaces, 2), "*");
    // A drive set has no disk interfaces: the class of the set matters.
    EXPECT_EQ(GetDevicePath(drives, 0), "*");
    api.SetupDiDestroyDeviceInfoList(drives);
    api.SetupDiDestroyDeviceInfoList(interfaces);
}

} // namespace
} // namespace purgelet

namespace purgelet {
namespace {

// The real device installation service of this build (setupapi.dll under Wine, the empty
// set on Linux): detection runs to its end and pairs every path with a name.
TEST(SetupdiNative, TheSystemsOwnServiceAnswersWithPairedLists) {
    platform::ScopedSystem native{platform::CreateNativeSystem()};
    std::vector<std::string> paths, names;
    EXPECT_NO_THROW(EnumerateDisks(paths, names));
    EXPECT_EQ(paths.size(), names.size());
    for (const auto& path : paths)
        EXPECT_FALSE(path.empty() || path == "*");
}

} // namespace
} // namespace purgelet
