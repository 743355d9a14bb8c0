#include "tests/win/install_support.h"

#include "install/install_record.h"

namespace qvtest {

ScratchDir::ScratchDir(const char* name) {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "qvi_" + name;
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() {
    RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") RemoveTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
}

void SetLastWrite(const std::string& path, FILETIME time) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

FILETIME AddSeconds(FILETIME time, long long seconds) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += seconds * 10000000LL;
    return FILETIME{value.LowPart, value.HighPart};
}

namespace {

RecordingWindow* recorder = nullptr;

LRESULT CALLBACK RecordProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETUP_PROGRESS || msg == WM_SETUP_FILES_DONE || msg == WM_SETUP_DONE) {
        if (recorder) recorder->messages.push_back({msg, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

RecordingWindow::RecordingWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = RecordProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QvInstallTestPage";
        RegisterClassA(&wc);
        registered = true;
    }
    recorder = this;
    hwnd_ = CreateWindowExA(0, "QvInstallTestPage", "page", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
}

RecordingWindow::~RecordingWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    recorder = nullptr;
}

bool RecordingWindow::WaitFor(UINT msg, DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (Count(msg) == 0) {
        if (GetTickCount() - start > milliseconds) return false;
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

size_t RecordingWindow::Count(UINT msg) const {
    size_t n = 0;
    for (const Message& m : messages) n += m.msg == msg;
    return n;
}

BoxAnswerer::BoxAnswerer(std::string caption, int button, DWORD milliseconds)
    : caption_(std::move(caption)), button_(button), limit_(milliseconds) {
    thread_ = std::thread([this] {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < limit_) {
            HWND box = FindWindowA("#32770", caption_.c_str());
            HWND button = box ? GetDlgItem(box, button_) : nullptr;
            if (button) {
                char buffer[512] = {};
                GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer));
                text = buffer;
                PostMessageA(button, BM_CLICK, 0, 0);
                pressed_ = true;
                return;
            }
            Sleep(20);
        }
    });
}

BoxAnswerer::~BoxAnswerer() {
    Join();
}

bool BoxAnswerer::Join() {
    if (thread_.joinable()) thread_.join();
    return pressed_;
}

namespace {

struct FindBox {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindProcessBox(HWND hwnd, LPARAM param) {
    FindBox* find = reinterpret_cast<FindBox*>(param);
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof(cls));
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == find->process && std::string(cls) == "#32770" && IsWindowVisible(hwnd)) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BoxCounter::BoxCounter() {
    thread_ = std::thread([this] {
        while (!stop_) {
            FindBox find = {GetCurrentProcessId(), nullptr};
            EnumWindows(FindProcessBox, reinterpret_cast<LPARAM>(&find));
            if (find.found) {
                ++seen_;
                PostMessageA(find.found, WM_COMMAND, IDYES, 0);
                Sleep(100);
            }
            Sleep(20);
        }
    });
}

BoxCounter::~BoxCounter() {
    Stop();
}

int BoxCounter::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
}

}  // namespace qvtest
