// Stand-in for the display settings' desk.cpl, placed in the system folder
// that the setup's rundll32.exe loads it from (syswow64 for a 32-bit setup
// on 64-bit Windows). Its InstallScreenSaver records how it was reached in
// desk-standin.log in the Windows directory, so a test can see the final
// launch: the command line, the program and library files, the current
// directory and the argument. rundll32 finds the entry by its plain name
// and calls it with the system's calling convention for callbacks, so a
// 32-bit build exports it undecorated (--kill-at).
#include <windows.h>

namespace {

void Line(HANDLE log, const char* name, const char* value) {
    DWORD written = 0;
    WriteFile(log, name, lstrlenA(name), &written, nullptr);
    WriteFile(log, value, lstrlenA(value), &written, nullptr);
    WriteFile(log, "\r\n", 2, &written, nullptr);
}

}  // namespace

extern "C" __declspec(dllexport) void CALLBACK
    InstallScreenSaver(HWND, HINSTANCE, LPSTR argument, int) {
    char path[MAX_PATH + 32], program[MAX_PATH], library[MAX_PATH], directory[MAX_PATH];
    HMODULE self = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&InstallScreenSaver), &self);
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    GetModuleFileNameA(self, library, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, directory);
    GetWindowsDirectoryA(path, MAX_PATH);
    lstrcatA(path, "\\desk-standin.log");
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    Line(log, "command line: ", GetCommandLineA());
    Line(log, "program: ", program);
    Line(log, "library: ", library);
    Line(log, "directory: ", directory);
    Line(log, "argument: ", argument);
    CloseHandle(log);
}
