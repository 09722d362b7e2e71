#pragma once
// The small application framework the program is built on: a window object, a modal
// dialog from a template with a message map, a worker thread and the application
// object. Only what the program uses.

#include <windows.h>

#include <cstddef>

class CWnd;

// One message the window handles itself. The handler returns what the message returns;
// calling Default() inside it hands the message on to the system's default handling.
struct MessageMapEntry {
    UINT message;
    LRESULT (*handler)(CWnd& window, WPARAM wParam, LPARAM lParam);
};

// A class's own entries, then its base class's map.
struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
    std::size_t count;

    const MessageMapEntry* Find(UINT message) const;
};

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    virtual const MessageMap* GetMessageMap() const;
    // Destroys the window when there is one; nonzero on success.
    virtual BOOL DestroyWindow();

    HWND GetSafeHwnd() const { return hwnd_; }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Centres on the owner, or on the work area of the window's monitor when it has none
    // (or the owner is minimised), kept inside that work area.
    void CenterWindow() const;
    // The same at the given size: sized and placed in one move, so that the system
    // makes the window's surface once.
    void CenterWindow(int width, int height) const;
    BOOL IsIconic() const { return ::IsIconic(hwnd_); }

protected:
    // Inside a message-map handler: let the system's default handling have the message.
    void Default() { defaultRequested_ = true; }

    HWND hwnd_ = nullptr;
    bool defaultRequested_ = false;
};
