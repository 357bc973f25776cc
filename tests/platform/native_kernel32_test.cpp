// The native back-end of this build (Linux, or real Windows under Wine) must answer the
// file calls the way Windows does: the disk code tests exactly these results.
#include "platform/system.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

class NativeKernel32 : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("purgelet_native_" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        system.reset();
        fs::remove_all(folder);
    }
    std::string Path(const std::string& name) const { return (folder / name).string(); }

    std::unique_ptr<platform::System> system = platform::CreateNativeSystem();
    platform::Kernel32& k = *system->kernel32;
    fs::path folder;
};

TEST_F(NativeKernel32, MissingFilesFailWithTheWindowsCodeAndText) {
    HANDLE h = k.CreateFileA(Path("absent.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(k.SysErrorMessage(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_FALSE(k.SysErrorMessage(ERROR_ACCESS_DENIED).empty());
    std::string text = k.SysErrorMessage(ERROR_ACCESS_DENIED);
    EXPECT_NE(text.back(), '\n');
}

TEST_F(NativeKernel32, WritesReadsAndSeeksWithWindowsResults) {
    std::string name = Path("data.bin");
    HANDLE h =
        k.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const char text[] = "0123456789";
    DWORD done = 0;
    ASSERT_TRUE(k.WriteFile(h, text, 10, &done, nullptr));
    EXPECT_EQ(done, 10u);

    LONG high = 0;
    EXPECT_EQ(k.SetFilePointer(h, 4, &high, FILE_BEGIN), 4u);
    char got[16] = {};
    ASSERT_TRUE(k.ReadFile(h, got, 16, &done, nullptr));
    EXPECT_EQ(done, 6u) << "a read past the end is short, not an error";
    EXPECT_EQ(std::string(got, 6), "456789");

    // A position beyond 4 GiB is given by its high part; the low part is the result.
    high = 1;
    EXPECT_EQ(k.SetFilePointer(h, 16, &high, FILE_BEGIN), 16u);
    EXPECT_EQ(high, 1);
    // A low part of 0xFFFFFFFF is a success that only the last error tells apart.
    high = 0;
    k.SetLastError(ERROR_ACCESS_DENIED);
    DWORD low = k.SetFilePointer(h, static_cast<LONG>(0xFFFFFFFFu), &high, FILE_BEGIN);
    EXPECT_EQ(low, 0xFFFFFFFFu);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(k.CloseHandle(h));
    EXPECT_FALSE(k.CloseHandle(h));
}

TEST_F(NativeKernel32, EnumeratesByWildcardWithoutRegardToCase) {
    for (const char* name : {"a.met", "B.MET", "c.txt"})
        std::ofstream(Path(name)) << "x";
    fs::create_directories(folder / "d.met");
    WIN32_FIND_DATAA data{};
    std::string pattern = (folder / "*.met").string();
    HANDLE find = k.FindFirstFileA(pattern.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::set<std::string> files, folders;
    do {
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files).insert(data.cFileName);
    } while (k.FindNextFileA(find, &data));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(k.FindClose(find));
    EXPECT_EQ(files, (std::set<std::string>{"a.met", "B.MET"}));
    EXPECT_EQ(folders, (std::set<std::string>{"d.met"}));

    std::string none = (folder / "*.lng").string();
    EXPECT_EQ(k.FindFirstFileA(none.c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(NativeKernel32, KnowsItsExecutableAndPlatform) {
    fs::path exe = k.GetModuleFileNameA();
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_EQ(exe.stem().string(), "test_platform");
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(k.GetVersionExA(&version));
    EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    LARGE_INTEGER a{}, b{};
    k.QueryPerformanceCounter(&a);
    k.Sleep(2);
    k.QueryPerformanceCounter(&b);
    EXPECT_GT(b.QuadPart, a.QuadPart);
}

} // namespace
