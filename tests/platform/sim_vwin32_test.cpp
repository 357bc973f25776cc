// The simulated "\\.\vwin32" of a 9x machine as the program's requests meet it: raw register
// packets, the services' rules by build, locks, the extent rule, and the linear addresses
// that carry buffers in 32-bit registers.
#include "platform/linear_address.h"
#include "platform/system.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace {

using nlohmann::json;
using purgelet::testing::SimPC;

// A raw client of the virtual device, one request at a time.
class Vwin32 {
public:
    Vwin32()
        : handle_(platform::k32().CreateFileA("\\\\.\\vwin32", GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr)) {}
    ~Vwin32() {
        if (handle_ != INVALID_HANDLE_VALUE)
            platform::k32().CloseHandle(handle_);
    }
    HANDLE handle() const { return handle_; }

    // Sends the packet; returns DeviceIoControl's result, the registers come back in r.
    BOOL Send(DWORD code, DIOC_REGISTERS& r) {
        DWORD returned = 0;
        return platform::k32().DeviceIoControl(handle_, code, &r, sizeof(r), &r, sizeof(r),
                                               &returned, nullptr);
    }
    // DOS IOCTL 440Dh for drive number (1 = A); true when the carry came back clear.
    bool Ioctl(DWORD number, DWORD minor, void* block, std::size_t size, DWORD edx = 0) {
        platform::LinearAddress address(block, size);
        DIOC_REGISTERS r{};
        r.reg_EAX = 0x440D;
        r.reg_EBX = number;
        r.reg_ECX = minor;
        r.reg_EDX = block != nullptr ? address.value() : edx;
        r.reg_Flags = VWIN32_CARRY_FLAG;
        return Send(VWIN32_DIOC_DOS_IOCTL, r) && !(r.reg_Flags & VWIN32_CARRY_FLAG);
    }
    // Extended transfer (7305h) of count sectors at sector; the carry flag's verdict.
    bool Transfer(DWORD number, DWORD sector, WORD count, void* buffer, std::size_t size,
                  bool write) {
        platform::LinearAddress data(buffer, size);
        DISKIO io{sector, count, data.value()};
        platform::LinearAddress packet(&io, sizeof(io));
        DIOC_REGISTERS r{};
        r.reg_EAX = 0x7305;
        r.reg_EBX = packet.value();
        r.reg_ECX = 0xFFFF;
        r.reg_EDX = number;
        r.reg_ESI = write ? 1 : 0;
        r.reg_Flags = VWIN32_CARRY_FLAG;
        return Send(VWIN32_DIOC_DOS_DRIVEINFO, r) && !(r.reg_Flags & VWIN32_CARRY_FLAG);
    }

private:
    HANDLE handle_;
};

// The second example of the machine-file documentation: the Windows 98 machine.
json DocumentedNineXMachine() {
    std::ifstream doc(std::string(PURGELET_SOURCE_DIR) + "/docs/machine-file.md");
    std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    auto start = text.find("```json\n");
    start = text.find("```json\n", text.find("```", start + 8) + 3);
    if (start == std::string::npos)
        return json();
    start += 8;
    return json::parse(text.substr(start, text.find("```", start) - start));
}

TEST(SimVwin32, TheDocumentedNineXMachineAnswersAsDescribed) {
    json file = DocumentedNineXMachine();
    ASSERT_TRUE(file.is_object());
    SimPC pc(file);
    Vwin32 device;
    ASSERT_NE(device.handle(), INVALID_HANDLE_VALUE);

    // Members of the packed blocks are compared by value (+), never bound to a reference.
    DOS_DEVICE_PARAMS params{};
    ASSERT_TRUE(device.Ioctl(3, 0x0860, &params, sizeof(params)));
    EXPECT_EQ(+params.bpbBytesPerSec, 512);
    EXPECT_EQ(+params.bpbSecPerTrack, 64);
    EXPECT_EQ(+params.bpbHeads, 16);
    EXPECT_EQ(+params.bpbSectors, 16384 - 64); // C: runs from the second track to the end
    EXPECT_EQ(+params.bpbHugeSectors, 0u);
    DRIVE_MAP_INFO map{16, 16, 0, 0, 0, 0};
    ASSERT_TRUE(device.Ioctl(3, 0x486F, &map, sizeof(map)));
    EXPECT_EQ(+map.dmiInt13Unit, 0x80);
    EXPECT_EQ(+map.dmiPartitionStartRBA, 64u);

    DOS_ACCESS_FLAG flag{0, 0};
    EXPECT_FALSE(device.Ioctl(3, 0x4867, &flag, sizeof(flag))); // the first query fails
    ASSERT_TRUE(device.Ioctl(3, 0x4867, &flag, sizeof(flag)));
    EXPECT_EQ(+flag.bAccessFlag, 1);
    ASSERT_TRUE(device.Ioctl(26, 0x4867, &flag, sizeof(flag)));
    EXPECT_EQ(+flag.bAccessFlag, 0); // Z: has no file system and no access yet

    // Reading needs nothing; writing needs the lock of this handle.
    std::vector<std::uint8_t> sector(512, 0x77);
    EXPECT_TRUE(device.Transfer(3, 0, 1, sector.data(), sector.size(), false));
    EXPECT_FALSE(device.Transfer(3, 0, 1, sector.data(), sector.size(), true));
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(device.Ioctl(3, 0x084A, nullptr, 0));
    EXPECT_TRUE(device.Transfer(3, 0, 1, sector.data(), sector.size(), true));
    EXPECT_EQ(pc.ReadImage("disk98.img", 32768, 512), sector);
    // An unformatted medium is reached only once access is allowed.
    EXPECT_FALSE(device.Transfer(26, 0, 1, sector.data(), sector.size(), false));
    flag.bAccessFlag = 1;
    ASSERT_TRUE(device.Ioctl(26, 0x4847, &flag, sizeof(flag)));
    EXPECT_TRUE(device.Transfer(26, 0, 1, sector.data(), sector.size(), false));
    EXPECT_EQ(pc.machine().packets.size(), 12u);
}

TEST(SimVwin32, ServicesFollowTheBuildAndTheDrive) {
    SimPC pc(json::parse(R"({"platform": "9x", "build": 1000,
        "drives": [{"letter": "C", "image": "c.img", "size": 65536},
                   {"letter": "N", "kind": "network", "image": "n.img", "size": 65536}]})"));
    Vwin32 device;
    std::vector<std::uint8_t> buffer(512);
    // No FAT32 services up to build 1000.
    EXPECT_FALSE(device.Transfer(3, 0, 1, buffer.data(), buffer.size(), false));
    EXPECT_EQ(pc.machine().packets.back().out.reg_EAX & 0xFFFF,
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_FALSE(device.Ioctl(3, 0x486A, nullptr, 0));
    // A drive that is no disk, and one that does not exist.
    DOS_DEVICE_PARAMS params{};
    EXPECT_FALSE(device.Ioctl(14, 0x0860, &params, sizeof(params)));
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_INVALID_DRIVE));
    EXPECT_FALSE(device.Ioctl(4, 0x0860, &params, sizeof(params)));
    // An unknown control code fails the call itself.
    DIOC_REGISTERS r{};
    EXPECT_FALSE(device.Send(5, r));

    // Absolute transfers address by index; one past the drive is refused and recorded.
    platform::LinearAddress data(buffer.data(), buffer.size());
    DISKIO io{128, 1, data.value()};
    platform::LinearAddress packet(&io, sizeof(io));
    r = DIOC_REGISTERS{};
    r.reg_EAX = 2;
    r.reg_EBX = packet.value();
    r.reg_ECX = 0xFFFF;
    ASSERT_TRUE(device.Send(VWIN32_DIOC_DOS_INT25, r));
    EXPECT_TRUE(r.reg_Flags & VWIN32_CARRY_FLAG);
    ASSERT_EQ(pc.machine().outOfExtent.size(), 1u);
    EXPECT_EQ(pc.machine().outOfExtent[0].device, "C:");
    EXPECT_EQ(pc.machine().outOfExtent[0].offset, 65536);
    io.dwStartSector = 127;
    r.reg_EAX = 2; // AX came back with the error
    r.reg_Flags = VWIN32_CARRY_FLAG;
    ASSERT_TRUE(device.Send(VWIN32_DIOC_DOS_INT25, r));
    EXPECT_FALSE(r.reg_Flags & VWIN32_CARRY_FLAG);
    EXPECT_EQ(pc.machine().packets.back().sector, 127);
}

TEST(SimVwin32, LocksBelongToTheirHandleAndEndWithIt) {
    SimPC pc(json::parse(R"({"platform": "9x",
        "drives": [{"letter": "C", "image": "c.img", "size": 65536}]})"));
    auto first = std::make_unique<Vwin32>();
    Vwin32 second;
    ASSERT_TRUE(first->Ioctl(3, 0x084A, nullptr, 0));
    EXPECT_FALSE(second.Ioctl(3, 0x084A, nullptr, 0));
    EXPECT_FALSE(second.Ioctl(3, 0x486A, nullptr, 0)); // not its lock to give back
    first.reset();
    EXPECT_TRUE(second.Ioctl(3, 0x084A, nullptr, 0));
    EXPECT_TRUE(second.Ioctl(3, 0x486A, nullptr, 0));

    SimPC nt(json::parse(R"({"drives": [{"letter": "C", "image": "c.img", "size": 65536}]})"));
    Vwin32 none;
    EXPECT_EQ(none.handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(LinearAddress, MapsABufferForTheLifetimeOfTheMapping) {
    std::vector<std::uint8_t> buffer(100);
    DWORD value = 0;
    {
        platform::LinearAddress address(buffer.data(), buffer.size());
        value = address.value();
        EXPECT_NE(value, 0u);
        EXPECT_EQ(platform::ResolveLinearAddress(value, 100), buffer.data());
        EXPECT_EQ(platform::ResolveLinearAddress(value + 10, 90), buffer.data() + 10);
    }
    if (sizeof(void*) > 4) {
        // Only a 64-bit build keeps a table that can tell what is mapped.
        platform::LinearAddress address(buffer.data(), buffer.size());
        EXPECT_EQ(platform::ResolveLinearAddress(address.value() + 10, 91), nullptr);
        EXPECT_EQ(platform::ResolveLinearAddress(address.value() + 0x100000, 1), nullptr);
    } else {
        EXPECT_EQ(value, static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(buffer.data())));
    }
}

} // namespace
