#include "report/errorlog.h"

#include "platform/system.h"
#include "report/date_time.h"

#include <filesystem>
#include <fstream>
#include <mutex>

namespace purgelet {

bool ErrorLogEnabled = false;

namespace {
// Engines of several drives build exceptions at once: their lines go to the file one whole
// line at a time, and the file's name does not change under them.
std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& LogName() {
    static std::string name = "except.log";
    return name;
}

std::string TimeText() {
    SYSTEMTIME t{};
    platform::k32().GetLocalTime(&t);
    return DateTimeText(t);
}
} // namespace

const std::string& ErrorLogFileName() {
    return LogName();
}

bool OpenErrorLog(const std::string& fileName) {
    std::lock_guard<std::mutex> lock(LogMutex());
    LogName() = fileName;
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    ErrorLogEnabled = static_cast<bool>(file);
    return ErrorLogEnabled;
}

void CloseErrorLog() {
    ErrorLogEnabled = false;
}

void LogError(const std::string& message) noexcept {
    if (!ErrorLogEnabled)
        return;
    try {
        // Reading the clock must not disturb the last error of the exception being built.
        auto& k32 = platform::k32();
        DWORD saved = k32.GetLastError();
        std::string line = "<" + TimeText() + "> : " + message + "\r\n";
        k32.SetLastError(saved);
        std::lock_guard<std::mutex> lock(LogMutex());
        std::ofstream file(LogName(), std::ios::binary | std::ios::app);
        if (!file)
            file.open(LogName(), std::ios::binary | std::ios::trunc);
        file.write(line.data(), static_cast<std::streamsize>(line.size()));
    } catch (...) {
        // A line that cannot be written is lost; the caller's exception is what matters.
    }
}

void InitErrorLog() {
    std::filesystem::path exe = platform::k32().GetModuleFileNameA();
    std::error_code error;
    if (std::filesystem::exists(exe.parent_path() / "MKLOG.INI", error))
        OpenErrorLog("except.log");
}

} // namespace purgelet
