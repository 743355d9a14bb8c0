// Planted where a program under test must never take code from: beside the
// setup as riched32.dll (a library it loads by name) and as rundll32.exe (a
// program it starts by name), and in the temporary folder for the
// uninstaller's copy. Built as a library and as a program. If either ever
// runs, it appends "<what> in <process>" to planted.log in the Windows
// directory, and a test that finds that file fails.
#include <windows.h>

namespace {

void Record(HMODULE self) {
    char path[MAX_PATH + 16], line[2 * MAX_PATH + 8] = {}, process[MAX_PATH] = {};
    GetModuleFileNameA(self, line, MAX_PATH);
    GetModuleFileNameA(nullptr, process, MAX_PATH);
    lstrcatA(line, " in ");
    lstrcatA(line, process);
    lstrcatA(line, "\r\n");
    GetWindowsDirectoryA(path, MAX_PATH);
    lstrcatA(path, "\\planted.log");
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (log != INVALID_HANDLE_VALUE) WriteFile(log, line, lstrlenA(line), &written, nullptr);
    CloseHandle(log);
}

}  // namespace

#ifdef QV_PLANTED_PROGRAM
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Record(nullptr);
    return 0;
}
#else
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Record(self);
    return TRUE;
}
#endif
