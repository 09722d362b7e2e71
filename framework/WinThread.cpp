#include "framework/WinThread.h"

#include <process.h>

#include <cstdint>

CWinThread::~CWinThread() {
    if (!handle_) return;
    WaitForEnd();
    ::CloseHandle(handle_);
}

std::unique_ptr<CWinThread> CWinThread::Begin(ThreadProc proc, void* parameter, int priority, unsigned stackSize,
                                              DWORD creationFlags, SECURITY_ATTRIBUTES* security) {
    std::unique_ptr<CWinThread> thread(new CWinThread(proc, parameter));
    // Suspended until the priority is set, then as the caller asked. The object outlives
    // the thread (its destructor waits), so the thread may read it.
    const std::uintptr_t handle =
        ::_beginthreadex(security, stackSize, Start, thread.get(), CREATE_SUSPENDED, nullptr);
    if (handle == 0) return nullptr;
    thread->handle_ = reinterpret_cast<HANDLE>(handle);
    ::SetThreadPriority(thread->handle_, priority);
    if ((creationFlags & CREATE_SUSPENDED) == 0) ::ResumeThread(thread->handle_);
    return thread;
}

unsigned __stdcall CWinThread::Start(void* self) {
    const auto* thread = static_cast<const CWinThread*>(self);
    return thread->proc_(thread->parameter_);
}

bool CWinThread::WaitForEnd(DWORD milliseconds) const {
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const DWORD spent = ::GetTickCount() - start;
            left = spent >= milliseconds ? 0 : milliseconds - spent;
        }
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &handle_, FALSE, left, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return false;
        // Handles the sent messages; posted ones stay queued.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

DWORD CWinThread::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeThread(handle_, &code);
    return code;
}
