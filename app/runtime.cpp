// Small replacements for parts of the C and C++ runtimes that the product
// would otherwise pull in. The C runtime's start-up code prepares the
// command line, the environment, floating point and thread-local storage,
// none of which the program uses. The default terminate handler prints a
// demangled type name and brings the whole demangler with it; the standard
// operator new reports failure with an exception and brings the exception
// machinery. The product uses neither exceptions nor type names, so these
// versions over malloc/free keep the program small.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "app/dll_search.h"

// The start-up code's atexit: the C runtime's own list, which exit runs.
extern "C" int __cdecl atexit(void(__cdecl* function)()) {
    return _onexit(reinterpret_cast<_onexit_t>(function)) != nullptr ? 0 : -1;
}

// The linker's lists of static constructors and destructors: -1, the
// functions, 0.
extern "C" void (*__CTOR_LIST__[])();
extern "C" void (*__DTOR_LIST__[])();

namespace {

void RunStaticDestructors() {
    for (void (**f)() = __DTOR_LIST__ + 1; *f != nullptr; ++f) (*f)();
}

// As libgcc's __main, without its unwind tables: the constructors last
// first (they register their objects' destructors with atexit), then the
// list of destructors at exit.
void RunStaticConstructors() {
    int count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) ++count;
    for (; count > 0; --count) __CTOR_LIST__[count]();
    atexit(RunStaticDestructors);
}

}  // namespace

// The program's entry point (the linker's default name for a GUI program).
// The library search restricted before anything can load a library; then,
// as the start-up code would: constructors, WinMain, then exit with its
// result, which runs the destructors.
extern "C" void WinMainCRTStartup() {
    RestrictDllSearch();
    RunStaticConstructors();
    char noCommandLine[] = "";
    std::exit(WinMain(GetModuleHandleA(nullptr), nullptr, noCommandLine, SW_SHOWDEFAULT));
}

// The program's one way out of a broken state: at once, with the exit code
// of every other way out (0), and without running the exit-time clean-up,
// which could wait forever on a lock that another thread holds or act on
// the broken state itself.
[[noreturn]] static void EndProcessNow() {
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(0);  // not reached: the call above ends this thread too
}

namespace __gnu_cxx {
// Replaces libstdc++'s verbose handler, which std::terminate uses by default.
void __verbose_terminate_handler() {
    EndProcessNow();
}
}  // namespace __gnu_cxx

// The tag of the non-throwing new, which would otherwise come with
// libstdc++'s new-handler and its unwind tables.
namespace std {
const nothrow_t nothrow{};
}  // namespace std

// Called by a virtual call on a half-built or half-destroyed object.
extern "C" void __cxa_pure_virtual() {
    EndProcessNow();
}

// Out of memory is not recoverable in a setup program; ending beats running
// on with a null object.
static void* Allocate(std::size_t size) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) EndProcessNow();
    return block;
}

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
