// Trips one of the product's runtime traps (app/runtime.cpp), for
// win_traps_test.cpp: "memory" asks for more memory than there is,
// "virtual" makes a pure virtual call from a base constructor, "terminate"
// calls std::terminate. Running on past the trap ends with exit code 7.
#include <cstddef>
#include <cstdio>
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

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (std::strcmp(argv[1], "memory") == 0) {
        volatile size_t huge = static_cast<size_t>(-1) / 2;
        char* block = new char[huge];
        std::printf("%p\n", static_cast<void*>(block));  // so that it is really asked for
    } else if (std::strcmp(argv[1], "virtual") == 0) {
        callF = CallF;
        Derived object;
    } else if (std::strcmp(argv[1], "terminate") == 0) {
        std::terminate();
    }
    return 7;
}
