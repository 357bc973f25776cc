// "methods" lists method files as the program's own reader sees them; "preview" shows what
// one slot writes at the start of a disk, transfer by transfer as the engine writes it.
#include "commands.h"

#include "methods/listing.h"
#include "methods/method.h"
#include "report/exceptions.h"

#include <charconv>
#include <filesystem>
#include <iostream>

namespace purgelet::tool {

namespace {

// Larger previews are refused rather than allocated.
constexpr std::size_t kMaxPreviewBytes = 64u << 20;

template <class T> bool ParseNumber(const std::string& text, T& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

int PreviewUsage(const char* problem) {
    std::cerr << "preview: " << problem << "\n"
              << "usage: purgelet-tool preview METHOD.met --pass N --bytes K [--isaac] "
                 "[--seed S] [--transfer T]\n";
    return 2;
}

} // namespace

int RunMethods(const Args& args) {
    if (args.empty()) {
        std::cerr << "usage: purgelet-tool methods PATH...\n";
        return 2;
    }
    bool first = true;
    auto print = [&](const method& m) {
        if (!first)
            std::cout << "\n";
        first = false;
        std::cout << DescribeMethod(m);
    };
    try {
        for (const std::string& path : args) {
            std::error_code ignored;
            if (std::filesystem::is_directory(path, ignored)) {
                LoadMethodsFrom(path);
                for (std::size_t i = 1; i < Methods.size(); ++i)
                    print(*Methods[i]);
            } else {
                auto m = method::CreateFromFile(path);
                m->FileName = std::filesystem::path(path).filename().string();
                print(*m);
            }
        }
    } catch (const XException& error) {
        std::cout << error.what() << "\n";
        std::cout.flush();
        return 1;
    }
    std::cout.flush();
    return 0;
}

int RunPreview(const Args& args) {
    std::string path;
    std::int32_t pass = 0;
    std::size_t bytes = 0;
    bool havePass = false;
    bool haveBytes = false;
    bool isaac = false;
    std::uint32_t seed = 0;
    std::size_t transfer = kPreviewTransferBytes;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool hasValue = i + 1 < args.size();
        if (arg == "--isaac") {
            isaac = true;
        } else if (arg == "--pass") {
            if (!hasValue || !ParseNumber(args[++i], pass))
                return PreviewUsage("--pass needs a slot number");
            havePass = true;
        } else if (arg == "--bytes") {
            if (!hasValue || !ParseNumber(args[++i], bytes) || bytes > kMaxPreviewBytes)
                return PreviewUsage("--bytes needs a byte count up to 67108864");
            haveBytes = true;
        } else if (arg == "--seed") {
            if (!hasValue || !ParseNumber(args[++i], seed))
                return PreviewUsage("--seed needs a number from 0 to 4294967295");
        } else if (arg == "--transfer") {
            if (!hasValue || !ParseNumber(args[++i], transfer) || transfer == 0 ||
                transfer > kMaxPreviewBytes)
                return PreviewUsage("--transfer needs a byte count from 1 to 67108864");
        } else if (path.empty() && arg.rfind("--", 0) != 0) {
            path = arg;
        } else {
            return PreviewUsage(("unexpected argument " + arg).c_str());
        }
    }
    if (path.empty() || !havePass || !haveBytes)
        return PreviewUsage("METHOD.met, --pass and --bytes are required");
    try {
        auto buffer = PreviewPass(path, pass, bytes, isaac, seed, transfer);
        std::cout << HexLines(buffer.data(), buffer.size());
    } catch (const XException& error) {
        std::cout << error.what() << "\n";
        std::cout.flush();
        return 1;
    }
    std::cout.flush();
    return 0;
}

} // namespace purgelet::tool
