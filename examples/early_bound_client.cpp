// Reads a scale through the OstrelPesolink driver, early bound: the
// interface IScales from the type library's header, called through its
// function table.
//
//   early_bound_client.exe CONNECTION     (COM5 or 127.0.0.1:5001)
//
// Every function member returns S_OK and hands its result code back in its
// out parameter (0 success, 1 no usable connection, 2 no reply in time, 5
// refused, others the scale's own codes). A failure HRESULT means the
// driver raised an error; its text is in the thread's error information.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "OstrelPesolink.h"

namespace {

// Prints the driver's error text after a failed call.
void PrintError(const char* what, HRESULT hr) {
    std::wstring text;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) text = description;
        SysFreeString(description);
        info->Release();
    }
    std::printf("  %s failed: 0x%08lX %ls\n", what, static_cast<unsigned long>(hr), text.c_str());
}

// Calls a function member and prints its result code; true on result 0.
bool Run(IScales* scales, const char* what, HRESULT (STDMETHODCALLTYPE IScales::*member)(LONG*)) {
    LONG result = -1;
    const HRESULT hr = (scales->*member)(&result);
    if (FAILED(hr)) {
        PrintError(what, hr);
        return false;
    }
    std::printf("  %s: result %ld\n", what, static_cast<long>(result));
    return result == 0;
}

LONG Int(IScales* scales, HRESULT (STDMETHODCALLTYPE IScales::*getter)(LONG*)) {
    LONG value = 0;
    (scales->*getter)(&value);
    return value;
}

// A text property; the driver hands out a null BSTR for an empty text.
std::wstring Text(IScales* scales, HRESULT (STDMETHODCALLTYPE IScales::*getter)(BSTR*)) {
    BSTR value = nullptr;
    std::wstring text;
    if (SUCCEEDED((scales->*getter)(&value)) && value) text.assign(value, SysStringLen(value));
    SysFreeString(value);
    return text;
}

int ReadScale(IScales* s) {
    if (!Run(s, "OpenConnection", &IScales::OpenConnection)) return 1;
    std::printf("  line: %ld baud, parity code %ld\n", static_cast<long>(Int(s, &IScales::get_BaudRate)),
                static_cast<long>(Int(s, &IScales::get_Parity)));
    if (Run(s, "ReadWeight", &IScales::ReadWeight))
        std::printf("    weight %ld, division %ld, stable %ld, net %ld, zero %ld\n",
                    static_cast<long>(Int(s, &IScales::get_Weight)), static_cast<long>(Int(s, &IScales::get_Division)),
                    static_cast<long>(Int(s, &IScales::get_Stable)),
                    static_cast<long>(Int(s, &IScales::get_NetIndication)),
                    static_cast<long>(Int(s, &IScales::get_ZeroIndication)));
    if (Run(s, "GetTare", &IScales::GetTare))
        std::printf("    tare %ld\n", static_cast<long>(Int(s, &IScales::get_TareWeight)));
    if (Run(s, "GetName", &IScales::GetName))
        std::printf("    scale %ls \"%ls\"\n", Text(s, &IScales::get_ScalesID).c_str(),
                    Text(s, &IScales::get_Name).c_str());
    if (Run(s, "GetEthernet", &IScales::GetEthernet))
        std::printf("    ethernet %ls mask %ls gateway %ls port %ld\n", Text(s, &IScales::get_IpAddress).c_str(),
                    Text(s, &IScales::get_Mask).c_str(), Text(s, &IScales::get_Gateway).c_str(),
                    static_cast<long>(Int(s, &IScales::get_PortEthernet)));
    if (Run(s, "GetWiFi", &IScales::GetWiFi))
        std::printf("    wi-fi \"%ls\" %ls mask %ls gateway %ls port %ld\n", Text(s, &IScales::get_SSID).c_str(),
                    Text(s, &IScales::get_IpAddressWiFi).c_str(), Text(s, &IScales::get_MaskWiFi).c_str(),
                    Text(s, &IScales::get_GatewayWiFi).c_str(), static_cast<long>(Int(s, &IScales::get_PortWiFi)));
    if (Run(s, "GetWiFiAP", &IScales::GetWiFiAP))
        std::printf("    access point %ls \"%ls\" key %ls\n", Text(s, &IScales::get_ApIpAddressWiFi).c_str(),
                    Text(s, &IScales::get_ApSSID).c_str(), Text(s, &IScales::get_ApKey).c_str());
    Run(s, "CloseConnection", &IScales::CloseConnection);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: early_bound_client.exe COM5|127.0.0.1:PORT\n");
        return 2;
    }
    // The driver's objects live in a single-threaded apartment.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = 1;
    IScales* scales = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Scales, nullptr, CLSCTX_INPROC_SERVER, IID_IScales,
                                  reinterpret_cast<void**>(&scales));
    if (FAILED(hr)) {
        std::printf("the driver is not registered or does not load: 0x%08lX\n", static_cast<unsigned long>(hr));
    } else {
        std::printf("Scale at %ls\n", argv[1]);
        BSTR connection = SysAllocString(argv[1]);
        scales->put_Connection(connection);  // the driver keeps its own copy
        SysFreeString(connection);
        rc = ReadScale(scales);
        scales->Release();
    }
    CoUninitialize();
    return rc;
}
