// QVRemove.exe: removes Quorvel. It reads what the setup recorded, lets the
// portable plan decide what may go, asks once, removes, and says what is
// left. "/S" does the same without a word; the exit code tells the result.
// A file goes only when it is the setup's, unchanged: a plain file (no
// link) with the size and CRC-32 it was packed with; everything else in
// the folder is kept and named.
//
// It lives in the folder it removes, so it deletes itself in two phases: it
// starts a copy of itself from a new folder in the temporary folder (never
// inside the installation folder), which waits for this process to end,
// deletes the original and the folder, and has itself and its folder
// deleted at the next restart. The copy ("/copy PROCESS READY PATH") acts
// only as this installation's own: see CopyMayAct, and RunCopy.
#include <windows.h>

#include <shlobj.h>

#include <cstdint>

#include "archive/checksums.h"
#include "base/path_buffer.h"
#include "base/streams.h"
#include "install/file_system.h"
#include "install/paths.h"
#include "install/registry.h"
#include "payload/remove/product_names.h"
#include "payload/remove/removal.h"

namespace {

const char kCaption[] = "Quorvel Uninstall";
const char kDesktopKey[] = "Control Panel\\Desktop";
const char kActiveSaverValue[] = "SCRNSAVE.EXE";
const char kCopyOption[] = "/copy";
// A file in use gets this many more tries, this far apart, before it is left
// for the next restart.
constexpr int kRetries = 8;
constexpr DWORD kRetryMs = 250;

static_assert(kProductFileCount + 12 <= kMaxActions, "the plan's room holds every product file");

const ProductNames kNames = {kProductFiles, kProductFileCount, kSaverFile, kRemoverFile};

// How long the uninstaller waits for its copy to say that it may go on.
constexpr DWORD kCopyReadyMs = 30000;

struct CommandLine {
    bool quiet = false;
    bool copy = false;          // the second phase
    HANDLE original = nullptr;  // in the copy: the process that started it
    HANDLE ready = nullptr;     // in the copy: set once it has read the registry
    AnsiString originalPath;
};

// A handle's number as the command line gives it.
HANDLE HandleArgument(const AnsiString& number) {
    uintptr_t value = 0;
    for (size_t i = 0; i < number.size() && number[i] >= '0' && number[i] <= '9'; ++i)
        value = value * 10 + static_cast<uintptr_t>(number[i] - '0');
    return reinterpret_cast<HANDLE>(value);
}

const char* SkipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// The next argument, quoted or not; p moves past it.
AnsiString NextArgument(const char*& p) {
    p = SkipBlanks(p);
    const char* start = p;
    if (*p == '"') {
        start = ++p;
        while (*p != '\0' && *p != '"') ++p;
        AnsiString word(start, static_cast<size_t>(p - start));
        if (*p == '"') ++p;
        return word;
    }
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    return AnsiString(start, static_cast<size_t>(p - start));
}

CommandLine ParseCommandLine() {
    CommandLine result;
    const char* p = GetCommandLineA();
    NextArgument(p);  // the program itself
    for (AnsiString word = NextArgument(p); !word.empty(); word = NextArgument(p)) {
        if (SameText(word, "/S") || SameText(word, "-S")) {
            result.quiet = true;
        } else if (SameText(word, kCopyOption)) {
            result.copy = true;
            result.original = HandleArgument(NextArgument(p));
            result.ready = HandleArgument(NextArgument(p));
            result.originalPath = NextArgument(p);
        }
    }
    return result;
}

// ------------------------------------------------------------ what is there

bool ReadValue(HKEY root, const char* keyName, const char* valueName, AnsiString& text) {
    HKEY key;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    AnsiString read;
    QueryRegistryString(key, valueName, read);
    // An empty value and a missing one look alike; tell them apart here.
    bool found =
        RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    text = read;
    return found;
}

// The full path of a recorded folder or file in its long form, as the
// setup records it; the text itself when it is no full path (the plan
// says why).
AnsiString FullLongPath(const AnsiString& text) {
    AnsiString full;
    return FullPathOf(text, full) ? LongPathOf(full) : text;
}

// The size and CRC-32 of an open file's contents, read from its start.
bool ReadSums(HANDLE file, uint32_t& size, uint32_t& crc) {
    uint8_t buffer[4096];
    uint32_t total = 0, sum = 0xFFFFFFFFu;
    for (DWORD got = 0;; total += got) {
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return false;
        if (got == 0) break;
        sum = UpdateCrc32(sum, buffer, static_cast<int32_t>(got));
    }
    size = total;
    crc = ~sum;
    return true;
}

RemovalFacts GatherFacts() {
    RemovalFacts facts;
    HKEY key;
    facts.productKey =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (facts.productKey) RegCloseKey(key);
    ReadValue(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", facts.installDir);
    facts.hasShellFolder =
        ReadValue(HKEY_LOCAL_MACHINE, kProductKey, "ShellFolder", facts.shellFolder);
    AnsiString appPath = AnsiString(kAppPathsKey) + kSaverFile;
    ReadValue(HKEY_LOCAL_MACHINE, appPath.c_str(), "", facts.saverPath);
    ReadValue(HKEY_LOCAL_MACHINE, appPath.c_str(), "Path", facts.appPathDir);
    GetModuleFileNameA(nullptr, facts.programPath.Buffer(kPathBuffer), kPathBuffer);
    facts.programPath.SyncLength();
    // Compared in their long forms: a value may hold the short one.
    facts.installDir = FullLongPath(facts.installDir);
    facts.saverPath = FullLongPath(facts.saverPath);
    facts.appPathDir = FullLongPath(facts.appPathDir);
    facts.programPath = FullLongPath(facts.programPath);
    HANDLE self = CreateFileA(facts.programPath.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (self != INVALID_HANDLE_VALUE) {
        facts.programRead = ReadSums(self, facts.programSize, facts.programCrc);
        CloseHandle(self);
    }
    facts.folders = FindSystemFolders();
    facts.programsDir = FindProgramsFolder();
    ReadValue(HKEY_CURRENT_USER, kDesktopKey, kActiveSaverValue, facts.activeSaver);
    facts.activeSaverLong = LongPathOf(facts.activeSaver);
    return facts;
}

// ------------------------------------------------------------ removing

bool Gone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

Outcome Schedule(const AnsiString& path) {
    return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? Outcome::Scheduled
                                                                           : Outcome::Failed;
}

// ------------------------------------------------------------ our files

// The name the system resolves an open handle to; empty when it can't say.
AnsiString FinalPath(HANDLE handle) {
    constexpr DWORD kRoom = 1024;
    AnsiString path;
    DWORD length = GetFinalPathNameByHandleA(handle, path.Buffer(kRoom), kRoom,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    path.SyncLength();
    return length > 0 && length < kRoom ? path : AnsiString();
}

// What a file that is no link resolves to: its folder's resolved name and
// its own name. Empty when the system can't say.
AnsiString ResolvedName(const AnsiString& path) {
    AnsiString folder = DirectoryPart(path);
    if (folder.size() > 3) folder.Truncate(folder.size() - 1);
    HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return AnsiString();
    AnsiString resolved = FinalPath(handle);
    CloseHandle(handle);
    return resolved.empty() ? resolved : resolved + "\\" + FileNamePart(path);
}

// Opens the name itself, never what a link points at. Windows does so for
// this flag; Wine follows a link to a file all the same (and would delete
// the file it points at), which the resolved name then shows.
HANDLE OpenName(const AnsiString& path, DWORD access, DWORD share) {
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Whether the open file is the plan's, as its check says; why not in why.
bool IsOurs(HANDLE file, const Action& action, KeptWhy& why) {
    BY_HANDLE_FILE_INFORMATION info;
    why = KeptWhy::Changed;
    if (!GetFileInformationByHandle(file, &info)) return false;
    why = KeptWhy::Link;
    // A reparse point, a file that has another name too, or a name that
    // resolves elsewhere.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks != 1)
        return false;
    AnsiString expected = ResolvedName(action.target);
    if (!expected.empty() && !SameText(FinalPath(file), expected)) return false;
    why = KeptWhy::Folder;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    why = KeptWhy::Changed;
    if (action.check != FileCheck::Contents) return true;
    uint32_t size = 0, crc = 0;
    return info.nFileSizeHigh == 0 && info.nFileSizeLow == action.size &&
           ReadSums(file, size, crc) && size == action.size && crc == action.crc;
}

// Deletes the open file itself, not whatever its name may name by now.
bool DeleteOpen(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        return true;
    // A read-only file loses that attribute first.
    FILE_BASIC_INFO basic;
    if (GetLastError() != ERROR_ACCESS_DENIED ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) &&
           SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

enum class Removal : uint8_t { Deleted, Gone, Kept, Held };

// One try at a file of the plan. Held: another program holds it.
Removal TryRemove(const Action& action, KeptWhy& why) {
    // Nobody writes or renames it between the check and the deletion.
    HANDLE file =
        OpenName(action.target, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE) return Gone(GetLastError()) ? Removal::Gone : Removal::Held;
    Removal result = !IsOurs(file, action, why) ? Removal::Kept
                     : DeleteOpen(file)         ? Removal::Deleted
                                                : Removal::Held;
    CloseHandle(file);
    return result;
}

// A file still held after the tries goes at the next restart, when it is
// ours.
Outcome LeaveForRestart(const Action& action, KeptWhy& why) {
    HANDLE file = OpenName(action.target, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE) return Gone(GetLastError()) ? Outcome::Done : Outcome::Failed;
    bool ours = IsOurs(file, action, why);
    CloseHandle(file);
    return ours ? Schedule(action.target) : Outcome::Kept;
}

// Every file and link of the plan, all at once, with a few more tries for
// those in use (a running screen saver, an open help file); what is still
// held then goes at the next restart. What is not ours stays and is noted.
void DeleteFiles(RemovalPlan& plan) {
    Removal result[kMaxActions] = {};
    KeptWhy why[kMaxActions] = {};
    auto isFile = [&plan](size_t i) {
        return plan.actions[i].step == Step::DeleteFile || plan.actions[i].step == Step::DeleteLink;
    };
    for (size_t i = 0; i < plan.actionCount; ++i) result[i] = Removal::Held;
    for (int round = 0; round <= kRetries; ++round) {
        bool pending = false;
        for (size_t i = 0; i < plan.actionCount; ++i) {
            if (!isFile(i) || result[i] != Removal::Held) continue;
            result[i] = TryRemove(plan.actions[i], why[i]);
            pending = pending || result[i] == Removal::Held;
        }
        if (!pending) break;
        if (round < kRetries) Sleep(kRetryMs);
    }
    for (size_t i = 0; i < plan.actionCount; ++i) {
        if (!isFile(i)) continue;
        const Action& action = plan.actions[i];
        Outcome& outcome = plan.outcomes[i];
        outcome = result[i] == Removal::Kept   ? Outcome::Kept
                  : result[i] == Removal::Held ? LeaveForRestart(action, why[i])
                                               : Outcome::Done;
        if (outcome == Outcome::Kept) NoteKept(plan, action.target, why[i]);
        if (result[i] == Removal::Deleted && action.step == Step::DeleteLink)
            SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA, action.target.c_str(), nullptr);
    }
}

// A new folder of the copy's own in the temporary folder, under a name that
// nothing there has yet: a file placed in the temporary folder beforehand
// (a library that the copy would load from its own folder) can't sit
// beside the copy.
bool MakeCopyFolder(const char* temp, char* folder) {
    DWORD seed = GetTickCount() ^ GetCurrentProcessId();
    for (DWORD i = 0; i < 16; ++i) {
        wsprintfA(folder, "%sQVR%08lX.tmp", temp, static_cast<unsigned long>(seed + i * 7919));
        if (CreateDirectoryA(folder, nullptr)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

// Where the copy's folder goes: the temporary folder, or the Windows
// folder's when the temporary folder lies inside the installation folder
// (the copy would keep that from going, and stay behind itself). With a
// trailing separator.
bool CopyBase(const AnsiString& installFolder, AnsiString& base) {
    char temp[kPathBufferWithZero];
    DWORD length = GetTempPathA(kPathBuffer, temp);
    AnsiString full;
    if (length > 0 && length < kPathBuffer && FullPathOf(temp, full) &&
        !IsWithinFolder(LongPathOf(full), installFolder)) {
        base = temp;
        return true;
    }
    AnsiString windows = FindSystemFolders().windows;
    if (windows.empty() || !FullPathOf(windows + "\\Temp", full) ||
        IsWithinFolder(LongPathOf(full), installFolder))
        return false;
    base = full + "\\";
    return true;
}

// Copies this program into a new folder of its own outside the
// installation folder and starts the copy, which waits for this process
// to end and then deletes the original. True once the copy said that it
// will (it read what it needs from the registry before this goes on to
// remove it); a copy that refused has ended and is deleted again.
bool StartCopy(const AnsiString& self) {
    AnsiString base, installFolder = DirectoryPart(self);
    installFolder.Truncate(installFolder.size() - 1);
    char folder[kPathBufferWithZero + 16];
    if (!CopyBase(installFolder, base) || base.size() >= kPathBuffer ||
        !MakeCopyFolder(base.c_str(), folder))
        return false;
    AnsiString copy = AnsiString(folder) + "\\" + kRemoverFile;
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE ready = CreateEventA(&inherited, TRUE, FALSE, nullptr);
    HANDLE process = nullptr;
    bool confirmed = false;
    if (ready != nullptr && copy.size() < kPathBuffer &&
        CopyFileA(self.c_str(), copy.c_str(), FALSE) &&
        DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process,
                        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
        char numbers[48];
        wsprintfA(numbers, "%lu %lu",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(process)),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(ready)));
        AnsiString commandLine =
            AnsiString("\"") + copy + "\" " + kCopyOption + " " + numbers + " \"" + self + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info;
        // Its own folder as its current one, so that it holds on to nothing
        // that it removes.
        if (CreateProcessA(copy.c_str(), commandLine.Buffer(commandLine.size()), nullptr, nullptr,
                           TRUE, 0, nullptr, folder, &startup, &info)) {
            HANDLE either[] = {ready, info.hProcess};
            DWORD woke = WaitForMultipleObjects(2, either, FALSE, kCopyReadyMs);
            confirmed = woke == WAIT_OBJECT_0;
            if (woke == WAIT_TIMEOUT) TerminateProcess(info.hProcess, kExitCopyRefused);
            if (!confirmed) WaitForSingleObject(info.hProcess, kCopyReadyMs);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        CloseHandle(process);
    }
    if (ready != nullptr) CloseHandle(ready);
    if (!confirmed && !(DeleteFileA(copy.c_str()) || Gone(GetLastError()))) Schedule(copy);
    if (!confirmed && !RemoveDirectoryA(folder)) Schedule(folder);
    return confirmed;
}

// Calls visit with each name in the folder but "." and "..", and its
// attributes, until it returns false. False when the folder can't be
// listed.
template <typename Visit>
bool EachName(const AnsiString& folder, Visit visit) {
    WIN32_FIND_DATAA found;
    AnsiString pattern = folder + "\\*";
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool more = true;
    do {
        AnsiString name = found.cFileName;
        if (!(name == "." || name == "..")) more = visit(name, found.dwFileAttributes);
    } while (more && FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

// Looks at what is left in the installation folder once the plan's files
// went. A temporary file that a killed setup left behind goes too (a plain
// one only); everything else stays and is noted. True when something
// stays; scheduled tells of files left for the restart.
bool KeepsOthers(RemovalPlan& plan, const AnsiString& folder, bool& scheduled) {
    bool others = false;
    EachName(folder, [&](const AnsiString& name, DWORD attributes) {
        AnsiString path = folder + "\\" + name;
        for (size_t i = 0; i < plan.actionCount; ++i) {
            const Action& action = plan.actions[i];
            if (!(action.step == Step::DeleteFile || action.step == Step::DeleteSelf) ||
                !SamePath(action.target, path)) {
                continue;
            }
            // Deleted ones may linger a moment while a handle closes.
            scheduled = scheduled || plan.outcomes[i] == Outcome::Scheduled;
            others = others || plan.outcomes[i] == Outcome::Kept;  // noted already
            return true;
        }
        KeptWhy why = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? KeptWhy::Link
                      : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? KeptWhy::Folder
                                                                  : KeptWhy::NotOurs;
        if (IsPartialFileName(name)) {
            Removal result = TryRemove({Step::DeleteFile, path}, why);
            if (result == Removal::Deleted || result == Removal::Gone) return true;
            if (result == Removal::Held) why = KeptWhy::NotOurs;
        }
        NoteKept(plan, path, why);
        others = true;
        return true;
    });
    return others;
}

Outcome RemoveFolder(RemovalPlan& plan, const AnsiString& folder, bool selfPending) {
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return Outcome::Done;
    bool scheduled = false;
    if (KeepsOthers(plan, folder, scheduled)) return Outcome::Kept;
    // After the files that go at the restart, the folder goes too.
    if (scheduled) return Schedule(folder);
    if (selfPending) return Outcome::Done;  // the copy removes it
    return RemoveDirectoryA(folder.c_str()) ? Outcome::Done : Outcome::Failed;
}

Outcome RemoveGroup(const AnsiString& group) {
    if (RemoveDirectoryA(group.c_str())) {
        SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, group.c_str(), nullptr);
        return Outcome::Done;
    }
    DWORD error = GetLastError();
    if (Gone(error)) return Outcome::Done;
    return error == ERROR_DIR_NOT_EMPTY ? Outcome::Kept : Outcome::Failed;
}

Outcome ClearActiveSaver() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return Outcome::Failed;
    LONG status = RegDeleteValueA(key, kActiveSaverValue);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || Gone(status) ? Outcome::Done : Outcome::Failed;
}

Outcome DeleteKey(const AnsiString& name, bool onlyEmpty) {
    if (onlyEmpty) {
        HKEY key;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &key);
        if (Gone(status)) return Outcome::Done;
        if (status != ERROR_SUCCESS) return Outcome::Failed;
        DWORD subkeys = 0, values = 0;
        status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                  &values, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return Outcome::Failed;
        if (subkeys != 0 || values != 0) return Outcome::Kept;  // another product's
    }
    LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, name.c_str());
    return status == ERROR_SUCCESS || Gone(status) ? Outcome::Done : Outcome::Failed;
}

void RunPlan(RemovalPlan& plan) {
    DeleteFiles(plan);
    bool selfPending = false;
    for (size_t i = 0; i < plan.actionCount; ++i) {
        const AnsiString& target = plan.actions[i].target;
        Outcome& outcome = plan.outcomes[i];
        switch (plan.actions[i].step) {
            case Step::ClearActiveSaver:
                // Only for our screen saver, the file that follows: not
                // when it was kept.
                outcome = i + 1 < plan.actionCount && plan.outcomes[i + 1] == Outcome::Kept
                              ? Outcome::Kept
                              : ClearActiveSaver();
                break;
            case Step::DeleteFile:
            case Step::DeleteLink:
                break;  // done above
            case Step::DeleteSelf:
                selfPending = StartCopy(target);
                outcome = selfPending ? Outcome::Done : Schedule(target);
                break;
            case Step::RemoveFolder:
                outcome = RemoveFolder(plan, target, selfPending);
                break;
            case Step::RemoveGroup:
                outcome = RemoveGroup(target);
                break;
            case Step::DeleteKey:
            case Step::DeleteEmptyKey:
                outcome = DeleteKey(target, plan.actions[i].step == Step::DeleteEmptyKey);
                break;
        }
    }
}

// Whether the folder lists nothing but that one file.
bool HoldsOnly(const AnsiString& folder, const AnsiString& file) {
    bool only = true;
    bool listed = EachName(folder, [&](const AnsiString& name, DWORD) {
        only = SameText(name, FileNamePart(file));
        return only;
    });
    return listed && only;
}

// The program file of a running process; empty when the handle is none.
AnsiString ProcessImage(HANDLE process) {
    AnsiString image;
    DWORD length = kPathBuffer;
    if (!QueryFullProcessImageNameA(process, 0, image.Buffer(kPathBuffer), &length)) return "";
    image.SyncLength();
    return image;
}

AnsiString ModulePath() {
    AnsiString path;
    DWORD length = GetModuleFileNameA(nullptr, path.Buffer(kPathBuffer), kPathBuffer);
    path.SyncLength();
    return length > 0 && length < kPathBuffer ? path : AnsiString();
}

// Deletes the original uninstaller, a twin of this copy (with retries
// while its ended process lets go of it; else at the next restart), and
// then its folder when nothing else is left in it.
void DeleteOriginal(const AnsiString& original, const AnsiString& self) {
    Action file = {Step::DeleteFile, original, FileCheck::Contents};
    HANDLE own = CreateFileA(self.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    bool read = own != INVALID_HANDLE_VALUE && ReadSums(own, file.size, file.crc);
    if (own != INVALID_HANDLE_VALUE) CloseHandle(own);
    if (!read) return;
    KeptWhy why;
    Removal result = TryRemove(file, why);
    for (int round = 0; round < kRetries && result == Removal::Held; ++round) {
        Sleep(kRetryMs);
        result = TryRemove(file, why);
    }
    AnsiString folder = DirectoryPart(original);
    folder.Truncate(folder.size() - 1);
    if (result == Removal::Held) {
        if (LeaveForRestart(file, why) == Outcome::Scheduled) Schedule(folder);
    } else if (result != Removal::Kept) {
        // The original may linger a moment, deleted but still held by a
        // closing handle of the ended process.
        for (int round = 0; round < kRetries && !RemoveDirectoryA(folder.c_str()); ++round) {
            if (GetLastError() != ERROR_DIR_NOT_EMPTY || !HoldsOnly(folder, original)) break;
            Sleep(kRetryMs);
        }
    }
}

// The copy. Before it waits it checks, while the registry still names the
// installation, that it is that installation's own (CopyMayAct), and only
// then lets the uninstaller go on. Once the uninstaller has ended, it
// deletes the original only if the removal went through (the uninstall
// entry that starts it is gone: not after "No"), then has itself and its
// folder deleted at the next restart. Otherwise it changes nothing.
int RunCopy(const CommandLine& command) {
    CopyFacts facts;
    ReadValue(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir", facts.installDir);
    facts.installDir = FullLongPath(facts.installDir);
    facts.folders = FindSystemFolders();
    AnsiString self = ModulePath();
    facts.programPath = FullLongPath(self);
    facts.givenPath = FullLongPath(command.originalPath);
    facts.originalImage = FullLongPath(ProcessImage(command.original));
    if (!CopyMayAct(facts, kNames)) return kExitCopyRefused;
    SetEvent(command.ready);
    CloseHandle(command.ready);
    WaitForSingleObject(command.original, INFINITE);
    CloseHandle(command.original);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return kExitCopyRefused;
    }
    DeleteOriginal(facts.givenPath, self);
    // Itself and then its folder, at the next restart.
    if (!self.empty()) {
        Schedule(self);
        AnsiString folder = DirectoryPart(self);
        folder.Truncate(folder.size() - 1);
        Schedule(folder);
    }
    return kExitRemoved;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    BuildCrcTable();
    CommandLine command = ParseCommandLine();
    if (command.copy) return RunCopy(command);
    RemovalFacts facts = GatherFacts();
    // Hold on to no folder that is about to go.
    SetCurrentDirectoryA(facts.folders.windows.c_str());
    RemovalPlan plan = MakeRemovalPlan(facts, kNames);
    bool ask = plan.installed && plan.actionCount > 0;
    if (ask && !command.quiet &&
        MessageBoxA(nullptr,
                    "Do you want to remove Quorvel screen saver and all of its components from "
                    "your computer?",
                    kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return kExitCancelled;
    }
    RunPlan(plan);
    int code = RemovalExitCode(plan);
    if (!command.quiet) {
        UINT icon = code == kExitRemoved ? MB_ICONINFORMATION : MB_ICONWARNING;
        MessageBoxA(nullptr, RemovalMessage(plan).c_str(), kCaption, MB_OK | icon);
    }
    return code;
}
