// POSIX side of the platform seam: plain file descriptors, a table of
// registered byte blocks standing in for the program's resources, and the
// release stamp applied with futimens.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/platform.h"

AnsiString ModuleFileName() {
    AnsiString result;
    char* buffer = result.Buffer(PATH_MAX);
    if (buffer == nullptr) return AnsiString();
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    buffer[n > 0 ? n : 0] = '\0';
    result.SyncLength();
    return result;
}

OsFileHandle PlatformOpenFile(const char* name) {
    int fd = open(name, O_RDWR | O_CLOEXEC);
    return fd < 0 ? kNoFile : fd;
}

OsFileHandle PlatformCreateFile(const char* name) {
    int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? kNoFile : fd;
}

bool PlatformCloseFile(OsFileHandle file) {
    return close(static_cast<int>(file)) == 0;
}

int32_t PlatformReadFile(OsFileHandle file, void* buffer, int32_t count) {
    ssize_t n;
    do n = read(static_cast<int>(file), buffer, static_cast<size_t>(count));
    while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t PlatformWriteFile(OsFileHandle file, const void* buffer, int32_t count) {
    // One request, like the single system write of the Windows side, but a
    // write that the kernel splits is completed here.
    const char* p = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < count) {
        ssize_t n = write(static_cast<int>(file), p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? done : -1;
        done += static_cast<int32_t>(n);
    }
    return done;
}

bool PlatformSeekFile(OsFileHandle file, int32_t position) {
    return lseek(static_cast<int>(file), position, SEEK_SET) == position;
}

int32_t PlatformFilePosition(OsFileHandle file) {
    off_t p = lseek(static_cast<int>(file), 0, SEEK_CUR);
    return p < 0 || p > INT32_MAX ? -1 : static_cast<int32_t>(p);
}

int32_t PlatformFileSize(OsFileHandle file) {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0 || st.st_size > INT32_MAX) return -1;
    return static_cast<int32_t>(st.st_size);
}

bool PlatformDeleteFile(const char* name) {
    return unlink(name) == 0;
}

bool PlatformCanReplace(const char* name) {
    struct stat st;
    if (lstat(name, &st) != 0) return errno == ENOENT;
    if (S_ISLNK(st.st_mode)) return true;
    // What an open for writing would have refused; a device or a pipe is
    // no file to replace.
    return S_ISREG(st.st_mode) && faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) == 0;
}

OsFileHandle PlatformCreateNewFile(const char* name, bool* taken) {
    int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    *taken = fd < 0 && errno == EEXIST;
    return fd < 0 ? kNoFile : fd;
}

bool PlatformReplaceFile(const char* from, const char* to) {
    return rename(from, to) == 0;
}

uint32_t PlatformUniqueSeed() {
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint32_t>(getpid()) * 0x9E3779B1u ^ static_cast<uint32_t>(now.tv_nsec) ^
           static_cast<uint32_t>(now.tv_sec);
}

namespace {

// 1 April 1998, 01:10:00 in local time, as seconds since the epoch.
bool ReleaseStampSeconds(time_t* seconds) {
    struct tm local = {};
    local.tm_year = 1998 - 1900;
    local.tm_mon = 3;
    local.tm_mday = 1;
    local.tm_hour = 1;
    local.tm_min = 10;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    time_t t = mktime(&local);
    if (t == static_cast<time_t>(-1)) return false;
    *seconds = t;
    return true;
}

}  // namespace

bool ReleaseStampFileTime(uint64_t* fileTime) {
    time_t t;
    if (!ReleaseStampSeconds(&t)) return false;
    *fileTime = (static_cast<uint64_t>(t) + 11644473600ull) * 10000000ull;
    return true;
}

void ApplyReleaseStamp(OsFileHandle file) {
    // POSIX has no settable creation time; access and modification get the
    // stamp.
    time_t t;
    if (!ReleaseStampSeconds(&t)) return;
    struct timespec times[2];
    times[0].tv_sec = t;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    (void)futimens(static_cast<int>(file), times);
}

// ---- registered resources ----

namespace {

struct ResourceEntry {
    char type[16];
    char name[64];
    const uint8_t* data;
    int32_t size;
};

constexpr int kMaxResources = 16;
ResourceEntry gResources[kMaxResources];
int gResourceCount = 0;

bool SameText(const char* a, const char* b, size_t limit) {
    return std::strlen(b) < limit && std::strcmp(a, b) == 0;
}

}  // namespace

void RegisterResource(const char* type, const char* name, const uint8_t* data, int32_t size) {
    if (std::strlen(type) >= sizeof(ResourceEntry::type) ||
        std::strlen(name) >= sizeof(ResourceEntry::name))
        return;
    int slot = gResourceCount;
    for (int i = 0; i < gResourceCount; ++i)
        if (std::strcmp(gResources[i].type, type) == 0 &&
            std::strcmp(gResources[i].name, name) == 0)
            slot = i;
    if (slot == kMaxResources) return;
    if (slot == gResourceCount) ++gResourceCount;
    std::strcpy(gResources[slot].type, type);
    std::strcpy(gResources[slot].name, name);
    gResources[slot].data = data;
    gResources[slot].size = size;
}

void ClearResources() {
    gResourceCount = 0;
}

bool PlatformLoadResource(const char* type, const char* name, void** handle, const uint8_t** data,
                          int32_t* size) {
    for (int i = 0; i < gResourceCount; ++i) {
        const ResourceEntry& r = gResources[i];
        if (!SameText(r.type, type, sizeof(r.type)) || !SameText(r.name, name, sizeof(r.name)))
            continue;
        *size = r.size;
        *data = r.data;
        // Nothing to release; any non-null value marks the resource loaded.
        *handle = const_cast<ResourceEntry*>(&r);
        return r.data != nullptr;
    }
    return false;
}

void PlatformFreeResource(void*) {}
