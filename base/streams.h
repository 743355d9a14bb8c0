// Byte streams: the only way the archive reader, the extraction driver and
// the decompressor touch files and the embedded archive. Every outcome is a
// result; nothing throws.
#pragma once

#include <cstdint>

#include "base/ansi_string.h"

// Seek origins.
enum SeekOrigin : int32_t { kSeekStart = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Seek results (the system's storage error constants).
constexpr uint32_t kSeekOk = 0;
constexpr uint32_t kSeekBadOrigin = 0x80030001u;    // STG_E_INVALIDFUNCTION
constexpr uint32_t kSeekBadPosition = 0x80030009u;  // STG_E_INVALIDPOINTER

class TAbstractStream {
public:
    AnsiString Name;
    bool IsOpen = false;

    TAbstractStream() = default;
    TAbstractStream(const TAbstractStream&) = delete;
    TAbstractStream& operator=(const TAbstractStream&) = delete;

    // Slot order matters to nobody outside, but it is kept as designed.
    virtual bool Open(const AnsiString& name) = 0;
    virtual bool Create(const AnsiString& name) = 0;
    virtual bool Close() = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual uint32_t Seek(int32_t offset, int32_t origin) = 0;
    virtual int32_t Position() = 0;
    virtual int32_t Size() = 0;
    virtual ~TAbstractStream() = default;
};

// Operating-system file handle, as an integer so that no platform header
// leaks into the portable code (a HANDLE on Windows, a descriptor on POSIX).
using OsFileHandle = intptr_t;
constexpr OsFileHandle kNoFile = -1;

class TMyFileStream : public TAbstractStream {
public:
    OsFileHandle FileHandle = kNoFile;

    TMyFileStream() = default;
    ~TMyFileStream() override;

    bool Open(const AnsiString& name) override;
    bool Create(const AnsiString& name) override;
    bool Close() override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Read(void* buffer, int32_t count) override;
    uint32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Position() override;
    int32_t Size() override;

    // Creation time := now; last access and last write := ReleaseStamp.
    void StampTimes();
    // Closes and deletes the file Name (nothing when Name is empty).
    virtual void Erase();

    // Writing a file without destroying the one it replaces: the bytes go
    // to a temporary file beside destination, which Commit moves over it
    // once they are complete, or Erase deletes.
    //
    // Opens a new temporary file in destination's folder (its name has the
    // partial pattern below and becomes Name) after making sure that what
    // stands at destination may be replaced (PlatformCanReplace). False,
    // with nothing created, otherwise.
    virtual bool CreatePartial(const AnsiString& destination);
    // Closes the file and, after a CreatePartial, moves it over its
    // destination; when that fails, deletes it. False only then.
    virtual bool Commit();

private:
    AnsiString destination_;  // of the temporary file Name, while it exists
    // Closes the file; deletes a temporary file that was not committed.
    void DropPartial();
};

class TMyResourceStream : public TAbstractStream {
public:
    int32_t ReadPos = 0;
    const uint8_t* Data = nullptr;
    void* ResHandle = nullptr;
    int32_t ResSize = 0;

    TMyResourceStream() = default;
    ~TMyResourceStream() override;

    bool Open(const AnsiString& name) override;
    bool Create(const AnsiString& name) override;  // read-only: fatal
    bool Close() override;
    int32_t Write(const void* buffer, int32_t count) override;  // read-only: fatal
    int32_t Read(void* buffer, int32_t count) override;
    uint32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Position() override;
    int32_t Size() override;
};

// An entry is written to a temporary file beside its destination and moved
// over it only once it is checked. The temporary name starts with "~qv" and
// ends in ".tmp", so that what a killed run left behind is recognisably ours
// and can be cleaned up (the uninstaller does so in its folder).
constexpr char kPartialPrefix[] = "~qv";
constexpr char kPartialSuffix[] = ".tmp";
// True when the last component of name has that pattern (letters compared
// without case, as the file system does).
bool IsPartialFileName(const AnsiString& name);

// The release stamp as an MS-DOS date and time, read as local time.
struct DosStamp {
    uint16_t Date;
    uint16_t Time;
};
constexpr DosStamp ReleaseStamp = {0x2481, 0x0940};  // 1 April 1998, 01:10:00

// Sets creation := now, last access := last write := ReleaseStamp on an open
// file. Failures are ignored.
void ApplyReleaseStamp(OsFileHandle file);
