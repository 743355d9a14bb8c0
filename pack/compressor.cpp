#include "pack/compressor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "pack/match_finder.h"
#include "pack/symbol_writer.h"

namespace qvpack {
namespace {

// Prices are in 1/16 bit so that cheap symbols still differ.
constexpr uint32_t kPriceScale = 16;
constexpr uint32_t kInfinity = 0xFFFFFFFFu;
constexpr int32_t kSegmentBytes = 1 << 16;  // unit of the multimedia decision
constexpr int kOptWindow = 4096;            // positions per optimal-parse pass

// Lookahead < 0 selects the optimal parse; 0 is greedy, 1 lazy (a second
// byte of lookahead measured worse on code and no better on text).
// Segments that look like text may use a parse of their own: their long
// matches leave the optimal parse little to gain for its cost, while code,
// with its many short matches, gains most. Fast: sampled and
// incompressible segments may skip the LZ parse on a quick estimate.
struct ParseParams {
    int32_t Depth;
    int32_t Nice;
    int Lookahead;
};

struct LevelParams {
    ParseParams Other;
    ParseParams Text;
    bool Fast;
};

LevelParams ParamsFor(int level) {
    switch (level) {
        case 1:
            return {{4, 24, 0}, {4, 24, 0}, true};
        case 2:
            return {{16, 48, 1}, {16, 48, 1}, true};
        case 4:
            return {{96, 160, -1}, {96, 160, -1}, false};
        case 5:
            return {{384, 260, -1}, {384, 260, -1}, false};
        default:
            return {{32, 48, -1}, {64, 96, 1}, true};
    }
}

struct SlotLookup {
    uint8_t Length[256];  // coded length - base (0..255) -> length slot
    uint8_t Short[256];   // distance - 1 (0..255) -> short slot
    SlotLookup() {
        for (int s = 0; s < kRepeatLengthSymbols; ++s) {
            for (int x = kSlots.LengthBase[s];
                 x < kSlots.LengthBase[s] + (1 << kSlots.LengthExtraBits[s]); ++x) {
                Length[x] = static_cast<uint8_t>(s);
            }
        }
        for (int s = 0; s < 8; ++s) {
            const int base = kSlots.ShortDistanceBase[s];
            for (int x = base; x < base + (1 << kSlots.ShortDistanceExtraBits[s]); ++x) {
                Short[x] = static_cast<uint8_t>(s);
            }
        }
    }
};
const SlotLookup kLookup;

// Distance slot of distance - 1.
inline int DistanceSlot(uint32_t v) {
    if (v < 4) return static_cast<int>(v);
    if (v < 131072) {
        const int b = 31 - __builtin_clz(v);
        return 2 * b + static_cast<int>((v >> (b - 1)) & 1);
    }
    return 34 + static_cast<int>((v - 131072) >> 16);
}

inline int FarBump(int32_t distance) {
    return (distance >= kFarDistance2 ? 1 : 0) + (distance >= kFarDistance1 ? 1 : 0);
}
inline int RecentBump(int32_t distance) {
    return FarBump(distance) + (distance >= kRecentNearLimit ? 1 : 0);
}

// Symbol statistics of LZ tokens, kept to derive prices.
struct LzStats {
    uint32_t Lit[kLiteralSymbols] = {};
    uint32_t Dist[kDistanceSymbols] = {};
    uint32_t RepLen[kRepeatLengthSymbols] = {};
    uint64_t ExtraBits = 0;

    void Add(const Token& t, const MatchHistory& before) {
        switch (t.Kind) {
            case TokenKind::kLiteral:
                ++Lit[t.Value];
                break;
            case TokenKind::kRepeatMatch:
                ++Lit[kSymbolRepeatMatch];
                break;
            case TokenKind::kShortMatch: {
                const int s = kLookup.Short[t.Distance - 1];
                ++Lit[kSymbolShortFirst + s];
                ExtraBits += kSlots.ShortDistanceExtraBits[s];
                break;
            }
            case TokenKind::kRecentMatch: {
                const int32_t d = before.Recent(t.Value);
                const int s = kLookup.Length[t.Length - RecentBump(d) - 2];
                ++Lit[kSymbolRecentFirst + t.Value];
                ++RepLen[s];
                ExtraBits += kSlots.LengthExtraBits[s];
                break;
            }
            case TokenKind::kMatch: {
                const int s = kLookup.Length[t.Length - FarBump(t.Distance) - 3];
                const int ds = DistanceSlot(static_cast<uint32_t>(t.Distance - 1));
                ++Lit[kSymbolMatchFirst + s];
                ++Dist[ds];
                ExtraBits += kSlots.LengthExtraBits[s] + kSlots.DistanceExtraBits[ds];
                break;
            }
            default:
                break;
        }
    }
    void Merge(const LzStats& o) {
        for (int i = 0; i < kLiteralSymbols; ++i) Lit[i] += o.Lit[i];
        for (int i = 0; i < kDistanceSymbols; ++i) Dist[i] += o.Dist[i];
        for (int i = 0; i < kRepeatLengthSymbols; ++i) RepLen[i] += o.RepLen[i];
        ExtraBits += o.ExtraBits;
    }
};

// Bits of an order-0 code for the counts (entropy), plus a rough price
// for sending the used symbols' lengths.
double EntropyBits(const uint32_t* f, int n, double* tableBits) {
    double total = 0;
    int used = 0;
    for (int i = 0; i < n; ++i) {
        total += f[i];
        used += f[i] != 0;
    }
    if (total == 0) return 0;
    double bits = 0;
    for (int i = 0; i < n; ++i) {
        if (f[i] != 0) bits += f[i] * std::log2(total / f[i]);
    }
    // Single-symbol alphabets still cost one bit per symbol.
    if (used == 1) bits = total;
    *tableBits += used * 3.5 + (n - used) * 0.3;
    return bits;
}

double LzCost(const LzStats& s) {
    double table = 80;
    double bits = EntropyBits(s.Lit, kLiteralSymbols, &table) +
                  EntropyBits(s.Dist, kDistanceSymbols, &table) +
                  EntropyBits(s.RepLen, kRepeatLengthSymbols, &table);
    return bits + table + static_cast<double>(s.ExtraBits);
}

struct AudioStats {
    int Channels = 1;
    uint32_t Freq[kMaxChannels][kAudioSymbols] = {};
};

double AudioCost(const AudioStats& s) {
    double table = 80;
    double bits = 0;
    for (int c = 0; c < s.Channels; ++c) bits += EntropyBits(s.Freq[c], kAudioSymbols, &table);
    return bits + table;
}

// Prices of the LZ symbols, from smoothed counts.
struct Prices {
    uint32_t Lit[kLiteralSymbols];
    uint32_t Dist[kDistanceSymbols];
    uint32_t MatchLen[256];   // coded length - 3 -> symbol + extra bits
    uint32_t RecentLen[256];  // coded length - 2 -> length symbol + extra bits
    uint32_t Short[256];      // distance - 1 -> symbol + extra bits

    static void FromCounts(const uint32_t* f, int n, uint32_t* out) {
        double total = 0;
        for (int i = 0; i < n; ++i) total += f[i] + 0.25;
        for (int i = 0; i < n; ++i) {
            double bits = std::log2(total / (f[i] + 0.25));
            if (bits > 15) bits = 15;
            if (bits < 1) bits = 1;
            out[i] = static_cast<uint32_t>(bits * kPriceScale + 0.5);
        }
    }
    void Update(const LzStats& s) {
        FromCounts(s.Lit, kLiteralSymbols, Lit);
        FromCounts(s.Dist, kDistanceSymbols, Dist);
        uint32_t rl[kRepeatLengthSymbols];
        FromCounts(s.RepLen, kRepeatLengthSymbols, rl);
        for (int x = 0; x < 256; ++x) {
            const int slot = kLookup.Length[x];
            MatchLen[x] =
                Lit[kSymbolMatchFirst + slot] + kSlots.LengthExtraBits[slot] * kPriceScale;
            RecentLen[x] = rl[slot] + kSlots.LengthExtraBits[slot] * kPriceScale;
            const int ss = kLookup.Short[x];
            Short[x] =
                Lit[kSymbolShortFirst + ss] + kSlots.ShortDistanceExtraBits[ss] * kPriceScale;
        }
    }
    uint32_t DistancePrice(int32_t distance) const {
        const int s = DistanceSlot(static_cast<uint32_t>(distance - 1));
        return Dist[s] + kSlots.DistanceExtraBits[s] * kPriceScale;
    }
};

// A starting guess: literals from the data's byte counts, matches cheap
// enough to be taken.
LzStats InitialStats(const uint8_t* data, size_t size) {
    LzStats s;
    const size_t n = std::min<size_t>(size, 1 << 16);
    for (size_t i = 0; i < n; ++i) s.Lit[data[i]] += 1;
    const uint32_t unit = static_cast<uint32_t>(n / 256 + 1);
    for (int i = 256; i < kLiteralSymbols; ++i) s.Lit[i] = unit * 2;
    for (int i = 0; i < kDistanceSymbols; ++i) s.Dist[i] = 4;
    for (int i = 0; i < kRepeatLengthSymbols; ++i) s.RepLen[i] = 4;
    return s;
}

struct Node {
    uint32_t Price;
    int32_t From;
    Token Tok;
    MatchHistory History;
};

// A run of tokens of one mode; becomes one or more blocks.
struct Run {
    bool Audio = false;
    int Channels = 1;
    std::vector<Token> Tokens;
    LzStats Lz;         // LZ runs
    AudioStats Audio_;  // audio runs
};

class ChainCompressor {
public:
    ChainCompressor(const CompressOptions& options, size_t totalSize) : options_(options) {
        const LevelParams p = ParamsFor(options.Level);
        params_ = p;
        totalSize_ = totalSize;
        history_.reserve(totalSize);
        if (p.Other.Lookahead < 0 || p.Text.Lookahead < 0)
            nodes_.resize(kOptWindow + MatchFinder::kMaxLength + 2);
    }

    size_t MemoryBytes() const {
        return finder_.MemoryBytes() + nodes_.size() * sizeof(Node) + history_.capacity();
    }

    // Parses one file appended to the history; appends runs.
    void AddFile(const uint8_t* data, size_t size, std::vector<Run>& runs) {
        const size_t start = history_.size();
        history_.insert(history_.end(), data, data + size);
        const uint8_t* buf = history_.data();
        const size_t end = start + size;
        if (!statsReady_) {
            stats_ = InitialStats(data, size);
            prices_.Update(stats_);
            statsReady_ = true;
        }
        for (size_t seg = start; seg < end;) {
            std::vector<Token>& lz = segmentTokens_;
            lz.clear();
            MatchHistory h = history_state_;
            uint64_t lzPrice = 0;
            const size_t segTo = std::min(end, seg + kSegmentBytes);
            size_t segEnd = segTo;
            bool useAudio = false;
            bool parsed = false;
            AudioStats bestAudio;
            EncoderAudio bestState;
            const bool fast = params_.Fast;
            const int stride = options_.Multimedia ? SampledStride(buf + seg, segTo - seg) : 0;
            const bool sampled = stride != 0;
            if (sampled) {
                // The fast levels skip the LZ parse when a quick estimate
                // already loses clearly against the samples' prediction.
                if (fast) {
                    const double bytes = static_cast<double>(segTo - seg);
                    double audioBits = -1;
                    // Samples of one format keep their channel count: the
                    // previous segment's count stands while the best
                    // difference stride stays (over the last two segments:
                    // one where it changed may have mixed two formats) and
                    // it codes about as well as it did there.
                    if (lastChannels_ > 0 && stride == lastStride_ && stride == priorStride_) {
                        audioBits =
                            TrialAudio(buf + seg, segTo - seg, lastChannels_, bestAudio, bestState);
                        if (audioBits > lastBitsPerByte_ * 1.02 * bytes) audioBits = -1;
                    }
                    if (audioBits < 0) {
                        audioBits =
                            TrialAudio(buf + seg, segTo - seg, PickChannels(buf + seg, segTo - seg),
                                       bestAudio, bestState);
                    }
                    if (audioBits < 0.9 * EstimateLzBits(buf, seg, segTo)) {
                        useAudio = true;
                    }
                }
            } else if (fast && LooksRandom(buf + seg, segTo - seg) &&
                       EstimateLzBits(buf, seg, segTo) > 7.9 * static_cast<double>(segTo - seg)) {
                // Nothing to find: literals, and no searching.
                for (size_t i = seg; i < segTo; ++i) {
                    lz.push_back(Token::Literal(buf[i]));
                    lzPrice += prices_.Lit[buf[i]];
                }
                parsed = true;
            }
            if (!useAudio && !parsed) {
                // A long match may run past the segment's nominal end.
                const ParseParams& pp =
                    LooksText(buf + seg, segTo - seg) ? params_.Text : params_.Other;
                ReadyFinder();
                finder_.SetLimits(pp.Depth, pp.Nice);
                nice_ = pp.Nice;
                lookahead_ = pp.Lookahead;
                segEnd = lookahead_ >= 0 ? ParseLazy(buf, seg, segTo, end, h, lz, lzPrice)
                                         : ParseRange(buf, seg, segTo, end, h, lz, lzPrice);
                if (sampled) {
                    double best = 0;
                    const int first = fast ? bestAudio.Channels : 1;
                    const int last = fast ? bestAudio.Channels : kMaxChannels;
                    for (int c = first; c <= last; ++c) {
                        AudioStats st;
                        EncoderAudio a;
                        const double cost = TrialAudio(buf + seg, segEnd - seg, c, st, a);
                        if (c == first || cost < best) {
                            best = cost;
                            bestAudio = st;
                            bestState = a;
                        }
                    }
                    LzStats ls;
                    MatchHistory hh = history_state_;
                    for (const Token& t : lz) {
                        ls.Add(t, hh);
                        Apply(t, hh);
                    }
                    const double lzCost =
                        std::min(static_cast<double>(lzPrice) / kPriceScale, LzCost(ls));
                    useAudio = best < lzCost;
                }
            }
            if (useAudio) {
                audio_ = bestState;
                if (fast) {
                    lastChannels_ = bestAudio.Channels;
                    priorStride_ = lastStride_;
                    lastStride_ = stride;
                    lastBitsPerByte_ = AudioCost(bestAudio) / static_cast<double>(segEnd - seg);
                }
                Run* r = runs.empty() ? nullptr : &runs.back();
                if (r == nullptr || !r->Audio || r->Channels != bestAudio.Channels) {
                    runs.emplace_back();
                    r = &runs.back();
                    r->Audio = true;
                    r->Channels = bestAudio.Channels;
                    r->Audio_.Channels = bestAudio.Channels;
                    // Room for the rest of the file: growing a vector of
                    // one token per byte would copy it again and again.
                    ReserveTokens(r->Tokens, end - seg + 1);
                }
                for (size_t i = seg; i < segEnd; ++i) r->Tokens.push_back(Token::AudioByte(buf[i]));
                for (int c = 0; c < bestAudio.Channels; ++c) {
                    for (int s = 0; s < kAudioSymbols; ++s)
                        r->Audio_.Freq[c][s] += bestAudio.Freq[c][s];
                }
            } else {
                Run* r = runs.empty() ? nullptr : &runs.back();
                if (r == nullptr || r->Audio) {
                    runs.emplace_back();
                    r = &runs.back();
                    ReserveTokens(r->Tokens, end - seg + 1);
                }
                LzStats seen;
                MatchHistory hh = history_state_;
                for (const Token& t : lz) {
                    seen.Add(t, hh);
                    Apply(t, hh);
                }
                r->Tokens.insert(r->Tokens.end(), lz.begin(), lz.end());
                history_state_ = h;
                r->Lz.Merge(seen);
                FollowPrices(seen);
                pricesSettled_ = true;
            }
            seg = segEnd;
        }
    }

private:
    struct EncoderAudio {
        ChannelPredictor Pred[kMaxChannels] = {};
        int32_t CrossDelta = 0;
        int CurrentChannel = 0;
    };

    CompressOptions options_;
    MatchFinder finder_;
    int32_t nice_ = 64;
    int lookahead_ = -1;
    LevelParams params_{};
    size_t totalSize_ = 0;
    bool finderReady_ = false;
    std::vector<uint8_t> history_;
    static constexpr size_t kProbeBytes = 16384;  // sample of a segment for the quick tests
    static constexpr int kProbeBits = 14;
    std::vector<uint32_t> probe_ = std::vector<uint32_t>(size_t{1} << kProbeBits, 0);
    std::vector<Token> segmentTokens_;
    std::vector<uint32_t> litSum_;
    size_t searched_ = 0;  // lazy parse: literal prices summed from the range start
    std::vector<Node> nodes_;
    MatchHistory history_state_;
    EncoderAudio audio_;
    LzStats stats_;
    Prices prices_;
    bool statsReady_ = false;
    int lastChannels_ = 0;  // channels of the last segment coded as samples
    double lastBitsPerByte_ = 0;
    int lastStride_ = 0;   // best difference stride of that segment
    int priorStride_ = 0;  // and of the sampled segment before it
    // The first LZ segment is priced from a guess; until it ends, the
    // optimal parse updates prices after every pass.
    bool pricesSettled_ = false;

    static void Apply(const Token& t, MatchHistory& h) {
        switch (t.Kind) {
            case TokenKind::kMatch:
            case TokenKind::kShortMatch:
                h.Record(t.Length, t.Distance);
                break;
            case TokenKind::kRecentMatch:
                h.Record(t.Length, h.Recent(t.Value));
                break;
            case TokenKind::kRepeatMatch:
                h.Record(h.PrevMatchLength, h.PrevMatchDistance);
                break;
            default:
                break;
        }
    }

    // Prices follow the data: half old, half the latest tokens.
    void FollowPrices(const LzStats& seen) {
        for (int i = 0; i < kLiteralSymbols; ++i)
            stats_.Lit[i] = (stats_.Lit[i] + seen.Lit[i] * 3) / 2;
        for (int i = 0; i < kDistanceSymbols; ++i)
            stats_.Dist[i] = (stats_.Dist[i] + seen.Dist[i] * 3) / 2;
        for (int i = 0; i < kRepeatLengthSymbols; ++i) {
            stats_.RepLen[i] = (stats_.RepLen[i] + seen.RepLen[i] * 3) / 2;
        }
        prices_.Update(stats_);
    }

    // Room for count tokens. Sampled data takes a 12-byte token per byte,
    // megabytes of fresh memory whose page faults cost more than filling
    // it: where the system offers large pages, ask for them.
    static void ReserveTokens(std::vector<Token>& tokens, size_t count) {
        tokens.reserve(count);
#if defined(__linux__)
        constexpr uintptr_t kLarge = uintptr_t{1} << 21;
        const uintptr_t from =
            (reinterpret_cast<uintptr_t>(tokens.data()) + kLarge - 1) & ~(kLarge - 1);
        const uintptr_t to =
            reinterpret_cast<uintptr_t>(tokens.data() + tokens.capacity()) & ~(kLarge - 1);
        // Advice only: a refusal changes nothing.
        if (to > from) (void)madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
    }

    // Cheap test for sampled data: do byte differences at some stride
    // have clearly less entropy than the bytes themselves? Looks at the
    // first bytes of a segment only.
    // Returns the stride whose differences have the least entropy, 0 when
    // none is clearly below the bytes' own.
    static int SampledStride(const uint8_t* data, size_t size) {
        if (size < 1024) return 0;
        const size_t n = std::min<size_t>(size, kProbeBytes);
        uint32_t raw[256] = {};
        for (size_t i = 0; i < n; ++i) ++raw[data[i]];
        double t = 0;
        double best = 0.9 * EntropyBits(raw, 256, &t);
        int bestStride = 0;
        for (int stride = 1; stride <= kMaxChannels; ++stride) {
            uint32_t d[256] = {};
            for (size_t i = stride; i < n; ++i)
                ++d[static_cast<uint8_t>(data[i] - data[i - stride])];
            const double bits = EntropyBits(d, 256, &t);
            if (bits < best) {
                best = bits;
                bestStride = stride;
            }
        }
        return bestStride;
    }

    // Mostly printable ASCII, line ends and tabs.
    static bool LooksText(const uint8_t* data, size_t size) {
        const size_t n = std::min<size_t>(size, kProbeBytes);
        size_t printable = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = data[i];
            printable += (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t';
        }
        return printable * 20 >= n * 19;
    }

    // Bytes of nearly full order-0 entropy (packed or random data).
    static bool LooksRandom(const uint8_t* data, size_t size) {
        if (size < 1024) return false;
        const size_t n = std::min<size_t>(size, kProbeBytes);
        uint32_t raw[256] = {};
        for (size_t i = 0; i < n; ++i) ++raw[data[i]];
        double t = 0;
        return EntropyBits(raw, 256, &t) > 7.8 * static_cast<double>(n);
    }

    // A rough size in bits of [from, to) as LZ: order-0 literals for the
    // bytes no quick match covers, a flat price per match. The matches
    // come from a small table of sampled positions that skips ahead
    // faster the longer it finds nothing, so it costs little on data
    // without repeats.
    double EstimateLzBits(const uint8_t* buf, size_t from, size_t to) {
        uint32_t counts[256] = {};
        size_t covered = 0, matches = 0, misses = 0;
        size_t i = from;
        while (i + 8 <= to) {
            uint32_t v;
            std::memcpy(&v, buf + i, 4);
            uint32_t& slot = probe_[(v * 2654435761u) >> (32 - kProbeBits)];
            const size_t cand = slot;
            slot = static_cast<uint32_t>(i + 1);
            if (cand != 0 && i + 1 - cand <= static_cast<size_t>(MatchFinder::kMaxDistance)) {
                const int32_t limit =
                    static_cast<int32_t>(std::min<size_t>(to - i, MatchFinder::kMaxLength));
                const int32_t len = CommonLength(buf + cand - 1, buf + i, limit);
                if (len >= 6) {
                    covered += static_cast<size_t>(len);
                    ++matches;
                    i += static_cast<size_t>(len);
                    misses = 0;
                    continue;
                }
            }
            ++counts[buf[i]];
            i += 1 + (misses++ >> 6);
        }
        const size_t literals = to - from - covered;
        double t = 0;
        uint32_t total = 0;
        for (uint32_t c : counts) total += c;
        const double perByte = total ? EntropyBits(counts, 256, &t) / total : 8.0;
        return perByte * static_cast<double>(literals) + 24.0 * static_cast<double>(matches);
    }

    // The channel count whose prediction codes the first bytes best.
    int PickChannels(const uint8_t* data, size_t size) const {
        const size_t n = std::min<size_t>(size, kProbeBytes);
        int best = 1;
        double bestCost = 0;
        for (int c = 1; c <= kMaxChannels; ++c) {
            AudioStats st;
            st.Channels = c;
            EncoderAudio a = audio_;
            SimulateAudio(data, n, c, a, st);
            const double cost = AudioCost(st);
            if (c == 1 || cost < bestCost) {
                bestCost = cost;
                best = c;
            }
        }
        return best;
    }

    // Codes [data, data + size) with channels from the current predictor
    // state; returns the estimated bits, fills stats and the state after.
    double TrialAudio(const uint8_t* data, size_t size, int channels, AudioStats& st,
                      EncoderAudio& a) const {
        st = AudioStats();
        st.Channels = channels;
        a = audio_;
        SimulateAudio(data, size, channels, a, st);
        return AudioCost(st);
    }

    static void SimulateAudio(const uint8_t* data, size_t n, int channels, EncoderAudio& a,
                              AudioStats& st) {
        if (a.CurrentChannel >= channels) a.CurrentChannel = 0;
        for (size_t i = 0; i < n; ++i) {
            ChannelPredictor& v = a.Pred[a.CurrentChannel];
            const int32_t predicted = PredictedByte(v, a.CrossDelta);
            const int32_t delta = (predicted - data[i]) & 0xFF;
            PredictByte(v, a.CrossDelta, delta);
            ++st.Freq[a.CurrentChannel][delta];
            if (++a.CurrentChannel == channels) a.CurrentChannel = 0;
        }
    }

    // The finder's tables are made on first use: data coded entirely as
    // samples or literals never needs them.
    void ReadyFinder() {
        if (finderReady_) return;
        finder_.Reset(params_.Other.Depth, params_.Other.Nice, totalSize_);
        finderReady_ = true;
    }

    // What the lazy parse may take at one position.
    struct Choice {
        int32_t Length = 0;  // 0: nothing better than a literal
        int32_t Saving = 0;  // literal prices of the covered bytes minus the token's price
        Token Tok;
    };

    // Matches found at one position; kept so that a lookahead's search is
    // not repeated when the parse moves there.
    struct Found {
        size_t Pos = SIZE_MAX;
        int Count = 0;
        int32_t Short = 0;
        MatchCandidate Cands[MatchFinder::kMaxLength + 4];
    };
    Found found_[3];
    // Lazy parse: the searches at pos, pos + 1 and pos + 2, rotated as
    // the parse moves on.
    Found* foundSlots_[3] = {&found_[0], &found_[1], &found_[2]};

    void FindAt(const uint8_t* buf, size_t p, size_t fileEnd, Found& f) {
        f.Pos = p;
        f.Count = finder_.Find(buf, p, fileEnd - p, f.Cands);
        f.Short = finder_.ShortDistance();
    }

    // The token at p with the largest saving under history h. lits holds
    // the summed literal prices with lits[0] at position base.
    Choice Choose(const uint8_t* buf, const Found& f, size_t fileEnd, const MatchHistory& h,
                  const uint32_t* lits, size_t base) const {
        Choice best;
        const size_t p = f.Pos;
        const uint8_t* cur = buf + p;
        const int32_t maxLen =
            static_cast<int32_t>(std::min<size_t>(fileEnd - p, MatchFinder::kMaxLength));
        if (maxLen < 2) return best;
        const uint32_t* at = lits + (p - base);
        auto offer = [&](int32_t len, uint32_t price, const Token& t) {
            const int32_t saving =
                static_cast<int32_t>(at[len] - at[0]) - static_cast<int32_t>(price);
            if (saving > best.Saving) {
                best.Length = len;
                best.Saving = saving;
                best.Tok = t;
            }
        };
        const int32_t pl = h.PrevMatchLength, pd = h.PrevMatchDistance;
        if (pl > 0 && pd > 0 && static_cast<size_t>(pd) <= p && pl <= maxLen &&
            CommonLength(cur - pd, cur, pl) == pl) {
            offer(pl, prices_.Lit[kSymbolRepeatMatch], Token::RepeatMatch());
        }
        int32_t recentLen[4] = {};
        for (int k = 0; k < 4; ++k) {
            const int32_t d = h.Recent(k);
            if (d <= 0 || static_cast<size_t>(d) > p) continue;
            bool dup = false;
            for (int j = 0; j < k; ++j) dup |= h.Recent(j) == d;
            if (dup) continue;
            const int bump = RecentBump(d);
            const int32_t len = std::min(CommonLength(cur - d, cur, maxLen), 257 + bump);
            recentLen[k] = len;
            if (len < 2 + bump) continue;
            offer(len, prices_.Lit[kSymbolRecentFirst + k] + prices_.RecentLen[len - bump - 2],
                  Token::RecentMatch(k, len));
        }
        if (f.Short > 0) offer(2, prices_.Short[f.Short - 1], Token::ShortMatch(f.Short));
        for (int c = 0; c < f.Count; ++c) {
            const int32_t d = f.Cands[c].Distance;
            const int bump = FarBump(d);
            const int32_t len = std::min(f.Cands[c].Length, 258 + bump);
            if (len < 3 + bump) continue;
            bool recent = false;
            for (int k = 0; k < 4; ++k) recent |= h.Recent(k) == d && recentLen[k] >= len;
            if (recent) continue;  // already offered, cheaper, as a recent match
            offer(len, prices_.DistancePrice(d) + prices_.MatchLen[len - bump - 3],
                  Token::Match(len, d));
        }
        return best;
    }

    // Greedy or lazy parse of [from, to): at each position the token with
    // the largest saving, unless starting up to lookahead_ bytes later
    // saves more. Same contract as ParseRange.
    size_t ParseLazy(const uint8_t* buf, size_t from, size_t to, size_t fileEnd, MatchHistory& h,
                     std::vector<Token>& out, uint64_t& total) {
        ReadyFinder();
        // Literal prices summed over every byte a token from [from, to)
        // or a lookahead can reach.
        const size_t reach = std::min(fileEnd, to + 2 + MatchFinder::kMaxLength) - from;
        litSum_.resize(reach + 1);
        litSum_[0] = 0;
        for (size_t i = 0; i < reach; ++i) litSum_[i + 1] = litSum_[i] + prices_.Lit[buf[from + i]];
        const uint32_t* lits = litSum_.data();
        // found[k] holds the search at pos + k.
        Found** found = foundSlots_;
        size_t pos = from;
        // First position not yet in the finder; lookaheads of the range
        // before may have run past from.
        size_t& searched = searched_;
        searched = std::max(searched, from);
        auto search = [&](int k) {
            FindAt(buf, pos + static_cast<size_t>(k), fileEnd, *found[k]);
            searched = pos + static_cast<size_t>(k) + 1;
        };
        auto literal = [&]() {
            out.push_back(Token::Literal(buf[pos]));
            total += prices_.Lit[buf[pos]];
            ++pos;
            Found* f0 = found[0];
            found[0] = found[1];
            found[1] = found[2];
            found[2] = f0;
        };
        while (pos < to) {
            if (found[0]->Pos != pos) search(0);
            Choice c = Choose(buf, *found[0], fileEnd, h, lits, from);
            if (c.Length == 0) {
                literal();
                continue;
            }
            bool later = false;
            for (int k = 1; k <= lookahead_ && c.Length < nice_ && pos + k < fileEnd; ++k) {
                if (found[k]->Pos != pos + static_cast<size_t>(k)) search(k);
                const Choice n = Choose(buf, *found[k], fileEnd, h, lits, from);
                // A later start must also pay for the literals before it.
                if (n.Saving > c.Saving) {
                    later = true;
                    break;
                }
            }
            if (later) {
                literal();
                continue;
            }
            total += TokenPrice(c.Tok, h);
            out.push_back(c.Tok);
            Apply(c.Tok, h);
            const size_t next = pos + static_cast<size_t>(c.Length);
            if (searched < next) {
                finder_.Insert(buf, searched, next, fileEnd);
                searched = next;
            }
            pos = next;
            // Searches past the match's end stay valid; the others are gone.
            if (found[1]->Pos == pos) {
                std::swap(found[0], found[1]);
            } else if (found[2]->Pos == pos) {
                std::swap(found[0], found[2]);
            }
            found[1]->Pos = found[2]->Pos = SIZE_MAX;
        }
        // Lookahead searches past pos stay in found_ for the next range:
        // their positions are in the finder already.
        return pos;
    }

    // Optimal parse of [from, to) given bytes up to fileEnd; returns the
    // parse's price and updates h.
    size_t ParseRange(const uint8_t* buf, size_t from, size_t to, size_t fileEnd, MatchHistory& h,
                      std::vector<Token>& out, uint64_t& total) {
        ReadyFinder();
        size_t pos = from;
        MatchCandidate cands[MatchFinder::kMaxLength + 4];
        std::vector<Token> rev;
        while (pos < to) {
            const int n = static_cast<int>(std::min<size_t>(kOptWindow, to - pos));
            // Nodes are cleared only as far as a token can reach: a long
            // match often ends a pass after a few positions.
            int reach = 0;
            nodes_[0].Price = 0;
            nodes_[0].History = h;
            const MatchHistory passStart = h;
            int stop = n;
            Token forced{};
            bool haveForced = false;
            for (int i = 0; i < n; ++i) {
                Node& node = nodes_[i];
                if (i > 0) {
                    node.History = nodes_[node.From].History;
                    Apply(node.Tok, node.History);
                }
                const size_t p = pos + i;
                const size_t limit = fileEnd - p;
                // A lazy range before may have searched a position or two
                // past its end; they are in the finder already.
                int nc = 0;
                int32_t sd = 0;
                if (p >= searched_) {
                    nc = finder_.Find(buf, p, limit, cands);
                    sd = finder_.ShortDistance();
                }
                const uint8_t* cur = buf + p;
                const MatchHistory& hist = node.History;
                const int32_t maxLen =
                    static_cast<int32_t>(std::min<size_t>(limit, MatchFinder::kMaxLength));
                while (reach < i + std::max(maxLen, 1)) nodes_[++reach].Price = kInfinity;
                // A long match ends the pass: take it as it is.
                if (nc > 0 && cands[nc - 1].Length >= nice_) {
                    stop = i;
                    forced = BestTokenFor(cands[nc - 1], hist);
                    haveForced = true;
                    break;
                }
                const uint32_t base = node.Price;
                auto relax = [&](int len, uint32_t price, const Token& t) {
                    Node& target = nodes_[i + len];
                    if (price < target.Price) {
                        target.Price = price;
                        target.From = i;
                        target.Tok = t;
                    }
                };
                relax(1, base + prices_.Lit[cur[0]], Token::Literal(cur[0]));
                // The last match again.
                const int32_t pl = hist.PrevMatchLength, pd = hist.PrevMatchDistance;
                if (pl > 0 && pd > 0 && static_cast<size_t>(pd) <= p && pl <= maxLen &&
                    CommonLength(cur - pd, cur, pl) == pl) {
                    relax(pl, base + prices_.Lit[kSymbolRepeatMatch], Token::RepeatMatch());
                }
                // The four recent distances.
                for (int k = 0; k < 4; ++k) {
                    const int32_t d = hist.Recent(k);
                    if (d <= 0 || static_cast<size_t>(d) > p) continue;
                    bool dup = false;
                    for (int j = 0; j < k; ++j) dup |= hist.Recent(j) == d;
                    if (dup) continue;
                    const int32_t len = CommonLength(cur - d, cur, maxLen);
                    const int bump = RecentBump(d);
                    const int32_t hi = std::min(len, 257 + bump);
                    const uint32_t sym = base + prices_.Lit[kSymbolRecentFirst + k];
                    for (int32_t l = 2 + bump; l <= hi; ++l) {
                        relax(l, sym + prices_.RecentLen[l - bump - 2], Token::RecentMatch(k, l));
                    }
                }
                if (sd > 0 && maxLen >= 2)
                    relax(2, base + prices_.Short[sd - 1], Token::ShortMatch(sd));
                int32_t prevLen = 0;
                for (int c = 0; c < nc; ++c) {
                    const int32_t d = cands[c].Distance;
                    const int bump = FarBump(d);
                    const int32_t lo = std::max(prevLen + 1, 3 + bump);
                    const int32_t hi = std::min(cands[c].Length, 258 + bump);
                    prevLen = cands[c].Length;
                    if (lo > hi) continue;
                    const uint32_t dp = base + prices_.DistancePrice(d);
                    for (int32_t l = lo; l <= hi; ++l) {
                        relax(l, dp + prices_.MatchLen[l - bump - 3], Token::Match(l, d));
                    }
                }
            }
            // Walk back from the pass's end.
            rev.clear();
            for (int i = stop; i > 0; i = nodes_[i].From) rev.push_back(nodes_[i].Tok);
            total += nodes_[stop].Price;
            if (stop > 0) {
                if (haveForced) {
                    h = nodes_[stop].History;  // visited before the pass stopped
                } else {
                    h = nodes_[nodes_[stop].From].History;
                    Apply(nodes_[stop].Tok, h);
                }
            }
            if (!pricesSettled_) {
                LzStats seen;
                MatchHistory hh = passStart;
                for (auto it = rev.rbegin(); it != rev.rend(); ++it) {
                    seen.Add(*it, hh);
                    Apply(*it, hh);
                }
                FollowPrices(seen);
            }
            for (auto it = rev.rbegin(); it != rev.rend(); ++it) out.push_back(*it);
            pos += stop;
            if (haveForced) {
                const int32_t len =
                    forced.Kind == TokenKind::kRepeatMatch ? h.PrevMatchLength : forced.Length;
                total += TokenPrice(forced, h);
                out.push_back(forced);
                Apply(forced, h);
                finder_.Insert(buf, pos + 1, pos + len, fileEnd);
                pos += len;
            }
        }
        return pos;
    }

    uint32_t TokenPrice(const Token& t, const MatchHistory& h) const {
        switch (t.Kind) {
            case TokenKind::kRecentMatch: {
                const int32_t d = h.Recent(t.Value);
                return prices_.Lit[kSymbolRecentFirst + t.Value] +
                       prices_.RecentLen[t.Length - RecentBump(d) - 2];
            }
            case TokenKind::kMatch:
                return prices_.DistancePrice(t.Distance) +
                       prices_.MatchLen[t.Length - FarBump(t.Distance) - 3];
            case TokenKind::kRepeatMatch:
                return prices_.Lit[kSymbolRepeatMatch];
            case TokenKind::kShortMatch:
                return prices_.Short[t.Distance - 1];
            default:
                return 0;
        }
    }

    // The long match as a recent-distance match when its distance is one
    // of the four, else as a plain match (capped to what the slots hold).
    Token BestTokenFor(const MatchCandidate& m, const MatchHistory& h) const {
        for (int k = 0; k < 4; ++k) {
            if (h.Recent(k) == m.Distance) {
                const int bump = RecentBump(m.Distance);
                return Token::RecentMatch(k, std::min(m.Length, 257 + bump));
            }
        }
        return Token::Match(std::min(m.Length, 258 + FarBump(m.Distance)), m.Distance);
    }
};

// Greedy block splitting: chunks of a run join the current block unless
// coding them apart is cheaper by more than a new table costs.
void SplitRun(Run& run, std::vector<Block>& blocks) {
    // Finer chunks follow the changing statistics of code better (about
    // 0.4% on a program file) and cost text next to nothing.
    constexpr size_t kChunk = 4096;
    if (run.Audio) {
        // Audio runs come from 64 KB segments of one channel count; one
        // table per run is close to what splitting would give.
        Block b;
        b.Multimedia = true;
        b.Channels = run.Channels;
        b.Tokens = std::move(run.Tokens);
        blocks.push_back(std::move(b));
        return;
    }
    LzStats block;
    size_t blockStart = 0;
    MatchHistory dummy;  // recent-distance slots only need the token's length
    (void)dummy;
    auto statsOf = [&](size_t from, size_t to) {
        LzStats s;
        for (size_t i = from; i < to; ++i) {
            const Token& t = run.Tokens[i];
            // Recent matches: the length slot depends on the distance bump;
            // for the split decision the symbol itself is what matters.
            if (t.Kind == TokenKind::kRecentMatch) {
                ++s.Lit[kSymbolRecentFirst + t.Value];
                continue;
            }
            s.Add(t, dummy);
        }
        return s;
    };
    for (size_t c = 0; c < run.Tokens.size(); c += kChunk) {
        const size_t ce = std::min(run.Tokens.size(), c + kChunk);
        LzStats chunk = statsOf(c, ce);
        if (c == blockStart) {
            block = chunk;
            continue;
        }
        LzStats merged = block;
        merged.Merge(chunk);
        if (LzCost(merged) > LzCost(block) + LzCost(chunk)) {
            Block b;
            b.Tokens.assign(run.Tokens.begin() + blockStart, run.Tokens.begin() + c);
            blocks.push_back(std::move(b));
            blockStart = c;
            block = chunk;
        } else {
            block = merged;
        }
    }
    Block b;
    if (blockStart == 0) {
        b.Tokens = std::move(run.Tokens);
    } else {
        b.Tokens.assign(run.Tokens.begin() + blockStart, run.Tokens.end());
    }
    blocks.push_back(std::move(b));
}

}  // namespace

bool CompressChain(const std::vector<InputFile>& files, const CompressOptions& options,
                   std::vector<std::vector<uint8_t>>& packed, CompressStats* stats) {
    packed.clear();
    if (files.empty()) return true;
    size_t total = 0;
    for (const InputFile& f : files) total += f.Size;
    ChainCompressor cc(options, total);
    std::vector<Block> blocks;
    size_t peak = 0;
    // Runs continue across entries, so small solid files share tables.
    std::vector<Run> runs;
    for (size_t f = 0; f < files.size(); ++f) {
        if (files[f].Size == 0) return false;
        cc.AddFile(files[f].Data, files[f].Size, runs);
        if (f + 1 < files.size()) runs.back().Tokens.push_back(Token::EntryEnd());
        peak = std::max(peak, cc.MemoryBytes());
    }
    for (Run& r : runs) SplitRun(r, blocks);
    size_t tokenBytes = 0;
    for (const Block& b : blocks) tokenBytes += b.Tokens.capacity() * sizeof(Token);
    EncoderState state;
    std::vector<EncodedEntry> entries;
    if (!EncodeStream(state, blocks, false, entries)) return false;
    if (entries.size() != files.size()) return false;
    size_t out = 0;
    for (EncodedEntry& e : entries) {
        out += e.Packed.size();
        packed.push_back(std::move(e.Packed));
    }
    if (stats != nullptr) stats->PeakMemory = std::max(stats->PeakMemory, peak + tokenBytes + out);
    return true;
}

bool PackFiles(const std::vector<InputFile>& files, const CompressOptions& options, bool solid,
               std::vector<PackedFile>& out, CompressStats* stats) {
    out.assign(files.size(), PackedFile{});
    // Files that must be stored: empty ones always; in a solid archive also
    // those found not to pay in an earlier attempt.
    std::vector<bool> stored(files.size(), false);
    for (size_t i = 0; i < files.size(); ++i) stored[i] = files[i].Size == 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        bool again = false;
        // Chains of consecutive packed files (each file alone when not solid).
        size_t i = 0;
        while (i < files.size()) {
            if (stored[i]) {
                out[i] = PackedFile{true, false, {}};
                ++i;
                continue;
            }
            std::vector<size_t> members{i};
            if (solid) {
                size_t j = i + 1;
                for (; j < files.size() && !(stored[j] && files[j].Size != 0); ++j) {
                    if (!stored[j]) members.push_back(j);
                }
            }
            std::vector<InputFile> chain;
            for (size_t m : members) chain.push_back(files[m]);
            std::vector<std::vector<uint8_t>> packed;
            if (!CompressChain(chain, options, packed, stats)) return false;
            bool first = true;
            for (size_t k = 0; k < members.size(); ++k) {
                const size_t m = members[k];
                if (packed[k].size() >= files[m].Size) {
                    stored[m] = true;
                    again = again || solid;
                }
                out[m] = PackedFile{false, !first, std::move(packed[k])};
                first = false;
            }
            // Empty files between members are stored and leave the stream as it is.
            for (size_t k = members.front(); k <= members.back(); ++k) {
                if (stored[k] && files[k].Size == 0) out[k] = PackedFile{true, false, {}};
            }
            i = members.back() + 1;
        }
        if (!again) break;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (stored[i]) out[i] = PackedFile{true, false, {}};
    }
    return true;
}

}  // namespace qvpack
