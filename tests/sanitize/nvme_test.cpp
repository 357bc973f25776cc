// The NVMe submission queue entries against the bytes a controller expects, written out here
// by hand, the storage protocol request around them, and the parsing of identify data and
// the Sanitize Status log built by hand.
#include "sanitize/nvme.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace purgelet::nvme {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The bytes of an entry that are not zero, as (offset, value) pairs.
std::vector<std::pair<int, int>> NonZero(const TCommand& command) {
    std::vector<std::pair<int, int>> out;
    auto bytes = command.Bytes();
    for (int i = 0; i < 64; ++i)
        if (bytes[static_cast<std::size_t>(i)] != 0)
            out.emplace_back(i, bytes[static_cast<std::size_t>(i)]);
    return out;
}

using Pairs = std::vector<std::pair<int, int>>;

TEST(NvmeCommands, EntriesAreThoseOfTheSpecification) {
    // Identify: opcode 06h, CDW10 CNS (byte 40): 01h controller (NSID 0), 00h namespace.
    EXPECT_EQ(NonZero(IdentifyController()), (Pairs{{0, 0x06}, {40, 0x01}}));
    EXPECT_EQ(IdentifyController().DataLength, 4096u);
    EXPECT_EQ(NonZero(IdentifyNamespace(1)), (Pairs{{0, 0x06}, {4, 0x01}}));
    // Get Log Page: opcode 02h, NSID FFFFFFFFh, CDW10 LID 81h and NUMDL 7Fh (128 dwords).
    EXPECT_EQ(
        NonZero(GetSanitizeStatusLog()),
        (Pairs{{0, 0x02}, {4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}, {40, 0x81}, {42, 0x7F}}));
    EXPECT_EQ(GetSanitizeStatusLog().DataLength, 512u);
    // Sanitize: opcode 84h, CDW10 SANACT 010b block erase, 100b crypto erase.
    EXPECT_EQ(NonZero(Sanitize(kSanactBlockErase)), (Pairs{{0, 0x84}, {40, 0x02}}));
    EXPECT_EQ(NonZero(Sanitize(kSanactCryptoErase)), (Pairs{{0, 0x84}, {40, 0x04}}));
    EXPECT_EQ(Sanitize(kSanactCryptoErase).DataLength, 0u);
}

TEST(NvmeCommands, FormatKeepsTheNamespaceFormatAndSetsTheEraseSetting) {
    TNamespace plain;
    plain.Flbas = 0x01; // format 1, no metadata
    // CDW10 = LBAF 1 | SES 001b << 9 = 0201h, the disk's namespace.
    EXPECT_EQ(NonZero(FormatNvm(kSesUserData, plain, 1)),
              (Pairs{{0, 0x80}, {4, 0x01}, {40, 0x01}, {41, 0x02}}));
    TNamespace rich;
    rich.Flbas = 0x32; // format 2 (bits 3:0) + 1 << 4 (bits 6:5), metadata at the end
    rich.Dps = 0x09;   // protection type 1, in the first bytes
    // LBAF 2 | MSET 1<<4 | PI 1<<5 | PIL 1<<8 | SES 010b<<9 | LBAFU 1<<12 = 1532h, all namespaces.
    EXPECT_EQ(
        NonZero(FormatNvm(kSesCrypto, rich, kAllNamespaces)),
        (Pairs{{0, 0x80}, {4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}, {40, 0x32}, {41, 0x15}}));
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(NvmeRequest, ProtocolCommandHeaderAroundTheEntry) {
    Bytes r = PackRequest(GetSanitizeStatusLog(), 20);
    ASSERT_EQ(r.size(), 208u + 512u);
    EXPECT_EQ(Le32(r, 0), 1u);           // Version
    EXPECT_EQ(Le32(r, 4), 84u);          // Length: the structure's size
    EXPECT_EQ(Le32(r, 8), 3u);           // ProtocolTypeNvme
    EXPECT_EQ(Le32(r, 12), 0x80000000u); // adapter request
    EXPECT_EQ(Le32(r, 16), 0u);          // ReturnStatus
    EXPECT_EQ(Le32(r, 24), 64u);         // CommandLength
    EXPECT_EQ(Le32(r, 28), 64u);         // ErrorInfoLength
    EXPECT_EQ(Le32(r, 32), 0u);          // nothing to the device
    EXPECT_EQ(Le32(r, 36), 512u);        // DataFromDeviceTransferLength
    EXPECT_EQ(Le32(r, 40), 20u);         // TimeOutValue
    EXPECT_EQ(Le32(r, 44), 144u);        // ErrorInfoOffset
    EXPECT_EQ(Le32(r, 52), 208u);        // DataFromDeviceBufferOffset
    EXPECT_EQ(Le32(r, 56), 1u);          // CommandSpecific: admin command
    EXPECT_EQ(r[80], 0x02);
    EXPECT_EQ(r[80 + 40], 0x81);
    EXPECT_EQ(r[80 + 42], 0x7F);

    Bytes s = PackRequest(Sanitize(kSanactCryptoErase), 20);
    EXPECT_EQ(s.size(), 208u);
    EXPECT_EQ(Le32(s, 36), 0u);
    EXPECT_EQ(Le32(s, 52), 0u);

    // What comes back: status, NVMe status, DW0 and the data.
    r[16] = 1;
    r[64] = 0x34;
    r[208] = 0xAB;
    TReturned back = ReadReturned(r);
    EXPECT_TRUE(back.Success());
    EXPECT_EQ(back.Dw0, 0x34u);
    ASSERT_EQ(back.Data.size(), 512u);
    EXPECT_EQ(back.Data[0], 0xAB);
    r[16] = 2;    // STORAGE_PROTOCOL_STATUS_ERROR
    r[20] = 0x0B; // an NVMe status
    back = ReadReturned(r);
    EXPECT_FALSE(back.Success());
    EXPECT_EQ(back.ErrorCode, 0x0Bu);
}

TEST(NvmeIdentify, ControllerAndNamespaceFields) {
    Bytes c(4096, 0);
    const std::string model = "SIM NVME 970                            ";
    std::memcpy(c.data() + 24, model.data(), 40);
    c[256] = 0x02; // OACS: Format NVM
    c[524] = 0x04; // FNA: crypto erase
    c[328] = 0x03; // SANICAP: crypto and block erase
    auto ctl = ParseController(c);
    ASSERT_TRUE(ctl);
    EXPECT_EQ(ctl->Model, "SIM NVME 970");
    EXPECT_TRUE(ctl->FormatNvm && ctl->CryptoFormat && ctl->SanitizeCrypto && ctl->SanitizeBlock);
    EXPECT_FALSE(ctl->FormatAllNamespaces || ctl->EraseAllNamespaces || ctl->SanitizeOverwrite);
    c[256] = 0x01;
    c[524] = 0x03;
    c[328] = 0x04;
    ctl = ParseController(c);
    EXPECT_FALSE(ctl->FormatNvm || ctl->CryptoFormat || ctl->SanitizeCrypto || ctl->SanitizeBlock);
    EXPECT_TRUE(ctl->FormatAllNamespaces && ctl->EraseAllNamespaces && ctl->SanitizeOverwrite);
    EXPECT_FALSE(ParseController(Bytes(512, 0)));

    Bytes n(4096, 0);
    n[0] = 0x00;
    n[1] = 0x10; // NSZE 1000h blocks
    n[26] = 0x11;
    n[29] = 0x02;
    n[33] = 0x09; // bit 3 (deallocate bit in Write Zeroes) + reads 00h
    auto ns = ParseNamespace(n);
    ASSERT_TRUE(ns);
    EXPECT_EQ(ns->Size, 0x1000u);
    EXPECT_EQ(ns->Flbas, 0x11);
    EXPECT_EQ(ns->Dps, 0x02);
    EXPECT_EQ(ns->ErasedByte, std::optional<std::uint8_t>(0x00));
    n[33] = 0x02;
    EXPECT_EQ(ParseNamespace(n)->ErasedByte, std::optional<std::uint8_t>(0xFF));
    n[33] = 0x00;
    EXPECT_FALSE(ParseNamespace(n)->ErasedByte);
    n[33] = 0x03; // reserved
    EXPECT_FALSE(ParseNamespace(n)->ErasedByte);
}

TEST(NvmeSanitizeLog, ProgressStateAndEstimates) {
    Bytes log(512, 0);
    log[0] = 0x00;
    log[1] = 0x40;                         // SPROG 4000h
    log[2] = 0x02;                         // SSTAT: in progress
    log[12] = 0x78;                        // block erase: 120 s
    std::memset(log.data() + 16, 0xFF, 4); // crypto erase: none
    auto s = ParseSanitizeLog(log);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Sprog, 0x4000);
    EXPECT_TRUE(s->InProgress());
    EXPECT_EQ(s->BlockEraseSeconds, 120u);
    EXPECT_EQ(s->CryptoEraseSeconds, kNoEstimate);
    log[2] = 0x09; // one overwrite pass recorded, completed
    EXPECT_TRUE(ParseSanitizeLog(log)->Completed());
    log[2] = 0x04; // completed without deallocation
    EXPECT_TRUE(ParseSanitizeLog(log)->Completed());
    log[2] = 0x03;
    EXPECT_TRUE(ParseSanitizeLog(log)->Failed());
    log[2] = 0x00;
    EXPECT_TRUE(ParseSanitizeLog(log)->NeverSanitized());
    EXPECT_FALSE(ParseSanitizeLog(Bytes(8, 0)));
}

} // namespace
} // namespace purgelet::nvme
