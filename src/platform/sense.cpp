#include "platform/sense.h"

#include <algorithm>

namespace platform {

namespace {

// Where the additional sense length says the sense data ends, never past length.
std::size_t End(const std::uint8_t* b, std::size_t length) {
    if (length < 8)
        return length;
    return std::min<std::size_t>(length, 8u + b[7]);
}

// The three sense-key-specific bytes at sks: a progress indication when SKSV is set and
// the key is one that carries progress.
void TakeKeySpecific(TSense& sense, const std::uint8_t* sks) {
    if ((sks[0] & 0x80) == 0 || (sense.Key != skNoSense && sense.Key != skNotReady))
        return;
    sense.Progress = static_cast<std::uint16_t>((sks[1] << 8) | sks[2]);
    sense.ProgressOfAnother = false; // the condition's own progress wins over another's
    sense.AnotherKey = sense.AnotherAsc = sense.AnotherAscq = 0;
}

void DecodeFixed(TSense& sense, const std::uint8_t* b, std::size_t length) {
    sense.Format = TSenseFormat::Fixed;
    sense.Key = b[2] & 0x0F;
    const std::size_t end = End(b, length);
    if (end >= 14) {
        sense.HasCode = true;
        sense.Asc = b[12];
        sense.Ascq = b[13];
    }
    if (end >= 18)
        TakeKeySpecific(sense, b + 15);
    // The information field holds error, status, device and count (7:0), the
    // command-specific field the LBA (23:0).
    if (sense.HasCode && sense.Asc == 0x00 && sense.Ascq == 0x1D) {
        TAtaRegisters& r = sense.Ata.emplace();
        r.Current[0] = b[3];
        r.Current[6] = b[4];
        r.Current[5] = b[5];
        r.Current[1] = b[6];
        r.Current[2] = b[9];
        r.Current[3] = b[10];
        r.Current[4] = b[11];
    }
}

// The ATA Status Return descriptor at d, 14 bytes; the extend bit says whether the high
// bytes of a 48-bit command are in it.
TAtaRegisters AtaStatusReturn(const std::uint8_t* d) {
    TAtaRegisters r;
    r.Current[0] = d[3];  // error
    r.Current[1] = d[5];  // count (7:0)
    r.Current[2] = d[7];  // LBA (7:0)
    r.Current[3] = d[9];  // LBA (15:8)
    r.Current[4] = d[11]; // LBA (23:16)
    r.Current[5] = d[12]; // device
    r.Current[6] = d[13]; // status
    if ((d[2] & 0x01) != 0) {
        r.Previous[1] = d[4];  // count (15:8)
        r.Previous[2] = d[6];  // LBA (31:24)
        r.Previous[3] = d[8];  // LBA (39:32)
        r.Previous[4] = d[10]; // LBA (47:40)
    }
    return r;
}

void DecodeDescriptors(TSense& sense, const std::uint8_t* b, std::size_t length) {
    sense.Format = TSenseFormat::Descriptor;
    sense.Key = b[1] & 0x0F;
    if (length >= 4) {
        sense.HasCode = true;
        sense.Asc = b[2];
        sense.Ascq = b[3];
    }
    const std::size_t end = End(b, length);
    bool keySpecific = false;
    std::size_t at = 8;
    while (at + 2 <= end) {
        const std::uint8_t* d = b + at;
        const std::size_t size = 2u + d[1];
        if (size > end - at)
            break; // a descriptor cut short: nothing of it is trusted
        if (d[0] == 0x02 && size >= 7 && !keySpecific) {
            keySpecific = true;
            TakeKeySpecific(sense, d + 4);
        } else if (d[0] == 0x0A && size >= 8 && !sense.Progress) {
            sense.Progress = static_cast<std::uint16_t>((d[6] << 8) | d[7]);
            sense.ProgressOfAnother = true;
            sense.AnotherKey = d[2] & 0x0F;
            sense.AnotherAsc = d[3];
            sense.AnotherAscq = d[4];
        } else if (d[0] == 0x09 && size >= 14 && !sense.Ata) {
            sense.Ata = AtaStatusReturn(d);
        }
        at += size;
    }
}

} // namespace

TSense DecodeSense(const std::uint8_t* b, std::size_t length) {
    TSense sense;
    if (b == nullptr || length == 0)
        return sense;
    switch (b[0] & 0x7F) {
    case 0x70:
    case 0x71:
        if (length >= 3) {
            sense.Deferred = (b[0] & 0x7F) == 0x71;
            DecodeFixed(sense, b, length);
        }
        break;
    case 0x72:
    case 0x73:
        if (length >= 2) {
            sense.Deferred = (b[0] & 0x7F) == 0x73;
            DecodeDescriptors(sense, b, length);
        }
        break;
    default:
        break;
    }
    return sense;
}

} // namespace platform
