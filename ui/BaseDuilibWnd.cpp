#include "ui/BaseDuilibWnd.h"

#include <array>

using DuiLib::CControlUI;
using DuiLib::CPaintManagerUI;

CBaseDuilibWnd::~CBaseDuilibWnd() {
    // The window must not reach the paint manager or the shadow while they go.
    ReleaseWindow();
    // The library reads from the package registered first; when that is this window's
    // copy, it is closed before the copy is freed.
    if (!skinPackage.empty() && CPaintManagerUI::GetResourceZip() == skinPackage.data()) {
        CPaintManagerUI::CloseZip();
    }
}

void CBaseDuilibWnd::LoadSkin() {
    paintManager.Init(GetHWND());
    if (SkinSource() != kSkinFromResources) {
        CPaintManagerUI::SetResourcePath(L"skin\\");
        return;
    }
    // A second call keeps the copy: the library may be reading from it.
    if (skinPackage.empty()) {
        const HINSTANCE module = CPaintManagerUI::GetInstance();
        const HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(SkinResourceId()), L"ZIPRES");
        if (!info) return;
        const HGLOBAL loaded = ::LoadResource(module, info);
        const DWORD size = ::SizeofResource(module, info);
        const auto* bytes = loaded ? static_cast<const std::uint8_t*>(::LockResource(loaded)) : nullptr;
        if (!bytes || size == 0) return;
        skinPackage.assign(bytes, bytes + size);
    }
    CPaintManagerUI::SetResourceZip(skinPackage.data(), static_cast<unsigned>(skinPackage.size()));
}

std::unique_ptr<CControlUI> CBaseDuilibWnd::BuildLayout(const wchar_t* layoutName) {
    if (!layoutName) return nullptr;
    DuiLib::CDialogBuilder builder;
    return builder.Create(layoutName, this, &paintManager);
}

std::unique_ptr<CControlUI> CBaseDuilibWnd::MakeControl(std::wstring_view) { return nullptr; }

bool CBaseDuilibWnd::InCaptionBand(LPARAM screenPoint) {
    // Signed: on a monitor left of or above the primary one the coordinates are negative.
    POINT point{static_cast<short>(LOWORD(screenPoint)), static_cast<short>(HIWORD(screenPoint))};
    RECT client{};
    if (!::ScreenToClient(GetHWND(), &point) || !::GetClientRect(GetHWND(), &client)) return false;
    const DuiLib::UiRect& caption = paintManager.GetCaptionRect();
    if (point.x < client.left || point.x >= client.right || point.y < caption.top || point.y >= caption.bottom) {
        return false;
    }
    const CControlUI* control = paintManager.FindControl(DuiLib::UiPoint{point.x, point.y});
    return control && !DuiLib::EqualsNoCase(control->GetClass(), L"ButtonUI");
}

namespace {

// A timer message comes only when no paint is pending: after the window's first frame.
constexpr UINT_PTR kAttachShadowTimer = 0x5348;

}  // namespace

void CBaseDuilibWnd::AttachShadow() {
    shadowAttached_ = true;
    shadow.SetDpi(paintManager.GetDpi());
    if (!shadowPending_) {
        // Before the window shows, in the order it always had: a box and its owner hand
        // activation back and forth as they did.
        shadow.AttachTo(GetHWND());
        shadow.ApplyStyle();
        shadow.ForceShow(GetHWND());
        return;
    }
    // After the first frame: the settings come first, so that the shadow AttachTo shows
    // for a visible window it follows is drawn where it belongs from its first image.
    // Shown regardless when it does not follow the window's state (desktop composition
    // on); a window hidden again before its timer gets its shadow with its next show.
    shadow.ApplyStyle();
    shadow.AttachTo(GetHWND());
    if (::IsWindowVisible(GetHWND()) && !(shadow.Status() & CWndShadow::ShadowVisible)) shadow.ForceShow(GetHWND());
}

LRESULT CBaseDuilibWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SHOWWINDOW && !shadowAttached_ && !shadowPending_) {
        // Without a timer to be had, at once.
        if (ShadowFollowsFirstFrame() && ::SetTimer(GetHWND(), kAttachShadowTimer, 0, nullptr)) {
            shadowPending_ = true;
        } else {
            AttachShadow();
        }
    } else if (message == WM_TIMER && wParam == kAttachShadowTimer) {
        ::KillTimer(GetHWND(), kAttachShadowTimer);
        if (shadowPending_ && !shadowAttached_) AttachShadow();
        shadowPending_ = false;
        return 0;
    } else if (message == WM_NCHITTEST && InCaptionBand(lParam)) {
        return HTCAPTION;
    } else if (message == WM_DPICHANGED && lParam) {
        // Both halves of wParam carry the new DPI (x and y are always equal).
        OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
    LRESULT result = 0;
    if (paintManager.MessageHandler(message, wParam, lParam, result)) return result;
    return CallPreviousProc(message, wParam, lParam);
}

void CBaseDuilibWnd::OnDpiChanged(int dpi, const RECT& suggested) {
    paintManager.SetDpi(dpi);
    ::SetWindowPos(GetHWND(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    shadow.SetDpi(paintManager.GetDpi());
    if (shadowAttached_) {
        shadow.ApplyStyle();
        // ApplyStyle redraws only a shadow that follows the window's state; one shown
        // regardless (desktop composition on) is redrawn here.
        if (!(shadow.Status() & CWndShadow::ShadowVisible) && ::IsWindowVisible(shadow.ShadowWindow())) {
            shadow.Redraw(GetHWND());
        }
    }
    ::InvalidateRect(GetHWND(), nullptr, FALSE);
}

void CBaseDuilibWnd::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType != L"click" || !msg.pSender) return;
    const HWND window = GetHWND();
    if (closeButton && msg.pSender == closeButton) {
        ::Sleep(10);
        Close(IDCLOSE);
    } else if (maxButton && msg.pSender == maxButton) {
        // A window already gone must not turn this into a message for the whole thread.
        if (::IsWindow(window)) {
            ::PostMessageW(window, WM_SYSCOMMAND, ::IsZoomed(window) ? SC_RESTORE : SC_MAXIMIZE, 0);
        }
    } else if (minButton && msg.pSender == minButton) {
        if (::IsWindow(window)) ::PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
}

std::wstring LoadResString(unsigned id) {
    std::array<wchar_t, 1024> buffer{};
    ::LoadStringW(CPaintManagerUI::GetInstance(), id, buffer.data(), static_cast<int>(buffer.size()));
    return std::wstring(buffer.data());
}
