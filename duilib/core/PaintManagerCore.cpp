#include "duilib/core/PaintManagerCore.h"

#include <algorithm>
#include <utility>

#include "duilib/core/DpiScale.h"

namespace DuiLib {

void CPaintManagerCore::AttachDialog(std::unique_ptr<CControlUI> root) {
    hot_ = nullptr;
    pressed_ = nullptr;
    focus_ = nullptr;
    root_ = std::move(root);
    if (root_) root_->SetManager(this, nullptr);
    NeedUpdate();
}

namespace {

void ApplyDesignLengths(CControlUI& control, int dpi) {
    for (const auto& [name, value] : control.DesignLengths()) {
        control.SetAttribute(name, ScaleAttributeValue(value, dpi));
    }
    if (CContainerUI* container = control.AsContainer()) {
        for (std::size_t i = 0; i < container->GetCount(); ++i) ApplyDesignLengths(*container->GetItemAt(i), dpi);
    }
}

}  // namespace

UiRect CPaintManagerCore::GetCaptionRect() const { return ScaleByDpi(caption_, dpi_); }

void CPaintManagerCore::SetDpi(int dpi) {
    dpi = SaneDpi(dpi);
    if (dpi == dpi_) return;
    dpi_ = dpi;
    if (root_) ApplyDesignLengths(*root_, dpi_);
    NeedUpdate();
}

CControlUI* CPaintManagerCore::FindControl(std::wstring_view name) const {
    return root_ ? root_->FindControlByName(name) : nullptr;
}

CControlUI* CPaintManagerCore::FindControl(UiPoint point) {
    EnsureLayout();
    return root_ ? root_->FindControlAt(point) : nullptr;
}

void CPaintManagerCore::AddNotifier(INotifyUI* notifier) {
    if (notifier && std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end()) {
        notifiers_.push_back(notifier);
    }
}

void CPaintManagerCore::RemoveNotifier(INotifyUI* notifier) {
    notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), notifier), notifiers_.end());
}

void CPaintManagerCore::SendNotify(CControlUI* sender, std::wstring_view type) {
    TNotifyUI msg;
    msg.sType = std::wstring(type);
    msg.pSender = sender;
    Broadcast(msg);
}

void CPaintManagerCore::Broadcast(TNotifyUI& msg) {
    // By index: a receiver may add another while being notified.
    for (std::size_t i = 0; i < notifiers_.size(); ++i) notifiers_[i]->Notify(msg);
}

void CPaintManagerCore::AddFont(const FontSpec& font) {
    auto same = std::find_if(fonts_.begin(), fonts_.end(), [&](const FontSpec& f) { return f.id == font.id; });
    if (same != fonts_.end()) {
        *same = font;
    } else {
        fonts_.push_back(font);
    }
}

const FontSpec* CPaintManagerCore::GetFontSpec(int id) const {
    auto it = std::find_if(fonts_.begin(), fonts_.end(), [&](const FontSpec& f) { return f.id == id; });
    return it != fonts_.end() ? &*it : nullptr;
}

void CPaintManagerCore::EnsureLayout() {
    if (!root_) return;
    const UiRect client = ClientRect();
    if (needLayout_ || client != laidOut_) {
        needLayout_ = false;
        laidOut_ = client;
        root_->Arrange(client);
    }
}

void CPaintManagerCore::NeedUpdate() {
    needLayout_ = true;
    Invalidate(ClientRect());
}

void CPaintManagerCore::SetHotControl(CControlUI* control) {
    if (control && !control->IsEnabled()) control = nullptr;
    if (control == hot_) return;
    if (hot_) hot_->SetHot(false);
    hot_ = control;
    if (hot_) hot_->SetHot(true);
}

void CPaintManagerCore::OnMouseMove(UiPoint point) {
    if (pressed_) {
        // A pressed button looks pushed only while the pointer is over it.
        pressed_->SetPushed(pressed_->GetPos().Contains(point));
        return;
    }
    SetHotControl(FindControl(point));
}

void CPaintManagerCore::OnMouseLeave() {
    if (!pressed_) SetHotControl(nullptr);
}

bool CPaintManagerCore::OnMouseDown(UiPoint point) {
    CControlUI* control = FindControl(point);
    if (!control || !control->IsClickable() || !control->IsEnabled()) return false;
    pressed_ = control;
    SetHotControl(control);
    control->SetPushed(true);
    SetFocus(control);  // as a system button takes the focus when pressed
    return true;
}

CControlUI* CPaintManagerCore::OnMouseUp(UiPoint point) {
    CControlUI* control = std::exchange(pressed_, nullptr);
    if (!control) return nullptr;
    control->SetPushed(false);
    const bool over = control->IsVisible() && control->IsEnabled() && control->GetPos().Contains(point);
    SetHotControl(FindControl(point));
    return over ? control : nullptr;
}

void CPaintManagerCore::NotifyClick(CControlUI* control, UiPoint point) {
    if (!control) return;
    TNotifyUI msg;
    msg.sType = L"click";
    msg.pSender = control;
    msg.ptMouse = point;
    Broadcast(msg);
}

void CPaintManagerCore::OnPressCancelled() {
    if (CControlUI* control = std::exchange(pressed_, nullptr)) control->SetPushed(false);
}

}  // namespace DuiLib
