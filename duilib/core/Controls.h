#pragma once
// The controls of a skinned window: state, attributes, layout and what each draws.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "duilib/core/RenderTarget.h"
#include "duilib/core/UIBase.h"

namespace DuiLib {

class CPaintManagerCore;
class CContainerUI;

class CControlUI {
public:
    CControlUI() = default;
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;
    virtual ~CControlUI() = default;

    // The text each control kind reports for itself, e.g. L"ButtonUI".
    virtual std::wstring_view GetClass() const { return L"ControlUI"; }
    virtual CContainerUI* AsContainer() { return nullptr; }
    // Whether a press and release over the control makes a "click".
    virtual bool IsClickable() const { return false; }

    const std::wstring& GetName() const { return name_; }
    void SetName(std::wstring name) { name_ = std::move(name); }

    const std::wstring& GetText() const { return text_; }
    void SetText(std::wstring text);
    // The layout's "tooltip": the name of a control that shows no text, else its description.
    const std::wstring& GetToolTip() const { return toolTip_; }

    // The rectangle in window client coordinates, as the last layout placed it.
    const UiRect& GetPos() const { return rect_; }
    // Places a floating control relative to its parent (x, y from left and top; the size
    // from the rectangle). For other controls the parent's layout decides.
    void SetPos(const UiRect& relative);

    bool IsFloat() const { return float_; }
    void SetFloat(bool value);
    UiPoint GetFixedXY() const { return fixedXY_; }
    int GetFixedWidth() const { return fixedWidth_; }
    int GetFixedHeight() const { return fixedHeight_; }
    void SetFixedWidth(int width);
    void SetFixedHeight(int height);

    bool IsVisible() const { return visible_; }
    void SetVisible(bool visible);
    bool IsEnabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    Argb GetBkColor() const { return bkColor_; }
    const std::wstring& GetBkImage() const { return bkImage_; }
    int GetBorderSize() const { return borderSize_; }
    Argb GetBorderColor() const { return borderColor_; }
    Argb GetTextColor() const { return textColor_; }
    Argb GetDisabledTextColor() const { return disabledTextColor_; }
    int GetFont() const { return font_; }  // -1: the default font
    void SetFont(int id);
    unsigned GetTextStyle() const { return textStyle_; }
    const UiRect& GetTextPadding() const { return textPadding_; }

    // Applies one layout attribute; unknown names and unreadable values are ignored.
    virtual void SetAttribute(std::wstring_view name, std::wstring_view value);
    // A length attribute (position, size, padding, border) as the layout wrote it, for
    // 96 DPI; the paint manager applies these again, scaled, when the window's DPI changes.
    void KeepDesignLength(std::wstring_view name, std::wstring_view value) {
        designLengths_.emplace_back(name, value);
    }
    const std::vector<std::pair<std::wstring, std::wstring>>& DesignLengths() const { return designLengths_; }

    CContainerUI* GetParent() const { return parent_; }
    CPaintManagerCore* GetManager() const { return manager_; }
    virtual void SetManager(CPaintManagerCore* manager, CContainerUI* parent);

    // Layout calls this with the rectangle in window client coordinates.
    virtual void Arrange(const UiRect& rect) { rect_ = rect; }
    // Asks for the whole window to be laid out again, e.g. after a size change.
    void NeedParentUpdate();
    void Invalidate();

    // The deepest visible control under the point, this one included.
    virtual CControlUI* FindControlAt(UiPoint point);
    virtual CControlUI* FindControlByName(std::wstring_view name);

    // Pointer states; only buttons show them.
    virtual void SetHot(bool) {}
    virtual void SetPushed(bool) {}

    // Draws the part of the control inside the dirty rectangle.
    virtual void Paint(IRenderTarget& target, const UiRect& dirty);

protected:
    virtual void PaintStatusImage(IRenderTarget&) {}
    virtual void PaintText(IRenderTarget&) {}

    unsigned textStyle_ = TextLeft;
    UiRect textPadding_{};

private:
    std::wstring name_;
    std::wstring text_;
    std::wstring toolTip_;
    UiRect rect_{};
    bool float_ = false;
    UiPoint fixedXY_{};
    int fixedWidth_ = 0;
    int fixedHeight_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    Argb bkColor_ = 0;
    std::wstring bkImage_;
    int borderSize_ = 0;
    Argb borderColor_ = 0;
    Argb textColor_ = 0xFF000000u;
    Argb disabledTextColor_ = 0xFFA7A6AAu;
    int font_ = -1;
    std::vector<std::pair<std::wstring, std::wstring>> designLengths_;
    CPaintManagerCore* manager_ = nullptr;
    CContainerUI* parent_ = nullptr;
};

// One line of text, vertically centred.
class CLabelUI : public CControlUI {
public:
    CLabelUI() { textStyle_ = TextSingleLine | TextVCenter | TextLeft; }
    std::wstring_view GetClass() const override { return L"LabelUI"; }

protected:
    void PaintText(IRenderTarget& target) override;
};

// Word-wrapped text, inset 2 pixels left and right unless textpadding says otherwise.
class CTextUI : public CLabelUI {
public:
    CTextUI() {
        textStyle_ = TextWordBreak | TextLeft;
        textPadding_ = {2, 0, 2, 0};
    }
    std::wstring_view GetClass() const override { return L"TextUI"; }
};

class CButtonUI : public CLabelUI {
public:
    CButtonUI() { textStyle_ = TextSingleLine | TextVCenter | TextCenter; }
    std::wstring_view GetClass() const override { return L"ButtonUI"; }
    bool IsClickable() const override { return true; }

    void SetAttribute(std::wstring_view name, std::wstring_view value) override;

    const std::wstring& GetNormalImage() const { return normalImage_; }
    const std::wstring& GetHotImage() const { return hotImage_; }
    const std::wstring& GetPushedImage() const { return pushedImage_; }
    const std::wstring& GetDisabledImage() const { return disabledImage_; }
    void SetNormalImage(std::wstring name);
    void SetHotImage(std::wstring name);
    void SetPushedImage(std::wstring name);
    void SetDisabledImage(std::wstring name);

    bool IsHot() const { return hot_; }
    bool IsPushed() const { return pushed_; }
    void SetHot(bool hot) override;
    void SetPushed(bool pushed) override;

protected:
    // The state's own image, or this button's normal image when the state has none.
    void PaintStatusImage(IRenderTarget& target) override;

private:
    std::wstring normalImage_;
    std::wstring hotImage_;
    std::wstring pushedImage_;
    std::wstring disabledImage_;
    bool hot_ = false;
    bool pushed_ = false;
};

class CContainerUI : public CControlUI {
public:
    std::wstring_view GetClass() const override { return L"ContainerUI"; }
    CContainerUI* AsContainer() override { return this; }

    void Add(std::unique_ptr<CControlUI> child);
    std::size_t GetCount() const { return children_.size(); }
    CControlUI* GetItemAt(std::size_t index) const {
        return index < children_.size() ? children_[index].get() : nullptr;
    }

    void SetManager(CPaintManagerCore* manager, CContainerUI* parent) override;
    CControlUI* FindControlAt(UiPoint point) override;
    CControlUI* FindControlByName(std::wstring_view name) override;
    void Paint(IRenderTarget& target, const UiRect& dirty) override;

protected:
    // Floating children at their fixed place relative to this control.
    void ArrangeFloating(CControlUI& child);

    std::vector<std::unique_ptr<CControlUI>> children_;
};

// Stacks its non-floating children top to bottom: fixed heights first, the rest shared.
class CVerticalLayoutUI : public CContainerUI {
public:
    std::wstring_view GetClass() const override { return L"VerticalLayoutUI"; }
    void Arrange(const UiRect& rect) override;
};

}  // namespace DuiLib
