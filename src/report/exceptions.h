// The program's one exception tree. The class alone says what kind of failure it was (the
// wipe run picks the user's message by class); the message says where it happened and goes
// only to the error log. Every construction records the system's last error of the moment
// and logs the message when the error log is on.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace purgelet {

class XException : public std::runtime_error {
public:
    explicit XException(const std::string& message);

    std::uint32_t ErrorCode;
    std::string ErrorText;
    int HelpContext = 0;

private:
    XException(std::uint32_t code, const std::string& message);
};

#define PURGELET_EXCEPTION(name, base)                                                             \
    class name : public base {                                                                     \
    public:                                                                                        \
        using base::base;                                                                          \
    }

PURGELET_EXCEPTION(XUserIntervention, XException);
PURGELET_EXCEPTION(XAbort, XUserIntervention);
PURGELET_EXCEPTION(XGenericError, XException);
PURGELET_EXCEPTION(XDiskIO, XGenericError);
PURGELET_EXCEPTION(XPrepareToRetry, XDiskIO);
PURGELET_EXCEPTION(XReadFile, XDiskIO);
PURGELET_EXCEPTION(XWriteFile, XDiskIO);
PURGELET_EXCEPTION(XVerify, XDiskIO);
PURGELET_EXCEPTION(XCdDvdIOError, XDiskIO);
PURGELET_EXCEPTION(XPrepareToWriteFailed, XCdDvdIOError);
PURGELET_EXCEPTION(XBlankFailed, XCdDvdIOError);
PURGELET_EXCEPTION(XNotErasable, XCdDvdIOError);
PURGELET_EXCEPTION(XGeometryError, XDiskIO);
PURGELET_EXCEPTION(XFormatError, XDiskIO);
PURGELET_EXCEPTION(XNoDisk, XDiskIO);
PURGELET_EXCEPTION(XMDIOCError, XDiskIO);
PURGELET_EXCEPTION(XVWin32NotFound, XGenericError);
PURGELET_EXCEPTION(XNotOpened, XGenericError);
PURGELET_EXCEPTION(XSystemCall, XGenericError);
PURGELET_EXCEPTION(XDeviceIOControl, XSystemCall);
PURGELET_EXCEPTION(XUnLock, XSystemCall);
PURGELET_EXCEPTION(XDisMount, XSystemCall);
PURGELET_EXCEPTION(Xlock, XSystemCall);
PURGELET_EXCEPTION(XCompatibility, XGenericError);
PURGELET_EXCEPTION(XNoRootDir, XCompatibility);
PURGELET_EXCEPTION(XRemote, XCompatibility);
PURGELET_EXCEPTION(XDetecting, XGenericError);
PURGELET_EXCEPTION(XSetupdi, XDetecting);
PURGELET_EXCEPTION(XSecurityError, XException);
PURGELET_EXCEPTION(XReadOnly, XSecurityError);
PURGELET_EXCEPTION(XRegistryException, XException);

// XNTCreateFile is declared with the NT disk classes (disk/nt), deriving from XSystemCall.

#undef PURGELET_EXCEPTION

// The class name of an exception as the log shows it ("XAbort", "std::bad_alloc").
std::string ClassNameOf(const std::exception& error);

// Records a failure without interrupting the caller: the exception is built (which logs it)
// and dropped at once.
template <class X> void LogSilently(const std::string& message) {
    X record(message);
    (void)record;
}

} // namespace purgelet
