// The one system thread a worker object owns: started at most once, waited
// for without a time limit and closed when the owner ends it.
#pragma once

#include <windows.h>

class TWorkerThread {
public:
    // Null while no thread was started.
    HANDLE threadHandle = nullptr;
    DWORD threadId = 0;

    TWorkerThread() = default;
    // Joins, for an owner that did not.
    ~TWorkerThread() { Join(); }
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Runs body(context) on a new thread with default security and stack
    // size. False when no thread could be started.
    bool Start(void (*body)(void* context), void* context);
    // Waits for the thread without a time limit and closes its handle; at
    // once without a thread. Never call it from inside one of the thread's
    // synchronous sends: the thread waits for the caller there.
    void Join();

private:
    void (*body_)(void*) = nullptr;
    void* context_ = nullptr;

    static DWORD WINAPI Main(LPVOID self);
};
