#include "install/paths.h"

#include <cstring>

#include "archive/platform.h"

namespace {

bool IsNameSplit(char c) { return c == '/' || c == ':' || c == '\\'; }

// Index just past the last name-split character, or 0 when there is none.
size_t AfterLastSplit(const AnsiString& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsNameSplit(path[i - 1])) return i;
    return 0;
}

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

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

AnsiString DirectoryPart(const AnsiString& path) { return path.Substr(0, AfterLastSplit(path)); }

AnsiString FileNamePart(const AnsiString& path) { return path.Substr(AfterLastSplit(path)); }

AnsiString ProgramDirectory() { return DirectoryPart(ModuleFileName()); }

AnsiString BesideProgram(const AnsiString& name) { return ProgramDirectory() + FileNamePart(name); }

void DestinationBesideProgram(void*, const AnsiString& entryName, AnsiString& destination) {
    destination = BesideProgram(entryName);
}

bool IsPlainFileName(const AnsiString& name) {
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] != '.' && name[i] != ' ') return !IsDeviceName(name);
    return false;
}
