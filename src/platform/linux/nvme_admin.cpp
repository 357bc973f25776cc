#include "platform/linux/nvme_admin.h"

#include "platform/linux/errors.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <system_error>
#include <vector>

namespace platform::linux_backend {

namespace {

std::uint32_t Dword(const BYTE* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Whether [offset, offset + length) lies inside a buffer of size bytes, past the request.
bool Fits(DWORD offset, DWORD length, DWORD size) {
    return length == 0 || (offset >= sizeof(STORAGE_PROTOCOL_COMMAND) && offset <= size &&
                           length <= size - offset);
}

} // namespace

int SystemNvmeAdmin(int fd, void* command) {
    return ioctl(fd, NVME_IOCTL_ADMIN_CMD, command);
}

std::string NvmeControllerNode(const std::string& dir) {
    if (dir.empty())
        return {};
    std::error_code error;
    // A namespace's "device" is its controller (nvme0); under native multipath it is the
    // subsystem, whose first controller serves as well.
    const std::filesystem::path device =
        std::filesystem::canonical(std::filesystem::path(dir) / "device", error);
    if (error)
        return {};
    const std::string name = device.filename().string();
    if (name.rfind("nvme", 0) != 0)
        return {};
    if (name.rfind("nvme-subsys", 0) == 0) {
        for (const auto& entry : std::filesystem::directory_iterator(device, error)) {
            const std::string controller = entry.path().filename().string();
            if (controller.rfind("nvme", 0) == 0 && controller.rfind("nvme-", 0) != 0 &&
                controller.find('n', 4) == std::string::npos)
                return "/dev/" + controller;
        }
        return {};
    }
    return "/dev/" + name;
}

DWORD NvmeAdmin(int fd, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                const NvmeAdminCall& call) {
    if (returned != nullptr)
        *returned = 0;
    if (in == nullptr || out == nullptr ||
        inSize < sizeof(STORAGE_PROTOCOL_COMMAND) - 1 + STORAGE_PROTOCOL_COMMAND_LENGTH_NVME ||
        outSize < inSize)
        return ERROR_INVALID_PARAMETER;
    auto* base = static_cast<std::uint8_t*>(out);
    if (in != out)
        std::memmove(base, in, inSize);
    STORAGE_PROTOCOL_COMMAND request;
    std::memcpy(&request, base, sizeof request);
    if (request.Version != STORAGE_PROTOCOL_STRUCTURE_VERSION ||
        request.Length != sizeof(STORAGE_PROTOCOL_COMMAND) ||
        request.ProtocolType != ProtocolTypeNvme ||
        request.CommandLength != STORAGE_PROTOCOL_COMMAND_LENGTH_NVME ||
        request.CommandSpecific != STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND)
        return ERROR_INVALID_PARAMETER;
    const DWORD toDevice = request.DataToDeviceTransferLength;
    const DWORD fromDevice = request.DataFromDeviceTransferLength;
    // The admin command moves its data one way.
    if ((toDevice > 0 && fromDevice > 0) ||
        !Fits(request.DataToDeviceBufferOffset, toDevice, outSize) ||
        !Fits(request.DataFromDeviceBufferOffset, fromDevice, outSize))
        return ERROR_INVALID_PARAMETER;

    const BYTE* entry = base + offsetof(STORAGE_PROTOCOL_COMMAND, Command);
    nvme_admin_cmd command{};
    command.opcode = entry[0];
    command.flags = entry[1];
    command.nsid = Dword(entry + 4);
    command.cdw2 = Dword(entry + 8);
    command.cdw3 = Dword(entry + 12);
    command.cdw10 = Dword(entry + 40);
    command.cdw11 = Dword(entry + 44);
    command.cdw12 = Dword(entry + 48);
    command.cdw13 = Dword(entry + 52);
    command.cdw14 = Dword(entry + 56);
    command.cdw15 = Dword(entry + 60);
    if (toDevice > 0) {
        command.addr = reinterpret_cast<std::uintptr_t>(base + request.DataToDeviceBufferOffset);
        command.data_len = toDevice;
    } else if (fromDevice > 0) {
        command.addr = reinterpret_cast<std::uintptr_t>(base + request.DataFromDeviceBufferOffset);
        command.data_len = fromDevice;
    }
    const std::optional<DWORD> timeout = PassThroughMilliseconds(request.TimeOutValue);
    if (!timeout)
        return ERROR_INVALID_PARAMETER;
    command.timeout_ms = *timeout;

    const int status = call(fd, &command);
    if (status < 0)
        return errno == ENOTTY || errno == EINVAL ? ERROR_INVALID_FUNCTION
                                                  : Win32ErrorFromErrno(errno);
    STORAGE_PROTOCOL_COMMAND answer = request;
    // The driver gives the status field (status code and its type); Windows has it in
    // ErrorCode with the request marked failed.
    answer.ReturnStatus =
        status == 0 ? STORAGE_PROTOCOL_STATUS_SUCCESS : STORAGE_PROTOCOL_STATUS_ERROR;
    answer.ErrorCode = static_cast<DWORD>(status);
    answer.FixedProtocolReturnData = command.result;
    std::memcpy(base, &answer, sizeof answer);
    if (returned != nullptr)
        *returned = inSize;
    return ERROR_SUCCESS;
}

int SystemNvmeId(int fd) {
    return ioctl(fd, NVME_IOCTL_ID);
}

DWORD NvmeNamespaceQuery(int namespaceFd, int controllerFd, const void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned, const NvmeAdminCall& call,
                         const NvmeIdCall& id) {
    if (returned != nullptr)
        *returned = 0;
    constexpr DWORD header = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    constexpr DWORD identifyBytes = 4096;
    if (in == nullptr || inSize < header + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA))
        return ERROR_INVALID_PARAMETER;
    STORAGE_PROTOCOL_SPECIFIC_DATA asked;
    std::memcpy(&asked, static_cast<const BYTE*>(in) + header, sizeof asked);
    if (asked.ProtocolType != ProtocolTypeNvme || asked.DataType != NVMeDataTypeIdentify ||
        asked.ProtocolDataRequestValue != 0)
        return ERROR_NOT_SUPPORTED; // of the protocol data, only this one is asked for
    const DWORD need = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) + identifyBytes;
    if (out == nullptr || outSize < need)
        return ERROR_INSUFFICIENT_BUFFER;
    const int nsid = id(namespaceFd);
    if (nsid <= 0)
        return nsid < 0 && errno != ENOTTY && errno != EINVAL ? Win32ErrorFromErrno(errno)
                                                              : ERROR_NOT_SUPPORTED;
    if (asked.ProtocolDataRequestSubValue != 0 &&
        asked.ProtocolDataRequestSubValue != static_cast<DWORD>(nsid))
        return ERROR_NOT_SUPPORTED; // another namespace than the handle's
    std::vector<BYTE> data(identifyBytes, 0);
    nvme_admin_cmd command{};
    command.opcode = 0x06; // Identify, CNS 00h
    command.nsid = static_cast<std::uint32_t>(nsid);
    command.addr = reinterpret_cast<std::uintptr_t>(data.data());
    command.data_len = identifyBytes;
    command.timeout_ms = kDefaultPassThroughSeconds * 1000u;
    const int status = call(controllerFd, &command);
    if (status < 0)
        return errno == ENOTTY || errno == EINVAL ? ERROR_NOT_SUPPORTED
                                                  : Win32ErrorFromErrno(errno);
    if (status != 0)
        return ERROR_IO_DEVICE;
    STORAGE_PROTOCOL_DATA_DESCRIPTOR answer = ProtocolDataAnswer(asked, identifyBytes);
    // The answer names the namespace it is: namespaces of one size and format, without
    // unique ids, have the same Identify data and could not be told apart by it.
    answer.ProtocolSpecificData.ProtocolDataRequestSubValue = static_cast<DWORD>(nsid);
    auto* base = static_cast<BYTE*>(out);
    std::memcpy(base, &answer, sizeof answer);
    std::memcpy(base + sizeof answer, data.data(), identifyBytes);
    if (returned != nullptr)
        *returned = need;
    return ERROR_SUCCESS;
}

} // namespace platform::linux_backend
