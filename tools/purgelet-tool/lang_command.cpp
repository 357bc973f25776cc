#include "purgelet-tool/lang_command.h"

#include "lang/language.h"
#include "lang/lzhpacker.h"
#include "platform/system.h"
#include "purgelet-tool/lang_source.h"
#include "purgelet-tool/lzh_encoder.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace purgelet::tool {

namespace {

bool ReadWholeFile(const std::string& name, std::string& data) {
    std::ifstream file(name, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream all;
    all << file.rdbuf();
    data = all.str();
    return !file.bad();
}

int Pack(const std::string& sourceName, const std::string& outName, std::ostream& err) {
    std::string source;
    if (!ReadWholeFile(sourceName, source)) {
        err << "cannot read " << sourceName << "\n";
        return 1;
    }
    std::string packed;
    try {
        packed = LzhPack(BuildLanguageContent(ParseLanguageSource(source), true));
    } catch (const std::exception& error) { // a faulty source (SourceError) above all
        err << sourceName << ", " << error.what() << "\n";
        return 1;
    }
    {
        std::ofstream file(outName, std::ios::binary | std::ios::trunc);
        file.write(packed.data(), static_cast<std::streamsize>(packed.size()));
        file.close();
        if (file)
            return 0;
    }
    // A half-written file must not pass for a language file.
    std::error_code ignored;
    std::filesystem::remove(outName, ignored);
    err << "cannot write " << outName << "\n";
    return 1;
}

int Dump(const std::string& fileName, std::ostream& out, std::ostream& err) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        err << "cannot read " << fileName << "\n";
        return 1;
    }
    std::stringstream content;
    TValueList table;
    if (!TLZHPacker().Unpack(file, content) || !table.LoadFromStream(content)) {
        out << "damaged\n";
        return 2;
    }
    out << "sorted=" << (table.Sorted ? 1 : 0) << "\n";
    out << "count=" << table.Entries.size() << "\n";
    for (const TValueEntry& entry : table.Entries)
        out << EscapeLanguageText(entry.Key) << "=" << EscapeLanguageText(entry.Value) << "\n";
    return 0;
}

int Get(const Args& args, std::ostream& out, std::ostream& err) {
    try {
        LoadLanguageFile(args[1]);
    } catch (const std::exception& error) {
        err << error.what() << "\n";
        return 1;
    }
    out << GetLngText(args[2], args[3], args[4]);
    return 0;
}

} // namespace

int LangCommand(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 3 && args[0] == "pack")
        return Pack(args[1], args[2], err);
    if (args.size() == 2 && args[0] == "dump")
        return Dump(args[1], out, err);
    if (args.size() == 5 && args[0] == "get")
        return Get(args, out, err);
    err << "usage:\n"
           "  purgelet-tool lang pack SOURCE OUT.lng\n"
           "  purgelet-tool lang dump FILE.lng\n"
           "  purgelet-tool lang get FILE.lng SECTION KEY DEFAULT\n";
    return 2;
}

int RunLang(const Args& args) {
    // The text goes out as bytes through the standard handle: a C++ stream in text mode
    // would turn a value's CR LF into CR CR LF on Windows.
    std::ostringstream text;
    const int code = LangCommand(args, text, std::cerr);
    const std::string bytes = text.str();
    auto& k32 = platform::k32();
    HANDLE out = k32.GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD done = 0;
    for (std::size_t at = 0; at < bytes.size(); at += done) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1 << 20));
        if (!k32.WriteFile(out, bytes.data() + at, piece, &done, nullptr) || done == 0)
            return code == 0 ? 1 : code;
    }
    return code;
}

} // namespace purgelet::tool
