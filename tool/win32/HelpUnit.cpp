#include "tool/win32/HelpUnit.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ole2.h>
#include <shellapi.h>

#include "tool/Texts.h"
#include "tool/win32/ControlIds.h"

namespace pesoconf {

namespace {
// The HTML document class of the browser's engine.
const CLSID kHtmlDocument = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};
}  // namespace

// The smallest in-place container for the browser control: a client site,
// an in-place site and frame, and the event sink for BeforeNavigate2.
class HelpBrowser : public IOleClientSite,
                    public IOleInPlaceSite,
                    public IOleInPlaceFrame,
                    public IDispatch {
public:
    HelpBrowser(HWND host, HelpWindow& owner) : Host(host), Owner(owner) {}
    virtual ~HelpBrowser() = default;

    bool Create() {
        if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IOleObject, reinterpret_cast<void**>(&Object))))
            return false;
        // A browser without an HTML engine shows nothing: treat it as absent.
        IUnknown* document = nullptr;
        if (FAILED(CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IUnknown, reinterpret_cast<void**>(&document))))
            return false;
        document->Release();
        if (FAILED(Object->SetClientSite(this))) return false;
        RECT r;
        GetClientRect(Host, &r);
        if (FAILED(Object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, Host, &r)))
            return false;
        if (FAILED(Object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&Web))))
            return false;
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(Object->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(&container)))) {
            if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &Point)))
                Point->Advise(static_cast<IDispatch*>(this), &Cookie);
            container->Release();
        }
        Resize();
        return true;
    }

    void Destroy() {
        if (Point) {
            Point->Unadvise(Cookie);
            Point->Release();
            Point = nullptr;
        }
        if (Web) {
            Web->Release();
            Web = nullptr;
        }
        if (Object) {
            Object->Close(OLECLOSE_NOSAVE);
            Object->SetClientSite(nullptr);
            Object->Release();
            Object = nullptr;
        }
    }

    bool Navigate(const std::wstring& path) {
        if (!Web) return false;
        BSTR url = SysAllocString(path.c_str());
        VARIANT empty;
        VariantInit(&empty);
        const HRESULT hr = Web->Navigate(url, &empty, &empty, &empty, &empty);
        SysFreeString(url);
        return SUCCEEDED(hr);
    }

    void Resize() {
        if (!Object) return;
        RECT r;
        GetClientRect(Host, &r);
        IOleInPlaceObject* inplace = nullptr;
        if (SUCCEEDED(Object->QueryInterface(IID_IOleInPlaceObject,
                                             reinterpret_cast<void**>(&inplace)))) {
            inplace->SetObjectRects(&r, &r);
            inplace->Release();
        }
    }

    // IUnknown: one object, lives as long as the help window.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *out = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
            *out = static_cast<IDispatch*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (shared by the site and the frame)
    STDMETHODIMP GetWindow(HWND* w) override {
        *w = Host;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                  LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        *doc = nullptr;
        GetClientRect(Host, pos);
        GetClientRect(Host, clip);
        info->fMDIApp = FALSE;
        info->hwndFrame = Host;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the browser's events; only BeforeNavigate2 is looked at.
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        // Arguments arrive last first: rgvarg[5] the address, rgvarg[0] cancel.
        if (id != DISPID_BEFORENAVIGATE2 || !params || params->cArgs < 7) return S_OK;
        VARIANT* url = &params->rgvarg[5];
        if (V_VT(url) == (VT_VARIANT | VT_BYREF)) url = V_VARIANTREF(url);
        std::wstring address;
        if (url && V_VT(url) == VT_BSTR && V_BSTR(url)) address = V_BSTR(url);
        const bool go = Owner.BrowserBeforeNavigate2(address);
        VARIANT* cancel = &params->rgvarg[0];
        if (V_VT(cancel) == (VT_BOOL | VT_BYREF) && V_BOOLREF(cancel))
            *V_BOOLREF(cancel) = go ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }

private:
    HWND Host;
    HelpWindow& Owner;
    IOleObject* Object = nullptr;
    IWebBrowser2* Web = nullptr;
    IConnectionPoint* Point = nullptr;
    DWORD Cookie = 0;
};

HelpWindow::~HelpWindow() {
    if (Browser) {
        Browser->Destroy();
        delete Browser;
    }
}

bool HelpWindow::Create(HINSTANCE instance, const std::wstring& folder) {
    Folder = folder;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.lpszClassName = PESOCONF_HELP_CLASS;
    RegisterClassExW(&wc);

    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT r{0, 0, 584, 562};
    AdjustWindowRect(&r, style, FALSE);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    Window = CreateWindowExW(0, PESOCONF_HELP_CLASS,
                             reinterpret_cast<const wchar_t*>(text::HelpCaption.c_str()), style, x,
                             y, w, h, nullptr, nullptr, instance, this);
    if (!Window) return false;
    Browser = new HelpBrowser(Window, *this);
    if (!Browser->Create()) {
        Browser->Destroy();
        delete Browser;
        Browser = nullptr;
    }
    return true;
}

void HelpWindow::HelpButtonClick() {
    if (!Browser) {
        // No browser control here: let the system show the page.
        ShellExecuteW(nullptr, L"open", PagePath().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    if (IsWindowVisible(Window)) {
        if (IsIconic(Window)) ShowWindow(Window, SW_RESTORE);
        return;
    }
    HookAttached = false;
    Browser->Navigate(PagePath());
    ShowWindow(Window, SW_SHOWNORMAL);
    HookAttached = true;
}

bool HelpWindow::BrowserBeforeNavigate2(const std::wstring& address) {
    if (!HookAttached) return true;
    if (address == PagePath()) return true;
    ShellExecuteW(nullptr, L"open", address.c_str(), L"", L"", SW_HIDE);
    return false;
}

void HelpWindow::FormClose() { HookAttached = false; }

LRESULT CALLBACK HelpWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<HelpWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_SIZE:
            if (self && self->Browser) self->Browser->Resize();
            return 0;
        case WM_CLOSE:
            // Closing only hides; the next Help loads the page again.
            if (self) self->FormClose();
            ShowWindow(hwnd, SW_HIDE);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace pesoconf
