// The decompressor of packed entries (method version 20): LZ decoding in a
// 1 MB window and multimedia (delta-predicted) decoding, both over
// canonical Huffman codes.
//
// Its whole state is one record, Unpacker (unpack/unpacker_state.h), which
// the caller owns (one per extraction run) and hands to every call; the
// decoder keeps nothing of its own. It knows nothing of archives or files:
// its input, its output and its progress report are function and context
// pairs that the caller installs.
#pragma once

#include <cstdint>

// The window memory the caller provides: 1 MB, kept for the whole run.
constexpr int32_t kWindowSize = 0x100000;

// A callback of the caller: a null Function is not installed.
template <typename F>
struct UnpackHook {
    F Function = nullptr;
    void* Context = nullptr;
};
// Reads up to count packed bytes; returns the count read (0 on failure).
using PackedInput = int32_t (*)(void* context, uint8_t* to, int32_t count);
// Takes produced bytes, in order.
using OutputSink = void (*)(void* context, const uint8_t* data, int32_t count);
// Hears the count of bytes still to produce.
using ProgressReport = void (*)(void* context, int32_t outputLeft);

struct UnpackHooks {
    UnpackHook<PackedInput> Input;
    UnpackHook<OutputSink> Output;
    UnpackHook<ProgressReport> Progress;
};

struct Unpacker;

// Starts a run: the state of a fresh process (every field cleared, every
// table the empty code), with the run's hooks and window. The window need
// not be cleared: the decoder reads only bytes that its entries wrote, and
// zeros for the rest. windowZero: it is all zeros, which a solid first
// entry may then read as history.
void ResetUnpacker(Unpacker& u, const UnpackHooks& hooks, uint8_t* window, bool windowZero);
// Gives a fresh record (ResetUnpacker) its run's hooks and window, or takes
// them off again (empty hooks, no window), clearing nothing else: a short
// run costs no second clearing of the 45 KB record.
void AttachUnpacker(Unpacker& u, const UnpackHooks& hooks, uint8_t* window, bool windowZero);
// Decodes the next packed entry, of packedSize bytes into unpackedSize;
// solid continues the previous entry's state.
void UnpackEntry(Unpacker& u, int32_t packedSize, int32_t unpackedSize, bool solid);
// Copies the next stored entry (method 0x30) to the output.
void CopyStored(Unpacker& u, int32_t packedSize, int32_t unpackedSize);
// A code-table block was read in this run: a solid entry has tables to go on with.
bool TablesRead(const Unpacker& u);
