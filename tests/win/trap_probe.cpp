// Trips one of the product's runtime traps (app/runtime.cpp, whose entry
// point it uses as the product does), for win_traps_test.cpp: "memory" asks
// for more memory than there is, "virtual" makes a pure virtual call from a
// base constructor, "terminate" calls std::terminate. Running on past the
// trap ends with exit code 7.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <exception>

// Outside an unnamed namespace: the compiler must allow for other classes
// derived from Base and can't turn the call below into a direct one.
struct Base;
// Through a pointer, so that the compiler can't see the call is pure.
void (*volatile callF)(Base*) = nullptr;

struct Base {
    Base() { callF(this); }
    virtual ~Base() = default;
    virtual void F() = 0;
};

struct Derived : Base {
    void F() override {}
};

void CallF(Base* object) {
    object->F();
}

// Where the block goes, so that it is really asked for.
char* volatile kept = nullptr;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The entry point passes no command line: the trap is the last word of
    // the process's own.
    const char* line = GetCommandLineA();
    const char* trap = std::strrchr(line, ' ');
    trap = trap != nullptr ? trap + 1 : line;
    if (std::strcmp(trap, "memory") == 0) {
        volatile size_t huge = static_cast<size_t>(-1) / 2;
        kept = new char[huge];
    } else if (std::strcmp(trap, "virtual") == 0) {
        callF = CallF;
        Derived object;
    } else if (std::strcmp(trap, "terminate") == 0) {
        std::terminate();
    }
    return 7;
}
