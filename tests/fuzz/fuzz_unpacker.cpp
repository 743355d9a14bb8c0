// The Unpacker alone on raw packed data, against the reference decoder:
// both must hand out the same bytes in the same pieces. The first 9 bytes pick the run:
//   byte 0     bit 0: a second entry follows that continues the first
//              (solid), with its window, tables and history, as the driver
//              lets it: only once code tables were read;
//              bits 1, 2: the first, the second entry's UnpSize gets bit 31
//              (a size of 2^31 or more)
//              bit 3: the first entry is solid too, so it goes on from the
//              fresh state, whose tables are all the empty code (the driver
//              refuses such an entry, the decoder must still end it soon)
//   bytes 1-3  UnpSize of the first entry, up to 1 MB - 1 (so that the
//              second entry finds the window at any position)
//   bytes 4-6  UnpSize of the second entry, likewise
//   bytes 7-8  packed bytes of the first entry; the second gets the rest
// Every method version that reaches the Unpacker (16 to 20) decodes alike;
// the version only matters to the driver, which the extraction target
// covers.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "unpack/reference/reference_decoder.h"
#include "unpack/unpacker_state.h"

namespace {

constexpr size_t kHeader = 9;
uint8_t* window = nullptr;

struct Packed {
    const uint8_t* Data;
    int32_t Size;
    int32_t Pos;
};

int32_t ReadPacked(void* context, uint8_t* to, int32_t count) {
    Packed& in = *static_cast<Packed*>(context);
    const int32_t n = count < in.Size - in.Pos ? count : in.Size - in.Pos;
    if (n <= 0) return 0;
    std::memcpy(to, in.Data + in.Pos, static_cast<size_t>(n));
    in.Pos += n;
    return n;
}

// What a decoder handed out: a running hash of the bytes and of the piece
// sizes (the pieces of a 1 MB window are too many to keep).
struct Heard {
    uint64_t Hash = 0;
    uint64_t Bytes = 0;
    static void Write(void* self, const uint8_t* data, int32_t count) {
        Heard& h = *static_cast<Heard*>(self);
        h.Hash = h.Hash * 1000003u + static_cast<uint32_t>(count);
        for (int32_t i = 0; i < count; ++i) h.Hash = h.Hash * 31u + data[i];
        h.Bytes += static_cast<uint32_t>(count);
    }
};

int32_t SizeAt(const uint8_t* p, bool huge) {
    uint32_t size = (p[0] | (p[1] << 8) | (p[2] << 16)) & 0xFFFFF;
    return static_cast<int32_t>(huge ? size | 0x80000000u : size);
}

// Made once: a window of 1 MB per input would cost more than the decoding.
Unpacker* state = nullptr;
qvref::ReferenceUnpacker* reference = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Uncleared, as the driver's: what the decoder reads must be what it
    // wrote, or zeros.
    window = static_cast<uint8_t*>(std::malloc(kWindowSize));
    std::memset(window, 0xA5, kWindowSize);
    state = new Unpacker();
    reference = new qvref::ReferenceUnpacker(UnpackHooks());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader || size > 0x7FFFFFFF) return 0;
    qvfuzz::FreshProcessState();
    const bool second = (data[0] & 1) != 0;
    Packed in{data + kHeader, static_cast<int32_t>(size - kHeader), 0};
    Packed refIn = in;
    Heard out, refOut;
    ResetUnpacker(*state, {{ReadPacked, &in}, {Heard::Write, &out}, {}}, window, false);
    qvref::ReferenceUnpacker& ref = *reference;
    ref.Restart({{ReadPacked, &refIn}, {Heard::Write, &refOut}, {}});
    int32_t first = second ? data[7] | (data[8] << 8) : in.Size;
    if (first > in.Size) first = in.Size;
    const int32_t firstSize = SizeAt(data + 1, (data[0] & 2) != 0);
    UnpackEntry(*state, first, firstSize, (data[0] & 8) != 0);
    ref.UnpackEntry(first, firstSize, (data[0] & 8) != 0);
    // Whatever the first entry consumed, the second starts at its own data.
    in.Pos = refIn.Pos = first;
    if (second && TablesRead(*state)) {
        const int32_t size2 = SizeAt(data + 4, (data[0] & 4) != 0);
        UnpackEntry(*state, in.Size - first, size2, true);
        ref.UnpackEntry(in.Size - first, size2, true);
    }
    if ((out.Hash != refOut.Hash || out.Bytes != refOut.Bytes)) std::abort();
    return 0;
}
