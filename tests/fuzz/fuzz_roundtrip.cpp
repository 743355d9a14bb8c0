// The compressor round trip: the rest of the input is cut into files,
// packed, written as an archive and extracted through the driver; every
// file must come back byte for byte. Byte 0 picks the run:
//   bits 0-2  level 1 to 5 (values above 5 wrap)
//   bit 3     multimedia coding off
//   bit 4     solid: the packed files continue one stream
//   bits 5-6  how many files (1 to 4) the rest is cut into, in equal parts
#include <algorithm>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Keeps every created file's bytes, by name ("0" to "3").
class CaptureStream : public TMyFileStream {
public:
    std::vector<uint8_t> Files[4];
    bool CreatePartial(const AnsiString& name) override {
        current_ = nullptr;
        if (name.size() != 1 || name[0] < '0' || name[0] > '3') return false;
        current_ = &Files[name[0] - '0'];
        current_->clear();
        IsOpen = true;
        return true;
    }
    bool Close() override {
        IsOpen = false;
        return true;
    }
    int32_t Write(const void* buffer, int32_t count) override {
        if (current_ == nullptr || count <= 0) return 0;
        const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
        current_->insert(current_->end(), bytes, bytes + count);
        return count;
    }

private:
    std::vector<uint8_t>* current_ = nullptr;
};

void NameAsGiven(void*, const AnsiString& entryName, AnsiString& destination) {
    destination = entryName;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    qvfuzz::FreshProcessState();
    qvpack::CompressOptions options;
    options.Level = 1 + (data[0] & 7) % 5;
    options.Multimedia = (data[0] & 8) == 0;
    const bool solid = (data[0] & 16) != 0;
    size_t count = 1 + ((data[0] >> 5) & 3);
    const size_t rest = size - 1;
    if (count > rest) count = rest;
    // Files must not be empty; the last one takes what the cut leaves.
    std::vector<qvpack::InputFile> files;
    for (size_t i = 0, at = 1; i < count; ++i) {
        size_t part = i + 1 == count ? size - at : rest / count;
        files.push_back({data + at, part});
        at += part;
    }
    std::vector<qvpack::PackedFile> packed;
    if (!qvpack::PackFiles(files, options, solid, packed)) __builtin_trap();

    qvpack::ArchiveWriter writer;
    writer.Signature();
    writer.MainHeader(solid ? 0x0008 : 0);
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> content(files[i].Data, files[i].Data + files[i].Size);
        std::string name(1, static_cast<char>('0' + i));
        if (packed[i].Stored)
            writer.Stored(name, content);
        else
            writer.Packed(name, packed[i].Data, content, packed[i].Solid ? 0x8010 : 0x8000);
    }
    qvfuzz::UseAsArchive(writer.Bytes.data(), writer.Bytes.size());
    CaptureStream target;
    qvfuzz::ExtractInto(target, NameAsGiven);
    if (qvfuzz::TheRun().ExtractResult != 0) __builtin_trap();
    for (size_t i = 0; i < files.size(); ++i) {
        const std::vector<uint8_t>& back = target.Files[i];
        if (back.size() != files[i].Size || !std::equal(back.begin(), back.end(), files[i].Data)) {
            __builtin_trap();
        }
    }
    return 0;
}
