// The emulated ATA drive: IDENTIFY DEVICE, the SANITIZE DEVICE commands with their status, and
// the SECURITY commands, answered through the ATA pass-through request as a drive answers
// them (an aborted command comes back with ERR and ABRT in its registers, the request itself
// succeeds). Also the entry for both emulated command sets.
#include "platform/sim/kernel32.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace platform::sim {

namespace {

constexpr BYTE kStatusOk = 0x50; // DRDY, DSC
constexpr BYTE kStatusErr = 0x51;
constexpr BYTE kAbrt = 0x04;
// SANITIZE DEVICE error reasons (LBA 7:0 of an aborted sanitize command).
constexpr BYTE kReasonFailed = 0x01;
constexpr BYTE kReasonUnsupported = 0x02;
constexpr BYTE kReasonFrozen = 0x03;

struct Registers {
    WORD feature = 0, count = 0;
    std::uint64_t lba = 0;
    BYTE device = 0, command = 0;
};

Registers Read(const ATA_PASS_THROUGH_EX& a) {
    Registers r;
    const UCHAR* c = a.CurrentTaskFile;
    const UCHAR* p = a.PreviousTaskFile;
    const bool ext = (a.AtaFlags & ATA_FLAGS_48BIT_COMMAND) != 0;
    r.feature = static_cast<WORD>(c[0] | (ext ? p[0] << 8 : 0));
    r.count = static_cast<WORD>(c[1] | (ext ? p[1] << 8 : 0));
    r.lba = static_cast<std::uint64_t>(c[2]) | (static_cast<std::uint64_t>(c[3]) << 8) |
            (static_cast<std::uint64_t>(c[4]) << 16);
    if (ext)
        r.lba |= (static_cast<std::uint64_t>(p[2]) << 24) |
                 (static_cast<std::uint64_t>(p[3]) << 32) |
                 (static_cast<std::uint64_t>(p[4]) << 40);
    r.device = c[5];
    r.command = c[6];
    return r;
}

void PutWord(BYTE* data, int index, WORD value) {
    data[2 * index] = static_cast<BYTE>(value);
    data[2 * index + 1] = static_cast<BYTE>(value >> 8);
}

void PutText(BYTE* data, int firstWord, int words, const std::string& text) {
    std::string padded = text.substr(0, static_cast<std::size_t>(2 * words));
    padded.resize(static_cast<std::size_t>(2 * words), ' ');
    for (int w = 0; w < words; ++w) {
        data[2 * (firstWord + w)] = static_cast<BYTE>(padded[static_cast<std::size_t>(2 * w + 1)]);
        data[2 * (firstWord + w) + 1] = static_cast<BYTE>(padded[static_cast<std::size_t>(2 * w)]);
    }
}

void Identify(const PhysicalDisk& disk, const FirmwareDrive& f, BYTE* data) {
    std::memset(data, 0, 512);
    PutWord(data, 0, 0x0040); // fixed device
    PutText(data, 10, 10, disk.identity.serial);
    PutText(data, 23, 4, disk.identity.revision);
    PutText(data, 27, 20, disk.identity.product);
    const std::uint64_t sectors =
        static_cast<std::uint64_t>(disk.size) / disk.geometry.BytesPerSector;
    PutWord(data, 49, 0x0200); // LBA
    const std::uint64_t lba28 = std::min<std::uint64_t>(sectors, 0x0FFFFFFF);
    PutWord(data, 60, static_cast<WORD>(lba28));
    PutWord(data, 61, static_cast<WORD>(lba28 >> 16));
    WORD sanitize = 0;
    if (f.sanitizeCrypto || f.sanitizeBlock)
        sanitize = static_cast<WORD>(0x1000 | (f.sanitizeCrypto ? 0x2000 : 0) |
                                     (f.sanitizeBlock ? 0x8000 : 0));
    PutWord(data, 59, sanitize);
    PutWord(data, 82, f.securityErase ? 0x0002 : 0x0000);
    PutWord(data, 83, 0x4400); // 48-bit addressing
    PutWord(data, 86, 0x0400);
    if (f.securityErase && f.estimatedSeconds != 0) {
        // Two-minute units, rounded up, in the extended format (bit 15).
        const std::uint32_t units =
            std::min<std::uint32_t>((f.estimatedSeconds + 119) / 120, 0x7FFF);
        PutWord(data, 89, static_cast<WORD>(0x8000 | units));
        PutWord(data, 90, f.enhancedErase ? static_cast<WORD>(0x8000 | units) : 0);
    }
    for (int i = 0; i < 4; ++i)
        PutWord(data, 100 + i, static_cast<WORD>(sectors >> (16 * i)));
    if (f.securityErase) {
        WORD security = 0x0001;
        if (f.passwordSet)
            security |= 0x0002;
        if (f.locked)
            security |= 0x0004;
        if (f.frozen)
            security |= 0x0008;
        if (f.enhancedErase)
            security |= 0x0020;
        PutWord(data, 128, security);
    }
    // Integrity word: signature A5h and the checksum that makes all bytes sum to zero.
    data[510] = 0xA5;
    BYTE sum = 0;
    for (int i = 0; i < 511; ++i)
        sum = static_cast<BYTE>(sum + data[i]);
    data[511] = static_cast<BYTE>(-sum);
}

bool WellFormed(const ATA_PASS_THROUGH_EX& a, DWORD size) {
    return a.Length == sizeof a && a.DataBufferOffset >= sizeof a && a.DataBufferOffset <= size &&
           a.DataTransferLength <= size - a.DataBufferOffset &&
           !((a.AtaFlags & ATA_FLAGS_DATA_IN) && (a.AtaFlags & ATA_FLAGS_DATA_OUT));
}

// One command: what the drive was given, kept for the tests, and the registers it hands back.
struct Exchange {
    Exchange(const ATA_PASS_THROUGH_EX& a, BYTE* buffer)
        : r(Read(a)), data(buffer), ext((a.AtaFlags & ATA_FLAGS_48BIT_COMMAND) != 0),
          dataIn((a.AtaFlags & ATA_FLAGS_DATA_IN) != 0),
          dataOut((a.AtaFlags & ATA_FLAGS_DATA_OUT) != 0),
          oneBlockOut(dataOut && a.DataTransferLength == 512),
          noData(!dataIn && !dataOut && a.DataTransferLength == 0) {
        got.command.assign(a.PreviousTaskFile, a.PreviousTaskFile + 8);
        got.command.insert(got.command.end(), a.CurrentTaskFile, a.CurrentTaskFile + 8);
        got.timeout = a.TimeOutValue;
        if (dataOut)
            got.data.assign(data, data + a.DataTransferLength);
    }

    void Abort(BYTE reason = 0) {
        status = kStatusErr;
        error = kAbrt;
        lbaOut = reason;
        got.aborted = true;
    }

    const Registers r;
    BYTE* const data;
    const bool ext, dataIn, dataOut, oneBlockOut, noData;
    FirmwareDrive::Received got;
    BYTE status = kStatusOk, error = 0;
    WORD countOut = 0;
    std::uint64_t lbaOut = 0;
};

// SANITIZE DEVICE: the status, or a sanitize started.
void Sanitize(PhysicalDisk& disk, Exchange& x, bool sanitizing) {
    FirmwareDrive& f = *disk.firmware;
    const bool supported = f.sanitizeCrypto || f.sanitizeBlock;
    if (!supported || !x.ext || !x.noData) {
        x.Abort(kReasonUnsupported);
        return;
    }
    if (x.r.feature == 0x0000) { // SANITIZE STATUS EXT
        x.countOut = static_cast<WORD>((f.frozen ? 0x2000 : 0));
        if (sanitizing) {
            x.countOut |= 0x4000;
            const int total = f.polls + 1;
            x.lbaOut = static_cast<std::uint64_t>(f.pollsDone + 1) * 65536 / total;
            if (f.fault != FirmwareDrive::Fault::NeverFinishes) {
                ++f.pollsDone;
                if (--f.pollsLeft <= 0)
                    FinishSanitize(disk);
            }
        } else if (f.lastSanitize == 3) {
            x.Abort(kReasonFailed);
        } else if (f.lastSanitize == 1) {
            x.countOut |= 0x8000;
        }
        return;
    }
    FirmwareDrive::Operation op = FirmwareDrive::Operation::None;
    if (x.r.feature == 0x0011 && f.sanitizeCrypto && x.r.lba == 0x43727970)
        op = FirmwareDrive::Operation::Crypto;
    if (x.r.feature == 0x0012 && f.sanitizeBlock && x.r.lba == 0x426B4572)
        op = FirmwareDrive::Operation::Block;
    if (op == FirmwareDrive::Operation::None)
        x.Abort(kReasonUnsupported);
    else if (f.frozen)
        x.Abort(kReasonFrozen);
    else if (sanitizing || f.fault == FirmwareDrive::Fault::Refused)
        x.Abort(kReasonFailed);
    else
        StartSanitize(disk, op, x.r.feature);
}

bool PasswordMatches(const FirmwareDrive& f, const BYTE* data) {
    return f.passwordSet && !f.locked && std::equal(f.password.begin(), f.password.end(), data + 2);
}

// SECURITY SET PASSWORD, ERASE PREPARE and DISABLE PASSWORD, once the drive took the request.
void Security(FirmwareDrive& f, Exchange& x) {
    if (x.r.command == 0xF1) {
        if (f.locked) {
            x.Abort();
        } else if ((x.data[0] & 1) == 0) { // the user password; a master one is only kept
            std::copy(x.data + 2, x.data + 34, f.password.begin());
            f.passwordSet = true;
        }
    } else if (x.r.command == 0xF3) {
        f.erasePrepared = true;
    } else if ((x.data[0] & 1) != 0 || !PasswordMatches(f, x.data) || f.refusesDisable) {
        x.Abort();
    } else {
        f.passwordSet = false;
    }
}

// SECURITY ERASE UNIT, once the drive took the request. The command returns when the erase
// is done: the drive works on it (works lets the machine go on meanwhile) for a second per
// poll a sanitize would answer (at least one), or until the request's time runs out (false).
bool EraseUnit(PhysicalDisk& disk, Exchange& x, bool wasPrepared, ULONG timeout,
               const std::function<void(DWORD)>& works) {
    FirmwareDrive& f = *disk.firmware;
    const bool enhanced = (x.data[0] & 0x02) != 0;
    if (!wasPrepared || (x.data[0] & 1) != 0 || !PasswordMatches(f, x.data) ||
        (enhanced && !f.enhancedErase) || f.fault == FirmwareDrive::Fault::Refused) {
        x.Abort();
        return true;
    }
    if (f.fault == FirmwareDrive::Fault::NeverFinishes) {
        works(timeout * 1000);
        return false;
    }
    works(static_cast<DWORD>(std::max(f.polls, 1)) * 1000);
    const auto op = enhanced ? FirmwareDrive::Operation::Crypto : FirmwareDrive::Operation::Block;
    if (f.fault == FirmwareDrive::Fault::Failure) {
        EraseMedia(*disk.image, op, f.erasedByte.value_or(0), true);
        x.Abort();
    } else {
        if (f.fault != FirmwareDrive::Fault::Lies)
            EraseMedia(*disk.image, op, f.erasedByte.value_or(0), false);
        f.passwordSet = f.keepsPassword;
    }
    return true;
}

// The registers the drive hands back, in the request's task files.
void HandBack(const Exchange& x, ATA_PASS_THROUGH_EX& a) {
    a.CurrentTaskFile[0] = x.error;
    a.CurrentTaskFile[1] = static_cast<UCHAR>(x.countOut);
    a.CurrentTaskFile[2] = static_cast<UCHAR>(x.lbaOut);
    a.CurrentTaskFile[3] = static_cast<UCHAR>(x.lbaOut >> 8);
    a.CurrentTaskFile[4] = static_cast<UCHAR>(x.lbaOut >> 16);
    a.CurrentTaskFile[6] = x.status;
    std::memset(a.PreviousTaskFile, 0, sizeof a.PreviousTaskFile);
    if (x.ext) {
        a.PreviousTaskFile[1] = static_cast<UCHAR>(x.countOut >> 8);
        a.PreviousTaskFile[2] = static_cast<UCHAR>(x.lbaOut >> 24);
        a.PreviousTaskFile[3] = static_cast<UCHAR>(x.lbaOut >> 32);
        a.PreviousTaskFile[4] = static_cast<UCHAR>(x.lbaOut >> 40);
    }
}

} // namespace

BOOL SimKernel32::FirmwareControl(Lock& lock, DeviceHandle& h, DWORD code, LPVOID in, DWORD inSize,
                                  LPVOID out, DWORD outSize, DWORD* size) {
    if (h.disk < 0)
        return Fail(ERROR_INVALID_FUNCTION); // volumes pass no commands to the drive
    // A namespace's commands go to its drive's controller.
    PhysicalDisk& own = machine_->disks[static_cast<std::size_t>(h.disk)];
    PhysicalDisk& disk =
        own.namespaceOf >= 0 ? machine_->disks[static_cast<std::size_t>(own.namespaceOf)] : own;
    if (!disk.firmware)
        return Fail(ERROR_INVALID_FUNCTION);
    const bool ata = disk.firmware->commandSet == FirmwareDrive::CommandSet::Ata;
    if (ata != (code == IOCTL_ATA_PASS_THROUGH))
        return Fail(ERROR_INVALID_FUNCTION); // the other command set's driver is not there
    // Both requests need a handle opened for reading and writing, as on Windows.
    if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED);
    if (in == nullptr || out == nullptr || in != out || inSize != outSize)
        return Fail(ERROR_INVALID_PARAMETER);
    auto* request = static_cast<BYTE*>(out);
    return ata ? AtaControl(lock, disk, request, inSize, size)
               : NvmeControl(lock, disk, request, inSize, size);
}

void SimKernel32::DriveWorks(Lock& lock, DWORD milliseconds) {
    lock.unlock();
    Pass(milliseconds);
    lock.lock();
}

BOOL SimKernel32::AtaControl(Lock& lock, PhysicalDisk& disk, BYTE* request, DWORD size,
                             DWORD* returned) {
    ATA_PASS_THROUGH_EX a;
    if (size < sizeof a)
        return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&a, request, sizeof a);
    if (!WellFormed(a, size))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!PassThroughMilliseconds(a.TimeOutValue))
        return Fail(ERROR_INVALID_PARAMETER); // more than the system lets a request wait
    FirmwareDrive& f = *disk.firmware;
    Exchange x(a, request + a.DataBufferOffset);
    const bool wasPrepared = f.erasePrepared;
    f.erasePrepared = false;
    // While a sanitize runs the drive answers only its status and IDENTIFY.
    const bool sanitizing = f.running != FirmwareDrive::Operation::None;

    switch (x.r.command) {
    case 0xEC: // IDENTIFY DEVICE
        if (!x.dataIn || a.DataTransferLength != 512 || x.ext)
            x.Abort();
        else
            Identify(disk, f, x.data);
        break;
    case 0xB4: // SANITIZE DEVICE
        Sanitize(disk, x, sanitizing);
        break;
    case 0xF1: // SECURITY SET PASSWORD
    case 0xF3: // SECURITY ERASE PREPARE
    case 0xF4: // SECURITY ERASE UNIT
    case 0xF6: // SECURITY DISABLE PASSWORD
        if (!f.securityErase || f.frozen || sanitizing || x.ext ||
            (x.r.command == 0xF3 ? !x.noData : !x.oneBlockOut))
            x.Abort();
        else if (x.r.command != 0xF4)
            Security(f, x);
        else if (!EraseUnit(disk, x, wasPrepared, a.TimeOutValue,
                            [&](DWORD milliseconds) { DriveWorks(lock, milliseconds); })) {
            f.received.push_back(std::move(x.got));
            return Fail(ERROR_SEM_TIMEOUT);
        }
        break;
    default:
        x.Abort();
        break;
    }
    f.received.push_back(std::move(x.got));
    HandBack(x, a);
    std::memcpy(request, &a, sizeof a);
    *returned = static_cast<DWORD>(a.DataBufferOffset + a.DataTransferLength);
    return TRUE;
}

} // namespace platform::sim
