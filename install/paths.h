// Path-name helpers of the workers and the registry writer. Byte strings,
// one byte per character. DirectoryPart and FileNamePart live with the
// strings (archive/ansi_string.h): the extraction driver splits names too.
#pragma once

#include "archive/ansi_string.h"

// '/' or '\'.
bool IsPathSeparator(char c);
