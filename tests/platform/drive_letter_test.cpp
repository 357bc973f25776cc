// The drive letter of a path, as the disk manager, the unattended run and the back-ends
// read it from a Windows directory, a program's path or a drive's root.
#include "platform/drive_letter.h"

#include <gtest/gtest.h>

namespace {

using platform::DriveLetterOf;

TEST(DriveLetterOf, ALetterAndAColonStartingThePathInUpperCase) {
    EXPECT_EQ(DriveLetterOf("C:\\WINDOWS"), 'C');
    EXPECT_EQ(DriveLetterOf("e:"), 'E');
    EXPECT_EQ(DriveLetterOf("z:\\"), 'Z');
    EXPECT_EQ(DriveLetterOf("D:relative"), 'D');
}

TEST(DriveLetterOf, NoneWhereThePathStartsWithoutOne) {
    EXPECT_EQ(DriveLetterOf(""), 0);
    EXPECT_EQ(DriveLetterOf("C"), 0);    // no colon: a file name
    EXPECT_EQ(DriveLetterOf("1:\\"), 0); // not a letter
    EXPECT_EQ(DriveLetterOf(":\\"), 0);
    EXPECT_EQ(DriveLetterOf("\\\\.\\C:"), 0);  // a device path
    EXPECT_EQ(DriveLetterOf("/home/user"), 0); // a Linux path
    EXPECT_EQ(DriveLetterOf("\xC9:\\"), 0);    // a byte above ASCII is no drive
}

} // namespace
