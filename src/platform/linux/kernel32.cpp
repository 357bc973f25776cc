// kernel32 on Linux: files through POSIX descriptors, with Windows' results and error codes.
// Drive letters and raw devices come with the Linux drive map; until a letter is mapped,
// the drive calls answer as for a machine without that drive.
#include "platform/linux/kernel32.h"

#include "platform/linux/sg_io.h"
#include "platform/scsi.h"
#include "platform/storage_pass_through.h"

#include "platform/linux/console_control.h"
#include "platform/linux/errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <map>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

// Each thread's last error, as Windows keeps it, with the message text a call left beside it.
thread_local DWORD lastError = ERROR_SUCCESS;
thread_local DWORD textCode = 0;
thread_local std::string lastText;

void FailWithErrno() {
    lastError = Win32ErrorFromErrno(errno);
}

void FillTime(SYSTEMTIME* out, bool utc) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    if (utc)
        gmtime_r(&now.tv_sec, &parts);
    else
        localtime_r(&now.tv_sec, &parts);
    out->wYear = static_cast<WORD>(parts.tm_year + 1900);
    out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    out->wDay = static_cast<WORD>(parts.tm_mday);
    out->wHour = static_cast<WORD>(parts.tm_hour);
    out->wMinute = static_cast<WORD>(parts.tm_min);
    out->wSecond = static_cast<WORD>(parts.tm_sec);
    out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

// Windows matches wildcards without regard to case.
bool MatchesPattern(const std::string& pattern, const char* name) {
    return fnmatch(pattern.c_str(), name, FNM_CASEFOLD) == 0;
}

DWORD AttributesOf(const std::string& path, const std::string& name) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attributes |= FILE_ATTRIBUTE_HIDDEN; // the Unix convention for hidden files
    if (access(path.c_str(), W_OK) != 0 && errno == EROFS)
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (attributes == 0)
        attributes = S_ISREG(st.st_mode) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_NORMAL;
    return attributes;
}

// open()'s access and creation flags for CreateFileA's access and disposition; none for a
// disposition it does not know.
std::optional<int> OpenMode(DWORD access, DWORD disposition) {
    int mode = 0;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        mode = O_RDWR;
    else if (access & GENERIC_WRITE)
        mode = O_WRONLY;
    else
        mode = O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        return mode | O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return mode | O_CREAT | O_TRUNC;
    case OPEN_ALWAYS:
        return mode | O_CREAT;
    case TRUNCATE_EXISTING:
        return mode | O_TRUNC;
    case OPEN_EXISTING:
        return mode;
    default:
        return std::nullopt;
    }
}

// open()'s flags for CreateFileA's caching flags.
int CachingMode(DWORD flags) {
    int mode = 0;
    if (flags & FILE_FLAG_NO_BUFFERING)
        mode |= O_DIRECT;
    // Unbuffered writes bypass the cache already; the flush at close puts them on the medium
    // without a device cache flush after every transfer (O_DSYNC made wipes 8 times slower).
    if ((flags & FILE_FLAG_WRITE_THROUGH) && !(flags & FILE_FLAG_NO_BUFFERING))
        mode |= O_DSYNC;
    return mode;
}

} // namespace

struct LinuxKernel32::Find {
    DIR* dir = nullptr;
    std::string folder;
    std::string pattern;
};

LinuxKernel32::LinuxKernel32(std::shared_ptr<DriveMap> drives)
    : drives_(drives ? std::move(drives) : std::make_shared<DriveMap>()) {}

LinuxKernel32::~LinuxKernel32() {
    for (auto& [handle, file] : files_) {
        if (file->lockFd >= 0)
            close(file->lockFd);
        if (file->fd > 2) { // the standard streams belong to the process
            if (file->written)
                fdatasync(file->fd);
            close(file->fd);
        }
    }
    for (auto& [handle, find] : finds_)
        closedir(find->dir);
}

HANDLE LinuxKernel32::NewHandle() {
    return reinterpret_cast<HANDLE>(nextHandle_++ * 4);
}

DWORD LinuxKernel32::GetLastError() {
    return lastError;
}
void LinuxKernel32::SetLastError(DWORD code) {
    lastError = code;
}
std::string LinuxKernel32::SysErrorMessage(DWORD code) {
    if (!lastText.empty() && code == textCode && lastError == code)
        return lastText;
    return Win32ErrorText(code);
}

void LinuxKernel32::SetLastErrorText(DWORD code, std::string text) {
    lastError = code;
    textCode = code;
    lastText = std::move(text);
}

BOOL LinuxKernel32::GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    // Linux gets the NT family's classes: raw devices, locks by exclusive open.
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

BOOL LinuxKernel32::SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    const DWORD error = ChangeConsoleControl(routine, add != FALSE);
    if (error != ERROR_SUCCESS) {
        lastError = error;
        return FALSE;
    }
    return TRUE;
}

std::optional<std::string> LinuxKernel32::GetEnvironmentVariableA(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::string LinuxKernel32::GetModuleFileNameA() {
    char path[PATH_MAX + 1] = {};
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0)
        return {};
    return std::string(path, static_cast<std::size_t>(length));
}

void LinuxKernel32::GetLocalTime(SYSTEMTIME* time) {
    FillTime(time, false);
}
void LinuxKernel32::GetSystemTime(SYSTEMTIME* time) {
    FillTime(time, true);
}

BOOL LinuxKernel32::QueryPerformanceCounter(LARGE_INTEGER* count) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    return TRUE;
}

DWORD LinuxKernel32::GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

void LinuxKernel32::Sleep(DWORD milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

HANDLE LinuxKernel32::CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/,
                                  LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition,
                                  DWORD flags, HANDLE /*templateFile*/) {
    if (name == nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    const std::optional<int> opening = OpenMode(access, disposition);
    if (!opening) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    int mode = *opening;
    File file;
    std::string path = name;
    if (path.rfind("\\\\.\\", 0) == 0) {
        // A device by its Windows name: only ever an existing one, opened as it is.
        if (!ResolveDeviceName(path, file)) {
            lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        if (disposition != OPEN_EXISTING) {
            lastError = ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        if (access & GENERIC_WRITE) {
            if (auto why = WhyNotWritable(file.node)) {
                SetLastErrorText(ERROR_ACCESS_DENIED, file.node + ": " + *why);
                return INVALID_HANDLE_VALUE;
            }
        }
        path = file.node;
        // A floppy drive opens without a medium; the geometry query then tells it is empty.
        // So does an optical drive without a disc, for its SCSI commands to tell so.
        if (file.drive &&
            (file.drive->kind == DriveKind::Floppy || file.drive->kind == DriveKind::Optical))
            mode |= O_NONBLOCK;
    }
    mode |= CachingMode(flags);
    // A whole disk is written only while the kernel gives it to this program alone: never
    // while a partition on it is mounted or held, lettered or not.
    const bool wholeForWriting = file.physical && file.device != 0 && (access & GENERIC_WRITE);
    int fd =
        wholeForWriting ? ClaimWholeDisk(file, mode) : open(path.c_str(), mode | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EINVAL && (mode & O_DIRECT) && file.device == 0)
        fd = open(path.c_str(), (mode & ~O_DIRECT) | O_CLOEXEC, 0644); // a file system without it
    if (fd < 0 && wholeForWriting && errno == EBUSY) {
        SetLastErrorText(ERROR_BUSY, WhyDiskBusy(file.node, file.device)
                                         .value_or(file.node + " is in use by another program"));
        return INVALID_HANDLE_VALUE;
    }
    if (fd < 0) {
        FailWithErrno();
        return INVALID_HANDLE_VALUE;
    }
    file.fd = fd;
    if (flags & FILE_FLAG_OVERLAPPED)
        file.async = std::make_unique<AsyncIo>(fd);
    auto opened = std::make_shared<File>(std::move(file));
    HANDLE handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        handle = NewHandle();
        files_[handle] = std::move(opened);
    }
    lastError = ERROR_SUCCESS;
    return handle;
}

std::shared_ptr<LinuxKernel32::File> LinuxKernel32::FileOf(HANDLE handle) const {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    auto found = files_.find(handle);
    return found == files_.end() ? nullptr : found->second;
}

int LinuxKernel32::Descriptor(HANDLE handle) const {
    auto file = FileOf(handle);
    return file ? file->fd : -1;
}

BOOL LinuxKernel32::ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                             LPOVERLAPPED overlapped) {
    if (read != nullptr)
        *read = 0;
    auto found = FileOf(file);
    int fd = found ? found->fd : -1;
    if (fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (found->async)
        return StartOverlapped(*found, overlapped, buffer, toRead, read, false);
    DWORD done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < toRead) {
        ssize_t n = ::read(fd, bytes + done, toRead - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            FailWithErrno();
            if (read != nullptr)
                *read = done;
            return FALSE;
        }
        if (n == 0)
            break; // end of file: a short read, as on Windows
        done += static_cast<DWORD>(n);
    }
    if (read != nullptr)
        *read = done;
    return TRUE;
}

BOOL LinuxKernel32::WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    if (written != nullptr)
        *written = 0;
    auto found = FileOf(file);
    if (!found || found->fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (found->async)
        return StartOverlapped(*found, overlapped, const_cast<void*>(buffer), toWrite, written,
                               true);
    File& entry = *found; // looked up once, not at every piece written
    const int fd = entry.fd;
    DWORD done = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (done < toWrite) {
        ssize_t n = ::write(fd, bytes + done, toWrite - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            FailWithErrno();
            if (written != nullptr)
                *written = done;
            return FALSE;
        }
        done += static_cast<DWORD>(n);
        entry.written = true;
    }
    if (written != nullptr)
        *written = done;
    return TRUE;
}

DWORD LinuxKernel32::SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh,
                                    DWORD method) {
    int fd = Descriptor(file);
    if (fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t offset =
        distanceHigh != nullptr
            ? static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                  static_cast<DWORD>(distanceLow))
            : static_cast<std::int64_t>(distanceLow);
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t at = lseek(fd, static_cast<off_t>(offset), whence);
    if (at < 0) {
        FailWithErrno();
        return INVALID_SET_FILE_POINTER;
    }
    lastError = ERROR_SUCCESS; // a low part of 0xFFFFFFFF is told apart by the error code
    auto position = static_cast<std::uint64_t>(at);
    if (distanceHigh != nullptr)
        *distanceHigh = static_cast<LONG>(position >> 32);
    return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

BOOL LinuxKernel32::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                    DWORD outSize, LPDWORD returned, LPOVERLAPPED /*overlapped*/) {
    if (returned != nullptr)
        *returned = 0;
    auto file = FileOf(device);
    if (!file) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (code == IOCTL_SCSI_PASS_THROUGH || code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
        DWORD count = 0;
        lastError = PassThrough(file->fd, code, in, inSize, out, outSize, &count);
        if (returned != nullptr)
            *returned = count;
        return lastError == ERROR_SUCCESS ? TRUE : FALSE;
    }
    if (code == IOCTL_STORAGE_QUERY_PROPERTY)
        return StorageQuery(*file, in, inSize, out, outSize, returned);
    if (code == IOCTL_ATA_PASS_THROUGH || code == IOCTL_STORAGE_PROTOCOL_COMMAND)
        return DriveCommand(*file, code, in, inSize, out, outSize, returned);
    return DriveControl(*file, code, out, outSize, returned);
}

HANDLE LinuxKernel32::CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                                   LPCSTR) {
    return events_.Create(manualReset != FALSE, initialState != FALSE);
}

BOOL LinuxKernel32::SetEvent(HANDLE event) {
    if (events_.Set(event))
        return TRUE;
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
}

BOOL LinuxKernel32::ResetEvent(HANDLE event) {
    if (events_.Reset(event))
        return TRUE;
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
}

DWORD LinuxKernel32::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    const DWORD result = events_.Wait(object);
    if (result == WAIT_FAILED)
        lastError = ERROR_INVALID_HANDLE;
    else if (result == WAIT_TIMEOUT && milliseconds != INFINITE)
        Sleep(milliseconds); // nothing else in this process can set it meanwhile
    return result;
}

BOOL LinuxKernel32::StartOverlapped(File& file, LPOVERLAPPED overlapped, void* buffer, DWORD size,
                                    LPDWORD done, bool write) {
    // A handle opened for overlapped transfers has no file position to use instead.
    if (overlapped == nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (overlapped->hEvent != nullptr)
        ResetEvent(overlapped->hEvent);
    if (write)
        file.written = true;
    if (const DWORD refused = file.async->Start(overlapped, buffer, size, write)) {
        lastError = refused;
        return FALSE;
    }
    if (!file.async->UsesRing()) {
        // Ended already: told as Windows tells a transfer that did not need to wait.
        DWORD moved = 0;
        const DWORD error = file.async->Result(overlapped, true, &moved);
        if (overlapped->hEvent != nullptr)
            SetEvent(overlapped->hEvent);
        if (done != nullptr)
            *done = moved;
        lastError = error;
        return error == ERROR_SUCCESS ? TRUE : FALSE;
    }
    lastError = ERROR_IO_PENDING;
    return FALSE;
}

BOOL LinuxKernel32::GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                        BOOL wait) {
    auto found = FileOf(file);
    if (!found || !found->async || overlapped == nullptr) {
        lastError = found ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
        return FALSE;
    }
    DWORD moved = 0;
    const DWORD error = found->async->Result(overlapped, wait != FALSE, &moved);
    if (transferred != nullptr)
        *transferred = moved;
    if (error != ERROR_IO_INCOMPLETE && overlapped->hEvent != nullptr)
        SetEvent(overlapped->hEvent);
    lastError = error;
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL LinuxKernel32::CancelIo(HANDLE file) {
    auto found = FileOf(file);
    if (!found) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (found->async)
        found->async->Cancel();
    lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL LinuxKernel32::CloseHandle(HANDLE handle) {
    if (events_.Close(handle))
        return TRUE;
    std::shared_ptr<File> closed;
    {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        auto found = files_.find(handle);
        if (found != files_.end()) {
            closed = std::move(found->second);
            files_.erase(found);
        }
    }
    if (closed) {
        File& file = *closed;
        if (file.async)
            file.async->Cancel(); // nothing may still move into or out of a caller's buffer
        // A wipe reported as done must be on the medium, written through the cache or not.
        int flushError = 0;
        if (file.written && file.fd > 2 && fdatasync(file.fd) != 0 && errno != EINVAL &&
            errno != EROFS)
            flushError = errno;
        if (file.lockFd >= 0)
            close(file.lockFd);
        int result = file.fd > 2 ? close(file.fd) : 0;
        if (flushError != 0 || result != 0) {
            if (flushError != 0)
                errno = flushError;
            FailWithErrno();
            return FALSE;
        }
        return TRUE;
    }
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
}

HANDLE LinuxKernel32::GetStdHandle(DWORD which) {
    const int fd = which == STD_INPUT_HANDLE    ? 0
                   : which == STD_OUTPUT_HANDLE ? 1
                   : which == STD_ERROR_HANDLE  ? 2
                                                : -1;
    if (fd < 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> lock(handlesMutex_);
    if (std_[fd] == nullptr || files_.count(std_[fd]) == 0) {
        std_[fd] = NewHandle();
        files_[std_[fd]] = std::make_shared<File>();
        files_[std_[fd]]->fd = fd;
    }
    return std_[fd];
}

bool LinuxKernel32::NextMatch(Find& find, WIN32_FIND_DATAA* data) {
    while (dirent* entry = readdir(find.dir)) {
        if (!MatchesPattern(find.pattern, entry->d_name))
            continue;
        std::string full = find.folder + "/" + entry->d_name;
        std::memset(data, 0, sizeof(*data));
        data->dwFileAttributes = AttributesOf(full, entry->d_name);
        if (data->dwFileAttributes == INVALID_FILE_ATTRIBUTES)
            continue;
        struct stat st {};
        if (stat(full.c_str(), &st) == 0) {
            auto size = static_cast<std::uint64_t>(st.st_size);
            data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
            data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
        }
        std::strncpy(data->cFileName, entry->d_name, MAX_PATH - 1);
        return true;
    }
    return false;
}

HANDLE LinuxKernel32::FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    std::string text = pattern == nullptr ? "" : pattern;
    auto cut = text.find_last_of("/\\");
    auto find = std::make_shared<Find>();
    std::string folder = cut == std::string::npos ? std::string(1, '.') : text.substr(0, cut);
    if (folder.empty())
        folder.push_back('/');
    find->folder = std::move(folder);
    find->pattern = cut == std::string::npos ? text : text.substr(cut + 1);
    find->dir = opendir(find->folder.c_str());
    if (find->dir == nullptr) {
        lastError = errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    if (!NextMatch(*find, data)) {
        closedir(find->dir);
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        handle = NewHandle();
        finds_[handle] = std::move(find);
    }
    lastError = ERROR_SUCCESS;
    return handle;
}

BOOL LinuxKernel32::FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) {
    std::shared_ptr<Find> find;
    {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        auto found = finds_.find(handle);
        if (found != finds_.end())
            find = found->second;
    }
    if (!find) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (!NextMatch(*find, data)) {
        lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    return TRUE;
}

BOOL LinuxKernel32::FindClose(HANDLE handle) {
    std::shared_ptr<Find> find;
    {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        auto found = finds_.find(handle);
        if (found != finds_.end()) {
            find = std::move(found->second);
            finds_.erase(found);
        }
    }
    if (!find) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    closedir(find->dir);
    return TRUE;
}

DWORD LinuxKernel32::GetFileAttributesA(LPCSTR name) {
    std::string path = name == nullptr ? "" : name;
    auto cut = path.find_last_of('/');
    DWORD attributes = AttributesOf(path, cut == std::string::npos ? path : path.substr(cut + 1));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        FailWithErrno();
    return attributes;
}

// flock: held by the open file description, so two handles exclude each other even within
// one process, as on Windows; a range is not kept (the whole file is the lock).
BOOL LinuxKernel32::LockFileEx(HANDLE handle, DWORD flags, DWORD /*reserved*/, DWORD /*bytesLow*/,
                               DWORD /*bytesHigh*/, LPOVERLAPPED /*overlapped*/) {
    auto file = FileOf(handle);
    if (!file || file->fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const int operation = ((flags & LOCKFILE_EXCLUSIVE_LOCK) != 0 ? LOCK_EX : LOCK_SH) |
                          ((flags & LOCKFILE_FAIL_IMMEDIATELY) != 0 ? LOCK_NB : 0);
    int result = 0;
    while ((result = flock(file->fd, operation)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        if (errno == EWOULDBLOCK)
            lastError = ERROR_LOCK_VIOLATION;
        else
            FailWithErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL LinuxKernel32::UnlockFileEx(HANDLE handle, DWORD /*reserved*/, DWORD /*bytesLow*/,
                                 DWORD /*bytesHigh*/, LPOVERLAPPED /*overlapped*/) {
    auto file = FileOf(handle);
    if (!file || file->fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (flock(file->fd, LOCK_UN) != 0) {
        FailWithErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL LinuxKernel32::FlushFileBuffers(HANDLE handle) {
    auto file = FileOf(handle);
    if (!file || file->fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (fsync(file->fd) != 0 && errno != EINVAL && errno != EROFS) {
        FailWithErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL LinuxKernel32::MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (from == nullptr || to == nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // rename() replaces the target in one step; without the replace flag the target must not
    // exist, as on Windows: the kernel checks that in the same step where the file system can,
    // so a file made meanwhile by someone else is never replaced.
    bool moved = false;
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
            moved = true;
        } else if (errno != EINVAL && errno != ENOSYS) {
            if (errno == EEXIST)
                lastError = ERROR_ALREADY_EXISTS;
            else
                FailWithErrno();
            return FALSE;
        } else if (struct stat existing{}; ::stat(to, &existing) == 0) {
            lastError = ERROR_ALREADY_EXISTS;
            return FALSE;
        }
    }
    if (!moved && ::rename(from, to) != 0) {
        FailWithErrno();
        return FALSE;
    }
    if ((flags & MOVEFILE_WRITE_THROUGH) != 0) {
        // The rename itself reaches the medium with its folder.
        std::string folder = to;
        auto cut = folder.find_last_of('/');
        folder = cut == std::string::npos ? "." : cut == 0 ? "/" : folder.substr(0, cut);
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    return TRUE;
}

BOOL LinuxKernel32::DeleteFileA(LPCSTR name) {
    if (name == nullptr || ::unlink(name) != 0) {
        if (name == nullptr)
            lastError = ERROR_INVALID_PARAMETER;
        else
            FailWithErrno();
        return FALSE;
    }
    return TRUE;
}

} // namespace platform::linux_backend
