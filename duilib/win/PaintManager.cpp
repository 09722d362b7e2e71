#include "duilib/win/PaintManager.h"

#include <cstring>

#include "duilib/core/DpiScale.h"
#include "duilib/core/Image.h"
#include "duilib/core/SkinResources.h"
#include "duilib/win/Dpi.h"

namespace DuiLib {
namespace {

HINSTANCE& Instance() {
    static HINSTANCE instance = nullptr;
    return instance;
}

RECT ToRect(const UiRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
UiRect ToUi(const RECT& r) { return UiRect{r.left, r.top, r.right, r.bottom}; }
UiPoint PointOf(LPARAM lParam) {
    return UiPoint{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}
COLORREF ToColorRef(Argb c) { return RGB(RedOf(c), GreenOf(c), BlueOf(c)); }

UINT ToDrawTextFlags(unsigned style) {
    UINT flags = DT_NOPREFIX;  // texts from drives are shown as they are: no "&" mnemonics
    if (style & TextCenter) flags |= DT_CENTER;
    if (style & TextRight) flags |= DT_RIGHT;
    if (style & TextVCenter) flags |= DT_VCENTER;
    if (style & TextSingleLine) flags |= DT_SINGLELINE;
    if (style & TextWordBreak) flags |= DT_WORDBREAK;
    return flags;
}

// A 32-bit top-down DIB section, like the decoded rows; bits: its memory.
GdiObject<HBITMAP> NewDib(int width, int height, std::uint32_t** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, like the decoded rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    GdiObject<HBITMAP> bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0));
    *bits = bitmap ? static_cast<std::uint32_t*>(memory) : nullptr;
    if (!*bits) bitmap = GdiObject<HBITMAP>();
    return bitmap;
}

GdiObject<HBITMAP> MakeDib(int width, int height, const std::uint32_t* pixels) {
    std::uint32_t* bits = nullptr;
    GdiObject<HBITMAP> bitmap = NewDib(width, height, &bits);
    // 0xAARRGGBB in little-endian memory is the DIB's blue, green, red, alpha.
    if (bits && pixels) std::memcpy(bits, pixels, static_cast<std::size_t>(width) * height * 4);
    return bitmap;
}

class GdiRenderTarget : public IRenderTarget {
public:
    GdiRenderTarget(HDC dc, CPaintManagerUI& manager) : dc_(dc), manager_(manager) {}

    void FillColor(const UiRect& rect, Argb color) override {
        const std::uint8_t alpha = AlphaOf(color);
        if (alpha == 0 || rect.IsEmpty()) return;
        const RECT r = ToRect(rect);
        if (alpha == 255) {
            GdiObject<HBRUSH> brush(::CreateSolidBrush(ToColorRef(color)));
            ::FillRect(dc_, &r, brush.Get());
            return;
        }
        const std::uint32_t pixel = static_cast<std::uint32_t>(alpha) << 24 |
                                    static_cast<std::uint32_t>(RedOf(color) * alpha / 255) << 16 |
                                    static_cast<std::uint32_t>(GreenOf(color) * alpha / 255) << 8 |
                                    static_cast<std::uint32_t>(BlueOf(color) * alpha / 255);
        GdiObject<HBITMAP> dot = MakeDib(1, 1, &pixel);
        Blend(dot.Get(), 1, 1, rect);
    }

    void DrawFrame(const UiRect& rect, int width, Argb color) override {
        if (width <= 0 || rect.IsEmpty()) return;
        GdiObject<HBRUSH> brush(::CreateSolidBrush(ToColorRef(color)));
        const RECT sides[] = {
            {rect.left, rect.top, rect.right, rect.top + width},
            {rect.left, rect.bottom - width, rect.right, rect.bottom},
            {rect.left, rect.top + width, rect.left + width, rect.bottom - width},
            {rect.right - width, rect.top + width, rect.right, rect.bottom - width},
        };
        for (const RECT& side : sides) ::FillRect(dc_, &side, brush.Get());
    }

    void DrawImage(const std::wstring& name, const UiRect& rect) override {
        if (rect.IsEmpty()) return;
        if (const CPaintManagerUI::Image* image = manager_.GetImage(name, rect.Width(), rect.Height())) {
            Blend(image->bitmap.Get(), image->width, image->height, rect);
        }
    }

    void DrawText(const UiRect& rect, std::wstring_view text, int fontId, Argb color, unsigned style) override {
        if (text.empty() || rect.IsEmpty()) return;
        RECT r = ToRect(rect);
        ScopedSelect font(dc_, manager_.GetFont(fontId));
        ::SetBkMode(dc_, TRANSPARENT);
        ::SetTextColor(dc_, ToColorRef(color));
        ::DrawTextW(dc_, text.data(), static_cast<int>(text.size()), &r, ToDrawTextFlags(style));
    }

private:
    // Per-pixel alpha, stretched to the rectangle.
    void Blend(HBITMAP bitmap, int width, int height, const UiRect& rect) {
        MemoryDC source(dc_);
        if (!source || !bitmap) return;
        ScopedSelect select(source.Get(), bitmap);
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        // gdi32's own export: msimg32 is no known DLL, and the program runs elevated.
        ::GdiAlphaBlend(dc_, rect.left, rect.top, rect.Width(), rect.Height(), source.Get(), 0, 0, width, height,
                        blend);
    }

    HDC dc_;
    CPaintManagerUI& manager_;
};

}  // namespace

CPaintManagerUI::~CPaintManagerUI() { DetachAccessible(); }

void CPaintManagerUI::Init(HWND window, const wchar_t* name) {
    window_ = window;
    name_ = name ? name : L"";
    if (window_) SetDpi(DpiOfWindow(window_));
    NeedUpdate();
}

bool CPaintManagerUI::MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (!window_) return false;
    if (HandleKeyboard(message, wParam, lParam, result) || HandleAccessibility(message, wParam, lParam, result)) {
        return true;
    }
    switch (message) {
    case WM_ERASEBKGND:
        // Everything is drawn in WM_PAINT from the off-screen buffer: no flicker.
        result = 1;
        return true;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (HDC dc = ::BeginPaint(window_, &ps)) {
            PaintTo(dc, ps.rcPaint);
            ::EndPaint(window_, &ps);
        }
        result = 0;
        return true;
    }
    case WM_PRINTCLIENT: {
        RECT client{};
        ::GetClientRect(window_, &client);
        PaintTo(reinterpret_cast<HDC>(wParam), client);
        result = 0;
        return true;
    }
    case WM_SIZE:
        NeedUpdate();
        return false;
    case WM_MOUSEMOVE:
        if (!trackingLeave_) {
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window_, 0};
            trackingLeave_ = ::TrackMouseEvent(&track) != FALSE;
        }
        OnMouseMove(PointOf(lParam));
        result = 0;
        return true;
    case WM_MOUSELEAVE:
        trackingLeave_ = false;
        OnMouseLeave();
        result = 0;
        return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (OnMouseDown(PointOf(lParam))) ::SetCapture(window_);
        result = 0;
        return true;
    case WM_LBUTTONUP: {
        const UiPoint point = PointOf(lParam);
        CControlUI* clicked = OnMouseUp(point);
        // The capture goes before the click: a click may run a modal box.
        if (::GetCapture() == window_) ::ReleaseCapture();
        NotifyClick(clicked, point);
        result = 0;
        return true;
    }
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != window_) OnPressCancelled();
        return false;
    case WM_SETCURSOR:
        if (LOWORD(lParam) != HTCLIENT) return false;
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        result = TRUE;
        return true;
    default:
        return false;
    }
}

void CPaintManagerUI::PaintTo(HDC dc, const RECT& area) {
    RECT client{};
    if (!dc || !::GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0) return;
    EnsureLayout();
    // The buffer stays from one paint to the next: a bitmap of the whole client made at
    // every paint costs a small repaint most of its time at a high DPI (fresh memory to
    // map and clear), however little of it is drawn.
    if (!backBuffer_ || backBufferSize_.cx != client.right || backBufferSize_.cy != client.bottom) {
        backBuffer_.Reset();
        backBuffer_ = MakeDib(client.right, client.bottom, nullptr);
        backBufferSize_ = {client.right, client.bottom};
    }
    MemoryDC buffer(dc);
    if (!buffer || !backBuffer_) return;
    ScopedSelect select(buffer.Get(), backBuffer_.Get());
    // Only the area is drawn: a control partly inside it (the background) costs no more.
    ::IntersectClipRect(buffer.Get(), area.left, area.top, area.right, area.bottom);
    ::FillRect(buffer.Get(), &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    if (CControlUI* root = GetRoot()) {
        GdiRenderTarget target(buffer.Get(), *this);
        root->Paint(target, ToUi(area));
        DrawFocusCue(buffer.Get());
    }
    ::BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, buffer.Get(), area.left,
             area.top, SRCCOPY);
}

HFONT CPaintManagerUI::GetFont(int id) {
    const FontSpec* layoutFont = GetFontSpec(id);
    if (!layoutFont) return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    auto& font = fonts_[id];
    if (!font) {
        // A negative height asks for the character height rather than the cell height;
        // the layout's heights are for 96 DPI.
        const int height = ScaleByDpi(layoutFont->size, GetDpi());
        font.Reset(::CreateFontW(-height, 0, 0, 0, layoutFont->bold ? FW_BOLD : FW_NORMAL, layoutFont->italic,
                                 FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, layoutFont->face.c_str()));
    }
    return font ? font.Get() : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

void CPaintManagerUI::AddFont(const FontSpec& font) {
    CPaintManagerCore::AddFont(font);
    fonts_.erase(font.id);
}

const CPaintManagerUI::Image* CPaintManagerUI::GetImage(const std::wstring& name) {
    const std::wstring key = ToLowerAscii(name);
    auto it = images_.find(key);
    if (it == images_.end()) it = images_.emplace(key, ReadImage(name, nullptr)).first;
    return it->second ? &*it->second : nullptr;
}

std::optional<CPaintManagerUI::Image> CPaintManagerUI::ReadImage(const std::wstring& name, const SizeWanted* wanted) {
    const auto bytes = SkinResources::ReadFile(name, SkinResources::kMaxImageSize);
    if (!bytes) return std::nullopt;
    // Decoded, or resized, straight into its bitmap's own memory, at the size wanted (its
    // own, without one).
    Image made;
    const auto shape = DecodeImageResizedInto(bytes->data(), bytes->size(), [&](int width, int height) {
        if (wanted) {
            width = wanted->width;
            height = wanted->height;
        }
        std::uint32_t* bits = nullptr;
        made.bitmap = NewDib(width, height, &bits);
        return PixelRoom{bits, width, height};
    });
    if (!shape) return std::nullopt;
    made.width = shape->width;
    made.height = shape->height;
    if (!made.bitmap) return std::nullopt;
    return made;
}

const CPaintManagerUI::Image* CPaintManagerUI::GetImage(const std::wstring& name, int width, int height) {
    if (GetDpi() == kDesignDpi) return GetImage(name);
    if (width <= 0 || height <= 0) return nullptr;
    const std::wstring key = ToLowerAscii(name) + L'|' + std::to_wstring(width) + L'x' + std::to_wstring(height);
    auto it = images_.find(key);
    if (it == images_.end()) {
        // A variant of exactly these pixels is used as it is; any other is resized once.
        const SizeWanted wanted{width, height};
        std::optional<Image> image;
        for (const ImageScale scale : ImageVariantsFor(GetDpi())) {
            image = ReadImage(ImageVariantName(name, scale), &wanted);
            if (image) break;
        }
        it = images_.emplace(key, std::move(image)).first;
    }
    return it->second ? &*it->second : nullptr;
}

void CPaintManagerUI::SetDpi(int dpi) {
    if (SaneDpi(dpi) == GetDpi()) return;
    fonts_.clear();
    images_.clear();
    CPaintManagerCore::SetDpi(dpi);
}

void CPaintManagerUI::SetInitSize(UiSize size) {
    CPaintManagerCore::SetInitSize(size);
    const UiSize scaled = ScaleByDpi(size, GetDpi());
    if (window_ && scaled.cx > 0 && scaled.cy > 0) {
        ::SetWindowPos(window_, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    }
}

void CPaintManagerUI::Invalidate(const UiRect& rect) {
    if (!window_) return;
    const RECT r = ToRect(rect);
    ::InvalidateRect(window_, &r, FALSE);
}

UiRect CPaintManagerUI::ClientRect() const {
    RECT client{};
    if (!window_ || !::GetClientRect(window_, &client)) return CPaintManagerCore::ClientRect();
    return ToUi(client);
}

void CPaintManagerUI::SetInstance(HINSTANCE instance) { Instance() = instance; }

HINSTANCE CPaintManagerUI::GetInstance() {
    return Instance() ? Instance() : ::GetModuleHandleW(nullptr);
}

void CPaintManagerUI::SetResourceZip(const void* data, unsigned size) { SkinResources::SetZip(data, size); }

const void* CPaintManagerUI::GetResourceZip() { return SkinResources::ZipBuffer(); }

void CPaintManagerUI::CloseZip() { SkinResources::CloseZip(); }

void CPaintManagerUI::SetResourcePath(const wchar_t* path) { SkinResources::SetResourcePath(path ? path : L""); }

}  // namespace DuiLib
