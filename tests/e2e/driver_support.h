// What the end-to-end drivers share: checks that count failures, waiting,
// window texts, a started program with its windows and message boxes,
// screenshots, registry reads and the archive's manifest.
#pragma once

#include <windows.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

// The property sheet's buttons.
constexpr int kBack = 0x3023, kNext = 0x3024, kFinish = 0x3025;

extern int failures;
extern std::string shotDir;  // empty: no screenshots

void Check(bool ok, const std::string& what);

template <typename A, typename B>
void CheckEq(const A& got, const B& want, const std::string& what) {
    std::ostringstream s;
    s << what << ": got [" << got << "], want [" << want << "]";
    Check(got == want, s.str());
}

std::string Lower(std::string s);
// A wait in milliseconds times QV_WAIT_SCALE (the runner sets it where Wine
// runs slower, as under emulation). WaitFor and WaitExit scale their own.
int Scaled(int ms);
bool WaitFor(const std::function<bool()>& condition, int ms = 10000);
std::string WindowText(HWND window);
std::string ClassOf(HWND window);

// A started program and its visible windows.
struct Program {
    PROCESS_INFORMATION process = {};

    // The program file, with its quoted name as the command line.
    bool Start(const std::string& exe);
    // A command line as it stands, as the shell passes one on; inherit
    // hands the inheritable handles on.
    bool StartCommand(std::string commandLine, bool inherit = false);
    // Exit code, or -1 when it does not end in time.
    int WaitExit(int ms = 15000);
    std::vector<HWND> Windows(const char* className) const;
    HWND Sheet() const;  // the wizard: a dialog with the sheet's Next button
    HWND Box() const;    // any other dialog: a message box
};

// A window (nullptr: the whole screen) as a 24-bit BMP in shotDir; the
// runner turns it into a PNG. The pictures of two runs are the same when the
// caret does not blink.
void Screenshot(HWND window, const std::string& name);

struct Box {
    HWND window = nullptr;
    std::string caption, text;
};

Box WaitBox(const Program& program, int ms = 10000);
// Expects a message box with this caption and text and presses button id.
void Answer(const Program& program, const std::string& caption, const std::string& text, int id,
            const std::string& what);

// A REG_SZ value, and a key, under HKEY_LOCAL_MACHINE; view 0 is the
// program's own (KEY_WOW64_32KEY or KEY_WOW64_64KEY name one).
bool RegValue(const char* key, const char* name, std::string& value, REGSAM view = 0);
bool KeyIn(const std::string& key, REGSAM view = 0);

// No code that the runner planted where the product must not take code
// from (tests/e2e/planted.cpp) ran: planted.log in the Windows directory,
// where each run of it is recorded, does not exist.
void CheckNothingPlantedRan();

// The archive's entries: one "name<TAB>size" a line.
struct Entry {
    std::string name;
    long long size;
};
extern std::vector<Entry> manifest;
bool LoadManifest(const std::string& path);
std::string ScreenSaverName();
std::string FileName(const std::string& name);
