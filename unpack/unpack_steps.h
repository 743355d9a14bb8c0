// The decoder's single steps, for tests and fuzz targets that drive them
// one by one on a state record. Built into qvunpack_steps, never into the
// product, which calls only what unpacker.h declares.
#pragma once

#include <cstdint>

#include "unpack/decoder_parts.h"

// The next 16 bits at InputPos/BitOffset, and consuming n of them (0..16).
uint32_t PeekBits(const Unpacker& u);
void SkipBits(Unpacker& u, int32_t n);
int32_t DecodeSymbol(Unpacker& u, const HuffmanTable& table);
// A code-table block at InputPos/BitOffset.
void ReadCodeTables(Unpacker& u);
