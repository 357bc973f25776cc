#include "disk/nt/in_flight.h"

#include "platform/system.h"

#include <stdexcept>

namespace purgelet {

namespace {

void PlaceAt(OVERLAPPED& overlapped, std::int64_t offset) {
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    overlapped.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    overlapped.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
}

// Starts the transfer: 0 when it runs (or has ended), else the error of the refusal.
DWORD Begin(HANDLE handle, OVERLAPPED& overlapped, void* buffer, DWORD bytes, bool write) {
    auto& k = platform::k32();
    if (bytes == 0)
        return ERROR_INVALID_PARAMETER;
    const BOOL ended = write ? k.WriteFile(handle, buffer, bytes, nullptr, &overlapped)
                             : k.ReadFile(handle, buffer, bytes, nullptr, &overlapped);
    if (ended)
        return 0;
    const DWORD error = k.GetLastError();
    return error == ERROR_IO_PENDING ? 0 : error;
}

DWORD BytesOf(std::int32_t count, std::int32_t blockSize) {
    const std::int64_t bytes = static_cast<std::int64_t>(count) * blockSize;
    return count <= 0 || blockSize <= 0 || bytes > 0xFFFFFFFFll ? 0 : static_cast<DWORD>(bytes);
}

} // namespace

TInFlight::Slot& TInFlight::At(int slot) {
    const auto index = static_cast<std::size_t>(slot);
    while (slots_.size() <= index) {
        auto made = std::make_unique<Slot>();
        made->event.Reset(platform::k32().CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!made->event)
            throw std::runtime_error("no event for a transfer in flight");
        made->overlapped.hEvent = made->event.Get();
        slots_.push_back(std::move(made));
    }
    return *slots_[index];
}

void TInFlight::Start(HANDLE handle, int slot, const TRandomAccessDisk::TTransfer& transfer,
                      std::int32_t blockSize) {
    Slot& s = At(slot);
    s.transfer = transfer;
    s.bytes = BytesOf(transfer.Count, blockSize);
    PlaceAt(s.overlapped, transfer.Block * blockSize);
    s.refused = Begin(handle, s.overlapped, transfer.Buffer, s.bytes, transfer.Write);
    s.running = s.refused == 0;
}

const TRandomAccessDisk::TTransfer& TInFlight::Of(int slot) const {
    return slots_.at(static_cast<std::size_t>(slot))->transfer;
}

bool TInFlight::Finish(HANDLE handle, int slot) {
    Slot& s = At(slot);
    auto& k = platform::k32();
    if (!s.running) {
        k.SetLastError(s.refused != 0 ? s.refused : ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD moved = 0;
    const BOOL ok = k.GetOverlappedResult(handle, &s.overlapped, &moved, TRUE);
    s.running = false;
    return ok && moved == s.bytes;
}

bool TInFlight::Pending(HANDLE handle, int slot) {
    Slot& s = At(slot);
    if (!s.running)
        return false;
    auto& k = platform::k32();
    const DWORD code = k.GetLastError();
    DWORD moved = 0;
    // A look without waiting; the result stays in the OVERLAPPED for Finish to take.
    const bool pending = !k.GetOverlappedResult(handle, &s.overlapped, &moved, FALSE) &&
                         k.GetLastError() == ERROR_IO_INCOMPLETE;
    k.SetLastError(code);
    return pending;
}

void TInFlight::Cancel(HANDLE handle) noexcept {
    auto& k = platform::k32();
    bool any = false;
    for (const auto& slot : slots_)
        any = any || slot->running;
    if (!any)
        return;
    const DWORD code = k.GetLastError();
    k.CancelIo(handle);
    for (const auto& slot : slots_) {
        if (!slot->running)
            continue;
        DWORD moved = 0;
        k.GetOverlappedResult(handle, &slot->overlapped, &moved, TRUE);
        slot->running = false;
    }
    k.SetLastError(code);
}

bool TInFlight::Transfer(HANDLE handle, void* buffer, DWORD bytes, std::int64_t offset,
                         bool write) {
    auto& k = platform::k32();
    platform::UniqueHandle event(k.CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    PlaceAt(overlapped, offset);
    overlapped.hEvent = event.Get();
    if (!event)
        return false;
    const DWORD refused = Begin(handle, overlapped, buffer, bytes, write);
    if (refused != 0) {
        k.SetLastError(refused);
        return false;
    }
    DWORD moved = 0;
    const BOOL ok = k.GetOverlappedResult(handle, &overlapped, &moved, TRUE);
    return ok && moved == bytes;
}

bool TInFlight::Control(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                        DWORD* returned) {
    auto& k = platform::k32();
    *returned = 0;
    platform::UniqueHandle event(k.CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    if (k.DeviceIoControl(handle, code, in, inSize, out, outSize, returned, &overlapped))
        return true;
    if (k.GetLastError() != ERROR_IO_PENDING)
        return false;
    return k.GetOverlappedResult(handle, &overlapped, returned, TRUE) != FALSE;
}

} // namespace purgelet
