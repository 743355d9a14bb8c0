// Path-name helpers of the workers, the registry writer, the folder page
// and the uninstaller. Byte strings, one byte per character. DirectoryPart
// and FileNamePart live with the strings (base/ansi_string.h): the
// extraction driver splits names too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ansi_string.h"
#include "base/path_buffer.h"

// '/' or '\'.
bool IsPathSeparator(char c);
// True when name can be a file of its own inside a folder: not empty, not
// made of dots and blanks only (".", ".." and the like name a folder), and
// not a device name (CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, CONIN$,
// CONOUT$, in any letter case, with or without an extension), which the
// system opens as the device in every folder.
bool IsPlainFileName(const AnsiString& name);

// Both ignore letter case, as the file system does; SamePath also takes '/'
// for '\' and one trailing separator for none. Empty paths are never the
// same.
bool SameText(const AnsiString& a, const AnsiString& b);
bool SamePath(const AnsiString& a, const AnsiString& b);

// Longest folder text the installation accepts (247): the system creates
// no folder whose path leaves no room for an 8.3 file name (12 characters)
// and the zero in a path buffer.
constexpr size_t kFolderTextLimit = kPathBuffer - 12 - 1;

// True when the file system can hold path as a folder: not longer than
// kFolderTextLimit, no wildcard or other character that names can't have
// (which could also match an existing folder by pattern), and ':' only as
// a drive letter's.
bool IsUsableFolderText(const AnsiString& path);

// The full path that the system makes of text: '/' read as '\', empty
// names (doubled separators) and each name's trailing dots and blanks
// dropped, "." and ".." resolved (never above the root), and no trailing
// separator but a drive root's ("C:\"). False for what is no full path:
// relative ("Quorvel"), drive-relative ("C:Quorvel", "C:"), on the current
// drive ("\Quorvel"), a network path without server or share, and device
// paths ("\\?\", "\\.\").
bool FullPathOf(const AnsiString& text, AnsiString& full);

// True when path is folder or lies below it; both full paths (FullPathOf),
// letter case ignored.
bool IsWithinFolder(const AnsiString& path, const AnsiString& folder);

// The root of a full path: "C:\" or "\\server\share\".
AnsiString RootOf(const AnsiString& full);

// The folders the product never lives in themselves; a folder inside them
// is fine. Empty entries are unknown to the system.
struct SystemFolders {
    AnsiString windows;
    AnsiString system[2];  // the system folder; its 32-bit twin on 64-bit Windows
    // "ProgramFilesDir" in the program's registry view and in the 64-bit
    // one, "ProgramFilesDir (x86)"
    AnsiString programFiles[3];
};

enum class FolderVerdict : uint8_t {
    Usable,
    Empty,
    Unusable,  // a character names can't have, or too long
    NotFullPath,
    Root,  // a drive's or a share's
    WindowsFolder,
    SystemFolder,
    ProgramFilesFolder,
};

// The one rule for where the product may live, which the setup's folder
// page and the uninstaller share, so that the setup never installs where
// the uninstaller would refuse to remove. full receives the full path of
// text (FullPathOf), which is what the setup creates and records; it is
// set for Usable and for the verdicts from Root on.
FolderVerdict CheckInstallFolder(const AnsiString& text, const SystemFolders& folders,
                                 AnsiString& full);
