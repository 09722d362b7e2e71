#pragma once
// A worker thread started through the C runtime (so that it may use it freely). The
// object owns the thread's handle: whoever holds it can wait for the thread to end.

#include <windows.h>

#include <memory>

class CWinThread {
public:
    using ThreadProc = unsigned (*)(void* parameter);

    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    // Waits for the thread to end: the thread may use what its parameter points to until then.
    ~CWinThread();

    // Starts proc(parameter) at once (or suspended with CREATE_SUSPENDED); null on failure.
    static std::unique_ptr<CWinThread> Begin(ThreadProc proc, void* parameter, int priority = THREAD_PRIORITY_NORMAL,
                                             unsigned stackSize = 0, DWORD creationFlags = 0,
                                             SECURITY_ATTRIBUTES* security = nullptr);

    HANDLE Handle() const { return handle_; }
    DWORD ResumeThread() const { return ::ResumeThread(handle_); }
    // Waits until the thread has ended, handling messages sent to this thread's windows
    // meanwhile (a thread that sends one to a window of ours would otherwise wait for us
    // while we wait for it). True when it ended within the time.
    bool WaitForEnd(DWORD milliseconds = INFINITE) const;
    // The thread's exit code, or STILL_ACTIVE.
    DWORD ExitCode() const;

private:
    CWinThread(ThreadProc proc, void* parameter) : proc_(proc), parameter_(parameter) {}
    static unsigned __stdcall Start(void* self);

    ThreadProc proc_;
    void* parameter_;
    HANDLE handle_ = nullptr;
};
