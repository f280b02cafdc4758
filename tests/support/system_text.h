// The system's own text for an error code, as the agent asks for it, and whether the tests run
// under Wine, whose texts are worded differently from Windows'.
#pragma once

#include <string>

#include "platform/win32.h"

namespace vyn::test {

inline std::string SystemText(DWORD code) {
    char *text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? text : "";
    LocalFree(text);
    return result;
}

// Wine's ntdll has wine_get_version; Windows' has not, and neither has the Linux platform a
// library of that name.
inline bool RunningUnderWine() {
    HMODULE ntdll = LoadLibraryA("ntdll.dll");
    bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    if (ntdll != nullptr) {
        FreeLibrary(ntdll);
    }
    return wine;
}

}  // namespace vyn::test
