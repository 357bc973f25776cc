#include "platform/linux/errors.h"

#include <cerrno>

namespace platform::linux_backend {

DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOMEDIUM:
        return ERROR_NOT_READY;
    case ENXIO:
    case ENODEV:
        return ERROR_DEVICE_NOT_CONNECTED;
    case EIO:
        return ERROR_CRC;
    case ESPIPE:
        return ERROR_SEEK;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EAGAIN:
        return ERROR_LOCK_VIOLATION;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENOSYS:
        return ERROR_CALL_NOT_IMPLEMENTED;
    case ENOTTY:
        return ERROR_INVALID_FUNCTION;
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ENAMETOOLONG:
        return ERROR_INVALID_NAME;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ERANGE:
        return ERROR_INSUFFICIENT_BUFFER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

std::string Win32ErrorText(DWORD code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_INVALID_FUNCTION:
        return "Incorrect function.";
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Not enough storage is available to process this command.";
    case ERROR_INVALID_DATA:
        return "The data is invalid.";
    case ERROR_OUTOFMEMORY:
        return "Not enough storage is available to complete this operation.";
    case ERROR_INVALID_DRIVE:
        return "The system cannot find the drive specified.";
    case ERROR_NO_MORE_FILES:
        return "There are no more files.";
    case ERROR_WRITE_PROTECT:
        return "The media is write protected.";
    case ERROR_NOT_READY:
        return "The device is not ready.";
    case ERROR_CRC:
        return "Data error (cyclic redundancy check).";
    case ERROR_SEEK:
        return "The drive cannot locate a specific area or track on the disk.";
    case ERROR_SECTOR_NOT_FOUND:
        return "The drive cannot find the sector requested.";
    case ERROR_WRITE_FAULT:
        return "The system cannot write to the specified device.";
    case ERROR_READ_FAULT:
        return "The system cannot read from the specified device.";
    case ERROR_GEN_FAILURE:
        return "A device attached to the system is not functioning.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_LOCK_VIOLATION:
        return "The process cannot access the file because another process has locked a "
               "portion of the file.";
    case ERROR_HANDLE_EOF:
        return "Reached the end of the file.";
    case ERROR_NOT_SUPPORTED:
        return "The request is not supported.";
    case ERROR_FILE_EXISTS:
        return "The file exists.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_DISK_FULL:
        return "There is not enough space on the disk.";
    case ERROR_CALL_NOT_IMPLEMENTED:
        return "This function is not supported on this system.";
    case ERROR_INSUFFICIENT_BUFFER:
        return "The data area passed to a system call is too small.";
    case ERROR_INVALID_NAME:
        return "The filename, directory name, or volume label syntax is "
               "incorrect.";
    case ERROR_DIR_NOT_EMPTY:
        return "The directory is not empty.";
    case ERROR_BUSY:
        return "The requested resource is in use.";
    case ERROR_ALREADY_EXISTS:
        return "Cannot create a file when that file already exists.";
    case ERROR_MORE_DATA:
        return "More data is available.";
    case ERROR_NO_MORE_ITEMS:
        return "No more data is available.";
    case ERROR_IO_DEVICE:
        return "The request could not be performed because of an I/O device error.";
    case ERROR_NO_MEDIA_IN_DRIVE:
        return "No media in drive.";
    case ERROR_DEVICE_NOT_CONNECTED:
        return "The device is not connected.";
    case ERROR_NOT_FOUND:
        return "Element not found.";
    default:
        return "";
    }
}

} // namespace platform::linux_backend
