#include "pack/match_finder.h"

#include <algorithm>
#include <cstring>

namespace {

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint32_t Hash4(const uint8_t* p, int bits) {
    return (Load32(p) * 2654435761u) >> (32 - bits);
}

inline uint32_t Hash3(const uint8_t* p, int bits) {
    const uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - bits);
}

}  // namespace

void MatchFinder::Reset(int32_t depth, int32_t nice, size_t size) {
    depth_ = depth;
    nice_ = nice;
    int bits = 10;
    while (bits < 20 && (size_t{1} << bits) < size) ++bits;
    hash4Bits_ = std::min(bits, 18);
    hash3Bits_ = std::min(bits, 16);
    ringMask_ = (size_t{1} << bits) - 1;
    // Entries hold position + 1, so 0 means "none".
    head4_.assign(size_t{1} << hash4Bits_, 0);
    head3_.assign(size_t{1} << hash3Bits_, 0);
    head2_.assign(size_t{1} << 16, 0);
    prev_.assign(ringMask_ + 1, 0);
}

size_t MatchFinder::MemoryBytes() const {
    return (head4_.size() + head3_.size() + head2_.size() + prev_.size()) * sizeof(uint32_t);
}

void MatchFinder::InsertOne(const uint8_t* data, size_t pos, size_t end) {
    const uint32_t tag = static_cast<uint32_t>(pos + 1);
    if (pos + 2 <= end) head2_[data[pos] | (data[pos + 1] << 8)] = tag;
    if (pos + 3 <= end) head3_[Hash3(data + pos, hash3Bits_)] = tag;
    if (pos + 4 <= end) {
        uint32_t& h = head4_[Hash4(data + pos, hash4Bits_)];
        prev_[pos & ringMask_] = h;
        h = tag;
    } else {
        prev_[pos & ringMask_] = 0;
    }
}

void MatchFinder::Insert(const uint8_t* data, size_t from, size_t to, size_t end) {
    for (size_t p = from; p < to; ++p) InsertOne(data, p, end);
}

int MatchFinder::Find(const uint8_t* data, size_t pos, size_t limit, MatchCandidate* out) {
    const size_t end = pos + limit;
    int count = 0;
    int32_t best = 1;
    short_ = 0;
    if (limit > static_cast<size_t>(kMaxLength)) limit = kMaxLength;
    const int32_t maxLen = static_cast<int32_t>(limit);
    const uint8_t* cur = data + pos;

    // Read the heads before inserting pos itself.
    uint32_t c2 = 0, c3 = 0, c4 = 0;
    if (maxLen >= 2) c2 = head2_[cur[0] | (cur[1] << 8)];
    if (maxLen >= 3) c3 = head3_[Hash3(cur, hash3Bits_)];
    if (maxLen >= 4) c4 = head4_[Hash4(cur, hash4Bits_)];
    InsertOne(data, pos, end);

    auto consider = [&](uint32_t tag) -> bool {
        const size_t cand = tag - 1;
        const size_t dist = pos - cand;
        if (dist == 0 || dist > static_cast<size_t>(kMaxDistance)) return false;
        const uint8_t* p = data + cand;
        // Only a match longer than the best so far counts: its last four
        // bytes up to best must agree before the full compare is worth it.
        if (best >= 3) {
            if (Load32(p + best - 3) != Load32(cur + best - 3)) return true;
        } else if (p[best] != cur[best] || p[0] != cur[0]) {
            return true;
        }
        const int32_t len = CommonLength(p, cur, maxLen);
        if (len > best) {
            best = len;
            out[count++] = {len, static_cast<int32_t>(dist)};
        }
        return true;
    };

    if (c2 != 0) {
        const size_t d = pos - (c2 - 1);
        if (d >= 1 && d <= 256) short_ = static_cast<int32_t>(d);
    }
    if (maxLen < 2) return 0;
    if (c2 != 0 && short_ != 0) consider(c2);
    if (c3 != 0 && best < maxLen) consider(c3);
    uint32_t tag = c4;
    for (int32_t steps = depth_; tag != 0 && steps > 0 && best < maxLen && best < nice_; --steps) {
        if (!consider(tag)) break;
        const size_t cand = tag - 1;
        const uint32_t next = prev_[cand & ringMask_];
        // Chains run strictly backwards; anything else is a stale ring slot.
        if (next == 0 || next - 1 >= cand) break;
        tag = next;
    }
    return count;
}
