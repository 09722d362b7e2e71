#pragma once
// The window wrapper: registers a class, creates a window or takes over an existing one,
// and routes its messages to HandleMessage. After the window's last message the wrapper
// forgets the handle, gives a taken-over window its own procedure back and calls
// FinalMessage.

#include <windows.h>

namespace DuiLib {

class CWindowWnd {
public:
    CWindowWnd() = default;
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;
    // A window that still exists is let go: taken over, it gets its procedure back (under
    // a later hook, its messages still reach that procedure); created here, it is destroyed
    // without reaching this object any more.
    virtual ~CWindowWnd();

    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    // Registers WindowClassName() with ClassStyle(), the arrow cursor, no icon and no
    // background brush; or, when SuperclassName() names a class, as a copy of that class
    // whose procedure gets what HandleMessage passes on. An existing class counts as success.
    bool RegisterWindowClass();
    HWND Create(HWND owner, const wchar_t* name, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                HMENU menu = nullptr);
    // Takes over an existing window: its messages now come here first, and what
    // HandleMessage passes on goes to the window's own procedure.
    HWND Subclass(HWND window);
    // Gives a taken-over window back to its own procedure while it still exists.
    void Unsubclass();

    void ShowWindow(bool show = true, bool takeFocus = true);
    // Shows the window and runs a message loop until it is gone, with the owner disabled.
    // Returns the wParam of a WM_CLOSE posted to the window, 0 when none was.
    UINT ShowModal();
    // The close request: posts WM_CLOSE with the code when the window still exists.
    void Close(UINT code = IDOK);
    // Centres over the owner, or the nearest monitor's work area when there is no owner
    // or it is minimised; kept inside that work area.
    void CenterWindow();

    bool IsTakenOver() const { return takenOver_; }

protected:
    virtual const wchar_t* WindowClassName() const = 0;
    // A class to build this window class on, or null for none.
    virtual const wchar_t* SuperclassName() const { return nullptr; }
    virtual UINT ClassStyle() const { return 0; }
    // Default: the previous window procedure.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window's last message; the handle is already cleared.
    virtual void FinalMessage(HWND) {}

    // Where unhandled messages go: DefWindowProcW, or the taken-over window's own procedure.
    LRESULT CallPreviousProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Lets go of a window that still exists, as the destructor does; a derived class calls
    // it first when its own parts must not see the window's last messages.
    void ReleaseWindow();

    HWND hwnd_ = nullptr;
    WNDPROC previousProc_ = ::DefWindowProcW;
    bool takenOver_ = false;

private:
    // Registers the class; returns where unhandled messages go, or null on failure.
    WNDPROC RegisterClassProc();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Whether the message starts the window's going, so that the owner of its modal run
    // must be enabled before it is handled.
    static bool ReleasesModalOwner(HWND window, UINT message, LPARAM lParam);

    // The owner that the running modal run disabled; null outside a run, or once enabled
    // again because the window is going.
    HWND modalOwner_ = nullptr;
};

}  // namespace DuiLib
