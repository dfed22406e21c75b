// The automation object Scales: IScales (dual) over one TScales, with
// IDispatch driven by the type information, ISupportErrorInfo and
// IProvideClassInfo.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "OstrelPesolink.h"
#include "driver/Scales.h"
#include "driver/com/ComModule.h"

namespace pesolink::com {

class TScalesObject final : public IScales, public ISupportErrorInfo, public IProvideClassInfo {
public:
    TScalesObject();
    TScalesObject(const TScalesObject&) = delete;
    TScalesObject& operator=(const TScalesObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

    // IScales, in slot order
    HRESULT STDMETHODCALLTYPE get_Connection(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_Connection(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE OpenConnection(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE CloseConnection(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_Weight(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_Division(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_Stable(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_NetIndication(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_ZeroIndication(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE ReadWeight(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_TareWeight(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE put_TareWeight(LONG Value) override;
    HRESULT STDMETHODCALLTYPE SetTare(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_ScalesID(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE get_IpAddress(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_IpAddress(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_Mask(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_Mask(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_Gateway(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_Gateway(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_PortEthernet(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE put_PortEthernet(LONG Value) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_SSID(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_SSID(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_Key(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_Key(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE GetName(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE SetName(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_PortWiFi(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE put_PortWiFi(LONG Value) override;
    HRESULT STDMETHODCALLTYPE GetEthernet(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE SetEthernet(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE GetWiFi(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE SetWifi(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_IpAddressWiFi(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_IpAddressWiFi(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_MaskWiFi(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_MaskWiFi(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_GatewayWiFi(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_GatewayWiFi(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE GetTare(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE SetZero(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_ApIpAddressWiFi(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE put_ApIpAddressWiFi(BSTR Value) override;
    HRESULT STDMETHODCALLTYPE get_ApSSID(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE get_ApKey(BSTR* Value) override;
    HRESULT STDMETHODCALLTYPE GetWiFiAP(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE SetWiFiAP(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_BaudRate(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE get_Parity(LONG* Value) override;

private:
    ~TScalesObject();

    // The shapes every member takes: check the out pointer, call the
    // driver object inside try, turn any exception into a failure status.
    using IntGetter = int32_t (TScales::*)() const;
    using IntSetter = void (TScales::*)(int32_t);
    using TextGetter = std::u16string (TScales::*)() const;
    using TextSetter = void (TScales::*)(const std::u16string&);
    using Command = int32_t (TScales::*)();

    HRESULT GetInt(LONG* value, IntGetter getter);
    HRESULT PutInt(LONG value, IntSetter setter);
    HRESULT GetText(BSTR* value, TextGetter getter);
    HRESULT PutText(BSTR value, TextSetter setter);
    HRESULT Call(LONG* result, Command command);

    // Counted for DllCanUnloadNow from before the driver object exists to
    // after it is gone (its destructor joins the exchange worker): the
    // module must not be unloaded while that still runs.
    struct LiveObject {
        LiveObject() noexcept { ObjectCreated(); }
        ~LiveObject() { ObjectDestroyed(); }
        LiveObject(const LiveObject&) = delete;
        LiveObject& operator=(const LiveObject&) = delete;
    };

    LiveObject live_;
    LONG refs_ = 1;
    TScales scales_;
};

// Creates a new object and hands out the interface asked for.
HRESULT CreateScalesObject(REFIID riid, void** object) noexcept;

}  // namespace pesolink::com
