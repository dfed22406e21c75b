#include "driver/com/Registration.h"

#include <oleauto.h>

#include <cwchar>
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

// The whole registry content of the server, in the order it is written
// (parents before their subkeys).
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

// Both registry views, named explicitly: on 64-bit Windows the 64-bit and
// the 32-bit one, on 32-bit Windows (where the flags are ignored) the one
// view twice. Class and interface keys live apart per view; the ProgID key
// and the type library's key are one for both.
constexpr REGSAM BothViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

HKEY BaseKey(RegistrationScope scope) {
    return scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

std::wstring ClassesPath(const std::wstring& key) { return L"Software\\Classes\\" + key; }

bool KeyExists(HKEY base, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(base, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Deletes a key with everything below it in one view (0: this process's
// own); a key that is not there is no failure.
bool DeleteKeyInView(HKEY base, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(base, path.c_str(), 0, KEY_ALL_ACCESS | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    status = RegDeleteKeyExW(base, path.c_str(), view, 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// The type library's key of this version, "TypeLib\{...}\1.4" (major and
// minor in hexadecimal, as the platform writes them), and below it the
// entry of one bitness, "409\win64" or "409\win32".
std::wstring LibraryVersionKey(const TLIBATTR& lib) {
    wchar_t version[16] = {};
    swprintf(version, 16, L"%x.%x", lib.wMajorVerNum, lib.wMinorVerNum);
    return L"TypeLib\\" + GuidText(lib.guid) + L"\\" + version;
}

std::wstring LibraryEntryKey(const TLIBATTR& lib) {
    wchar_t locale[16] = {};
    swprintf(locale, 16, L"%lx", static_cast<unsigned long>(lib.lcid));
    return LibraryVersionKey(lib) + L"\\" + locale + (lib.syskind == SYS_WIN64 ? L"\\win64" : L"\\win32");
}

HRESULT Unregister(RegistrationScope scope) {
    ITypeLib* lib = nullptr;
    TLIBATTR attributes{};
    if (FAILED(LoadLibraryAttributes(&lib, attributes))) return E_FAIL;
    lib->Release();

    const HKEY base = BaseKey(scope);
    const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_Scales);
    bool ok = true;

    // The class's keys in this process's view: whatever else was put below
    // them goes with them.
    ok = DeleteKeyInView(base, ClassesPath(classKey), 0) && ok;

    // Another bitness may still be registered side by side, in the other
    // view; the keys both share stay for it.
    bool classLeft = false;
    for (REGSAM view : BothViews)
        if (KeyExists(base, ClassesPath(classKey), view)) classLeft = true;

    // The type library. The platform's unregistration also deletes the
    // interface's keys and the library's version key, which the other
    // bitness still needs: with the class left in the other view only this
    // bitness's entry goes.
    if (classLeft) {
        const std::wstring entry = ClassesPath(LibraryEntryKey(attributes));
        ok = DeleteKeyInView(base, entry, 0) && ok;
        // The locale's key, when this was its last entry (a key with
        // subkeys is not deleted).
        const std::wstring locale = entry.substr(0, entry.rfind(L'\\'));
        RegDeleteKeyExW(base, locale.c_str(), 0, 0);
    } else {
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
    }

    if (!classLeft) {
        // The last bitness: the ProgID and the interface's keys go, in both
        // views, so that nothing of the server is left.
        const std::wstring interfaceKey = L"Interface\\" + GuidText(IID_IScales);
        for (REGSAM view : BothViews) {
            ok = DeleteKeyInView(base, ClassesPath(ProgId), view) && ok;
            ok = DeleteKeyInView(base, ClassesPath(interfaceKey), view) && ok;
        }
        ok = DeleteKeyInView(base, ClassesPath(ProgId), 0) && ok;
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
