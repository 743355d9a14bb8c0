#include "install/worker_thread.h"

bool TWorkerThread::Start(void (*body)(void* context), void* context) {
    body_ = body;
    context_ = context;
    threadHandle = CreateThread(nullptr, 0, Main, this, 0, &threadId);
    return threadHandle != nullptr;
}

void TWorkerThread::Join() {
    if (threadHandle == nullptr) return;
    WaitForSingleObject(threadHandle, INFINITE);
    CloseHandle(threadHandle);
    threadHandle = nullptr;
}

DWORD WINAPI TWorkerThread::Main(LPVOID self) {
    TWorkerThread* thread = static_cast<TWorkerThread*>(self);
    thread->body_(thread->context_);
    return 0;
}
