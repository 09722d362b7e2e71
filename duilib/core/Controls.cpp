#include "duilib/core/Controls.h"

#include <algorithm>

#include "duilib/core/PaintManagerCore.h"

namespace DuiLib {

void CControlUI::SetText(std::wstring text) {
    if (text == text_) return;
    text_ = std::move(text);
    Invalidate();
    if (manager_) manager_->ControlChanged(this, ControlChange::Text);
}

void CControlUI::SetPos(const UiRect& relative) {
    fixedXY_ = {relative.left, relative.top};
    fixedWidth_ = std::max(0, relative.Width());
    fixedHeight_ = std::max(0, relative.Height());
    NeedParentUpdate();
}

void CControlUI::SetFloat(bool value) {
    float_ = value;
    NeedParentUpdate();
}

void CControlUI::SetFixedWidth(int width) {
    fixedWidth_ = std::max(0, width);
    NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int height) {
    fixedHeight_ = std::max(0, height);
    NeedParentUpdate();
}

void CControlUI::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    NeedParentUpdate();
}

void CControlUI::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Invalidate();
    if (manager_) manager_->ControlChanged(this, ControlChange::State);
}

void CControlUI::SetFont(int id) {
    font_ = id;
    Invalidate();
}

void CControlUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
    if (name == L"name") {
        name_ = std::wstring(value);
    } else if (name == L"text") {
        SetText(std::wstring(value));
    } else if (name == L"tooltip") {
        toolTip_ = std::wstring(value);
    } else if (name == L"pos") {
        if (const auto rect = ParseRect(value)) {
            // "x,y,0,0" only places the control; width and height size it.
            if (rect->right == 0 && rect->bottom == 0) {
                fixedXY_ = {rect->left, rect->top};
                NeedParentUpdate();
            } else {
                SetPos(*rect);
            }
        }
    } else if (name == L"float") {
        SetFloat(ParseBool(value));
    } else if (name == L"width") {
        if (const auto v = ParseInt(value)) SetFixedWidth(*v);
    } else if (name == L"height") {
        if (const auto v = ParseInt(value)) SetFixedHeight(*v);
    } else if (name == L"bkcolor") {
        if (const auto c = ParseColor(value)) bkColor_ = *c;
    } else if (name == L"bkimage") {
        bkImage_ = std::wstring(value);
    } else if (name == L"bordersize") {
        if (const auto v = ParseInt(value)) borderSize_ = std::max(0, *v);
    } else if (name == L"bordercolor") {
        if (const auto c = ParseColor(value)) borderColor_ = *c;
    } else if (name == L"textcolor") {
        if (const auto c = ParseColor(value)) textColor_ = *c;
    } else if (name == L"disabledtextcolor") {
        if (const auto c = ParseColor(value)) disabledTextColor_ = *c;
    } else if (name == L"font") {
        if (const auto v = ParseInt(value)) font_ = *v;
    } else if (name == L"align") {
        // Anything else, "wrap" among them, leaves the style as it is.
        if (value == L"left") {
            textStyle_ = (textStyle_ & ~TextHorizontalMask) | TextLeft;
        } else if (value == L"center") {
            textStyle_ = (textStyle_ & ~TextHorizontalMask) | TextCenter;
        } else if (value == L"right") {
            textStyle_ = (textStyle_ & ~TextHorizontalMask) | TextRight;
        }
    } else if (name == L"textpadding") {
        if (const auto rect = ParseRect(value)) textPadding_ = *rect;
    } else if (name == L"enabled") {
        SetEnabled(ParseBool(value));
    } else if (name == L"visible") {
        SetVisible(ParseBool(value));
    } else {
        return;
    }
    Invalidate();
}

void CControlUI::SetManager(CPaintManagerCore* manager, CContainerUI* parent) {
    manager_ = manager;
    parent_ = parent;
}

void CControlUI::NeedParentUpdate() {
    if (manager_) manager_->NeedUpdate();
}

void CControlUI::Invalidate() {
    if (manager_ && !rect_.IsEmpty()) manager_->Invalidate(rect_);
}

CControlUI* CControlUI::FindControlAt(UiPoint point) {
    return visible_ && rect_.Contains(point) ? this : nullptr;
}

CControlUI* CControlUI::FindControlByName(std::wstring_view name) {
    return !name.empty() && name_ == name ? this : nullptr;
}

void CControlUI::Paint(IRenderTarget& target, const UiRect& dirty) {
    if (!visible_ || rect_.IsEmpty() || !rect_.Intersects(dirty)) return;
    if (AlphaOf(bkColor_) != 0) target.FillColor(rect_, bkColor_);
    if (!bkImage_.empty()) target.DrawImage(bkImage_, rect_);
    PaintStatusImage(target);
    PaintText(target);
    if (borderSize_ > 0) target.DrawFrame(rect_, borderSize_, Opaque(borderColor_));
}

void CLabelUI::PaintText(IRenderTarget& target) {
    if (GetText().empty()) return;
    const Argb color = IsEnabled() ? GetTextColor() : GetDisabledTextColor();
    target.DrawText(GetPos().Deflated(textPadding_), GetText(), GetFont(), Opaque(color), textStyle_);
}

void CButtonUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
    if (name == L"normalimage") {
        SetNormalImage(std::wstring(value));
    } else if (name == L"hotimage") {
        SetHotImage(std::wstring(value));
    } else if (name == L"pushedimage") {
        SetPushedImage(std::wstring(value));
    } else if (name == L"disabledimage") {
        SetDisabledImage(std::wstring(value));
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

void CButtonUI::SetNormalImage(std::wstring name) {
    normalImage_ = std::move(name);
    Invalidate();
}

void CButtonUI::SetHotImage(std::wstring name) {
    hotImage_ = std::move(name);
    Invalidate();
}

void CButtonUI::SetPushedImage(std::wstring name) {
    pushedImage_ = std::move(name);
    Invalidate();
}

void CButtonUI::SetDisabledImage(std::wstring name) {
    disabledImage_ = std::move(name);
    Invalidate();
}

void CButtonUI::SetHot(bool hot) {
    if (hot == hot_) return;
    hot_ = hot;
    Invalidate();
}

void CButtonUI::SetPushed(bool pushed) {
    if (pushed == pushed_) return;
    pushed_ = pushed;
    Invalidate();
}

void CButtonUI::PaintStatusImage(IRenderTarget& target) {
    const std::wstring* image = &normalImage_;
    if (!IsEnabled()) {
        if (!disabledImage_.empty()) image = &disabledImage_;
    } else if (pushed_) {
        if (!pushedImage_.empty()) image = &pushedImage_;
    } else if (hot_) {
        if (!hotImage_.empty()) image = &hotImage_;
    }
    if (!image->empty()) target.DrawImage(*image, GetPos());
}

void CContainerUI::Add(std::unique_ptr<CControlUI> child) {
    if (!child) return;
    child->SetManager(GetManager(), this);
    children_.push_back(std::move(child));
    NeedParentUpdate();
}

void CContainerUI::SetManager(CPaintManagerCore* manager, CContainerUI* parent) {
    CControlUI::SetManager(manager, parent);
    for (auto& child : children_) child->SetManager(manager, this);
}

CControlUI* CContainerUI::FindControlAt(UiPoint point) {
    if (!CControlUI::FindControlAt(point)) return nullptr;
    // Later children are drawn on top, so they are hit first.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (CControlUI* found = (*it)->FindControlAt(point)) return found;
    }
    return this;
}

CControlUI* CContainerUI::FindControlByName(std::wstring_view name) {
    if (CControlUI* self = CControlUI::FindControlByName(name)) return self;
    for (auto& child : children_) {
        if (CControlUI* found = child->FindControlByName(name)) return found;
    }
    return nullptr;
}

void CContainerUI::Paint(IRenderTarget& target, const UiRect& dirty) {
    if (!IsVisible()) return;
    CControlUI::Paint(target, dirty);
    for (auto& child : children_) child->Paint(target, dirty);
}

void CContainerUI::ArrangeFloating(CControlUI& child) {
    const UiRect& parent = GetPos();
    const UiPoint xy = child.GetFixedXY();
    const int left = parent.left + xy.x;
    const int top = parent.top + xy.y;
    child.Arrange({left, top, left + child.GetFixedWidth(), top + child.GetFixedHeight()});
}

void CVerticalLayoutUI::Arrange(const UiRect& rect) {
    CControlUI::Arrange(rect);
    int fixedTotal = 0;
    int flexible = 0;
    for (auto& child : children_) {
        if (!child->IsVisible() || child->IsFloat()) continue;
        if (child->GetFixedHeight() > 0) {
            fixedTotal += child->GetFixedHeight();
        } else {
            ++flexible;
        }
    }
    const int share = flexible > 0 ? std::max(0, rect.Height() - fixedTotal) / flexible : 0;
    int top = rect.top;
    for (auto& child : children_) {
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            ArrangeFloating(*child);
            continue;
        }
        const int height = child->GetFixedHeight() > 0 ? child->GetFixedHeight() : share;
        const int width = child->GetFixedWidth() > 0 ? child->GetFixedWidth() : rect.Width();
        child->Arrange({rect.left, top, rect.left + width, top + height});
        top += height;
    }
}

}  // namespace DuiLib
