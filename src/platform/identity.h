// Who a storage device and the computer are, as the system knows them, and the SHA-256 the
// proof of a wipe is sealed with. Each back-end answers from its own source: sysfs and libudev
// on Linux, the storage property query and SMBIOS on Windows, the machine file on the
// simulated PC; the digest comes from the system's cryptography library, never from our code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A storage device as its firmware and bus name it. Empty texts are unknown.
struct DeviceIdentity {
    std::string Model;
    std::string Serial;
    std::string Firmware;
    std::string Bus; // "SATA", "NVMe", "USB", "SCSI", "ATA", "virtual", "loop", "MMC", ...
    std::optional<bool> Rotational;
};

// The computer the wipe ran on.
struct ComputerIdentity {
    std::string Vendor;
    std::string Product;
    std::string Serial;
    std::string HostName;
    std::string OperatingSystem;
};

using Sha256Digest = std::array<std::uint8_t, 32>;

using AesKey = std::array<std::uint8_t, 32>;

class Crypto {
public:
    virtual ~Crypto() = default;
    // The SHA-256 of the bytes; throws std::runtime_error when the system library fails.
    virtual Sha256Digest Sha256(std::string_view bytes) = 0;
    // Whether the system enciphers with AES (a Windows without CNG does not).
    virtual bool HasAes() = 0;
    // bytes of AES-256's key stream in counter mode under key, from counter block `block` on:
    // block i enciphers 8 zero bytes followed by i as 64-bit big-endian. A last partial block
    // is cut short. Thread-safe; throws std::runtime_error when the system library fails.
    virtual void AesCtrStream(const AesKey& key, std::uint64_t block, std::uint8_t* out,
                              std::size_t bytes) = 0;
};

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // What is known of this computer; unknown parts are empty.
    virtual ComputerIdentity Computer() = 0;
    // Whether the user's paper is US Letter (the locale's paper size), else A4.
    virtual bool LetterPaper() = 0;
};

// Bytes as lower-case hexadecimal digits, two a byte.
std::string HexText(const std::uint8_t* bytes, std::size_t count);
inline std::string HexText(const Sha256Digest& digest) {
    return HexText(digest.data(), digest.size());
}

// The system's cryptography of this build (defined by the linux or win32 back-end); the
// simulated PC uses it too.
std::unique_ptr<Crypto> CreateNativeCrypto();

} // namespace platform
