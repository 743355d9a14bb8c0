// File-system helpers of the installation: free space of a drive, the
// comparison against the release stamp, and the creation (and taking back)
// of a whole folder chain. Windows only.
#pragma once

#include <cstdint>

#include <windows.h>

#include "base/ansi_string.h"

// Free bytes of the drive that holds path; 0 on any failure. Saturates at
// INT32_MAX, so a drive with free space never reads as 0. A network path
// ("\\server\share\...") queries the share's root.
int32_t FreeDiskBytes(const AnsiString& path);

// The release stamp as a UTC file time, converted with the bias in force now.
FILETIME ReleaseStampUtc();

// True when the open file's last-write time is at or after the release
// stamp; false when the times can't be read.
bool IsSameOrNewer(HANDLE file);

// Makes every directory of path exist. Drops one trailing separator from
// path when it is longer than three characters. existingPrefix receives the
// deepest part that existed before (not set for an empty path). On failure
// the directories this call created below existingPrefix are removed again.
bool EnsureDirectoryChain(AnsiString& path, AnsiString& existingPrefix);

// The long form of an existing path (no 8.3 short names); the path itself
// when it does not exist or has no long form that fits a path buffer.
AnsiString LongPathOf(const AnsiString& path);

// The file name in the system folder, by its full path, so that nothing is
// searched for it (a 32-bit program on 64-bit Windows reaches the 32-bit
// system folder through that path); empty when the folder can't be read.
AnsiString SystemFolderFile(const char* name);

// Removes, deepest first, the directories of path below existingPrefix;
// stops at the first one that can't be removed.
void RemoveCreatedDirectories(AnsiString path, const AnsiString& existingPrefix);
