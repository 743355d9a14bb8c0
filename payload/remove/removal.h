// What the uninstaller may remove, decided apart from the system calls: the
// registry values and system folders go in, the list of actions and
// refusals comes out; after the actions ran, their outcomes give the final
// message and the exit code. No system headers here, so that the decisions
// are tested on any machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/ansi_string.h"
#include "install/registry_keys.h"

// The product key's parents, deleted when nothing else is left in them.
inline constexpr const char* kProductKeyParents[] = {"SOFTWARE\\Tembra\\Quorvel",
                                                     "SOFTWARE\\Tembra"};
// The setup's two links in the program group.
inline constexpr const char* kProductLinks[] = {"Quorvel Help.Lnk", "Quorvel Settings.Lnk"};

// The product's file names, made at build time from the list the archive is
// packed from. `saver` and `remover` name two of them.
struct ProductNames {
    const char* const* files;
    size_t count;
    const char* saver;    // goes where the application-path value names it
    const char* remover;  // the uninstaller itself
};

// What the uninstaller found. Folders come as the system gave them; an
// empty text is a value that is missing.
struct RemovalFacts {
    bool productKey = false;  // the product key exists
    AnsiString installDir;    // its "InstallDir"
    bool hasShellFolder = false;
    AnsiString shellFolder;  // its "ShellFolder"
    AnsiString saverPath;    // the application-path key's default value
    AnsiString appPathDir;   // its "Path"
    AnsiString programPath;  // the running uninstaller's full file name
    AnsiString windowsDir;
    AnsiString systemDirs[2];        // the system folder; its 32-bit twin on 64-bit Windows
    AnsiString programFilesDirs[2];  // "ProgramFilesDir", "ProgramW6432Dir"
    AnsiString programsDir;          // the Start menu's Programs folder, as the setup found it
    AnsiString activeSaver;          // the current user's "SCRNSAVE.EXE"
    AnsiString activeSaverLong;      // its long form, when the system knows one
};

enum class Step : uint8_t {
    ClearActiveSaver,  // delete the user's "SCRNSAVE.EXE" value
    DeleteFile,
    DeleteSelf,    // the running uninstaller: its copy deletes it after it ended
    RemoveFolder,  // the installation folder, when nothing else is left in it
    DeleteLink,    // and tell the shell
    RemoveGroup,   // the program group folder, when empty
    DeleteKey,
    DeleteEmptyKey,  // only when it holds no values and no subkeys
};

enum class Outcome : uint8_t {
    Done,
    Scheduled,  // removed at the next restart
    Failed,
    Kept,  // a folder or key that still holds what is not ours
};

struct Action {
    Step step;
    AnsiString target;  // a path, or a key under HKEY_LOCAL_MACHINE
};

inline constexpr size_t kMaxActions = 40;
inline constexpr size_t kMaxRefusals = 3;

struct RemovalPlan {
    bool installed = false;
    Action actions[kMaxActions];
    size_t actionCount = 0;
    // Sentences that say what was left alone and why.
    AnsiString refusals[kMaxRefusals];
    size_t refusalCount = 0;
    Outcome outcomes[kMaxActions] = {};  // filled in by whoever runs the actions
};

enum RemovalExit : int {
    kExitRemoved = 0,       // everything of the product is gone
    kExitNotInstalled = 1,  // no product key; nothing was changed
    kExitCancelled = 2,     // the user said No; nothing was changed
    kExitRestart = 3,       // the rest goes at the next restart
    kExitIncomplete = 4,    // something was refused or could not be removed
};

// Both ignore letter case and take '/' for '\'; SamePath also one trailing separator.
bool SamePath(const AnsiString& a, const AnsiString& b);
bool SameText(const AnsiString& a, const AnsiString& b);

RemovalPlan MakeRemovalPlan(const RemovalFacts& facts, const ProductNames& names);
// From the plan and its outcomes.
int RemovalExitCode(const RemovalPlan& plan);
AnsiString RemovalMessage(const RemovalPlan& plan);
