// The method list: enumeration through the system interface (hidden, system and folder
// entries skipped), the exchange sort, MethodNames, and the shipped method files.
#include "met_files.h"
#include "methods/method.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace purgelet {
namespace {

using testing::MetFolder;

// A kernel32 whose file search returns a scripted list of entries in a chosen order (the
// files themselves are real); every other call goes to the native system.
class ScriptedFind : public platform::Kernel32 {
public:
    struct Entry {
        std::string name;
        DWORD attributes;
    };
    ScriptedFind(std::unique_ptr<platform::Kernel32> host, std::vector<Entry> entries)
        : host_(std::move(host)), entries_(std::move(entries)) {}

    std::string pattern;
    int open = 0;

    HANDLE FindFirstFileA(LPCSTR text, WIN32_FIND_DATAA* data) override {
        pattern = text;
        next_ = 0;
        if (!Next(data)) {
            host_->SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        ++open;
        return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x4242));
    }
    BOOL FindNextFileA(HANDLE, WIN32_FIND_DATAA* data) override {
        if (Next(data))
            return TRUE;
        host_->SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    BOOL FindClose(HANDLE) override {
        --open;
        return TRUE;
    }

    HANDLE GetStdHandle(DWORD which) override { return host_->GetStdHandle(which); }
    DWORD GetLastError() override { return host_->GetLastError(); }
    void SetLastError(DWORD code) override { host_->SetLastError(code); }
    std::string SysErrorMessage(DWORD code) override { return host_->SysErrorMessage(code); }
    BOOL GetVersionExA(OSVERSIONINFOA* info) override { return host_->GetVersionExA(info); }
    std::string GetModuleFileNameA() override { return host_->GetModuleFileNameA(); }
    void GetLocalTime(SYSTEMTIME* time) override { host_->GetLocalTime(time); }
    void GetSystemTime(SYSTEMTIME* time) override { host_->GetSystemTime(time); }
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override {
        return host_->QueryPerformanceCounter(count);
    }
    DWORD GetTickCount() override { return host_->GetTickCount(); }
    void Sleep(DWORD milliseconds) override { host_->Sleep(milliseconds); }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override {
        return host_->CreateEventA(security, manualReset, initialState, name);
    }
    BOOL SetEvent(HANDLE event) override { return host_->SetEvent(event); }
    BOOL ResetEvent(HANDLE event) override { return host_->ResetEvent(event); }
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
        return host_->WaitForSingleObject(object, milliseconds);
    }
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return host_->CreateFileA(name, access, share, security, disposition, flags, templateFile);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return host_->ReadFile(file, buffer, toRead, read, overlapped);
    }
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return host_->WriteFile(file, buffer, toWrite, written, overlapped);
    }
    DWORD SetFilePointer(HANDLE file, LONG low, PLONG high, DWORD method) override {
        return host_->SetFilePointer(file, low, high, method);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
        return host_->DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    }
    BOOL CloseHandle(HANDLE handle) override { return host_->CloseHandle(handle); }
    DWORD GetFileAttributesA(LPCSTR name) override { return host_->GetFileAttributesA(name); }
    BOOL FlushFileBuffers(HANDLE file) override { return host_->FlushFileBuffers(file); }
    BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) override {
        return host_->MoveFileExA(from, to, flags);
    }
    BOOL DeleteFileA(LPCSTR name) override { return host_->DeleteFileA(name); }
    DWORD GetLogicalDrives() override { return host_->GetLogicalDrives(); }
    UINT GetDriveTypeA(LPCSTR root) override { return host_->GetDriveTypeA(root); }
    BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                               LPDWORD maxComponentLength, LPDWORD fileSystemFlags,
                               LPSTR fileSystemName, DWORD fileSystemNameSize) override {
        return host_->GetVolumeInformationA(root, volumeName, volumeNameSize, serial,
                                            maxComponentLength, fileSystemFlags, fileSystemName,
                                            fileSystemNameSize);
    }
    BOOL GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                             PULARGE_INTEGER totalFree) override {
        return host_->GetDiskFreeSpaceExA(root, freeToCaller, total, totalFree);
    }
    DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) override {
        return host_->QueryDosDeviceA(device, target, size);
    }

private:
    bool Next(WIN32_FIND_DATAA* data) {
        if (next_ >= entries_.size())
            return false;
        std::memset(data, 0, sizeof *data);
        data->dwFileAttributes = entries_[next_].attributes;
        std::strncpy(data->cFileName, entries_[next_].name.c_str(), MAX_PATH - 1);
        ++next_;
        return true;
    }
    std::unique_ptr<platform::Kernel32> host_;
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
};

class ListTest : public ::testing::Test {
protected:
    // Installs a system whose search returns entries; returns the scripted kernel32.
    ScriptedFind& Script(std::vector<ScriptedFind::Entry> entries) {
        machine_.reset(); // scoped systems must be undone in reverse order
        auto system = platform::CreateNativeSystem();
        auto host = std::move(system->kernel32);
        auto find = std::make_unique<ScriptedFind>(std::move(host), std::move(entries));
        ScriptedFind& result = *find;
        system->kernel32 = std::move(find);
        machine_ = std::make_unique<platform::ScopedSystem>(std::move(system));
        return result;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (std::size_t i = 1; i < Methods.size(); ++i)
            names.push_back(Methods[i]->FileName);
        return names;
    }

    MetFolder folder_;
    std::unique_ptr<platform::ScopedSystem> machine_;
};

constexpr DWORD kArchive = FILE_ATTRIBUTE_ARCHIVE;

TEST_F(ListTest, ExchangeSortOverTheEnumerationOrder) {
    folder_.Write("a.met", {"METHODNR=2", "NAME=A", "HEXA=$00"});
    folder_.Write("b.met", {"METHODNR=1", "NAME=B", "HEXA=$00"});
    folder_.Write("c.met", {"METHODNR=2", "NAME=C", "HEXA=$00"});
    folder_.Write("d.met", {"METHODNR=1", "NAME=D", "HEXA=$00"});
    folder_.Write("e.met", {"NAME=E", "HEXA=$00", "CHECK", "HEXA=$00"}); // MethodNr 3
    auto& find = Script({{"a.met", kArchive},
                         {"b.met", kArchive},
                         {"c.met", kArchive},
                         {"d.met", kArchive},
                         {"e.met", kArchive}});
    LoadMethodsFrom(folder_.str());
    EXPECT_EQ(find.pattern, (folder_.path() / "*.met").string());
    EXPECT_EQ(find.open, 0);
    // Not a stable sort: a and c, both 2, change places.
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.met", "d.met", "c.met", "a.met", "e.met"}));
    ASSERT_EQ(MethodNames.size(), 6u);
    EXPECT_EQ(MethodNames, (std::vector<std::string>{"", "B", "D", "C", "A", "E"}));
    for (std::size_t i = 0; i < Methods.size(); ++i)
        EXPECT_EQ(Methods[i]->Index, static_cast<std::int32_t>(i));
    EXPECT_TRUE(Methods[0]->IsZeroMethod);
}

TEST_F(ListTest, HiddenSystemFoldersAndShortNameMatchesAreSkipped) {
    folder_.Write("plain.met", {"NAME=Plain", "HEXA=$00"});
    folder_.Write("readonly.met", {"NAME=Read only", "HEXA=$00"});
    // The skipped entries would stop the load if they were read.
    folder_.Write("hidden.met", {"broken"});
    folder_.Write("system.met", {"broken"});
    folder_.Write("long.metx", {"broken"});
    Script({{"hidden.met", FILE_ATTRIBUTE_HIDDEN | kArchive},
            {"plain.met", kArchive},
            {"system.met", FILE_ATTRIBUTE_SYSTEM},
            {"folder.met", FILE_ATTRIBUTE_DIRECTORY},
            {"long.metx", kArchive},
            {"readonly.met", FILE_ATTRIBUTE_READONLY}});
    LoadMethodsFrom(folder_.str());
    EXPECT_EQ(Names(), (std::vector<std::string>{"plain.met", "readonly.met"}));
}

TEST_F(ListTest, AnEmptyFolderLeavesTheInternalMethodOnly) {
    Script({});
    LoadMethodsFrom(folder_.str());
    ASSERT_EQ(Methods.size(), 1u);
    EXPECT_TRUE(Methods[0]->IsZeroMethod);
    EXPECT_EQ(MethodNames, std::vector<std::string>{""});
}

TEST_F(ListTest, AFaultyFileStopsTheLoadAndKeepsTheOldList) {
    folder_.Write("good.met", {"NAME=Good", "HEXA=$00"});
    Script({{"good.met", kArchive}});
    LoadMethodsFrom(folder_.str());
    ASSERT_EQ(Methods.size(), 2u);

    std::string bad = folder_.Write("bad.met", {"HEXA=$00", "CHECK", "CHECK"});
    Script({{"good.met", kArchive}, {"bad.met", kArchive}});
    try {
        LoadMethodsFrom(folder_.str());
        FAIL() << "no error";
    } catch (const XException& error) {
        EXPECT_EQ(std::string(error.what()), "* Too many consecutive check.  (" + bad + ")");
    }
    EXPECT_EQ(Methods.size(), 2u);
    EXPECT_EQ(MethodNames[1], "Good");
}

// The real system's search, as on the running platform.
TEST_F(ListTest, NativeEnumerationCreatesAMissingFolder) {
    std::filesystem::path missing = folder_.path() / "deeper" / "Methods";
    LoadMethodsFrom(missing.string());
    EXPECT_TRUE(std::filesystem::is_directory(missing));
    EXPECT_EQ(Methods.size(), 1u);

    folder_.Write("one.met", {"METHODNR=2", "NAME=One", "HEXA=$00"});
    folder_.Write("two.met", {"METHODNR=1", "NAME=Two", "HEXA=$00"});
    folder_.Write("notes.txt", {"not a method"});
    LoadMethodsFrom(folder_.str());
    EXPECT_EQ(MethodNames, (std::vector<std::string>{"", "Two", "One"}));
}

TEST_F(ListTest, ShippedMethodFilesAllLoad) {
    std::filesystem::path shipped = std::filesystem::path(PURGELET_SOURCE_DIR) / "data" / "Methods";
    LoadMethodsFrom(shipped.string());
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(shipped))
        files += entry.path().extension() == ".met";
    ASSERT_EQ(Methods.size(), files + 1);
    for (std::size_t i = 1; i < Methods.size(); ++i) {
        const method& m = *Methods[i];
        EXPECT_FALSE(m.Name.empty()) << m.FileName;
        // A drive's own erase counts as the method's pass.
        EXPECT_GE(m.PassCount + (m.Firmware != TFirmwareStep::None ? 1 : 0), 1) << m.FileName;
        if (i > 1) {
            EXPECT_LT(Methods[i - 1]->MethodNr, m.MethodNr) << m.FileName; // a clear order
        }
        if (m.FileName == "gutmann.met") {
            EXPECT_EQ(m.PassCount, 35);
            EXPECT_TRUE(m.Shuffle);
            EXPECT_EQ(m.ShuffleFrom, 5);
            EXPECT_EQ(m.ShuffleTo, 31);
            for (int slot : {1, 4, 32, 35})
                EXPECT_TRUE(m.Steps[static_cast<std::size_t>(slot)]->IsRandom) << slot;
            for (int slot = 5; slot <= 31; ++slot)
                EXPECT_FALSE(m.Steps[static_cast<std::size_t>(slot)]->IsRandom) << slot;
        }
    }
    EXPECT_EQ(Methods[1]->FileName, "zero.met");
}

TEST_F(ListTest, LoadMethodsReadsTheFolderBesideTheExecutable) {
    LoadMethods();
    std::filesystem::path exe = platform::k32().GetModuleFileNameA();
    EXPECT_EQ(MethodsDir, (exe.parent_path() / "Methods").string());
    EXPECT_GE(Methods.size(), 2u); // the build copies the shipped files there
}

} // namespace
} // namespace purgelet
