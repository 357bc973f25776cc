#include "optical/mmc.h"

namespace purgelet {

void TBurningIO::ReportProgress(std::uint8_t, double, double) {}
void TBurningIO::ReportStage(std::uint8_t) {}

namespace mmc {

using scsi::In10;
using scsi::Make;

TCdb TestUnitReady() {
    return scsi::TestUnitReady();
}
TCdb Inquiry() {
    return scsi::Inquiry(static_cast<std::uint8_t>(kInquiryLength));
}
TCdb ModeSenseCapabilities(std::uint8_t byte1) {
    return scsi::ModeSense10(byte1, 0x2A, kCapabilitiesLength);
}
TCdb ReadDiscInformation() {
    return In10(0x51, kDiscInformationLength);
}
TCdb Blank(bool full) {
    TCdb cdb = Make(12, 0xA1);
    cdb.Bytes[1] = static_cast<std::uint8_t>(0x10 | (full ? 0 : 1));
    return cdb;
}
// Twelve bytes, the ATAPI packet size, where the command itself has six.
TCdb StartStopUnitEject() {
    TCdb cdb = Make(12, 0x1B);
    cdb.Bytes[1] = 0x01;
    cdb.Bytes[4] = 0x02;
    return cdb;
}
TCdb ModeSenseWriteParameters(std::uint8_t lunBits) {
    return scsi::ModeSense10(static_cast<std::uint8_t>(0x08 | lunBits), 0x05, 64);
}
TCdb ModeSelect(std::uint8_t lunBits, std::uint16_t length) {
    return scsi::ModeSelect10(static_cast<std::uint8_t>(0x10 | lunBits), length);
}
TCdb ReadTrackInformation(std::uint32_t track) {
    TCdb cdb = In10(0x52, 28);
    cdb.Bytes[1] = 0x01;
    WriteBE32(cdb.Bytes + 2, track);
    return cdb;
}
TCdb ReadBufferCapacity() {
    return In10(0x5C, 12);
}
TCdb Write10(std::uint32_t lba, std::uint16_t blocks) {
    TCdb cdb = Make(10, 0x2A, TDataDirection::Out, std::uint32_t{blocks} * 2048);
    WriteBE32(cdb.Bytes + 2, lba);
    WriteBE16(cdb.Bytes + 7, blocks);
    return cdb;
}
TCdb SynchronizeCache() {
    TCdb cdb = Make(10, 0x35);
    cdb.Bytes[1] = 0x02;
    return cdb;
}
TCdb CloseTrack() {
    TCdb cdb = Make(10, 0x5B);
    cdb.Bytes[1] = 0x01;
    cdb.Bytes[2] = 0x01;
    cdb.Bytes[5] = 0xFF;
    return cdb;
}
TCdb CloseSession() {
    TCdb cdb = Make(10, 0x5B);
    cdb.Bytes[1] = 0x01;
    cdb.Bytes[2] = 0x02;
    return cdb;
}

} // namespace mmc

} // namespace purgelet
