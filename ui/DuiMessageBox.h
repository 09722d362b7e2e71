#pragma once
// The program's skinned modal message box: a borderless window built from one of the
// message-box layouts of the skin package, sized to its text, returning the code of the
// button pressed with the system message box's codes.

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/BaseDuilibWnd.h"
#include "ui/MessageBoxLayout.h"

class CDuiMessageBox : public CBaseDuilibWnd {
public:
    // Null texts count as empty; only the low 4 bits of type are kept.
    CDuiMessageBox(int type, const wchar_t* message, const wchar_t* firstButtonText,
                   const wchar_t* secondButtonText);

    // Names the window (MessageBoxWindowName); builds the
    // layout into the window (which must exist, skin loaded), sizes the window
    // to the message and places the controls. A layout that cannot be built still sizes
    // the window, from the default font, and places nothing.
    void LayoutMessageBox(const wchar_t* layoutName);

    // A click on one of the box's buttons closes it with that button's code.
    void Notify(DuiLib::TNotifyUI& msg) override;

    // What the last LayoutMessageBox worked out.
    const MessageBoxGeometry& Geometry() const { return geometry_; }

protected:
    // Escape answers as the safe button would (No, Cancel, OK); a held Escape does not.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::wstring title;  // stays empty: the title control stays sized 0
    std::wstring message;
    std::wstring firstButtonText;
    std::wstring secondButtonText;
    int type = MessageBoxTypeOk;
    DuiLib::CControlUI* okButton = nullptr;
    DuiLib::CControlUI* cancelButton = nullptr;
    DuiLib::CControlUI* yesButton = nullptr;
    DuiLib::CControlUI* noButton = nullptr;
    DuiLib::CControlUI* retryButton = nullptr;
    DuiLib::CControlUI* ignoreButton = nullptr;

    // Measured and placed again at the new DPI, at the suggested place.
    void OnDpiChanged(int dpi, const RECT& suggested) override;

private:
    // The text on one line in the control's font (font id 0 without a control).
    TextExtent Measure(std::wstring_view text, const DuiLib::CControlUI* control);
    // Measures, sizes the window (SetWindowPos with the flags) and places the controls.
    void PlaceControls(UINT windowPosFlags);

    MessageBoxGeometry geometry_;
    DuiLib::CControlUI* titleText_ = nullptr;
    DuiLib::CControlUI* messageText_ = nullptr;
    DuiLib::CControlUI* icon_ = nullptr;
};

// Shows a box owned by ownerWindow (may be null) and returns the code of the button
// pressed, 0 when the box was closed otherwise. With no layout name the system message
// box is shown instead, with the whole type, and its result is returned.
int ShowMessageBox(int type, const wchar_t* layoutName, const wchar_t* firstButtonText,
                   const wchar_t* secondButtonText, const DuiLib::CWindowWnd* ownerWindow, const wchar_t* message);
