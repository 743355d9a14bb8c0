// A file stream that takes every byte and keeps nothing: the target of
// "qvarc t" and of the benchmark's decoding runs. It has no name, so Erase
// deletes nothing, and no file handle, so nothing is stamped.
#pragma once

#include "base/streams.h"

class DiscardFileStream : public TMyFileStream {
public:
    bool Open(const AnsiString&) override { return false; }
    bool CreatePartial(const AnsiString&) override {
        IsOpen = true;
        return true;
    }
    bool Close() override {
        IsOpen = false;
        return true;
    }
    int32_t Write(const void*, int32_t count) override { return IsOpen && count > 0 ? count : 0; }
    int32_t Read(void*, int32_t) override { return 0; }
    uint32_t Seek(int32_t, int32_t origin) override {
        return origin < 0 || origin > 2 ? kSeekBadOrigin : kSeekOk;
    }
    int32_t Position() override { return 0; }
    int32_t Size() override { return 0; }
};
