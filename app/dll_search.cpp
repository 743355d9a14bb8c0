// Where the shipped programs take libraries from. They run with an
// administrator's rights from wherever they were saved or installed, often
// a download folder that any web page can drop files into, and Windows
// looks for a library that is not one of its known ones in the program's
// own folder first. So each program, first thing at its entry point, lets
// libraries come from the system folder only. Linked into every shipped
// program (cmake/product.cmake).
#include "app/dll_search.h"

#include <windows.h>

namespace {

// A function of kernel32 by name, with its type (WINAPI, which is not the
// default calling convention on i686); null where this system lacks it.
template <typename Function>
Function Kernel32Function(const char* name) {
    // Through the untyped function pointer, which any function's converts to.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

using SetFlags = BOOL(WINAPI*)(DWORD);
using SetDirectory = BOOL(WINAPI*)(LPCSTR);

}  // namespace

bool CanSearchSystemFolderOnly() {
    // The search flags came with this function (Windows 8, and earlier
    // systems with its update); before it they are refused or ignored.
    return Kernel32Function<SetFlags>("SetDefaultDllDirectories") != nullptr;
}

void RestrictDllSearch() {
    auto setDefault = Kernel32Function<SetFlags>("SetDefaultDllDirectories");
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        // Older systems: at least the current folder leaves the search.
        auto setDirectory = Kernel32Function<SetDirectory>("SetDllDirectoryA");
        if (setDirectory != nullptr) setDirectory("");
    }
    // A program searched for by name: the current folder after the system's.
    auto setMode = Kernel32Function<SetFlags>("SetSearchPathMode");
    if (setMode != nullptr)
        setMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

// The entry point of the programs that keep the C runtime's start-up code
// (which calls into other libraries before the program's own code runs):
// the restriction, then that code. Windows promises a 32-bit program's
// entry point a 4-byte aligned stack only.
extern "C" void WinMainCRTStartup();
extern "C" __attribute__((force_align_arg_pointer)) void RestrictedStartup() {
    RestrictDllSearch();
    WinMainCRTStartup();
}
