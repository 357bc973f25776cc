// SHA-256 from Windows' CNG (bcrypt.dll), present from Vista on. Where it is missing the
// digest cannot be made and the caller says so: a record is never sealed by our own code.
#include "platform/identity.h"

#include <windows.h>

#include <algorithm>
#include <memory>
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
};

} // namespace

std::unique_ptr<Crypto> CreateNativeCrypto() {
    return std::make_unique<Win32Crypto>();
}

} // namespace platform
