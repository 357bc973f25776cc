// The conversions between UTF-8 (machine files, registry files) and the program's
// Windows-1252.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::Cp1252ToUtf8;
using platform::Utf8ToCp1252;

TEST(Utf8ToCp1252, LettersOfTheCodePageBecomeTheirBytes) {
    EXPECT_EQ(Utf8ToCp1252("DONN\xC3\x89"
                           "ES (T:)"),
              "DONN\xC9"
              "ES (T:)");
    EXPECT_EQ(Utf8ToCp1252("L\xC3\xB6schbericht"), "L\xF6schbericht");
    // The characters the code page keeps in 80h..9Fh: euro sign, en dash, trade mark.
    EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC \xE2\x80\x93 \xE2\x84\xA2"), "\x80 \x96 \x99");
    EXPECT_EQ(Utf8ToCp1252("plain ASCII"), "plain ASCII");
    EXPECT_EQ(Utf8ToCp1252(""), "");
}

TEST(Utf8ToCp1252, CharactersTheCodePageLacksBecomeQuestionMarks) {
    // CJK, Cyrillic and a character beyond the basic plane (an emoji): one "?" each.
    EXPECT_EQ(Utf8ToCp1252("\xE6\x95\xB0\xE6\x8D\xAE (T:)"), "?? (T:)");
    EXPECT_EQ(Utf8ToCp1252("\xD0\x94\xD0\xB0"), "??");
    EXPECT_EQ(Utf8ToCp1252("A\xF0\x9F\x98\x80Z"), "A?Z");
}

TEST(Utf8ToCp1252, InvalidBytesBecomeQuestionMarksAndTheRestSurvives) {
    EXPECT_EQ(Utf8ToCp1252("A\xFF"
                           "B"),
              "A?B");                               // no UTF-8 lead byte
    EXPECT_EQ(Utf8ToCp1252("A\xC3"), "A?");         // cut short at the end
    EXPECT_EQ(Utf8ToCp1252("\xC3(x"), "?(x");       // a lead without its continuation
    EXPECT_EQ(Utf8ToCp1252("\xC0\xAF"), "??");      // overlong "/"
    EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???"); // a surrogate
    EXPECT_EQ(Utf8ToCp1252("\x80"
                           "abc"),
              "?abc"); // a stray continuation byte
}

TEST(Cp1252ToUtf8, EveryByteStringComesBackUnchanged) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_NE(utf8, all); // the high half is really converted
    EXPECT_EQ(Utf8ToCp1252(utf8), all);
    EXPECT_EQ(Cp1252ToUtf8("\xC9t\xE9 \x80"), "\xC3\x89t\xC3\xA9 \xE2\x82\xAC");
}

} // namespace
