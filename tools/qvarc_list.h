// The header walk of "qvarc l": the extraction driver's walk over
// ArchiveStream without decoding, one line per file header.
#pragma once

#include <cstdint>
#include <cstdio>

// Opens ArchiveStream as "#101", walks it and prints each file header to
// out as "UnpSize PackSize UnpVer Method FileCrc HeadFlags FileAttr Name";
// closes the stream again. Returns ExtractResult.
int32_t ListEntries(std::FILE* out);
