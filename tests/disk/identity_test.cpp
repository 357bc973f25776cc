// Reading a device's identity from its storage descriptor: a device (or a driver) may answer
// anything, and nothing outside the bytes it returned may be read. Descriptors are built as
// the back-ends build them, then damaged; each fixture is an exact-size buffer, so that the
// sanitizer build catches a read past its end.
#include "disk/identity.h"
#include "platform/storage_query.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFixed = offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties);

Bytes Descriptor(const platform::StorageDeviceFacts& facts) {
    return platform::DeviceDescriptorBytes(facts);
}

platform::StorageDeviceFacts Disk() {
    platform::StorageDeviceFacts facts;
    facts.vendor = "ATA     ";
    facts.product = "ST3500418AS     ";
    facts.revision = "CC38";
    facts.serial = "     9VM5ABCD";
    facts.busType = BusTypeSata;
    return facts;
}

void Put(Bytes& bytes, std::size_t at, DWORD value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

platform::DeviceIdentity Parse(const Bytes& bytes) {
    return ParseDeviceDescriptor(bytes.data(), bytes.size());
}

TEST(DeviceDescriptor, NamesTheModelSerialFirmwareAndBus) {
    const auto disk = Parse(Descriptor(Disk()));
    EXPECT_EQ(disk.Model, "ST3500418AS"); // SCSI translation's vendor "ATA" is no maker
    EXPECT_EQ(disk.Serial, "9VM5ABCD");
    EXPECT_EQ(disk.Firmware, "CC38");
    EXPECT_EQ(disk.Bus, "SATA");
    EXPECT_FALSE(disk.Rotational.has_value()); // the descriptor does not say

    platform::StorageDeviceFacts stick;
    stick.vendor = "Kingston";
    stick.product = "DataTraveler 2.0";
    stick.busType = BusTypeUsb;
    EXPECT_EQ(Parse(Descriptor(stick)).Model, "Kingston DataTraveler 2.0");
    stick.product = "KINGSTON DT 101";
    EXPECT_EQ(Parse(Descriptor(stick)).Model, "KINGSTON DT 101"); // not "Kingston KINGSTON ..."
    stick.product.clear();
    EXPECT_EQ(Parse(Descriptor(stick)).Model, "Kingston");
    EXPECT_EQ(Parse(Descriptor(stick)).Serial, ""); // offset 0: the device has none

    platform::StorageDeviceFacts nvme;
    nvme.product = "Samsung SSD 970 EVO Plus 1TB";
    nvme.busType = BusTypeNvme;
    EXPECT_EQ(Parse(Descriptor(nvme)).Bus, "NVMe");
    nvme.busType = 0x55; // a value newer than this program
    EXPECT_EQ(Parse(Descriptor(nvme)).Bus, "unknown");
}

// Only the loop device's own tag reads as "loop"; a Windows disk over a file is not one.
TEST(DeviceDescriptor, ALoopDeviceIsToldByItsTagAlone) {
    platform::StorageDeviceFacts loop;
    loop.product = "Loop device (/srv/disk.img)";
    loop.loop = true;
    const Bytes tagged = Descriptor(loop);
    EXPECT_EQ(Parse(tagged).Bus, "loop");
    EXPECT_EQ(Parse(tagged).Model, "Loop device (/srv/disk.img)");

    platform::StorageDeviceFacts vhd;
    vhd.product = "Virtual Disk";
    vhd.busType = BusTypeFileBackedVirtual;
    EXPECT_EQ(Parse(Descriptor(vhd)).Bus, "file-backed virtual");

    Bytes shortTag = tagged; // a raw length that does not match the tag
    Put(shortTag, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength), 4);
    EXPECT_EQ(Parse(shortTag).Bus, "file-backed virtual");
    Bytes cut(tagged.begin(), tagged.begin() + kFixed + 5); // the tag runs past the answer
    EXPECT_EQ(Parse(cut).Bus, "file-backed virtual");
    Bytes huge = tagged;
    Put(huge, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength), 0xFFFFFFFF);
    EXPECT_EQ(Parse(huge).Bus, "file-backed virtual");
}

TEST(DeviceDescriptor, AnAnswerTooShortOrNoDescriptorIsNoIdentity) {
    const Bytes whole = Descriptor(Disk());
    for (std::size_t size : {std::size_t{0}, std::size_t{8}, kFixed - 1}) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const auto identity = Parse(cut);
        EXPECT_EQ(identity.Model, "") << size;
        EXPECT_EQ(identity.Bus, "") << size; // not even "unknown": nothing was told
    }
    EXPECT_EQ(ParseDeviceDescriptor(nullptr, 100).Bus, "");
    Bytes small = whole; // a Size smaller than the fixed part: garbage
    Put(small, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size), 12);
    EXPECT_EQ(Parse(small).Bus, "");
    // The fixed part alone: the bus, and no text at all.
    const Bytes fixed(whole.begin(), whole.begin() + kFixed);
    EXPECT_EQ(Parse(fixed).Bus, "SATA");
    EXPECT_EQ(Parse(fixed).Model, "");
    EXPECT_EQ(Parse(fixed).Serial, "");
}

TEST(DeviceDescriptor, OffsetsOutsideTheAnswerOrIntoItsFixedPartGiveNoText) {
    const Bytes whole = Descriptor(Disk());
    const std::size_t serialAt = offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset);
    for (DWORD offset : {DWORD{4}, DWORD{kFixed - 1}, static_cast<DWORD>(whole.size()),
                         DWORD{0x7FFFFFFF}, DWORD{0xFFFFFFFF}}) {
        Bytes bytes = whole;
        Put(bytes, serialAt, offset);
        EXPECT_EQ(Parse(bytes).Serial, "") << offset;
        EXPECT_EQ(Parse(bytes).Model, "ST3500418AS") << offset; // the others still read
    }
    // The last byte of the answer, without a NUL after it: the text ends with the answer.
    Bytes last = whole;
    last.back() = 'Z';
    Put(last, serialAt, static_cast<DWORD>(last.size() - 1));
    EXPECT_EQ(Parse(last).Serial, "Z");
}

TEST(DeviceDescriptor, ItsOwnSizeShortensWhatIsReadButNeverLengthensIt) {
    Bytes bytes = Descriptor(Disk());
    const DWORD serialAt = [&] {
        DWORD at = 0;
        std::memcpy(&at, bytes.data() + offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset),
                    sizeof at);
        return at;
    }();
    // Cut in the middle of the serial number: what is inside stays, what is beyond goes.
    Put(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size), serialAt + 7);
    EXPECT_EQ(Parse(bytes).Serial, "9V"); // five blanks, then two characters
    Put(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size), serialAt);
    EXPECT_EQ(Parse(bytes).Serial, "");
    // A Size far beyond the answer (a device telling the whole it did not send).
    Bytes truncated = Descriptor(Disk());
    truncated.resize(serialAt + 6);
    Put(truncated, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size), 100000);
    EXPECT_EQ(Parse(truncated).Serial, "9");
    EXPECT_EQ(Parse(truncated).Model, "ST3500418AS");
}

TEST(DeviceDescriptor, ControlCharactersAndBlanksDoNotReachTheTexts) {
    platform::StorageDeviceFacts facts = Disk();
    facts.product = "\t WDC\x01WD10EZEX \x7F";
    facts.serial = "\r\n";
    const auto identity = Parse(Descriptor(facts));
    EXPECT_EQ(identity.Model, "WDC WD10EZEX");
    EXPECT_EQ(identity.Serial, "");
}

TEST(ModelName, JoinsVendorAndProductOnce) {
    EXPECT_EQ(ModelName(" HL-DT-ST ", "DVDRAM GH24NSB0 "), "HL-DT-ST DVDRAM GH24NSB0");
    EXPECT_EQ(ModelName("ata", "Samsung SSD 870"), "Samsung SSD 870");
    EXPECT_EQ(ModelName("", ""), "");
}

// The query on a simulated disk: a model too long for the first answer is asked for again
// whole; a device that refuses leaves the identity empty and the last error as it was.
TEST(DeviceIdentityQuery, AsksAgainForALongDescriptorAndSurvivesARefusal) {
    const std::string longModel(1500, 'M');
    testing::SimPC pc(nlohmann::json::parse(R"J({
      "physicalDisks": [{"image": "d.img", "serial": "S-1", "bus": "SAS", "rotational": true},
                        {"image": "e.img", "rotational": false,
                         "faults": {"storageQuery": {"times": 1, "error": 31}}}]})J"));
    pc.machine().disks[0].identity.product = longModel;
    auto& k = platform::k32();
    auto open = [&k](const char* name) {
        return k.CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    };
    HANDLE first = open("\\\\.\\PhysicalDrive0");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    k.SetLastError(ERROR_HANDLE_EOF);
    const auto identity = QueryDeviceIdentity(first);
    EXPECT_EQ(identity.Model, longModel);
    EXPECT_EQ(identity.Serial, "S-1");
    EXPECT_EQ(identity.Bus, "SAS");
    EXPECT_EQ(identity.Rotational, true);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\PhysicalDrive0", "DeviceIoControl",
                                      IOCTL_STORAGE_QUERY_PROPERTY),
              3); // the short answer, the whole one, the seek penalty
    k.CloseHandle(first);

    HANDLE second = open("\\\\.\\PhysicalDrive1");
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    k.SetLastError(ERROR_HANDLE_EOF);
    const auto refused = QueryDeviceIdentity(second); // the descriptor fails, the penalty not
    EXPECT_EQ(refused.Model, "");
    EXPECT_EQ(refused.Bus, "");
    EXPECT_EQ(refused.Rotational, false);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    k.CloseHandle(second);
}

} // namespace
} // namespace purgelet
