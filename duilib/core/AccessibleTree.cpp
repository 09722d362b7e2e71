#include "duilib/core/AccessibleTree.h"

#include "duilib/core/KeyboardFocus.h"

namespace DuiLib {
namespace {

void CollectLeaves(CControlUI* control, std::vector<CControlUI*>& out) {
    if (!control) return;
    if (CContainerUI* container = control->AsContainer()) {
        for (std::size_t i = 0; i < container->GetCount(); ++i) CollectLeaves(container->GetItemAt(i), out);
    } else {
        out.push_back(control);
    }
}

bool ShownWithAncestors(const CControlUI& control) {
    for (const CControlUI* c = &control; c; c = c->GetParent()) {
        if (!c->IsVisible()) return false;
    }
    return !control.GetPos().IsEmpty();
}

// Labels, texts and buttons draw their text; a plain control's text is layout data.
bool ShowsText(const CControlUI& control) { return dynamic_cast<const CLabelUI*>(&control) != nullptr; }

CTextUI* FirstText(CControlUI* control) {
    if (!control || !control->IsVisible()) return nullptr;
    if (auto* text = dynamic_cast<CTextUI*>(control); text && !text->GetText().empty()) return text;
    if (CContainerUI* container = control->AsContainer()) {
        for (std::size_t i = 0; i < container->GetCount(); ++i) {
            if (CTextUI* found = FirstText(container->GetItemAt(i))) return found;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<CControlUI*> AccessibleChildren(CControlUI* root) {
    std::vector<CControlUI*> children;
    CollectLeaves(root, children);
    return children;
}

AccessibleItem DescribeControl(const CControlUI& control, const CControlUI* focused, bool windowHasFocus) {
    AccessibleItem item;
    const bool namedByText = ShowsText(control) && !control.GetText().empty();
    item.name = namedByText ? control.GetText() : control.GetToolTip();
    if (namedByText) item.description = control.GetToolTip();

    if (control.IsClickable()) {
        item.role = AccessibleRole::PushButton;
        if (IsFocusable(&control)) {
            item.states |= StateFocusable;
            item.defaultAction = L"Press";
            if (windowHasFocus && focused == &control) item.states |= StateFocused;
        }
        if (const auto* button = dynamic_cast<const CButtonUI*>(&control)) {
            if (button->IsPushed()) item.states |= StatePressed;
            if (button->IsHot()) item.states |= StateHotTracked;
        }
    } else {
        item.role = ShowsText(control) ? AccessibleRole::StaticText : AccessibleRole::Graphic;
        item.states |= StateReadOnly;
    }
    if (!control.IsEnabled()) item.states |= StateUnavailable;
    if (!ShownWithAncestors(control)) item.states |= StateInvisible;
    return item;
}

std::wstring AccessibleWindowName(const std::wstring& title, CControlUI* root) {
    if (!title.empty()) return title;
    const CTextUI* text = FirstText(root);
    return text ? text->GetText() : std::wstring();
}

}  // namespace DuiLib
