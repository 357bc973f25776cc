// The sense decoder on hand-made sense data: fixed and descriptor formats, the progress
// indication where each format carries it, the ATA registers a translation returns, and buffers
// that are short, cut inside a field or garbage. Every buffer is decoded from a heap copy of
// exactly the length given, so a read past it is a fault the sanitizer build reports.
#include "scsi/sense.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace purgelet {
namespace {

using Bytes = std::vector<std::uint8_t>;

TSense Decode(const Bytes& bytes, std::size_t length) {
    auto exact = std::make_unique<std::uint8_t[]>(length == 0 ? 1 : length);
    std::copy_n(bytes.begin(), std::min(length, bytes.size()), exact.get());
    return DecodeSense(length == 0 ? nullptr : exact.get(), length);
}
TSense Decode(const Bytes& bytes) {
    return Decode(bytes, bytes.size());
}

// Fixed format, 18 bytes: key, ASC, ASCQ and the three sense-key-specific bytes.
Bytes Fixed(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t sks0 = 0,
            std::uint16_t sks = 0) {
    Bytes b(18, 0);
    b[0] = 0x70;
    b[2] = key;
    b[7] = 10;
    b[12] = asc;
    b[13] = ascq;
    b[15] = sks0;
    b[16] = static_cast<std::uint8_t>(sks >> 8);
    b[17] = static_cast<std::uint8_t>(sks);
    return b;
}

// Descriptor format: the 8-byte header with its additional length, then the descriptors.
Bytes Descriptors(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                  const std::vector<Bytes>& descriptors) {
    Bytes b = {0x72, key, asc, ascq, 0, 0, 0, 0};
    for (const auto& d : descriptors)
        b.insert(b.end(), d.begin(), d.end());
    b[7] = static_cast<std::uint8_t>(b.size() - 8);
    return b;
}
Bytes KeySpecific(std::uint8_t sks0, std::uint16_t value) {
    return {0x02,
            0x06,
            0,
            0,
            sks0,
            static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value),
            0};
}
Bytes AnotherProgress(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint16_t value) {
    return {0x0A,
            0x06,
            key,
            asc,
            ascq,
            0,
            static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value)};
}
Bytes Information(std::uint64_t value) {
    Bytes d = {0x00, 0x0A, 0x80, 0};
    for (int shift = 56; shift >= 0; shift -= 8)
        d.push_back(static_cast<std::uint8_t>(value >> shift));
    return d;
}

// The ATA Status Return descriptor: error 04h, count 1234h, LBA 0000_5566_7788h, device 40h,
// status 51h, the high bytes present when extend is set.
Bytes StatusReturn(bool extend) {
    return {0x09, 0x0C, extend ? std::uint8_t{1} : std::uint8_t{0},
            0x04, 0x12, 0x34,
            0x00, 0x88, 0x55,
            0x77, 0x00, 0x66,
            0x40, 0x51};
}

TEST(FixedSense, KeyAndCodesWithoutProgress) {
    const TSense s = Decode(Fixed(0x05, 0x24, 0x00));
    EXPECT_EQ(s.Format, TSenseFormat::Fixed);
    EXPECT_FALSE(s.Deferred);
    EXPECT_EQ(s.Key, 0x05);
    EXPECT_TRUE(s.HasCode);
    EXPECT_EQ(s.Asc, 0x24);
    EXPECT_EQ(s.Ascq, 0x00);
    EXPECT_FALSE(s.Progress);
    EXPECT_LT(s.ProgressFraction(), 0.0);
}

TEST(FixedSense, ValidBitFlagBitsAndDeferredErrors) {
    Bytes b = Fixed(0x03, 0x11, 0x00);
    b[0] = 0xF1;        // VALID set, deferred
    b[2] = 0xE0 | 0x03; // FILEMARK, EOM, ILI above the key
    const TSense s = Decode(b);
    EXPECT_EQ(s.Format, TSenseFormat::Fixed);
    EXPECT_TRUE(s.Deferred);
    EXPECT_EQ(s.Key, 0x03);
    EXPECT_EQ(s.Asc, 0x11);
}

TEST(FixedSense, ProgressFromTheKeySpecificBytesWhenSksvIsSet) {
    const TSense busy = Decode(Fixed(0x02, 0x04, 0x07, 0x80, 0x4000));
    ASSERT_TRUE(busy.Progress);
    EXPECT_EQ(*busy.Progress, 0x4000);
    EXPECT_DOUBLE_EQ(busy.ProgressFraction(), 0.25);
    EXPECT_FALSE(busy.ProgressOfAnother);
    // NO SENSE carries progress too, up to 65535/65536.
    const TSense almost = Decode(Fixed(0x00, 0x00, 0x16, 0x80, 0xFFFF));
    ASSERT_TRUE(almost.Progress);
    EXPECT_DOUBLE_EQ(almost.ProgressFraction(), 65535.0 / 65536.0);
    // SKSV clear: the bytes mean nothing.
    EXPECT_FALSE(Decode(Fixed(0x02, 0x04, 0x07, 0x00, 0x4000)).Progress);
    // Other keys use the bytes for a field pointer or a retry count, not progress.
    EXPECT_FALSE(Decode(Fixed(0x05, 0x24, 0x00, 0xC0, 0x0001)).Progress);
    EXPECT_FALSE(Decode(Fixed(0x03, 0x11, 0x00, 0x80, 0x0003)).Progress);
}

TEST(FixedSense, OnlyTheBytesTheAdditionalLengthAndTheBufferCover) {
    const Bytes full = Fixed(0x02, 0x04, 0x07, 0x80, 0x8000);
    // The ASPI request block's 14 bytes end before the key-specific bytes.
    const TSense aspi = Decode(full, 14);
    EXPECT_TRUE(aspi.HasCode);
    EXPECT_EQ(aspi.Asc, 0x04);
    EXPECT_EQ(aspi.Ascq, 0x07);
    EXPECT_FALSE(aspi.Progress);
    // One byte short of the progress field.
    EXPECT_FALSE(Decode(full, 17).Progress);
    EXPECT_TRUE(Decode(full, 18).Progress);
    // Cut inside the codes: the key only.
    const TSense cut = Decode(full, 13);
    EXPECT_EQ(cut.Key, 0x02);
    EXPECT_FALSE(cut.HasCode);
    EXPECT_EQ(cut.Asc, 0);
    // A short additional length ends the data, whatever follows in the buffer.
    Bytes shortLength = full;
    shortLength[7] = 6; // bytes 8 to 13 only
    const TSense s = Decode(shortLength);
    EXPECT_TRUE(s.HasCode);
    EXPECT_FALSE(s.Progress);
    shortLength[7] = 0;
    EXPECT_FALSE(Decode(shortLength).HasCode);
    // An additional length past the buffer is bounded by the buffer.
    Bytes longLength = full;
    longLength[7] = 0xF4;
    EXPECT_TRUE(Decode(longLength).Progress);
}

TEST(DescriptorSense, KeyAndCodesFromTheHeader) {
    Bytes b = Descriptors(0x04, 0x44, 0x00, {Information(0x1234)});
    b[0] = 0x73;
    const TSense s = Decode(b);
    EXPECT_EQ(s.Format, TSenseFormat::Descriptor);
    EXPECT_TRUE(s.Deferred);
    EXPECT_EQ(s.Key, 0x04);
    EXPECT_TRUE(s.HasCode);
    EXPECT_EQ(s.Asc, 0x44);
    EXPECT_FALSE(s.Progress);
}

TEST(DescriptorSense, ProgressFromTheKeySpecificDescriptor) {
    const TSense s =
        Decode(Descriptors(0x02, 0x04, 0x07, {Information(1), KeySpecific(0x80, 0x1000)}));
    ASSERT_TRUE(s.Progress);
    EXPECT_EQ(*s.Progress, 0x1000);
    EXPECT_FALSE(s.ProgressOfAnother);
    EXPECT_FALSE(Decode(Descriptors(0x02, 0x04, 0x07, {KeySpecific(0x00, 0x1000)})).Progress);
    EXPECT_FALSE(Decode(Descriptors(0x05, 0x24, 0x00, {KeySpecific(0xC0, 0x1000)})).Progress);
}

TEST(DescriptorSense, ProgressOfAnotherOperationFromDescriptor0A) {
    const TSense s = Decode(
        Descriptors(0x06, 0x29, 0x00, {Information(7), AnotherProgress(0x02, 0x04, 0x1B, 0xC000)}));
    ASSERT_TRUE(s.Progress);
    EXPECT_EQ(*s.Progress, 0xC000);
    EXPECT_DOUBLE_EQ(s.ProgressFraction(), 0.75);
    EXPECT_TRUE(s.ProgressOfAnother);
    EXPECT_EQ(s.AnotherKey, 0x02);
    EXPECT_EQ(s.AnotherAsc, 0x04);
    EXPECT_EQ(s.AnotherAscq, 0x1B);
    EXPECT_EQ(s.Key, 0x06); // the condition itself is another one
    // The condition's own progress wins, in either order.
    const TSense both = Decode(Descriptors(
        0x02, 0x04, 0x07, {AnotherProgress(0x02, 0x04, 0x1B, 0xC000), KeySpecific(0x80, 0x0100)}));
    ASSERT_TRUE(both.Progress);
    EXPECT_EQ(*both.Progress, 0x0100);
    EXPECT_FALSE(both.ProgressOfAnother);
    EXPECT_EQ(both.AnotherAsc, 0);
}

TEST(DescriptorSense, DescriptorsCutShortAreIgnored) {
    const Bytes full = Descriptors(0x02, 0x04, 0x07, {Information(1), KeySpecific(0x80, 0x2000)});
    ASSERT_EQ(full.size(), 8u + 12u + 8u);
    // Cut by the buffer anywhere inside the key-specific descriptor: no progress.
    for (std::size_t length = 0; length < full.size(); ++length)
        EXPECT_FALSE(Decode(full, length).Progress) << length;
    EXPECT_TRUE(Decode(full).Progress);
    // Cut by the additional length.
    Bytes shortLength = full;
    shortLength[7] = 12 + 7;
    EXPECT_FALSE(Decode(shortLength).Progress);
    // A descriptor whose own length runs past the data ends the walk.
    Bytes overlong = full;
    overlong[8 + 1] = 0xF0;
    EXPECT_FALSE(Decode(overlong).Progress);
    // A key-specific descriptor too short for its fields is not read.
    EXPECT_FALSE(Decode(Descriptors(0x02, 0x04, 0x07, {{0x02, 0x02, 0x80, 0x20}})).Progress);
    // Header only, cut inside the codes.
    const TSense header = Decode(full, 3);
    EXPECT_EQ(header.Format, TSenseFormat::Descriptor);
    EXPECT_EQ(header.Key, 0x02);
    EXPECT_FALSE(header.HasCode);
}

TEST(AtaRegistersInSense, FromTheStatusReturnDescriptorWhereverItStands) {
    const TSense s = Decode(Descriptors(0x01, 0x00, 0x1D, {Information(3), StatusReturn(true)}));
    ASSERT_TRUE(s.Ata);
    const std::vector<std::uint8_t> current(s.Ata->Current, s.Ata->Current + 8);
    const std::vector<std::uint8_t> previous(s.Ata->Previous, s.Ata->Previous + 8);
    EXPECT_EQ(current, (Bytes{0x04, 0x34, 0x88, 0x77, 0x66, 0x40, 0x51, 0x00}));
    EXPECT_EQ(previous, (Bytes{0x00, 0x12, 0x00, 0x55, 0x00, 0x00, 0x00, 0x00}));
    // Without the extend bit the high bytes are not the command's: none are given.
    const TSense narrow = Decode(Descriptors(0x01, 0x00, 0x1D, {StatusReturn(false)}));
    ASSERT_TRUE(narrow.Ata);
    EXPECT_EQ(narrow.Ata->Current[1], 0x34);
    EXPECT_EQ(narrow.Ata->Previous[1], 0x00);
    EXPECT_EQ(narrow.Ata->Previous[3], 0x00);
    // The codes are no condition for it, and other sense carries no registers.
    EXPECT_TRUE(Decode(Descriptors(0x00, 0x00, 0x00, {StatusReturn(false)})).Ata);
    EXPECT_FALSE(Decode(Descriptors(0x01, 0x00, 0x1D, {Information(3)})).Ata);
}

TEST(AtaRegistersInSense, AStatusReturnCutShortOrTooShortIsNotRead) {
    const Bytes full = Descriptors(0x01, 0x00, 0x1D, {StatusReturn(true)});
    for (std::size_t length = 0; length < full.size(); ++length)
        EXPECT_FALSE(Decode(full, length).Ata) << length;
    Bytes shortLength = full;
    shortLength[7] = 13;
    EXPECT_FALSE(Decode(shortLength).Ata);
    Bytes tooShort = StatusReturn(true);
    tooShort[1] = 0x0A;
    tooShort.resize(12);
    EXPECT_FALSE(Decode(Descriptors(0x01, 0x00, 0x1D, {tooShort})).Ata);
}

TEST(AtaRegistersInSense, FixedFormatOnlyUnderAtaInformationAvailable) {
    // Information: error, status, device, count (7:0); command-specific: LBA (23:0).
    Bytes b = Fixed(0x01, 0x00, 0x1D);
    b[3] = 0x04;
    b[4] = 0x51;
    b[5] = 0xE0;
    b[6] = 0x02;
    b[9] = 0x11;
    b[10] = 0x22;
    b[11] = 0x33;
    const TSense s = Decode(b);
    ASSERT_TRUE(s.Ata);
    const std::vector<std::uint8_t> current(s.Ata->Current, s.Ata->Current + 8);
    EXPECT_EQ(current, (Bytes{0x04, 0x02, 0x11, 0x22, 0x33, 0xE0, 0x51, 0x00}));
    EXPECT_EQ(s.Ata->Previous[1], 0x00);
    // Other codes put other things in those fields.
    Bytes other = b;
    other[13] = 0x00;
    EXPECT_FALSE(Decode(other).Ata);
    // Without the codes nothing says what the fields hold.
    EXPECT_FALSE(Decode(b, 13).Ata);
    Bytes shortLength = b;
    shortLength[7] = 5;
    EXPECT_FALSE(Decode(shortLength).Ata);
}

TEST(SenseGarbage, NothingUsableIsInvalid) {
    EXPECT_FALSE(DecodeSense(nullptr, 18).Valid());
    EXPECT_FALSE(Decode(Fixed(2, 4, 7), 0).Valid());
    EXPECT_FALSE(Decode(Fixed(2, 4, 7), 2).Valid()); // no key yet
    EXPECT_TRUE(Decode(Fixed(2, 4, 7), 3).Valid());
    EXPECT_FALSE(Decode(Descriptors(2, 4, 7, {}), 1).Valid());
    for (std::uint8_t code : {0x00, 0x01, 0x6F, 0x74, 0x7E, 0x7F, 0xFF}) {
        Bytes b = Fixed(0x02, 0x04, 0x07, 0x80, 0x4000);
        b[0] = code;
        const TSense s = Decode(b);
        EXPECT_FALSE(s.Valid()) << int{code};
        EXPECT_FALSE(s.Progress);
    }
}

TEST(SenseGarbage, RandomBuffersOfEveryLengthStayWithinThem) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 4000; ++round) {
        const std::size_t length = static_cast<std::size_t>(round % 300);
        Bytes b(length);
        for (auto& x : b)
            x = static_cast<std::uint8_t>(byte(random));
        if (length > 0)
            b[0] = static_cast<std::uint8_t>(0x70 + round % 4); // every known format
        const TSense s = Decode(b);
        if (length >= 3) {
            EXPECT_TRUE(s.Valid());
        }
        // A progress value is always one of the buffer's own byte pairs.
        if (s.Progress) {
            bool found = false;
            for (std::size_t i = 0; i + 1 < length && !found; ++i)
                found = ((b[i] << 8) | b[i + 1]) == *s.Progress;
            EXPECT_TRUE(found);
        }
    }
}

} // namespace
} // namespace purgelet
