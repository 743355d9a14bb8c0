// QVRemove.exe: removes Quorvel. It reads what the setup recorded, lets the
// portable plan decide what may go, asks once, removes, and says what is
// left. "/S" does the same without a word; the exit code tells the result.
//
// It lives in the folder it removes, so it deletes itself in two phases: it
// starts a copy of itself from a new folder in the temporary folder, which
// waits for this process to end, deletes the original and the folder, and
// has itself and its folder deleted at the next restart.
#include <windows.h>

#include <shlobj.h>

#include <cstdint>

#include "archive/path_buffer.h"
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

struct CommandLine {
    bool quiet = false;
    HANDLE original = nullptr;  // in the copy: the process that started it
    AnsiString originalPath;
};

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
            uintptr_t value = 0;
            AnsiString number = NextArgument(p);
            for (size_t i = 0; i < number.size() && number[i] >= '0' && number[i] <= '9'; ++i)
                value = value * 10 + static_cast<uintptr_t>(number[i] - '0');
            result.original = reinterpret_cast<HANDLE>(value);
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

// The long form of an existing path; the path itself otherwise.
AnsiString LongForm(const AnsiString& path) {
    if (path.empty()) return path;
    AnsiString result;
    DWORD length = GetLongPathNameA(path.c_str(), result.Buffer(kPathBuffer), kPathBuffer);
    result.SyncLength();
    return length > 0 && length < kPathBuffer ? result : path;
}

// A folder the system writes into a path buffer; empty on failure.
template <typename Getter>
AnsiString SystemFolder(Getter getter) {
    AnsiString folder;
    UINT length = getter(folder.Buffer(kPathBuffer), kPathBuffer);
    folder.SyncLength();
    return length > 0 && length < kPathBuffer ? folder : AnsiString();
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
    facts.installDir = LongForm(facts.installDir);
    facts.saverPath = LongForm(facts.saverPath);
    facts.appPathDir = LongForm(facts.appPathDir);
    facts.programPath = LongForm(facts.programPath);
    facts.windowsDir = SystemFolder(GetWindowsDirectoryA);
    facts.systemDirs[0] = SystemFolder(GetSystemDirectoryA);
    facts.systemDirs[1] = SystemFolder(GetSystemWow64DirectoryA);
    facts.programFilesDirs[0] = FindProgramFilesFolder();
    ReadValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProgramW6432Dir", facts.programFilesDirs[1]);
    facts.programsDir = FindProgramsFolder();
    ReadValue(HKEY_CURRENT_USER, kDesktopKey, kActiveSaverValue, facts.activeSaver);
    facts.activeSaverLong = LongForm(facts.activeSaver);
    return facts;
}

// ------------------------------------------------------------ removing

bool Gone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool TryDelete(const AnsiString& path) {
    if (DeleteFileA(path.c_str())) return true;
    DWORD error = GetLastError();
    if (Gone(error)) return true;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileA(path.c_str()) != 0;
    }
    return false;
}

Outcome Schedule(const AnsiString& path) {
    return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? Outcome::Scheduled
                                                                           : Outcome::Failed;
}

// Every file of the plan, all at once, with a few more tries for those in
// use (a running screen saver, an open help file); what is still held then
// goes at the next restart.
void DeleteFiles(RemovalPlan& plan) {
    bool held[kMaxActions] = {};
    for (size_t i = 0; i < plan.actionCount; ++i)
        held[i] = plan.actions[i].step == Step::DeleteFile;
    for (int round = 0; round <= kRetries; ++round) {
        bool pending = false;
        for (size_t i = 0; i < plan.actionCount; ++i) {
            if (held[i]) held[i] = !TryDelete(plan.actions[i].target);
            pending = pending || held[i];
        }
        if (!pending) break;
        if (round < kRetries) Sleep(kRetryMs);
    }
    for (size_t i = 0; i < plan.actionCount; ++i) {
        if (plan.actions[i].step == Step::DeleteFile)
            plan.outcomes[i] = held[i] ? Schedule(plan.actions[i].target) : Outcome::Done;
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

// Copies this program into a new folder in the temporary folder and starts
// the copy, which waits for this process to end and then deletes the
// original.
bool StartCopy(const AnsiString& self) {
    char temp[kPathBufferWithZero], folder[kPathBufferWithZero + 16];
    DWORD length = GetTempPathA(kPathBuffer, temp);
    if (length == 0 || length >= kPathBuffer || !MakeCopyFolder(temp, folder)) return false;
    AnsiString copy = AnsiString(folder) + "\\" + kRemoverFile;
    HANDLE process = nullptr;
    bool started = false;
    if (copy.size() < kPathBuffer && CopyFileA(self.c_str(), copy.c_str(), FALSE) &&
        DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process,
                        SYNCHRONIZE, TRUE, 0)) {
        char number[24];
        wsprintfA(number, "%lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(process)));
        AnsiString commandLine =
            AnsiString("\"") + copy + "\" " + kCopyOption + " " + number + " \"" + self + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info;
        // Its own folder as its current one, so that it holds on to nothing
        // that it removes.
        started = CreateProcessA(copy.c_str(), commandLine.Buffer(commandLine.size()), nullptr,
                                 nullptr, TRUE, 0, nullptr, folder, &startup, &info) != 0;
        if (started) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        CloseHandle(process);
    }
    if (!started) {
        DeleteFileA(copy.c_str());
        RemoveDirectoryA(folder);
    }
    return started;
}

// Calls visit with each name in the folder but "." and "..", until it
// returns false. False when the folder can't be listed.
template <typename Visit>
bool EachName(const AnsiString& folder, Visit visit) {
    WIN32_FIND_DATAA found;
    AnsiString pattern = folder + "\\*";
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool more = true;
    do {
        AnsiString name = found.cFileName;
        if (!(name == "." || name == "..")) more = visit(name);
    } while (more && FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

// Whether the folder holds nothing but what this run deleted or left for
// the restart (and the uninstaller itself, which its copy deletes).
bool HoldsOnlyOurs(const RemovalPlan& plan, const AnsiString& folder, bool& scheduled) {
    bool onlyOurs = true;
    EachName(folder, [&](const AnsiString& name) {
        onlyOurs = false;
        for (size_t i = 0; i < plan.actionCount && !onlyOurs; ++i) {
            const Action& action = plan.actions[i];
            bool file = action.step == Step::DeleteFile || action.step == Step::DeleteSelf;
            if (file && SamePath(action.target, folder + "\\" + name)) {
                onlyOurs = true;
                scheduled = scheduled || plan.outcomes[i] == Outcome::Scheduled;
            }
        }
        return onlyOurs;
    });
    return onlyOurs;
}

Outcome RemoveFolder(const RemovalPlan& plan, const AnsiString& folder, bool selfPending) {
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return Outcome::Done;
    bool scheduled = false;
    if (!HoldsOnlyOurs(plan, folder, scheduled)) return Outcome::Kept;
    // After the files that go at the restart, the folder goes too.
    if (scheduled) return Schedule(folder);
    if (selfPending) return Outcome::Done;  // the copy removes it
    return RemoveDirectoryA(folder.c_str()) ? Outcome::Done : Outcome::Failed;
}

Outcome DeleteLink(const AnsiString& link) {
    if (DeleteFileA(link.c_str())) {
        SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA, link.c_str(), nullptr);
        return Outcome::Done;
    }
    return Gone(GetLastError()) ? Outcome::Done : Outcome::Failed;
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
                outcome = ClearActiveSaver();
                break;
            case Step::DeleteFile:
                break;  // done above
            case Step::DeleteSelf:
                selfPending = StartCopy(target);
                outcome = selfPending ? Outcome::Done : Schedule(target);
                break;
            case Step::RemoveFolder:
                outcome = RemoveFolder(plan, target, selfPending);
                break;
            case Step::DeleteLink:
                outcome = DeleteLink(target);
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
    bool listed = EachName(folder, [&](const AnsiString& name) {
        only = SameText(name, FileNamePart(file));
        return only;
    });
    return listed && only;
}

// The copy: once the original has ended, deletes it and its folder, if
// empty, and leaves itself for the next restart.
int RunCopy(const CommandLine& command) {
    WaitForSingleObject(command.original, INFINITE);
    CloseHandle(command.original);
    const AnsiString& original = command.originalPath;
    // Nothing but the uninstaller itself.
    if (SameText(FileNamePart(original), kRemoverFile)) {
        bool deleted = TryDelete(original);
        for (int round = 0; round < kRetries && !deleted; ++round) {
            Sleep(kRetryMs);
            deleted = TryDelete(original);
        }
        AnsiString folder = DirectoryPart(original);
        if (!folder.empty()) folder.Truncate(folder.size() - 1);
        if (!deleted) {
            Schedule(original);
            Schedule(folder);
        } else {
            // The original may linger a moment, deleted but still held by
            // a closing handle of the ended process.
            for (int round = 0; round < kRetries && !RemoveDirectoryA(folder.c_str()); ++round) {
                if (GetLastError() != ERROR_DIR_NOT_EMPTY || !HoldsOnly(folder, original)) break;
                Sleep(kRetryMs);
            }
        }
    }
    // Itself and then its folder, at the next restart.
    char self[kPathBufferWithZero];
    DWORD length = GetModuleFileNameA(nullptr, self, kPathBuffer);
    if (length > 0 && length < kPathBuffer) {
        Schedule(self);
        AnsiString folder = DirectoryPart(self);
        if (!folder.empty()) folder.Truncate(folder.size() - 1);
        Schedule(folder);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CommandLine command = ParseCommandLine();
    if (command.original != nullptr) return RunCopy(command);
    RemovalFacts facts = GatherFacts();
    // Hold on to no folder that is about to go.
    SetCurrentDirectoryA(facts.windowsDir.c_str());
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
