#include "framework/Dialog.h"

#include "framework/WinApp.h"

namespace {

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
        case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
        case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
            return true;
        default:
            return false;
    }
}

}  // namespace

CDialog::~CDialog() {
    // A window still alive must not call into an object that is gone.
    if (::IsWindow(hwnd_)) ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
}

INT_PTR CDialog::DoModal() {
    endModal_ = false;
    result_ = -1;
    const HWND parent = parent_ ? parent_->GetSafeHwnd() : nullptr;
    const HWND window = ::CreateDialogParamW(CWinApp::ResourceInstance(), MAKEINTRESOURCEW(templateId_), parent,
                                             DialogProc, reinterpret_cast<LPARAM>(this));
    if (!window) return -1;
    const bool disabledParent = parent && !::EnableWindow(parent, FALSE);

    MSG msg;
    while (!endModal_ && ::IsWindow(window)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside this one
            break;
        }
        if (got == -1) break;
        if (!::IsDialogMessageW(window, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (disabledParent) ::EnableWindow(parent, TRUE);
    DestroyWindow();
    return result_;
}

void CDialog::EndDialog(int result) {
    result_ = result;
    endModal_ = true;
    // Wakes the modal loop should this come from outside a dispatched message.
    if (hwnd_) ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->hwnd_ = window;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        return FALSE;
    }
    return self->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (const MessageMapEntry* entry = GetMessageMap()->Find(message)) {
        defaultRequested_ = false;
        const LRESULT result = entry->handler(*this, wParam, lParam);
        if (defaultRequested_) return FALSE;
        if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            OnCancel();
            return TRUE;
        default:
            return FALSE;
    }
}
