// Drives the Unpacker over in-memory streams, and a small reference model
// of what a token sequence must produce.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "archive/reader.h"
#include "archive/reports.h"
#include "archive/streams.h"
#include "pack/symbol_writer.h"
#include "unpack/unpacker.h"

namespace unptest {

// Reads from a byte vector, at most Chunk bytes per call (short reads).
class BytesIn : public TAbstractStream {
public:
    std::vector<uint8_t> Bytes;
    size_t Pos = 0;
    int32_t Chunk = 1 << 30;
    bool Open(const AnsiString&) override { return true; }
    bool Create(const AnsiString&) override { return false; }
    bool Close() override { return true; }
    int32_t Write(const void*, int32_t) override { return 0; }
    int32_t Read(void* buffer, int32_t count) override {
        size_t n = Bytes.size() - Pos;
        if (static_cast<size_t>(count) < n) n = static_cast<size_t>(count);
        if (static_cast<size_t>(Chunk) < n) n = static_cast<size_t>(Chunk);
        if (n > 0) std::memcpy(buffer, Bytes.data() + Pos, n);
        Pos += n;
        return static_cast<int32_t>(n);
    }
    uint32_t Seek(int32_t, int32_t) override { return kSeekBadOrigin; }
    int32_t Position() override { return static_cast<int32_t>(Pos); }
    int32_t Size() override { return static_cast<int32_t>(Bytes.size()); }
};

// Collects what is written; records the size of every write.
class BytesOut : public TAbstractStream {
public:
    std::vector<uint8_t> Bytes;
    std::vector<int32_t> Writes;
    bool Fail = false;
    void Reset() {
        Bytes.clear();
        Writes.clear();
        Fail = false;
    }
    bool Open(const AnsiString&) override { return false; }
    bool Create(const AnsiString&) override { return true; }
    bool Close() override { return true; }
    int32_t Write(const void* buffer, int32_t count) override {
        Writes.push_back(count);
        if (Fail) return 0;
        const uint8_t* p = static_cast<const uint8_t*>(buffer);
        Bytes.insert(Bytes.end(), p, p + count);
        return count;
    }
    int32_t Read(void*, int32_t) override { return 0; }
    uint32_t Seek(int32_t, int32_t) override { return kSeekBadOrigin; }
    int32_t Position() override { return static_cast<int32_t>(Bytes.size()); }
    int32_t Size() override { return static_cast<int32_t>(Bytes.size()); }
};

inline uint32_t Crc(const std::vector<uint8_t>& bytes) {
    BuildCrcTable();
    return UpdateCrc32(0xFFFFFFFFu, bytes.data(), static_cast<int32_t>(bytes.size()));
}

// One decoder run over a sequence of entries (the first non-solid unless
// told otherwise), with the window kept between them as the driver does.
class Decoder {
public:
    std::vector<uint8_t> WindowMemory = std::vector<uint8_t>(kWindowSize, 0);
    std::vector<std::pair<int32_t, int32_t>> Progress;
    BytesOut Out;
    uint32_t Checksum = 0;

    // Decodes one entry; returns its output.
    std::vector<uint8_t> Entry(const std::vector<uint8_t>& packed, uint32_t unpackedSize,
                               bool solid, int32_t chunk = 1 << 30) {
        BytesIn in;
        in.Bytes = packed;
        in.Chunk = chunk;
        Out.Reset();
        Progress.clear();
        BuildCrcTable();
        FileHeader.UnpSize = unpackedSize;
        OnProgress = {&Decoder::Record, this};
        Unp.InStream = &in;
        Unp.OutStream = &Out;
        Unp.PackedRemaining = static_cast<int32_t>(packed.size());
        Unp.OutputLeft = static_cast<int32_t>(unpackedSize);
        Unp.ChecksumKind = 2;
        Unp.EntryChecksum = 0xFFFFFFFFu;
        Unp.DiscardOutput = false;
        Unp.SkipChecksum = false;
        UnpackEntry(WindowMemory.data(), solid);
        OnProgress = {};
        Checksum = Unp.EntryChecksum;
        Unp.InStream = nullptr;
        Unp.OutStream = nullptr;
        return Out.Bytes;
    }

private:
    static void Record(void* self, int32_t done, int32_t total) {
        static_cast<Decoder*>(self)->Progress.push_back({done, total});
    }
};

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
