#pragma once
// The accessible object of a skinned window's client area: the window and its controls as
// assistive technology (screen readers, magnifiers, UI Automation through its MSAA proxy)
// reads them. Made by the paint manager on the first WM_GETOBJECT; the manager detaches it
// when it goes, after which a client still holding it gets "disconnected".

#include <windows.h>
#include <oleacc.h>

#include <atomic>

namespace DuiLib {

class CPaintManagerUI;

class CAccessibleWindow final : public IAccessible, public IEnumVARIANT {
public:
    CAccessibleWindow(CPaintManagerUI& manager, HWND window) : manager_(&manager), window_(window) {}
    CAccessibleWindow(const CAccessibleWindow&) = delete;
    CAccessibleWindow& operator=(const CAccessibleWindow&) = delete;

    void Detach() { manager_ = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: no type information; clients call the methods directly.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    // IAccessible
    STDMETHODIMP get_accParent(IDispatch** parent) override;
    STDMETHODIMP get_accChildCount(long* count) override;
    STDMETHODIMP get_accChild(VARIANT child, IDispatch** object) override;
    STDMETHODIMP get_accName(VARIANT child, BSTR* name) override;
    STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override;
    STDMETHODIMP get_accDescription(VARIANT child, BSTR* description) override;
    STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override;
    STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override;
    STDMETHODIMP get_accHelp(VARIANT child, BSTR* help) override;
    STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    STDMETHODIMP get_accFocus(VARIANT* child) override;
    STDMETHODIMP get_accSelection(VARIANT* children) override;
    STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override;
    STDMETHODIMP accSelect(long flags, VARIANT child) override;
    STDMETHODIMP accLocation(long* left, long* top, long* width, long* height, VARIANT child) override;
    STDMETHODIMP accNavigate(long direction, VARIANT start, VARIANT* end) override;
    STDMETHODIMP accHitTest(long x, long y, VARIANT* child) override;
    STDMETHODIMP accDoDefaultAction(VARIANT child) override;
    STDMETHODIMP put_accName(VARIANT, BSTR) override;
    STDMETHODIMP put_accValue(VARIANT, BSTR) override;

    // IEnumVARIANT: the children's ids, for AccessibleChildren.
    STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumVARIANT** copy) override;

private:
    ~CAccessibleWindow() = default;

    std::atomic<ULONG> references_{1};
    CPaintManagerUI* manager_;
    HWND window_;
    ULONG cursor_ = 0;  // of the enumeration
};

}  // namespace DuiLib
