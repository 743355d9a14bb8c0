// Windows side of the platform seam: kernel32 files, the module's
// resources, and the release stamp.
#include <windows.h>

#include "base/path_buffer.h"
#include "base/platform.h"

static_assert(kPathBuffer == MAX_PATH);

namespace {

HANDLE AsHandle(OsFileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

OsFileHandle OpenWith(const char* name, DWORD disposition) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<OsFileHandle>(h);
}

}  // namespace

AnsiString ModuleFileName() {
    AnsiString result;
    char* buffer = result.Buffer(kPathBuffer);
    if (buffer == nullptr) return AnsiString();
    DWORD n = GetModuleFileNameA(nullptr, buffer, kPathBuffer);
    buffer[n < kPathBuffer ? n : 0] = '\0';
    result.SyncLength();
    return result;
}

OsFileHandle PlatformOpenFile(const char* name) {
    return OpenWith(name, OPEN_EXISTING);
}

OsFileHandle PlatformCreateFile(const char* name) {
    return OpenWith(name, CREATE_ALWAYS);
}

bool PlatformCloseFile(OsFileHandle file) {
    return CloseHandle(AsHandle(file)) != 0;
}

int32_t PlatformReadFile(OsFileHandle file, void* buffer, int32_t count) {
    DWORD got = 0;
    if (!ReadFile(AsHandle(file), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
    return static_cast<int32_t>(got);
}

int32_t PlatformWriteFile(OsFileHandle file, const void* buffer, int32_t count) {
    DWORD put = 0;
    if (!WriteFile(AsHandle(file), buffer, static_cast<DWORD>(count), &put, nullptr)) return -1;
    return static_cast<int32_t>(put);
}

bool PlatformSeekFile(OsFileHandle file, int32_t position) {
    DWORD r = SetFilePointer(AsHandle(file), position, nullptr, FILE_BEGIN);
    return r != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

int32_t PlatformFilePosition(OsFileHandle file) {
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(AsHandle(file), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    if (high != 0 || low > 0x7FFFFFFFu) return -1;
    return static_cast<int32_t>(low);
}

int32_t PlatformFileSize(OsFileHandle file) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    if (high != 0 || low > 0x7FFFFFFFu) return -1;
    return static_cast<int32_t>(low);
}

bool PlatformDeleteFile(const char* name) {
    return DeleteFileA(name) != 0;
}

bool PlatformCanReplace(const char* name) {
    // Opened to be deleted, which a replacing move needs, and shared as the
    // open for writing shared it: a program that holds the file without
    // sharing it refuses. The name itself is opened, not what a link at it
    // points to, and nothing is written.
    HANDLE h =
        CreateFileA(name, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!known) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

OsFileHandle PlatformCreateNewFile(const char* name, bool* taken) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    *taken =
        h == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<OsFileHandle>(h);
}

bool PlatformReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

uint32_t PlatformUniqueSeed() {
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return GetCurrentProcessId() * 0x9E3779B1u ^ static_cast<uint32_t>(now.LowPart) ^
           GetTickCount();
}

namespace {

bool StampUtc(FILETIME* utc) {
    FILETIME local;
    if (!DosDateTimeToFileTime(ReleaseStamp.Date, ReleaseStamp.Time, &local)) return false;
    return LocalFileTimeToFileTime(&local, utc) != 0;
}

}  // namespace

bool ReleaseStampFileTime(uint64_t* fileTime) {
    FILETIME utc;
    if (!StampUtc(&utc)) return false;
    *fileTime = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    return true;
}

void ApplyReleaseStamp(OsFileHandle file) {
    SYSTEMTIME nowSystem;
    FILETIME now;
    GetSystemTime(&nowSystem);
    SystemTimeToFileTime(&nowSystem, &now);
    FILETIME stamp = {};
    StampUtc(&stamp);
    SetFileTime(AsHandle(file), &now, &stamp, &stamp);
}

bool PlatformLoadResource(const char* type, const char* name, void** handle, const uint8_t** data,
                          int32_t* size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, name, type);
    if (info == nullptr) return false;
    *size = static_cast<int32_t>(SizeofResource(module, info));
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr) return false;
    *handle = loaded;
    *data = static_cast<const uint8_t*>(LockResource(loaded));
    return *data != nullptr;
}

void PlatformFreeResource(void* handle) {
    FreeResource(static_cast<HGLOBAL>(handle));
}
