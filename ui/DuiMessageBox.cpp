#include "ui/DuiMessageBox.h"

#include <memory>

#include "duilib/win/GdiHandles.h"

using DuiLib::CControlUI;

namespace {

std::wstring TextOrEmpty(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

// The window's client-area device context for the scope.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

std::optional<FixedSize> FixedSizeOf(const CControlUI* control) {
    if (!control) return std::nullopt;
    return FixedSize{control->GetFixedWidth(), control->GetFixedHeight()};
}

}  // namespace

CDuiMessageBox::CDuiMessageBox(int type, const wchar_t* message, const wchar_t* firstButtonText,
                               const wchar_t* secondButtonText)
    : message(TextOrEmpty(message)),
      firstButtonText(TextOrEmpty(firstButtonText)),
      secondButtonText(TextOrEmpty(secondButtonText)),
      type(type & MessageBoxTypeButtonsMask) {}

TextExtent CDuiMessageBox::Measure(std::wstring_view text, const CControlUI* control) {
    WindowDC dc(GetHWND());
    if (!dc.Get()) return {};
    DuiLib::ScopedSelect font(dc.Get(), paintManager.GetFont(control ? control->GetFont() : 0));
    SIZE size{};
    if (!::GetTextExtentPoint32W(dc.Get(), text.data(), static_cast<int>(text.size()), &size)) return {};
    return {static_cast<int>(size.cx), static_cast<int>(size.cy)};
}

void CDuiMessageBox::LayoutMessageBox(const wchar_t* layoutName) {
    // What screen readers announce for the box: its title, or with none its question.
    ::SetWindowTextW(GetHWND(), MessageBoxWindowName(title, message).c_str());
    paintManager.AttachDialog(BuildLayout(layoutName));
    paintManager.AddNotifier(this);

    okButton = paintManager.FindControl(L"btnOK");
    cancelButton = paintManager.FindControl(L"btnCancel");
    yesButton = paintManager.FindControl(L"btnYes");
    noButton = paintManager.FindControl(L"btnNo");
    retryButton = paintManager.FindControl(L"btnRetry");
    ignoreButton = paintManager.FindControl(L"btnIgnore");
    closeButton = paintManager.FindControl(L"btnClose");
    minButton = paintManager.FindControl(L"btnMin");
    maxButton = paintManager.FindControl(L"btnMax");
    titleText_ = paintManager.FindControl(L"txtTitel");
    messageText_ = paintManager.FindControl(L"txtMsg");
    icon_ = paintManager.FindControl(L"ctrlIcon");
    PlaceControls(0);
}

void CDuiMessageBox::OnDpiChanged(int dpi, const RECT& suggested) {
    CBaseDuilibWnd::OnDpiChanged(dpi, suggested);
    PlaceControls(SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDuiMessageBox::PlaceControls(UINT windowPosFlags) {
    CControlUI* titleText = titleText_;
    CControlUI* messageText = messageText_;
    CControlUI* icon = icon_;
    const MessageBoxButtonNames names = ButtonsOfType(type);
    CControlUI* first = names.first ? paintManager.FindControl(names.first) : nullptr;
    CControlUI* second = names.second ? paintManager.FindControl(names.second) : nullptr;

    MessageBoxParts parts;
    parts.type = type;
    parts.dpi = paintManager.GetDpi();
    parts.icon = FixedSizeOf(icon);
    if (icon) parts.iconPlacement = icon->GetText();
    parts.hasTitle = titleText != nullptr;
    if (!title.empty() && titleText) parts.title = Measure(title, titleText);
    parts.hasMessage = messageText != nullptr;
    for (const std::wstring_view line : SplitMessageLines(message)) parts.lines.push_back(Measure(line, messageText));
    parts.first = FixedSizeOf(first);
    parts.second = FixedSizeOf(second);
    parts.close = FixedSizeOf(closeButton);
    geometry_ = ComputeMessageBoxLayout(parts);
    const MessageBoxGeometry& g = geometry_;

    ::SetWindowPos(GetHWND(), nullptr, 0, 0, g.width, g.height, windowPosFlags);

    if (titleText && g.title) {
        titleText->SetFixedHeight(g.title->bottom);
        titleText->SetFixedWidth(g.title->right);
        titleText->SetPos(*g.title);
        titleText->SetText(title);
    }
    if (closeButton && g.close) closeButton->SetPos(*g.close);
    if (icon && g.icon) icon->SetPos(*g.icon);
    if (messageText && g.message) {
        messageText->SetPos(*g.message);
        messageText->SetFixedWidth(g.textWidth);
        messageText->SetFixedHeight(g.textHeight);
        messageText->SetAttribute(L"align", L"wrap");
        messageText->SetText(message);
        messageText->NeedParentUpdate();
    }
    if (first && g.first) {
        first->SetPos(*g.first);
        if (!firstButtonText.empty()) first->SetText(firstButtonText);
    }
    if (second && g.second) {
        second->SetPos(*g.second);
        if (!secondButtonText.empty()) second->SetText(secondButtonText);
    }
    // From the keyboard: the safe answer has the focus (a stray Enter never says Yes), and
    // the first letter of a button's text answers with it.
    paintManager.EnableMnemonics(true);
    if (const wchar_t* focused = FirstFocusedButton(type)) paintManager.SetFocus(paintManager.FindControl(focused));
}

LRESULT CDuiMessageBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const bool repeat = (static_cast<DWORD>(lParam) & (1u << 30)) != 0;
    if (message == WM_KEYDOWN && wParam == VK_ESCAPE && !repeat) {
        if (const MessageBoxResult result = EscapeResult(type)) Close(static_cast<UINT>(result));
        return 0;
    }
    return CBaseDuilibWnd::HandleMessage(message, wParam, lParam);
}

void CDuiMessageBox::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType == L"click" && msg.pSender) {
        const struct {
            CControlUI* button;
            MessageBoxResult result;
        } buttons[] = {
            {okButton, MessageBoxResultOk},         {cancelButton, MessageBoxResultCancel},
            {yesButton, MessageBoxResultYes},       {noButton, MessageBoxResultNo},
            {retryButton, MessageBoxResultRetry},   {ignoreButton, MessageBoxResultIgnore},
        };
        for (const auto& b : buttons) {
            if (b.button && b.button == msg.pSender) Close(static_cast<UINT>(b.result));
        }
    }
    CBaseDuilibWnd::Notify(msg);
}

int ShowMessageBox(int type, const wchar_t* layoutName, const wchar_t* firstButtonText,
                   const wchar_t* secondButtonText, const DuiLib::CWindowWnd* ownerWindow, const wchar_t* message) {
    const HWND owner = ownerWindow ? ownerWindow->GetHWND() : nullptr;
    if (!layoutName) return ::MessageBoxW(owner, message ? message : L"", nullptr, static_cast<UINT>(type));

    // On the heap: the box's paint manager, shadow and skin copy are not small.
    auto box = std::make_unique<CDuiMessageBox>(type, message, firstButtonText, secondButtonText);
    if (!box->Create(owner, nullptr, 0, 0, 0, 0, 0, 0)) return MessageBoxResultNone;
    const HWND window = box->GetHWND();
    // No system frame: the box's 1-pixel border is the layout's.
    ::SetWindowLongW(window, GWL_STYLE, ::GetWindowLongW(window, GWL_STYLE) & ~WS_CAPTION);
    box->LoadSkin();
    box->LayoutMessageBox(layoutName);
    box->CenterWindow();
    return static_cast<int>(box->ShowModal());
}
