#include "duilib/core/KeyboardFocus.h"

#include <algorithm>

#include "duilib/core/PaintManagerCore.h"

namespace DuiLib {
namespace {

void Collect(CControlUI* control, std::vector<CControlUI*>& out) {
    if (!control || !control->IsVisible()) return;
    if (control->IsClickable() && control->IsEnabled()) out.push_back(control);
    if (CContainerUI* container = control->AsContainer()) {
        for (std::size_t i = 0; i < container->GetCount(); ++i) Collect(container->GetItemAt(i), out);
    }
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

std::vector<CControlUI*> TabOrder(CControlUI* root) {
    std::vector<CControlUI*> order;
    Collect(root, order);
    return order;
}

bool IsFocusable(const CControlUI* control) {
    if (!control || !control->IsClickable() || !control->IsEnabled()) return false;
    for (const CControlUI* c = control; c; c = c->GetParent()) {
        if (!c->IsVisible()) return false;
    }
    return true;
}

CControlUI* NextInTabOrder(const std::vector<CControlUI*>& order, const CControlUI* current, bool forward) {
    if (order.empty()) return nullptr;
    const auto at = std::find(order.begin(), order.end(), current);
    if (at == order.end()) return forward ? order.front() : order.back();
    const std::size_t index = static_cast<std::size_t>(at - order.begin());
    const std::size_t n = order.size();
    return order[forward ? (index + 1) % n : (index + n - 1) % n];
}

CControlUI* MnemonicTarget(const std::vector<CControlUI*>& order, wchar_t letter) {
    const bool isLetter = (letter >= L'a' && letter <= L'z') || (letter >= L'A' && letter <= L'Z');
    if (!isLetter) return nullptr;
    for (CControlUI* control : order) {
        const std::wstring& text = control->GetText();
        if (!text.empty() && FoldAscii(text.front()) == FoldAscii(letter)) return control;
    }
    return nullptr;
}

// The paint manager's keyboard half.

CControlUI* CPaintManagerCore::GetFocus() const { return IsFocusable(focus_) ? focus_ : nullptr; }

void CPaintManagerCore::SetFocus(CControlUI* control) {
    if (control && !IsFocusable(control)) return;
    if (control == focus_) return;
    if (focus_) focus_->Invalidate();
    focus_ = control;
    if (focus_) focus_->Invalidate();
    FocusMoved(focus_);
}

void CPaintManagerCore::ShowFocusCues() {
    if (focusCues_) return;
    focusCues_ = true;
    if (focus_) focus_->Invalidate();
}

void CPaintManagerCore::HideFocusCues() {
    if (!focusCues_) return;
    focusCues_ = false;
    if (focus_) focus_->Invalidate();
}

bool CPaintManagerCore::WantsKey(NavKey key) const {
    switch (key) {
    case NavKey::Tab:
    case NavKey::Left:
    case NavKey::Right:
    case NavKey::Up:
    case NavKey::Down:
        return !TabOrder(root_.get()).empty();
    case NavKey::Space:
    case NavKey::Enter:
        return GetFocus() != nullptr;
    default:
        return false;
    }
}

CControlUI* CPaintManagerCore::OnKeyDown(NavKey key, bool shift, bool repeat) {
    switch (key) {
    case NavKey::Tab:
    case NavKey::Left:
    case NavKey::Right:
    case NavKey::Up:
    case NavKey::Down: {
        const auto order = TabOrder(root_.get());
        if (order.empty()) return nullptr;
        const bool forward = key == NavKey::Tab ? !shift : (key == NavKey::Right || key == NavKey::Down);
        ShowFocusCues();
        SetFocus(NextInTabOrder(order, GetFocus(), forward));
        return nullptr;
    }
    case NavKey::Space:
    case NavKey::Enter: {
        CControlUI* focused = GetFocus();
        if (!focused) return nullptr;
        ShowFocusCues();
        return repeat ? nullptr : focused;
    }
    default:
        return nullptr;
    }
}

CControlUI* CPaintManagerCore::OnChar(wchar_t ch, bool repeat) {
    if (!mnemonics_ || repeat) return nullptr;
    CControlUI* target = MnemonicTarget(TabOrder(root_.get()), ch);
    if (target) {
        ShowFocusCues();
        SetFocus(target);
    }
    return target;
}

}  // namespace DuiLib
