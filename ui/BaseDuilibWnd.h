#pragma once
// The base of the program's skinned windows: a window bound to the skin library, with
// its own paint manager, its copy of the skin package, a caption band to drag it by,
// the minimise, maximise and close buttons, and a drop shadow.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "duilib/UIlib.h"
#include "ui/WndShadow.h"

class CZephraDlg;

class CBaseDuilibWnd : public DuiLib::CWindowWnd, public DuiLib::INotifyUI, public DuiLib::IDialogBuilderCallback {
public:
    // SkinSource() for the package in the program's resources; anything else reads "skin\".
    static constexpr int kSkinFromResources = 4;

    CBaseDuilibWnd() = default;
    ~CBaseDuilibWnd() override;

    virtual int SkinResourceId() const { return 130; }
    virtual int SkinSource() const { return kSkinFromResources; }

    // Binds the paint manager to the window and registers the skin package ("ZIPRES"
    // SkinResourceId() of the program). Call once the window exists. Silent when the
    // package is missing: the window then gets no controls.
    void LoadSkin();
    // The root of a new control tree from the layout file, or null when it cannot be read.
    virtual std::unique_ptr<DuiLib::CControlUI> BuildLayout(const wchar_t* layoutName);

    // "click" on the close, maximise or minimise button.
    void Notify(DuiLib::TNotifyUI& msg) override;
    // Only the library's own control kinds.
    std::unique_ptr<DuiLib::CControlUI> MakeControl(std::wstring_view className) override;

protected:
    const wchar_t* WindowClassName() const override { return L"BaseDuilibWnd"; }
    // Shadow on the first WM_SHOWWINDOW, dragging by the caption band, then the paint
    // manager, then the previous window procedure.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The window moved to a screen of another DPI: the layout, fonts and images at the
    // new DPI, the window in the rectangle the system suggests, the shadow at the new
    // scale. A derived window that places controls itself does so again after this.
    virtual void OnDpiChanged(int dpi, const RECT& suggested);
    // Whether the shadow waits until the window's first frame is on screen. Its layered
    // window is a good part of a start under Wine; a box's comes with the box, so that the
    // box and its owner hand activation back and forth exactly as they always did.
    virtual bool ShadowFollowsFirstFrame() const { return false; }

    DuiLib::CPaintManagerUI paintManager;
    CWndShadow shadow;
    std::vector<std::uint8_t> skinPackage;  // this window's copy; empty until LoadSkin
    CZephraDlg* owner = nullptr;            // the host dialog, for the main window only
    DuiLib::CControlUI* minButton = nullptr;
    DuiLib::CControlUI* maxButton = nullptr;
    DuiLib::CControlUI* closeButton = nullptr;

private:
    bool InCaptionBand(LPARAM screenPoint);
    void AttachShadow();

    bool shadowAttached_ = false;
    bool shadowPending_ = false;  // its timer is set
};

// A string of the program's string table; empty for an id without one. At most 1023
// characters.
std::wstring LoadResString(unsigned id);
