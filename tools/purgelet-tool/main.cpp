// purgelet-tool: the companion tool for people who write method and language files.
#include "commands.h"

#include <cstdio>

namespace {
void Usage() {
    std::fputs("usage:\n"
               "  purgelet-tool lang pack SOURCE OUT.lng\n"
               "  purgelet-tool lang dump FILE.lng\n"
               "  purgelet-tool lang get FILE.lng SECTION KEY DEFAULT\n"
               "  purgelet-tool methods PATH...\n"
               "  purgelet-tool preview METHOD.met --pass N --bytes K [--isaac] [--seed S]\n",
               stderr);
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    std::string command = argv[1];
    purgelet::tool::Args args(argv + 2, argv + argc);
    if (command == "lang")
        return purgelet::tool::RunLang(args);
    if (command == "methods")
        return purgelet::tool::RunMethods(args);
    if (command == "preview")
        return purgelet::tool::RunPreview(args);
    Usage();
    return 2;
}
