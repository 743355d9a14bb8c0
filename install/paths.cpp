#include "install/paths.h"

#include <cstring>

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The system reads a device name up to the first dot, blanks before it
// ignored.
bool IsDeviceName(const AnsiString& name) {
    size_t end = 0;
    while (end < name.size() && name[end] != '.') ++end;
    while (end > 0 && name[end - 1] == ' ') --end;
    char base[8] = {};
    if (end < 3 || end > 7) return false;
    for (size_t i = 0; i < end; ++i) base[i] = Upper(name[i]);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (std::strcmp(base, device) == 0) return true;
    return end == 4 && (std::strncmp(base, "COM", 3) == 0 || std::strncmp(base, "LPT", 3) == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsPlainFileName(const AnsiString& name) {
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] != '.' && name[i] != ' ') return !IsDeviceName(name);
    return false;
}
