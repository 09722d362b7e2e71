#pragma once
// The window the user sees: the skin "mainSkin.xml" drawn in the host dialog's own
// window, with the device panel for the drive in slot 0 of the drive table it owns, and
// the switch button "btnOption".

#include <cstdint>

#include "app/SwitchGate.h"
#include "discovery/DiskInfo.h"
#include "platform/DriveLockIo.h"
#include "platform/ShutdownIo.h"
#include "platform/System.h"
#include "ui/BaseDuilibWnd.h"

class CZephraDlg;
struct PanelView;

class CMainWnd : public CBaseDuilibWnd {
public:
    CMainWnd(const platform::System& machine, platform::ShutdownIo& shutdown);
    // Closes the skin library's cached package, then releases the drives.
    ~CMainWnd() override;

    // Once the dialog's window has been taken over: drops the caption style, builds the
    // skin, enumerates the drives and fills the panel.
    void AttachToHost(CZephraDlg* host);
    // A click on "btnOption" runs the switch, unless it is running already; every
    // notification then goes to the base (minimise and close).
    void Notify(DuiLib::TNotifyUI& msg) override;
    // A new enumeration and panel; while the switch runs, once it has ended.
    void RefreshDrives();
    // Fills the panel from slot 0 of the drive table; controls not found are skipped.
    void UpdateDevicePanel();
    // The optimize switch of the drive in slot 0: confirmation, the vendor command, then the
    // forced shutdown or one error box.
    void SwitchOptimize();
    // The machine-wide drive locks the switch takes (none: it takes none).
    void SetDriveLocks(platform::DriveLockIo* locks) { locks_ = locks; }

    const discovery::DriveTable& Drives() const { return drives; }
    bool IsSwitching() const { return switchGate.Running(); }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The start-up shows the window first; its shadow follows.
    bool ShadowFollowsFirstFrame() const override { return true; }

    discovery::DriveTable drives;
    // Holds the drive table still while the switch runs.
    SwitchGate switchGate;

private:
    // The health line: caption, value in its colour, and the tooltip with the firmware.
    void ShowHealth(DuiLib::CControlUI* caption, DuiLib::CControlUI* value, const PanelView& view);
    void Reenumerate();

    platform::System machine_;
    platform::ShutdownIo& shutdown_;
    platform::DriveLockIo* locks_ = nullptr;
};
