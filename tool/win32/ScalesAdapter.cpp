#include "tool/win32/ScalesAdapter.h"

#include <cstdio>

namespace pesoconf {

namespace {

std::u16string FromBstr(BSTR b) {
    if (!b) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

// The error information the object published, else the system's text for
// the status, else the status in hexadecimal.
std::u16string ErrorText(HRESULT hr) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        std::u16string text;
        if (SUCCEEDED(info->GetDescription(&description))) text = FromBstr(description);
        SysFreeString(description);
        info->Release();
        if (!text.empty()) return text;
    }
    wchar_t* message = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0,
                                   reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::u16string text;
    if (n && message) {
        text.assign(reinterpret_cast<const char16_t*>(message), n);
        while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
            text.pop_back();
    }
    if (message) LocalFree(message);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
    std::u16string code(hex, hex + std::char_traits<char>::length(hex));
    return text.empty() ? code : text + u" (" + code + u")";
}

}  // namespace

ScalesAdapter::~ScalesAdapter() {
    if (Scales) Scales->Release();
}

void ScalesAdapter::Check(HRESULT hr) {
    if (FAILED(hr)) throw DriverError(ErrorText(hr));
}

IScales& ScalesAdapter::Obj() {
    if (!Scales) {
        IUnknown* unknown = nullptr;
        HRESULT hr = GetActiveObject(CLSID_Scales, nullptr, &unknown);
        if (FAILED(hr) || !unknown)
            hr = CoCreateInstance(CLSID_Scales, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IUnknown, reinterpret_cast<void**>(&unknown));
        Check(hr);
        void* scales = nullptr;
        hr = unknown->QueryInterface(IID_IScales, &scales);
        unknown->Release();
        Check(hr);
        Scales = static_cast<IScales*>(scales);
    }
    return *Scales;
}

std::u16string ScalesAdapter::Get(TextGet member) {
    BSTR b = nullptr;
    const HRESULT hr = (Obj().*member)(&b);
    std::u16string s = FromBstr(b);
    SysFreeString(b);
    Check(hr);
    return s;
}

void ScalesAdapter::Put(TextPut member, const std::u16string& value) {
    IScales& obj = Obj();
    BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                               static_cast<UINT>(value.size()));
    const HRESULT hr = (obj.*member)(b);
    SysFreeString(b);
    Check(hr);
}

int32_t ScalesAdapter::Get(IntGet member) {
    LONG v = 0;
    Check((Obj().*member)(&v));
    return static_cast<int32_t>(v);
}

void ScalesAdapter::Put(IntPut member, int32_t value) { Check((Obj().*member)(value)); }

std::u16string ScalesAdapter::GetConnection() { return Get(&IScales::get_Connection); }
void ScalesAdapter::PutConnection(const std::u16string& v) { Put(&IScales::put_Connection, v); }
int32_t ScalesAdapter::OpenConnection() { return Get(&IScales::OpenConnection); }
int32_t ScalesAdapter::CloseConnection() { return Get(&IScales::CloseConnection); }
int32_t ScalesAdapter::GetName() { return Get(&IScales::GetName); }
int32_t ScalesAdapter::SetName() { return Get(&IScales::SetName); }
std::u16string ScalesAdapter::GetScalesID() { return Get(&IScales::get_ScalesID); }
std::u16string ScalesAdapter::GetNameText() { return Get(&IScales::get_Name); }
void ScalesAdapter::PutName(const std::u16string& v) { Put(&IScales::put_Name, v); }
int32_t ScalesAdapter::GetEthernet() { return Get(&IScales::GetEthernet); }
int32_t ScalesAdapter::SetEthernet() { return Get(&IScales::SetEthernet); }
int32_t ScalesAdapter::GetPortEthernet() { return Get(&IScales::get_PortEthernet); }
void ScalesAdapter::PutPortEthernet(int32_t v) { Put(&IScales::put_PortEthernet, v); }
std::u16string ScalesAdapter::GetIpAddress() { return Get(&IScales::get_IpAddress); }
void ScalesAdapter::PutIpAddress(const std::u16string& v) { Put(&IScales::put_IpAddress, v); }
std::u16string ScalesAdapter::GetMask() { return Get(&IScales::get_Mask); }
void ScalesAdapter::PutMask(const std::u16string& v) { Put(&IScales::put_Mask, v); }
std::u16string ScalesAdapter::GetGateway() { return Get(&IScales::get_Gateway); }
void ScalesAdapter::PutGateway(const std::u16string& v) { Put(&IScales::put_Gateway, v); }
int32_t ScalesAdapter::GetWiFi() { return Get(&IScales::GetWiFi); }
int32_t ScalesAdapter::SetWifi() { return Get(&IScales::SetWifi); }
int32_t ScalesAdapter::GetPortWiFi() { return Get(&IScales::get_PortWiFi); }
void ScalesAdapter::PutPortWiFi(int32_t v) { Put(&IScales::put_PortWiFi, v); }
std::u16string ScalesAdapter::GetIpAddressWiFi() { return Get(&IScales::get_IpAddressWiFi); }
void ScalesAdapter::PutIpAddressWiFi(const std::u16string& v) { Put(&IScales::put_IpAddressWiFi, v); }
std::u16string ScalesAdapter::GetMaskWiFi() { return Get(&IScales::get_MaskWiFi); }
void ScalesAdapter::PutMaskWiFi(const std::u16string& v) { Put(&IScales::put_MaskWiFi, v); }
std::u16string ScalesAdapter::GetGatewayWiFi() { return Get(&IScales::get_GatewayWiFi); }
void ScalesAdapter::PutGatewayWiFi(const std::u16string& v) { Put(&IScales::put_GatewayWiFi, v); }
std::u16string ScalesAdapter::GetSSID() { return Get(&IScales::get_SSID); }
void ScalesAdapter::PutSSID(const std::u16string& v) { Put(&IScales::put_SSID, v); }
std::u16string ScalesAdapter::GetKey() { return Get(&IScales::get_Key); }
void ScalesAdapter::PutKey(const std::u16string& v) { Put(&IScales::put_Key, v); }
int32_t ScalesAdapter::GetWiFiAP() { return Get(&IScales::GetWiFiAP); }
int32_t ScalesAdapter::SetWiFiAP() { return Get(&IScales::SetWiFiAP); }
std::u16string ScalesAdapter::GetApIpAddressWiFi() { return Get(&IScales::get_ApIpAddressWiFi); }
void ScalesAdapter::PutApIpAddressWiFi(const std::u16string& v) { Put(&IScales::put_ApIpAddressWiFi, v); }
std::u16string ScalesAdapter::GetApSSID() { return Get(&IScales::get_ApSSID); }
std::u16string ScalesAdapter::GetApKey() { return Get(&IScales::get_ApKey); }
int32_t ScalesAdapter::GetBaudRate() { return Get(&IScales::get_BaudRate); }
int32_t ScalesAdapter::GetParity() { return Get(&IScales::get_Parity); }

}  // namespace pesoconf
