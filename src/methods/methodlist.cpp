// The global method list: the internal zero method in entry 0, then every "*.met" file of
// the methods folder, sorted by MethodNr.
#include "methods/method.h"

#include "methods/generators.h"
#include "platform/handle.h"
#include "platform/system.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

namespace purgelet {

std::string MethodsDir;
std::vector<std::unique_ptr<method>> Methods;
std::vector<std::string> MethodNames;

namespace {

// Windows also matches "*.met" against short 8.3 names, so "a.meta" would come back as
// "A~1.MET"; only names that really end in ".met" are method files.
bool HasMethodExtension(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return tail == ".met";
}

// The bare names of the method files, in the order the file system returns them.
std::vector<std::string> ScanFolder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::string pattern = (folder / "*.met").string();
    WIN32_FIND_DATAA data{};
    auto& k32 = platform::k32();
    const platform::UniqueHandle find(k32.FindFirstFileA(pattern.c_str(), &data),
                                      platform::UniqueHandle::Kind::Search);
    if (!find)
        return names;
    do {
        constexpr DWORD skipped =
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
        data.cFileName[MAX_PATH - 1] = '\0';
        std::string name = data.cFileName;
        if ((data.dwFileAttributes & skipped) == 0 && HasMethodExtension(name))
            names.push_back(std::move(name));
    } while (k32.FindNextFileA(find.Get(), &data));
    return names;
}

} // namespace

void LoadMethodsFrom(const std::string& folder, TGenerators& generators) {
    std::filesystem::path dir(folder);
    std::error_code ignored;
    if (!std::filesystem::exists(dir, ignored))
        std::filesystem::create_directories(dir, ignored); // a failure just finds no files

    // The list is built aside and replaces the global one only when every file was read.
    std::vector<std::unique_ptr<method>> list;
    list.push_back(method::CreateFromFile(""));
    for (const std::string& name : ScanFolder(dir)) {
        auto entry = method::CreateFromFile((dir / name).string(), generators);
        entry->FileName = name;
        entry->Index = static_cast<std::int32_t>(list.size());
        list.push_back(std::move(entry));
    }

    // The exchange sort: equal numbers end in the order it leaves them.
    const std::size_t n = list.size() - 1;
    for (std::size_t i = 1; i < n; ++i)
        for (std::size_t j = i + 1; j <= n; ++j)
            if (list[i]->MethodNr > list[j]->MethodNr)
                std::swap(list[i], list[j]);

    std::vector<std::string> names(list.size());
    list[0]->Index = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        names[i] = list[i]->Name;
        list[i]->Index = static_cast<std::int32_t>(i);
    }
    Methods = std::move(list);
    MethodNames = std::move(names);
}

void LoadMethodsFrom(const std::string& folder) {
    TGenerators generators;
    Randomize(generators);
    LoadMethodsFrom(folder, generators);
}

void LoadMethods(TGenerators& generators) {
    std::filesystem::path exe(platform::k32().GetModuleFileNameA());
    MethodsDir = (exe.parent_path() / "Methods").string();
    LoadMethodsFrom(MethodsDir, generators);
}

void LoadMethods() {
    TGenerators generators;
    Randomize(generators);
    LoadMethods(generators);
}

} // namespace purgelet
