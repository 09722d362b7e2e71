#include "ui/WndShadow.h"

#include <cwchar>
#include <map>
#include <memory>
#include <type_traits>

namespace {

constexpr wchar_t kShadowClassName[] = L"TolvoShadowWnd";
// The parent's procedure before the hook, kept on the parent itself so that the hook
// can still pass messages on after its shadow object has gone.
constexpr wchar_t kPreviousProcProperty[] = L"TolvoShadowPreviousProc";
// No image is drawn for a larger shadow (16 Mi pixels, 64 MiB of DIB).
constexpr long long kMaxShadowPixels = 16ll << 20;

struct ShadowClassState {
    CWndShadow::SystemCalls calls;
    HINSTANCE instance = nullptr;
};

ShadowClassState& ClassState() {
    static ShadowClassState state;
    return state;
}

// Parent window -> the shadow that follows it (not owned).
std::map<HWND, CWndShadow*>& ShadowMap() {
    static std::map<HWND, CWndShadow*> map;
    return map;
}

// Loads a DLL from the system folder only. The program runs elevated: a plain search
// would also take a DLL planted beside the program or in the current folder.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A system without the restricted search: name the system folder outright.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
    path[length] = L'\\';
    std::wcscpy(path + length + 1, name);
    return LoadLibraryW(path);
}

template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    FARPROC address = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

bool IsCompositionOn() {
    const auto query = ClassState().calls.isCompositionEnabled;
    BOOL enabled = FALSE;
    return query && SUCCEEDED(query(&enabled)) && enabled;
}

struct GdiObjectDeleter {
    void operator()(void* object) const { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using UniqueRegion = std::unique_ptr<std::remove_pointer_t<HRGN>, GdiObjectDeleter>;
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

LONG_PTR HookAddress(WNDPROC hook) { return reinterpret_cast<LONG_PTR>(hook); }

}  // namespace

std::vector<ShadowRowSpan> ReadWindowSpans(HWND window, int width, int height) {
    std::vector<ShadowRowSpan> rows(static_cast<std::size_t>(height > 0 ? height : 0));
    if (width <= 0 || height <= 0) return rows;
    const auto wholeRectangle = [&rows, width] {
        for (ShadowRowSpan& row : rows) row = {0, width};
        return rows;
    };
    UniqueRegion region(CreateRectRgn(0, 0, width, height));
    if (!region) return wholeRectangle();
    const int kind = GetWindowRgn(window, region.get());
    if (kind == ERROR) return wholeRectangle();  // no window region
    if (kind == NULLREGION) return rows;

    RECT box{};
    GetRgnBox(region.get(), &box);
    const int left = box.left > 0 ? box.left : 0;
    const int right = box.right < width ? box.right : width;
    const int top = box.top > 0 ? box.top : 0;
    const int bottom = box.bottom < height ? box.bottom : height;
    for (int y = top; y < bottom && left < right; ++y) {
        ShadowRowSpan& row = rows[static_cast<std::size_t>(y)];
        if (kind == SIMPLEREGION) {
            row = {left, right};
            continue;
        }
        // Only from the left up to the first column inside and from the right down to
        // the last one.
        int first = left;
        while (first < right && !PtInRegion(region.get(), first, y)) ++first;
        if (first == right) continue;
        int last = right - 1;
        while (last > first && !PtInRegion(region.get(), last, y)) --last;
        row = {first, last + 1};
    }
    return rows;
}

CWndShadow::~CWndShadow() {
    auto& map = ShadowMap();
    for (auto entry = map.begin(); entry != map.end();) {
        if (entry->second != this) {
            ++entry;
            continue;
        }
        // The parent outlives this object: give it back its procedure when the hook is
        // still on top; otherwise the hook stays and passes everything on.
        const HWND parent = entry->first;
        entry = map.erase(entry);
        if (IsWindow(parent) &&
            GetWindowLongPtrW(parent, GWLP_WNDPROC) == HookAddress(&CWndShadow::ParentHook)) {
            SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(parentProc));
            RemovePropW(parent, kPreviousProcProperty);
        }
    }
    if (HasUsableWindow()) DestroyWindow(shadowWnd);
}

bool CWndShadow::RegisterShadowClass(HINSTANCE instance) {
    if (ClassState().calls.updateLayeredWindow) return false;
    SystemCalls calls;
    calls.updateLayeredWindow =
        LookUp<UpdateLayeredWindowFn>(LoadSystemLibrary(L"user32.dll"), "UpdateLayeredWindow");
    if (!calls.updateLayeredWindow) return false;
    // Stays loaded for the process: the address is kept. Missing means composition off.
    if (HMODULE dwm = LoadSystemLibrary(L"dwmapi.dll"))
        calls.isCompositionEnabled = LookUp<IsCompositionEnabledFn>(dwm, "DwmIsCompositionEnabled");
    return RegisterShadowClass(instance, calls);
}

bool CWndShadow::RegisterShadowClass(HINSTANCE instance, const SystemCalls& calls) {
    ShadowClassState& state = ClassState();
    if (state.calls.updateLayeredWindow || !calls.updateLayeredWindow) return false;
    state.calls = calls;
    state.instance = instance;

    WNDCLASSEXW shadowClass{};
    shadowClass.cbSize = sizeof(shadowClass);
    shadowClass.style = CS_HREDRAW | CS_VREDRAW;
    shadowClass.lpfnWndProc = DefWindowProcW;
    shadowClass.hInstance = instance;
    shadowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    shadowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    shadowClass.lpszClassName = kShadowClassName;
    RegisterClassExW(&shadowClass);  // a class left from an earlier set-up serves as well
    return true;
}

void CWndShadow::ResetShadowClass() {
    if (!ShadowMap().empty()) return;
    ShadowClassState& state = ClassState();
    if (state.calls.updateLayeredWindow) UnregisterClassW(kShadowClassName, state.instance);
    state = ShadowClassState{};
}

CWndShadow* CWndShadow::FollowerOf(HWND parent) {
    const auto& map = ShadowMap();
    const auto found = map.find(parent);
    return found == map.end() ? nullptr : found->second;
}

ShadowStyle CWndShadow::Style() const {
    ShadowStyle style;
    style.size = size;
    style.sharpness = sharpness;
    style.darkness = darkness;
    style.offsetX = offsetX;
    style.offsetY = offsetY;
    style.color = color;
    return style;
}

bool CWndShadow::HasUsableWindow() const {
    return shadowWnd && shadowWnd != INVALID_HANDLE_VALUE && IsWindow(shadowWnd);
}

bool CWndShadow::FollowsParentState() const {
    return (status & ShadowEnabled) && !(status & DisabledByComposition);
}

bool CWndShadow::IsFollowing() const {
    for (const auto& entry : ShadowMap())
        if (entry.second == this) return true;
    return false;
}

void CWndShadow::AttachTo(HWND parent) {
    const ShadowClassState& state = ClassState();
    if (!state.calls.updateLayeredWindow || !IsWindow(parent)) return;
    // A second hook on one window would pass every message to itself without end.
    if (ShadowMap().count(parent) || IsFollowing()) return;

    shadowWnd = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kShadowClassName, nullptr,
                                WS_POPUPWINDOW, CW_USEDEFAULT, 0, 0, 0, parent, nullptr,
                                state.instance, nullptr);
    if (!shadowWnd) {
        shadowWnd = static_cast<HWND>(INVALID_HANDLE_VALUE);
        return;
    }
    ShadowMap()[parent] = this;

    status = ShadowEnabled;
    if (IsCompositionOn()) status |= DisabledByComposition;
    ShowForParent(parent);

    parentProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(parent, GWLP_WNDPROC));
    SetPropW(parent, kPreviousProcProperty, reinterpret_cast<HANDLE>(parentProc));
    SetWindowLongPtrW(parent, GWLP_WNDPROC, HookAddress(&CWndShadow::ParentHook));

    ApplyStyle();
}

void CWndShadow::RedrawIfShown() {
    if ((status & ShadowVisible) && HasUsableWindow()) Redraw(GetParent(shadowWnd));
}

void CWndShadow::ApplyStyle() {
    const ShadowStyle style = ProgramShadowStyle(dpi_);
    size = style.size;
    sharpness = style.sharpness;
    darkness = style.darkness;
    offsetX = style.offsetX;
    offsetY = style.offsetY;
    color = style.color;
    // Once, with everything set: a shadow on screen drawn and moved for each setting on
    // the way was left by Wine at one of the earlier places.
    RedrawIfShown();
}

void CWndShadow::CheckStatus(HWND parent) {
    status &= ShadowEnabled | DisabledByComposition;
    if (!FollowsParentState()) return;
    const LONG style = GetWindowLongW(parent, GWL_STYLE);
    if (style & WS_VISIBLE) {
        status |= ParentVisible;
        if (!(style & (WS_MAXIMIZE | WS_MINIMIZE))) status |= ShadowVisible;
    }
}

void CWndShadow::ShowForParent(HWND parent) {
    if (!HasUsableWindow()) return;
    CheckStatus(parent);
    if (status & ShadowVisible) {
        ShowWindow(shadowWnd, SW_SHOWNA);
        Redraw(parent);
    } else {
        ShowWindow(shadowWnd, SW_HIDE);
    }
}

void CWndShadow::ForceShow(HWND parent) {
    if (!HasUsableWindow()) return;
    CheckStatus(parent);
    ShowWindow(shadowWnd, SW_SHOWNA);
    Redraw(parent);
}

void CWndShadow::HideShadow() {
    if (HasUsableWindow()) ShowWindow(shadowWnd, SW_HIDE);
}

void CWndShadow::MoveToParent(HWND parent) {
    RECT rect{};
    if (!HasUsableWindow() || !GetWindowRect(parent, &rect)) return;
    const int reach = size < 0 ? 0 : size;
    SetWindowPos(shadowWnd, nullptr, rect.left + offsetX - reach, rect.top + offsetY - reach, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);
}

void CWndShadow::Redraw(HWND parent) {
    const auto update = ClassState().calls.updateLayeredWindow;
    RECT rect{};
    if (!update || !HasUsableWindow() || !IsWindow(parent) || !GetWindowRect(parent, &rect)) return;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const ShadowStyle style = Style();
    const ShadowImageSize image = ShadowImageSizeFor(width, height, style);
    if (image.width <= 0 || image.height <= 0 ||
        static_cast<long long>(image.width) * image.height > kMaxShadowPixels)
        return;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = image.height;  // positive: the bottom row comes first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(image.width) * image.height * 4;
    void* bits = nullptr;
    const UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return;
    RenderShadow(ReadWindowSpans(parent, width, height), width, style,
                 ShadowImageView::BottomUp(static_cast<std::uint32_t*>(bits), image.width,
                                           image.height));

    const UniqueMemoryDc memory(CreateCompatibleDC(nullptr));
    if (!memory) return;
    const SelectedObject selected(memory.get(), bitmap.get());
    const int reach = style.size < 0 ? 0 : style.size;
    POINT position{rect.left + offsetX - reach, rect.top + offsetY - reach};
    SIZE extent{image.width, image.height};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    MoveWindow(shadowWnd, position.x, position.y, extent.cx, extent.cy, FALSE);
    update(shadowWnd, nullptr, &position, &extent, memory.get(), &source, 0, &blend, ULW_ALPHA);
}

LRESULT CALLBACK CWndShadow::ParentHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWndShadow* shadow = FollowerOf(window);
    if (!shadow) {
        // The shadow object went while its window lives on under a later hook.
        const auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, kPreviousProcProperty));
        if (message == WM_NCDESTROY) RemovePropW(window, kPreviousProcProperty);
        return previous ? CallWindowProcW(previous, window, message, wParam, lParam)
                        : DefWindowProcW(window, message, wParam, lParam);
    }
    return shadow->HandleParentMessage(window, message, wParam, lParam, shadow->parentProc);
}

// previous is a copy: the parent's own handling may destroy this object (its last
// message does), so nothing of this object is touched after passing a message on.
LRESULT CWndShadow::HandleParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        WNDPROC previous) {
    switch (message) {
    case WM_DESTROY:
        if (HasUsableWindow()) DestroyWindow(shadowWnd);
        shadowWnd = static_cast<HWND>(INVALID_HANDLE_VALUE);
        break;
    case WM_MOVE:
        MoveToParent(window);
        break;
    case WM_SIZE:
        if (!FollowsParentState()) break;
        if (wParam == SIZE_MAXIMIZED || wParam == SIZE_MINIMIZED) {
            HideShadow();
            status &= ~ShadowVisible;
        } else if (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) {
            status |= ParentVisible;
            if (!(status & ShadowVisible)) {
                status |= ShadowVisible;
                Redraw(window);
                if (HasUsableWindow()) ShowWindow(shadowWnd, SW_SHOWNA);
                redrawPending = true;
            } else {
                const std::uint32_t now = static_cast<std::uint32_t>(lParam);
                const bool grew = (now & 0xFFFF) > (lastParentSize & 0xFFFF) ||
                                  (now >> 16) > (lastParentSize >> 16);
                if (grew) {
                    redrawPending = true;  // drawn at the next WM_PAINT
                } else {
                    Redraw(window);
                }
            }
        }
        lastParentSize = static_cast<std::uint32_t>(lParam);
        break;
    case WM_PAINT:
        if (redrawPending) {
            Redraw(window);
            redrawPending = false;
        }
        break;
    case WM_SHOWWINDOW: {
        if (!FollowsParentState()) break;
        const LRESULT result = CallWindowProcW(previous, window, message, wParam, lParam);
        if (FollowerOf(window) != this) return result;
        if (wParam == 0) {
            HideShadow();
            status &= ~(ShadowVisible | ParentVisible);
        } else {
            redrawPending = true;
            ForceShow(window);
        }
        return result;
    }
    case WM_NCDESTROY:
        ShadowMap().erase(window);
        RemovePropW(window, kPreviousProcProperty);
        break;
    case WM_EXITSIZEMOVE:
        Redraw(window);
        break;
    case WM_DWMCOMPOSITIONCHANGED:
        if (IsCompositionOn()) {
            status |= DisabledByComposition;
        } else {
            status &= ~DisabledByComposition;
        }
        ForceShow(window);
        break;
    default:
        break;
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}
