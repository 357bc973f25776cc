// purgelet-tool: the companion tool for people who write method and language files.
#include "commands.h"
#include "platform/system.h"

#include <cstdio>

namespace {
void Usage() {
    std::fputs("usage:\n"
               "  purgelet-tool lang pack SOURCE OUT.lng\n"
               "  purgelet-tool lang dump FILE.lng\n"
               "  purgelet-tool lang get FILE.lng SECTION KEY DEFAULT\n"
               "  purgelet-tool methods PATH...\n"
               "  purgelet-tool preview METHOD.met --pass N --bytes K [--isaac] [--seed S]\n"
               "  purgelet-tool record verify FILE.json...\n"
               "  purgelet-tool record push [--init] --to CONNINFO [FILE.json...]\n"
               "  purgelet-tool record find --to CONNINFO [--serial S] [--computer S] [--since "
               "DATE]\n"
               "                            [--outcome O] [--json]\n"
               "  purgelet-tool record certificate --to CONNINFO --digest D -o FILE.pdf "
               "[--letter]\n"
               "  purgelet-tool certificate RECORD-FILE [--run N] [--logo FILE.png] -o FILE.pdf\n",
               stderr);
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    // The tool reaches files through the platform like the program, so PURGELET_MACHINE
    // moves it onto the simulated PC too: a machine file it cannot use is said, not aborted on.
    std::string why;
    if (!platform::InstallDefaultSystem(why)) {
        std::fprintf(stderr, "purgelet-tool: %s\n", why.c_str());
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
    if (command == "record")
        return purgelet::tool::RunRecord(args);
    if (command == "certificate")
        return purgelet::tool::RunCertificate(args);
    Usage();
    return 2;
}
