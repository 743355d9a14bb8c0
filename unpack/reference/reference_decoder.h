// The reference decoder of method-20 streams: the format's rules as they
// read, one step at a time, with the format's names. It peeks three bytes
// per symbol, searches the limits one by one, copies matches byte by byte
// with a masked index and runs the predictor term by term. It is the
// oracle that the fast decoder (unpack/unpacker.h) must match in every
// output byte, write piece and progress report, on valid and on damaged
// streams; it follows the same policy for running out of input and for
// damage (unpack/unpacker_state.h). Slow on purpose; never in the product.
#pragma once

#include <cstdint>
#include <vector>

#include "unpack/unpacker_state.h"

namespace qvref {

struct Table {
    int32_t SymbolCount = 0;
    int32_t LengthLimit[16] = {};
    int32_t LengthStart[16] = {};
    int32_t SortedSymbols[kLiteralSymbols] = {};
};

// One multimedia channel, with the fields of the format's description.
struct Channel {
    int32_t Weights[5] = {};
    int32_t DeltaHistory[4] = {};  // H0..H3
    int32_t PrevDelta = 0;
    int32_t ErrorSums[kErrorCandidates] = {};
    int32_t SampleCount = 0;
    int32_t PrevByte = 0;
};

// One run's state. Fields are public so that tests can look at them.
struct ReferenceUnpacker {
    // A fresh run with the caller's hooks and its own zeroed window.
    explicit ReferenceUnpacker(const UnpackHooks& hooks);
    // A fresh run again, keeping the window's memory.
    void Restart(const UnpackHooks& hooks);

    void UnpackEntry(int32_t packedSize, int32_t unpackedSize, bool solid);
    void CopyStored(int32_t packedSize, int32_t unpackedSize);

    // Part of the bit input, usable on their own.
    int32_t ReadPacked(uint8_t* destination, int32_t count);
    void FillInput(bool first);
    uint32_t PeekBits() const;
    void SkipBits(int32_t n);
    int32_t Field(int32_t n);
    static void BuildTable(const uint8_t* lengths, Table& table, int32_t count);
    int32_t DecodeSymbol(const Table& table);
    // The symbol and the code length for a peek of 16 bits.
    static int32_t DecodePeek(const Table& table, uint32_t peek, int32_t& length);
    void ReadCodeTables();

    UnpackHooks Hooks;
    int32_t PackedRemaining = 0;
    int32_t OutputLeft = 0;

    uint8_t InputBuffer[kInputSize + kInputSpare] = {};
    int32_t InputPos = 0;
    int32_t BitOffset = 0;
    int32_t InputEnd = 0;
    // For the overrun bound: packed bytes delivered for the entry, and how
    // many of them lie before InputBuffer[0].
    int64_t PackedDelivered = 0;
    int64_t InputBase = 0;

    Table LiteralTable, DistanceTable, RepeatLengthTable, PreTable, AudioTables[kMaxChannels];
    uint8_t PreviousLengths[kMaxTableSize] = {};
    bool TablesRead = false;
    bool AudioMode = false;
    int32_t ChannelCount = 0;
    int32_t CurrentChannel = 0;

    std::vector<uint8_t> Window;
    int32_t WindowPos = 0;
    int32_t FlushedPos = 0;
    int32_t RecentDistances[4] = {};
    int32_t RecentIndex = 0;
    int32_t PrevMatchLength = 0;
    int32_t PrevMatchDistance = 0;

    Channel Predictors[kMaxChannels];
    int32_t CrossDelta = 0;

    // Steps of the last entry that consumed no input: a stream must never
    // make the decoder write without reading.
    int32_t StepsWithoutInput = 0;

private:
    ReferenceUnpacker(const UnpackHooks& hooks, std::vector<uint8_t>&& window);
    void StartEntry(bool solid);
    void LzStep();
    void AudioStep();
    void CopyMatch(int32_t length, int32_t distance);
    uint8_t PredictByte(int32_t delta);
    void FlushWindow();
    void EmitOutput(const uint8_t* data, int32_t count);
    void ReadTrailingTables();
};

}  // namespace qvref
