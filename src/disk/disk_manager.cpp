#include "disk/disk_manager.h"

#include "disk/nt/setupdi.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "platform/drive_letter.h"
#include "platform/handle.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "report/report.h"

#include <cassert>
#include <exception>
#include <utility>

namespace purgelet {

// ---- TDiskList

void TDiskList::Clear() {
    for (auto& disk : items_)
        disk.reset();
    items_.clear();
}

// ---- TDiskManager

namespace {

// "J: VMVENDOR VM CD-ROM": the drive's letter, where it has one, and what it calls itself.
std::string OpticalDeviceName(const TOpticalDevice& device) {
    std::string name = device.DeviceName;
    if (device.DriveLetter != ' ' && device.DriveLetter != 0)
        name = std::string(1, device.DriveLetter) + ": " + name;
    return name;
}

TDiskClasses RunningPlatformClasses() {
    auto& kernel32 = platform::k32();
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!kernel32.GetVersionExA(&version)) {
        const DWORD code = kernel32.GetLastError();
        std::string text =
            "TDiskManager.Create - GetVersionExA : " + kernel32.SysErrorMessage(code);
        kernel32.SetLastError(code);
        throw XSystemCall(text);
    }
    return DiskClassesForPlatform(version.dwPlatformId);
}

// Drive letters that hold a disk the manager makes an object for: removable and fixed
// ones (network, optical and RAM drives are left out).
bool IsDiskDrive(DWORD mask, char letter) {
    if ((mask & (DWORD{1} << (letter - 'A'))) == 0)
        return false;
    const std::string root = std::string(1, letter) + ":\\";
    const UINT type = platform::k32().GetDriveTypeA(root.c_str());
    return type == DRIVE_REMOVABLE || type == DRIVE_FIXED;
}

} // namespace

TDiskManager::TDiskManager() : TDiskManager(RunningPlatformClasses(), CreateOpticalDevices) {}

TDiskManager::TDiskManager(TDiskClasses Classes, OpticalDevicesFactory Optical)
    : classes_(std::move(Classes)), optical_(std::move(Optical)) {}

TDiskManager::~TDiskManager() {
    TDiskManager::Clear();
}

void TDiskManager::Clear() {
    Disk = nullptr;
    NotOffered.clear();
    for (int i = 0; i < PhysicalDisks.Count(); ++i)
        if (auto* physical = dynamic_cast<TPhysicalDisk*>(PhysicalDisks.Items(i))) {
            if (physical->LockRefused)
                lockRefused_[physical->Name] = physical->NotWipeable;
            physical->Volumes.clear();
        }
    LogicalDisks.Clear();
    OpticalDisks.Clear(); // before the devices they refer to
    PhysicalDisks.Clear();
    OpticalDevices.reset();
}

std::unique_ptr<TDisk>
TDiskManager::CreateAsking(const std::function<std::unique_ptr<TDisk>()>& create,
                           const std::string& detail) {
    for (;;) {
        try {
            return create();
        } catch (const std::exception&) {
            SetDisk(this, nullptr);
            const int answer =
                Message(mkDetecting, detail, TMsgDlgType::mtError, mbAbortRetryIgnore);
            if (answer == mrRetry)
                continue;
            if (answer == mrIgnore)
                return nullptr;
            throw;
        }
    }
}

void TDiskManager::Detect() {
    // Disc objects refer into the optical drive list that this detection replaces, so a
    // detection always starts from empty lists.
    Clear();
    const DWORD drives = platform::k32().GetLogicalDrives();
    NotOffered = platform::k32().DevicesNotOffered();

    for (char letter = 'A'; letter <= 'B'; ++letter)
        if (IsDiskDrive(drives, letter))
            LogicalDisks.Add(classes_.FloppyClass(std::string(1, letter), this));

    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (!IsDiskDrive(drives, letter))
            continue;
        const std::string name(1, letter);
        auto disk =
            CreateAsking([&] { return classes_.LogicalDiskClass(name, this); }, name + ":\\");
        if (disk)
            LogicalDisks.Add(std::move(disk));
    }

    OpticalDevices = optical_();
    for (std::size_t i = 0; i < OpticalDevices->Count(); ++i) {
        TOpticalDevice& device = OpticalDevices->Items(i);
        if (device.CanWrite())
            OpticalDisks.Add(classes_.OpticalDiskClass(this, device));
        else // a reader: found, answered, and told as such
            NotOffered.push_back({OpticalDeviceName(device), CatalogueText("OPTICALREADSONLY")});
    }

    std::vector<std::string> paths, names;
    if (classes_.PhysicalDiskClass)
        EnumerateDisks(paths, names);
    for (std::size_t j = 0; j < paths.size(); ++j) {
        auto disk = CreateAsking(
            [&] { return classes_.PhysicalDiskClass(paths[j], this, names[j]); }, names[j]);
        if (disk)
            PhysicalDisks.Add(std::move(disk));
    }

    for (int i = 0; i < LogicalDisks.Count(); ++i) {
        TDisk* logical = LogicalDisks.Items(i);
        if (logical->DeviceNumber < 0)
            continue;
        for (int k = 0; k < PhysicalDisks.Count(); ++k) {
            if (PhysicalDisks.Items(k)->DeviceNumber == logical->DeviceNumber) {
                logical->OwnerDisk = PhysicalDisks.Items(k);
                break;
            }
        }
    }
    MarkWholeDisks();
}

namespace {

// The NT device name of the system partition (the one the computer starts from), as Setup
// recorded it ("\Device\HarddiskVolume1"); empty when the registry does not tell it.
std::string SystemPartitionDevice() {
    std::unique_ptr<platform::RegistryKey> key;
    std::string device;
    if (platform::sys().registry->OpenKey(platform::RegistryRoot::LocalMachine, "SYSTEM\\Setup",
                                          false, key) != ERROR_SUCCESS ||
        !key || key->QueryString("SystemPartition", device) != ERROR_SUCCESS)
        return {};
    return device;
}

// The NT device name a drive letter stands for ("\Device\HarddiskVolume2").
std::string DosDeviceOf(const std::string& letter) {
    char target[1024] = {};
    const std::string name = letter + ":";
    if (platform::k32().QueryDosDeviceA(name.c_str(), target, sizeof target) == 0)
        return {};
    target[sizeof target - 1] = '\0';
    return target;
}

// The number of the disk a device of the system's own namespace lies on; -1 when it does
// not tell (a partition without drive letter is reached as \\?\GLOBALROOT + its name).
std::int32_t DiskNumberOfDevice(const std::string& device) {
    const std::string path = "\\\\?\\GLOBALROOT" + device;
    platform::UniqueHandle handle(platform::k32().CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle)
        return -1;
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!platform::k32().DeviceIoControl(handle.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                         &number, sizeof number, &returned, nullptr))
        return -1;
    return static_cast<std::int32_t>(number.DeviceNumber);
}

} // namespace

void TDiskManager::MarkWholeDisks() {
    auto& k = platform::k32();
    std::vector<TPhysicalDisk*> disks;
    for (int i = 0; i < PhysicalDisks.Count(); ++i)
        if (auto* physical = dynamic_cast<TPhysicalDisk*>(PhysicalDisks.Items(i)))
            disks.push_back(physical);
    if (disks.empty())
        return;
    for (int i = 0; i < LogicalDisks.Count(); ++i) {
        auto* logical = dynamic_cast<TLogicalDisk*>(LogicalDisks.Items(i));
        if (logical == nullptr)
            continue;
        for (TPhysicalDisk* physical : disks)
            if (logical->OwnerDisk == physical)
                physical->Volumes.push_back(logical);
    }
    auto mark = [](TDisk* disk, const std::string& why) {
        auto* physical = dynamic_cast<TPhysicalDisk*>(disk);
        if (physical != nullptr && physical->NotWipeable.empty())
            physical->NotWipeable = why;
    };
    const std::string system =
        GetLngText("Purgelet", "WHOLEDISK_SYSTEM", "holds the running system");
    // The disks of the volumes Windows and this program run from, by their drive letters.
    const std::pair<std::string, std::string> places[] = {
        {k.GetWindowsDirectoryA(), system},
        {k.GetModuleFileNameA(),
         GetLngText("Purgelet", "WHOLEDISK_PROGRAM", "holds this program")}};
    for (const auto& [path, why] : places)
        if (const char letter = platform::DriveLetterOf(path))
            for (int i = 0; i < LogicalDisks.Count(); ++i)
                if (LogicalDisks.Items(i)->Name == std::string(1, letter))
                    mark(LogicalDisks.Items(i)->OwnerDisk, why + " (" + path + ")");
    // The system partition the computer starts from, by its device name: through its drive
    // letter, else asked directly (it often has none).
    if (const std::string device = SystemPartitionDevice(); !device.empty()) {
        bool found = false;
        for (int i = 0; i < LogicalDisks.Count(); ++i)
            if (DosDeviceOf(LogicalDisks.Items(i)->Name) == device) {
                mark(LogicalDisks.Items(i)->OwnerDisk, system + " (" + device + ")");
                found = true;
            }
        if (!found)
            if (const std::int32_t number = DiskNumberOfDevice(device); number >= 0)
                for (TPhysicalDisk* physical : disks)
                    if (physical->DeviceNumber == number)
                        mark(physical, system + " (" + device + ")");
    }
    for (TPhysicalDisk* physical : disks) {
        if (physical->DeviceNumber >= 0)
            if (auto why = k.WhyDiskRefused(static_cast<DWORD>(physical->DeviceNumber)))
                mark(physical, *why);
        if (auto refused = lockRefused_.find(physical->Name);
            refused != lockRefused_.end() && physical->NotWipeable.empty()) {
            physical->NotWipeable = refused->second;
            physical->LockRefused = true;
        }
    }
}

int TDiskManager::CountByDriveType(const TDiskList* List, std::uint8_t DriveType) {
    if (List == nullptr)
        return 0;
    int count = 0;
    for (int i = 0; i < List->Count(); ++i)
        if (List->Items(i)->DriveType == DriveType)
            ++count;
    return count;
}

// ---- TGUIDiskManager

TGUIDiskManager::TGUIDiskManager(ui::Host& Host) : host_(Host) {}

TGUIDiskManager::TGUIDiskManager(ui::Host& Host, TDiskClasses Classes,
                                 OpticalDevicesFactory Optical)
    : TDiskManager(std::move(Classes), std::move(Optical)), host_(Host) {}

void TGUIDiskManager::Clear() {
    ReportDisk = nullptr;
    TDiskManager::Clear();
}

void TGUIDiskManager::RequestAbort(const std::string& Text) {
    PendingAbort = Text;
}

void TGUIDiskManager::CheckAbort() {
    assert(OnOwnThread() && "the manager's abort is read on the job's thread only");
    if (!PendingAbort)
        return;
    const std::string text = std::move(*PendingAbort);
    PendingAbort.reset();
    throw XAbort(text);
}

void TGUIDiskManager::WaitWhilePaused() {
    while (Paused) {
        host_.Sleep(100);
        host_.ProcessMessages();
    }
}

int TGUIDiskManager::UnattendedAnswer(MessageKind Kind) {
    return Kind == mkNoFloppy || Kind > mkDetecting ? mrNone : mrIgnore;
}

std::string TGUIDiskManager::ModalResultText(int Result) {
    static const char* const kKeys[] = {"mrNone_TEXT",    "mrOk_TEXT",      "mrCancel_TEXT",
                                        "mrAbort_TEXT",   "mrRetry_TEXT",   "mrIgnore_TEXT",
                                        "mrYes_TEXT",     "mrNo_TEXT",      "mrAll_TEXT",
                                        "mrNoToAll_TEXT", "mrYesToAll_TEXT"};
    static const char* const kDefaults[] = {"None",  "Ok",        "Cancel",    "Abort",
                                            "Retry", "Ignore",    "Yes",       "No",
                                            "All",   "No to All", "Yes to All"};
    if (Result < mrNone || Result > mrYesToAll)
        return std::to_string(Result); // no dialog answers so; the number still tells it
    return GetLngText("Purgelet", kKeys[Result], kDefaults[Result]);
}

int TGUIDiskManager::Message(MessageKind Kind, const std::string& Detail, TMsgDlgType DlgType,
                             TMsgDlgButtons Buttons) {
    // A drive wiped on a thread of its own asks through its own sink, which hands the
    // question over: a dialog drawn here from that thread would be off the windows' thread.
    assert(OnOwnThread() && "a question reaches the manager on the job's thread only");
    CheckAbort();
    const std::string key = MessageKindKey(Kind);
    const std::string text = GetLngText("Purgelet", key, key); // the defaults are the keys
    ReportWriteLine(text);
    // Unattended answers go into the report too: a block skipped without a dialog must
    // still show there, or the report would call a wipe complete that was not.
    const int answer = Unattended
                           ? UnattendedAnswer(Kind)
                           : host_.MessageDialog(text + "\r\n" + Detail, DlgType, Buttons, 0);
    ReportWriteLine(GetLngText("Purgelet", "DECISION", "Decision") + ": " +
                    ModalResultText(answer));
    if ((Kind == mkWrite || Kind == mkRead) && ReportDisk != nullptr)
        ReportBlockWarning(*ReportDisk, Wipe != nullptr ? Wipe->CurrentBlock : 0);
    if (OnAnswered)
        OnAnswered(Kind, text, Detail, answer);
    return answer;
}

void TGUIDiskManager::Update() {
    CheckAbort();
    WaitWhilePaused();
    if (OnUpdate)
        OnUpdate();
}

} // namespace purgelet
