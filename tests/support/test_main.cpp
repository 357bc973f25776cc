// The test programs start as the program does: the default system is installed before any
// test runs (a test that needs another installs its own over it, and puts it back). Started
// for one part of a test (support/test_part.h), the program runs that part alone.
#include "platform/system.h"
#include "support/test_part.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string why;
    if (!platform::InstallDefaultSystem(why)) {
        std::fprintf(stderr, "the system could not be installed: %s\n", why.c_str());
        return 2;
    }
    if (auto code = purgelet::testing::RunRequestedTestPart(argc, argv))
        return *code;
    return RUN_ALL_TESTS();
}
