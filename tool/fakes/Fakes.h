// Recording fakes of the window, the host services, the serial port and the
// driver, for exercising the tool's logic off Windows.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tool/Controls.h"
#include "tool/DriverClient.h"
#include "tool/FormLayout.h"
#include "tool/ParamForm.h"
#include "tool/SerialPort.h"

namespace pesoconf::fakes {

inline std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t ch : s) {
        if (ch < 0x80) {
            out += static_cast<char>(ch);
        } else if (ch < 0x800) {
            out += static_cast<char>(0xC0 | (ch >> 6));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (ch >> 12));
            out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return out;
}

// Control states, starting as the window starts.
class FakeView : public FormView {
public:
    struct State {
        std::u16string text;
        bool enabled = true;
        bool checked = false;
        bool visible = true;
    };

    FakeView() {
        for (const layout::ControlDef& def : layout::Controls) {
            State& s = At(def.id);
            s.enabled = def.enabled;
            s.visible = layout::VisibleAtStart(def);
            if (def.kind != layout::Kind::Edit && def.kind != layout::Kind::CheckBox && def.label)
                s.text = def.label;
        }
    }

    void SetText(Ctl c, const std::u16string& text) override { At(c).text = text; }
    std::u16string GetText(Ctl c) const override { return At(c).text; }
    void SetEnabled(Ctl c, bool enabled) override { At(c).enabled = enabled; }
    bool IsEnabled(Ctl c) const override { return At(c).enabled; }
    void SetChecked(Ctl c, bool checked) override { At(c).checked = checked; }
    bool IsChecked(Ctl c) const override { return At(c).checked; }
    void SetVisible(Ctl c, bool visible) override { At(c).visible = visible; }
    bool IsVisible(Ctl c) const override { return At(c).visible; }

    State& At(Ctl c) { return States[static_cast<int>(c)]; }
    const State& At(Ctl c) const { return States[static_cast<int>(c)]; }

    // What a user does in the window.
    void UserTypes(ParamForm& form, Ctl c, const std::u16string& text) {
        At(c).text = text;
        form.OnUserEdit(c);
    }
    void UserClicks(ParamForm& form, Ctl c) {
        At(c).checked = !At(c).checked;
        form.OnUserClick(c);
    }

private:
    std::array<State, CtlCount> States{};
};

struct ShownMessage {
    std::u16string text;
    std::u16string caption;
    MsgButtons buttons;
    MsgIcon icon;
};

// Host services with a clock that moves only when something spends time.
class FakeHost : public Host {
public:
    uint32_t Now = 0x7FFFF000u;  // near a wrap of the upper half, on purpose
    bool TimerEnabled = true;
    uint32_t TimerInterval = 100;
    int Terminations = 0;
    int Pumps = 0;
    std::vector<ShownMessage> Messages;
    std::deque<MsgAnswer> Answers;         // answers to the next boxes, Ok when none
    std::function<void()> OnPump;          // events a pump delivers
    std::function<void(const ShownMessage&)> OnMessage;

    void ProcessMessages() override {
        ++Pumps;
        if (OnPump) OnPump();
    }
    void Terminate() override { ++Terminations; }
    uint32_t TickCount() override { return Now; }
    void SetTimerEnabled(bool enabled) override { TimerEnabled = enabled; }
    void SetTimerInterval(uint32_t ms) override { TimerInterval = ms; }
    MsgAnswer ShowMessage(const std::u16string& text, const std::u16string& caption,
                         MsgButtons buttons, MsgIcon icon) override {
        Messages.push_back({text, caption, buttons, icon});
        if (OnMessage) OnMessage(Messages.back());
        if (Answers.empty()) return MsgAnswer::Ok;
        MsgAnswer a = Answers.front();
        Answers.pop_front();
        return a;
    }
};

// A serial port with a scale behind it. The scale answers only on its port
// at its line settings; each answer arrives in the chunks given, and every
// read costs the time the real port would spend.
class FakeSerial : public SerialPort {
public:
    explicit FakeSerial(FakeHost& host) : Clock(host) {}

    struct Opened {
        uint16_t port;
        uint32_t baud;
        uint8_t parity;
    };

    uint16_t ScalePort = 4;
    uint32_t ScaleBaud = 57600;
    uint8_t ScaleParity = 0;
    bool OpenFails = false;
    // Replies by command code; each reply is a list of chunks.
    std::map<uint8_t, std::vector<std::vector<uint8_t>>> Replies;
    uint32_t ChunkGapMs = 50;       // time between chunks of one reply
    bool DeadLine = false;          // reads come back empty at once

    std::vector<Opened> Opens;
    std::vector<std::vector<uint8_t>> Written;
    int Closes = 0;
    int MaxCapacityAsked = 0;

    void SetPortNumber(uint16_t number) override { Port = number; }
    uint16_t PortNumber() const override { return Port; }
    void SetParity(uint8_t parity) override { ParityCode = parity; }
    uint8_t Parity() const override { return ParityCode; }
    bool Open(uint32_t, uint32_t, uint32_t baud) override {
        Opens.push_back({Port, baud, ParityCode});
        if (OpenFails) return false;
        IsOpen = true;
        Baud = baud;
        Pending.clear();
        return true;
    }
    int32_t Write(const uint8_t* data, int32_t count) override {
        Written.emplace_back(data, data + count);
        if (!IsOpen || Port != ScalePort || Baud != ScaleBaud || ParityCode != ScaleParity ||
            count < 6)
            return count;
        auto it = Replies.find(data[5]);
        if (it == Replies.end()) return count;
        for (const auto& chunk : it->second) Pending.push_back(chunk);
        return count;
    }
    int32_t Read(uint8_t* dest, int32_t capacity) override {
        MaxCapacityAsked = std::max(MaxCapacityAsked, capacity);
        if (DeadLine) return 0;
        if (Pending.empty()) {
            Clock.Now += 1000;
            return 0;
        }
        // Bytes of the next chunk, up to the capacity; the rest waits.
        std::vector<uint8_t>& chunk = Pending.front();
        const int32_t n = std::min<int32_t>(capacity, static_cast<int32_t>(chunk.size()));
        std::copy(chunk.begin(), chunk.begin() + n, dest);
        chunk.erase(chunk.begin(), chunk.begin() + n);
        if (chunk.empty()) Pending.pop_front();
        Clock.Now += ChunkGapMs + 500;  // the inter-byte time-out ends the read
        return n;
    }
    void Close() override {
        ++Closes;
        IsOpen = false;
    }

private:
    FakeHost& Clock;
    uint16_t Port = 0;
    uint8_t ParityCode = 0;
    uint32_t Baud = 0;
    bool IsOpen = false;
    std::deque<std::vector<uint8_t>> Pending;
};

// A frame as the scale sends it: header, length, payload, checksum bytes
// (their value is not examined by the probe).
inline std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f = {0xF8, 0x55, 0xCE, static_cast<uint8_t>(payload.size() & 0xFF),
                              static_cast<uint8_t>(payload.size() >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(0);
    f.push_back(0);
    return f;
}

// Driver object with a scale on one port. Every member call is logged, the
// address puts follow the driver's rule (first character 1 to 9, four
// groups), and results can be set per member.
class FakeDriver : public DriverClient {
public:
    std::u16string ScalePort = u"COM4";
    bool ScalePresent = true;
    std::map<std::string, int32_t> Results;  // by member name, 0 when absent
    std::vector<std::string> Calls;
    std::function<void(const std::string&)> OnCall;  // events during a call
    std::string FailingMember;                       // raises DriverError

    // The scale's values, as the Get commands fill them in.
    std::u16string ScaleSerial = u"123";
    std::u16string ScaleName = u"Scale";
    int32_t ScalePortEthernet = 5001;
    std::u16string ScaleIp = u"192.168.1.10", ScaleMask = u"255.255.255.0",
                   ScaleGateway = u"192.168.1.1";
    int32_t ScalePortWiFi = 5002;
    std::u16string ScaleWifiIp = u"192.168.2.10", ScaleWifiMask = u"255.255.255.0",
                   ScaleWifiGateway = u"192.168.2.1", ScaleSsid = u"net", ScaleKey = u"secret";
    std::u16string ScaleApIp = u"0.0.0.0";
    int32_t Baud = 57600, ParityCode = 0;

    // Fields.
    std::u16string Connection, Serial, Name, Ip, Mask, Gateway, WifiIp, WifiMask, WifiGateway,
        Ssid, Key, WiFiAP;
    int32_t PortEthernet = 0, PortWiFi = 0;

    std::u16string GetConnection() override { return Log("get Connection"), Connection; }
    void PutConnection(const std::u16string& v) override {
        Log("put Connection=" + Narrow(v));
        Connection = v;
    }
    int32_t OpenConnection() override {
        Log("OpenConnection");
        if (!ScalePresent || Connection != ScalePort) return 2;
        return Result("OpenConnection");
    }
    int32_t CloseConnection() override { return Log("CloseConnection"), Result("CloseConnection"); }

    int32_t GetName() override {
        Log("GetName");
        int32_t r = Result("GetName");
        if (r == 0) {
            Serial = ScaleSerial;
            Name = ScaleName;
        }
        return r;
    }
    int32_t SetName() override { return Log("SetName"), Result("SetName"); }
    std::u16string GetScalesID() override { return Log("get ScalesID"), Serial; }
    std::u16string GetNameText() override { return Log("get Name"), Name; }
    void PutName(const std::u16string& v) override {
        Log("put Name=" + Narrow(v));
        if (v.size() <= 25) Name = v;
    }

    int32_t GetEthernet() override {
        Log("GetEthernet");
        int32_t r = Result("GetEthernet");
        if (r == 0) {
            PortEthernet = ScalePortEthernet;
            Ip = ScaleIp;
            Mask = ScaleMask;
            Gateway = ScaleGateway;
        }
        return r;
    }
    int32_t SetEthernet() override { return Log("SetEthernet"), Result("SetEthernet"); }
    int32_t GetPortEthernet() override { return Log("get PortEthernet"), PortEthernet; }
    void PutPortEthernet(int32_t v) override {
        Log("put PortEthernet=" + std::to_string(v));
        if (v >= 0 && v <= 65535) PortEthernet = v;
    }
    std::u16string GetIpAddress() override { return Log("get IpAddress"), Ip; }
    void PutIpAddress(const std::u16string& v) override { PutAddress("IpAddress", Ip, v); }
    std::u16string GetMask() override { return Log("get Mask"), Mask; }
    void PutMask(const std::u16string& v) override { PutAddress("Mask", Mask, v); }
    std::u16string GetGateway() override { return Log("get Gateway"), Gateway; }
    void PutGateway(const std::u16string& v) override { PutAddress("Gateway", Gateway, v); }

    int32_t GetWiFi() override {
        Log("GetWiFi");
        int32_t r = Result("GetWiFi");
        if (r == 0) {
            PortWiFi = ScalePortWiFi;
            WifiIp = ScaleWifiIp;
            WifiMask = ScaleWifiMask;
            WifiGateway = ScaleWifiGateway;
            Ssid = ScaleSsid;
            Key = ScaleKey;
            WiFiAP = ScaleApIp;
        }
        return r;
    }
    int32_t SetWifi() override { return Log("SetWifi"), Result("SetWifi"); }
    int32_t GetPortWiFi() override { return Log("get PortWiFi"), PortWiFi; }
    void PutPortWiFi(int32_t v) override {
        Log("put PortWiFi=" + std::to_string(v));
        if (v >= 0 && v <= 65535) PortWiFi = v;
    }
    std::u16string GetIpAddressWiFi() override { return Log("get IpAddressWiFi"), WifiIp; }
    void PutIpAddressWiFi(const std::u16string& v) override {
        PutAddress("IpAddressWiFi", WifiIp, v);
    }
    std::u16string GetMaskWiFi() override { return Log("get MaskWiFi"), WifiMask; }
    void PutMaskWiFi(const std::u16string& v) override { PutAddress("MaskWiFi", WifiMask, v); }
    std::u16string GetGatewayWiFi() override { return Log("get GatewayWiFi"), WifiGateway; }
    void PutGatewayWiFi(const std::u16string& v) override {
        PutAddress("GatewayWiFi", WifiGateway, v);
    }
    std::u16string GetSSID() override { return Log("get SSID"), Ssid; }
    void PutSSID(const std::u16string& v) override {
        Log("put SSID=" + Narrow(v));
        if (v.size() <= 32) Ssid = v;
    }
    std::u16string GetKey() override { return Log("get Key"), Key; }
    void PutKey(const std::u16string& v) override {
        Log("put Key=" + Narrow(v));
        if (v.size() <= 64) Key = v;
    }

    int32_t GetWiFiAP() override {
        Log("GetWiFiAP");
        int32_t r = Result("GetWiFiAP");
        if (r == 0) WiFiAP = ScaleApIp;
        return r;
    }
    int32_t SetWiFiAP() override { return Log("SetWiFiAP"), Result("SetWiFiAP"); }
    std::u16string GetApIpAddressWiFi() override { return Log("get ApIpAddressWiFi"), WiFiAP; }
    void PutApIpAddressWiFi(const std::u16string& v) override {
        PutAddress("ApIpAddressWiFi", WiFiAP, v);
    }
    std::u16string GetApSSID() override {
        Log("get ApSSID");
        std::u16string s = Serial.substr(0, 6);
        while (s.size() < 6) s.insert(s.begin(), u'0');
        return u"Os_" + s;
    }
    std::u16string GetApKey() override { return Log("get ApKey"), u"Qorvin4863"; }

    int32_t GetBaudRate() override { return Log("get BaudRate"), Baud; }
    int32_t GetParity() override { return Log("get Parity"), ParityCode; }

    // Calls whose name starts with the prefix, in order.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& c : Calls)
            if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
        return out;
    }
    int Count(const std::string& call) const {
        int n = 0;
        for (const auto& c : Calls) n += c == call;
        return n;
    }

private:
    void Log(const std::string& call) {
        Calls.push_back(call);
        if (!FailingMember.empty() && call == FailingMember)
            throw DriverError(u"Класс не зарегистрирован");
        if (OnCall) OnCall(call);
    }
    int32_t Result(const std::string& member) const {
        auto it = Results.find(member);
        return it == Results.end() ? 0 : it->second;
    }
    void PutAddress(const char* name, std::u16string& field, const std::u16string& v) {
        Log(std::string("put ") + name + "=" + Narrow(v));
        if (v.empty() || (v[0] >= u'1' && v[0] <= u'9' && CheckIpText(v) == 0)) field = v;
    }
};

}  // namespace pesoconf::fakes
