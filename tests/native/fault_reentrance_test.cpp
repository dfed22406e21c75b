// Re-entrant calls: while a call waits for the scale, a message handler of
// the client (here a message dispatched inside the caller's wait) calls the
// same object again. Every such call is refused with ResultBusy and touches
// nothing: the waiting call ends with its own result and its own reply, no
// field is changed by the refused calls, and nothing more is sent. Over TCP
// and over the serial port, during the first and during a later exchange of
// a call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/Scales.h"
#include "link/Frame.h"
#include "link/RequestCycle.h"
#include "link/posix/CallerMessages.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tests/native/fault_support.h"

namespace pesolink {
namespace {

using Bytes = std::vector<uint8_t>;
using fault_test::Narrow;
using fault_test::U16;
using sim::Fault;
using sim::FaultKind;

struct Member {
    const char* name;
    int32_t (TScales::*call)();
};

const Member Members[] = {
    {"OpenConnection", &TScales::OpenConnection}, {"CloseConnection", &TScales::CloseConnection},
    {"ReadWeight", &TScales::ReadWeight},         {"GetTare", &TScales::GetTare},
    {"SetTare", &TScales::SetTare},               {"SetZero", &TScales::SetZero},
    {"GetName", &TScales::GetName},               {"SetName", &TScales::SetName},
    {"GetEthernet", &TScales::GetEthernet},       {"SetEthernet", &TScales::SetEthernet},
    {"GetWiFi", &TScales::GetWiFi},               {"SetWifi", &TScales::SetWifi},
    {"GetWiFiAP", &TScales::GetWiFiAP},           {"SetWiFiAP", &TScales::SetWiFiAP},
};

// Everything a refused call could have disturbed.
struct Snapshot {
    int32_t weight, tare, portEthernet, portWiFi, baud, parity;
    std::u16string serial, name, ip, mask, gateway, ssid, key, wifiIp, wifiMask, wifiGateway, ap, connection;

    static Snapshot Of(const TScales& s) {
        return {s.get_Weight(),  s.get_TareWeight(), s.get_PortEthernet(), s.get_PortWiFi(),   s.get_BaudRate(),
                s.get_Parity(),  s.get_ScalesID(),   s.get_Name(),         s.get_IpAddress(),  s.get_Mask(),
                s.get_Gateway(), s.get_SSID(),       s.get_Key(),          s.get_IpAddressWiFi(), s.get_MaskWiFi(),
                s.get_GatewayWiFi(), s.get_ApIpAddressWiFi(), s.get_Connection()};
    }
    bool operator==(const Snapshot& o) const {
        return weight == o.weight && tare == o.tare && portEthernet == o.portEthernet && portWiFi == o.portWiFi &&
               baud == o.baud && parity == o.parity && serial == o.serial && name == o.name && ip == o.ip &&
               mask == o.mask && gateway == o.gateway && ssid == o.ssid && key == o.key && wifiIp == o.wifiIp &&
               wifiMask == o.wifiMask && wifiGateway == o.wifiGateway && ap == o.ap && connection == o.connection;
    }
};

std::ostream& operator<<(std::ostream& os, const Snapshot& s) {
    return os << "{weight " << s.weight << " tare " << s.tare << " serial '" << Narrow(s.serial) << "' name '"
              << Narrow(s.name) << "' ssid '" << Narrow(s.ssid) << "' key '" << Narrow(s.key) << "' wifi "
              << Narrow(s.wifiIp) << "/" << Narrow(s.wifiMask) << "/" << Narrow(s.wifiGateway) << ":" << s.portWiFi
              << " ap " << Narrow(s.ap) << " eth " << Narrow(s.ip) << ":" << s.portEthernet << " line " << s.baud
              << "," << s.parity << " connection " << Narrow(s.connection) << "}";
}

enum class Outer { Open, ReadWeight, GetWiFi, SetWifi };

struct Case {
    const char* name;
    bool serial;
    Outer outer;
    uint8_t waitOn;  // the exchange during which the handler runs
    int32_t result;  // the outer call's own result
};

const Case Cases[] = {
    {"tcp OpenConnection", false, Outer::Open, CMD_GET_NAME, 0},
    {"tcp ReadWeight", false, Outer::ReadWeight, CMD_GET_WEIGHT, 0},
    {"tcp GetWiFi, third exchange", false, Outer::GetWiFi, CMD_GET_WIFI_IP, 0},
    {"tcp SetWifi, last exchange", false, Outer::SetWifi, CMD_SET_WIFI_IP, 0},
    {"tcp ReadWeight refused by the scale", false, Outer::ReadWeight, CMD_GET_WEIGHT, 17},
    {"serial OpenConnection", true, Outer::Open, CMD_GET_NAME, 0},
    {"serial ReadWeight", true, Outer::ReadWeight, CMD_GET_WEIGHT, 0},
    {"serial GetWiFi, third exchange", true, Outer::GetWiFi, CMD_GET_WIFI_IP, 0},
    {"serial SetWifi, last exchange", true, Outer::SetWifi, CMD_SET_WIFI_IP, 0},
    {"serial ReadWeight refused by the scale", true, Outer::ReadWeight, CMD_GET_WEIGHT, 17},
};

class ReentrantCalls : public fault_test::DriverModuleFixture {
protected:
    ReentrantCalls() : DriverModuleFixture(400, 20) {}
};

TEST_F(ReentrantCalls, RefusedDuringEveryKindOfWait) {
    sim::SimScale scale;
    sim::SimServer server{scale};
    const std::u16string tcp = U16("127.0.0.1:" + std::to_string(server.ListenTcp(0)));
    server.OpenPty(ComLink(7));
    server.SetLineSetting(0, 0);

    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        scale.ClearFaults();
        scale.SetState(sim::ScaleState{});
        TScales s;
        s.put_Connection(c.serial ? u"COM7" : tcp);
        if (c.outer != Outer::Open) {
            ASSERT_EQ(s.OpenConnection(), 0);
        }
        // Client values that a Set sends and a refused Get would clear.
        s.put_SSID(u"Yard");
        s.put_Key(u"secret");
        s.put_IpAddressWiFi(u"10.0.0.5");
        s.put_MaskWiFi(u"255.0.0.0");
        s.put_GatewayWiFi(u"10.0.0.1");
        s.put_ApIpAddressWiFi(u"10.0.0.8");
        s.put_IpAddress(u"10.0.1.5");
        s.put_PortWiFi(5005);
        s.put_TareWeight(77);
        scale.Update([](sim::ScaleState& st) { st.weight = 4321; });

        if (c.result == 17) {
            Fault error{};
            error.kind = FaultKind::ErrorReply;
            error.command = c.waitOn;
            error.errorCode = 0x11;
            scale.AddFault(error);
        }

        std::vector<int32_t> nested;
        Snapshot during{};
        std::atomic<bool> posted{false};
        // When the awaited request arrives the handler is posted, and the
        // scale holds its reply back a while: the handler runs inside the
        // caller's wait for that reply.
        scale.SetRequestObserver([&](const Bytes& frame) {
            if (frame.size() > 5 && frame[5] == c.waitOn && !posted.exchange(true)) {
                PostCallerMessage([&] {
                    const Snapshot before = Snapshot::Of(s);
                    for (const Member& m : Members) nested.push_back((s.*m.call)());
                    s.put_Connection(s.get_Connection());  // a put is no request: it stays allowed
                    during = Snapshot::Of(s);
                    EXPECT_EQ(during, before) << "a refused call changed a field";
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            }
        });
        scale.ClearRequests();
        const Snapshot before = Snapshot::Of(s);

        int32_t result = -100;
        switch (c.outer) {
            case Outer::Open: result = s.OpenConnection(); break;
            case Outer::ReadWeight: result = s.ReadWeight(); break;
            case Outer::GetWiFi: result = s.GetWiFi(); break;
            case Outer::SetWifi: result = s.SetWifi(); break;
        }
        scale.SetRequestObserver(nullptr);
        ASSERT_TRUE(posted) << "the awaited request never came";
        ASSERT_EQ(nested.size(), std::size(Members)) << "the handler did not run inside the wait";
        for (std::size_t i = 0; i < nested.size(); ++i) EXPECT_EQ(nested[i], ResultBusy) << Members[i].name;

        // The outer call's own result and its own reply's values.
        EXPECT_EQ(result, c.result);
        Snapshot expected = before;
        switch (c.outer) {
            case Outer::Open:
                if (c.serial) expected.baud = 4800, expected.parity = 2;
                break;
            case Outer::ReadWeight:
                if (c.result == 0) expected.weight = 4321;
                break;
            case Outer::GetWiFi:
                expected.serial = u"12345";
                expected.name = u"Scale";
                expected.ssid = u"Net";
                expected.key = u"key";
                expected.wifiIp = u"192.168.1.11";
                expected.wifiMask = u"255.255.255.0";
                expected.wifiGateway = u"192.168.1.1";
                expected.ap = u"192.168.4.1";
                expected.portWiFi = 5000;
                break;
            case Outer::SetWifi: break;
        }
        EXPECT_EQ(Snapshot::Of(s), expected);

        // Only the outer call's requests reached the scale.
        Bytes codes;
        for (const Bytes& r : scale.Requests()) codes.push_back(r[5]);
        const Bytes want = c.outer == Outer::Open         ? Bytes{CMD_GET_NAME}
                           : c.outer == Outer::ReadWeight ? Bytes{CMD_GET_WEIGHT}
                           : c.outer == Outer::GetWiFi    ? Bytes{CMD_GET_NAME, CMD_GET_WIFI_SSID, CMD_GET_WIFI_IP}
                                                          : Bytes{CMD_SET_WIFI_SSID, CMD_GET_WIFI_IP, CMD_SET_WIFI_IP};
        EXPECT_EQ(codes, want);
        if (c.outer == Outer::SetWifi) {
            // What went out is what the client had put, not what a refused
            // GetWiFi could have cleared.
            const sim::ScaleState st = scale.State();
            EXPECT_EQ(st.ssid, "Yard");
            EXPECT_EQ(st.key, "secret");
            EXPECT_EQ(st.wifiIp, 0x0A000005u);
            EXPECT_EQ(st.wifiPort, 5005);
        }

        // Once the outer call is done the object takes calls again.
        EXPECT_EQ(s.ReadWeight(), 0);
        EXPECT_EQ(s.get_Weight(), 4321);
    }
    server.Stop();
}

}  // namespace
}  // namespace pesolink
