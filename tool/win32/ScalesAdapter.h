// The driver object reached through its automation interface. The object is
// obtained at the first member call (a running object first, else a new
// instance) and held to the end; a failed call status raises DriverError.
#pragma once

#include <windows.h>

#include "OstrelPesolink.h"
#include "tool/DriverClient.h"

namespace pesoconf {

class ScalesAdapter : public DriverClient {
public:
    ScalesAdapter() = default;
    ~ScalesAdapter() override;
    ScalesAdapter(const ScalesAdapter&) = delete;
    ScalesAdapter& operator=(const ScalesAdapter&) = delete;

    std::u16string GetConnection() override;
    void PutConnection(const std::u16string& value) override;
    int32_t OpenConnection() override;
    int32_t CloseConnection() override;
    int32_t GetName() override;
    int32_t SetName() override;
    std::u16string GetScalesID() override;
    std::u16string GetNameText() override;
    void PutName(const std::u16string& value) override;
    int32_t GetEthernet() override;
    int32_t SetEthernet() override;
    int32_t GetPortEthernet() override;
    void PutPortEthernet(int32_t value) override;
    std::u16string GetIpAddress() override;
    void PutIpAddress(const std::u16string& value) override;
    std::u16string GetMask() override;
    void PutMask(const std::u16string& value) override;
    std::u16string GetGateway() override;
    void PutGateway(const std::u16string& value) override;
    int32_t GetWiFi() override;
    int32_t SetWifi() override;
    int32_t GetPortWiFi() override;
    void PutPortWiFi(int32_t value) override;
    std::u16string GetIpAddressWiFi() override;
    void PutIpAddressWiFi(const std::u16string& value) override;
    std::u16string GetMaskWiFi() override;
    void PutMaskWiFi(const std::u16string& value) override;
    std::u16string GetGatewayWiFi() override;
    void PutGatewayWiFi(const std::u16string& value) override;
    std::u16string GetSSID() override;
    void PutSSID(const std::u16string& value) override;
    std::u16string GetKey() override;
    void PutKey(const std::u16string& value) override;
    int32_t GetWiFiAP() override;
    int32_t SetWiFiAP() override;
    std::u16string GetApIpAddressWiFi() override;
    void PutApIpAddressWiFi(const std::u16string& value) override;
    std::u16string GetApSSID() override;
    std::u16string GetApKey() override;
    int32_t GetBaudRate() override;
    int32_t GetParity() override;

private:
    IScales& Obj();
    void Check(HRESULT hr);
    using TextGet = HRESULT (STDMETHODCALLTYPE IScales::*)(BSTR*);
    using TextPut = HRESULT (STDMETHODCALLTYPE IScales::*)(BSTR);
    using IntGet = HRESULT (STDMETHODCALLTYPE IScales::*)(LONG*);
    using IntPut = HRESULT (STDMETHODCALLTYPE IScales::*)(LONG);
    std::u16string Get(TextGet member);
    void Put(TextPut member, const std::u16string& value);
    int32_t Get(IntGet member);
    void Put(IntPut member, int32_t value);

    IScales* Scales = nullptr;
};

}  // namespace pesoconf
