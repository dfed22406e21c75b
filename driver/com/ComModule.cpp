#include "driver/com/ComModule.h"

#include <oleauto.h>

#include <exception>
#include <new>

#include "OstrelPesolink.h"
#include "driver/Settings.h"

namespace pesolink::com {

namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

// The type library is loaded on first use, never under the loader lock,
// and kept until the module is unloaded. Objects of several apartments
// share it, hence the lock.
SRWLOCK g_typeLock = SRWLOCK_INIT;
ITypeLib* g_typeLib = nullptr;
ITypeInfo* g_scalesInfo = nullptr;
ITypeInfo* g_classInfo = nullptr;

// Caller holds g_typeLock.
HRESULT LoadTypeInformation() noexcept {
    if (g_typeLib) return S_OK;
    std::wstring path;
    try {
        path = ModulePath();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    ITypeInfo* scales = nullptr;
    ITypeInfo* cls = nullptr;
    hr = lib->GetTypeInfoOfGuid(IID_IScales, &scales);
    if (SUCCEEDED(hr)) hr = lib->GetTypeInfoOfGuid(CLSID_Scales, &cls);
    if (FAILED(hr)) {
        if (scales) scales->Release();
        lib->Release();
        return hr;
    }
    g_typeLib = lib;
    g_scalesInfo = scales;
    g_classInfo = cls;
    return S_OK;
}

template <class T>
HRESULT HandOut(T* const& cached, T** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    AcquireSRWLockExclusive(&g_typeLock);
    const HRESULT hr = LoadTypeInformation();
    if (SUCCEEDED(hr)) {
        *out = cached;
        (*out)->AddRef();
    }
    ReleaseSRWLockExclusive(&g_typeLock);
    return hr;
}

void PublishErrorInfo(const std::wstring& description) noexcept {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetGUID(IID_IScales);
    create->SetSource(const_cast<LPOLESTR>(ProgId));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    create->SetHelpFile(nullptr);
    create->SetHelpContext(0);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

}  // namespace

bool StartModule(HMODULE module) noexcept {
    g_module = module;
    // The class factory is a module-wide object (ClassFactory.cpp) that
    // exists from here on; what remains is the driver's own start.
    try {
        StartDriverModule();
        return true;
    } catch (const std::exception& e) {
        // The load fails; leave the reason where a debugger shows it.
        try {
            OutputDebugStringW((L"OstrelPesolink: driver start failed: " + WidenMessage(e.what()) + L"\n").c_str());
        } catch (...) {
        }
    } catch (...) {
        OutputDebugStringW(L"OstrelPesolink: driver start failed\n");
    }
    return false;
}

void EndModule(bool processTerminating) noexcept {
    // At process exit the automation library may already be gone: leave
    // the type information to the system then.
    if (processTerminating) return;
    AcquireSRWLockExclusive(&g_typeLock);
    if (g_classInfo) g_classInfo->Release();
    if (g_scalesInfo) g_scalesInfo->Release();
    if (g_typeLib) g_typeLib->Release();
    g_classInfo = nullptr;
    g_scalesInfo = nullptr;
    g_typeLib = nullptr;
    ReleaseSRWLockExclusive(&g_typeLock);
}

HMODULE ModuleHandle() noexcept { return g_module; }

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) throw HResultError(HRESULT_FROM_WIN32(GetLastError()), "Module path not available");
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        // Truncated: try again with a larger buffer.
        path.resize(path.size() * 2);
    }
}

void ObjectCreated() noexcept { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() noexcept { InterlockedDecrement(&g_objects); }

void LockServer(bool lock) noexcept {
    if (lock)
        InterlockedIncrement(&g_locks);
    else
        InterlockedDecrement(&g_locks);
}

bool CanUnloadNow() noexcept {
    return InterlockedCompareExchange(&g_objects, 0, 0) == 0 && InterlockedCompareExchange(&g_locks, 0, 0) == 0;
}

HRESULT GetTypeLibrary(ITypeLib** lib) noexcept { return HandOut(g_typeLib, lib); }
HRESULT GetScalesTypeInfo(ITypeInfo** info) noexcept { return HandOut(g_scalesInfo, info); }
HRESULT GetClassTypeInfo(ITypeInfo** info) noexcept { return HandOut(g_classInfo, info); }

std::wstring WidenMessage(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) {
        codePage = CP_ACP;
        n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    }
    if (n <= 0) return std::wstring(text.begin(), text.end());
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(), size, wide.data(), n);
    return wide;
}

HRESULT ReportCurrentException() noexcept {
    HRESULT hr = E_UNEXPECTED;
    std::wstring description;
    try {
        try {
            throw;
        } catch (const HResultError& e) {
            hr = e.Code();
            description = WidenMessage(e.what());
        } catch (const std::exception& e) {
            description = WidenMessage(e.what());
        } catch (...) {
            description = L"Unexpected failure";
        }
    } catch (...) {
        // No memory even for the text: the status alone has to do.
        description.clear();
    }
    // A failure must read as one, whatever the exception claimed.
    if (SUCCEEDED(hr)) hr = E_UNEXPECTED;
    PublishErrorInfo(description);
    return hr;
}

}  // namespace pesolink::com
