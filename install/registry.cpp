#include "install/registry.h"

#include "base/path_buffer.h"
#include "install/paths.h"
#include "product_version.h"

namespace {

// The text of a REG_SZ value that fits, or false.
bool QueryValue(HKEY key, const char* valueName, AnsiString& text) {
    // A value fits when it takes a path buffer, its zero included.
    char buffer[kPathBufferWithZero] = {};
    DWORD type = 0;
    DWORD size = kPathBuffer;
    LONG status =
        RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    text = AnsiString(buffer);
    return true;
}

bool CreateKey(const char* name, HKEY& key) {
    DWORD disposition = 0;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, name, 0, const_cast<char*>(kKeyClass), 0,
                           KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS;
}

bool OpenForReading(HKEY root, const char* name, HKEY& key) {
    return RegOpenKeyExA(root, name, 0, KEY_READ, &key) == ERROR_SUCCESS;
}

void WriteRegistryDword(HKEY key, const char* valueName, DWORD value) {
    RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
}

// Adds the size of one file, if it exists, to bytes.
void AddFileSize(const AnsiString& path, uint64_t& bytes) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Kilobytes (rounded up) of the files directly in the installation folder
// plus the screen-saver file when it lies elsewhere.
DWORD EstimatedKilobytes(const InstallRecord& results) {
    uint64_t bytes = 0;
    WIN32_FIND_DATAA found;
    AnsiString pattern = results.installedDir + "\\*";
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                bytes += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!results.screenSaverPath.empty() &&
        !(DirectoryPart(results.screenSaverPath) == results.installedDir + "\\")) {
        AddFileSize(results.screenSaverPath, bytes);
    }
    uint64_t kilobytes = (bytes + 1023) / 1024;
    return kilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(kilobytes);
}

// Today as YYYYMMDD, local time.
AnsiString InstallDate() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[12];
    wsprintfA(text, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

}  // namespace

void ReadRegistryString(HKEY key, const char* valueName, AnsiString& text) {
    QueryValue(key, valueName, text);
}

void QueryRegistryString(HKEY key, const char* valueName, AnsiString& text) {
    if (!QueryValue(key, valueName, text)) text = AnsiString();
}

void WriteRegistryString(HKEY key, const char* valueName, const AnsiString& text) {
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

bool WriteInstallEntries(const AnsiString& installDir, const InstallRecord& results) {
    bool allKeys = true;
    HKEY key = nullptr;

    if (CreateKey(kProductKey, key)) {
        WriteRegistryString(key, "InstallDir", installDir);
        RegCloseKey(key);
    } else {
        allKeys = false;
    }

    // Without a written screen-saver file there is no name to key the entry by.
    if (!results.screenSaverPath.empty()) {
        AnsiString appPath = AnsiString(kAppPathsKey) + FileNamePart(results.screenSaverPath);
        if (CreateKey(appPath.c_str(), key)) {
            WriteRegistryString(key, "", results.screenSaverPath);
            WriteRegistryString(key, "Path", results.installedDir);
            RegCloseKey(key);
        } else {
            allKeys = false;
        }
    }

    if (!CreateKey(kUninstallKey, key)) return false;
    WriteRegistryString(key, "DisplayName", "Quorvel screen saver");
    // Quoted: unquoted, a folder with blanks (C:\Program Files\...) makes
    // CreateProcess try C:\Program.exe first.
    AnsiString remover = "\"" + results.installedDir + "\\QVRemove.exe\"";
    WriteRegistryString(key, "UninstallString", remover);
    WriteRegistryString(key, "QuietUninstallString", remover + " /S");
    // What today's "installed programs" lists show besides name and command.
    if (!results.screenSaverPath.empty()) {
        WriteRegistryString(key, "DisplayIcon", results.screenSaverPath);
    }
    WriteRegistryString(key, "DisplayVersion", QV_VERSION_TEXT);
    WriteRegistryString(key, "Publisher", "Tembra");
    WriteRegistryString(key, "InstallLocation", results.installedDir);
    WriteRegistryString(key, "InstallDate", InstallDate());
    WriteRegistryDword(key, "EstimatedSize", EstimatedKilobytes(results));
    WriteRegistryDword(key, "NoModify", 1);
    WriteRegistryDword(key, "NoRepair", 1);
    RegCloseKey(key);
    return allKeys;
}

bool WriteShellFolder(const AnsiString& relativeGroup) {
    HKEY key = nullptr;
    if (!CreateKey(kProductKey, key)) return false;
    WriteRegistryString(key, "ShellFolder", relativeGroup);
    RegCloseKey(key);
    return true;
}

void RemoveShellFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteValueA(key, "ShellFolder");
    RegCloseKey(key);
}

AnsiString FindProgramsFolder() {
    AnsiString result;
    if (LOBYTE(LOWORD(GetVersion())) < 4) return result;
    HKEY key = nullptr;
    if (OpenForReading(HKEY_LOCAL_MACHINE, kShellFoldersKey, key)) {
        QueryRegistryString(key, "Common Programs", result);
        RegCloseKey(key);
        if (!result.empty()) return result;
    }
    if (!OpenForReading(HKEY_CURRENT_USER, kShellFoldersKey, key)) return result;
    QueryRegistryString(key, "Programs", result);
    RegCloseKey(key);
    return result;
}

namespace {

// view: 0 for the program's own registry view, KEY_WOW64_64KEY for the
// 64-bit one (the same on 32-bit Windows).
AnsiString CurrentVersionValue(const char* valueName, REGSAM view = 0) {
    AnsiString result;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ | view, &key) !=
        ERROR_SUCCESS)
        return result;
    QueryRegistryString(key, valueName, result);
    RegCloseKey(key);
    return result;
}

// A folder that the system writes into a path buffer; empty on failure.
template <typename Getter>
AnsiString SystemFolder(Getter getter) {
    AnsiString folder;
    UINT length = getter(folder.Buffer(kPathBuffer), kPathBuffer);
    folder.SyncLength();
    return length > 0 && length < kPathBuffer ? folder : AnsiString();
}

}  // namespace

AnsiString FindProgramFilesFolder() {
    return CurrentVersionValue("ProgramFilesDir");
}

SystemFolders FindSystemFolders() {
    SystemFolders folders;
    folders.windows = SystemFolder(GetWindowsDirectoryA);
    folders.system[0] = SystemFolder(GetSystemDirectoryA);
    folders.system[1] = SystemFolder(GetSystemWow64DirectoryA);
    // A 32-bit program on 64-bit Windows reads the 32-bit view, whose
    // "ProgramFilesDir" is the 32-bit folder: the 64-bit view names the
    // other one ("ProgramW6432Dir" is not in every view everywhere).
    folders.programFiles[0] = FindProgramFilesFolder();
    folders.programFiles[1] = CurrentVersionValue("ProgramFilesDir", KEY_WOW64_64KEY);
    folders.programFiles[2] = CurrentVersionValue("ProgramFilesDir (x86)");
    return folders;
}
