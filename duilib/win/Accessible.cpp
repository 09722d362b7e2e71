#include "duilib/win/Accessible.h"

#include <cwchar>
#include <string>
#include <vector>

#include "duilib/core/AccessibleTree.h"
#include "duilib/win/PaintManager.h"

namespace DuiLib {
namespace {

// oleacc is no known DLL and the program runs elevated: it is loaded at run time from the
// system folder only, never imported (a DLL of that name planted beside the program would
// otherwise be loaded).
HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
    path[length] = L'\\';
    std::wcscpy(path + length + 1, name);
    return ::LoadLibraryW(path);
}

struct Oleacc {
    using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
    using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
    LresultFromObjectFn lresultFromObject = nullptr;
    CreateStdAccessibleObjectFn createStdAccessibleObject = nullptr;
};

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name))) : nullptr;
}

const Oleacc& OleaccLibrary() {
    static const Oleacc library = [] {
        Oleacc l;
        const HMODULE module = LoadSystemLibrary(L"oleacc.dll");
        l.lresultFromObject = Export<Oleacc::LresultFromObjectFn>(module, "LresultFromObject");
        l.createStdAccessibleObject = Export<Oleacc::CreateStdAccessibleObjectFn>(module, "CreateStdAccessibleObject");
        return l;
    }();
    return library;
}

// COM on the window's thread, once: the object is handed out through it.
void EnsureComOnThisThread() {
    thread_local bool initialised = false;
    if (initialised) return;
    initialised = true;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

UINT PressMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"DuiLibAccessiblePress");
    return message;
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void SetI4(VARIANT* v, long value) {
    ::VariantInit(v);
    v->vt = VT_I4;
    v->lVal = value;
}

UiPoint CentreOf(const CControlUI& control) {
    const UiRect& r = control.GetPos();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

// ---- the object ----

namespace {

// Resolves a child id: 0 for the window itself, 1..n for the controls. valid false: no such id.
struct Target {
    bool valid = false;
    CControlUI* control = nullptr;  // null: the window itself
};

Target Resolve(CPaintManagerUI& manager, const VARIANT& child, std::vector<CControlUI*>& children) {
    // A client may ask before the first paint (at the events that showing the window
    // sends): places, hits and visibility come from the layout, so it is made now.
    manager.EnsureLayout();
    children = AccessibleChildren(manager.GetRoot());
    if (child.vt != VT_I4) return {};
    if (child.lVal == CHILDID_SELF) return {true, nullptr};
    if (child.lVal < 1 || static_cast<std::size_t>(child.lVal) > children.size()) return {};
    return {true, children[static_cast<std::size_t>(child.lVal) - 1]};
}

}  // namespace

#define DUILIB_ACCESSIBLE_TARGET(child)                       \
    if (!manager_) return RPC_E_DISCONNECTED;                 \
    std::vector<CControlUI*> children;                        \
    const Target target = Resolve(*manager_, child, children); \
    if (!target.valid) return E_INVALIDARG

STDMETHODIMP CAccessibleWindow::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
        *object = static_cast<IAccessible*>(this);
    } else if (riid == IID_IEnumVARIANT) {
        *object = static_cast<IEnumVARIANT*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CAccessibleWindow::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CAccessibleWindow::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP CAccessibleWindow::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
STDMETHODIMP CAccessibleWindow::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CAccessibleWindow::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP CAccessibleWindow::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

STDMETHODIMP CAccessibleWindow::get_accParent(IDispatch** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!manager_) return RPC_E_DISCONNECTED;
    // The window's frame, as the system describes it.
    const auto create = OleaccLibrary().createStdAccessibleObject;
    if (!create) return S_FALSE;
    return create(window_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
}

STDMETHODIMP CAccessibleWindow::get_accChildCount(long* count) {
    if (!count) return E_POINTER;
    if (!manager_) return RPC_E_DISCONNECTED;
    *count = static_cast<long>(AccessibleChildren(manager_->GetRoot()).size());
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::get_accChild(VARIANT child, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    // The controls are simple elements of this object, not objects of their own.
    return target.control ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CAccessibleWindow::get_accName(VARIANT child, BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    if (!target.control) {
        const int length = ::GetWindowTextLengthW(window_);
        std::wstring title(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        title.resize(static_cast<std::size_t>(::GetWindowTextW(window_, title.data(), length + 1)));
        return ReturnText(AccessibleWindowName(title, manager_->GetRoot()), name);
    }
    return ReturnText(DescribeControl(*target.control, nullptr, false).name, name);
}

STDMETHODIMP CAccessibleWindow::get_accValue(VARIANT child, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    return S_FALSE;
}

STDMETHODIMP CAccessibleWindow::get_accDescription(VARIANT child, BSTR* description) {
    if (!description) return E_POINTER;
    *description = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    if (!target.control) return S_FALSE;
    return ReturnText(DescribeControl(*target.control, nullptr, false).description, description);
}

STDMETHODIMP CAccessibleWindow::get_accRole(VARIANT child, VARIANT* role) {
    if (!role) return E_POINTER;
    ::VariantInit(role);
    DUILIB_ACCESSIBLE_TARGET(child);
    const AccessibleRole value =
        target.control ? DescribeControl(*target.control, nullptr, false).role : AccessibleRole::Dialog;
    SetI4(role, static_cast<long>(value));
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::get_accState(VARIANT child, VARIANT* state) {
    if (!state) return E_POINTER;
    ::VariantInit(state);
    DUILIB_ACCESSIBLE_TARGET(child);
    const bool hasFocus = ::GetFocus() == window_;
    std::uint32_t states = 0;
    if (target.control) {
        states = DescribeControl(*target.control, manager_->GetFocus(), hasFocus).states;
    } else {
        states = StateFocusable;
        if (hasFocus && !manager_->GetFocus()) states |= StateFocused;
        if (!::IsWindowVisible(window_)) states |= StateInvisible;
        if (!::IsWindowEnabled(window_)) states |= StateUnavailable;
    }
    SetI4(state, static_cast<long>(states));
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::get_accHelp(VARIANT child, BSTR* help) {
    if (!help) return E_POINTER;
    *help = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    return S_FALSE;
}

STDMETHODIMP CAccessibleWindow::get_accHelpTopic(BSTR* file, VARIANT child, long* topic) {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    DUILIB_ACCESSIBLE_TARGET(child);
    return S_FALSE;
}

STDMETHODIMP CAccessibleWindow::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) {
    if (!shortcut) return E_POINTER;
    *shortcut = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    return S_FALSE;
}

STDMETHODIMP CAccessibleWindow::get_accFocus(VARIANT* child) {
    if (!child) return E_POINTER;
    ::VariantInit(child);
    if (!manager_) return RPC_E_DISCONNECTED;
    if (::GetFocus() != window_) return S_FALSE;
    SetI4(child, manager_->AccessibleChildId(manager_->GetFocus()));
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::get_accSelection(VARIANT* children) {
    if (!children) return E_POINTER;
    ::VariantInit(children);
    return manager_ ? S_FALSE : RPC_E_DISCONNECTED;
}

STDMETHODIMP CAccessibleWindow::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    DUILIB_ACCESSIBLE_TARGET(child);
    if (!target.control) return S_FALSE;
    return ReturnText(DescribeControl(*target.control, nullptr, false).defaultAction, action);
}

STDMETHODIMP CAccessibleWindow::accSelect(long flags, VARIANT child) {
    DUILIB_ACCESSIBLE_TARGET(child);
    if (!(flags & SELFLAG_TAKEFOCUS) || !target.control || !IsFocusable(target.control)) return E_INVALIDARG;
    manager_->SetFocus(target.control);
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::accLocation(long* left, long* top, long* width, long* height, VARIANT child) {
    if (!left || !top || !width || !height) return E_POINTER;
    DUILIB_ACCESSIBLE_TARGET(child);
    RECT rect{};
    if (target.control) {
        const UiRect& pos = target.control->GetPos();
        rect = {pos.left, pos.top, pos.right, pos.bottom};
    } else {
        ::GetClientRect(window_, &rect);
    }
    POINT corner{rect.left, rect.top};
    ::ClientToScreen(window_, &corner);
    *left = corner.x;
    *top = corner.y;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::accNavigate(long direction, VARIANT start, VARIANT* end) {
    if (!end) return E_POINTER;
    ::VariantInit(end);
    DUILIB_ACCESSIBLE_TARGET(start);
    const long count = static_cast<long>(children.size());
    const long from = start.lVal;
    long to = 0;
    switch (direction) {
    case NAVDIR_FIRSTCHILD: to = from == CHILDID_SELF && count > 0 ? 1 : 0; break;
    case NAVDIR_LASTCHILD: to = from == CHILDID_SELF && count > 0 ? count : 0; break;
    case NAVDIR_NEXT: to = from != CHILDID_SELF && from < count ? from + 1 : 0; break;
    case NAVDIR_PREVIOUS: to = from != CHILDID_SELF && from > 1 ? from - 1 : 0; break;
    default: return S_FALSE;
    }
    if (to == 0) return S_FALSE;
    SetI4(end, to);
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::accHitTest(long x, long y, VARIANT* child) {
    if (!child) return E_POINTER;
    ::VariantInit(child);
    if (!manager_) return RPC_E_DISCONNECTED;
    manager_->EnsureLayout();
    POINT point{x, y};
    RECT client{};
    ::ScreenToClient(window_, &point);
    ::GetClientRect(window_, &client);
    if (!::PtInRect(&client, point)) return S_FALSE;
    const auto children = AccessibleChildren(manager_->GetRoot());
    // Later controls are drawn over earlier ones.
    for (std::size_t i = children.size(); i-- > 0;) {
        const CControlUI& control = *children[i];
        if (!(DescribeControl(control, nullptr, false).states & StateInvisible) &&
            control.GetPos().Contains({point.x, point.y})) {
            SetI4(child, static_cast<long>(i + 1));
            return S_OK;
        }
    }
    SetI4(child, CHILDID_SELF);
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::accDoDefaultAction(VARIANT child) {
    DUILIB_ACCESSIBLE_TARGET(child);
    if (!target.control || DescribeControl(*target.control, nullptr, false).defaultAction.empty()) {
        return DISP_E_MEMBERNOTFOUND;
    }
    // As with a click: a window that is disabled (a modal box waits over it) takes no press.
    if (!::IsWindowEnabled(window_)) return E_ACCESSDENIED;
    // Posted, as a click is: what the click starts (a modal box) must not run inside the
    // client's call.
    return ::PostMessageW(window_, PressMessage(), static_cast<WPARAM>(child.lVal), 0) ? S_OK : E_FAIL;
}

STDMETHODIMP CAccessibleWindow::put_accName(VARIANT, BSTR) { return E_NOTIMPL; }
STDMETHODIMP CAccessibleWindow::put_accValue(VARIANT, BSTR) { return E_NOTIMPL; }

STDMETHODIMP CAccessibleWindow::Next(ULONG count, VARIANT* items, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (!items) return E_POINTER;
    if (!manager_) return RPC_E_DISCONNECTED;
    const ULONG total = static_cast<ULONG>(AccessibleChildren(manager_->GetRoot()).size());
    ULONG n = 0;
    while (n < count && cursor_ < total) SetI4(&items[n++], static_cast<long>(++cursor_));
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP CAccessibleWindow::Skip(ULONG count) {
    if (!manager_) return RPC_E_DISCONNECTED;
    const ULONG total = static_cast<ULONG>(AccessibleChildren(manager_->GetRoot()).size());
    const ULONG left = total - (cursor_ < total ? cursor_ : total);
    cursor_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP CAccessibleWindow::Reset() {
    cursor_ = 0;
    return S_OK;
}

STDMETHODIMP CAccessibleWindow::Clone(IEnumVARIANT** copy) {
    if (copy) *copy = nullptr;
    return E_NOTIMPL;
}

#undef DUILIB_ACCESSIBLE_TARGET

// ---- the paint manager's side ----

long CPaintManagerUI::AccessibleChildId(const CControlUI* control) const {
    if (!control) return CHILDID_SELF;
    const auto children = AccessibleChildren(GetRoot());
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i] == control) return static_cast<long>(i + 1);
    }
    return CHILDID_SELF;
}

void CPaintManagerUI::NotifyAccessibleEvent(DWORD event, const CControlUI* control) {
    if (window_) ::NotifyWinEvent(event, window_, OBJID_CLIENT, AccessibleChildId(control));
}

void CPaintManagerUI::ControlChanged(CControlUI* control, ControlChange change) {
    NotifyAccessibleEvent(change == ControlChange::Text ? EVENT_OBJECT_NAMECHANGE : EVENT_OBJECT_STATECHANGE,
                          control);
}

void CPaintManagerUI::FocusMoved(CControlUI* control) {
    // Only a window that holds the keyboard focus reports where it is.
    if (window_ && ::GetFocus() == window_) NotifyAccessibleEvent(EVENT_OBJECT_FOCUS, control);
}

void CPaintManagerUI::DetachAccessible() {
    if (!accessible_) return;
    accessible_->Detach();
    accessible_->Release();
    accessible_ = nullptr;
}

bool CPaintManagerUI::HandleAccessibility(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_GETOBJECT) {
        if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT)) return false;
        const auto lresultFromObject = OleaccLibrary().lresultFromObject;
        if (!lresultFromObject) return false;
        EnsureComOnThisThread();
        if (!accessible_) accessible_ = new CAccessibleWindow(*this, window_);
        result = lresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(accessible_));
        return result >= 0;
    }
    if (message == PressMessage()) {
        const auto children = AccessibleChildren(GetRoot());
        const std::size_t id = static_cast<std::size_t>(wParam);
        // Checked again: the control or its window may have been disabled since the
        // request (a press posted twice: the first opened a box).
        if (id >= 1 && id <= children.size() && IsFocusable(children[id - 1]) && ::IsWindowEnabled(window_)) {
            NotifyClick(children[id - 1], CentreOf(*children[id - 1]));
        }
        result = 0;
        return true;
    }
    switch (message) {
    case WM_SHOWWINDOW:
        // A box appearing: a screen reader reads its question; and going, hidden or
        // destroyed: the reader returns to the window below.
        if (wParam && !dialogShown_ && ::GetWindow(window_, GW_OWNER)) {
            dialogShown_ = true;
            ::NotifyWinEvent(EVENT_SYSTEM_DIALOGSTART, window_, OBJID_WINDOW, CHILDID_SELF);
        } else if (!wParam && dialogShown_) {
            dialogShown_ = false;
            ::NotifyWinEvent(EVENT_SYSTEM_DIALOGEND, window_, OBJID_WINDOW, CHILDID_SELF);
        }
        return false;
    case WM_WINDOWPOSCHANGING:
        // DestroyWindow hides the window this way, without WM_SHOWWINDOW.
        if (dialogShown_ && lParam && (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW)) {
            dialogShown_ = false;
            ::NotifyWinEvent(EVENT_SYSTEM_DIALOGEND, window_, OBJID_WINDOW, CHILDID_SELF);
        }
        return false;
    case WM_DESTROY:
        if (dialogShown_) {
            dialogShown_ = false;
            ::NotifyWinEvent(EVENT_SYSTEM_DIALOGEND, window_, OBJID_WINDOW, CHILDID_SELF);
        }
        return false;
    case WM_NCDESTROY:
        DetachAccessible();
        return false;
    default:
        return false;
    }
}

}  // namespace DuiLib
