// Which device each disk of a detection is, on simulated machines with and without the
// identity keys: a partition is its disk plus its number and offset, a device that tells
// nothing is known by its name in the drive list, and a refused query never stops the
// detection.
#include "disk/disk_manager.h"
#include "disk/nt/floppy.h"
#include "disk/nt/nt_disk.h"
#include "nt_sim_machines.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

namespace purgelet {
namespace {

using nlohmann::json;
using testing::kNtPartE;
using testing::kNtPartF;
using testing::NtMachine;
using testing::RecordingOwner;
using testing::SimPC;

json IdentifiedMachine() {
    json machine = NtMachine();
    json& disk = machine["physicalDisks"][0];
    disk["model"] = "ST3500418AS";
    disk["serial"] = "9VM5ABCD";
    disk["firmware"] = "CC38";
    disk["bus"] = "SATA";
    disk["rotational"] = true;
    machine["opticalDrives"] = json::parse(
        R"J([{"letter": "G", "vendor": "HL-DT-ST", "product": "DVDRAM GH24NSB0",
              "revision": "LN01"}])J");
    return machine;
}

TDisk* Logical(TDiskManager& manager, char letter) {
    for (int i = 0; i < manager.LogicalDisks.Count(); ++i)
        if (manager.LogicalDisks.Items(i)->Name == std::string(1, letter))
            return manager.LogicalDisks.Items(i);
    return nullptr;
}

TEST(NTIdentity, APartitionIsItsDiskPlusItsNumberAndOffset) {
    SimPC pc{IdentifiedMachine()};
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.PhysicalDisks.Count(), 1);
    const TDisk& disk = *manager.PhysicalDisks.Items(0);
    EXPECT_EQ(disk.Identity.Model, "ST3500418AS");
    EXPECT_EQ(disk.Identity.Serial, "9VM5ABCD");
    EXPECT_EQ(disk.Identity.Firmware, "CC38");
    EXPECT_EQ(disk.Identity.Bus, "SATA");
    EXPECT_EQ(disk.Identity.Rotational, true);
    EXPECT_EQ(disk.PartitionNumber, 0);
    EXPECT_EQ(disk.StartingOffset, 0);

    for (auto [letter, number, offset] :
         {std::tuple{'E', 1, kNtPartE}, std::tuple{'F', 2, kNtPartF}}) {
        SCOPED_TRACE(letter);
        const TDisk* partition = Logical(manager, letter);
        ASSERT_NE(partition, nullptr);
        EXPECT_EQ(partition->Identity.Model, "ST3500418AS");
        EXPECT_EQ(partition->Identity.Serial, "9VM5ABCD");
        EXPECT_EQ(partition->Identity.Bus, "SATA");
        EXPECT_EQ(partition->PartitionNumber, number);
        EXPECT_EQ(partition->StartingOffset, offset);
        EXPECT_EQ(partition->OwnerDisk, &disk);
    }

    // Devices without the query are known by what the list calls them.
    const TDisk* stick = Logical(manager, 'R'); // an image of its own: no disk to tell of
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->Identity.Model, "Removable Disk (R:)");
    EXPECT_EQ(stick->Identity.Serial, "");
    EXPECT_EQ(stick->Identity.Bus, "");
    EXPECT_FALSE(stick->Identity.Rotational.has_value());
    const TDisk* floppy = Logical(manager, 'A');
    ASSERT_NE(floppy, nullptr);
    EXPECT_EQ(floppy->Identity.Model, floppy->Description);
    EXPECT_EQ(floppy->Identity.Bus, "");

    // An optical drive names itself in its INQUIRY answer.
    ASSERT_EQ(manager.OpticalDisks.Count(), 1);
    const TDisk& writer = *manager.OpticalDisks.Items(0);
    EXPECT_EQ(writer.Identity.Model, "HL-DT-ST DVDRAM GH24NSB0");
    EXPECT_EQ(writer.Identity.Firmware, "LN01");
    EXPECT_EQ(writer.Identity.Serial, "");
}

// An older machine file: the friendly name is the model, nothing else is known.
TEST(NTIdentity, WithoutTheKeysTheFriendlyNameIsTheModel) {
    SimPC pc{NtMachine()};
    RecordingOwner owner;
    auto disk = MakeDisk<TNTPhysicalDisk>(pc.machine().disks[0].devicePath, &owner,
                                          std::string("SIM DISK 0"));
    EXPECT_EQ(disk->Identity.Model, "SIM DISK 0");
    EXPECT_EQ(disk->Identity.Serial, "");
    EXPECT_EQ(disk->Identity.Firmware, "");
    EXPECT_EQ(disk->Identity.Bus, "unknown");
    EXPECT_FALSE(disk->Identity.Rotational.has_value());
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    EXPECT_EQ(e->Identity.Model, "SIM DISK 0");

    // A disk that names no model: its partition is known by its own name.
    pc.machine().disks[0].identity.product.clear();
    auto unnamed = MakeDisk<TNTLogicalDisk>("E", &owner);
    EXPECT_EQ(unnamed->Identity.Model, "SYSTEM (E:)");
    EXPECT_EQ(unnamed->Identity.Bus, "unknown"); // it answered, without a model
}

TEST(NTIdentity, ARefusedQueryLeavesTheIdentityUnknownAndTheDetectionWhole) {
    json machine = IdentifiedMachine();
    machine["physicalDisks"][0]["faults"] = {{"storageQuery", true}};
    machine["drives"][0]["faults"] = {{"storageQuery", {{"error", 31}}}};
    SimPC pc{machine};
    TDiskManager manager; // a failed creation would be put to it, and raise
    manager.Detect();
    ASSERT_EQ(manager.PhysicalDisks.Count(), 1);
    EXPECT_EQ(manager.LogicalDisks.Count(), 4);
    const TDisk& disk = *manager.PhysicalDisks.Items(0);
    EXPECT_EQ(disk.Identity.Model, disk.Description);
    EXPECT_EQ(disk.Identity.Serial, "");
    EXPECT_EQ(disk.Identity.Rotational, std::nullopt);
    const TDisk* e = Logical(manager, 'E');
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Identity.Model, "SYSTEM (E:)");
    EXPECT_EQ(e->PartitionNumber, 1); // what the other queries told stays
    EXPECT_EQ(e->OwnerDisk, &disk);
    // F: has no fault of its own: it answers for the disk.
    EXPECT_EQ(Logical(manager, 'F')->Identity.Serial, "9VM5ABCD");
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

} // namespace
} // namespace purgelet
