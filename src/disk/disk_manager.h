// The disk manager: finds every medium the system can wipe, keeps one disk object per
// medium in three owning lists, and is the Owner of every disk it makes. TDiskManager
// answers no question by itself; TGUIDiskManager, the one the main window creates, puts
// questions to the user through the Host, writes them and the answers into the wipe report,
// answers by itself in unattended mode, and carries the Pause and Abort of the wipe page.
#pragma once

#include "disk/disk.h"
#include "disk/disk_classes.h"
#include "optical/optical_devices.h"
#include "platform/kernel32.h"
#include "report/exceptions.h"
#include "ui/host.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace purgelet {

// A list that owns its disks. Clear (also run on destruction) frees them in index order.
class TDiskList {
public:
    TDiskList() = default;
    ~TDiskList() { Clear(); }
    TDiskList(const TDiskList&) = delete;
    TDiskList& operator=(const TDiskList&) = delete;

    void Clear();
    void Add(std::unique_ptr<TDisk> disk) { items_.push_back(std::move(disk)); }
    int Count() const { return static_cast<int>(items_.size()); }
    TDisk* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }

private:
    std::vector<std::unique_ptr<TDisk>> items_;
};

class TDiskManager : public TMessageObject {
public:
    using OpticalDevicesFactory = std::function<std::unique_ptr<TOpticalDevices>()>;

    // The classes of the running platform (by the platform id GetVersionExA reports) and the
    // system's optical drives. Raises XSystemCall when the platform cannot be told.
    TDiskManager();
    // Given classes and optical drive enumeration, for other platforms' classes and tests.
    TDiskManager(TDiskClasses Classes, OpticalDevicesFactory Optical);
    ~TDiskManager() override;

    const TDiskClasses& Classes() const { return classes_; }

    // Frees every disk (logical, optical, physical, in this order) and the optical drive
    // list. The physical disks forget their volumes first: a volume is released by its own
    // disk when that is freed.
    virtual void Clear();
    // Detects every medium: drive letters A..Z, optical drives, physical disks, then the
    // physical owner of each drive letter, each physical disk's volumes and whether it may
    // be written as a whole (TPhysicalDisk::NotWipeable). Failures to make a disk for a drive
    // letter C..Z or a physical disk are put to the owner (kind 11: Abort, Retry, Ignore).
    virtual void Detect();

    // Disks of List with the given DriveType; 0 for no list.
    static int CountByDriveType(const TDiskList* List, std::uint8_t DriveType);
    int LocalDiskCount() const { return CountByDriveType(&LogicalDisks, 1); }
    int RemovableDiskCount() const { return CountByDriveType(&LogicalDisks, 3); }
    int FloppyCount() const { return CountByDriveType(&LogicalDisks, 2); }
    int OpticalDiskCount() const { return OpticalDisks.Count(); }

    std::unique_ptr<TOpticalDevices> OpticalDevices; // of the last Detect; null after Clear
    // The devices the system found and left out of the drive letters, and why (the device
    // the system runs from, read-only or empty ones, ones this user may not open).
    std::vector<platform::Kernel32::DeviceNotOffered> NotOffered;
    TDiskList LogicalDisks;  // drive letters, floppies included
    TDiskList PhysicalDisks; // in detection order
    TDiskList OpticalDisks;  // in device order

private:
    // Makes a disk, putting each failure to the owner as kind 11 about detail: Retry makes it
    // again, Ignore gives null, any other answer lets the failure leave.
    std::unique_ptr<TDisk> CreateAsking(const std::function<std::unique_ptr<TDisk>()>& create,
                                        const std::string& detail);
    // Gives each physical disk its volumes and says why one must not be written as a whole:
    // the back-end's reason, the volume of the Windows folder, of the system partition and
    // of this program, a volume lock refused for good at an earlier wipe.
    void MarkWholeDisks();

    TDiskClasses classes_;
    OpticalDevicesFactory optical_;
    // Physical disks (by Name) whose volume lock was refused for good, with the reason: kept
    // from one detection to the next, as the objects are made afresh.
    std::map<std::string, std::string> lockRefused_;
};

class TGUIDiskManager : public TDiskManager {
public:
    explicit TGUIDiskManager(ui::Host& Host);
    TGUIDiskManager(ui::Host& Host, TDiskClasses Classes, OpticalDevicesFactory Optical);

    std::function<void()> OnUpdate; // the main window's progress refresh; may be empty
    // Told each question once it is answered, by the user or unattended: its kind, its text,
    // what it was about and the answer, for a run that shows them as they come; may be empty.
    std::function<void(MessageKind Kind, const std::string& Text, const std::string& Detail,
                       int Answer)>
        OnAnswered;
    // The text of the abort the next Update or Message raises. Kept as text: the exception is
    // built (and so logged) when it is raised, not when it is only asked for.
    std::optional<std::string> PendingAbort;
    bool Unattended = false;     // questions are answered without a dialog
    bool Paused = false;         // Update waits while set
    TDisk* ReportDisk = nullptr; // the disk being wiped; not owned

    // Clears ReportDisk with the lists, so that no reference outlives its disk.
    void Clear() override;

    void RequestAbort(const std::string& Text);
    // Raises the pending abort once, clearing it first.
    void CheckAbort();
    void SetUnattended(bool Value) { Unattended = Value; }
    void SetPaused(bool Value) { Paused = Value; }
    // While Paused: sleep 100 ms and let the window system process its messages.
    void WaitWhilePaused();
    // The host the questions go through, for a run that keeps the window alive while the
    // drives are wiped on threads of their own.
    ui::Host& GetHost() { return host_; }
    // The thread the questions are asked on: the one that made the manager, until a run binds
    // the one it runs on. Message, Update and CheckAbort belong to it (its dialogs, and
    // PendingAbort read without a lock); a debug build checks every call.
    void BindToThisThread() { thread_ = std::this_thread::get_id(); }
    bool OnOwnThread() const { return std::this_thread::get_id() == thread_; }

    int Message(MessageKind Kind, const std::string& Detail, TMsgDlgType DlgType,
                TMsgDlgButtons Buttons) override;
    void Update() override;

    // The unattended answer to a question of the kind: Ignore, except none for kind 7 (no
    // floppy) and unknown kinds.
    static int UnattendedAnswer(MessageKind Kind);
    // The report's name of a modal result ("Retry", "Ignore", ...).
    static std::string ModalResultText(int Result);

private:
    ui::Host& host_;
    std::thread::id thread_ = std::this_thread::get_id();
};

} // namespace purgelet
