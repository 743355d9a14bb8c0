#include "install/paths.h"

#include "archive/platform.h"

namespace {

bool IsNameSplit(char c) { return c == '/' || c == ':' || c == '\\'; }

// Index just past the last name-split character, or 0 when there is none.
size_t AfterLastSplit(const AnsiString& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsNameSplit(path[i - 1])) return i;
    return 0;
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
