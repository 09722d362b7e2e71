#pragma once
// A modal dialog made from a dialog template of the program's resources. The modal run
// creates the window, calls OnInitDialog, dispatches messages (with the dialog keys)
// until EndDialog, then destroys the window through the virtual DestroyWindow.
// OK (Enter) ends it with IDOK; Cancel (Escape) and a close request with IDCANCEL.

#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : templateId_(templateId), parent_(parent) {}
    ~CDialog() override;

    // The result given to EndDialog, or -1 when the window could not be created.
    virtual INT_PTR DoModal();
    // Ends the modal run with the result (it returns once the current message is done).
    void EndDialog(int result);

protected:
    // After the window exists and before it is shown; true to let the system set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    CWnd* parent_;
    bool endModal_ = false;
    int result_ = -1;
};
