// Drives the decoder (or the reference decoder) over bytes in memory, and a
// small model of what a token sequence must produce.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "archive/reader.h"
#include "pack/symbol_writer.h"
#include "unpack/reference/reference_decoder.h"
#include "unpack/unpack_steps.h"

namespace unptest {

inline uint32_t Crc(const uint8_t* data, size_t size, uint32_t crc = 0xFFFFFFFFu) {
    BuildCrcTable();
    return UpdateCrc32(crc, data, static_cast<int32_t>(size));
}
inline uint32_t Crc(const std::vector<uint8_t>& bytes) {
    return Crc(bytes.data(), bytes.size());
}

// Packed bytes for the decoder's input, at most Chunk bytes per read.
struct Source {
    std::vector<uint8_t> Bytes;
    size_t Pos = 0;
    int32_t Chunk = 1 << 30;

    static int32_t Read(void* self, uint8_t* to, int32_t count) {
        Source& s = *static_cast<Source*>(self);
        size_t n = std::min<size_t>(
            {s.Bytes.size() - s.Pos, static_cast<size_t>(count), static_cast<size_t>(s.Chunk)});
        if (n > 0) std::memcpy(to, s.Bytes.data() + s.Pos, n);
        s.Pos += n;
        return static_cast<int32_t>(n);
    }
};

// The decoder's output: every byte, the size of every piece, the CRC.
struct Sink {
    std::vector<uint8_t> Bytes;
    std::vector<int32_t> Writes;
    uint32_t Checksum = 0xFFFFFFFFu;

    static void Write(void* self, const uint8_t* data, int32_t count) {
        Sink& s = *static_cast<Sink*>(self);
        s.Writes.push_back(count);
        s.Bytes.insert(s.Bytes.end(), data, data + count);
        s.Checksum = Crc(data, static_cast<size_t>(count), s.Checksum);
    }
};

// One run of the decoder (Fast) or of the reference decoder (Reference)
// over a sequence of entries, from a fresh state, with the window kept
// between them as the driver does.
struct Fast {
    // Uncleared, as the driver hands it over: every byte the decoder reads
    // must be one it wrote, or a zero.
    std::vector<uint8_t> WindowMemory = std::vector<uint8_t>(kWindowSize, 0xA5);
    std::unique_ptr<Unpacker> State = std::make_unique<Unpacker>();
    explicit Fast(const UnpackHooks& hooks) {
        ResetUnpacker(*State, hooks, WindowMemory.data(), false);
    }
    void Unpack(int32_t packed, int32_t size, bool solid) {
        UnpackEntry(*State, packed, size, solid);
    }
    void Stored(int32_t packed, int32_t size) { CopyStored(*State, packed, size); }
    Unpacker& U() { return *State; }
};

struct Reference {
    std::unique_ptr<qvref::ReferenceUnpacker> State;
    explicit Reference(const UnpackHooks& hooks)
        : State(std::make_unique<qvref::ReferenceUnpacker>(hooks)) {}
    void Unpack(int32_t packed, int32_t size, bool solid) {
        State->UnpackEntry(packed, size, solid);
    }
    void Stored(int32_t packed, int32_t size) { State->CopyStored(packed, size); }
    qvref::ReferenceUnpacker& U() { return *State; }
};

template <typename Engine>
class BasicDecoder {
public:
    // (done, total) of every progress report of the last entry.
    std::vector<std::pair<int32_t, int32_t>> Progress;
    Sink Out;

    BasicDecoder()
        : engine_(
              {{&BasicDecoder::Read, this}, {Sink::Write, &Out}, {&BasicDecoder::Record, this}}) {}
    BasicDecoder(const BasicDecoder&) = delete;
    BasicDecoder& operator=(const BasicDecoder&) = delete;

    // Decodes one entry; returns its output.
    std::vector<uint8_t> Entry(const std::vector<uint8_t>& packed, uint32_t unpackedSize,
                               bool solid, int32_t chunk = 1 << 30) {
        Start(packed, unpackedSize, chunk);
        engine_.Unpack(static_cast<int32_t>(packed.size()), static_cast<int32_t>(unpackedSize),
                       solid);
        return Out.Bytes;
    }
    // Copies one stored entry; returns its output.
    std::vector<uint8_t> Stored(const std::vector<uint8_t>& packed, int32_t packedSize,
                                int32_t unpackedSize, int32_t chunk = 1 << 30) {
        Start(packed, static_cast<uint32_t>(unpackedSize), chunk);
        engine_.Stored(packedSize, unpackedSize);
        return Out.Bytes;
    }
    // The state record, to look at what an entry left.
    auto& U() { return engine_.U(); }

private:
    Engine engine_;
    Source in_;
    uint32_t total_ = 0;

    void Start(const std::vector<uint8_t>& packed, uint32_t unpackedSize, int32_t chunk) {
        in_ = Source{packed, 0, chunk};
        Out = Sink();
        Progress.clear();
        total_ = unpackedSize;
    }
    static int32_t Read(void* self, uint8_t* to, int32_t count) {
        return Source::Read(&static_cast<BasicDecoder*>(self)->in_, to, count);
    }
    static void Record(void* self, int32_t outputLeft) {
        BasicDecoder& d = *static_cast<BasicDecoder*>(self);
        d.Progress.push_back({static_cast<int32_t>(d.total_ - static_cast<uint32_t>(outputLeft)),
                              static_cast<int32_t>(d.total_)});
    }
};

using Decoder = BasicDecoder<Fast>;
using ReferenceDecoder = BasicDecoder<Reference>;

// What a token sequence must produce, worked out independently of both the
// writer and the decoder: a plain output vector with the match history.
struct Model {
    std::vector<uint8_t> Out;
    int32_t Recent[4] = {};
    int32_t Count = 0;
    int32_t PrevLength = 0;
    int32_t PrevDistance = 0;

    void Copy(int32_t length, int32_t distance) {
        Recent[Count & 3] = distance;
        ++Count;
        PrevLength = length;
        PrevDistance = distance;
        for (int32_t i = 0; i < length; ++i) {
            // Distance 0 and distances before the first byte read the
            // zeroed window (the model assumes less than 1 MB of output).
            const int64_t from = static_cast<int64_t>(Out.size()) - distance;
            Out.push_back(distance > 0 && from >= 0 ? Out[static_cast<size_t>(from)] : 0);
        }
    }
    void Apply(const qvpack::Token& t) {
        using qvpack::TokenKind;
        switch (t.Kind) {
            case TokenKind::kLiteral:
            case TokenKind::kAudioByte:
                Out.push_back(t.Value);
                break;
            case TokenKind::kMatch:
            case TokenKind::kShortMatch:
                Copy(t.Length, t.Distance);
                break;
            case TokenKind::kRepeatMatch:
                Copy(PrevLength, PrevDistance);
                break;
            case TokenKind::kRecentMatch:
                Copy(t.Length, Recent[(Count - 1 - t.Value) & 3]);
                break;
            case TokenKind::kEntryEnd:
                break;
        }
    }
};

}  // namespace unptest
