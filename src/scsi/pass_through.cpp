#include "scsi/pass_through.h"

#include "platform/scsi.h"
#include "platform/system.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace purgelet {

static_assert(sizeof(platform::ScsiPassThroughRequest::data) ==
              TPassThroughTransport::kBufferedDataLength);

namespace {

// A zero-filled request with what both request formats fill alike: the sizes, the sense
// area and the command block.
template <class Request> void Begin(Request& request, const TCdb& cdb, std::uint32_t timeout) {
    std::memset(&request, 0, sizeof(request));
    request.header.Length = sizeof(request.header);
    request.header.CdbLength = cdb.Length;
    request.header.SenseInfoLength = sizeof(request.sense);
    request.header.SenseInfoOffset = offsetof(Request, sense);
    request.header.TimeOutValue = timeout;
    std::memcpy(request.header.Cdb, cdb.Bytes, cdb.Length);
}

// Status and sense of a request that came back.
template <class Request> void TakeAnswer(TScsiResult& result, const Request& request) {
    result.ScsiStatus = request.header.ScsiStatus;
    result.RequestStatus = request.header.ScsiStatus;
    result.Code = StatusToResult(request.header.ScsiStatus, 0, 0);
    result.Transferred = request.header.DataTransferLength;
    if (request.header.ScsiStatus == kScsiStatusCheckCondition) {
        result.SenseLength = std::min<std::size_t>(
            {request.header.SenseInfoLength, sizeof(request.sense), sizeof(result.SenseData)});
        std::memcpy(result.SenseData, request.sense, result.SenseLength);
    }
}

} // namespace

platform::UniqueHandle OpenForCommands(const std::string& path, DWORD access) {
    return platform::UniqueHandle(platform::k32().CreateFileA(path.c_str(), access,
                                                              FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                              nullptr, OPEN_EXISTING, 0, nullptr));
}

TScsiResult TPassThroughTransport::Execute(const TCdb& cdb, std::uint8_t* data,
                                           std::uint32_t timeoutSeconds) {
    auto& kernel = platform::k32();
    DWORD returned = 0;
    TScsiResult result;
    if (cdb.Direction == TDataDirection::Out ||
        (cdb.Direction == TDataDirection::In && cdb.DataLength > kBufferedDataLength)) {
        platform::ScsiPassThroughDirectRequest request;
        Begin(request, cdb, timeoutSeconds);
        request.header.DataIn =
            cdb.Direction == TDataDirection::Out ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN;
        request.header.DataTransferLength = cdb.DataLength;
        request.header.DataBuffer = data;
        if (!kernel.DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                    sizeof(request), &request, sizeof(request), &returned, nullptr))
            return TScsiResult::NotSent(platform::k32().GetLastError());
        TakeAnswer(result, request);
        return result;
    }
    platform::ScsiPassThroughRequest request;
    Begin(request, cdb, timeoutSeconds);
    request.header.DataIn = SCSI_IOCTL_DATA_IN;
    request.header.DataTransferLength = sizeof(request.data);
    request.header.DataBufferOffset = offsetof(platform::ScsiPassThroughRequest, data);
    if (!kernel.DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH, &request,
                                sizeof(SCSI_PASS_THROUGH), &request, sizeof(request), &returned,
                                nullptr))
        return TScsiResult::NotSent(platform::k32().GetLastError());
    TakeAnswer(result, request);
    if (data != nullptr && cdb.DataLength > 0)
        std::memcpy(data, request.data,
                    std::min<std::size_t>(cdb.DataLength, sizeof(request.data)));
    return result;
}

} // namespace purgelet
