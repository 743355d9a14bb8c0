// Quorvel.scr: the screen saver. "/s" runs full screen until a key, a click or
// a mouse movement; "/p <window>" draws the preview into the display
// settings' little monitor; "/c" (or no argument) answers that there are no
// settings yet. The pictures come from "Scenes.dat" beside the program or in
// the installation folder; without it a plain sky is drawn.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "payload/saver/scene.h"

namespace {

const char kClassName[] = "Quorvel Screen Saver";
const char kCaption[] = "Quorvel";
const char kSceneFile[] = "Scenes.dat";
const char kProductKey[] = "SOFTWARE\\Tembra\\Quorvel\\1.0";
// Frames are composed at most this wide and stretched to the window: the
// scene data is 512 pixels wide, so more would add cost, not detail.
constexpr int kRenderWidth = 640;
constexpr UINT kFrameMs = 50;
// Mouse movement smaller than this is jitter, not a user.
constexpr int kMouseSlack = 4;

enum class Mode { Settings, FullScreen, Preview, None };

struct State {
    Mode mode = Mode::None;
    HWND parent = nullptr;  // preview window, or owner of the settings box
    uint8_t* sceneBytes = nullptr;
    Scenes scenes;
    uint32_t* pixels = nullptr;
    int renderWidth = 0, renderHeight = 0;
    DWORD startTick = 0;
    POINT firstCursor = {0, 0};
    bool cursorKnown = false;
    bool closing = false;
} g;

// ------------------------------------------------------------ command line

const char* SkipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

HWND ParseWindow(const char* p) {
    p = SkipBlanks(*p == ':' ? p + 1 : p);
    uintptr_t value = 0;
    while (*p >= '0' && *p <= '9') value = value * 10 + static_cast<uintptr_t>(*p++ - '0');
    return reinterpret_cast<HWND>(value);
}

void ParseCommandLine() {
    const char* p = GetCommandLineA();
    // Past the program's own name, quoted or not.
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    }
    p = SkipBlanks(p);
    g.mode = Mode::Settings;
    if (*p != '/' && *p != '-') return;
    char option = static_cast<char>(p[1] | 0x20);
    switch (option) {
        case 's':
            g.mode = Mode::FullScreen;
            break;
        case 'p':
        case 'l':
            g.parent = ParseWindow(p + 2);
            g.mode = IsWindow(g.parent) ? Mode::Preview : Mode::None;
            break;
        case 'c':
            g.parent = ParseWindow(p + 2);
            break;
        default:
            g.mode = Mode::None;
            break;  // "/a" (password) and the unknown
    }
}

// ------------------------------------------------------------ scene data

bool LoadSceneFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bool ok = false;
    if (size != INVALID_FILE_SIZE && size > 0 && size < (64u << 20)) {
        auto* bytes = static_cast<uint8_t*>(std::malloc(size));
        DWORD read = 0;
        if (bytes != nullptr && ReadFile(file, bytes, size, &read, nullptr) && read == size &&
            ParseScenes(bytes, size, g.scenes)) {
            g.sceneBytes = bytes;
            ok = true;
        } else {
            std::free(bytes);
        }
    }
    CloseHandle(file);
    return ok;
}

// Appends the scene file's name to a folder in a MAX_PATH buffer.
bool JoinSceneFile(char* path, size_t length) {
    if (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') path[length++] = '\\';
    if (length + sizeof(kSceneFile) > MAX_PATH) return false;
    std::memcpy(path + length, kSceneFile, sizeof(kSceneFile));
    return true;
}

// Beside the program first (a copy run from anywhere), then the installation
// folder that setup recorded (the saver itself lives in the Windows folder).
void LoadScenes() {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') --length;
        if (JoinSceneFile(path, length) && LoadSceneFile(path)) return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD type = 0, bytes = MAX_PATH;
    LONG r =
        RegQueryValueExA(key, "InstallDir", nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ || bytes == 0) return;
    path[bytes < MAX_PATH ? bytes : MAX_PATH] = '\0';
    if (JoinSceneFile(path, std::strlen(path))) LoadSceneFile(path);
}

// ------------------------------------------------------------ drawing

bool EnsureFrame(int clientWidth, int clientHeight) {
    int width = clientWidth < kRenderWidth ? clientWidth : kRenderWidth;
    if (width < 1) width = 1;
    int height = static_cast<int>(static_cast<long long>(width) * clientHeight / clientWidth);
    if (height < 1) height = 1;
    if (width == g.renderWidth && height == g.renderHeight && g.pixels != nullptr) return true;
    std::free(g.pixels);
    g.pixels = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(width) * height * 4));
    g.renderWidth = g.pixels ? width : 0;
    g.renderHeight = g.pixels ? height : 0;
    return g.pixels != nullptr;
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    if (client.right > 0 && client.bottom > 0 && EnsureFrame(client.right, client.bottom)) {
        RenderScene(g.scenes, GetTickCount() - g.startTick, g.pixels, g.renderWidth,
                    g.renderHeight);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = g.renderWidth;
        info.bmiHeader.biHeight = -g.renderHeight;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, g.renderWidth, g.renderHeight,
                      g.pixels, &info, DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(window, &ps);
}

void Close(HWND window) {
    if (g.closing) return;
    g.closing = true;
    DestroyWindow(window);
}

LRESULT CALLBACK SaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool fullScreen = g.mode == Mode::FullScreen;
    switch (message) {
        case WM_CREATE:
            SetTimer(window, 1, kFrameMs, nullptr);
            return 0;
        case WM_TIMER:
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_SETCURSOR:
            if (!fullScreen) break;
            SetCursor(nullptr);
            return TRUE;
        case WM_MOUSEMOVE:
            if (!fullScreen) break;
            {
                POINT now;
                GetCursorPos(&now);
                if (!g.cursorKnown) {
                    g.firstCursor = now;
                    g.cursorKnown = true;
                } else if (std::abs(now.x - g.firstCursor.x) > kMouseSlack ||
                           std::abs(now.y - g.firstCursor.y) > kMouseSlack) {
                    Close(window);
                }
            }
            return 0;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (fullScreen) Close(window);
            return 0;
        case WM_ACTIVATEAPP:
            if (fullScreen && wParam == FALSE) Close(window);
            return 0;
        case WM_DESTROY:
            KillTimer(window, 1);
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RunWindow(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = SaverProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kClassName;
    if (!RegisterClassA(&wc)) return 1;
    LoadScenes();
    g.startTick = GetTickCount();
    HWND window;
    if (g.mode == Mode::Preview) {
        RECT r;
        GetClientRect(g.parent, &r);
        window = CreateWindowExA(0, kClassName, kCaption, WS_CHILD | WS_VISIBLE, 0, 0, r.right,
                                 r.bottom, g.parent, nullptr, instance, nullptr);
    } else {
        window = CreateWindowExA(
            WS_EX_TOPMOST, kClassName, kCaption, WS_POPUP | WS_VISIBLE,
            GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr,
            nullptr, instance, nullptr);
        if (window != nullptr) SetForegroundWindow(window);
    }
    if (window == nullptr) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    std::free(g.pixels);
    std::free(g.sceneBytes);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ParseCommandLine();
    switch (g.mode) {
        case Mode::Settings:
            MessageBoxA(g.parent,
                        "Quorvel has no settings yet.\n\n"
                        "The stars, the moon and the northern lights are already set up for "
                        "you. Thank you for your patience.",
                        kCaption, MB_OK | MB_ICONINFORMATION);
            return 0;
        case Mode::FullScreen:
        case Mode::Preview:
            return RunWindow(instance);
        case Mode::None:
            break;
    }
    return 0;
}
