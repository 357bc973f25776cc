// Hostile language files: mutated valid files and random bytes through the decoder and the
// table parser. Built only with AddressSanitizer and UBSan, which turn any read or write out
// of bounds into a failure; the checks here catch hangs, invented output and broken tables.
#include "lang/language.h"
#include "lang/lzhpacker.h"
#include "purgelet-tool/lang_source.h"
#include "purgelet-tool/lzh_encoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t DeclaredLength(const std::string& file) {
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4 && i < file.size(); ++i)
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(file[i])) << (8 * i);
    return length;
}

void CheckTable(const TValueList& table, bool loaded) {
    if (!loaded) {
        ASSERT_TRUE(table.Entries.empty());
        return;
    }
    ASSERT_LE(table.Entries.size(), static_cast<std::size_t>(TValueList::MaxEntries));
    for (const TValueEntry& entry : table.Entries) {
        ASSERT_LE(entry.Key.size(), static_cast<std::size_t>(TValueList::MaxLength));
        ASSERT_LE(entry.Value.size(), static_cast<std::size_t>(TValueList::MaxLength));
    }
    std::string value;
    for (const TValueEntry& entry : table.Entries)
        table.Find(entry.Key, value);
    table.Find("PURGELET.WIPING", value);
}

// Decodes a file and parses what came out, checking what any input must respect.
void CheckFile(const std::string& file) {
    std::istringstream source(file);
    std::stringstream decoded;
    const bool complete = TLZHPacker().Unpack(source, decoded);
    const std::size_t produced = decoded.str().size();
    const std::uint32_t declared = DeclaredLength(file);
    ASSERT_LE(produced, declared);
    // Each code takes one bit at least, a match (at most 60 bytes) ten: no more than six
    // bytes come out per bit that went in.
    const std::size_t bits = file.size() > 4 ? (file.size() - 4) * 8 : 0;
    ASSERT_LE(produced, bits * 6);
    if (complete) {
        ASSERT_EQ(produced, declared);
    }
    TValueList table;
    CheckTable(table, table.LoadFromStream(decoded));
}

void CheckContent(const std::string& content) {
    std::istringstream stream(content);
    TValueList table;
    CheckTable(table, table.LoadFromStream(stream));
}

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : random_(seed) {}

    std::uint32_t Below(std::uint32_t bound) { return bound == 0 ? 0 : random_() % bound; }

    std::string RandomBytes(std::size_t size) {
        std::string out(size, '\0');
        for (char& ch : out)
            ch = static_cast<char>(random_());
        return out;
    }

    std::string Mutate(std::string data) {
        const std::uint32_t rounds = 1 + Below(6);
        for (std::uint32_t i = 0; i < rounds; ++i) {
            const std::size_t at = Below(static_cast<std::uint32_t>(data.size() + 1));
            switch (Below(8)) {
            case 0: // flip a bit
                if (at < data.size())
                    data[at] = static_cast<char>(data[at] ^ (1 << Below(8)));
                break;
            case 1: // set a byte
                if (at < data.size())
                    data[at] = static_cast<char>(random_());
                break;
            case 2: // insert bytes
                data.insert(at, RandomBytes(1 + Below(16)));
                break;
            case 3: // delete a range
                data.erase(at, Below(32));
                break;
            case 4: // truncate
                data.resize(at);
                break;
            case 5: // a 32-bit field somewhere: a length or count at its edge
            {
                static constexpr std::uint32_t Edges[] = {
                    0,      1,      0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                    100000, 100001, 10000000,   10000001,   0xFFFFFFFE};
                const std::uint32_t value = Edges[Below(std::size(Edges))];
                for (std::size_t k = 0; k < 4 && at + k < data.size(); ++k)
                    data[at + k] = static_cast<char>((value >> (8 * k)) & 0xFFu);
                break;
            }
            case 6: // duplicate a chunk
                if (!data.empty()) {
                    const std::size_t from = Below(static_cast<std::uint32_t>(data.size()));
                    data.insert(at, data.substr(from, Below(64)));
                }
                break;
            default: // the header's declared length
                if (data.size() >= 4) {
                    const std::uint32_t length = Below(2) ? random_() : Below(1 << 16);
                    for (int k = 0; k < 4; ++k)
                        data[static_cast<std::size_t>(k)] =
                            static_cast<char>((length >> (8 * k)) & 0xFFu);
                }
                break;
            }
        }
        return data;
    }

private:
    std::mt19937 random_;
};

std::vector<std::string> SeedContents() {
    std::vector<std::string> contents;
    contents.push_back(tool::BuildLanguageContent({}, true));
    contents.push_back(tool::BuildLanguageContent(
        tool::ParseLanguageSource("Purgelet.A=one\nPurgelet.AB=two\nreport.E=\n"), true));
    std::string source;
    for (int i = 0; i < 200; ++i)
        source += "Purgelet.KEY" + std::to_string(i) + "=Text " + std::to_string(i * 7919) +
                  " for the wizard\\r\\nsecond line\n";
    contents.push_back(tool::BuildLanguageContent(tool::ParseLanguageSource(source), true));
    contents.push_back(
        tool::BuildLanguageContent({{"S.K", "first"}, {"S.K", "second"}, {"S.A", ""}}, false));
    contents.push_back(std::string(3000, 'a')); // long runs: matches over their own output
    return contents;
}

// The budget keeps the run well inside CI's time even on a slow sanitizer build.
constexpr auto Budget = std::chrono::seconds(8);

TEST(LangFuzz, MutatedValidFilesDecodeAndParseSafely) {
    std::vector<std::string> files;
    for (const std::string& content : SeedContents())
        files.push_back(tool::LzhPack(content));
    for (const std::string& file : files)
        ASSERT_NO_FATAL_FAILURE(CheckFile(file));
    Mutator mutator(20240611);
    const auto start = Clock::now();
    int runs = 0;
    for (; runs < 40000 && Clock::now() - start < Budget; ++runs) {
        const std::string& seed = files[mutator.Below(static_cast<std::uint32_t>(files.size()))];
        ASSERT_NO_FATAL_FAILURE(CheckFile(mutator.Mutate(seed))) << "run " << runs;
    }
    EXPECT_GT(runs, 100); // even on a loaded machine
    std::printf("%d inputs\n", runs);
}

TEST(LangFuzz, MutatedContentParsesSafely) {
    const std::vector<std::string> contents = SeedContents();
    Mutator mutator(77);
    const auto start = Clock::now();
    int runs = 0;
    for (; runs < 40000 && Clock::now() - start < Budget; ++runs) {
        const std::string& seed =
            contents[mutator.Below(static_cast<std::uint32_t>(contents.size()))];
        ASSERT_NO_FATAL_FAILURE(CheckContent(mutator.Mutate(seed))) << "run " << runs;
    }
    EXPECT_GT(runs, 100); // even on a loaded machine
    std::printf("%d inputs\n", runs);
}

TEST(LangFuzz, RandomFilesDecodeAndParseSafely) {
    Mutator mutator(4242);
    const auto start = Clock::now();
    int runs = 0;
    for (; runs < 20000 && Clock::now() - start < Budget; ++runs) {
        std::string file = mutator.RandomBytes(mutator.Below(1500));
        if (file.size() >= 4 && mutator.Below(2)) {
            // A plausible small declared length, so the decoder gets deep into the stream.
            const std::uint32_t length = mutator.Below(20000);
            for (int k = 0; k < 4; ++k)
                file[static_cast<std::size_t>(k)] = static_cast<char>((length >> (8 * k)) & 0xFFu);
        }
        ASSERT_NO_FATAL_FAILURE(CheckFile(file)) << "run " << runs;
        ASSERT_NO_FATAL_FAILURE(CheckContent(file)) << "run " << runs;
    }
    EXPECT_GT(runs, 100); // even on a loaded machine
    std::printf("%d inputs\n", runs);
}

} // namespace
} // namespace purgelet
