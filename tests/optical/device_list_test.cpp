// Which transport reaches the drives and which drives get a disc object: ASPI preferred,
// the pass-through list probed but ignored then, Windows 9x without ASPI offering nothing,
// the ASPI scan of adapters, targets and units, and the drive letter from the 9x registry.
#include "disk/disk_classes.h"
#include "disk/disk_manager.h"
#include "optical/aspi.h"
#include "optical/optical_devices.h"
#include "optical/spti.h"
#include "optical/univ_cddvd.h"
#include "optical_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace purgelet {
namespace {

using testing::OpticalDriveOf;
using testing::OpticalMachine;
using testing::RewritableDisc;
using testing::SimPC;

TEST(OpticalDeviceList, AspiIsPreferredWhenPresentAndThePassThroughListIsIgnored) {
    SimPC pc(OpticalMachine(RewritableDisc(), true));
    auto list = TOpticalDevices::Create();
    ASSERT_EQ(list->SPTIDevices->Count(), 1u); // probed all the same
    ASSERT_EQ(list->Count(), 1u);
    EXPECT_EQ(&list->Items(0), list->ASPIDevices->Devices[0].get());
    list->SelectTransport(1);
    EXPECT_EQ(&list->Items(0), list->SPTIDevices->Devices[0].get());
    list->SelectTransport(2);
    EXPECT_EQ(list->Count(), 0u);
}

TEST(OpticalDeviceList, PassThroughWithoutAspiListsOnlyCdRomUnits) {
    auto machine = OpticalMachine(RewritableDisc(), false);
    machine["drives"] = {{{"letter", "C"}, {"kind", "fixed"}, {"image", "c.img"}, {"size", 65536}}};
    SimPC pc(machine);
    auto list = TOpticalDevices::Create();
    EXPECT_FALSE(list->ASPIDevices->Available());
    ASSERT_EQ(list->SPTIDevices->Count(), 2u); // C: answers nothing and is type 0
    EXPECT_EQ(list->SPTIDevices->Devices[0]->DeviceType, 0);
    ASSERT_EQ(list->Count(), 1u);
    EXPECT_EQ(list->Items(0).DriveLetter, 'E');
}

TEST(OpticalDeviceList, Windows9xWithoutAspiOffersNoDisc) {
    SimPC pc(OpticalMachine(RewritableDisc(), false, nlohmann::json::object(), "9x"));
    auto list = TOpticalDevices::Create();
    EXPECT_EQ(list->SPTIDevices->Count(), 0u);
    EXPECT_EQ(list->Count(), 0u);
    EXPECT_TRUE(OpticalDriveOf(pc).commands.empty());
}

TEST(OpticalDeviceList, AspiWithoutAdaptersIsAvailableAndEmpty) {
    auto machine = OpticalMachine(RewritableDisc(), false);
    machine["aspi"] = {{"adapters", 0}};
    SimPC pc(machine);
    auto list = TOpticalDevices::Create();
    EXPECT_TRUE(list->ASPIDevices->Available());
    EXPECT_EQ(list->ASPIDevices->Info->AdapterCount, 0);
    EXPECT_EQ(list->Count(), 0u); // and the pass-through drive is not used
}

TEST(OpticalDeviceList, AnAdapterReportingNoTargetCountIsScannedForEight) {
    auto machine = OpticalMachine(RewritableDisc(), true,
                                  {{"aspi", {{"host", 0}, {"target", 7}, {"lun", 0}}}});
    machine["aspi"] = {{"maxTargets", 0}};
    machine["opticalDrives"].push_back({{"vendor", "SIMTAPE"},
                                        {"inquiryType", 1},
                                        {"aspi", {{"host", 0}, {"target", 3}, {"lun", 5}}}});
    SimPC pc(machine);
    TASPIdevices devices;
    ASSERT_EQ(devices.Count(), 2u); // discovery order: target 3 before target 7
    EXPECT_EQ(devices.Devices[0]->Address.Target, 3);
    EXPECT_EQ(devices.Devices[0]->DeviceTypeName, "Tape");
    EXPECT_EQ(devices.Devices[1]->Address.Target, 7);
    // The LUN goes into byte 1 of MODE SENSE through ASPI.
    EXPECT_EQ(testing::Cdbs(pc.machine().opticalDrives[1], 0x5A)[0][1], 0x08 | (5 << 5));
}

TEST(OpticalDeviceList, TheDriveLetterComesFromTheWindows9xDeviceTree) {
    auto machine = OpticalMachine(RewritableDisc(), true, nlohmann::json::object(), "9x");
    machine["registry"] = {{"HKEY_LOCAL_MACHINE",
                            {{"enum\\scsi\\OTHER&DISK\\0",
                              {{"SCSILUN", "2"},
                               {"SCSITargetID", "1"},
                               {"Manufacturer", "ELSE"},
                               {"ProductId", "RW-5240"},
                               {"CurrentDriveLetterAssignment", "Q"}}},
                             {"enum\\scsi\\SIMDISC&RW\\0",
                              {{"SCSILUN", " 2 "},
                               {"SCSITargetID", "1"},
                               {"Manufacturer", "simdisc inc."},
                               {"ProductId", "rw-5240 rev"},
                               {"CurrentDriveLetterAssignment", "e"}}}}}};
    SimPC pc(machine);
    auto list = TOpticalDevices::Create();
    ASSERT_EQ(list->Count(), 1u);
    EXPECT_EQ(list->Items(0).DriveLetter, 'E');
    EXPECT_EQ(SCSItoDriveLetter(2, 1, "", "RW-5240"), ""); // empty vendor never matches
    EXPECT_EQ(SCSItoDriveLetter(3, 1, "SIMDISC", "RW-5240"), "");
}

TEST(OpticalDeviceList, ADvdWriterThatCannotWriteCdsGetsNoDiscObject) {
    auto machine =
        OpticalMachine(RewritableDisc("DVD-RW"), false, {{"writes", {"DVD-R", "DVD-RAM"}}});
    machine["opticalDrives"].push_back({{"letter", "F"}, {"disc", RewritableDisc()}});
    SimPC pc(machine);
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.OpticalDevices->Count(), 2u);
    ASSERT_EQ(manager.OpticalDiskCount(), 1);
    EXPECT_EQ(manager.OpticalDisks.Items(0)->Name, "F");
}

TEST(OpticalDeviceList, DetectionListsTheDiscAndItsWipeBlanksIt) {
    auto machine = OpticalMachine(RewritableDisc("DVD+RW"), true,
                                  {{"displayName", "DVD-RW Drive (E:)"},
                                   {"blank", {{"polls", 3}}},
                                   {"volume",
                                    {{"label", "BACKUP"},
                                     {"fileSystem", "UDF"},
                                     {"totalBytes", 4700000},
                                     {"freeBytes", 700000}}}});
    machine["registry"] = {{"HKEY_LOCAL_MACHINE",
                            {{"enum\\scsi\\X",
                              {{"SCSILUN", "2"},
                               {"SCSITargetID", "1"},
                               {"Manufacturer", "SIMDISC"},
                               {"ProductId", "RW-5240"},
                               {"CurrentDriveLetterAssignment", "E"}}}}}};
    SimPC pc(machine);
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.OpticalDiskCount(), 1);
    EXPECT_EQ(manager.LogicalDisks.Count(), 0); // the CD-ROM letter is no logical disk
    auto* disc = dynamic_cast<TUnivCDDVD*>(manager.OpticalDisks.Items(0));
    ASSERT_NE(disc, nullptr);
    EXPECT_EQ(disc->Name, "E");
    EXPECT_EQ(disc->Description, "DVD-RW Drive (E:)");
    EXPECT_EQ(disc->DriveType, 5);

    disc->getPropertiesCount();
    std::vector<std::uint8_t> ids;
    for (const auto& p : disc->Properties)
        ids.push_back(p.Id);
    EXPECT_EQ(ids, (std::vector<std::uint8_t>{1, 3, 7, 8, 9, 12, 10, 11, 15, 16, 13, 17}));
    EXPECT_EQ(std::get<std::string>(disc->Properties[1].Value), "SIMDISC RW-5240");
    EXPECT_EQ(std::get<std::string>(disc->Properties[2].Value), "UDF");
    EXPECT_EQ(std::get<std::int64_t>(disc->Properties[7].Value), 4000000);
    EXPECT_EQ(std::get<std::int32_t>(disc->Properties[10].Value), 2); // sessions
    EXPECT_EQ(std::get<std::int32_t>(disc->Properties[11].Value), 1); // erasable

    auto& drive = OpticalDriveOf(pc);
    drive.commands.clear();
    TWipeContext full(nullptr, disc->Owner);
    full.Options.QuickErase = false;
    disc->WipeDisk(full);
    const auto blanks = testing::Cdbs(drive, 0xA1);
    ASSERT_EQ(blanks.size(), 1u);
    EXPECT_EQ(blanks[0][1], 0x10); // full blank
    EXPECT_EQ(drive.disc.status, 0);
    EXPECT_EQ(drive.Count(0x51), 1 + 4); // PrepareToWrite, then three busy polls and a good one
    EXPECT_EQ(manager.Progress, -1.0);
    EXPECT_EQ(manager.Disk, disc);
}

TEST(OpticalDeviceList, AnAspiDriveWhoseLetterIsNotFoundHasNoVolumeFacts) {
    SimPC pc(OpticalMachine(RewritableDisc(), true,
                            {{"displayName", "CD-RW Drive (E:)"},
                             {"volume", {{"fileSystem", "CDFS"}, {"totalBytes", 1000}}}}));
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.OpticalDiskCount(), 1);
    TDisk& disc = *manager.OpticalDisks.Items(0);
    EXPECT_EQ(disc.Name, " ");
    EXPECT_EQ(disc.Description, "SIMDISC RW-5240");
    disc.getPropertiesCount();
    std::vector<std::uint8_t> ids;
    for (const auto& p : disc.Properties)
        ids.push_back(p.Id);
    EXPECT_EQ(ids, (std::vector<std::uint8_t>{1, 3, 15, 16, 13, 17}));
}

// The optical example of the machine-file documentation is a machine the sim runs.
TEST(OpticalDeviceList, TheDocumentedOpticalMachineRuns) {
    std::ifstream doc(std::string(PURGELET_SOURCE_DIR) + "/docs/machine-file.md");
    ASSERT_TRUE(doc.good());
    const std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    auto start = text.find("```json\n", text.find("## Optical drives"));
    ASSERT_NE(start, std::string::npos);
    start += 8;
    SimPC pc(nlohmann::json::parse(text.substr(start, text.find("```", start) - start)));
    auto list = TOpticalDevices::Create();
    ASSERT_EQ(list->Count(), 1u);
    EXPECT_EQ(list->Items(0).DriveLetter, 'E');
    EXPECT_TRUE(list->Items(0).CanWrite());
    EXPECT_EQ(list->Items(0).MaxReadSpeed, 40u);
}

} // namespace
} // namespace purgelet
