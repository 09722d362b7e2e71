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

// What the first frame does not show waits until it has been painted: under Wine,
// registering for notifications, starting the worker and loading comctl32 (no window of
// the program is a common control) are each tens of milliseconds of a start. A timer
// message comes only after the window's pending paint.
constexpr UINT_PTR kAfterFirstFrameTimer = 1;

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
    mainWnd.SetDriveLocks(system.locks);
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
        {WM_TIMER,
         [](CWnd& self, WPARAM id, LPARAM) -> LRESULT {
             if (id == kAfterFirstFrameTimer) static_cast<CZephraDlg&>(self).OnFirstFramePainted();
             return 0;
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

    // The skin's 700 by 490 at the screen's scale.
    const int dpi = DuiLib::DpiOfWindow(GetSafeHwnd());
    CenterWindow(DuiLib::ScaleByDpi(700, dpi), DuiLib::ScaleByDpi(490, dpi));

    if (mainWnd.Subclass(GetSafeHwnd())) mainWnd.AttachToHost(this);
    if (!::SetTimer(GetSafeHwnd(), kAfterFirstFrameTimer, 0, nullptr)) OnFirstFramePainted();
    return TRUE;
}

void CZephraDlg::OnFirstFramePainted() {
    ::KillTimer(GetSafeHwnd(), kAfterFirstFrameTimer);
    // Without the registration the panel only changes at start; nothing is reported.
    const platform::DeviceInterfaceFilter filter = platform::DiskInterfaceFilter();
    devNotify = watch_.RegisterNotification(GetSafeHwnd(), filter.data(), platform::DeviceNotifyWindowHandle);
    // A disk that came or went between the panel's enumeration and the registration
    // sent its message to no one.
    mainWnd.RefreshDrives();

    // Without the worker the program runs without bus rescans; nothing is reported.
    rescan.stop.Reset();
    rescanThread = CWinThread::Begin(RescanThreadProc, &rescan, THREAD_PRIORITY_NORMAL, 0, 0, nullptr);

    InitCommonControls95();
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
