// The members of the scale driver object that the configuration tool uses.
// On Windows an adapter over the automation interface implements it; the
// unit tests use a fake. A failed call status leaves as DriverError.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pesoconf {

// A call on the driver object failed at the platform level (object not
// registered, interface missing, failed call status). Text is shown to the
// user as it is.
class DriverError : public std::runtime_error {
public:
    explicit DriverError(std::u16string text)
        : std::runtime_error("driver call failed"), Text(std::move(text)) {}
    std::u16string Text;
};

class DriverClient {
public:
    virtual ~DriverClient() = default;

    virtual std::u16string GetConnection() = 0;
    virtual void PutConnection(const std::u16string& value) = 0;
    virtual int32_t OpenConnection() = 0;
    virtual int32_t CloseConnection() = 0;

    virtual int32_t GetName() = 0;
    virtual int32_t SetName() = 0;
    virtual std::u16string GetScalesID() = 0;
    virtual std::u16string GetNameText() = 0;
    virtual void PutName(const std::u16string& value) = 0;

    virtual int32_t GetEthernet() = 0;
    virtual int32_t SetEthernet() = 0;
    virtual int32_t GetPortEthernet() = 0;
    virtual void PutPortEthernet(int32_t value) = 0;
    virtual std::u16string GetIpAddress() = 0;
    virtual void PutIpAddress(const std::u16string& value) = 0;
    virtual std::u16string GetMask() = 0;
    virtual void PutMask(const std::u16string& value) = 0;
    virtual std::u16string GetGateway() = 0;
    virtual void PutGateway(const std::u16string& value) = 0;

    virtual int32_t GetWiFi() = 0;
    virtual int32_t SetWifi() = 0;
    virtual int32_t GetPortWiFi() = 0;
    virtual void PutPortWiFi(int32_t value) = 0;
    virtual std::u16string GetIpAddressWiFi() = 0;
    virtual void PutIpAddressWiFi(const std::u16string& value) = 0;
    virtual std::u16string GetMaskWiFi() = 0;
    virtual void PutMaskWiFi(const std::u16string& value) = 0;
    virtual std::u16string GetGatewayWiFi() = 0;
    virtual void PutGatewayWiFi(const std::u16string& value) = 0;
    virtual std::u16string GetSSID() = 0;
    virtual void PutSSID(const std::u16string& value) = 0;
    virtual std::u16string GetKey() = 0;
    virtual void PutKey(const std::u16string& value) = 0;

    virtual int32_t GetWiFiAP() = 0;
    virtual int32_t SetWiFiAP() = 0;
    virtual std::u16string GetApIpAddressWiFi() = 0;
    virtual void PutApIpAddressWiFi(const std::u16string& value) = 0;
    virtual std::u16string GetApSSID() = 0;
    virtual std::u16string GetApKey() = 0;

    virtual int32_t GetBaudRate() = 0;
    virtual int32_t GetParity() = 0;
};

}  // namespace pesoconf
