#include "app/MainWnd.h"

#include "optimize/SwitchFlow.h"
#include "ui/DuiMessageBox.h"

namespace {

// Ids of the program's string table that the switch uses.
enum SwitchTextId : unsigned {
    TextYes = 129,
    TextNo = 130,
    TextOk = 131,
    TextConfirmSwitch = 134,
    TextYesNoLayout = 135,
    TextOkLayout = 145,
};

// The confirmation and the error boxes, owned by the main window.
class BoxesOf : public SwitchUser {
public:
    explicit BoxesOf(const CMainWnd& window) : window_(window) {}

    bool ConfirmSwitch() override {
        return ShowMessageBox(MessageBoxTypeYesNo, LoadResString(TextYesNoLayout).c_str(),
                              LoadResString(TextYes).c_str(), LoadResString(TextNo).c_str(), &window_,
                              LoadResString(TextConfirmSwitch).c_str()) == MessageBoxResultYes;
    }
    void ShowSwitchError(const std::wstring& text) override {
        ShowMessageBox(MessageBoxTypeOk, LoadResString(TextOkLayout).c_str(), LoadResString(TextOk).c_str(), nullptr,
                       &window_, text.c_str());
    }

private:
    const CMainWnd& window_;
};

}  // namespace

void CMainWnd::SwitchOptimize() {
    // The button is enabled only with a drive in slot 0; a click that comes anyway does nothing.
    const discovery::DiskInfo* drive = drives[0].get();
    if (!drive) return;
    BoxesOf boxes(*this);
    const SwitchResult result = RunOptimizeSwitch(*drive, machine_.io, shutdown_, boxes, locks_);
    // The path led to another drive: the table is stale. The record goes with it, so the
    // new enumeration waits, with any device change, until the switch has ended.
    if (result.refreshPanel) RefreshDrives();
}
