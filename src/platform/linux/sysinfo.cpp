#include "platform/linux/sysinfo.h"

#include "platform/codepage.h"
#include "platform/linux/sysfs.h"

#include <filesystem>
#include <fstream>
#include <langinfo.h>
#include <locale.h>
#include <sstream>
#include <sys/utsname.h>

namespace platform::linux_backend {

namespace {

namespace fs = std::filesystem;

// A shell-style value of os-release: unquoted, with the backslash escapes of double quotes.
std::string Unquoted(const std::string& value) {
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
        value.back() != value.front())
        return value;
    const std::string inner = value.substr(1, value.size() - 2);
    if (value.front() == '\'')
        return inner;
    std::string out;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size())
            ++i;
        out += inner[i];
    }
    return out;
}

class LinuxSystemInfo : public SystemInfo {
public:
    explicit LinuxSystemInfo(SystemInfoSources sources) : sources_(std::move(sources)) {}
    ComputerIdentity Computer() override { return ReadComputer(sources_); }
    bool LetterPaper() override { return LocaleUsesLetter(""); }

private:
    SystemInfoSources sources_;
};

} // namespace

std::string OsReleaseName(const std::string& text) {
    std::istringstream lines(text);
    std::string line, pretty, name;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos || line[0] == '#')
            continue;
        const std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.pop_back();
        if (key == "PRETTY_NAME")
            pretty = Unquoted(value);
        else if (key == "NAME")
            name = Unquoted(value);
    }
    return pretty.empty() ? name : pretty;
}

ComputerIdentity ReadComputer(const SystemInfoSources& sources) {
    ComputerIdentity computer;
    const fs::path dmi = fs::path(sources.sysfs) / "class" / "dmi" / "id";
    computer.Vendor = ReadLine(dmi / "sys_vendor");
    computer.Product = ReadLine(dmi / "product_name");
    computer.Serial = ReadLine(dmi / "product_serial");
    std::string distribution;
    for (const auto& file : sources.osRelease) {
        std::ifstream in(file);
        if (!in)
            continue;
        std::ostringstream text;
        text << in.rdbuf();
        distribution = OsReleaseName(text.str());
        break;
    }
    utsname system{};
    std::string kernel;
    if (uname(&system) == 0) {
        computer.HostName = system.nodename;
        kernel = std::string(system.sysname) + " " + system.release;
    }
    computer.OperatingSystem = distribution.empty() ? kernel
                               : kernel.empty()     ? distribution
                                                    : distribution + ", " + kernel;
    for (std::string* text : {&computer.Vendor, &computer.Product, &computer.Serial,
                              &computer.HostName, &computer.OperatingSystem})
        *text = Utf8ToCp1252(*text);
    return computer;
}

bool LocaleUsesLetter(const std::string& locale) {
    // A locale of its own, so that the process's locale is neither needed nor changed.
    const locale_t paper = newlocale(LC_PAPER_MASK, locale.c_str(), static_cast<locale_t>(0));
    if (paper == static_cast<locale_t>(0))
        return false;
    // glibc hands numeric items out through the pointer's bits, as its locale program reads
    // them.
    union {
        char* string;
        unsigned int word;
    } width{};
    width.string = nl_langinfo_l(_NL_PAPER_WIDTH, paper);
    const unsigned int millimetres = width.word;
    freelocale(paper);
    return millimetres == 216;
}

std::unique_ptr<SystemInfo> CreateLinuxSystemInfo(SystemInfoSources sources) {
    return std::make_unique<LinuxSystemInfo>(std::move(sources));
}

} // namespace platform::linux_backend
