// The header walk of "qvarc l": the extraction driver's walk over the
// run's archive without decoding.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/reader.h"

// Opens the run's ArchiveStream with its ArchiveName, walks it and hands
// each file header to row; closes the stream again. Returns ExtractResult.
int32_t WalkEntries(ArchiveRun& run, void (*row)(void* context, const FileHeaderRecord& header),
                    void* context);
// The walk with one line per file header to out, as "UnpSize PackSize
// UnpVer Method FileCrc HeadFlags FileAttr Name".
int32_t ListEntries(ArchiveRun& run, std::FILE* out);
