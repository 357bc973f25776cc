#include "platform/linux/fmifs.h"

#include "platform/codepage.h"
#include "platform/drive_letter.h"
#include "platform/linux/errors.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace platform::linux_backend {

namespace {

std::string Narrow(const WCHAR* text) {
    std::string narrow;
    for (; text != nullptr && *text != 0; ++text)
        narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '_');
    return narrow;
}

// A label for the mkfs programs, which take the user's UTF-8: the program hands its
// Windows-1252 bytes over one to a character (as its Widen makes them), wider characters
// stand for themselves.
std::string Utf8Label(const WCHAR* text) {
    std::string label;
    for (; text != nullptr && *text != 0; ++text) {
        const auto code = static_cast<char32_t>(*text);
        AppendUtf8(label, code < 0x100 ? Cp1252ToUnicode(static_cast<unsigned char>(code)) : code);
    }
    return label;
}

// The program's full path, looked for in PATH and the system folders (a user's PATH often
// lacks /sbin, where the mkfs programs live).
std::string FindProgram(const std::string& name) {
    std::string folders = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    folders += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream list(folders);
    std::string folder;
    while (std::getline(list, folder, ':')) {
        if (folder.empty())
            continue;
        const std::string path = folder + "/" + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

class LinuxFmifs : public Fmifs {
public:
    explicit LinuxFmifs(LinuxKernel32& kernel32) : kernel32_(kernel32) {}

    bool HasEntry(const std::string& name) override { return name == "FormatEx"; }

    void FormatEx(const WCHAR* driveRoot, DWORD /*mediaFlag*/, const WCHAR* fileSystem,
                  const WCHAR* label, BOOL /*quick*/, DWORD clusterSize,
                  FmifsCallback callback) override {
        BOOLEAN ok =
            Run(Narrow(driveRoot), Narrow(fileSystem), Utf8Label(label), clusterSize, callback)
                ? TRUE
                : FALSE;
        const DWORD code = kernel32_.GetLastError();
        const std::string text = kernel32_.SysErrorMessage(code);
        callback(FMIFS_DONE, 0, &ok);
        kernel32_.SetLastErrorText(code, text); // the callback may have asked the system
    }

private:
    bool Fail(DWORD code, const std::string& text) {
        kernel32_.SetLastErrorText(code, text);
        return false;
    }

    bool Run(const std::string& root, const std::string& fileSystem, const std::string& label,
             DWORD clusterSize, FmifsCallback callback) {
        const char letter = DriveLetterOf(root);
        kernel32_.Drives().Detect();
        const Drive* drive = kernel32_.Drives().ByLetter(letter);
        if (drive == nullptr)
            return Fail(ERROR_INVALID_DRIVE, "No drive " + root);
        if (auto why = kernel32_.WhyNotWritable(drive->node))
            return Fail(ERROR_ACCESS_DENIED, drive->node + " is never formatted: " + *why);
        std::vector<std::string> command =
            FormatCommand(fileSystem, label, drive->node, clusterSize);
        if (command.empty())
            return Fail(ERROR_NOT_SUPPORTED,
                        "No format program is known for the file system \"" + fileSystem + "\"");
        const std::string program = FindProgram(command[0]);
        if (program.empty())
            return Fail(ERROR_FILE_NOT_FOUND,
                        command[0] + " is not installed; it formats " + fileSystem + " volumes");

        int errors[2];
        if (pipe2(errors, O_CLOEXEC) != 0)
            return Fail(Win32ErrorFromErrno(errno),
                        "pipe: " + Win32ErrorText(Win32ErrorFromErrno(errno)));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
        std::vector<char*> argv;
        for (auto& word : command)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t child = 0;
        const int spawned =
            posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(errors[1]);
        if (spawned != 0) {
            close(errors[0]);
            return Fail(Win32ErrorFromErrno(spawned), program + " could not be started");
        }

        // Progress in steps while the child works (mkfs tells no percentage); a refusal
        // from the callback ends the child.
        std::string messages;
        const std::int64_t start = NowMs();
        int status = 0;
        DWORD first = 0;
        bool cancelled = !callback(FMIFS_PROGRESS, 0, &first);
        if (cancelled)
            kill(child, SIGTERM);
        for (;;) {
            pollfd wait{errors[0], POLLIN, 0};
            if (poll(&wait, 1, 100) > 0) {
                char buffer[512];
                const ssize_t n = read(errors[0], buffer, sizeof(buffer));
                if (n > 0 && messages.size() < 4096)
                    messages.append(buffer, static_cast<std::size_t>(n));
            }
            const pid_t done = waitpid(child, &status, WNOHANG);
            if (done == child)
                break;
            DWORD percent = static_cast<DWORD>(std::min<std::int64_t>(90, (NowMs() - start) / 100));
            if (!cancelled && !callback(FMIFS_PROGRESS, 0, &percent)) {
                cancelled = true;
                kill(child, SIGTERM);
            }
        }
        close(errors[0]);
        if (cancelled)
            return Fail(ERROR_OPERATION_ABORTED_CODE, command[0] + " was cancelled");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            while (!messages.empty() && (messages.back() == '\n' || messages.back() == ' '))
                messages.pop_back();
            const auto cut = messages.find_last_of('\n');
            const std::string last = cut == std::string::npos ? messages : messages.substr(cut + 1);
            return Fail(ERROR_GEN_FAILURE, command[0] + " failed on " + drive->node +
                                               (last.empty() ? "" : ": " + last));
        }
        DWORD percent = 100;
        callback(FMIFS_PROGRESS, 0, &percent);
        kernel32_.SetLastError(ERROR_SUCCESS);
        return true;
    }

    static constexpr DWORD ERROR_OPERATION_ABORTED_CODE = 995;
    LinuxKernel32& kernel32_;
};

} // namespace

std::vector<std::string> FormatCommand(const std::string& fileSystem, const std::string& label,
                                       const std::string& node, DWORD clusterSize) {
    std::string name;
    for (char c : fileSystem)
        name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    std::vector<std::string> command;
    if (name == "fat12" || name == "fat16" || name == "fat32" || name == "fat" || name == "vfat") {
        command = {"mkfs.vfat"};
        if (name.size() == 5 && name.rfind("fat", 0) == 0)
            command.insert(command.end(), {"-F", name.substr(3)});
        if (clusterSize >= 512 && clusterSize % 512 == 0)
            command.insert(command.end(), {"-s", std::to_string(clusterSize / 512)});
        if (!label.empty())
            command.insert(command.end(), {"-n", label.substr(0, 11)});
    } else if (name == "ntfs") {
        command = {"mkfs.ntfs", "-Q", "-F"};
        if (clusterSize != 0)
            command.insert(command.end(), {"-c", std::to_string(clusterSize)});
        if (!label.empty())
            command.insert(command.end(), {"-L", label});
    } else if (name == "exfat") {
        command = {"mkfs.exfat"};
        if (!label.empty())
            command.insert(command.end(), {"-L", label.substr(0, 15)});
    } else if (name == "ext2" || name == "ext3" || name == "ext4") {
        command = {"mkfs." + name, "-F", "-q"};
        if (!label.empty())
            command.insert(command.end(), {"-L", label.substr(0, 16)});
    } else {
        return {};
    }
    command.push_back(node);
    return command;
}

std::unique_ptr<Fmifs> CreateLinuxFmifs(LinuxKernel32& kernel32) {
    return std::make_unique<LinuxFmifs>(kernel32);
}

} // namespace platform::linux_backend
