#include "ui/win32/fatal_error.h"

#include <windows.h>

#include <cstdio>

namespace purgelet::ui::win32 {

void ShowFatalError(const std::string& text) {
    std::fprintf(stderr, "purgelet: %s\n", text.c_str());
    std::fflush(stderr);
    MessageBoxA(nullptr, text.c_str(), "Purgelet", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

} // namespace purgelet::ui::win32
