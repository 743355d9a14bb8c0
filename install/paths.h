// Path-name helpers of the workers and the registry writer. Byte strings,
// one byte per character. DirectoryPart and FileNamePart live with the
// strings (archive/ansi_string.h): the extraction driver splits names too.
#pragma once

#include "archive/ansi_string.h"

// '/' or '\'.
bool IsPathSeparator(char c);
// True when name can be a file of its own inside a folder: not empty, not
// made of dots and blanks only (".", ".." and the like name a folder), and
// not a device name (CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, CONIN$,
// CONOUT$, in any letter case, with or without an extension), which the
// system opens as the device in every folder.
bool IsPlainFileName(const AnsiString& name);
