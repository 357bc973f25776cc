#include "optical/optical_devices.h"

#include "optical/aspi.h"
#include "optical/spti.h"

#include "platform/system.h"
#include "report/exceptions.h"

#include <algorithm>
#include <cctype>

namespace purgelet {

TOpticalDevices::TOpticalDevices() = default;
TOpticalDevices::~TOpticalDevices() = default;

std::unique_ptr<TOpticalDevices> TOpticalDevices::Create() {
    std::unique_ptr<TOpticalDevices> list(new TOpticalDevices());
    list->ASPIDevices = std::make_unique<TASPIdevices>();
    list->SPTIDevices = std::make_unique<TSPTIdevices>();
    list->SelectTransport(list->ASPIDevices->Available() ? 0 : 1);
    return list;
}

void TOpticalDevices::SelectTransport(std::uint8_t Which) {
    items_.clear();
    auto take = [this](const auto& devices) {
        for (const auto& device : devices)
            if (device->DeviceType == dtCDROM)
                items_.push_back(device.get());
    };
    if (Which == 0 && ASPIDevices)
        take(ASPIDevices->Devices);
    else if (Which == 1 && SPTIDevices)
        take(SPTIDevices->Devices);
}

std::unique_ptr<TOpticalDevices> CreateOpticalDevices() {
    return TOpticalDevices::Create();
}

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Empty text is never found, so a unit without vendor or product matches nothing.
bool Within(const std::string& part, const std::string& whole) {
    return !part.empty() && Upper(whole).find(Upper(part)) != std::string::npos;
}

std::string Search(const std::string& path, std::uint8_t lun, std::uint8_t target,
                   const std::string& vendor, const std::string& product, int depth) {
    try {
        std::unique_ptr<platform::RegistryKey> key;
        if (platform::sys().registry->OpenKey(platform::RegistryRoot::LocalMachine, path, false,
                                              key) != ERROR_SUCCESS ||
            !key)
            throw XException("SCSItoDriveLetter : OpenKey");
        std::string lunText, targetText, maker, productId, letter;
        if (key->QueryString("SCSILUN", lunText) == ERROR_SUCCESS &&
            Trim(lunText) == std::to_string(lun) &&
            key->QueryString("SCSITargetID", targetText) == ERROR_SUCCESS &&
            Trim(targetText) == std::to_string(target) &&
            key->QueryString("Manufacturer", maker) == ERROR_SUCCESS && Within(vendor, maker) &&
            key->QueryString("ProductId", productId) == ERROR_SUCCESS &&
            Within(product, productId) &&
            key->QueryString("CurrentDriveLetterAssignment", letter) == ERROR_SUCCESS)
            return letter;
        // The device tree is a few levels deep; a deeper one is not the tree searched for.
        if (depth >= 16)
            return "";
        std::vector<std::string> names;
        if (key->EnumKeys(names) != ERROR_SUCCESS)
            return "";
        for (const auto& name : names) {
            std::string answer =
                Search(path + "\\" + name, lun, target, vendor, product, depth + 1);
            if (!answer.empty())
                return answer;
        }
    } catch (const std::exception&) {
        // The failure has logged itself; this branch of the tree just has no answer.
    }
    return "";
}

} // namespace

std::string SCSItoDriveLetter(std::uint8_t Lun, std::uint8_t Target, const std::string& Vendor,
                              const std::string& Product) {
    return Search("enum\\scsi", Lun, Target, Vendor, Product, 0);
}

} // namespace purgelet
