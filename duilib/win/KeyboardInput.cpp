// The paint manager's keyboard messages: Tab, Shift+Tab and the arrows move the focus
// between the window's buttons, Space and Enter click the focused one, and in windows that
// ask for it a letter clicks the button whose text begins with it. The focus is drawn as a
// dotted rectangle once the keyboard has been used.
#include "duilib/win/PaintManager.h"

namespace DuiLib {
namespace {

// A window whose focus is drawn carries this, so that a window it owns (a box opened from
// the keyboard) draws its focus from the start.
constexpr wchar_t kFocusCuesProperty[] = L"DuiLibFocusCues";

NavKey KeyOf(WPARAM virtualKey) {
    switch (virtualKey) {
    case VK_TAB: return NavKey::Tab;
    case VK_LEFT: return NavKey::Left;
    case VK_RIGHT: return NavKey::Right;
    case VK_UP: return NavKey::Up;
    case VK_DOWN: return NavKey::Down;
    case VK_SPACE: return NavKey::Space;
    case VK_RETURN: return NavKey::Enter;
    default: return NavKey::Other;
    }
}

// Bit 30 of a key message: the key was already down, so this is the keyboard's repeat.
bool IsRepeat(LPARAM lParam) { return (static_cast<DWORD>(lParam) & (1u << 30)) != 0; }

bool KeyDown(int virtualKey) { return ::GetKeyState(virtualKey) < 0; }

// The user's setting to show keyboard cues (focus rectangles) at all times.
bool KeyboardCuesAlwaysShown() {
    BOOL always = FALSE;
    return ::SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &always, 0) && always;
}

UiPoint CentreOf(const CControlUI& control) {
    const UiRect& r = control.GetPos();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

bool CPaintManagerUI::HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_GETDLGCODE: {
        // A dialog's own loop asks before it uses a key for its default button, Cancel or
        // its own focus: the keys this window handles stay here.
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        result = DLGC_WANTCHARS;
        if (msg && msg->message == WM_KEYDOWN && !KeyDown(VK_CONTROL) && WantsKey(KeyOf(msg->wParam))) {
            result |= DLGC_WANTMESSAGE;
        }
        return true;
    }
    case WM_KEYDOWN: {
        const NavKey key = KeyOf(wParam);
        if (KeyDown(VK_CONTROL) || !WantsKey(key)) return false;
        const bool cuesBefore = FocusCuesShown();
        CControlUI* clicked = OnKeyDown(key, KeyDown(VK_SHIFT), IsRepeat(lParam));
        if (FocusCuesShown()) {
            ::SetPropW(window_, kFocusCuesProperty, reinterpret_cast<HANDLE>(1));
            // The system's keyboard-cue state learns it too, as from a dialog's own keys.
            if (!cuesBefore) ::SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        }
        if (clicked) NotifyClick(clicked, CentreOf(*clicked));
        result = 0;
        return true;
    }
    case WM_CHAR: {
        CControlUI* clicked = OnChar(static_cast<wchar_t>(wParam), IsRepeat(lParam));
        if (!clicked) return false;
        NotifyClick(clicked, CentreOf(*clicked));
        result = 0;
        return true;
    }
    case WM_SHOWWINDOW:
        if (wParam) {
            const HWND owner = ::GetWindow(window_, GW_OWNER);
            if (KeyboardCuesAlwaysShown() || (owner && ::GetPropW(owner, kFocusCuesProperty))) {
                ShowFocusCues();
                ::SetPropW(window_, kFocusCuesProperty, reinterpret_cast<HANDLE>(1));
            }
        }
        return false;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETKEYBOARDCUES && KeyboardCuesAlwaysShown()) ShowFocusCues();
        return false;
    case WM_UPDATEUISTATE:
        // The system's keyboard-cue state, once the window is shown: shown when the keyboard
        // is used in the window or its dialog, hidden again when the system says so (never
        // while the user's setting shows cues at all times). Before that, how the window
        // opens decides (above): a dialog's initial state says nothing of this window. The
        // default handling keeps the window's own state.
        if ((HIWORD(wParam) & UISF_HIDEFOCUS) && ::IsWindowVisible(window_)) {
            if (LOWORD(wParam) == UIS_CLEAR) {
                ShowFocusCues();
                ::SetPropW(window_, kFocusCuesProperty, reinterpret_cast<HANDLE>(1));
            } else if (LOWORD(wParam) == UIS_SET && !KeyboardCuesAlwaysShown()) {
                HideFocusCues();
                ::RemovePropW(window_, kFocusCuesProperty);
            }
        }
        return false;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (CControlUI* focused = GetFocus()) focused->Invalidate();
        if (message == WM_SETFOCUS) FocusMoved(GetFocus());
        return false;
    case WM_NCDESTROY:
        ::RemovePropW(window_, kFocusCuesProperty);
        return false;
    default:
        return false;
    }
}

void CPaintManagerUI::DrawFocusCue(HDC dc) {
    CControlUI* focused = GetFocus();
    if (!focused || !FocusCuesShown() || ::GetFocus() != window_) return;
    // A dotted rectangle two pixels inside the control, inverted so that it shows on any image.
    const UiRect& r = focused->GetPos();
    RECT cue{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
    if (cue.right <= cue.left || cue.bottom <= cue.top) return;
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::DrawFocusRect(dc, &cue);
}

}  // namespace DuiLib
