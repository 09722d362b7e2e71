#pragma once
// The application object: the entry point hands it to RunApplication, which calls
// InitInstance and, when that returns true, runs the thread's message loop.

#include <windows.h>

class CWnd;

class CWinApp {
public:
    CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp() = default;

    // False ends the program at once (the result of ExitInstance becomes its exit code).
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // The message loop of the user-interface thread; the exit code of WM_QUIT.
    virtual int Run();

    // The module whose resources the program uses.
    static HINSTANCE ResourceInstance();
    static void SetResourceInstance(HINSTANCE instance);

protected:
    // The framework's own start-up; nothing to do beyond the instance being known.
    void InitApplication() {}
    // Dialogs here hold no embedded controls of other makers; kept so that start-up reads
    // as the framework expects it.
    void EnableControlContainer() {}

    CWnd* mainWnd_ = nullptr;
};

// Calls app.InitInstance(), then app.Run() when it returned true, and app.ExitInstance().
int RunApplication(CWinApp& app, HINSTANCE instance);
