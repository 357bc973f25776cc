// The optical drive over the NT pass-through transport (scsi/pass_through.h): a drive is
// opened by its letter, and every command travels in one DeviceIoControl request.
#pragma once

#include "optical/optical_device.h"
#include "platform/handle.h"
#include "platform/winapi.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace purgelet {

class TSPTIdevice : public TOpticalDevice {
public:
    // INQUIRY and the capabilities of the drive at Letter.
    explicit TSPTIdevice(char Letter);
    // Closes a handle still held (a WriteImage left by an exception); never raises.

    platform::UniqueHandle Handle; // held while PrepareToWrite or WriteImage runs
    std::uint8_t DiscInformation[kDiscInformationLength] = {}; // of the last blank poll

    std::uint8_t Eject() override;
    std::uint8_t Blank(bool Full, const TBusyEvent& OnBusy) override;
    std::uint8_t ReadCapabilities() override;
    bool PrepareToWrite(TDiscStatus& Status) override;
    bool WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) override;

    // Time limits in seconds: commands on a handle the operation holds, and commands that
    // open and close a handle of their own.
    static constexpr DWORD kHeldTimeout = 120;
    static constexpr DWORD kOwnTimeout = 2;

    // Where a failed data-out request or CLOSE TRACK/SESSION is told to the user; the
    // program points it at a plain message box. Empty: nothing is shown.
    static std::function<void(const std::string&)> ErrorBox;

protected:
    TScsiResult Send(const TCdb& cdb, std::uint8_t* data) override;
    std::uint8_t ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) override;
    TScsiResult Poll() override;

private:
    std::string Path() const;
    // One request on handle; a refused request that sends data or closes a track or
    // session is shown through ErrorBox.
    TScsiResult SendOn(HANDLE handle, const TCdb& cdb, std::uint8_t* data, DWORD timeout);
};

// One device per drive letter that names a device, on the NT family only.
class TSPTIdevices {
public:
    TSPTIdevices() { Rescan(); }
    void Rescan();
    void Add(char Letter);
    std::size_t Count() const { return Devices.size(); }
    void Clear() { Devices.clear(); }

    std::vector<std::unique_ptr<TSPTIdevice>> Devices;
};

} // namespace purgelet
