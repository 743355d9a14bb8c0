// Symbol-level writer of method-20 streams.
//
// A stream is a sequence of blocks. Each block starts with a code-table
// block (its Huffman code lengths), followed by its symbols; a block-change
// symbol, coded with the old tables, leads from one block to the next. The
// writer needs a block's code lengths before its symbols, so it works in
// three steps: the caller collects a block's tokens, the writer counts them
// and computes length-limited canonical codes, then writes the table and the
// symbols. It mirrors the decoder's state (match history, previous lengths,
// channel predictors) so that tokens say what the decoder should produce
// (real lengths and distances, wanted bytes) and the writer picks symbols,
// slots, extra bits and deltas.
//
// Entries: a token EntryEnd cuts the stream into archive entries. Each
// entry's packed data starts on a fresh byte; the entries after the first
// continue the stream (solid entries).
//
// Hand-made streams for tests: any token order is accepted as long as it
// can be coded (a recent match from an empty history, a repeat before any
// match, zero-length blocks...). Blocks may also force their code lengths or
// give the raw pre-code symbols of their code-length section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unpack/method20.h"

namespace qvpack {

// Writes bit fields most significant bit first.
class BitWriter {
public:
    // Appends the low count bits of value (count 0..32).
    void Put(uint32_t value, int count);
    // Pads the last byte with zero bits.
    void Align();
    uint64_t BitCount() const { return bitCount_; }
    // The bytes so far; a partial last byte has its unwritten bits zero.
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // Aligns and hands over the bytes, leaving the writer empty.
    std::vector<uint8_t> Take();

private:
    std::vector<uint8_t> bytes_;
    uint64_t bitCount_ = 0;
};

// Code lengths (0..maxLength) of an optimal prefix code limited to
// maxLength bits for the given frequencies. Unused symbols get 0; a single
// used symbol gets 1. maxLength must allow the used symbols (2^maxLength >=
// count of used symbols).
std::vector<uint8_t> ComputeCodeLengths(const uint32_t* freq, int count,
                                        int maxLength = kMaxCodeLength);

// Canonical codes for the lengths, in the decoder's order: by length, and
// within one length by symbol value. codes[i] is meaningful when lengths[i]
// (taken AND 15) is not 0. Returns false when the lengths oversubscribe the
// code space.
bool CanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes);

// The decoder's last four distances and last match.
struct MatchHistory {
    int32_t RecentDistances[4] = {};
    int32_t RecentIndex = 0;
    int32_t PrevMatchLength = 0;
    int32_t PrevMatchDistance = 0;

    // Distance of the (which + 1)-th most recent match, which 0..3 (0 for a
    // slot no match has filled since the start of the stream).
    int32_t Recent(int which) const { return RecentDistances[(RecentIndex - 1 - which) & 3]; }
    void Record(int32_t length, int32_t distance) {
        RecentDistances[RecentIndex & 3] = distance;
        RecentIndex = static_cast<int32_t>(static_cast<uint32_t>(RecentIndex) + 1u);
        PrevMatchLength = length;
        PrevMatchDistance = distance;
    }
};

// What the decoder knows at a point of the stream, as far as it shapes how
// the next symbols are coded.
struct EncoderState {
    MatchHistory History;
    // Code lengths of the tables in force (the decoder's previous lengths).
    uint8_t PreviousLengths[kMaxTableSize] = {};
    bool HaveTables = false;  // a code-table block was written in this stream
    bool AudioMode = false;
    int ChannelCount = 1;
    int CurrentChannel = 0;
    int32_t CrossDelta = 0;
    ChannelPredictor Predictors[kMaxChannels] = {};

    // The state at the start of a non-solid entry.
    void Reset() { *this = EncoderState(); }
};

enum class TokenKind : uint8_t {
    kLiteral,      // LZ: one byte (Value)
    kMatch,        // LZ: Length bytes from Distance back (symbols 270..297)
    kRepeatMatch,  // LZ: the last match again (symbol 256)
    kRecentMatch,  // LZ: Length bytes at the (Value + 1)-th recent distance (257..260)
    kShortMatch,   // LZ: 2 bytes from Distance 1..256 back (261..268)
    kAudioByte,    // multimedia: the wanted output byte (Value)
    kEntryEnd,     // the current entry ends here; the next one continues
};

struct Token {
    TokenKind Kind = TokenKind::kLiteral;
    uint8_t Value = 0;
    int32_t Length = 0;
    int32_t Distance = 0;

    static Token Literal(uint8_t byte) { return {TokenKind::kLiteral, byte, 1, 0}; }
    // length is what the decoder copies, far-distance bumps included.
    static Token Match(int32_t length, int32_t distance) {
        return {TokenKind::kMatch, 0, length, distance};
    }
    static Token RepeatMatch() { return {TokenKind::kRepeatMatch, 0, 0, 0}; }
    // which 0..3: most recent first; length as copied (bumps included).
    static Token RecentMatch(int which, int32_t length) {
        return {TokenKind::kRecentMatch, static_cast<uint8_t>(which), length, 0};
    }
    static Token ShortMatch(int32_t distance) { return {TokenKind::kShortMatch, 0, 2, distance}; }
    static Token AudioByte(uint8_t byte) { return {TokenKind::kAudioByte, byte, 1, 0}; }
    static Token EntryEnd() { return {TokenKind::kEntryEnd, 0, 0, 0}; }
};

enum class KeepMode : uint8_t {
    kAuto,   // send deltas to the previous lengths when that is smaller
    kKeep,   // always deltas (keep flag 1)
    kClear,  // always absolute lengths (keep flag 0)
};

// One pre-code symbol of a code-length section: 0..15 a delta, 16..18 a
// run whose count field is Field (2, 3 or 7 bits).
struct PreSymbol {
    uint8_t Symbol = 0;
    uint8_t Field = 0;
};

struct Block {
    bool Multimedia = false;
    int Channels = 1;  // multimedia: 1..4
    KeepMode Keep = KeepMode::kAuto;
    // Use the tables in force instead of writing a code-table block. Only
    // for the first block of a solid continuation (EncodeStream with
    // continueSolid) whose symbols the previous tables can code.
    bool ContinueTables = false;
    // When the previous block ended with EntryEnd: write this block's table
    // at the end of the previous entry (a trailing block) instead of at the
    // start of the next one.
    bool TrailingTables = false;
    std::vector<Token> Tokens;

    // Optional overrides for hand-made streams.
    // Code lengths to send instead of computed ones (table-size entries,
    // each 0..15); every symbol the block uses must have a length.
    std::vector<uint8_t> ForcedLengths;
    // The 19 pre-code lengths to send instead of computed ones.
    std::vector<uint8_t> ForcedPreLengths;
    // The exact pre-code symbols of the code-length section; the writer
    // reads them back the way the decoder does to learn the lengths.
    std::vector<PreSymbol> RawLengthSymbols;
};

struct EncodedEntry {
    std::vector<uint8_t> Packed;
    uint32_t UnpackedSize = 0;
};

// Encodes the blocks into entries (one more than there are EntryEnd tokens).
// Without continueSolid the state is reset first and the first entry is a
// non-solid one; with it, the stream continues from state (the entries are
// all solid). state is left as the decoder will be after the last entry.
// Returns false, with a reason in error, on anything that can't be coded.
bool EncodeStream(EncoderState& state, const std::vector<Block>& blocks, bool continueSolid,
                  std::vector<EncodedEntry>& entries, std::string* error = nullptr);

// Bits that the block would take (its code-table block, its symbols and,
// when changeFollows, the block-change symbol at its end), without writing
// anything. Helps a compressor decide where to split blocks and which mode
// to use. Returns -1 when the block can't be coded.
int64_t EstimateBlockBits(const EncoderState& state, const Block& block, bool changeFollows);

}  // namespace qvpack
