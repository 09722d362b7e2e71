#pragma once
// The window-independent half of a paint manager: the control tree, the window's
// layout settings (initial size, caption band, font table), the notification receivers
// and the pointer logic that turns presses and releases into "click" notifications.
// The window side (CPaintManagerUI) adds the window, drawing and the message handler.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "duilib/core/Controls.h"
#include "duilib/core/KeyboardFocus.h"
#include "duilib/core/UIBase.h"

namespace DuiLib {

struct TNotifyUI {
    std::wstring sType;  // e.g. L"click"
    CControlUI* pSender = nullptr;
    UiPoint ptMouse{};
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

struct FontSpec {
    int id = 0;
    std::wstring face;
    int size = 0;  // character height in pixels
    bool bold = false;
    bool italic = false;
};

// What changed on a control, for those who follow the window from outside.
enum class ControlChange { Text, State };

class CPaintManagerCore {
public:
    CPaintManagerCore() = default;
    CPaintManagerCore(const CPaintManagerCore&) = delete;
    CPaintManagerCore& operator=(const CPaintManagerCore&) = delete;
    virtual ~CPaintManagerCore() = default;

    // Takes the tree; the previous one is destroyed. Null leaves the window without controls.
    void AttachDialog(std::unique_ptr<CControlUI> root);
    CControlUI* GetRoot() const { return root_.get(); }

    CControlUI* FindControl(std::wstring_view name) const;
    // The deepest visible control at a client point, or null.
    CControlUI* FindControl(UiPoint point);

    void AddNotifier(INotifyUI* notifier);
    void RemoveNotifier(INotifyUI* notifier);
    void SendNotify(CControlUI* sender, std::wstring_view type);

    // From the layout's Window element, as written there (for 96 DPI).
    virtual void SetInitSize(UiSize size) { initSize_ = size; }
    UiSize GetInitSize() const { return initSize_; }
    void SetCaptionRect(const UiRect& rect) { caption_ = rect; }
    // The caption band at the window's DPI.
    UiRect GetCaptionRect() const;

    // The window's DPI (96 unless told otherwise): the layout's lengths and font heights
    // are written for 96 and scale by dpi / 96. A new DPI applies the layout's lengths
    // again, scaled, to every control of the tree and lays it out anew.
    int GetDpi() const { return dpi_; }
    virtual void SetDpi(int dpi);

    // A font of the same id replaces the earlier one.
    virtual void AddFont(const FontSpec& font);
    const FontSpec* GetFontSpec(int id) const;
    const std::vector<FontSpec>& Fonts() const { return fonts_; }

    // Lays the tree out over the client area when something changed.
    void EnsureLayout();
    // Controls call these when they change.
    virtual void Invalidate(const UiRect&) {}
    virtual void NeedUpdate();

    // Pointer input in client coordinates. OnMouseDown returns true when a control took
    // the press, so the window should capture the pointer until the release.
    void OnMouseMove(UiPoint point);
    void OnMouseLeave();
    bool OnMouseDown(UiPoint point);
    // Ends a press; returns the control to click when released over it. The caller
    // releases the pointer capture and then calls NotifyClick, so that whatever the
    // click starts (a modal box, for one) runs without the capture.
    CControlUI* OnMouseUp(UiPoint point);
    void NotifyClick(CControlUI* control, UiPoint point);
    // The press was taken away (capture lost): no click.
    void OnPressCancelled();

    CControlUI* GetHotControl() const { return hot_; }
    CControlUI* GetPressedControl() const { return pressed_; }

    // The keyboard focus (KeyboardFocus.cpp): a control of the tab order, or none. A focused
    // control that is disabled or hidden holds no focus until it can take it again.
    CControlUI* GetFocus() const;
    // Null, or a control that can take the focus (anything else is ignored).
    void SetFocus(CControlUI* control);
    // The focus is drawn from the first key that moves or uses it on, as the system does.
    bool FocusCuesShown() const { return focusCues_; }
    void ShowFocusCues();
    // The system asks for the cue to be hidden again (its keyboard-cue state).
    void HideFocusCues();
    // Letter keys click the button whose text begins with them (message boxes).
    void EnableMnemonics(bool enable) { mnemonics_ = enable; }
    // Whether the window takes the key itself. Enter only while a control has the focus:
    // without one it stays the owner's (a dialog's default button).
    bool WantsKey(NavKey key) const;
    // A key went down; repeat: it was already down (held). Tab, Shift+Tab and the arrows
    // move the focus; Space and Enter return the focused control to click (the caller then
    // calls NotifyClick). A held key never clicks: only a press that began here does, so
    // a key that opened a box cannot also answer it.
    CControlUI* OnKeyDown(NavKey key, bool shift, bool repeat);
    // A character typed; with mnemonics, returns the button it clicks.
    CControlUI* OnChar(wchar_t ch, bool repeat);

    // A control's text or state changed (controls call it).
    virtual void ControlChanged(CControlUI*, ControlChange) {}

protected:
    // The client area; the window side reports the real one.
    virtual UiRect ClientRect() const { return clientRect_; }
    void SetClientRect(const UiRect& rect) { clientRect_ = rect; }
    // The focus moved to the control (null: to none).
    virtual void FocusMoved(CControlUI*) {}

private:
    void Broadcast(TNotifyUI& msg);
    void SetHotControl(CControlUI* control);

    std::unique_ptr<CControlUI> root_;
    std::vector<INotifyUI*> notifiers_;
    std::vector<FontSpec> fonts_;
    UiSize initSize_{};
    UiRect caption_{};
    int dpi_ = 96;
    UiRect clientRect_{};
    UiRect laidOut_{};
    bool needLayout_ = true;
    CControlUI* hot_ = nullptr;
    CControlUI* pressed_ = nullptr;
    CControlUI* focus_ = nullptr;
    bool focusCues_ = false;
    bool mnemonics_ = false;
};

}  // namespace DuiLib
