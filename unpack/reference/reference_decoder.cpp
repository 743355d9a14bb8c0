// The format's rules, in the order the description gives them.
#include "unpack/reference/reference_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qvref {

ReferenceUnpacker::ReferenceUnpacker(const UnpackHooks& hooks)
    : ReferenceUnpacker(hooks, std::vector<uint8_t>(kWindowSize, 0)) {}

ReferenceUnpacker::ReferenceUnpacker(const UnpackHooks& hooks, std::vector<uint8_t>&& window)
    : Hooks(hooks), Window(std::move(window)) {}

void ReferenceUnpacker::Restart(const UnpackHooks& hooks) {
    std::vector<uint8_t> window = std::move(Window);
    std::memset(window.data(), 0, window.size());
    *this = ReferenceUnpacker(hooks, std::move(window));
}

// ---------------------------------------------------------------------------
// Bit input

int32_t ReferenceUnpacker::ReadPacked(uint8_t* destination, int32_t count) {
    if (count > PackedRemaining) count = PackedRemaining;
    if (count <= 0 || Hooks.Input.Function == nullptr) return 0;
    int32_t got = Hooks.Input.Function(Hooks.Input.Context, destination, count);
    if (got < 0 || got > count) got = 0;
    PackedRemaining -= got;
    PackedDelivered += got;
    return got;
}

void ReferenceUnpacker::FillInput(bool first) {
    if (first) {
        InputEnd = ReadPacked(InputBuffer, kInputSize);
        InputPos = 0;
        InputBase = 0;
        return;
    }
    std::memmove(InputBuffer, InputBuffer + kInputSize - kInputKeep, kInputKeep);
    InputBase += kInputSize - kInputKeep;
    InputPos &= kInputKeep - 1;
    const int32_t got = ReadPacked(InputBuffer + kInputKeep, kInputSize - kInputKeep);
    InputEnd = got > 0 ? got + kInputKeep : InputPos;
}

uint32_t ReferenceUnpacker::PeekBits() const {
    const uint32_t v = static_cast<uint32_t>(InputBuffer[InputPos]) << 16 |
                       static_cast<uint32_t>(InputBuffer[InputPos + 1]) << 8 |
                       InputBuffer[InputPos + 2];
    return (v >> (8 - BitOffset)) & 0xFFFF;
}

void ReferenceUnpacker::SkipBits(int32_t n) {
    BitOffset += n;
    InputPos += BitOffset / 8;
    BitOffset &= 7;
}

int32_t ReferenceUnpacker::Field(int32_t n) {
    if (n == 0) return 0;
    const int32_t value = static_cast<int32_t>(PeekBits() >> (16 - n));
    SkipBits(n);
    return value;
}

// ---------------------------------------------------------------------------
// Huffman tables

void ReferenceUnpacker::BuildTable(const uint8_t* lengths, Table& t, int32_t count) {
    int32_t c[16] = {};
    for (int32_t i = 0; i < count; ++i) c[lengths[i] & 15] += 1;
    c[0] = 0;
    t.LengthLimit[0] = 0;
    t.LengthStart[0] = 0;
    int32_t next[16] = {};
    int32_t acc = 0;
    for (int32_t k = 1; k <= kMaxCodeLength; ++k) {
        acc = 2 * (acc + c[k]);
        t.LengthLimit[k] = std::min(acc << (15 - k), 0xFFFF);
        t.LengthStart[k] = t.LengthStart[k - 1] + c[k - 1];
        next[k] = t.LengthStart[k];
    }
    for (int32_t i = 0; i < count; ++i) {
        if (lengths[i] != 0) t.SortedSymbols[next[lengths[i] & 15]++] = i;
    }
    t.SymbolCount = count;
}

int32_t ReferenceUnpacker::DecodePeek(const Table& t, uint32_t peek, int32_t& length) {
    const uint32_t f = peek & 0xFFFE;
    int32_t n = kMaxCodeLength;
    for (int32_t k = 1; k < kMaxCodeLength; ++k) {
        if (f < static_cast<uint32_t>(t.LengthLimit[k])) {
            n = k;
            break;
        }
    }
    length = n;
    uint32_t index = static_cast<uint32_t>(t.LengthStart[n]) +
                     ((f - static_cast<uint32_t>(t.LengthLimit[n - 1])) >> (16 - n));
    if (index >= static_cast<uint32_t>(t.SymbolCount)) index = 0;
    return t.SortedSymbols[index];
}

int32_t ReferenceUnpacker::DecodeSymbol(const Table& t) {
    int32_t length = 0;
    const int32_t symbol = DecodePeek(t, PeekBits(), length);
    SkipBits(length);
    return symbol;
}

void ReferenceUnpacker::ReadCodeTables() {
    if (InputPos > kRefillTables) FillInput(false);
    const uint32_t f = PeekBits();
    AudioMode = (f & 0x8000) != 0;
    if ((f & 0x4000) == 0) std::memset(PreviousLengths, 0, sizeof(PreviousLengths));
    SkipBits(2);
    int32_t size = kLzTableSize;
    if (AudioMode) {
        ChannelCount = static_cast<int32_t>((f >> 12) & 3) + 1;
        if (CurrentChannel >= ChannelCount) CurrentChannel = 0;
        SkipBits(2);
        size = kAudioSymbols * ChannelCount;
    }
    uint8_t preLengths[kPreSymbols];
    for (uint8_t& p : preLengths) p = static_cast<uint8_t>(Field(4));
    BuildTable(preLengths, PreTable, kPreSymbols);
    uint8_t w[kMaxTableSize] = {};
    int32_t i = 0;
    while (i < size) {
        if (InputPos > kRefillLengths) FillInput(false);
        const int32_t s = DecodeSymbol(PreTable);
        if (s < 16) {
            w[i] = static_cast<uint8_t>((s + PreviousLengths[i]) & 15);
            ++i;
        } else if (s == kPreRepeatPrevious) {
            // At the first position there is no length to repeat: 0.
            for (int32_t n = Field(2) + 3; n > 0 && i < size; --n, ++i) w[i] = i > 0 ? w[i - 1] : 0;
        } else {
            const int32_t n0 = s == kPreShortZeros ? Field(3) + 3 : Field(7) + 11;
            for (int32_t n = n0; n > 0 && i < size; --n, ++i) w[i] = 0;
        }
    }
    if (AudioMode) {
        for (int32_t c = 0; c < ChannelCount; ++c) {
            BuildTable(w + kAudioSymbols * c, AudioTables[c], kAudioSymbols);
        }
    } else {
        BuildTable(w, LiteralTable, kLiteralSymbols);
        BuildTable(w + kLiteralSymbols, DistanceTable, kDistanceSymbols);
        BuildTable(w + kLiteralSymbols + kDistanceSymbols, RepeatLengthTable, kRepeatLengthSymbols);
    }
    std::memcpy(PreviousLengths, w, sizeof(w));
    TablesRead = true;
}

// ---------------------------------------------------------------------------
// Entries

void ReferenceUnpacker::StartEntry(bool solid) {
    InputPos = 0;
    BitOffset = 0;
    PackedDelivered = 0;
    InputBase = 0;
    StepsWithoutInput = 0;
    if (solid) return;
    CrossDelta = 0;
    CurrentChannel = 0;
    for (Channel& c : Predictors) c = Channel();
    std::memset(RecentDistances, 0, sizeof(RecentDistances));
    RecentIndex = 0;
    PrevMatchLength = 0;
    PrevMatchDistance = 0;
    std::memset(Window.data(), 0, Window.size());
    std::memset(PreviousLengths, 0, sizeof(PreviousLengths));
    WindowPos = 0;
    FlushedPos = 0;
}

void ReferenceUnpacker::UnpackEntry(int32_t packedSize, int32_t unpackedSize, bool solid) {
    PackedRemaining = packedSize;
    OutputLeft = unpackedSize;
    StartEntry(solid);
    FillInput(true);
    if (!solid) ReadCodeTables();
    OutputLeft = static_cast<int32_t>(static_cast<uint32_t>(OutputLeft) - 1u);
    int64_t stepStart = -1;
    while (OutputLeft >= 0) {
        const int64_t at = (InputBase + InputPos) * 8 + BitOffset;
        if (at == stepStart) ++StepsWithoutInput;
        stepStart = at;
        // The bound on reading past the packed data (unpacker_state.h).
        if (InputBase + InputPos > PackedDelivered + kOverrunLimit) break;
        if ((OutputLeft & (kProgressInterval - 1)) == 0 && Hooks.Progress.Function != nullptr) {
            Hooks.Progress.Function(Hooks.Progress.Context, OutputLeft);
        }
        WindowPos &= kWindowMask;
        if (InputPos > kRefillStep) FillInput(false);
        if (((FlushedPos - WindowPos) & kWindowMask) < kFlushGuard && FlushedPos != WindowPos) {
            FlushWindow();
        }
        if (AudioMode)
            AudioStep();
        else
            LzStep();
    }
    ReadTrailingTables();
    FlushWindow();
}

void ReferenceUnpacker::ReadTrailingTables() {
    if (InputPos + kTrailingTablesBytes > InputEnd) return;
    const int32_t s = DecodeSymbol(AudioMode ? AudioTables[CurrentChannel] : LiteralTable);
    if (s == (AudioMode ? kAudioBlockChange : kSymbolBlockChange)) ReadCodeTables();
}

void ReferenceUnpacker::CopyStored(int32_t packedSize, int32_t unpackedSize) {
    PackedRemaining = packedSize;
    OutputLeft = unpackedSize;
    for (;;) {
        const int32_t got = ReadPacked(Window.data(), kStoredPiece);
        if (got == 0) return;
        const int32_t n = std::min(got, OutputLeft);
        if (n > 0) EmitOutput(Window.data(), n);
        if (OutputLeft >= 0) OutputLeft -= n;
    }
}

// ---------------------------------------------------------------------------
// LZ decoding

void ReferenceUnpacker::LzStep() {
    const int32_t s = DecodeSymbol(LiteralTable);
    if (s < 256) {
        Window[static_cast<size_t>(WindowPos)] = static_cast<uint8_t>(s);
        WindowPos += 1;
        OutputLeft -= 1;
    } else if (s >= kSymbolMatchFirst) {
        const int32_t slot = s - kSymbolMatchFirst;
        int32_t length = kSlots.LengthBase[slot] + 3 + Field(kSlots.LengthExtraBits[slot]);
        const int32_t d = DecodeSymbol(DistanceTable);
        const int32_t distance = kSlots.DistanceBase[d] + 1 + Field(kSlots.DistanceExtraBits[d]);
        if (distance >= kFarDistance2) length += 1;
        if (distance >= kFarDistance1) length += 1;
        CopyMatch(length, distance);
    } else if (s == kSymbolBlockChange) {
        ReadCodeTables();
    } else if (s == kSymbolRepeatMatch) {
        CopyMatch(PrevMatchLength, PrevMatchDistance);
    } else if (s < kSymbolShortFirst) {
        const int32_t distance = RecentDistances[(RecentIndex - (s - kSymbolRepeatMatch)) & 3];
        const int32_t r = DecodeSymbol(RepeatLengthTable);
        int32_t length = kSlots.LengthBase[r] + 2 + Field(kSlots.LengthExtraBits[r]);
        if (distance >= kFarDistance2) length += 1;
        if (distance >= kFarDistance1) length += 1;
        if (distance >= kRecentNearLimit) length += 1;
        CopyMatch(length, distance);
    } else {
        const int32_t k = s - kSymbolShortFirst;
        CopyMatch(2, kSlots.ShortDistanceBase[k] + 1 + Field(kSlots.ShortDistanceExtraBits[k]));
    }
}

void ReferenceUnpacker::CopyMatch(int32_t length, int32_t distance) {
    RecentDistances[RecentIndex & 3] = distance;
    RecentIndex += 1;
    PrevMatchDistance = distance;
    PrevMatchLength = length;
    OutputLeft -= length;
    for (int32_t n = 0; n < length; ++n) {
        Window[static_cast<size_t>(WindowPos)] =
            Window[static_cast<size_t>((WindowPos - distance) & kWindowMask)];
        WindowPos = (WindowPos + 1) & kWindowMask;
    }
}

void ReferenceUnpacker::EmitOutput(const uint8_t* data, int32_t count) {
    if (Hooks.Output.Function != nullptr) Hooks.Output.Function(Hooks.Output.Context, data, count);
}

void ReferenceUnpacker::FlushWindow() {
    if (WindowPos < FlushedPos) {
        EmitOutput(Window.data() + FlushedPos, kWindowSize - FlushedPos);
        EmitOutput(Window.data(), WindowPos);
    } else {
        EmitOutput(Window.data() + FlushedPos, WindowPos - FlushedPos);
    }
    FlushedPos = WindowPos;
}

// ---------------------------------------------------------------------------
// Multimedia decoding

void ReferenceUnpacker::AudioStep() {
    const int32_t s = DecodeSymbol(AudioTables[CurrentChannel]);
    if (s == kAudioBlockChange) {
        ReadCodeTables();
        return;
    }
    Window[static_cast<size_t>(WindowPos)] = PredictByte(s);
    WindowPos += 1;
    if (++CurrentChannel == ChannelCount) CurrentChannel = 0;
    OutputLeft -= 1;
}

uint8_t ReferenceUnpacker::PredictByte(int32_t delta) {
    Channel& v = Predictors[CurrentChannel];
    int32_t* h = v.DeltaHistory;
    v.SampleCount += 1;
    h[3] = h[2];
    h[2] = h[1];
    h[1] = v.PrevDelta - h[0];
    h[0] = v.PrevDelta;
    const int32_t* w = v.Weights;
    const int32_t p = 8 * (v.PrevByte & 0xFF) + w[0] * h[0] + w[1] * h[1] + w[2] * h[2] +
                      w[3] * h[3] + w[4] * CrossDelta;
    const int32_t predicted = (p >> 3) & 0xFF;
    const int32_t b = predicted - delta;
    const int32_t e = 8 * (delta >= 128 ? delta - 256 : delta);
    const int32_t terms[5] = {h[0], h[1], h[2], h[3], CrossDelta};
    v.ErrorSums[0] += std::abs(e);
    for (int k = 0; k < 5; ++k) {
        v.ErrorSums[2 * k + 1] += std::abs(e - terms[k]);
        v.ErrorSums[2 * k + 2] += std::abs(e + terms[k]);
    }
    CrossDelta = v.PrevDelta = static_cast<int8_t>((b - v.PrevByte) & 0xFF);
    v.PrevByte = b;
    if ((v.SampleCount & 0x1F) == 0) {
        int best = 0;
        int32_t least = v.ErrorSums[0];
        v.ErrorSums[0] = 0;
        for (int k = 1; k < kErrorCandidates; ++k) {
            if (v.ErrorSums[k] < least) {
                least = v.ErrorSums[k];
                best = k;
            }
            v.ErrorSums[k] = 0;
        }
        if (best != 0) {
            int32_t& weight = v.Weights[(best - 1) / 2];
            if (best % 2 == 1 && weight >= -16) weight -= 1;
            if (best % 2 == 0 && weight < 16) weight += 1;
        }
    }
    return static_cast<uint8_t>(b & 0xFF);
}

}  // namespace qvref
