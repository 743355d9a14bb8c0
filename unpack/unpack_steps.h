// The decoder's single steps, for tests and fuzz targets that drive them
// one by one on Unp. The product calls only what unpacker.h declares.
#pragma once

#include <cstdint>

#include "unpack/unpacker.h"

int32_t ReadPacked(uint8_t* destination, int32_t count);
void FillInput(bool first);
// The next 16 bits at InputPos/BitOffset, and consuming n of them (0..16).
uint32_t PeekBits();
void SkipBits(int32_t n);
void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count);
int32_t DecodeSymbol(const HuffmanTable& table);
