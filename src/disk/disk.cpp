#include "disk/disk.h"

#include "lang/catalogue.h"
#include "methods/method.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace purgelet {

TDisk::TDisk(std::string Name, TMessageObject* Owner) : Name(std::move(Name)), Owner(Owner) {}

TDisk::~TDisk() = default;

int TDisk::getPropertiesCount() {
    Properties.clear();
    return 0;
}

int TDisk::GetSortedPropertiesCount() {
    int count = getPropertiesCount();
    SortProperties();
    return count;
}

void TDisk::GetProperty(int Index, TGenericProperty& Property) const {
    Property = Properties.at(static_cast<std::size_t>(Index));
}

// An exchange sort: the lists are short, and equal ids keep the order this sort leaves them.
void TDisk::SortProperties() {
    for (std::size_t i = 0; i < Properties.size(); ++i)
        for (std::size_t j = i + 1; j < Properties.size(); ++j)
            if (Properties[j].Id < Properties[i].Id)
                std::swap(Properties[i], Properties[j]);
}

void TDisk::AddProperty(std::uint8_t id, TGenericProperty::ValueType value) {
    Properties.push_back(TGenericProperty{id, std::move(value)});
}

bool TWipeContext::SendsFirmware() const {
    return Method != nullptr && Method->Firmware != TFirmwareStep::None;
}

TOpenMode TWipeContext::OpenMode() {
    TOpenMode mode;
    mode.Unbuffered = Options.Unbuffered;
    mode.ReadBack = SendsFirmware() ||
                    (Method != nullptr && std::any_of(Method->Steps.begin(), Method->Steps.end(),
                                                      [](const steptype* step) {
                                                          return step != nullptr && step->Check;
                                                      }));
    mode.TransfersInFlight = Options.TransfersInFlight;
    mode.Firmware = SendsFirmware();
    mode.Asks = &Messages();
    return mode;
}

TMessageObject& TWipeContext::StartFigures(TDisk& disk) {
    TMessageObject& sink = Messages();
    sink.Disk = &disk;
    sink.Wipe = this;
    sink.Progress = 0.0;
    sink.Flag = 0;
    sink.Pass = 0;
    sink.PassCount = 0;
    sink.Verifying = false;
    return sink;
}

void TDisk::OpenForWipe(const TOpenMode&) {
    Open(false);
}

void TDisk::WipeDisk(TWipeContext& wipe) {
    // The sink outlives the wipe: it must not go on naming it.
    struct TForget {
        TWipeContext& wipe;
        ~TForget() {
            TMessageObject& sink = wipe.Messages();
            if (sink.Wipe == &wipe)
                sink.Wipe = nullptr;
        }
    } forget{wipe};
    WipeAndFormat(wipe);
}

void TDisk::WipeDisk(const method* Method, bool Format, std::uint8_t FileSystem,
                     std::int32_t ClusterSize, const std::string& Label) {
    WipeDiskWithParams(Method, Format, TFormatParams{FileSystem, ClusterSize, Label});
}

void TDisk::WipeDiskWithParams(const method* Method, bool Format, const TFormatParams& Params) {
    TWipeContext wipe(Method, Owner);
    wipe.Format = Format;
    wipe.FormatParams = Params;
    WipeDisk(wipe);
}

// Physical disks and optical discs are never formatted.
void TDisk::WipeAndFormat(TWipeContext& wipe) {
    OpenWipeClose(wipe);
}

void TDisk::OpenWipeClose(TWipeContext& wipe) {
    // The drive's own erase is a whole disk's only: nothing else is written in its stead.
    if (wipe.SendsFirmware() && dynamic_cast<TPhysicalDisk*>(this) == nullptr) {
        XFirmware error("TDisk.WipeDisk - firmware sanitize : not a whole disk");
        error.ErrorText = CatalogueText("FIRMWARE_NOTWHOLE");
        throw error;
    }
    wipe.Wiped = {};
    TOpenedDisk opened(*this, wipe.OpenMode());
    wipe.Wiped = {Size, BlockSize, BlockCount};
    Wipe(wipe);
    opened.Close();
}

void TDisk::CloseAfterFailure() noexcept {
    try {
        Close();
    } catch (...) {
    }
}

void TLogicalDisk::WipeAndFormat(TWipeContext& wipe) {
    wipe.FormatPass = wipe.Format ? 1 : 0;
    OpenWipeClose(wipe);
    if (wipe.Format)
        Format(wipe.FormatParams, wipe);
}

namespace {

template <std::size_t N> std::string FromBuffer(const char (&text)[N]) {
    std::size_t length = 0;
    while (length < N && text[length] != '\0')
        ++length;
    return std::string(text, length);
}

} // namespace

int TLogicalDisk::getPropertiesCount() {
    TDisk::getPropertiesCount();
    try {
        AddProperty(propName, Description);
        AddProperty(propSize, Size);
        const std::string root = Name + ":\\";
        char volumeName[MAX_PATH + 1] = {};
        char fileSystemName[MAX_PATH + 1] = {};
        DWORD serial = 0;
        DWORD maxComponentLength = 0;
        DWORD flags = 0;
        if (platform::k32().GetVolumeInformationA(root.c_str(), volumeName, sizeof volumeName,
                                                  &serial, &maxComponentLength, &flags,
                                                  fileSystemName, sizeof fileSystemName)) {
            AddProperty(propFileSystem, FromBuffer(fileSystemName));
            AddProperty(propSerial, static_cast<std::int32_t>(serial));
            AddProperty(propFSFlags, static_cast<std::int32_t>(flags));
            ULARGE_INTEGER freeToCaller{};
            ULARGE_INTEGER total{};
            ULARGE_INTEGER totalFree{};
            if (platform::k32().GetDiskFreeSpaceExA(root.c_str(), &freeToCaller, &total,
                                                    &totalFree)) {
                const auto totalBytes = static_cast<std::int64_t>(total.QuadPart);
                const auto freeBytes = static_cast<std::int64_t>(totalFree.QuadPart);
                AddProperty(propTotalSpace, totalBytes);
                AddProperty(propFreeSpace, freeBytes);
                AddProperty(propUsedSpace, totalBytes - freeBytes);
            }
        } else {
            AddProperty(propFileSystem, std::string("RAW"));
        }
    } catch (const std::exception& error) {
        LogSilently<XException>("TLogicalDisk.getPropertiesCount - exception : " +
                                ClassNameOf(error) + "- \"" + error.what() + "\"");
    } catch (...) {
        LogSilently<XException>("TLogicalDisk.getPropertiesCount - exception : unknown- \"\"");
    }
    return static_cast<int>(Properties.size());
}

const std::string& DriveName(const TDisk& disk) {
    if (const auto* whole = dynamic_cast<const TPhysicalDisk*>(&disk);
        whole && !whole->Device.empty())
        return whole->Device;
    return disk.Name;
}

TPhysicalDisk::TPhysicalDisk(std::string Name, TMessageObject* Owner, std::string Description)
    : TRandomAccessDisk(std::move(Name), Owner) {
    this->Description = std::move(Description);
}

} // namespace purgelet
