// The ATA command blocks against their registers as ATA/ACS lists them, written out here byte
// for byte, and the parsing of identify data and status registers built by hand.
#include "platform/storage_pass_through.h"
#include "sanitize/ata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace purgelet::ata {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Packed {
    ATA_PASS_THROUGH_EX header{};
    Bytes current, previous, data;
};

Packed Pack(const TTaskFile& command, const Bytes& data = {}, std::uint32_t timeout = 30) {
    Bytes request = PackRequest(command, data, timeout);
    Packed p;
    EXPECT_GE(request.size(), sizeof(ATA_PASS_THROUGH_EX));
    std::memcpy(&p.header, request.data(), sizeof(ATA_PASS_THROUGH_EX));
    p.current.assign(p.header.CurrentTaskFile, p.header.CurrentTaskFile + 8);
    p.previous.assign(p.header.PreviousTaskFile, p.header.PreviousTaskFile + 8);
    p.data.assign(request.begin() + sizeof(ATA_PASS_THROUGH_EX), request.end());
    return p;
}

TEST(AtaCommands, IdentifyAndSanitizeRegistersAreThoseOfTheStandard) {
    // Current file: feature, count, LBA 7:0, 15:8, 23:16, device, command, reserved.
    Packed identify = Pack(IdentifyDevice());
    EXPECT_EQ(identify.current, (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}));
    EXPECT_EQ(identify.previous, Bytes(8, 0));
    EXPECT_EQ(identify.header.AtaFlags, 0x0003); // DRDY required, data in
    EXPECT_EQ(identify.header.DataTransferLength, 512u);
    EXPECT_EQ(identify.header.Length, sizeof(ATA_PASS_THROUGH_EX));
    EXPECT_EQ(identify.header.DataBufferOffset, sizeof(ATA_PASS_THROUGH_EX));
    EXPECT_EQ(identify.header.TimeOutValue, 30u);
    EXPECT_EQ(identify.data.size(), 512u);

    // CRYPTO SCRAMBLE EXT: feature 0011h, LBA 0000_4372_7970h ("Cryp").
    Packed crypto = Pack(CryptoScrambleExt());
    EXPECT_EQ(crypto.current, (Bytes{0x11, 0x00, 0x70, 0x79, 0x72, 0x40, 0xB4, 0x00}));
    EXPECT_EQ(crypto.previous, (Bytes{0x00, 0x00, 0x43, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(crypto.header.AtaFlags, 0x0009); // DRDY required, 48-bit, no data
    EXPECT_EQ(crypto.header.DataTransferLength, 0u);
    EXPECT_TRUE(crypto.data.empty());

    // BLOCK ERASE EXT: feature 0012h, LBA 0000_426B_4572h ("BkEr").
    Packed block = Pack(BlockEraseExt());
    EXPECT_EQ(block.current, (Bytes{0x12, 0x00, 0x72, 0x45, 0x6B, 0x40, 0xB4, 0x00}));
    EXPECT_EQ(block.previous, (Bytes{0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(block.header.AtaFlags, 0x0009);

    // SANITIZE STATUS EXT: feature 0000h, the failure bit of the count left clear.
    Packed status = Pack(SanitizeStatusExt());
    EXPECT_EQ(status.current, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xB4, 0x00}));
    EXPECT_EQ(status.previous, Bytes(8, 0));
    EXPECT_EQ(status.header.AtaFlags, 0x0009);
}

TEST(AtaCommands, SecurityCommandsCarryTheirPasswordBlocks) {
    const Bytes pwd = {'P', 'u', 'r', 'g', 'e', 'l', 'e', 't', ' ', 't', 'e', 'm', 'p', 'o',
                       'r', 'a', 'r', 'y', ' ', 'e', 'r', 'a', 's', 'e', ' ', 'p', 'w', 'd'};
    auto block = [&](std::uint8_t word0Low) {
        Bytes b(512, 0);
        b[0] = word0Low;
        std::memcpy(b.data() + 2, pwd.data(), pwd.size());
        return b;
    };
    const TPassword password = TemporaryPassword();

    Packed set = Pack(SecuritySetPassword(), SetUserPasswordData(password));
    EXPECT_EQ(set.current, (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xF1, 0x00}));
    EXPECT_EQ(set.header.AtaFlags, 0x0005); // DRDY required, data out, 28-bit
    EXPECT_EQ(set.header.DataTransferLength, 512u);
    EXPECT_EQ(set.data, block(0x00)); // user password, high capability

    Packed prepare = Pack(SecurityErasePrepare());
    EXPECT_EQ(prepare.current, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xF3, 0x00}));
    EXPECT_EQ(prepare.header.AtaFlags, 0x0001);
    EXPECT_EQ(prepare.header.DataTransferLength, 0u);

    Packed normal = Pack(SecurityEraseUnit(), EraseUnitData(password, false), 7200);
    EXPECT_EQ(normal.current, (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xF4, 0x00}));
    EXPECT_EQ(normal.header.TimeOutValue, 7200u);
    EXPECT_EQ(normal.data, block(0x00));
    EXPECT_EQ(Pack(SecurityEraseUnit(), EraseUnitData(password, true)).data, block(0x02));

    Packed disable = Pack(SecurityDisablePassword(), DisablePasswordData(password));
    EXPECT_EQ(disable.current, (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xF6, 0x00}));
    EXPECT_EQ(disable.data, block(0x00));
}

// IDENTIFY data with the given words set.
Bytes IdentifyData(const std::vector<std::pair<int, std::uint16_t>>& words,
                   const std::string& model) {
    Bytes data(512, 0);
    for (auto [index, value] : words) {
        data[2 * index] = static_cast<std::uint8_t>(value);
        data[2 * index + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    std::string padded = model + std::string(40 - model.size(), ' ');
    for (int w = 0; w < 20; ++w) { // first character in the high byte of each word
        data[54 + 2 * w + 1] = static_cast<std::uint8_t>(padded[2 * w]);
        data[54 + 2 * w] = static_cast<std::uint8_t>(padded[2 * w + 1]);
    }
    return data;
}

TEST(AtaIdentify, ReadsModelSanitizeSecurityAndEraseTimes) {
    auto id = ParseIdentify(
        IdentifyData({{59, 0xB000}, {128, 0x0021}, {89, 0x000F}, {90, 0x8100}}, "SIM SSD 860"));
    ASSERT_TRUE(id);
    EXPECT_EQ(id->Model, "SIM SSD 860");
    EXPECT_TRUE(id->SanitizeSupported && id->CryptoScramble && id->BlockErase);
    EXPECT_TRUE(id->SecuritySupported && id->EnhancedEraseSupported);
    EXPECT_FALSE(id->SecurityEnabled || id->SecurityLocked || id->SecurityFrozen ||
                 id->SecurityCountExpired);
    EXPECT_EQ(id->NormalEraseSeconds, 15u * 120);    // short format: 15 two-minute units
    EXPECT_EQ(id->EnhancedEraseSeconds, 256u * 120); // extended format: bits 14:0

    // Security state bits one by one; sanitize bits without the feature bit mean nothing.
    id = ParseIdentify(IdentifyData({{59, 0xA000}, {128, 0x001F}}, "X"));
    ASSERT_TRUE(id);
    EXPECT_FALSE(id->SanitizeSupported || id->CryptoScramble || id->BlockErase);
    EXPECT_TRUE(id->SecurityEnabled && id->SecurityLocked && id->SecurityFrozen &&
                id->SecurityCountExpired);
    EXPECT_FALSE(id->EnhancedEraseSupported);
    EXPECT_EQ(id->NormalEraseSeconds, 0u);
    id = ParseIdentify(IdentifyData({{59, 0x9000}}, "X"));
    EXPECT_TRUE(id->BlockErase);
    EXPECT_FALSE(id->CryptoScramble);

    EXPECT_EQ(EraseTimeSeconds(0x00FF), 255u * 120);   // "more than 508 minutes"
    EXPECT_EQ(EraseTimeSeconds(0x0F02), 2u * 120);     // bits 14:8 of the short format unused
    EXPECT_EQ(EraseTimeSeconds(0xFFFF), 32767u * 120); // "more than 65532 minutes"
    EXPECT_FALSE(ParseIdentify(Bytes(100, 0)));
}

// A request as a drive hands it back: the given returned registers written over it.
TTaskFile Returned(Bytes current, Bytes previous) {
    Bytes request = PackRequest(SanitizeStatusExt(), {}, 30);
    ATA_PASS_THROUGH_EX header;
    std::memcpy(&header, request.data(), sizeof header);
    std::memcpy(header.CurrentTaskFile, current.data(), 8);
    std::memcpy(header.PreviousTaskFile, previous.data(), 8);
    std::memcpy(request.data(), &header, sizeof header);
    return ReturnedRegisters(request);
}

TEST(AtaSanitizeStatus, ReadsCompletionProgressFrozenAndFailure) {
    // In progress (count bit 14), progress 8000h in LBA 15:0, status DRDY.
    TTaskFile r = Returned({0x00, 0x00, 0x00, 0x80, 0x00, 0x40, 0x50, 0x00},
                           {0x00, 0x40, 0x00, 0x00, 0x00, 0, 0, 0});
    EXPECT_EQ(r.Command, 0x50);
    EXPECT_EQ(r.Count, 0x4000);
    TSanitizeStatus s = ParseSanitizeStatus(r);
    EXPECT_TRUE(s.InProgress);
    EXPECT_FALSE(s.CompletedWithoutError || s.Failed || s.Frozen);
    EXPECT_EQ(s.Progress, 0x8000);

    s = ParseSanitizeStatus(Returned({0, 0, 0, 0, 0, 0x40, 0x50, 0}, {0, 0x80, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(s.CompletedWithoutError);
    EXPECT_FALSE(s.InProgress || s.Failed);

    s = ParseSanitizeStatus(Returned({0, 0, 0, 0, 0, 0x40, 0x50, 0}, {0, 0x20, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(s.Frozen);

    // ERR with ABRT, reason 01h: the last sanitize failed.
    r = Returned({0x04, 0x00, 0x01, 0x00, 0x00, 0x40, 0x51, 0x00}, Bytes(8, 0));
    EXPECT_EQ(r.Feature, 0x04);
    s = ParseSanitizeStatus(r);
    EXPECT_TRUE(s.Failed);
    EXPECT_EQ(s.Reason, 1);
    EXPECT_FALSE(s.CompletedWithoutError);
}

TEST(AtaRequest, ReturnedDataIsReadAtTheDataOffset) {
    Bytes request = PackRequest(IdentifyDevice(), {}, 10);
    request[sizeof(ATA_PASS_THROUGH_EX)] = 0x5A;
    request.back() = 0xA5;
    Bytes data = ReturnedData(request);
    ASSERT_EQ(data.size(), 512u);
    EXPECT_EQ(data.front(), 0x5A);
    EXPECT_EQ(data.back(), 0xA5);
    EXPECT_TRUE(ReturnedData(Bytes(4, 0)).empty());
}

} // namespace
} // namespace purgelet::ata
