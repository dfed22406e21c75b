// TScales: the driver object behind IScales. Every member maps one to one
// onto a member of the automation interface (property accessors get_X and
// put_X, function members by name): texts are UTF-16, results are
// 32-bit integers, and a failure that the interface reports as an error
// status (a payload that does not fit the frame buffer, a negative tare or
// serial time-out, a command before any exchange worker exists) leaves as a
// C++ exception, which the COM layer turns into error information.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "link/RequestCycle.h"

namespace pesolink {

class TScales {
public:
    TScales();
    // Stops and joins the exchange worker and closes its link.
    ~TScales();
    TScales(const TScales&) = delete;
    TScales& operator=(const TScales&) = delete;

    // Connection (DISPID 201)
    std::u16string get_Connection() const { return Connection; }
    void put_Connection(const std::u16string& value) { Connection = value; }

    int32_t OpenConnection();   // 202
    int32_t CloseConnection();  // 203

    // Not part of IScales: called by a serial OpenConnection before each
    // step of its line probe with that step's speed and parity code, for a
    // progress display. Empty by default; it changes no result and no log line.
    using ProbeObserver = std::function<void(int32_t baudRate, int32_t parity)>;
    void SetProbeObserver(ProbeObserver observer) { ProbeStep = std::move(observer); }

    // Weighing (204-211, 227, 228)
    int32_t get_Weight() const { return NetWeight; }
    int32_t get_Division() const { return Division; }
    int32_t get_Stable() const { return Stable; }
    int32_t get_NetIndication() const { return NetIndication; }
    int32_t get_ZeroIndication() const { return ZeroIndication; }
    int32_t ReadWeight();
    int32_t get_TareWeight() const { return TareWeight; }
    void put_TareWeight(int32_t value);
    int32_t SetTare();
    int32_t GetTare();
    int32_t SetZero();

    // Identity and network settings (212-226, 229-236)
    std::u16string get_ScalesID() const { return Serial; }
    std::u16string get_IpAddress() const { return Ip; }
    void put_IpAddress(const std::u16string& value);
    std::u16string get_Mask() const { return Mask; }
    void put_Mask(const std::u16string& value);
    std::u16string get_Gateway() const { return Gateway; }
    void put_Gateway(const std::u16string& value);
    int32_t get_PortEthernet() const { return PortEthernet; }
    void put_PortEthernet(int32_t value);
    std::u16string get_Name() const { return Name; }
    void put_Name(const std::u16string& value);
    std::u16string get_SSID() const { return Ssid; }
    void put_SSID(const std::u16string& value);
    std::u16string get_Key() const { return Password; }
    void put_Key(const std::u16string& value);
    int32_t GetName();          // 220
    int32_t SetName();          // 221
    int32_t get_PortWiFi() const { return PortWiFi; }
    void put_PortWiFi(int32_t value);
    int32_t GetEthernet();      // 223
    int32_t SetEthernet();      // 224
    int32_t GetWiFi();          // 225
    int32_t SetWifi();          // 226
    std::u16string get_IpAddressWiFi() const { return WifiIp; }
    void put_IpAddressWiFi(const std::u16string& value);
    std::u16string get_MaskWiFi() const { return WifiMask; }
    void put_MaskWiFi(const std::u16string& value);
    std::u16string get_GatewayWiFi() const { return WifiGateway; }
    void put_GatewayWiFi(const std::u16string& value);
    std::u16string get_ApIpAddressWiFi() const { return WiFiAP; }
    void put_ApIpAddressWiFi(const std::u16string& value);
    std::u16string get_ApSSID() const;
    std::u16string get_ApKey() const;
    int32_t GetWiFiAP();        // 235
    int32_t SetWiFiAP();        // 236
    int32_t get_BaudRate() const { return RsBaudRate; }
    int32_t get_Parity() const { return RsParity; }

private:
    // Connection procedures and the exchange shared by every command.
    int32_t OpenSerial();
    int32_t OpenTcp();
    int32_t Transact();
    int32_t Query(uint8_t command);
    int32_t RunGetName();
    int32_t SendWifiAddresses(const std::u16string& ip, const std::u16string& mask, const std::u16string& gateway,
                              const std::u16string& ap, uint16_t port);

    // The worker's frame buffer; throws std::logic_error before the first
    // connect has created the worker.
    TCommand& Frame();
    uint8_t* Payload(int32_t length);
    static void PutU16(uint8_t* at, uint32_t value);
    static void PutU32(uint8_t* at, uint32_t value);
    uint8_t ReplyByte(int32_t k);
    uint16_t ReplyU16(int32_t k);
    uint32_t ReplyU32(int32_t k);
    std::u16string ReplyAddress(int32_t k);
    std::u16string ReplyText(int32_t& k);
    int32_t GetTest(int32_t minLength, uint8_t errorCode);
    int32_t SetTest(uint8_t errorCode);
    int32_t SetReadTest();
    int32_t AckTest();
    void LogEntry(std::u16string_view name);
    void LogExit(std::u16string_view name, int32_t result);

    TRequestCycle Link;  // owns ScalesThread; declared first, destroyed last

    std::u16string Connection;
    std::u16string Con;
    int32_t NetWeight = 0;
    int32_t TareWeight = 0;
    int32_t Division = 0;
    int32_t Stable = 0;
    int32_t NetIndication = 0;
    int32_t ZeroIndication = 0;
    std::u16string Serial;
    int32_t PortEthernet = 0;
    int32_t PortWiFi = 0;
    std::u16string Ip;
    std::u16string Mask;
    std::u16string Gateway;
    std::u16string Name;
    std::u16string Ssid;
    std::u16string Password;
    std::u16string WifiIp;
    std::u16string WifiMask;
    std::u16string WifiGateway;
    std::u16string WiFiAP;
    int32_t RsBaudRate = 0;
    int32_t RsParity = 0;

    ProbeObserver ProbeStep;
};

}  // namespace pesolink
