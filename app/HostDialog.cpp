#include "app/HostDialog.h"

#include <commctrl.h>

#include <cwchar>

#include "duilib/UIlib.h"
#include "duilib/core/DpiScale.h"

namespace {

// Loads a DLL from the system folder only: the program runs elevated, and a plain
// search would also take a DLL planted beside the program.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
    path[length] = L'\\';
    std::wcscpy(path + length + 1, name);
    return ::LoadLibraryW(path);
}

// InitCommonControlsEx, reached at run time: comctl32 is no known DLL, so it is not
// imported.
void InitCommonControls95() {
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE comctl = LoadSystemLibrary(L"comctl32.dll");
    if (!comctl) return;
    const auto init = reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(::GetProcAddress(comctl, "InitCommonControlsEx")));
    if (!init) return;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);  // 8
    controls.dwICC = ICC_WIN95_CLASSES;
    init(&controls);
}

// No window of the program is a common control, so their registration waits until the
// main window has painted: loading comctl32 is tens of milliseconds of a start under
// Wine. A timer message comes only after the window's pending paint.
constexpr UINT_PTR kCommonControlsTimer = 1;

void CALLBACK InitCommonControlsAfterPaint(HWND window, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(window, id);
    InitCommonControls95();
}

}  // namespace

BOOL CZephraApp::InitInstance() {
    InitApplication();
    EnableControlContainer();
    {
        CZephraDlg dialog(system_);
        mainWnd_ = &dialog;
        dialog.DoModal();
        mainWnd_ = nullptr;
    }
    return FALSE;
}

CZephraDlg::CZephraDlg(const AppSystem& system, CWnd* parent)
    : CDialog(IDD, parent), mainWnd(system.machine, system.shutdown), rescan(system.watch), watch_(system.watch) {
    appIcon = ::LoadIconW(CWinApp::ResourceInstance(), MAKEINTRESOURCEW(128));
}

CZephraDlg::~CZephraDlg() {
    rescan.stop.Raise();
    if (rescanThread) rescanThread->WaitForEnd();
}

const MessageMap* CZephraDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        {WM_PAINT,
         [](CWnd& self, WPARAM, LPARAM) -> LRESULT {
             static_cast<CZephraDlg&>(self).OnPaint();
             return 0;
         }},
        {WM_QUERYDRAGICON,
         [](CWnd& self, WPARAM, LPARAM) -> LRESULT {
             return reinterpret_cast<LRESULT>(static_cast<CZephraDlg&>(self).OnQueryDragIcon());
         }},
        {WM_DEVICECHANGE,
         [](CWnd& self, WPARAM event, LPARAM data) -> LRESULT {
             return static_cast<CZephraDlg&>(self).OnDeviceChange(static_cast<UINT>(event),
                                                                   static_cast<DWORD_PTR>(data));
         }},
    };
    static const MessageMap map{CDialog::GetMessageMap(), entries, sizeof entries / sizeof entries[0]};
    return &map;
}

BOOL CZephraDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));

    // Without the registration the panel only changes at start; nothing is reported.
    const platform::DeviceInterfaceFilter filter = platform::DiskInterfaceFilter();
    devNotify = watch_.RegisterNotification(GetSafeHwnd(), filter.data(), platform::DeviceNotifyWindowHandle);

    // Without the worker the program runs without bus rescans; nothing is reported.
    rescan.stop.Reset();
    rescanThread = CWinThread::Begin(RescanThreadProc, &rescan, THREAD_PRIORITY_NORMAL, 0, 0, nullptr);

    // The skin's 700 by 490 at the screen's scale.
    const int dpi = DuiLib::DpiOfWindow(GetSafeHwnd());
    MoveWindow(0, 0, DuiLib::ScaleByDpi(700, dpi), DuiLib::ScaleByDpi(490, dpi), TRUE);
    CenterWindow();

    if (mainWnd.Subclass(GetSafeHwnd())) mainWnd.AttachToHost(this);
    if (!::SetTimer(GetSafeHwnd(), kCommonControlsTimer, 0, InitCommonControlsAfterPaint)) InitCommonControls95();
    return TRUE;
}

BOOL CZephraDlg::DestroyWindow() {
    rescan.stop.Raise();
    if (devNotify) {
        watch_.UnregisterNotification(devNotify);
        devNotify = nullptr;
    }
    const BOOL destroyed = CDialog::DestroyWindow();
    if (rescanThread) rescanThread->WaitForEnd();
    return destroyed;
}

void CZephraDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(GetSafeHwnd(), &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    ::GetClientRect(GetSafeHwnd(), &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, appIcon);
    ::EndPaint(GetSafeHwnd(), &paint);
}

HCURSOR CZephraDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(appIcon); }

BOOL CZephraDlg::OnDeviceChange(UINT event, DWORD_PTR data) {
    if (IsDiskInterfaceChange(event, static_cast<std::uintptr_t>(data))) mainWnd.RefreshDrives();
    return TRUE;
}
