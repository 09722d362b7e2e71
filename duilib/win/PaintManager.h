#pragma once
// The paint manager of one skinned window: binds the control tree to the window, draws
// it double-buffered, lays it out on size changes and turns pointer input into hot and
// pushed states and "click" notifications. Also the library's process-wide settings:
// the module whose resources it uses, the skin package and the resource folder.

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "duilib/core/PaintManagerCore.h"
#include "duilib/win/GdiHandles.h"

namespace DuiLib {

class CAccessibleWindow;

class CPaintManagerUI : public CPaintManagerCore {
public:
    struct Image {
        GdiObject<HBITMAP> bitmap;  // 32-bit, premultiplied alpha, top-down
        int width = 0;
        int height = 0;
    };

    CPaintManagerUI() = default;
    ~CPaintManagerUI() override;

    void Init(HWND window, const wchar_t* name = nullptr);
    HWND GetPaintWindow() const { return window_; }
    const std::wstring& GetName() const { return name_; }

    // True when the message was consumed; then result holds what to return for it.
    bool MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // The font of a layout font id; the system's GUI font when there is no such id.
    // Owned by the manager.
    HFONT GetFont(int id);
    void AddFont(const FontSpec& font) override;
    // A skin image, decoded once per manager; null when it cannot be read or decoded.
    const Image* GetImage(const std::wstring& name);
    // The image to fill width x height pixels at the window's DPI: at 96 the image itself
    // (drawn stretched, as it always was); at another DPI the variant of the nearest scale
    // at or above the window's, resized to exactly those pixels. Kept per size.
    const Image* GetImage(const std::wstring& name, int width, int height);
    // Fonts and images are made again at the new DPI.
    void SetDpi(int dpi) override;

    // Resizes the bound window to the layout's size.
    void SetInitSize(UiSize size) override;
    void Invalidate(const UiRect& rect) override;

    // Draws the area of the client into dc through an off-screen buffer.
    void PaintTo(HDC dc, const RECT& area);

    // Assistive technology follows texts and states (Accessible.cpp).
    void ControlChanged(CControlUI* control, ControlChange change) override;
    // The id of a control among the window's accessible children (0: none).
    long AccessibleChildId(const CControlUI* control) const;

    static void SetInstance(HINSTANCE instance);
    // The module set, or the program's own module.
    static HINSTANCE GetInstance();
    // See SkinResources: the first package registered stays until CloseZip.
    static void SetResourceZip(const void* data, unsigned size);
    static const void* GetResourceZip();
    static void CloseZip();
    static void SetResourcePath(const wchar_t* path);

protected:
    UiRect ClientRect() const override;
    void FocusMoved(CControlUI* control) override;

private:
    // Keyboard (KeyboardInput.cpp) and assistive technology (Accessible.cpp) messages.
    bool HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool HandleAccessibility(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void DrawFocusCue(HDC dc);
    void NotifyAccessibleEvent(DWORD event, const CControlUI* control);
    void DetachAccessible();
    // The skin's image `name` as a bitmap: as it is without a size, else at that size.
    struct SizeWanted {
        int width;
        int height;
    };
    static std::optional<Image> ReadImage(const std::wstring& name, const SizeWanted* wanted);

    HWND window_ = nullptr;
    std::wstring name_;
    bool trackingLeave_ = false;
    std::map<int, GdiObject<HFONT>> fonts_;
    std::map<std::wstring, std::optional<Image>> images_;  // by lower-case name; empty: unreadable
    CAccessibleWindow* accessible_ = nullptr;  // one reference, made on the first request
    bool dialogShown_ = false;  // a box's dialog-start event went out, its end not yet
    GdiObject<HBITMAP> backBuffer_;  // the client's off-screen copy, kept between paints
    SIZE backBufferSize_{};
};

}  // namespace DuiLib
