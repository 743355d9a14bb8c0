// The platform seam of the portable core: the few services that differ
// between Windows and POSIX. Implemented once per platform
// (platform_win32.cpp, platform_posix.cpp); nothing else in base/,
// archive/, unpack/, extract/ or pack/ includes a system header. The seam
// makes only the system calls: positions, clamping and result codes live in
// the shared stream code.
#pragma once

#include <cstdint>

#include "base/ansi_string.h"
#include "base/streams.h"

// The running program's full file name.
AnsiString ModuleFileName();

// Files. Both open calls give read and write access and let other
// processes read the file meanwhile; create truncates an existing file.
// They return kNoFile on failure.
OsFileHandle PlatformOpenFile(const char* name);
OsFileHandle PlatformCreateFile(const char* name);
bool PlatformCloseFile(OsFileHandle file);
// Bytes transferred, or -1 on failure.
int32_t PlatformReadFile(OsFileHandle file, void* buffer, int32_t count);
int32_t PlatformWriteFile(OsFileHandle file, const void* buffer, int32_t count);
// Moves to an absolute position (0 .. 2^31 - 1); false when it could not.
bool PlatformSeekFile(OsFileHandle file, int32_t position);
// Current position / size, or -1 on failure (also beyond 2^31 - 1).
int32_t PlatformFilePosition(OsFileHandle file);
int32_t PlatformFileSize(OsFileHandle file);
bool PlatformDeleteFile(const char* name);

// Replacing a file without destroying it first (TMyFileStream's
// CreatePartial and Commit). Nothing here follows a link at the name: a
// link is replaced as a name, and what it points to is never opened for
// writing.
//
// Whether what stands at name may be replaced: true when nothing does (the
// folder then decides when the new file is made), or a file that a write
// could open, or a link; false for a folder, a device, a file that is
// read-only or held open by a program that doesn't share it, and a path
// whose folder part is missing or no folder.
bool PlatformCanReplace(const char* name);
// Creates the file name, which must not exist in any form (a link
// included), for reading and writing; others may read it meanwhile.
// kNoFile on failure, with *taken true when the name was in use.
OsFileHandle PlatformCreateNewFile(const char* name, bool* taken);
// Moves the closed file from over to, on the same volume, replacing what
// stands at to as a name.
bool PlatformReplaceFile(const char* from, const char* to);
// A number that differs between processes and from moment to moment: the
// start of a search for a free temporary name.
uint32_t PlatformUniqueSeed();

// The release stamp (1 April 1998, 01:10:00 local time) in UTC as a system
// file time: 100-nanosecond units since 1 January 1601 on both platforms.
// Windows converts with the bias in force now, POSIX with the local rules of
// that date. False when the conversion failed.
bool ReleaseStampFileTime(uint64_t* fileTime);

// A named block of bytes of type "ARC" inside the running program. On
// success fills data, size and an opaque handle for PlatformFreeResource.
// *size is set as soon as the resource is found, also when loading fails.
bool PlatformLoadResource(const char* type, const char* name, void** handle, const uint8_t** data,
                          int32_t* size);
void PlatformFreeResource(void* handle);

#if !defined(_WIN32)
// POSIX stand-in for the program's resources, so that the resource stream
// can be tried on the host: a table of named byte blocks that a test fills.
// The bytes must outlive every stream that opens them. Registering a (type,
// name) pair again replaces the entry.
void RegisterResource(const char* type, const char* name, const uint8_t* data, int32_t size);
void ClearResources();
#endif
