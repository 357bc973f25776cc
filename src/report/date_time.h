// Date and time as the error log and the reports write them: unambiguous, whatever the
// locale ("2026-01-01 12:00:00").
#pragma once

#include "platform/winapi.h"

#include <cstdio>
#include <string>

namespace purgelet {

inline std::string DateTimeText(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

} // namespace purgelet
