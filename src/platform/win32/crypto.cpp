// SHA-256 and AES from Windows' CNG (bcrypt.dll), present from Vista on. Where it is missing the
// digest cannot be made and the caller says so: a record is never sealed by our own code; and
// random passes cannot be drawn from AES, so the run says so and draws from ISAAC.
#include "platform/identity.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace platform {

namespace {

// bcrypt.dll is loaded when first needed, not linked: the program must still start on the
// systems that lack it (9x, 2000, XP), where a record is written unsealed and says why.
class Win32Crypto : public Crypto {
public:
    Sha256Digest Sha256(std::string_view bytes) override {
        using OpenFn = LONG(WINAPI*)(void**, LPCWSTR, LPCWSTR, ULONG);
        using CloseFn = LONG(WINAPI*)(void*, ULONG);
        using CreateFn = LONG(WINAPI*)(void*, void**, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
        using DataFn = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
        using FinishFn = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
        using DestroyFn = LONG(WINAPI*)(void*);
        HMODULE library = LoadLibraryA("bcrypt.dll");
        if (library == nullptr)
            throw std::runtime_error("this Windows has no CNG (bcrypt.dll) for SHA-256");
        struct Release {
            HMODULE library;
            ~Release() { FreeLibrary(library); }
        } release{library};
        auto open = reinterpret_cast<OpenFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "BCryptOpenAlgorithmProvider")));
        auto close = reinterpret_cast<CloseFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "BCryptCloseAlgorithmProvider")));
        auto create = reinterpret_cast<CreateFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "BCryptCreateHash")));
        auto data = reinterpret_cast<DataFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "BCryptHashData")));
        auto finish = reinterpret_cast<FinishFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "BCryptFinishHash")));
        auto destroy = reinterpret_cast<DestroyFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "BCryptDestroyHash")));
        if (!open || !close || !create || !data || !finish || !destroy)
            throw std::runtime_error("this Windows' CNG lacks the hash functions");
        void* algorithm = nullptr;
        if (open(&algorithm, L"SHA256", nullptr, 0) < 0)
            throw std::runtime_error("CNG has no SHA-256 provider");
        Sha256Digest digest{};
        void* hash = nullptr;
        bool done = create(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
        // One call hashes at most 4 GiB.
        std::size_t offset = 0;
        while (done && offset < bytes.size()) {
            const ULONG chunk =
                static_cast<ULONG>(std::min<std::size_t>(bytes.size() - offset, 0x40000000u));
            done = data(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + offset)),
                        chunk, 0) >= 0;
            offset += chunk;
        }
        done = done && finish(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
        if (hash != nullptr)
            destroy(hash);
        close(algorithm, 0);
        if (!done)
            throw std::runtime_error("CNG could not compute a SHA-256 digest");
        return digest;
    }

    bool HasAes() override { return Aes().algorithm != nullptr; }

    // CNG has no counter mode: the counter blocks are written where the stream goes and
    // enciphered there in bulk, in ECB mode.
    void AesCtrStream(const AesKey& key, std::uint64_t block, std::uint8_t* out,
                      std::size_t bytes) override {
        const TAes& aes = Aes();
        if (aes.algorithm == nullptr)
            throw std::runtime_error("this Windows has no AES in CNG (bcrypt.dll)");
        void* handle = nullptr;
        if (aes.generateKey(aes.algorithm, &handle, nullptr, 0, const_cast<PUCHAR>(key.data()),
                            static_cast<ULONG>(key.size()), 0) < 0)
            throw std::runtime_error("CNG could not make an AES-256 key");
        struct DestroyKey {
            const TAes& aes;
            void* handle;
            ~DestroyKey() { aes.destroyKey(handle); }
        } destroy{aes, handle};
        auto counterBlock = [](std::uint64_t value, std::uint8_t* to) {
            std::memset(to, 0, 8);
            for (int i = 0; i < 8; ++i)
                to[15 - i] = static_cast<std::uint8_t>(value >> (8 * i));
        };
        auto encipher = [&](std::uint8_t* data, std::size_t count) {
            ULONG result = 0;
            if (aes.encrypt(handle, data, static_cast<ULONG>(count), nullptr, nullptr, 0, data,
                            static_cast<ULONG>(count), &result, 0) < 0 ||
                result != count)
                throw std::runtime_error("CNG could not encipher with AES-256");
        };
        constexpr std::size_t kChunk = 1 << 20; // 16-byte blocks, enciphered in one call
        const std::size_t whole = bytes / 16 * 16;
        for (std::size_t done = 0; done < whole;) {
            const std::size_t count = std::min(whole - done, kChunk);
            for (std::size_t at = 0; at < count; at += 16)
                counterBlock(block++, out + done + at);
            encipher(out + done, count);
            done += count;
        }
        if (whole < bytes) {
            std::uint8_t last[16];
            counterBlock(block, last);
            encipher(last, sizeof last);
            std::memcpy(out + whole, last, bytes - whole);
        }
    }

private:
    using OpenFn = LONG(WINAPI*)(void**, LPCWSTR, LPCWSTR, ULONG);
    using SetPropertyFn = LONG(WINAPI*)(void*, LPCWSTR, PUCHAR, ULONG, ULONG);
    using GenerateKeyFn = LONG(WINAPI*)(void*, void**, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
    using EncryptFn = LONG(WINAPI*)(void*, PUCHAR, ULONG, void*, PUCHAR, ULONG, PUCHAR, ULONG,
                                    ULONG*, ULONG);
    using DestroyKeyFn = LONG(WINAPI*)(void*);
    // The AES provider in ECB mode, opened once for the process (several drives draw at once)
    // and kept: its library stays loaded while it is. No algorithm: the system has none.
    struct TAes {
        HMODULE library = nullptr;
        void* algorithm = nullptr;
        GenerateKeyFn generateKey = nullptr;
        EncryptFn encrypt = nullptr;
        DestroyKeyFn destroyKey = nullptr;
    };
    const TAes& Aes() {
        std::call_once(aesOpened_, [this] {
            HMODULE library = LoadLibraryA("bcrypt.dll");
            if (library == nullptr)
                return;
            auto entry = [library](const char* name) {
                return reinterpret_cast<void*>(GetProcAddress(library, name));
            };
            auto open = reinterpret_cast<OpenFn>(entry("BCryptOpenAlgorithmProvider"));
            auto setProperty = reinterpret_cast<SetPropertyFn>(entry("BCryptSetProperty"));
            TAes aes;
            aes.library = library;
            aes.generateKey = reinterpret_cast<GenerateKeyFn>(entry("BCryptGenerateSymmetricKey"));
            aes.encrypt = reinterpret_cast<EncryptFn>(entry("BCryptEncrypt"));
            aes.destroyKey = reinterpret_cast<DestroyKeyFn>(entry("BCryptDestroyKey"));
            static const wchar_t kEcb[] = L"ChainingModeECB";
            void* algorithm = nullptr;
            if (!open || !setProperty || !aes.generateKey || !aes.encrypt || !aes.destroyKey ||
                open(&algorithm, L"AES", nullptr, 0) < 0 ||
                setProperty(algorithm, L"ChainingMode",
                            reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kEcb)), sizeof kEcb,
                            0) < 0) {
                FreeLibrary(library);
                return;
            }
            aes.algorithm = algorithm;
            aes_ = aes;
        });
        return aes_;
    }

    std::once_flag aesOpened_;
    TAes aes_;
};

} // namespace

std::unique_ptr<Crypto> CreateNativeCrypto() {
    return std::make_unique<Win32Crypto>();
}

} // namespace platform
