// What a drive letter tells the user about itself: the property list of an NT logical disk
// on a simulated machine, sorted by id, with its owner disk.
#include "disk/nt/floppy.h"
#include "disk/nt/nt_disk.h"
#include "nt_sim_machines.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <ostream>
#include <variant>
#include <vector>

namespace purgelet {

void PrintTo(const TGenericProperty& p, std::ostream* out) {
    *out << int(p.Id) << "=";
    std::visit([out](const auto& v) { *out << v; }, p.Value);
}

namespace {

using testing::NtMachine;
using testing::RecordingOwner;
using testing::SimPC;
using Value = TGenericProperty::ValueType;

std::vector<TGenericProperty> Properties(TDisk& disk) {
    std::vector<TGenericProperty> list(static_cast<std::size_t>(disk.GetSortedPropertiesCount()));
    for (std::size_t i = 0; i < list.size(); ++i)
        disk.GetProperty(static_cast<int>(i), list[i]);
    return list;
}

TEST(NTProperties, AnsweringVolumeListsItsFactsAndItsOwnerInIdOrder) {
    SimPC pc{NtMachine()};
    RecordingOwner owner;
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    auto disk0 = MakeDisk<TNTPhysicalDisk>(pc.machine().disks[0].devicePath, &owner,
                                           std::string("SIM DISK 0"));
    e->OwnerDisk = disk0.get();
    const std::int64_t total = testing::kNtPartLength;
    EXPECT_EQ(Properties(*e), (std::vector<TGenericProperty>{
                                  {1, Value{std::string("SYSTEM (E:)")}},
                                  {2, Value{total}},
                                  {3, Value{std::string("SIM DISK 0")}},
                                  {7, Value{std::string("NTFS ")}}, // as the volume gives it
                                  {8, Value{std::int32_t(0x1234ABCD)}},
                                  {9, Value{std::int32_t(0x000700FF)}},
                                  {10, Value{std::int64_t(1000)}},
                                  {11, Value{total - 1000}},
                                  {12, Value{total}},
                              }));
    // Asking again gives the same list, not a longer one.
    EXPECT_EQ(e->GetSortedPropertiesCount(), 9);
}

TEST(NTProperties, AVolumeThatDoesNotAnswerIsRawAndHasNoOwnerWithoutAMatch) {
    SimPC pc{NtMachine()};
    RecordingOwner owner;
    auto r = MakeDisk<TNTLogicalDisk>("R", &owner);
    pc.drive('R').volume.reset();
    EXPECT_EQ(Properties(*r), (std::vector<TGenericProperty>{
                                  {1, Value{r->Description}},
                                  {2, Value{std::int64_t(1048576)}},
                                  {7, Value{std::string("RAW")}},
                              }));
}

} // namespace
} // namespace purgelet

namespace purgelet {
namespace {

TEST(NTProperties, TheShellIconThatComesWithTheDisplayNameIsReleased) {
    SimPC pc{testing::NtMachine()};
    testing::RecordingOwner owner;
    pc.drive('F').displayName = "Daten (F:)";
    pc.drive('A').displayName = "3.5 Floppy (A:)";
    auto f = MakeDisk<TNTLogicalDisk>("F", &owner);
    auto a = MakeDisk<TNTFloppy>("A", &owner);
    EXPECT_EQ(f->Description, "Daten (F:)");
    EXPECT_EQ(a->Description, "3.5 Floppy (A:)");
    int released = 0;
    for (const auto& call : pc.machine().calls)
        released += call.name == "DestroyIcon" && call.ok;
    EXPECT_EQ(released, 2);
}

} // namespace
} // namespace purgelet
