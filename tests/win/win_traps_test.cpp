// The product's runtime traps end the program at once, with the exit code
// of every other way out, 0 (trap_probe.cpp trips them).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

// The probe's exit code, or -1 when it does not end in time.
int RunProbe(const char* trap) {
    std::string commandLine = std::string("\"") + QV_TRAP_PROBE + "\" " + trap;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -2;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

TEST(RuntimeTraps, EndTheProgramAtOnceWithExitCodeZero) {
    EXPECT_EQ(RunProbe("none"), 7);  // running on shows
    for (const char* trap : {"memory", "virtual", "terminate"})
        EXPECT_EQ(RunProbe(trap), 0) << trap;
}
