// The LZHUF decoder against hand-checked streams, the companion tool's encoder, and damaged
// or hostile input.
#include "lang/lzhpacker.h"
#include "purgelet-tool/lzh_encoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>

namespace purgelet {
namespace {

struct Unpacked {
    bool complete = false;
    std::string bytes;
};

Unpacked Unpack(const std::string& file) {
    std::istringstream source(file);
    std::ostringstream dest;
    Unpacked result;
    result.complete = TLZHPacker().Unpack(source, dest);
    result.bytes = dest.str();
    return result;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::string RandomBytes(std::size_t size, std::uint32_t seed, int alphabet = 256) {
    std::mt19937 generator(seed);
    std::string out(size, '\0');
    for (char& ch : out)
        ch = static_cast<char>(generator() % static_cast<unsigned>(alphabet));
    return out;
}

void ExpectRoundTrip(const std::string& content) {
    const std::string packed = tool::LzhPack(content);
    const Unpacked back = Unpack(packed);
    EXPECT_TRUE(back.complete);
    ASSERT_EQ(back.bytes.size(), content.size());
    EXPECT_TRUE(back.bytes == content);
}

// In the fresh tree the leaves are nodes 0..313 and node n >= 314 has the children
// 2(n - 314) and 2(n - 314) + 1; a node's bit is its index's lowest bit.
// 'A' (node 65) climbs 65, 346, 487, 557, 592, 610, 619, 623, 625 to the root: read from
// the root that is 1 1 1 0 0 1 1 0 1, padded: E6 80.
const std::string LetterA = Bytes({0x01, 0, 0, 0, 0xE6, 0x80});
// Code 256 (a 3-byte match) climbs 256, 442, 535, 581, 604, 616, 622, 625: 1 0 0 0 1 1 0 0;
// then position 0 (distance 1) as the 3-bit code 000 and six zero bits: 8C 00 00.
const std::string ThreeSpaces = Bytes({0x03, 0, 0, 0, 0x8C, 0x00, 0x00});

TEST(LzhDecoder, HandCheckedLiteral) {
    const Unpacked out = Unpack(LetterA);
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.bytes, "A");
}

TEST(LzhDecoder, HandCheckedMatchCopiesTheLeadingSpaces) {
    const Unpacked out = Unpack(ThreeSpaces);
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.bytes, "   ");
}

TEST(LzhDecoder, MatchPastTheDeclaredLengthIsCut) {
    std::string file = ThreeSpaces;
    file[0] = 2;
    const Unpacked out = Unpack(file);
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.bytes, "  ");
}

TEST(LzhDecoder, ZeroLengthProducesNothing) {
    const Unpacked out = Unpack(Bytes({0, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_TRUE(out.complete);
    EXPECT_TRUE(out.bytes.empty());
}

TEST(LzhDecoder, IncompleteHeaderIsRefused) {
    for (int size = 0; size < 4; ++size)
        EXPECT_FALSE(Unpack(std::string(static_cast<std::size_t>(size), '\1')).complete) << size;
}

TEST(LzhDecoder, AppendsToTheDestination) {
    std::istringstream source(LetterA);
    std::ostringstream dest;
    dest << "x";
    EXPECT_TRUE(TLZHPacker().Unpack(source, dest));
    EXPECT_EQ(dest.str(), "xA");
}

TEST(LzhDecoder, StartsAtTheSourcesPosition) {
    std::istringstream source("junk" + LetterA);
    source.seekg(4);
    std::ostringstream dest;
    EXPECT_TRUE(TLZHPacker().Unpack(source, dest));
    EXPECT_EQ(dest.str(), "A");
}

TEST(LzhEncoder, ReproducesTheHandCheckedStreams) {
    EXPECT_EQ(tool::LzhPack("A"), LetterA);
    EXPECT_EQ(tool::LzhPack("   "), ThreeSpaces);
    EXPECT_EQ(tool::LzhPack(""), Bytes({0, 0, 0, 0}));
}

TEST(LzhRoundTrip, ShortAndTextualContent) {
    ExpectRoundTrip("x");
    ExpectRoundTrip("ab");
    ExpectRoundTrip(std::string(1, '\0'));
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "PURGELET.KEY" + std::to_string(i) + "=Wiping drive " + std::to_string(i % 7) +
                " of the list\r\n";
    ExpectRoundTrip(text);
}

TEST(LzhRoundTrip, LongRunsUseMatchesOverlappingTheirOwnOutput) {
    const std::string run(1 << 20, 'a');
    const std::string packed = tool::LzhPack(run);
    // Some 17500 matches of 60 bytes at distance 1: each byte repeats the one before.
    EXPECT_LT(packed.size(), run.size() / 30);
    const Unpacked back = Unpack(packed);
    EXPECT_TRUE(back.complete);
    EXPECT_TRUE(back.bytes == run);

    ExpectRoundTrip(std::string(5000, ' ')); // matches into the ring's leading spaces
    std::string periodic;
    for (int i = 0; i < 20000; ++i)
        periodic += "xyz"[i % 3];
    ExpectRoundTrip(periodic);
}

TEST(LzhRoundTrip, RandomContentRebuildsTheTreeAndCrossesBlocks) {
    // More than 0x8000 literals: the root reaches its limit and the tree is halved, several
    // times; both sides must rebuild alike. 200 KB also spans many 10240-byte blocks.
    ExpectRoundTrip(RandomBytes(200000, 1));
    ExpectRoundTrip(RandomBytes(100000, 2, 4)); // skewed: deep codes, many short matches
    ExpectRoundTrip(RandomBytes(10240, 3));
    ExpectRoundTrip(RandomBytes(10241, 4));
}

TEST(LzhRoundTrip, MatchesAcrossTheWholeWindow) {
    // A 4000-byte random block repeated: distances near the window's 4095 limit.
    const std::string block = RandomBytes(4000, 5);
    std::string content;
    for (int i = 0; i < 12; ++i)
        content += block;
    const std::string packed = tool::LzhPack(content);
    EXPECT_LT(packed.size(), block.size() * 2);
    const Unpacked back = Unpack(packed);
    EXPECT_TRUE(back.complete);
    EXPECT_TRUE(back.bytes == content);
}

TEST(LzhDecoder, EveryTruncationEndsWithoutInventingOutput) {
    std::string content;
    for (int i = 0; i < 300; ++i)
        content += "S.K" + std::to_string(i) + "=value " + std::to_string(i * 37) + ";";
    const std::string packed = tool::LzhPack(content);
    for (std::size_t cut = 0; cut < packed.size(); ++cut) {
        const Unpacked out = Unpack(packed.substr(0, cut));
        EXPECT_FALSE(out.complete) << cut;
        ASSERT_LT(out.bytes.size(), content.size()) << cut;
        EXPECT_EQ(out.bytes, content.substr(0, out.bytes.size())) << cut;
    }
}

TEST(LzhDecoder, HostileLengthEndsWithTheInput) {
    // 4 GiB declared behind a few bytes of stream: decoding ends where the bits end.
    const auto start = std::chrono::steady_clock::now();
    std::string file = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
    file += RandomBytes(1000, 6);
    const Unpacked out = Unpack(file);
    EXPECT_FALSE(out.complete);
    EXPECT_LE(out.bytes.size(), 1000u * 8 * 60 / 9); // a match needs 9 bits at least
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // A valid stream whose header claims more than it holds.
    std::string longer = tool::LzhPack("hello, world");
    longer[1] = 1;
    const Unpacked cut = Unpack(longer);
    EXPECT_FALSE(cut.complete);
    EXPECT_EQ(cut.bytes.substr(0, 12), "hello, world");
}

TEST(LzhDecoder, FailingDestinationStops) {
    std::istringstream source(tool::LzhPack(RandomBytes(50000, 7)));
    std::ostringstream dest;
    dest.setstate(std::ios::badbit);
    EXPECT_FALSE(TLZHPacker().Unpack(source, dest));
}

} // namespace
} // namespace purgelet
