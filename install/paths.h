// Path-name helpers shared by the workers, the registry writer and the
// extraction driver. Byte strings, one byte per character.
#pragma once

#include "archive/ansi_string.h"

// '/' or '\'.
bool IsPathSeparator(char c);
// Up to and including the last '/', ':' or '\'; empty when there is none.
AnsiString DirectoryPart(const AnsiString& path);
// The text after the last '/', ':' or '\'; the whole string when none.
AnsiString FileNamePart(const AnsiString& path);
// DirectoryPart of the running program's full file name.
AnsiString ProgramDirectory();
// ProgramDirectory followed by FileNamePart(name).
AnsiString BesideProgram(const AnsiString& name);
// BesideProgram(entryName), as the extraction driver's DefaultDestination
// hook (archive/extract.h); the context is not used.
void DestinationBesideProgram(void* context, const AnsiString& entryName, AnsiString& destination);
