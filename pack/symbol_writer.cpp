#include "pack/symbol_writer.h"

#include <algorithm>
#include <cstring>

namespace qvpack {

void BitWriter::Put(uint32_t value, int count) {
    uint32_t used = static_cast<uint32_t>(bitCount_ & 7);
    while (count > 0) {
        if (used == 0) bytes_.push_back(0);
        const int room = 8 - static_cast<int>(used);
        const int take = std::min(room, count);
        const uint32_t chunk = (value >> (count - take)) & ((1u << take) - 1u);
        bytes_.back() = static_cast<uint8_t>(bytes_.back() | (chunk << (room - take)));
        count -= take;
        bitCount_ += static_cast<uint64_t>(take);
        used = (used + static_cast<uint32_t>(take)) & 7;
    }
}

void BitWriter::Align() {
    bitCount_ = (bitCount_ + 7) & ~uint64_t{7};
}

std::vector<uint8_t> BitWriter::Take() {
    std::vector<uint8_t> out;
    out.swap(bytes_);
    bitCount_ = 0;
    return out;
}

// Package-merge: at each of maxLength levels the leaves are merged with the
// pairs ("packages") of the level below; the first 2n - 2 items of the top
// level are the optimal choice, and a leaf's code length is the number of
// times it occurs in them.
std::vector<uint8_t> ComputeCodeLengths(const uint32_t* freq, int count, int maxLength) {
    std::vector<uint8_t> lengths(static_cast<size_t>(count), 0);
    std::vector<int> used;
    for (int i = 0; i < count; ++i) {
        if (freq[i] != 0) used.push_back(i);
    }
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[static_cast<size_t>(used[0])] = 1;
        return lengths;
    }
    if (maxLength < 31 && (size_t{1} << maxLength) < used.size()) return lengths;
    std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return freq[a] < freq[b]; });

    struct Item {
        uint64_t Weight;
        int Leaf;   // symbol, or -1 for a package
        int First;  // package: its two items in the level below
    };
    std::vector<Item> leaves;
    for (int s : used) leaves.push_back({freq[s], s, 0});
    std::vector<std::vector<Item>> levels(static_cast<size_t>(maxLength));
    levels[0] = leaves;
    for (size_t level = 1; level < levels.size(); ++level) {
        const std::vector<Item>& below = levels[level - 1];
        std::vector<Item>& merged = levels[level];
        size_t leaf = 0;
        size_t pair = 0;
        while (leaf < leaves.size() || pair + 1 < below.size()) {
            const bool havePair = pair + 1 < below.size();
            const uint64_t pairWeight = havePair ? below[pair].Weight + below[pair + 1].Weight : 0;
            if (leaf < leaves.size() && (!havePair || leaves[leaf].Weight <= pairWeight)) {
                merged.push_back(leaves[leaf++]);
            } else {
                merged.push_back({pairWeight, -1, static_cast<int>(pair)});
                pair += 2;
            }
        }
    }
    // Walk the chosen items down through their packages.
    struct Visit {
        size_t Level;
        int Index;
    };
    std::vector<Visit> stack;
    const size_t take = 2 * used.size() - 2;
    for (size_t i = 0; i < take; ++i) stack.push_back({levels.size() - 1, static_cast<int>(i)});
    while (!stack.empty()) {
        const Visit v = stack.back();
        stack.pop_back();
        const Item& item = levels[v.Level][static_cast<size_t>(v.Index)];
        if (item.Leaf >= 0) {
            lengths[static_cast<size_t>(item.Leaf)] += 1;
        } else {
            stack.push_back({v.Level - 1, item.First});
            stack.push_back({v.Level - 1, item.First + 1});
        }
    }
    return lengths;
}

bool CanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    int lengthCount[16] = {};
    for (int i = 0; i < count; ++i) lengthCount[lengths[i] & 15] += 1;
    lengthCount[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int k = 1; k <= 15; ++k) {
        code = (code + static_cast<uint32_t>(lengthCount[k - 1])) << 1;
        next[k] = code;
        if (code + static_cast<uint32_t>(lengthCount[k]) > (1u << k)) return false;
    }
    for (int i = 0; i < count; ++i) {
        const int len = lengths[i] & 15;
        codes[i] = len == 0 ? 0 : static_cast<uint16_t>(next[len]++);
    }
    return true;
}

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr && error->empty()) *error = text;
}

int TableSize(bool audio, int channels) {
    return audio ? kAudioSymbols * channels : kLzTableSize;
}

// Largest slot whose base is at most value (bases ascend).
int SlotOf(const int32_t* base, int slots, int32_t value) {
    int slot = 0;
    while (slot + 1 < slots && base[slot + 1] <= value) ++slot;
    return slot;
}

// Offsets of the sub-tables inside the 1028 lengths.
constexpr int kDistanceOffset = kLiteralSymbols;
constexpr int kRepeatLengthOffset = kLiteralSymbols + kDistanceSymbols;

// Codes of the tables in force, built from their lengths.
struct CodeSet {
    uint8_t Lengths[kMaxTableSize] = {};
    uint16_t Codes[kMaxTableSize] = {};

    bool Build(const uint8_t* lengths, bool audio, int channels) {
        std::memcpy(Lengths, lengths, sizeof(Lengths));
        if (audio) {
            for (int c = 0; c < channels; ++c) {
                const int at = c * kAudioSymbols;
                if (!CanonicalCodes(Lengths + at, kAudioSymbols, Codes + at)) return false;
            }
            return true;
        }
        return CanonicalCodes(Lengths, kLiteralSymbols, Codes) &&
               CanonicalCodes(Lengths + kDistanceOffset, kDistanceSymbols,
                              Codes + kDistanceOffset) &&
               CanonicalCodes(Lengths + kRepeatLengthOffset, kRepeatLengthSymbols,
                              Codes + kRepeatLengthOffset);
    }
};

// Walks a block's tokens the way the decoder will see them: updates the
// mirrored state and reports every symbol (as an index into the 1028
// lengths) and every extra-bit field to the sink. Returns false on a token
// that can't be coded.
template <typename Sink>
bool WalkTokens(EncoderState& st, const std::vector<Token>& tokens, size_t begin, size_t end,
                Sink& sink, std::string* error) {
    for (size_t t = begin; t < end; ++t) {
        const Token& tok = tokens[t];
        if (tok.Kind == TokenKind::kEntryEnd) {
            sink.EntryEnd();
            continue;
        }
        if (st.AudioMode != (tok.Kind == TokenKind::kAudioByte)) {
            SetError(error, "token does not fit the block's mode");
            return false;
        }
        switch (tok.Kind) {
            case TokenKind::kLiteral:
                sink.Symbol(tok.Value);
                sink.Output(1);
                break;
            case TokenKind::kMatch: {
                const int32_t d = tok.Distance;
                if (d < 1 || d > 0x100000) {
                    SetError(error, "match distance out of range");
                    return false;
                }
                const int32_t coded =
                    tok.Length - 3 - (d >= kFarDistance2 ? 1 : 0) - (d >= kFarDistance1 ? 1 : 0);
                if (coded < 0 || coded > 255) {
                    SetError(error, "match length can't be coded at this distance");
                    return false;
                }
                const int lslot = SlotOf(kSlots.LengthBase, kRepeatLengthSymbols, coded);
                const int dslot = SlotOf(kSlots.DistanceBase, kDistanceSymbols, d - 1);
                sink.Symbol(kSymbolMatchFirst + lslot);
                sink.Bits(static_cast<uint32_t>(coded - kSlots.LengthBase[lslot]),
                          kSlots.LengthExtraBits[lslot]);
                sink.Symbol(kDistanceOffset + dslot);
                sink.Bits(static_cast<uint32_t>(d - 1 - kSlots.DistanceBase[dslot]),
                          kSlots.DistanceExtraBits[dslot]);
                st.History.Record(tok.Length, d);
                sink.Output(tok.Length);
                break;
            }
            case TokenKind::kRepeatMatch:
                sink.Symbol(kSymbolRepeatMatch);
                sink.Output(st.History.PrevMatchLength);
                st.History.Record(st.History.PrevMatchLength, st.History.PrevMatchDistance);
                break;
            case TokenKind::kRecentMatch: {
                if (tok.Value > 3) {
                    SetError(error, "recent-distance index out of range");
                    return false;
                }
                const int32_t d = st.History.Recent(tok.Value);
                const int32_t coded = tok.Length - 2 - (d >= kFarDistance2 ? 1 : 0) -
                                      (d >= kFarDistance1 ? 1 : 0) -
                                      (d >= kRecentNearLimit ? 1 : 0);
                if (coded < 0 || coded > 255) {
                    SetError(error, "recent-match length can't be coded at this distance");
                    return false;
                }
                const int slot = SlotOf(kSlots.LengthBase, kRepeatLengthSymbols, coded);
                sink.Symbol(kSymbolRecentFirst + tok.Value);
                sink.Symbol(kRepeatLengthOffset + slot);
                sink.Bits(static_cast<uint32_t>(coded - kSlots.LengthBase[slot]),
                          kSlots.LengthExtraBits[slot]);
                st.History.Record(tok.Length, d);
                sink.Output(tok.Length);
                break;
            }
            case TokenKind::kShortMatch: {
                const int32_t d = tok.Distance;
                if (d < 1 || d > 256) {
                    SetError(error, "short-match distance out of range");
                    return false;
                }
                const int slot = SlotOf(kSlots.ShortDistanceBase, 8, d - 1);
                sink.Symbol(kSymbolShortFirst + slot);
                sink.Bits(static_cast<uint32_t>(d - 1 - kSlots.ShortDistanceBase[slot]),
                          kSlots.ShortDistanceExtraBits[slot]);
                st.History.Record(2, d);
                sink.Output(2);
                break;
            }
            case TokenKind::kAudioByte: {
                const int ch = st.CurrentChannel;
                ChannelPredictor& v = st.Predictors[ch];
                const int32_t predicted = PredictedByte(v, st.CrossDelta);
                const int32_t delta = (predicted - tok.Value) & 0xFF;
                PredictByte(v, st.CrossDelta, delta);
                sink.Symbol(ch * kAudioSymbols + delta);
                st.CurrentChannel = ch + 1 == st.ChannelCount ? 0 : ch + 1;
                sink.Output(1);
                break;
            }
            case TokenKind::kEntryEnd:
                break;
        }
    }
    return true;
}

// Index (into the 1028 lengths) of the block-change symbol in force.
int ChangeSymbol(const EncoderState& st) {
    return st.AudioMode ? st.CurrentChannel * kAudioSymbols + kAudioBlockChange
                        : kSymbolBlockChange;
}

struct CountSink {
    uint32_t Freq[kMaxTableSize] = {};
    int64_t ExtraBits = 0;
    void Symbol(int index) { Freq[index] += 1; }
    void Bits(uint32_t, int count) { ExtraBits += count; }
    void Output(int32_t) {}
    void EntryEnd() {}
};

int FieldBits(int preSymbol) {
    return preSymbol == kPreRepeatPrevious ? 2 : (preSymbol == kPreShortZeros ? 3 : 7);
}

// Reads pre-code symbols back into lengths exactly as the decoder does.
bool ReadBackLengths(const std::vector<PreSymbol>& symbols, const uint8_t* prev, int size,
                     uint8_t* work, std::string* error) {
    int i = 0;
    for (const PreSymbol& ps : symbols) {
        if (i >= size) {
            SetError(error, "pre-code symbols past the table size");
            return false;
        }
        if (ps.Symbol < 16) {
            work[i] = static_cast<uint8_t>((ps.Symbol + prev[i]) & 15);
            ++i;
            continue;
        }
        if (ps.Symbol > 18 || ps.Field >= (1u << FieldBits(ps.Symbol))) {
            SetError(error, "bad pre-code symbol or field");
            return false;
        }
        int n = ps.Field + (ps.Symbol == kPreLongZeros ? 11 : 3);
        for (; n > 0 && i < size; --n, ++i) {
            // A repeat at the first position has nothing before it: 0.
            work[i] = ps.Symbol == kPreRepeatPrevious ? (i > 0 ? work[i - 1] : 0) : 0;
        }
    }
    if (i < size) {
        SetError(error, "pre-code symbols end before the table size");
        return false;
    }
    return true;
}

// Codes lengths with deltas to prev (all zero for a cleared block) and runs.
std::vector<PreSymbol> EncodeLengths(const uint8_t* work, const uint8_t* prev, int size) {
    std::vector<PreSymbol> out;
    int i = 0;
    while (i < size) {
        const uint8_t len = work[i];
        int run = 1;
        while (i + run < size && work[i + run] == len) ++run;
        if (len == 0 && run >= 11) {
            const int n = std::min(run, 138);
            out.push_back({kPreLongZeros, static_cast<uint8_t>(n - 11)});
            i += n;
        } else if (len == 0 && run >= 3) {
            const int n = std::min(run, 10);
            out.push_back({kPreShortZeros, static_cast<uint8_t>(n - 3)});
            i += n;
        } else if (i > 0 && work[i - 1] == len && run >= 3) {
            const int n = std::min(run, 6);
            out.push_back({kPreRepeatPrevious, static_cast<uint8_t>(n - 3)});
            i += n;
        } else {
            out.push_back({static_cast<uint8_t>((len - prev[i]) & 15), 0});
            ++i;
        }
    }
    return out;
}

// A block's code-table block, ready to write.
struct Header {
    bool Audio = false;
    int Channels = 1;
    bool Keep = false;
    uint8_t PreLengths[kPreSymbols] = {};
    std::vector<PreSymbol> Symbols;
    uint8_t Work[kMaxTableSize] = {};  // the lengths the decoder ends up with

    int64_t Bits() const {
        int64_t bits = 2 + (Audio ? 2 : 0) + 4 * kPreSymbols;
        for (const PreSymbol& ps : Symbols) {
            bits += PreLengths[ps.Symbol];
            if (ps.Symbol >= 16) bits += FieldBits(ps.Symbol);
        }
        return bits;
    }
};

bool PlanPreCode(const Block& block, Header& h, std::string* error) {
    if (!block.ForcedPreLengths.empty()) {
        if (block.ForcedPreLengths.size() != kPreSymbols) {
            SetError(error, "forced pre-code lengths need 19 entries");
            return false;
        }
        for (int s = 0; s < kPreSymbols; ++s) h.PreLengths[s] = block.ForcedPreLengths[s] & 15;
    } else {
        uint32_t freq[kPreSymbols] = {};
        for (const PreSymbol& ps : h.Symbols) freq[ps.Symbol] += 1;
        const std::vector<uint8_t> lens = ComputeCodeLengths(freq, kPreSymbols);
        std::copy(lens.begin(), lens.end(), h.PreLengths);
    }
    for (const PreSymbol& ps : h.Symbols) {
        if (h.PreLengths[ps.Symbol] == 0) {
            SetError(error, "pre-code symbol without a code");
            return false;
        }
    }
    return true;
}

// Works out a block's header and the frequencies of its symbols. st is
// the state before the block; it is not changed.
bool PlanBlock(const EncoderState& st, const Block& block, bool changeFollows, Header& h,
               CountSink& counts, std::string* error) {
    if (block.Multimedia && (block.Channels < 1 || block.Channels > kMaxChannels)) {
        SetError(error, "multimedia channel count must be 1..4");
        return false;
    }
    EncoderState after = st;
    if (block.ContinueTables) {
        if (!st.HaveTables) {
            SetError(error, "no tables in force to continue with");
            return false;
        }
    } else {
        after.AudioMode = block.Multimedia;
        if (block.Multimedia) {
            after.ChannelCount = block.Channels;
            if (after.CurrentChannel >= after.ChannelCount) after.CurrentChannel = 0;
        }
    }
    if (!WalkTokens(after, block.Tokens, 0, block.Tokens.size(), counts, error)) return false;
    if (changeFollows) counts.Symbol(ChangeSymbol(after));
    if (block.ContinueTables) return true;

    h.Audio = block.Multimedia;
    h.Channels = block.Multimedia ? block.Channels : 1;
    const int size = TableSize(h.Audio, h.Channels);
    static const uint8_t kZeros[kMaxTableSize] = {};

    if (!block.RawLengthSymbols.empty()) {
        h.Keep = block.Keep == KeepMode::kKeep;
        h.Symbols = block.RawLengthSymbols;
        if (!ReadBackLengths(h.Symbols, h.Keep ? st.PreviousLengths : kZeros, size, h.Work,
                             error)) {
            return false;
        }
        return PlanPreCode(block, h, error);
    }

    if (!block.ForcedLengths.empty()) {
        if (block.ForcedLengths.size() != static_cast<size_t>(size)) {
            SetError(error, "forced lengths must match the table size");
            return false;
        }
        for (int i = 0; i < size; ++i) h.Work[i] = block.ForcedLengths[i] & 15;
    } else if (h.Audio) {
        for (int c = 0; c < h.Channels; ++c) {
            const int at = c * kAudioSymbols;
            const std::vector<uint8_t> lens = ComputeCodeLengths(counts.Freq + at, kAudioSymbols);
            std::copy(lens.begin(), lens.end(), h.Work + at);
        }
    } else {
        const int offsets[3] = {0, kDistanceOffset, kRepeatLengthOffset};
        const int sizes[3] = {kLiteralSymbols, kDistanceSymbols, kRepeatLengthSymbols};
        for (int t = 0; t < 3; ++t) {
            const std::vector<uint8_t> lens =
                ComputeCodeLengths(counts.Freq + offsets[t], sizes[t]);
            std::copy(lens.begin(), lens.end(), h.Work + offsets[t]);
        }
    }

    // Try both keep flags unless one is asked for; keep the smaller.
    Header best;
    bool haveBest = false;
    for (int keep = 0; keep < 2; ++keep) {
        if (block.Keep == KeepMode::kKeep && keep == 0) continue;
        if (block.Keep == KeepMode::kClear && keep == 1) continue;
        Header trial;
        trial.Audio = h.Audio;
        trial.Channels = h.Channels;
        trial.Keep = keep == 1;
        std::memcpy(trial.Work, h.Work, sizeof(trial.Work));
        trial.Symbols = EncodeLengths(h.Work, trial.Keep ? st.PreviousLengths : kZeros, size);
        if (!PlanPreCode(block, trial, error)) return false;
        if (!haveBest || trial.Bits() < best.Bits()) {
            best = trial;
            haveBest = true;
        }
    }
    h = best;
    return true;
}

// The header's effect on the decoder's state.
void ApplyHeader(EncoderState& st, const Header& h) {
    st.AudioMode = h.Audio;
    if (h.Audio) {
        st.ChannelCount = h.Channels;
        if (st.CurrentChannel >= st.ChannelCount) st.CurrentChannel = 0;
    }
    // Past the table size the decoder's work array holds zeros.
    std::memcpy(st.PreviousLengths, h.Work, sizeof(st.PreviousLengths));
    st.HaveTables = true;
}

void WriteHeader(BitWriter& out, const Header& h) {
    out.Put(h.Audio ? 1 : 0, 1);
    out.Put(h.Keep ? 1 : 0, 1);
    if (h.Audio) out.Put(static_cast<uint32_t>(h.Channels - 1), 2);
    for (int s = 0; s < kPreSymbols; ++s) out.Put(h.PreLengths[s], 4);
    uint16_t codes[kPreSymbols];
    CanonicalCodes(h.PreLengths, kPreSymbols, codes);
    for (const PreSymbol& ps : h.Symbols) {
        out.Put(codes[ps.Symbol], h.PreLengths[ps.Symbol]);
        if (ps.Symbol >= 16) out.Put(ps.Field, FieldBits(ps.Symbol));
    }
}

struct WriteSink {
    BitWriter* Out;
    const CodeSet* Codes;
    std::vector<EncodedEntry>* Entries;
    uint32_t Unpacked = 0;
    bool Failed = false;

    void Symbol(int index) {
        const int len = Codes->Lengths[index] & 15;
        if (len == 0) Failed = true;
        Out->Put(Codes->Codes[index], len);
    }
    void Bits(uint32_t value, int count) { Out->Put(value, count); }
    void Output(int32_t count) { Unpacked += static_cast<uint32_t>(count); }
    void EntryEnd() {
        Entries->push_back({Out->Take(), Unpacked});
        Unpacked = 0;
    }
};

}  // namespace

int64_t EstimateBlockBits(const EncoderState& state, const Block& block, bool changeFollows) {
    Header h;
    CountSink counts;
    if (!PlanBlock(state, block, changeFollows, h, counts, nullptr)) return -1;
    const uint8_t* lengths = block.ContinueTables ? state.PreviousLengths : h.Work;
    int64_t bits = counts.ExtraBits + (block.ContinueTables ? 0 : h.Bits());
    for (int i = 0; i < kMaxTableSize; ++i) {
        if (counts.Freq[i] == 0) continue;
        if ((lengths[i] & 15) == 0) return -1;
        bits += static_cast<int64_t>(counts.Freq[i]) * (lengths[i] & 15);
    }
    return bits;
}

bool EncodeStream(EncoderState& state, const std::vector<Block>& blocks, bool continueSolid,
                  std::vector<EncodedEntry>& entries, std::string* error) {
    if (!continueSolid) state.Reset();
    static const Block kEmptyBlock;
    const size_t count = blocks.empty() ? 1 : blocks.size();
    auto blockAt = [&](size_t i) -> const Block& {
        return blocks.empty() ? kEmptyBlock : blocks[i];
    };
    BitWriter out;
    CodeSet codes;
    if (state.HaveTables) codes.Build(state.PreviousLengths, state.AudioMode, state.ChannelCount);
    WriteSink sink{&out, &codes, &entries};

    // Leaves the tables in force (the first block of a non-solid entry has
    // none to leave) and sends the block's code-table block.
    auto startBlock = [&](size_t b) -> bool {
        const Block& block = blockAt(b);
        if (block.ContinueTables) {
            if (b != 0 || !continueSolid) {
                SetError(error, "only the first block of a solid continuation can reuse tables");
                return false;
            }
            return true;
        }
        Header h;
        CountSink counts;
        if (!PlanBlock(state, block, b + 1 < count, h, counts, error)) return false;
        if (b != 0 || continueSolid) {
            if (!state.HaveTables) {
                SetError(error, "no tables in force to leave");
                return false;
            }
            sink.Symbol(ChangeSymbol(state));
        }
        ApplyHeader(state, h);
        WriteHeader(out, h);
        if (!codes.Build(state.PreviousLengths, state.AudioMode, state.ChannelCount)) {
            SetError(error, "code lengths oversubscribe the code space");
            return false;
        }
        return true;
    };

    bool headerSent = false;  // the block's table went out as a trailing block
    for (size_t b = 0; b < count; ++b) {
        const Block& block = blockAt(b);
        if (!headerSent && !startBlock(b)) return false;
        headerSent = false;
        // A trailing table of the next block comes before this block's
        // final entry end.
        size_t end = block.Tokens.size();
        const bool trailing = b + 1 < count && blockAt(b + 1).TrailingTables && end > 0 &&
                              block.Tokens[end - 1].Kind == TokenKind::kEntryEnd;
        if (trailing) --end;
        if (!WalkTokens(state, block.Tokens, 0, end, sink, error)) return false;
        if (trailing) {
            if (!startBlock(b + 1)) return false;
            // The decoder looks for a trailing block only when at least 5
            // bytes are left in its buffer; padding guarantees that however
            // its refills fall.
            out.Align();
            for (int i = 0; i < 32; ++i) out.Put(0, 8);
            sink.EntryEnd();
            headerSent = true;
        }
        if (sink.Failed) {
            SetError(error, "a symbol of the block has no code");
            return false;
        }
    }
    out.Align();
    sink.EntryEnd();
    return true;
}

}  // namespace qvpack
