// The stream logic shared by both platforms: positions, clamping, result
// codes. The system calls themselves live in the platform seam.
#include "base/streams.h"

#include <cstdlib>
#include <cstring>

#include "base/platform.h"

namespace {

// The target of a seek from base by offset, or -1 when it is not a valid
// 32-bit position. 64-bit arithmetic: no signed overflow.
int64_t SeekTarget(int64_t base, int32_t offset) {
    int64_t p = base + offset;
    if (p < 0 || p > INT32_MAX) return -1;
    return p;
}

}  // namespace

// ---- TMyFileStream ----

TMyFileStream::~TMyFileStream() {
    DropPartial();
}

void TMyFileStream::DropPartial() {
    if (IsOpen) Close();
    // A temporary file never committed is no result to keep.
    if (destination_.empty()) return;
    destination_ = AnsiString();
    PlatformDeleteFile(Name.c_str());
}

bool TMyFileStream::Open(const AnsiString& name) {
    DropPartial();
    FileHandle = PlatformOpenFile(name.c_str());
    IsOpen = FileHandle != kNoFile;
    if (IsOpen) Name = name;
    return IsOpen;
}

bool TMyFileStream::Create(const AnsiString& name) {
    DropPartial();
    FileHandle = PlatformCreateFile(name.c_str());
    IsOpen = FileHandle != kNoFile;
    if (IsOpen) Name = name;
    return IsOpen;
}

bool TMyFileStream::Close() {
    bool ok = true;
    if (IsOpen && FileHandle != kNoFile) ok = PlatformCloseFile(FileHandle);
    FileHandle = kNoFile;
    IsOpen = false;
    return ok;
}

int32_t TMyFileStream::Write(const void* buffer, int32_t count) {
    if (!IsOpen || count < 0) return 0;
    if (count == 0) return 0;
    int32_t written = PlatformWriteFile(FileHandle, buffer, count);
    return written == count ? count : 0;
}

int32_t TMyFileStream::Read(void* buffer, int32_t count) {
    if (!IsOpen || count <= 0) return 0;
    int32_t got = PlatformReadFile(FileHandle, buffer, count);
    return got > 0 ? got : 0;
}

uint32_t TMyFileStream::Seek(int32_t offset, int32_t origin) {
    if (origin < kSeekStart || origin > kSeekEnd) return kSeekBadOrigin;
    if (!IsOpen) return kSeekBadPosition;
    int64_t base = 0;
    if (origin == kSeekCurrent) base = PlatformFilePosition(FileHandle);
    if (origin == kSeekEnd) base = PlatformFileSize(FileHandle);
    if (base < 0) return kSeekBadPosition;
    int64_t target = SeekTarget(base, offset);
    if (target < 0) return kSeekBadPosition;
    return PlatformSeekFile(FileHandle, static_cast<int32_t>(target)) ? kSeekOk : kSeekBadPosition;
}

int32_t TMyFileStream::Position() {
    return IsOpen ? PlatformFilePosition(FileHandle) : -1;
}

int32_t TMyFileStream::Size() {
    return IsOpen ? PlatformFileSize(FileHandle) : -1;
}

void TMyFileStream::StampTimes() {
    if (IsOpen && FileHandle != kNoFile) ApplyReleaseStamp(FileHandle);
}

void TMyFileStream::Erase() {
    destination_ = AnsiString();
    if (Name.empty()) return;
    if (IsOpen) Close();
    PlatformDeleteFile(Name.c_str());
}

bool TMyFileStream::CreatePartial(const AnsiString& destination) {
    DropPartial();
    if (!PlatformCanReplace(destination.c_str())) return false;
    // A free name in the destination's folder; one that is taken (by a file
    // of any kind, a link included) is never opened. Four hex digits keep
    // the name within the 8.3 names that a folder path leaves room for.
    constexpr int kAttempts = 64;
    const AnsiString folder = DirectoryPart(destination);
    const uint32_t seed = PlatformUniqueSeed();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char digits[5];
        // An odd step: 64 attempts, 64 different names.
        uint32_t v = seed + static_cast<uint32_t>(attempt) * 0x9E37u;
        for (int i = 3; i >= 0; --i, v >>= 4) digits[i] = "0123456789abcdef"[v & 15];
        digits[4] = '\0';
        AnsiString name = folder + kPartialPrefix + digits + kPartialSuffix;
        bool taken = false;
        FileHandle = PlatformCreateNewFile(name.c_str(), &taken);
        if (FileHandle != kNoFile) {
            IsOpen = true;
            Name = name;
            destination_ = destination;
            return true;
        }
        if (!taken) break;
    }
    return false;
}

bool TMyFileStream::Commit() {
    Close();
    if (destination_.empty()) return true;
    const AnsiString destination = destination_;
    destination_ = AnsiString();
    if (PlatformReplaceFile(Name.c_str(), destination.c_str())) return true;
    PlatformDeleteFile(Name.c_str());
    return false;
}

// ---- TMyResourceStream ----

TMyResourceStream::~TMyResourceStream() {
    if (ResHandle != nullptr) PlatformFreeResource(ResHandle);
}

bool TMyResourceStream::Open(const AnsiString& name) {
    if (IsOpen && !(name == Name)) Close();
    if (IsOpen) {
        ReadPos = 0;
        return true;
    }
    void* handle = nullptr;
    const uint8_t* data = nullptr;
    int32_t size = 0;
    bool ok = PlatformLoadResource("ARC", name.c_str(), &handle, &data, &size);
    if (!ok || data == nullptr || size < 0) {
        if (handle != nullptr) PlatformFreeResource(handle);
        // A failed open leaves the stream closed and empty.
        ResHandle = nullptr;
        Data = nullptr;
        ResSize = 0;
        ReadPos = 0;
        return false;
    }
    ResHandle = handle;
    Data = data;
    ResSize = size;
    IsOpen = true;
    Name = name;
    ReadPos = 0;
    return true;
}

bool TMyResourceStream::Create(const AnsiString&) {
    std::abort();  // read-only: a call is a programming error
}

bool TMyResourceStream::Close() {
    if (IsOpen && Data != nullptr) {
        if (ResHandle != nullptr) PlatformFreeResource(ResHandle);
        ResHandle = nullptr;
        Data = nullptr;
        ResSize = 0;
    }
    IsOpen = false;
    return true;
}

int32_t TMyResourceStream::Write(const void*, int32_t) {
    std::abort();  // read-only: a call is a programming error
}

int32_t TMyResourceStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || ReadPos >= ResSize || Data == nullptr) return 0;
    int32_t n = ResSize - ReadPos;
    if (count < n) n = count;
    std::memcpy(buffer, Data + ReadPos, static_cast<size_t>(n));
    ReadPos += n;
    return n;
}

uint32_t TMyResourceStream::Seek(int32_t offset, int32_t origin) {
    int64_t base;
    switch (origin) {
        case kSeekStart:
            base = 0;
            break;
        case kSeekCurrent:
            base = ReadPos;
            break;
        case kSeekEnd:
            base = ResSize;
            break;
        default:
            return kSeekBadOrigin;
    }
    int64_t target = base + offset;
    if (target < 0 || target > ResSize) return kSeekBadPosition;
    ReadPos = static_cast<int32_t>(target);
    return kSeekOk;
}

int32_t TMyResourceStream::Position() {
    return ReadPos;
}

int32_t TMyResourceStream::Size() {
    return ResSize;
}

bool IsPartialFileName(const AnsiString& name) {
    AnsiString last = FileNamePart(name);
    const size_t prefix = sizeof kPartialPrefix - 1, suffix = sizeof kPartialSuffix - 1;
    if (last.size() <= prefix + suffix) return false;
    auto same = [](const char* a, const char* b, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
            if (lower(a[i]) != lower(b[i])) return false;
        }
        return true;
    };
    return same(last.c_str(), kPartialPrefix, prefix) &&
           same(last.c_str() + last.size() - suffix, kPartialSuffix, suffix);
}
