// The file-system utility library on Windows: fmifs.dll, loaded when the system is created
// and kept loaded for the process's life. Its entries are looked up by name.
#include "platform/win32/backend.h"

namespace platform {

namespace {

using FormatExEntry = VOID(__stdcall*)(PWCHAR driveRoot, DWORD mediaFlag, PWCHAR fileSystem,
                                       PWCHAR label, BOOL quick, DWORD clusterSize,
                                       FmifsCallback callback);

class Win32Fmifs : public Fmifs {
public:
    explicit Win32Fmifs(HMODULE library) : library_(library) {
        formatEx_ = reinterpret_cast<FormatExEntry>(
            reinterpret_cast<void*>(::GetProcAddress(library_, "FormatEx")));
    }

    bool HasEntry(const std::string& name) override {
        return ::GetProcAddress(library_, name.c_str()) != nullptr;
    }

    void FormatEx(const WCHAR* driveRoot, DWORD mediaFlag, const WCHAR* fileSystem,
                  const WCHAR* label, BOOL quick, DWORD clusterSize,
                  FmifsCallback callback) override {
        if (formatEx_ == nullptr) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return; // callers check HasEntry first; nothing is reported done
        }
        formatEx_(const_cast<PWCHAR>(driveRoot), mediaFlag, const_cast<PWCHAR>(fileSystem),
                  const_cast<PWCHAR>(label), quick, clusterSize, callback);
    }

private:
    HMODULE library_;
    FormatExEntry formatEx_ = nullptr;
};

} // namespace

std::unique_ptr<Fmifs> CreateWin32Fmifs() {
    HMODULE library = ::LoadLibraryA("fmifs.dll");
    if (library == nullptr)
        return nullptr; // Windows 9x, or a system without the library
    return std::make_unique<Win32Fmifs>(library);
}

} // namespace platform
