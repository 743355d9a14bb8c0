// The method-20 compressor: hash-chain match finding over the 1 MB window,
// a price-driven optimal parse that knows every LZ symbol kind, multimedia
// coding for sampled data chosen per segment, and statistics-driven block
// splitting. Symbols, codes and tables are written by the symbol writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvpack {

struct CompressOptions {
    int Level = 3;           // 1 fastest .. 5 smallest
    bool Multimedia = true;  // try delta-predicted coding on sampled data
};

struct CompressStats {
    size_t PeakMemory = 0;  // largest working set of the compressor, in bytes
};

struct InputFile {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
};

// Packs files as one stream: the first entry non-solid, the others
// continuing it (solid). packed receives one byte string per file; it is
// decodable only in that order. Files must not be empty.
bool CompressChain(const std::vector<InputFile>& files, const CompressOptions& options,
                   std::vector<std::vector<uint8_t>>& packed, CompressStats* stats = nullptr);

// How one archive entry is to be written.
struct PackedFile {
    bool Stored = false;        // copy as is (method 0x30); otherwise method 0x33
    bool Solid = false;         // continues the previous packed entry's stream
    std::vector<uint8_t> Data;  // packed bytes (empty for a stored entry)
};

// Packs every file of an archive, falling back to stored entries when
// packing does not pay. solid chains the packed entries into one stream;
// a stored entry (which the decoder copies through its window memory)
// restarts the chain after it. Deterministic for the same input.
bool PackFiles(const std::vector<InputFile>& files, const CompressOptions& options, bool solid,
               std::vector<PackedFile>& out, CompressStats* stats = nullptr);

}  // namespace qvpack
