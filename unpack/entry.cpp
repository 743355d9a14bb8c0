// What runs once per code-table block or per entry, not per byte: building
// the decode tables from code lengths, reading a code-table block, an
// entry's start and its trailing block, the copy of a stored entry.
#include <algorithm>
#include <cstring>

#include "unpack/decoder_parts.h"

namespace {

// Sets entries[prefix, stop) to entry, a machine word at a time: a group
// of a word's worth of entries or more starts at a multiple of its size.
template <typename Entry>
void FillGroup(Entry* entries, uint32_t prefix, uint32_t stop, Entry entry) {
    constexpr uint32_t kPerWord = sizeof(BitWord) / sizeof(Entry);
    BitWord word = entry;
    if constexpr (kPerWord > 1) {
        for (uint32_t k = 1; k < kPerWord; ++k) word = word << (8 * sizeof(Entry)) | entry;
    }
    for (; prefix + kPerWord <= stop; prefix += kPerWord)
        std::memcpy(entries + prefix, &word, sizeof(word));
    for (; prefix < stop; ++prefix) entries[prefix] = entry;
}

// One entry per kFastBits-bit prefix. The limits of lengths up to kFastBits
// are multiples of 2^(16 - kFastBits) or the cap 0xFFFF (which every f with
// its lowest bit clear is below), so the prefix alone decides whether the
// code is that short, and then which symbol it is: the prefixes of length n
// run from limit[n-1] to limit[n], and each 2^(kFastBits - n) of them are
// one index of the rule (past the sorted symbols: the first one); the
// prefixes of longer codes get 0.
//
// Without steps, the table's Fast entries; a multimedia table keeps its
// block-change symbol out of them, so that a fast hit there is always a
// byte. With steps, the step entries instead: a symbol's own (stepOf) plus
// the code's length, unless the entry takes more bits than a refill leaves.
void BuildFast(HuffmanTable& t, uint32_t* steps, uint32_t (*stepOf)(int32_t)) {
    const int32_t slowSymbol = t.SymbolCount == kAudioSymbols ? kAudioBlockChange : -1;
    constexpr uint32_t kPrefixes = 1u << kFastBits;
    constexpr int kDropped = 16 - kFastBits;  // bits of a limit below the prefix
    uint32_t prefix = 0;
    for (int32_t n = 1; n <= kFastBits; ++n) {
        const uint32_t end = std::min<uint32_t>(
            kPrefixes,
            (static_cast<uint32_t>(t.LengthLimit[n]) + (1u << kDropped) - 1) >> kDropped);
        const uint32_t group = 1u << (kFastBits - n);
        for (uint32_t index = static_cast<uint32_t>(t.LengthStart[n]); prefix < end; ++index) {
            const uint32_t stop = std::min(end, prefix + group);
            const int32_t symbol =
                t.SortedSymbols[index < static_cast<uint32_t>(t.SymbolCount) ? index : 0];
            if (steps != nullptr) {
                const uint32_t step = stepOf(symbol) + static_cast<uint32_t>(n);
                const bool fits =
                    static_cast<int32_t>(step & kFastLengthMask) <= BitReader::kMinBits;
                FillGroup(steps, prefix, stop, fits ? step : 0u);
            } else {
                FillGroup(t.Fast, prefix, stop,
                          symbol != slowSymbol
                              ? static_cast<uint16_t>(symbol << kFastSymbolShift | n)
                              : kFastSlow);
            }
            prefix = stop;
        }
    }
    if (steps != nullptr)
        FillGroup(steps, prefix, kPrefixes, 0u);
    else
        FillGroup(t.Fast, prefix, kPrefixes, kFastSlow);
}

// Any lengths are built, complete or not (the damage policy in
// unpacker_state.h).
void BuildCode(const uint8_t* lengths, HuffmanTable& table, int32_t count) {
    // Counted in two halves, so that runs of equal lengths don't wait on
    // the same counter.
    int32_t lengthCount[16] = {};
    int32_t oddCount[16] = {};
    int32_t i = 0;
    for (; i + 1 < count; i += 2) {
        lengthCount[lengths[i] & 15] += 1;
        oddCount[lengths[i + 1] & 15] += 1;
    }
    if (i < count) lengthCount[lengths[i] & 15] += 1;
    for (int32_t k = 1; k < 16; ++k) lengthCount[k] += oddCount[k];
    lengthCount[0] = 0;
    table.LengthLimit[0] = 0;
    table.LengthStart[0] = 0;
    int32_t next[16] = {};
    // At most 1028 symbols: acc stays below 2^16 * 1028, no overflow.
    int32_t acc = 0;
    for (int32_t k = 1; k <= kMaxCodeLength; ++k) {
        acc = 2 * (acc + lengthCount[k]);
        const int32_t limit = acc << (15 - k);
        table.LengthLimit[k] = limit > 0xFFFF ? 0xFFFF : limit;
        table.LengthStart[k] = table.LengthStart[k - 1] + lengthCount[k - 1];
        next[k] = table.LengthStart[k];
    }
    for (i = 0; i < count; ++i) {
        const int32_t len = lengths[i] & 15;
        if (len != 0) table.SortedSymbols[next[len]++] = i;
    }
    table.SymbolCount = count;
}

}  // namespace

void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count) {
    BuildCode(lengths, table, count);
    BuildFast(table, nullptr, nullptr);
}

void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count, uint32_t* steps,
                uint32_t (*stepOf)(int32_t)) {
    BuildCode(lengths, table, count);
    BuildFast(table, steps, stepOf);
}

BitReader ReadCodeTables(Unpacker& u, const BitReader& reader) {
    BitReader in = reader;
    if (in.Pos() > kRefillTables) in = RefillAt(u, in);
    in.Refill();
    const uint32_t f = in.Peek16();
    u.AudioMode = (f & 0x8000) != 0;
    if ((f & 0x4000) == 0) std::memset(u.PreviousLengths, 0, sizeof(u.PreviousLengths));
    in.Skip(2);
    int32_t tableSize = kLzTableSize;
    if (u.AudioMode) {
        u.ChannelCount = static_cast<int32_t>((f >> 12) & 3) + 1;
        if (u.CurrentChannel >= u.ChannelCount) u.CurrentChannel = 0;
        in.Skip(2);
        tableSize = kAudioSymbols * u.ChannelCount;
    }
    uint8_t preLengths[kPreSymbols];
    for (int32_t i = 0; i < kPreSymbols; ++i) {
        in.Refill();
        preLengths[i] = static_cast<uint8_t>(in.Field(4));
    }
    BuildTable(preLengths, u.PreTable, kPreSymbols);

    // Starts as zeros: lengths past the table size are 0 afterwards.
    uint8_t work[kMaxTableSize] = {};
    int32_t i = 0;
    while (i < tableSize) {
        if (in.Pos() > kRefillLengths) in = RefillAt(u, in);
        in.Refill();
        const int32_t s = in.Decode(u.PreTable);
        if (s < 16) {
            work[i] = static_cast<uint8_t>((s + u.PreviousLengths[i]) & 15);
            ++i;
            continue;
        }
        int32_t n;
        if (s == kPreRepeatPrevious) {
            n = in.Field(2) + 3;
            // At the first position there is no length to repeat: 0.
            for (; n > 0 && i < tableSize; --n, ++i) work[i] = i > 0 ? work[i - 1] : 0;
            continue;
        }
        n = s == kPreShortZeros ? in.Field(3) + 3 : in.Field(7) + 11;
        for (; n > 0 && i < tableSize; --n, ++i) work[i] = 0;
    }
    if (u.AudioMode) {
        for (int32_t c = 0; c < u.ChannelCount; ++c) {
            BuildTable(work + kAudioSymbols * c, u.AudioTables[c], kAudioSymbols);
        }
    } else {
        BuildTable(work, u.LiteralTable, kLiteralSymbols, u.LiteralSteps, LiteralStepOf);
        BuildTable(work + kLiteralSymbols, u.DistanceTable, kDistanceSymbols, u.DistanceSteps,
                   DistanceStepOf);
        BuildTable(work + kLiteralSymbols + kDistanceSymbols, u.RepeatLengthTable,
                   kRepeatLengthSymbols);
    }
    std::memcpy(u.PreviousLengths, work, sizeof(work));
    u.TablesRead = true;
    return in;
}

void StartEntry(Unpacker& u, bool solid) {
    u.InputPos = 0;
    u.BitOffset = 0;
    u.PackedDelivered = 0;
    u.InputBase = 0;
    if (solid) return;
    u.CrossDelta = 0;
    u.CurrentChannel = 0;
    std::memset(u.Predictors, 0, sizeof(u.Predictors));
    std::memset(u.RecentDistances, 0, sizeof(u.RecentDistances));
    u.RecentIndex = 0;
    u.PrevMatchDistance = 0;
    u.PrevMatchLength = 0;
    u.WindowFilled = 0;
    std::memset(u.PreviousLengths, 0, sizeof(u.PreviousLengths));
    u.WindowPos = 0;
    u.FlushedPos = 0;
}

void ReadTrailingTables(Unpacker& u) {
    if (u.InputPos + kTrailingTablesBytes > u.InputEnd) return;
    const HuffmanTable& table = u.AudioMode ? u.AudioTables[u.CurrentChannel] : u.LiteralTable;
    BitReader in = ReaderAt(u);
    // By the format's rule: the literal table has step entries, no fast ones.
    if (in.DecodeSlow(table) == (u.AudioMode ? kAudioBlockChange : kSymbolBlockChange)) {
        in = ReadCodeTables(u, in);
    }
    StoreReader(u, in);
}

void CopyStored(Unpacker& u, int32_t packedSize, int32_t unpackedSize) {
    u.PackedRemaining = packedSize;
    u.OutputLeft = unpackedSize;
    for (;;) {
        const int32_t got = ReadPacked(u, u.Window, kStoredPiece);
        if (got <= 0) return;
        // The piece stays in the window, where a solid entry after it finds it.
        u.WindowFilled = std::max(u.WindowFilled, got);
        const int32_t n = got < u.OutputLeft ? got : u.OutputLeft;
        // Nothing is written once the unpacked size is reached, nor for a
        // size of 2^31 or more (a negative count).
        if (n > 0) EmitOutput(u, u.Window, n);
        if (u.OutputLeft >= 0) u.OutputLeft -= n;
    }
}
