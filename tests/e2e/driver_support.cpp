#include "tests/e2e/driver_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

int failures = 0;

std::string shotDir;

namespace {
int shotCount = 0;
}  // namespace

void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++failures;
    std::printf("  check failed: %s\n", what.c_str());
    std::fflush(stdout);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

int Scaled(int ms) {
    char text[16] = {};
    DWORD n = GetEnvironmentVariableA("QV_WAIT_SCALE", text, sizeof(text));
    int scale = n > 0 && n < sizeof(text) ? atoi(text) : 1;
    return scale > 1 ? ms * scale : ms;
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    ms = Scaled(ms);
    for (int waited = 0; waited <= ms; waited += 25) {
        if (condition()) return true;
        Sleep(25);
    }
    return false;
}

std::string WindowText(HWND window) {
    char buffer[2048] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 3000, &result);
    std::string text(buffer);
    std::string plain;  // rich-edit and multi-line texts come with CR LF
    for (char c : text)
        if (c != '\r') plain += c;
    return plain;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

bool Program::Start(const std::string& exe) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string commandLine = "\"" + exe + "\"";
    return CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process) != 0;
}

bool Program::StartCommand(std::string commandLine, bool inherit) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, inherit, 0, nullptr,
                          nullptr, &startup, &process) != 0;
}

int Program::WaitExit(int ms) {
    if (WaitForSingleObject(process.hProcess, Scaled(ms)) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        return -1;
    }
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

namespace {

// The visible windows of one class that belong to one process.
struct WindowSearch {
    DWORD pid;
    const char* cls;
    std::vector<HWND> found;
};

// A callback of the system: its calling convention, not a lambda's, which
// differs on 32-bit Windows.
BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window) && ClassOf(window) == search->cls)
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> Program::Windows(const char* className) const {
    WindowSearch search{process.dwProcessId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Program::Sheet() const {
    for (HWND w : Windows("#32770"))
        if (GetDlgItem(w, kNext) != nullptr) return w;
    return nullptr;
}

HWND Program::Box() const {
    for (HWND w : Windows("#32770"))
        if (GetDlgItem(w, kNext) == nullptr) return w;
    return nullptr;
}

void Screenshot(HWND window, const std::string& name) {
    if (shotDir.empty()) return;
    SetCaretBlinkTime(INFINITE);
    Sleep(300);  // let the window finish painting
    RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window != nullptr) GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    DWORD rowBytes = ((w * 3 + 3) / 4) * 4;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + rowBytes * h;
    char path[32];
    std::snprintf(path, sizeof(path), "%02d-", ++shotCount);
    std::ofstream out(shotDir + "\\" + path + name + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
    out.write(static_cast<const char*>(bits), rowBytes * h);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

Box WaitBox(const Program& program, int ms) {
    Box box;
    WaitFor([&] { return (box.window = program.Box()) != nullptr; }, ms);
    if (box.window == nullptr) return box;
    Sleep(50);
    box.caption = WindowText(box.window);
    for (HWND child = GetWindow(box.window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != "Static") continue;
        std::string t = WindowText(child);
        if (!t.empty()) box.text += t;
    }
    return box;
}

void Answer(const Program& program, const std::string& caption, const std::string& text, int id,
            const std::string& what) {
    Box box = WaitBox(program);
    Check(box.window != nullptr, what + ": no message box");
    if (box.window == nullptr) return;
    CheckEq(box.caption, caption, what + " caption");
    CheckEq(box.text, text, what + " text");
    HWND button = GetDlgItem(box.window, id);
    Check(button != nullptr, what + ": no button " + std::to_string(id));
    PostMessageA(button, BM_CLICK, 0, 0);
    WaitFor([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 5000);
}

std::vector<Entry> manifest;

std::string ScreenSaverName() {
    for (const Entry& e : manifest)
        if (e.name.find(".scr") != std::string::npos) return e.name;
    return "";
}

std::string FileName(const std::string& name) {
    size_t cut = name.find_last_of("/\\:");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

bool RegValue(const char* key, const char* name, std::string& value, REGSAM view) {
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &h) != ERROR_SUCCESS)
        return false;
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    LONG r = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(h);
    value = buffer;
    return r == ERROR_SUCCESS && type == REG_SZ;
}

bool KeyIn(const std::string& key, REGSAM view) {
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

void CheckNothingPlantedRan() {
    char log[MAX_PATH + 16] = {};
    GetWindowsDirectoryA(log, MAX_PATH);
    lstrcatA(log, "\\planted.log");
    std::ifstream in(log);
    std::string runs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Check(GetFileAttributesA(log) == INVALID_FILE_ATTRIBUTES, "planted code ran: " + runs);
}

bool LoadManifest(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        manifest.push_back({line.substr(0, tab), std::stoll(line.substr(tab + 1))});
    }
    return !manifest.empty() && !ScreenSaverName().empty();
}
