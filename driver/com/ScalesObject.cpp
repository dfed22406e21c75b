#include "driver/com/ScalesObject.h"

#include <new>

#include "driver/com/ComModule.h"
#include "driver/com/Text.h"

namespace pesolink::com {

TScalesObject::TScalesObject() = default;

TScalesObject::~TScalesObject() = default;

// ---- IUnknown

HRESULT STDMETHODCALLTYPE TScalesObject::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IScales)) {
        *object = static_cast<IScales*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        *object = static_cast<IProvideClassInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TScalesObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE TScalesObject::Release() {
    const LONG refs = InterlockedDecrement(&refs_);
    // The driver object's destructor stops and joins its exchange worker.
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

// ---- IDispatch: everything through the type information of IScales

HRESULT STDMETHODCALLTYPE TScalesObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TScalesObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetScalesTypeInfo(info);
}

HRESULT STDMETHODCALLTYPE TScalesObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                                        DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetScalesTypeInfo(&info);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE TScalesObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                                 VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetScalesTypeInfo(&info);
    if (FAILED(hr)) return hr;
    // The type information calls the member through the vtable; a failed
    // member's error information becomes EXCEPINFO and DISP_E_EXCEPTION.
    hr = DispInvoke(static_cast<IScales*>(this), info, id, flags, params, result, exception, argError);
    info->Release();
    return hr;
}

// ---- ISupportErrorInfo, IProvideClassInfo

HRESULT STDMETHODCALLTYPE TScalesObject::InterfaceSupportsErrorInfo(REFIID riid) {
    const bool implemented = IsEqualIID(riid, IID_IScales) || IsEqualIID(riid, IID_IDispatch) ||
                             IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISupportErrorInfo) ||
                             IsEqualIID(riid, IID_IProvideClassInfo);
    return implemented ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TScalesObject::GetClassInfo(ITypeInfo** info) { return GetClassTypeInfo(info); }

// ---- member shapes

HRESULT TScalesObject::GetInt(LONG* value, IntGetter getter) {
    if (!value) return E_POINTER;
    *value = 0;
    try {
        *value = (scales_.*getter)();
        return S_OK;
    }
    PESOLINK_COM_CATCH
}

HRESULT TScalesObject::PutInt(LONG value, IntSetter setter) {
    try {
        (scales_.*setter)(value);
        return S_OK;
    }
    PESOLINK_COM_CATCH
}

HRESULT TScalesObject::GetText(BSTR* value, TextGetter getter) {
    if (!value) return E_POINTER;
    *value = nullptr;
    try {
        *value = ToBstr((scales_.*getter)());
        return S_OK;
    }
    PESOLINK_COM_CATCH
}

HRESULT TScalesObject::PutText(BSTR value, TextSetter setter) {
    try {
        (scales_.*setter)(FromBstr(value));
        return S_OK;
    }
    PESOLINK_COM_CATCH
}

HRESULT TScalesObject::Call(LONG* result, Command command) {
    if (!result) return E_POINTER;
    // Not a result code: a client that looks only at the out parameter of a
    // call that raised must not read it as success.
    *result = -1;
    // A client may release its last reference from a window message that
    // arrives while this call waits for the scale: keep the object alive
    // until the call is over.
    AddRef();
    struct Hold {
        TScalesObject* self;
        ~Hold() { self->Release(); }
    } hold{this};
    try {
        // The result code travels in the out parameter; the call itself
        // succeeded.
        *result = (scales_.*command)();
        return S_OK;
    }
    PESOLINK_COM_CATCH
}

// ---- IScales

HRESULT STDMETHODCALLTYPE TScalesObject::get_Connection(BSTR* Value) { return GetText(Value, &TScales::get_Connection); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_Connection(BSTR Value) { return PutText(Value, &TScales::put_Connection); }
HRESULT STDMETHODCALLTYPE TScalesObject::OpenConnection(LONG* Value) { return Call(Value, &TScales::OpenConnection); }
HRESULT STDMETHODCALLTYPE TScalesObject::CloseConnection(LONG* Value) { return Call(Value, &TScales::CloseConnection); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Weight(LONG* Value) { return GetInt(Value, &TScales::get_Weight); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Division(LONG* Value) { return GetInt(Value, &TScales::get_Division); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Stable(LONG* Value) { return GetInt(Value, &TScales::get_Stable); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_NetIndication(LONG* Value) { return GetInt(Value, &TScales::get_NetIndication); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_ZeroIndication(LONG* Value) { return GetInt(Value, &TScales::get_ZeroIndication); }
HRESULT STDMETHODCALLTYPE TScalesObject::ReadWeight(LONG* Value) { return Call(Value, &TScales::ReadWeight); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_TareWeight(LONG* Value) { return GetInt(Value, &TScales::get_TareWeight); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_TareWeight(LONG Value) { return PutInt(Value, &TScales::put_TareWeight); }
HRESULT STDMETHODCALLTYPE TScalesObject::SetTare(LONG* Value) { return Call(Value, &TScales::SetTare); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_ScalesID(BSTR* Value) { return GetText(Value, &TScales::get_ScalesID); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_IpAddress(BSTR* Value) { return GetText(Value, &TScales::get_IpAddress); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_IpAddress(BSTR Value) { return PutText(Value, &TScales::put_IpAddress); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Mask(BSTR* Value) { return GetText(Value, &TScales::get_Mask); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_Mask(BSTR Value) { return PutText(Value, &TScales::put_Mask); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Gateway(BSTR* Value) { return GetText(Value, &TScales::get_Gateway); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_Gateway(BSTR Value) { return PutText(Value, &TScales::put_Gateway); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_PortEthernet(LONG* Value) { return GetInt(Value, &TScales::get_PortEthernet); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_PortEthernet(LONG Value) { return PutInt(Value, &TScales::put_PortEthernet); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Name(BSTR* Value) { return GetText(Value, &TScales::get_Name); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_Name(BSTR Value) { return PutText(Value, &TScales::put_Name); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_SSID(BSTR* Value) { return GetText(Value, &TScales::get_SSID); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_SSID(BSTR Value) { return PutText(Value, &TScales::put_SSID); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Key(BSTR* Value) { return GetText(Value, &TScales::get_Key); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_Key(BSTR Value) { return PutText(Value, &TScales::put_Key); }
HRESULT STDMETHODCALLTYPE TScalesObject::GetName(LONG* Value) { return Call(Value, &TScales::GetName); }
HRESULT STDMETHODCALLTYPE TScalesObject::SetName(LONG* Value) { return Call(Value, &TScales::SetName); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_PortWiFi(LONG* Value) { return GetInt(Value, &TScales::get_PortWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_PortWiFi(LONG Value) { return PutInt(Value, &TScales::put_PortWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::GetEthernet(LONG* Value) { return Call(Value, &TScales::GetEthernet); }
HRESULT STDMETHODCALLTYPE TScalesObject::SetEthernet(LONG* Value) { return Call(Value, &TScales::SetEthernet); }
HRESULT STDMETHODCALLTYPE TScalesObject::GetWiFi(LONG* Value) { return Call(Value, &TScales::GetWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::SetWifi(LONG* Value) { return Call(Value, &TScales::SetWifi); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_IpAddressWiFi(BSTR* Value) { return GetText(Value, &TScales::get_IpAddressWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_IpAddressWiFi(BSTR Value) { return PutText(Value, &TScales::put_IpAddressWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_MaskWiFi(BSTR* Value) { return GetText(Value, &TScales::get_MaskWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_MaskWiFi(BSTR Value) { return PutText(Value, &TScales::put_MaskWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_GatewayWiFi(BSTR* Value) { return GetText(Value, &TScales::get_GatewayWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_GatewayWiFi(BSTR Value) { return PutText(Value, &TScales::put_GatewayWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::GetTare(LONG* Value) { return Call(Value, &TScales::GetTare); }
HRESULT STDMETHODCALLTYPE TScalesObject::SetZero(LONG* Value) { return Call(Value, &TScales::SetZero); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_ApIpAddressWiFi(BSTR* Value) { return GetText(Value, &TScales::get_ApIpAddressWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::put_ApIpAddressWiFi(BSTR Value) { return PutText(Value, &TScales::put_ApIpAddressWiFi); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_ApSSID(BSTR* Value) { return GetText(Value, &TScales::get_ApSSID); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_ApKey(BSTR* Value) { return GetText(Value, &TScales::get_ApKey); }
HRESULT STDMETHODCALLTYPE TScalesObject::GetWiFiAP(LONG* Value) { return Call(Value, &TScales::GetWiFiAP); }
HRESULT STDMETHODCALLTYPE TScalesObject::SetWiFiAP(LONG* Value) { return Call(Value, &TScales::SetWiFiAP); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_BaudRate(LONG* Value) { return GetInt(Value, &TScales::get_BaudRate); }
HRESULT STDMETHODCALLTYPE TScalesObject::get_Parity(LONG* Value) { return GetInt(Value, &TScales::get_Parity); }

HRESULT CreateScalesObject(REFIID riid, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    TScalesObject* created = nullptr;
    try {
        created = new TScalesObject();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    PESOLINK_COM_CATCH
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

}  // namespace pesolink::com
