#include "install/file_system.h"

#include "base/path_buffer.h"
#include "base/streams.h"
#include "install/paths.h"

namespace {

// Index of the last '/' or '\' in text, or npos.
size_t LastSeparator(const AnsiString& text) {
    for (size_t i = text.size(); i > 0; --i) {
        if (IsPathSeparator(text[i - 1])) return i - 1;
    }
    return AnsiString::npos;
}

// "\\server\share\" of a network path; empty when the path names no share.
AnsiString NetworkRoot(const AnsiString& path) {
    size_t server = 2;
    size_t shareStart = server;
    while (shareStart < path.size() && path[shareStart] != '\\') ++shareStart;
    if (shareStart == server || shareStart >= path.size()) return AnsiString();
    size_t shareEnd = shareStart + 1;
    while (shareEnd < path.size() && path[shareEnd] != '\\') ++shareEnd;
    if (shareEnd == shareStart + 1) return AnsiString();
    return path.Substr(0, shareEnd) + "\\";
}

}  // namespace

int32_t FreeDiskBytes(const AnsiString& path) {
    // A doubled backslash after the start is no usable path.
    if (path.size() > 1 && path.Find("\\\\", 1) != AnsiString::npos) return 0;

    AnsiString root;
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        root = NetworkRoot(path);
        if (root.empty()) return 0;
    } else if (path.size() >= 3 && path[1] == ':' && path.Find("\\") == 2) {
        root = path.Substr(0, 3);
    } else {
        char current[kPathBuffer + 1] = {};
        DWORD length = GetCurrentDirectoryA(kPathBuffer, current);
        if (length == 0 || length > kPathBuffer) return 0;
        root = AnsiString(current).Substr(0, 3);
    }

    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
        return 0;
    }
    // In 64 bits and saturated: a 32-bit product wraps to 0 on a drive
    // whose free space is a multiple of 4 GiB.
    uint64_t bytes = static_cast<uint64_t>(freeClusters) * bytesPerSector * sectorsPerCluster;
    if (bytes > static_cast<uint64_t>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(bytes);
}

FILETIME ReleaseStampUtc() {
    FILETIME local = {}, utc = {};
    DosDateTimeToFileTime(ReleaseStamp.Date, ReleaseStamp.Time, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

bool IsSameOrNewer(HANDLE file) {
    FILETIME lastWrite = {};
    if (!GetFileTime(file, nullptr, nullptr, &lastWrite)) return false;
    FILETIME stamp = ReleaseStampUtc();
    return CompareFileTime(&lastWrite, &stamp) >= 0;
}

bool EnsureDirectoryChain(AnsiString& path, AnsiString& existingPrefix) {
    if (path.size() > 3 && IsPathSeparator(path[path.size() - 1])) path.Truncate(path.size() - 1);
    if (path.empty()) return true;

    AnsiString current = path;
    bool bareDrive = (path.size() == 2 || path.size() == 3) && path[1] == ':';
    if (!bareDrive) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(current.c_str(), &found);
        while (search == INVALID_HANDLE_VALUE) {
            size_t cut = LastSeparator(current);
            current.Truncate(cut == AnsiString::npos ? 0 : cut);
            if (current.empty()) break;
            search = FindFirstFileA(current.c_str(), &found);
        }
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            DWORD attributes = found.dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
                return false;
            }
        }
    }

    existingPrefix = current;
    AnsiString rest = path.Substr(current.size());
    while (!rest.empty()) {
        // The next chunk runs to the next separator; the backslash right
        // after a drive's colon does not end it, so "C:\name" stays whole.
        size_t end = rest.size();
        for (size_t i = 1; i < rest.size(); ++i) {
            if (IsPathSeparator(rest[i]) && !(i == 2 && rest[1] == ':')) {
                end = i;
                break;
            }
        }
        AnsiString before = current;
        current += rest.Substr(0, end);
        rest = rest.Substr(end);
        if (!CreateDirectoryA(current.c_str(), nullptr)) {
            RemoveCreatedDirectories(before, existingPrefix);
            return false;
        }
    }
    return true;
}

void RemoveCreatedDirectories(AnsiString path, const AnsiString& existingPrefix) {
    if (existingPrefix.empty()) return;
    size_t at = path.Find(existingPrefix);
    if (at == AnsiString::npos) return;
    size_t tailStart = at + existingPrefix.size();
    AnsiString tail = path.Substr(tailStart);
    while (!tail.empty()) {
        if (!RemoveDirectoryA(path.c_str())) return;
        size_t cut = LastSeparator(tail);
        if (cut == AnsiString::npos) cut = 0;
        tail.Truncate(cut);
        path.Truncate(tailStart + cut);
    }
}

AnsiString LongPathOf(const AnsiString& path) {
    if (path.empty()) return path;
    AnsiString result;
    DWORD length = GetLongPathNameA(path.c_str(), result.Buffer(kPathBuffer), kPathBuffer);
    result.SyncLength();
    return length > 0 && length < kPathBuffer ? result : path;
}

AnsiString SystemFolderFile(const char* name) {
    AnsiString path;
    UINT length = GetSystemDirectoryA(path.Buffer(kPathBuffer), kPathBuffer);
    path.SyncLength();
    if (length == 0 || length >= kPathBuffer) return AnsiString();
    return path + "\\" + name;
}
