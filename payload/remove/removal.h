// What the uninstaller may remove, decided apart from the system calls: the
// registry values and system folders go in, the list of actions and
// refusals comes out; after the actions ran, their outcomes give the final
// message and the exit code. No system headers here, so that the decisions
// are tested on any machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ansi_string.h"
#include "install/paths.h"
#include "install/registry_keys.h"

// The product key's parents, deleted when nothing else is left in them.
inline constexpr const char* kProductKeyParents[] = {"SOFTWARE\\Tembra\\Quorvel",
                                                     "SOFTWARE\\Tembra"};
// The setup's two links in the program group.
inline constexpr const char* kProductLinks[] = {"Quorvel Help.Lnk", "Quorvel Settings.Lnk"};

// How the uninstaller tells a file of the product's name from someone
// else's. Whatever the check, it deletes plain files only: no link, no
// reparse point, no file that has another name too.
enum class FileCheck : uint8_t {
    Contents,  // the size and CRC-32 of the file as the archive holds it
    Plain,     // any plain file: one the setup does not write (the help viewer's index files)
    Program,   // the uninstaller: as the running one, the only file the archive can't tell
};

struct ProductFile {
    const char* name;
    FileCheck check;
    uint32_t size;
    uint32_t crc;
};

// The product's files, made at build time from the staged payload that the
// archive is packed from. `saver` and `remover` name two of them.
struct ProductNames {
    const ProductFile* files;
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
    AnsiString shellFolder;    // its "ShellFolder"
    AnsiString saverPath;      // the application-path key's default value
    AnsiString appPathDir;     // its "Path"
    AnsiString programPath;    // the running uninstaller's full file name
    bool programRead = false;  // its file's size and CRC-32, when it could be read
    uint32_t programSize = 0;
    uint32_t programCrc = 0;
    SystemFolders folders;
    AnsiString programsDir;      // the Start menu's Programs folder, as the setup found it
    AnsiString activeSaver;      // the current user's "SCRNSAVE.EXE"
    AnsiString activeSaverLong;  // its long form, when the system knows one
};

enum class Step : uint8_t {
    ClearActiveSaver,  // delete the user's "SCRNSAVE.EXE" value
    DeleteFile,        // when it passes its check
    DeleteSelf,        // the running uninstaller: its copy deletes it after it ended
    RemoveFolder,      // the installation folder, when nothing else is left in it
    DeleteLink,        // a plain file only, and tell the shell
    RemoveGroup,       // the program group folder, when empty
    DeleteKey,
    DeleteEmptyKey,  // only when it holds no values and no subkeys
};

enum class Outcome : uint8_t {
    Done,
    Scheduled,  // removed at the next restart
    Failed,
    Kept,  // not ours as installed; or a folder or key that still holds what is not ours
};

struct Action {
    Step step;
    AnsiString target;  // a path, or a key under HKEY_LOCAL_MACHINE
    // For the files: what makes one ours (Program never: the plan puts in
    // the running uninstaller's values).
    FileCheck check = FileCheck::Plain;
    uint32_t size = 0;
    uint32_t crc = 0;
};

// Why a file was kept.
enum class KeptWhy : uint8_t {
    NotOurs,  // a name the setup never writes
    Changed,  // one of the product's names, but not the file the setup wrote
    Link,     // a link, a reparse point, or a file with another name too
    Folder,
};

struct KeptFile {
    AnsiString path;
    KeptWhy why;
};

inline constexpr size_t kMaxActions = 40;
inline constexpr size_t kMaxRefusals = 3;
// The final message names this many kept files, then says how many more.
inline constexpr size_t kKeptShown = 5;

struct RemovalPlan {
    bool installed = false;
    Action actions[kMaxActions];
    size_t actionCount = 0;
    // Sentences that say what was left alone and why.
    AnsiString refusals[kMaxRefusals];
    size_t refusalCount = 0;
    Outcome outcomes[kMaxActions] = {};  // filled in by whoever runs the actions
    // What was kept (noted by whoever runs the actions): the first
    // kKeptShown in the order of their paths, and how many in all.
    KeptFile kept[kKeptShown];
    size_t keptCount = 0;
};

enum RemovalExit : int {
    kExitRemoved = 0,       // everything of the product is gone
    kExitNotInstalled = 1,  // no product key; nothing was changed
    kExitCancelled = 2,     // the user said No; nothing was changed
    kExitRestart = 3,       // the rest goes at the next restart
    kExitIncomplete = 4,    // something was refused or could not be removed
    kExitKept = 5,          // removed, but files that are not ours as installed were kept
    kExitCopyRefused = 6,   // "/copy" that is not this installation's own: nothing was changed
};

// What the second phase is given and finds before it waits: the temporary
// copy that deletes the uninstaller once it has ended ("/copy").
struct CopyFacts {
    AnsiString installDir;  // "InstallDir", as the registry names it now
    SystemFolders folders;
    AnsiString programPath;    // the running copy
    AnsiString givenPath;      // the file it is asked to delete
    AnsiString originalImage;  // the program of the process it is asked to wait for; empty: none
};

// True only for the uninstaller's own copy: it runs outside the
// installation folder that the registry names (one the rule lets it remove
// from), and is asked to delete that installation's uninstaller after the
// process that runs it.
bool CopyMayAct(const CopyFacts& facts, const ProductNames& names);

RemovalPlan MakeRemovalPlan(const RemovalFacts& facts, const ProductNames& names);
// Notes a file that stays, for the final message and the exit code.
void NoteKept(RemovalPlan& plan, const AnsiString& path, KeptWhy why);
// From the plan and its outcomes.
int RemovalExitCode(const RemovalPlan& plan);
AnsiString RemovalMessage(const RemovalPlan& plan);
