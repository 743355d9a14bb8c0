// The archive inside a setup program: its resource "ARC" 101, found through
// the program file's resource directory, so that qvarc reads exactly the
// embedded archive and none of the program's other bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteRange {
    size_t Offset = 0;
    size_t Size = 0;
};

// The file bytes of the resource of type "ARC" (letters in any case) and
// id 101, in its first language, when file is a Windows program (32 or 64
// bit) that has one whose bytes lie inside the file. Every offset is
// checked: a damaged program file gives false, never a read outside it.
bool FindEmbeddedArchive(const uint8_t* file, size_t size, ByteRange& archive);
