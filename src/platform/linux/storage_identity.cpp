#include "platform/linux/storage_identity.h"

#include "platform/codepage.h"
#include "platform/linux/sysfs.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <libudev.h>
#include <memory>

namespace platform::linux_backend {

namespace {

namespace fs = std::filesystem;

// Control characters become blanks; blanks around the text go.
std::string ReadableTrimmed(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A path component that is the prefix followed by digits only ("ata3", "session1").
bool NumberedComponent(const fs::path& path, const char* prefix, std::string* found = nullptr) {
    for (const auto& part : path) {
        const std::string name = part.string();
        if (!StartsWith(name, prefix) || name.size() == std::char_traits<char>::length(prefix))
            continue;
        bool digits = true;
        for (std::size_t i = std::char_traits<char>::length(prefix); i < name.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (digits) {
            if (found != nullptr)
                *found = name;
            return true;
        }
    }
    return false;
}

bool HasComponentStarting(const fs::path& path, const char* prefix) {
    for (const auto& part : path)
        if (StartsWith(part.string(), prefix))
            return true;
    return false;
}

// A libata port's disk is on a SATA link when the link's transport tells a SATA speed.
DWORD AtaBus(const fs::path& disk) {
    std::string port;
    if (!NumberedComponent(disk, "ata", &port))
        return BusTypeAta;
    fs::path portDir;
    for (const auto& part : disk) {
        portDir /= part;
        if (part == port)
            break;
    }
    const std::string link = "link" + port.substr(3);
    const std::string speed = ReadLine(portDir / link / "ata_link" / link / "sata_spd");
    return !speed.empty() && speed != "<unknown>" ? DWORD{BusTypeSata} : DWORD{BusTypeAta};
}

// The bus of a SCSI disk (sd, sr) from where sysfs places it: libata, USB, SAS, iSCSI,
// virtio or FireWire; a plain SCSI host otherwise.
DWORD ScsiBus(const fs::path& disk) {
    if (HasComponentStarting(disk, "usb"))
        return BusTypeUsb;
    if (NumberedComponent(disk, "ata"))
        return AtaBus(disk);
    if (HasComponentStarting(disk, "end_device-"))
        return BusTypeSas;
    if (NumberedComponent(disk, "session"))
        return BusTypeiScsi;
    if (HasComponentStarting(disk, "virtio"))
        return BusTypeVirtual;
    if (HasComponentStarting(disk, "fw") && disk.string().find("firewire") != std::string::npos)
        return BusType1394;
    return BusTypeScsi;
}

// A USB disk's serial number is its USB device's own (the iSerialNumber string, as udev
// tells it), which a USB bridge seldom passes on as a SCSI serial number page: the nearest
// folder above the disk that is a USB device holds it.
std::string UsbSerial(const fs::path& disk) {
    std::error_code error;
    for (fs::path at = disk.parent_path(); at.has_relative_path() && at.filename() != "devices";
         at = at.parent_path())
        if (fs::exists(at / "idVendor", error))
            return ReadLine(at / "serial");
    return {};
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the sysfs files of the whole disk dir (named name) tell.
StorageDeviceFacts FromSysfs(const fs::path& dir, const std::string& name) {
    StorageDeviceFacts facts;
    const fs::path device = dir / "device";
    std::error_code error;
    if (StartsWith(name, "loop") || fs::exists(dir / "loop", error)) {
        facts.loop = true;
        facts.busType = BusTypeFileBackedVirtual;
        const std::string backing = ReadLine(dir / "loop" / "backing_file");
        facts.product = backing.empty() ? "Loop device" : "Loop device (" + backing + ")";
    } else if (StartsWith(name, "nvme")) {
        facts.busType = BusTypeNvme;
        facts.product = ReadLine(device / "model");
        facts.serial = ReadLine(device / "serial");
        facts.revision = ReadLine(device / "firmware_rev");
    } else if (StartsWith(name, "mmcblk")) {
        facts.busType = ReadLine(device / "type") == "SD" ? BusTypeSd : BusTypeMmc;
        facts.product = ReadLine(device / "name");
        facts.serial = ReadLine(device / "serial");
        facts.revision = ReadLine(device / "fwrev");
    } else if (StartsWith(name, "vd") || StartsWith(name, "xvd")) {
        facts.busType = BusTypeVirtual;
        facts.serial = ReadLine(dir / "serial");
    } else if (StartsWith(name, "sd") || StartsWith(name, "sr")) {
        facts.busType = ScsiBus(dir);
        facts.vendor = ReadLine(device / "vendor");
        facts.product = ReadLine(device / "model");
        facts.revision = ReadLine(device / "rev");
        facts.serial = ReadLine(device / "serial");
        if (facts.serial.empty())
            facts.serial = SerialOfVpdPage80(ReadBytes(device / "vpd_pg80"));
        if (facts.serial.empty() && facts.busType == BusTypeUsb)
            facts.serial = UsbSerial(dir);
        facts.deviceType = StartsWith(name, "sr") ? 5 : 0;
    } else if (StartsWith(name, "hd")) {
        facts.busType = BusTypeAta;
        facts.product = ReadLine(device / "model");
    }
    facts.removable = ReadNumber(dir / "removable") == 1;
    const std::int64_t rotational = ReadNumber(dir / "queue" / "rotational");
    if (rotational == 0 || rotational == 1)
        facts.rotational = rotational == 1;
    return facts;
}

// udev's encoded texts keep blanks and odd bytes as "\xHH".
std::string Decoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return ReadableTrimmed(out);
}

// udev's properties of the device, over what sysfs told: only what udev knows replaces.
void MergeUdev(dev_t devno, StorageDeviceFacts& facts) {
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context)
        return;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
        udev_device_new_from_devnum(context.get(), 'b', devno), udev_device_unref);
    if (!device)
        return;
    auto property = [&device](const char* key) {
        const char* value = udev_device_get_property_value(device.get(), key);
        return value != nullptr ? std::string(value) : std::string();
    };
    auto take = [](std::string& into, const std::string& value) {
        if (!value.empty())
            into = value;
    };
    take(facts.vendor, Decoded(property("ID_VENDOR_ENC")));
    take(facts.product, Decoded(property("ID_MODEL_ENC")));
    take(facts.serial, property("ID_SERIAL_SHORT"));
    take(facts.revision, property("ID_REVISION"));
    const std::string bus = property("ID_BUS");
    if (bus == "ata")
        facts.busType = property("ID_ATA_SATA") == "1" ? BusTypeSata : BusTypeAta;
    else if (bus == "usb")
        facts.busType = BusTypeUsb;
    else if (bus == "nvme")
        facts.busType = BusTypeNvme;
    else if (bus == "ieee1394")
        facts.busType = BusType1394;
}

} // namespace

std::string SerialOfVpdPage80(const std::string& bytes) {
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[1]) != 0x80)
        return {};
    const std::size_t length =
        (static_cast<unsigned char>(bytes[2]) << 8) | static_cast<unsigned char>(bytes[3]);
    if (length > bytes.size() - 4)
        return {};
    return ReadableTrimmed(bytes.substr(4, length));
}

std::optional<StorageDeviceFacts> ReadStorageFacts(const std::string& sysfs, dev_t devno) {
    const std::string found = SysDirOf(sysfs, devno);
    if (found.empty())
        return std::nullopt;
    fs::path dir(found);
    std::error_code error;
    if (fs::exists(dir / "partition", error))
        dir = dir.parent_path();
    StorageDeviceFacts facts = FromSysfs(dir, dir.filename().string());
    if (sysfs == "/sys" && !facts.loop)
        MergeUdev(DevnoOfSysDir(dir), facts);
    for (std::string* text : {&facts.vendor, &facts.product, &facts.revision, &facts.serial})
        *text = Utf8ToCp1252(*text); // sysfs, udev and file names are UTF-8
    return facts;
}

} // namespace platform::linux_backend
