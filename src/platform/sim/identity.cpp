// The identity of the simulated PC's disks and of the PC itself, and the storage property
// query of its device handles.
#include "platform/sim/identity.h"

#include "platform/sim/kernel32.h"
#include "platform/sim/machine_file.h"
#include "platform/storage_pass_through.h"
#include "platform/windows_version.h"

#include <cctype>
#include <cstring>
#include <optional>

namespace platform::sim {

using nlohmann::json;

namespace {

std::string LowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Present(const json& object, const char* key) {
    return object.contains(key) && !object[key].is_null();
}

class SimSystemInfo : public SystemInfo {
public:
    SimSystemInfo(std::shared_ptr<Machine> machine, Kernel32& kernel32)
        : machine_(std::move(machine)), kernel32_(kernel32) {}

    ComputerIdentity Computer() override {
        ComputerIdentity computer = machine_->computer;
        if (computer.OperatingSystem.empty()) {
            OSVERSIONINFOA version{};
            version.dwOSVersionInfoSize = sizeof version;
            if (kernel32_.GetVersionExA(&version))
                computer.OperatingSystem = WindowsVersionText(version);
        }
        return computer;
    }
    bool LetterPaper() override { return machine_->letterPaper; }

private:
    std::shared_ptr<Machine> machine_;
    Kernel32& kernel32_;
};

} // namespace

StorageDeviceFacts ParseDiskIdentity(const json& disk, const PhysicalDisk& parsed,
                                     const std::string& where) {
    StorageDeviceFacts facts;
    // The friendly name is in the program's code page already.
    facts.product =
        Present(disk, "model") ? GetText(disk, "model", "", where) : parsed.friendlyName;
    facts.serial = GetText(disk, "serial", "", where);
    // "firmware" is the revision text, or the emulated drive's object with its "revision".
    if (Present(disk, "firmware") && disk["firmware"].is_object())
        facts.revision = GetText(disk["firmware"], "revision", "", where + ".firmware");
    else
        facts.revision = GetText(disk, "firmware", "", where);
    const std::string bus = Get<std::string>(disk, "bus", "unknown", where);
    const std::optional<DWORD> type = BusTypeOfWord(bus);
    if (!type)
        Bad(where + ".bus", "unknown bus \"" + bus +
                                "\" (SATA, ATA, NVMe, USB, SCSI, SAS, MMC, SD, virtual, loop, "
                                "RAID, iSCSI, 1394, unknown, ...)");
    facts.busType = *type;
    facts.loop = BusTypeWord(*type, true) == "loop" && LowerCase(bus) == "loop";
    if (Present(disk, "rotational"))
        facts.rotational = Get<bool>(disk, "rotational", false, where);
    facts.removable = parsed.geometry.MediaType == RemovableMedia;
    return facts;
}

void ParseComputer(Machine& machine, const json& file) {
    const json computer = file.value("computer", json::object());
    if (!computer.is_object())
        Bad("computer", "must be an object");
    const std::string at = "computer";
    ComputerIdentity& c = machine.computer;
    c.Vendor = GetText(computer, "vendor", "Purgelet", at);
    c.Product = GetText(computer, "product", "Simulated PC", at);
    c.Serial = GetText(computer, "serial", "", at);
    c.HostName = GetText(computer, "hostName", "SIMULATED-PC", at);
    c.OperatingSystem = GetText(computer, "operatingSystem", "", at);
    const std::string paper = Get<std::string>(computer, "paper", "A4", at);
    if (paper != "A4" && paper != "Letter")
        Bad(at + ".paper", "must be \"A4\" or \"Letter\"");
    machine.letterPaper = paper == "Letter";
}

std::unique_ptr<SystemInfo> CreateSimSystemInfo(std::shared_ptr<Machine> machine,
                                                Kernel32& kernel32) {
    return std::make_unique<SimSystemInfo>(std::move(machine), kernel32);
}

// A partition answers for the disk it lies on, as a Windows volume does; drives with an
// image of their own and floppy drives have no disk to tell of.
BOOL SimKernel32::StorageQuery(Lock& lock, const DeviceHandle& h, LPVOID in, DWORD inSize,
                               LPVOID out, DWORD outSize, DWORD* size) {
    DeviceFaults& faults = FaultsOf(h);
    if (faults.storageQuery.Fire())
        return Fail(faults.storageQuery.error);
    int disk = h.disk;
    if (h.drive >= 0) {
        const Drive& drive = machine_->drives[static_cast<std::size_t>(h.drive)];
        disk = drive.kind == DriveKind::Floppy ? -1 : drive.disk;
    }
    if (disk < 0)
        return Fail(ERROR_INVALID_FUNCTION);
    // A drive's protocol data; a volume has none to give.
    STORAGE_PROPERTY_QUERY query{};
    if (in != nullptr && inSize >= sizeof query)
        std::memcpy(&query, in, sizeof query);
    if (query.PropertyId == StorageDeviceProtocolSpecificProperty ||
        query.PropertyId == StorageAdapterProtocolSpecificProperty)
        return h.disk < 0 ? Fail(ERROR_NOT_SUPPORTED)
                          : NvmeQuery(lock, h, in, inSize, out, outSize, size);
    const DWORD error = AnswerStorageQuery(machine_->disks[static_cast<std::size_t>(disk)].identity,
                                           in, inSize, out, outSize, size);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

} // namespace platform::sim
