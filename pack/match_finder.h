// Hash-chain match finder over a 1 MB sliding window. Positions are indices
// into one contiguous buffer that holds the whole history (earlier solid
// entries first), so a match never needs to wrap.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct MatchCandidate {
    int32_t Length;
    int32_t Distance;
};

class MatchFinder {
public:
    // The decoder's window is 2^20 bytes; one byte less keeps every
    // reference strictly inside it.
    static constexpr int32_t kMaxDistance = 0xFFFFF;
    static constexpr int32_t kMaxLength = 260;

    // depth: chain links followed per position; nice: a match this long
    // ends the search; size: bytes that will be inserted in all (small
    // inputs get small tables).
    void Reset(int32_t depth, int32_t nice, size_t size);
    // Changes depth and nice for the searches that follow.
    void SetLimits(int32_t depth, int32_t nice) {
        depth_ = depth;
        nice_ = nice;
    }
    // Registers positions [from, to) without searching (bytes that a long
    // match skipped, or history of a solid stream).
    void Insert(const uint8_t* data, size_t from, size_t to, size_t end);
    // Inserts pos and collects matches starting there, longest last, each
    // strictly longer than the one before and at the nearest distance found
    // for its length. limit: bytes available from pos. Returns the count.
    int Find(const uint8_t* data, size_t pos, size_t limit, MatchCandidate* out);
    // The nearest earlier occurrence of the two bytes at pos within 256
    // bytes, or 0. Valid right after Find(pos).
    int32_t ShortDistance() const { return short_; }
    // Bytes held by the tables.
    size_t MemoryBytes() const;

private:
    int hash4Bits_ = 18;
    int hash3Bits_ = 16;
    size_t ringMask_ = 0;
    std::vector<uint32_t> head4_, head3_, head2_, prev_;
    int32_t depth_ = 16;
    int32_t nice_ = 64;
    int32_t short_ = 0;
    void InsertOne(const uint8_t* data, size_t pos, size_t end);
};

// Length of the common prefix of a and b, at most limit.
// Compares eight bytes at a time; the first differing byte is found from
// the lowest set bit of the difference (little-endian load order).
inline int32_t CommonLength(const uint8_t* a, const uint8_t* b, int32_t limit) {
    int32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        const uint64_t diff = x ^ y;
        if (diff != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                return n + (__builtin_ctzll(diff) >> 3);
            } else {
                return n + (__builtin_clzll(diff) >> 3);
            }
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}
