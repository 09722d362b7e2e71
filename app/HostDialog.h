#pragma once
// The application object and the host dialog: a borderless popup (template 102) whose
// window the skinned main window takes over. The dialog registers for disk-interface
// notifications, runs the rescan worker and turns arrivals and removals into refreshes.

#include <memory>

#include "app/AppSystem.h"
#include "app/DeviceWatch.h"
#include "app/MainWnd.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "framework/WinThread.h"

class CZephraApp : public CWinApp {
public:
    explicit CZephraApp(const AppSystem& system) : system_(system) {}

    // Runs the host dialog modally; always false, so the program ends with it.
    BOOL InitInstance() override;

private:
    AppSystem system_;
};

class CZephraDlg : public CDialog {
public:
    enum { IDD = 102 };

    explicit CZephraDlg(const AppSystem& system, CWnd* parent = nullptr);
    // Waits for the worker should it still run (DestroyWindow normally has already).
    ~CZephraDlg() override;

    // Stops the worker: raises stopRescan (waking it from its pause), withdraws the
    // notification registration, destroys the window, then waits for the worker to end,
    // which takes at most one configuration-manager call.
    BOOL DestroyWindow() override;

    CMainWnd& MainWindow() { return mainWnd; }
    const RescanWorker& Rescan() const { return rescan; }
    const CWinThread* RescanThread() const { return rescanThread.get(); }

protected:
    const MessageMap* GetMessageMap() const override;
    BOOL OnInitDialog() override;

    // The minimised window shows the icon; otherwise the default painting.
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    // After the first paint: registers for disk-interface notifications, enumerates once
    // more, starts the worker.
    void OnFirstFramePainted();
    // Arrival and completed removal of a disk interface refresh the panel. Always true.
    BOOL OnDeviceChange(UINT event, DWORD_PTR data);

    CMainWnd mainWnd;
    platform::Handle devNotify = nullptr;
    // Holds stopRescan. Lives as long as the dialog, which outlives the worker: the
    // worker is always waited for before the dialog goes.
    RescanWorker rescan;
    std::unique_ptr<CWinThread> rescanThread;
    HICON appIcon = nullptr;

private:
    platform::DeviceWatchIo& watch_;
};
