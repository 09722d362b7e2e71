#pragma once
// The drop shadow of a skinned window: a layered, click-through popup owned by the
// followed window ("parent"), showing a blurred rim around the parent's outline. It
// hooks the parent's window procedure to move, redraw, hide and show with it, and goes
// away with it. User-interface thread only.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/ShadowRender.h"

class CWndShadow {
public:
    enum StatusBits : std::uint8_t {
        ShadowEnabled = 0x01,          // set at attach, never cleared
        ShadowVisible = 0x02,          // the show logic decided the shadow is shown
        ParentVisible = 0x04,          // the parent had WS_VISIBLE at the last check
        DisabledByComposition = 0x08,  // desktop composition was on at the last check
    };

    using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                                BLENDFUNCTION*, DWORD);
    using IsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);

    // The system calls the shadow looks up at run time; null where the system lacks them.
    struct SystemCalls {
        UpdateLayeredWindowFn updateLayeredWindow = nullptr;
        IsCompositionEnabledFn isCompositionEnabled = nullptr;
    };

    CWndShadow() = default;
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;
    // Safe whether or not the parent still exists: a living parent gets its window
    // procedure back (when the hook is still on top) and loses its shadow window.
    virtual ~CWndShadow();

    // One-time set-up: looks up UpdateLayeredWindow in USER32 and DwmIsCompositionEnabled
    // in the system's dwmapi.dll, and registers the window class "TolvoShadowWnd".
    // False when it already ran or the system has no layered windows.
    static bool RegisterShadowClass(HINSTANCE instance);
    // The same with the calls given (tests stand in for the system with it).
    static bool RegisterShadowClass(HINSTANCE instance, const SystemCalls& calls);
    // Forgets the set-up so that it can run again; only while no shadow follows a window.
    static void ResetShadowClass();

    // Creates the shadow window for parent and hooks the parent. Does nothing without
    // the set-up, when this object already follows a living window, or when the parent
    // already has a shadow (a window is never hooked twice).
    void AttachTo(HWND parent);
    // The program's settings: size 8, sharpness 10, darkness 128, no offset, grey; the
    // lengths scaled to the DPI last given (96 until then).
    void ApplyStyle();
    // The followed window's DPI, for the next ApplyStyle.
    void SetDpi(int dpi) { dpi_ = dpi; }
    // Shows or hides the shadow according to the parent's state.
    void ShowForParent(HWND parent);
    // Shows and redraws the shadow whatever the parent's state.
    void ForceShow(HWND parent);
    // Renders the image for the parent's current outline and puts the shadow in place.
    void Redraw(HWND parent);

    // The shadow following parent, or null.
    static CWndShadow* FollowerOf(HWND parent);

    HWND ShadowWindow() const { return shadowWnd; }
    std::uint8_t Status() const { return status; }
    ShadowStyle Style() const;

private:
    static LRESULT CALLBACK ParentHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                WNDPROC previous);
    void CheckStatus(HWND parent);
    void RedrawIfShown();
    void MoveToParent(HWND parent);
    void HideShadow();
    bool HasUsableWindow() const;
    bool FollowsParentState() const;
    bool IsFollowing() const;

    HWND shadowWnd = static_cast<HWND>(INVALID_HANDLE_VALUE);
    WNDPROC parentProc = nullptr;
    std::uint8_t status = 0;
    std::uint8_t darkness = 150;
    std::uint8_t sharpness = 5;
    std::int8_t size = 8;
    std::int8_t offsetX = 5;
    std::int8_t offsetY = 5;
    std::uint32_t lastParentSize = 0;
    bool redrawPending = false;
    COLORREF color = 0;
    int dpi_ = 96;
};

// The parent's outline: for each row of a window of width x height pixels, the columns
// inside its window region (the whole rectangle when it has none).
std::vector<ShadowRowSpan> ReadWindowSpans(HWND window, int width, int height);
