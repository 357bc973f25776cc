// The storage property query as the back-ends without Windows answer it: the request checked
// as Windows checks it, a descriptor cut to the caller's buffer with its Size still telling
// the whole, the seek penalty only where it is known, and the words for the bus types.
#include "platform/storage_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using platform::AnswerStorageQuery;
using platform::StorageDeviceFacts;

STORAGE_PROPERTY_QUERY Query(DWORD property, DWORD type = PropertyStandardQuery) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = static_cast<STORAGE_PROPERTY_ID>(property);
    query.QueryType = static_cast<STORAGE_QUERY_TYPE>(type);
    return query;
}

StorageDeviceFacts Facts() {
    StorageDeviceFacts facts;
    facts.product = "WDC WD400BB-00DEA0";
    facts.serial = "WD-WMAD1E123456";
    facts.revision = "05.03E05";
    facts.busType = BusTypeAta;
    facts.removable = true;
    return facts;
}

TEST(StorageQuery, TheDescriptorIsCutToTheBufferAndItsSizeTellsTheWhole) {
    const auto whole = platform::DeviceDescriptorBytes(Facts());
    auto query = Query(StorageDeviceProperty);
    std::vector<std::uint8_t> out(whole.size() + 10, 0xEE);
    DWORD returned = 99;
    ASSERT_EQ(AnswerStorageQuery(Facts(), &query, sizeof query, out.data(),
                                 static_cast<DWORD>(out.size()), &returned),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(returned, whole.size());
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), out.begin()));
    EXPECT_EQ(out[whole.size()], 0xEE); // nothing written past the answer
    STORAGE_DEVICE_DESCRIPTOR fixed{};
    std::memcpy(&fixed, whole.data(), offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties));
    EXPECT_EQ(fixed.Size, whole.size());
    EXPECT_EQ(fixed.RemovableMedia, TRUE);
    EXPECT_EQ(fixed.VendorIdOffset, 0u); // no vendor text: none is given
    EXPECT_EQ(fixed.BusType, BusTypeAta);
    EXPECT_STREQ(reinterpret_cast<const char*>(whole.data() + fixed.SerialNumberOffset),
                 "WD-WMAD1E123456");

    // Only the header fits: it is all there is, and it tells how much to ask for.
    STORAGE_DESCRIPTOR_HEADER header{};
    ASSERT_EQ(AnswerStorageQuery(Facts(), &query, sizeof query, &header, sizeof header, &returned),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(returned, sizeof header);
    EXPECT_EQ(header.Size, whole.size());
    std::uint8_t tiny[4] = {};
    EXPECT_EQ(AnswerStorageQuery(Facts(), &query, sizeof query, tiny, sizeof tiny, &returned),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(returned, 0u);
}

TEST(StorageQuery, MalformedRequestsAndUnknownPropertiesAreRefused) {
    DWORD returned = 0;
    std::uint8_t out[256] = {};
    auto query = Query(StorageDeviceProperty);
    EXPECT_EQ(AnswerStorageQuery(Facts(), nullptr, sizeof query, out, sizeof out, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(AnswerStorageQuery(Facts(), &query, 7, out, sizeof out, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    auto masked = Query(StorageDeviceProperty, 2); // PropertyMaskQuery
    EXPECT_EQ(AnswerStorageQuery(Facts(), &masked, sizeof masked, out, sizeof out, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    auto adapter = Query(1); // StorageAdapterProperty
    EXPECT_EQ(AnswerStorageQuery(Facts(), &adapter, sizeof adapter, out, sizeof out, &returned),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    // The fixed part of the request is enough: AdditionalParameters is not read.
    EXPECT_EQ(AnswerStorageQuery(Facts(), &query, 8, out, sizeof out, &returned),
              static_cast<DWORD>(ERROR_SUCCESS));
    auto exists = Query(StorageDeviceProperty, PropertyExistsQuery);
    EXPECT_EQ(AnswerStorageQuery(Facts(), &exists, sizeof exists, nullptr, 0, &returned),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(returned, 0u);
}

TEST(StorageQuery, TheSeekPenaltyIsToldOnlyWhereItIsKnown) {
    auto query = Query(StorageDeviceSeekPenaltyProperty);
    auto exists = Query(StorageDeviceSeekPenaltyProperty, PropertyExistsQuery);
    DEVICE_SEEK_PENALTY_DESCRIPTOR penalty{};
    DWORD returned = 0;
    StorageDeviceFacts facts = Facts();
    EXPECT_EQ(AnswerStorageQuery(facts, &query, sizeof query, &penalty, sizeof penalty, &returned),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(AnswerStorageQuery(facts, &exists, sizeof exists, nullptr, 0, &returned),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    for (bool rotational : {true, false}) {
        facts.rotational = rotational;
        ASSERT_EQ(
            AnswerStorageQuery(facts, &query, sizeof query, &penalty, sizeof penalty, &returned),
            static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(returned, sizeof penalty);
        EXPECT_EQ(penalty.IncursSeekPenalty != FALSE, rotational);
        EXPECT_EQ(AnswerStorageQuery(facts, &query, sizeof query, &penalty, 8, &returned),
                  static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
}

TEST(StorageBusWords, EveryWordNamesItsTypeBackAndLoopNeedsItsTag) {
    EXPECT_EQ(platform::BusTypeOfWord("unknown"), DWORD{BusTypeUnknown});
    for (DWORD type = BusTypeScsi; type < BusTypeMax; ++type) {
        const std::string word = platform::BusTypeWord(type);
        EXPECT_NE(word, "unknown") << type << " has no word of its own";
        EXPECT_EQ(platform::BusTypeOfWord(word), type) << word;
    }
    EXPECT_EQ(platform::BusTypeOfWord("sata"), DWORD{BusTypeSata});
    EXPECT_EQ(platform::BusTypeOfWord("Loop"), DWORD{BusTypeFileBackedVirtual});
    EXPECT_EQ(platform::BusTypeWord(BusTypeFileBackedVirtual, true), "loop");
    EXPECT_EQ(platform::BusTypeWord(BusTypeUsb, true), "USB"); // the tag means nothing there
    EXPECT_FALSE(platform::BusTypeOfWord("floppy bus").has_value());
    EXPECT_EQ(platform::BusTypeWord(0x7E), "unknown");
}

} // namespace
