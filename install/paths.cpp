#include "install/paths.h"

#include <cstring>

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

char Folded(char c) {
    return c == '/' ? '\\' : Upper(c);
}

bool SameFolded(const AnsiString& a, const AnsiString& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i])) return false;
    return true;
}

// Without one trailing separator, except on a bare drive root ("C:\").
AnsiString WithoutTrailing(const AnsiString& path) {
    size_t n = path.size();
    if (n > 3 && IsPathSeparator(path[n - 1])) return path.Substr(0, n - 1);
    return path;
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

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Length of the root of a path whose separators are all '\': 3 for "C:\",
// that of "\\server\share" for a network path; 0 when it has neither.
size_t RootLength(const AnsiString& path) {
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\') return 3;
    if (path.size() < 3 || path[0] != '\\' || path[1] != '\\') return 0;
    size_t server = 2, share = path.Find("\\", server);
    if (share == AnsiString::npos || share == server) return 0;
    size_t end = path.Find("\\", share + 1);
    if (end == AnsiString::npos) end = path.size();
    if (end == share + 1) return 0;
    // "\\?\" and "\\.\" lead to device paths, not shares.
    auto special = [](const AnsiString& name) {
        return name == "." || name == ".." || name == "?";
    };
    if (special(path.Substr(server, share - server)) ||
        special(path.Substr(share + 1, end - share - 1)))
        return 0;
    return end;
}

// No wildcard or other character that names can't have, and ':' only as a
// drive letter's.
bool HasNameCharactersOnly(const AnsiString& path) {
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || std::strchr("*?\"<>|", c) != nullptr) return false;
        if (c == ':' && i != 1) return false;
    }
    return true;
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

bool SameText(const AnsiString& a, const AnsiString& b) {
    return SameFolded(a, b);
}

bool SamePath(const AnsiString& a, const AnsiString& b) {
    if (a.empty() || b.empty()) return false;
    return SameFolded(WithoutTrailing(a), WithoutTrailing(b));
}

bool IsUsableFolderText(const AnsiString& path) {
    return path.size() <= kFolderTextLimit && HasNameCharactersOnly(path);
}

bool FullPathOf(const AnsiString& text, AnsiString& full) {
    AnsiString path;
    for (size_t i = 0; i < text.size(); ++i) path += text[i] == '/' ? '\\' : text[i];
    size_t root = RootLength(path);
    if (root == 0) return false;
    AnsiString result = path.Substr(0, root);
    size_t base = result.size();  // ".." stops here
    if (root == 3) --base;        // "C:" before the names, each added with its '\'
    result.Truncate(base);
    for (size_t start = root; start <= path.size();) {
        size_t end = path.Find("\\", start);
        if (end == AnsiString::npos) end = path.size();
        AnsiString name = path.Substr(start, end - start);
        start = end + 1;
        if (name == ".") continue;
        if (name == "..") {
            size_t cut = result.size();
            while (cut > base && result[cut - 1] != '\\') --cut;
            result.Truncate(cut > base ? cut - 1 : base);
            continue;
        }
        size_t keep = name.size();
        while (keep > 0 && (name[keep - 1] == '.' || name[keep - 1] == ' ')) --keep;
        if (keep == 0) continue;
        result += '\\';
        result += name.Substr(0, keep);
    }
    if (result.size() == 2) result += '\\';  // the drive root keeps its separator
    full = result;
    return true;
}

bool IsWithinFolder(const AnsiString& path, const AnsiString& folder) {
    AnsiString base = WithoutTrailing(folder);
    if (base.empty() || path.size() < base.size() || !SameFolded(path.Substr(0, base.size()), base))
        return false;
    return path.size() == base.size() || IsPathSeparator(path[base.size()]) ||
           IsPathSeparator(base[base.size() - 1]);
}

AnsiString RootOf(const AnsiString& full) {
    size_t root = RootLength(full);
    if (root == 0) return AnsiString();
    return root == 3 ? full.Substr(0, 3) : full.Substr(0, root) + "\\";
}

FolderVerdict CheckInstallFolder(const AnsiString& text, const SystemFolders& folders,
                                 AnsiString& full) {
    if (text.empty()) return FolderVerdict::Empty;
    // The characters as typed; the length as it will be created.
    if (!HasNameCharactersOnly(text)) return FolderVerdict::Unusable;
    AnsiString path;
    if (!FullPathOf(text, path)) return FolderVerdict::NotFullPath;
    if (path.size() > kFolderTextLimit) return FolderVerdict::Unusable;
    full = path;
    if (RootLength(path) == path.size()) return FolderVerdict::Root;
    auto same = [&path](const AnsiString& folder) {
        AnsiString known;
        return FullPathOf(folder, known) && SamePath(path, known);
    };
    if (same(folders.windows)) return FolderVerdict::WindowsFolder;
    for (const AnsiString& system : folders.system)
        if (same(system)) return FolderVerdict::SystemFolder;
    for (const AnsiString& programFiles : folders.programFiles)
        if (same(programFiles)) return FolderVerdict::ProgramFilesFolder;
    return FolderVerdict::Usable;
}
