// The single steps of unpack_steps.h, on the record's read position.
#include "unpack/unpack_steps.h"

uint32_t PeekBits(const Unpacker& u) {
    return ReaderAt(u).Peek16();
}

void SkipBits(Unpacker& u, int32_t n) {
    BitReader in = ReaderAt(u);
    in.Skip(static_cast<uint32_t>(n));
    StoreReader(u, in);
}

int32_t DecodeSymbol(Unpacker& u, const HuffmanTable& table) {
    BitReader in = ReaderAt(u);
    const int32_t symbol = in.Decode(table);
    StoreReader(u, in);
    return symbol;
}

void ReadCodeTables(Unpacker& u) {
    StoreReader(u, ReadCodeTables(u, ReaderAt(u)));
}
