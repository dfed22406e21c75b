#include "driver/com/Registration.h"

#include <oleauto.h>

#include <string>
#include <vector>

#include "OstrelPesolink.h"
#include "driver/com/ComModule.h"

// Exported by the automation library but not declared by every SDK's
// headers.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid,
                                                   SYSKIND syskind);

namespace pesolink::com {

namespace {

// One registry value below the classes root. A null value name is the
// key's default value.
struct RegValue {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
};

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// InprocServer32 names the module by a path without blanks when the file
// system has a short form of it.
std::wstring ServerPath() {
    std::wstring path = ModulePath();
    if (path.find(L' ') == std::wstring::npos) return path;
    const DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::wstring shortPath(needed, L'\0');
    const DWORD n = GetShortPathNameW(path.c_str(), shortPath.data(), needed);
    if (n == 0 || n >= needed) return path;
    shortPath.resize(n);
    return shortPath;
}

// The whole registry content of the server, in the order it is written.
// Parents come before their subkeys, so unregistering walks it backwards.
std::vector<RegValue> ServerTable(const TLIBATTR& lib) {
    const std::wstring clsid = GuidText(CLSID_Scales);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring progIdKey = ProgId;
    const std::wstring version = std::to_wstring(lib.wMajorVerNum) + L"." + std::to_wstring(lib.wMinorVerNum);
    return {
        {classKey, nullptr, ClassDescription},
        {classKey + L"\\InprocServer32", nullptr, ServerPath()},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, ProgId},
        {classKey + L"\\TypeLib", nullptr, GuidText(lib.guid)},
        {classKey + L"\\Version", nullptr, version},
        {progIdKey, nullptr, ClassDescription},
        {progIdKey + L"\\Clsid", nullptr, clsid},
    };
}

class RootKey {
public:
    explicit RootKey(RegistrationScope scope) {
        const wchar_t* path = L"Software\\Classes";
        HKEY base = scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        status_ = RegCreateKeyExW(base, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~RootKey() {
        if (status_ == ERROR_SUCCESS) RegCloseKey(key_);
    }
    RootKey(const RootKey&) = delete;
    RootKey& operator=(const RootKey&) = delete;
    bool Ok() const { return status_ == ERROR_SUCCESS; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
    LONG status_ = ERROR_INVALID_HANDLE;
};

bool WriteValue(HKEY root, const RegValue& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const DWORD bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
    const LONG status =
        RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Loads the module's type library and its attributes.
HRESULT LoadLibraryAttributes(ITypeLib** lib, TLIBATTR& attributes) {
    HRESULT hr = GetTypeLibrary(lib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = (*lib)->GetLibAttr(&attr);
    if (FAILED(hr)) {
        (*lib)->Release();
        *lib = nullptr;
        return hr;
    }
    attributes = *attr;
    (*lib)->ReleaseTLibAttr(attr);
    return S_OK;
}

HRESULT Register(RegistrationScope scope) {
    ITypeLib* lib = nullptr;
    TLIBATTR attributes{};
    if (FAILED(LoadLibraryAttributes(&lib, attributes))) return E_FAIL;
    std::wstring path = ModulePath();
    HRESULT hr = scope == RegistrationScope::User ? RegisterTypeLibForUser(lib, path.data(), nullptr)
                                                  : RegisterTypeLib(lib, path.data(), nullptr);
    lib->Release();
    if (FAILED(hr)) return E_FAIL;

    RootKey root(scope);
    if (!root.Ok()) return E_FAIL;
    for (const RegValue& value : ServerTable(attributes))
        if (!WriteValue(root.Get(), value)) return E_FAIL;
    return S_OK;
}

HRESULT Unregister(RegistrationScope scope) {
    ITypeLib* lib = nullptr;
    TLIBATTR attributes{};
    if (FAILED(LoadLibraryAttributes(&lib, attributes))) return E_FAIL;
    lib->Release();

    bool ok = true;
    {
        RootKey root(scope);
        if (!root.Ok()) return E_FAIL;
        const std::vector<RegValue> table = ServerTable(attributes);
        for (auto it = table.rbegin(); it != table.rend(); ++it) {
            // Whole subtrees: whatever else was put below the class's own
            // keys goes with them.
            const LONG status = RegDeleteTreeW(root.Get(), it->key.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) ok = false;
        }
    }

    // A library that is not registered is what was asked for; the
    // unregistration itself would call that a failure.
    BSTR registeredPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum,
                                        attributes.lcid, &registeredPath))) {
        SysFreeString(registeredPath);
        const HRESULT hr =
            scope == RegistrationScope::User
                ? UnRegisterTypeLibForUser(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum,
                                           attributes.lcid, attributes.syskind)
                : UnRegisterTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum,
                                    attributes.lcid, attributes.syskind);
        if (FAILED(hr)) ok = false;
    }
    return ok ? S_OK : E_FAIL;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) noexcept {
    try {
        return Register(scope);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT UnregisterServer(RegistrationScope scope) noexcept {
    try {
        return Unregister(scope);
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace pesolink::com
