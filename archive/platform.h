// The platform seam of the portable core: the few services that differ
// between Windows and POSIX. Implemented once per platform
// (platform_win32.cpp, platform_posix.cpp); nothing else in archive/,
// unpack/ or pack/ includes a system header.
#pragma once

#include <cstdint>

#include "archive/ansi_string.h"

// The running program's full file name.
AnsiString ModuleFileName();

#if !defined(_WIN32)
// POSIX stand-in for the program's resources: a table of named byte blocks
// that a program fills at start-up (qvarc registers an archive file's bytes
// as type "ARC", name "#101"). The bytes must outlive every stream that opens
// them. Registering a (type, name) pair again replaces the entry.
void RegisterResource(const char* type, const char* name, const uint8_t* data, int32_t size);
void ClearResources();
#endif
