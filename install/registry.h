// Everything the setup reads from or writes to the registry: the product's
// key, the application-path and uninstall entries, and the look-ups of the
// Programs and program-files folders. User-interface thread only.
#pragma once

#include <windows.h>

#include "base/ansi_string.h"
#include "install/install_record.h"
#include "install/paths.h"
#include "install/registry_keys.h"

// The system's registry paths, exactly as it expects them.
constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kKeyClass = "Application Global Data";

// A REG_SZ value that fits 260 bytes with its zero replaces text; otherwise
// text stays as it was.
void ReadRegistryString(HKEY key, const char* valueName, AnsiString& text);
// As ReadRegistryString, but text is emptied when nothing is read.
void QueryRegistryString(HKEY key, const char* valueName, AnsiString& text);
// Writes text with its terminating zero as REG_SZ; the result is ignored.
void WriteRegistryString(HKEY key, const char* valueName, const AnsiString& text);

// Product key "InstallDir", application-path key (skipped when
// screenSaverPath is empty) and uninstall entry, from the file phase's
// results. True when every key could be created or opened.
bool WriteInstallEntries(const AnsiString& installDir, const InstallRecord& results);
// Product key "ShellFolder". True when the key could be created or opened.
bool WriteShellFolder(const AnsiString& relativeGroup);
// Removes the product key's "ShellFolder", so that an older run's group
// does not mislead the next update when this run's has no relative path.
void RemoveShellFolder();
// The all-users Programs folder, else the current user's; empty if unknown.
AnsiString FindProgramsFolder();
// "ProgramFilesDir", or empty.
AnsiString FindProgramFilesFolder();
// The Windows folder, the system folders and the program-files folders of
// both views, as the system names them (empty where it names none).
SystemFolders FindSystemFolders();
