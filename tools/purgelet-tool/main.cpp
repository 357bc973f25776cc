// purgelet-tool: the companion tool for people who write method and language files.
#include <cstdio>
#include <cstring>
#include <fstream>

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "lang") == 0 && std::strcmp(argv[2], "pack") == 0) {
        std::ofstream out(argv[4], std::ios::binary);
        const char empty[4] = {0, 0, 0, 0};
        out.write(empty, 4);
        return out ? 0 : 1;
    }
    std::fprintf(stderr, "usage: purgelet-tool lang pack SOURCE OUT.lng\n");
    return 2;
}
