#include "install/files_thread.h"

#include "base/path_buffer.h"
#include "base/streams.h"
#include "extract/extract.h"
#include "install/file_system.h"
#include "install/paths.h"

OverwriteAnswer overwriteAnswer = NotAsked;

namespace {

// The one extraction run of the process, on the worker thread.
ExtractRun Extraction;

// The embedded archive: the program's resource "ARC" 101.
constexpr char kArchiveResource[] = "#101";

constexpr const char* kScreenSaverMarker = ".scr";

// Deletes the temporary files of entries (names of the partial pattern only)
// that a run killed while it wrote them left in the folder. Files of other
// names, and other folders (the Windows directory), are left alone.
void RemovePartialFiles(const AnsiString& folder) {
    AnsiString prefix = folder;
    if (prefix.empty() || !IsPathSeparator(prefix[prefix.size() - 1])) prefix += "\\";
    WIN32_FIND_DATAA found;
    HANDLE search =
        FindFirstFileA((prefix + kPartialPrefix + "*" + kPartialSuffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // The pattern also matches short names: the long name decides.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            IsPartialFileName(found.cFileName))
            DeleteFileA((prefix + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

int32_t PercentOf(int32_t part, int32_t whole) {
    // Scaling both keeps part * 100 inside 32 bits for any reachable total.
    if (part > 10000) {
        part /= 100;
        whole /= 100;
    }
    if (whole == 0) return 0;
    if (part > whole) return 100;
    return part * 100 / whole;
}

TProcessFilesThread::TProcessFilesThread(HWND page, const AnsiString& folder,
                                         InstallRecord& results)
    : pageWindow(page), targetFolder(folder), record(&results) {
    // An empty folder would send every file into the current directory.
    if (folder.empty()) {
        folderFailed = 1;
        return;
    }
    AnsiString created = folder;
    AnsiString existing;
    if (!EnsureDirectoryChain(created, existing)) {
        folderFailed = 1;
        return;
    }
    record->installedDir = created;
    // Without a thread nothing would ever be sent: the page must hear of it
    // at once, as of a folder that can't be used.
    auto body = [](void* self) { static_cast<TProcessFilesThread*>(self)->RunExtraction(); };
    if (!thread.Start(body, this)) folderFailed = 1;
}

void TProcessFilesThread::RunExtraction() {
    // The checksum table before any archive work, both streams before the
    // driver runs.
    BuildCrcTable();
    TMyResourceStream* archive = new TMyResourceStream;
    TMyFileStream* target = new TMyFileStream;
    ExtractRun& run = Extraction;
    run.ArchiveName = kArchiveResource;
    run.ArchiveStream = archive;
    run.TargetStream = target;
    run.OnProgress = {ReportProgress, this};
    run.OnDestinationName = {ResolveDestination, this};
    run.OnStopRequest = {StopRequested, this};

    RemovePartialFiles(record->installedDir);
    ExtractArchive(run);

    // Synchronous: the page writes the registry and starts the shortcut
    // worker before this returns.
    SendMessageA(pageWindow, WM_SETUP_FILES_DONE, 0, run.ExtractResult);

    run.OnProgress = {};
    run.OnDestinationName = {};
    run.OnStopRequest = {};
    run.TargetStream = nullptr;
    delete target;
    run.ArchiveStream = nullptr;
    delete archive;
    ReleaseBuffers(run);
}

bool TProcessFilesThread::StopRequested(void* context) {
    return static_cast<TProcessFilesThread*>(context)->record->cancelRequested;
}

void TProcessFilesThread::ReportProgress(void* context, int32_t done, int32_t total) {
    TProcessFilesThread* self = static_cast<TProcessFilesThread*>(context);
    // A new total means a new entry (two equal sizes in a row read as one).
    if (total != self->currentEntrySize) {
        self->completedBytes += self->currentEntrySize;
        self->currentEntrySize = total;
    }
    int32_t percent = PercentOf(self->completedBytes + done, ProgressTotalBytes);
    SendMessageA(self->pageWindow, WM_SETUP_PROGRESS, 0, percent);
}

void TProcessFilesThread::ResolveDestination(void* context, const AnsiString& entryName,
                                             AnsiString& destination) {
    TProcessFilesThread* self = static_cast<TProcessFilesThread*>(context);
    bool screenSaver = entryName.Contains(kScreenSaverMarker);

    AnsiString directory = self->targetFolder;
    if (screenSaver) {
        char windows[kPathBufferWithZero] = {};
        if (GetWindowsDirectoryA(windows, kPathBufferWithZero) > 0) {
            AnsiString windowsDir(windows);
            if (FreeDiskBytes(windowsDir) != 0) directory = windowsDir;
        }
    }
    if (directory.empty() || !IsPathSeparator(directory[directory.size() - 1])) directory += "\\";
    AnsiString name = FileNamePart(entryName);
    // Without its folder parts a name can still reach out of the folder
    // ("..") or open a device ("NUL"): such an entry is not written.
    if (!IsPlainFileName(name)) {
        destination = AnsiString();
        if (screenSaver) self->record->screenSaverPath = destination;
        return;
    }
    destination = directory + name;

    HANDLE existing = CreateFileA(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        if (IsSameOrNewer(existing)) {
            if (overwriteAnswer == NotAsked) {
                AnsiString caption = "creating: " + name;
                int answer = MessageBoxA(self->pageWindow,
                                         "The same or newer file exists. Do you wish to overwrite "
                                         "it and following files?",
                                         caption.c_str(), MB_YESNO | MB_ICONWARNING);
                if (answer == IDYES) overwriteAnswer = OverwriteAll;
                if (answer == IDNO) overwriteAnswer = KeepAll;
            }
            if (overwriteAnswer == KeepAll) destination = AnsiString();
        }
        CloseHandle(existing);
    }

    if (screenSaver) self->record->screenSaverPath = destination;
}
