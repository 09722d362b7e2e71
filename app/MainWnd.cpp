#include "app/MainWnd.h"

#include <optional>
#include <string>

#include "app/DevicePanel.h"
#include "discovery/Enumerate.h"

using DuiLib::CButtonUI;
using DuiLib::CControlUI;
using DuiLib::CPaintManagerUI;

CMainWnd::CMainWnd(const platform::System& machine, platform::ShutdownIo& shutdown)
    : machine_(machine), shutdown_(shutdown) {
    CWndShadow::RegisterShadowClass(CPaintManagerUI::GetInstance());
}

CMainWnd::~CMainWnd() {
    CPaintManagerUI::CloseZip();
    discovery::ReleaseDrives(drives);
}

LRESULT CMainWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return CBaseDuilibWnd::HandleMessage(message, wParam, lParam);
}

void CMainWnd::AttachToHost(CZephraDlg* host) {
    owner = host;
    const HWND window = GetHWND();
    ::SetWindowLongW(window, GWL_STYLE, ::GetWindowLongW(window, GWL_STYLE) & ~WS_CAPTION);
    // The name the taskbar and assistive technology give the window.
    ::SetWindowTextW(window, L"Zephra");
    LoadSkin();
    paintManager.AttachDialog(BuildLayout(L"mainSkin.xml"));
    paintManager.AddNotifier(this);
    minButton = paintManager.FindControl(L"btnMin");
    closeButton = paintManager.FindControl(L"btnClose");
    discovery::EnumerateDrives(machine_, drives);
    UpdateDevicePanel();
    // The keyboard starts on the switch; a disabled one takes no focus, and Enter then
    // stays the dialog's default.
    paintManager.SetFocus(paintManager.FindControl(L"btnOption"));
}

void CMainWnd::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType == L"click" && msg.pSender && msg.pSender->GetName() == L"btnOption") {
        // A press that reaches the switch while its own box is open does nothing.
        switchGate.RunSwitch([this] { SwitchOptimize(); }, [this] { Reenumerate(); });
    }
    CBaseDuilibWnd::Notify(msg);
}

void CMainWnd::RefreshDrives() {
    switchGate.DeviceChanged([this] { Reenumerate(); });
}

void CMainWnd::Reenumerate() {
    discovery::EnumerateDrives(machine_, drives);
    UpdateDevicePanel();
}

namespace {

void SetText(CControlUI* control, std::wstring text) {
    if (control) control->SetText(std::move(text));
}

}  // namespace

void CMainWnd::ShowHealth(CControlUI* caption, CControlUI* value, const PanelView& view) {
    // Set once, not cleared first: a screen reader hears the line only when it changes.
    SetText(caption, view.healthCaption);
    if (!value) return;
    value->SetAttribute(L"textcolor", view.health.warning ? HealthWarningColor : HealthNormalColor);
    value->SetAttribute(L"tooltip", view.healthTooltip);
    SetText(value, view.health.text);
}

void CMainWnd::UpdateDevicePanel() {
    CControlUI* device = paintManager.FindControl(L"LabelDevice");
    CControlUI* modelCaption = paintManager.FindControl(L"LabelMN");
    CControlUI* capacityCaption = paintManager.FindControl(L"LabelCap");
    CControlUI* statusCaption = paintManager.FindControl(L"LabelStatus");
    CControlUI* model = paintManager.FindControl(L"LabelMnVal");
    CControlUI* capacity = paintManager.FindControl(L"LabelCapVal");
    CControlUI* status = paintManager.FindControl(L"LabelStatusVal");
    CControlUI* notice = paintManager.FindControl(L"TextNotice");
    CControlUI* option = paintManager.FindControl(L"btnOption");
    CControlUI* healthCaption = paintManager.FindControl(L"LabelHealth");
    CControlUI* health = paintManager.FindControl(L"LabelHealthVal");

    const discovery::DiskInfo* drive = drives[0].get();
    std::optional<ShownDrive> shown;
    if (drive) {
        shown = ShownDrive{drive->modelNumber.data(), drive->totalSectors, drive->bytesPerSector,
                           drive->optimizeState, drive->firmwareRev.data(), drive->health};
    }
    const PanelView view = DecidePanel(shown ? &*shown : nullptr);

    // Each control is set once, to what it ends up showing: a refresh that changes nothing
    // announces nothing to assistive technology.
    SetText(modelCaption, LoadResString(TextModelCaption));
    SetText(capacityCaption, LoadResString(TextCapacityCaption));
    SetText(statusCaption, LoadResString(TextStatusCaption));
    SetText(notice, LoadResString(TextNotice));
    SetText(device, view.hasDrive ? std::wstring(DeviceHeading) : LoadResString(TextNoDevice));
    ShowHealth(healthCaption, health, view);
    SetText(model, view.modelNumber);
    SetText(capacity, view.capacity);
    SetText(status, view.statusId ? LoadResString(view.statusId) : std::wstring());
    if (!option) return;
    option->SetEnabled(view.buttonEnabled);
    // Without a drive the button keeps its text and images.
    if (!view.button) return;
    if (auto* button = dynamic_cast<CButtonUI*>(option)) {
        button->SetHotImage(view.button->hotImage);
        button->SetNormalImage(view.button->normalImage);
        button->SetDisabledImage(view.button->disabledImage);
        button->SetPushedImage(view.button->pushedImage);
    }
    option->SetText(LoadResString(view.button->textId));
}
