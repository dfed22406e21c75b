// Helpers of the COM server's tests under Wine: owned automation strings,
// the driver object created through COM, and the simulated scale that the
// test script started (found through environment variables).
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "OstrelPesolink.h"

namespace comtest {

using Microsoft::WRL::ComPtr;

// An owned BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : value_(text ? SysAllocString(text) : nullptr) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* Out() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    BSTR Get() const { return value_; }
    bool IsNull() const { return value_ == nullptr; }
    std::wstring Text() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }

private:
    BSTR value_ = nullptr;
};

inline std::optional<std::wstring> Env(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return std::nullopt;
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, value.data(), n);
    value.resize(got);
    return value;
}

inline std::optional<long> EnvNumber(const wchar_t* name) {
    auto text = Env(name);
    if (!text || text->empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const long v = std::wcstol(text->c_str(), &end, 10);
    if (*end) return std::nullopt;
    return v;
}

// The connection text of the simulated scale on 127.0.0.1 ("127.0.0.1:PORT"),
// and the weight and tare the script gave it.
inline std::optional<std::wstring> SimConnection() { return Env(L"PESOLINK_SIM_TCP"); }
inline std::optional<long> SimWeight() { return EnvNumber(L"PESOLINK_SIM_WEIGHT"); }
inline std::optional<long> SimTare() { return EnvNumber(L"PESOLINK_SIM_TARE"); }

// Windows path of the server DLL under test.
inline std::optional<std::wstring> ServerDll() { return Env(L"PESOLINK_COM_DLL"); }

// A new Scales object through the registered class.
inline ComPtr<IScales> CreateScales() {
    ComPtr<IScales> scales;
    CoCreateInstance(CLSID_Scales, nullptr, CLSCTX_INPROC_SERVER, IID_IScales,
                     reinterpret_cast<void**>(scales.GetAddressOf()));
    return scales;
}

// The error information the last failed call left on this thread.
struct ErrorInfoText {
    bool present = false;
    GUID guid{};
    std::wstring source, description, helpFile;
};

inline ErrorInfoText TakeErrorInfo() {
    ErrorInfoText out;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.GetAddressOf()) != S_OK || !info) return out;
    out.present = true;
    info->GetGUID(&out.guid);
    Bstr source, description, helpFile;
    info->GetSource(source.Out());
    info->GetDescription(description.Out());
    info->GetHelpFile(helpFile.Out());
    out.source = source.Text();
    out.description = description.Text();
    out.helpFile = helpFile.Text();
    return out;
}

// Calls a member through its raw slot of the IScales function table.
template <class Arg>
HRESULT CallSlot(IScales* scales, int slot, Arg arg) {
    using Fn = HRESULT(STDMETHODCALLTYPE*)(IScales*, Arg);
    void** table = *reinterpret_cast<void***>(scales);
    return reinterpret_cast<Fn>(table[slot])(scales, arg);
}

}  // namespace comtest
