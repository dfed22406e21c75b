// Every command of the driver object with the fuzzer's bytes as the scale's
// replies: a sequence of up to four commands runs over TCP or the serial
// port after an ordinary OpenConnection, and each reply may be cut into
// pieces or followed by a hang-up. Each call must end with a result code
// its command can give (or the one error status the command may raise),
// send only well-formed frames, store the weighing and identity fields
// exactly as the reply carries them, and leave the object usable.
//
// Input: byte 0 bit 0 = serial port (else TCP), bits 1-2 = number of
// commands - 1; then one byte per command (index into Commands, modulo);
// then replies as in FakeLink.h, taken in the order the driver asks.
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

#include "driver/IpText.h"
#include "driver/Language.h"
#include "driver/Scales.h"
#include "link/ComUnit.h"
#include "tests/fuzz/CommandModel.h"
#include "tests/fuzz/FakeLink.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;
using namespace pesolink::fuzz;

namespace {

// ms. Short, so that a silent serial line costs little; a serial input
// whose outcome differs from the rules runs again with the long one, where
// only a real fault can still make it differ.
constexpr int SerialDeadline = 2;
constexpr int LongSerialDeadline = 50;

const Bytes NameReply = Frame({0x20, 0x39, 0x30, 0x00, 0x00, 'S', 'c', 'a', 'l', 'e', 0x0D, 0x0A});
const Bytes WeightReply = Frame({0x23, 0xE8, 0x03, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01});

enum Kind { Weighing, Refusable, Network, NetworkSet, Connect };

struct Command {
    const char* name;
    int32_t (TScales::*call)();
    Kind kind;
};

const Command Commands[] = {
    {"ReadWeight", &TScales::ReadWeight, Weighing},
    {"GetTare", &TScales::GetTare, Weighing},
    {"SetTare", &TScales::SetTare, Refusable},
    {"SetZero", &TScales::SetZero, Refusable},
    {"GetName", &TScales::GetName, Weighing},
    {"SetName", &TScales::SetName, Refusable},
    {"GetEthernet", &TScales::GetEthernet, Network},
    {"SetEthernet", &TScales::SetEthernet, NetworkSet},
    {"GetWiFi", &TScales::GetWiFi, Network},
    {"SetWifi", &TScales::SetWifi, NetworkSet},
    {"GetWiFiAP", &TScales::GetWiFiAP, Network},
    {"SetWiFiAP", &TScales::SetWiFiAP, NetworkSet},
    {"OpenConnection", &TScales::OpenConnection, Connect},
    {"CloseConnection", &TScales::CloseConnection, Connect},
};
constexpr std::size_t CommandCount = sizeof Commands / sizeof Commands[0];

bool ResultAllowed(Kind kind, int32_t r) {
    if (!KnownResult(r)) return false;
    switch (kind) {
        case Weighing: return r != 4 && r != 5;
        case Refusable: return r != 4;
        case Network: return r != 5;
        case NetworkSet: return true;
        case Connect: return r == 0 || r == 1 || r == 2;
    }
    return false;
}

Fields Snapshot(const TScales& s) {
    Fields f;
    f.weight = s.get_Weight();
    f.division = s.get_Division();
    f.stable = s.get_Stable();
    f.net = s.get_NetIndication();
    f.zero = s.get_ZeroIndication();
    f.tare = s.get_TareWeight();
    f.serial = s.get_ScalesID();
    f.name = s.get_Name();
    f.ip = s.get_IpAddress();
    f.mask = s.get_Mask();
    f.gateway = s.get_Gateway();
    f.portEthernet = s.get_PortEthernet();
    f.ssid = s.get_SSID();
    f.key = s.get_Key();
    f.wifiIp = s.get_IpAddressWiFi();
    f.wifiMask = s.get_MaskWiFi();
    f.wifiGateway = s.get_GatewayWiFi();
    f.ap = s.get_ApIpAddressWiFi();
    f.portWiFi = s.get_PortWiFi();
    return f;
}

// A serial receive whose last bytes came this soon after the request cannot
// have met its deadline (ticks are whole milliseconds): its outcome is the
// one the acceptance rules give.
long ExactWithinMicros(int deadline) { return (deadline - 1) * 1000L + 500; }

// Whether the call may raise its range error: a payload that would not fit
// the frame buffer, or a tare that has no byte form.
bool MayRaise(const char* name, const TScales& s) {
    if (std::strcmp(name, "SetTare") == 0) return s.get_TareWeight() < 0;
    if (std::strcmp(name, "SetName") == 0) return s.get_Name().size() + 3 > 1494;
    if (std::strcmp(name, "SetWifi") == 0) return 7 + s.get_SSID().size() + s.get_Key().size() > 1494;
    return false;
}

void PutSettings(TScales& s) {
    s.put_Name(u"Scale");
    s.put_SSID(u"Net");
    s.put_Key(u"key");
    s.put_IpAddress(u"192.168.1.10");
    s.put_Mask(u"255.255.255.0");
    s.put_Gateway(u"192.168.1.1");
    s.put_PortEthernet(5001);
    s.put_IpAddressWiFi(u"192.168.1.11");
    s.put_MaskWiFi(u"255.255.255.0");
    s.put_GatewayWiFi(u"192.168.1.1");
    s.put_ApIpAddressWiFi(u"192.168.4.1");
    s.put_PortWiFi(5000);
    s.put_TareWeight(250);
}

bool LinkUp(bool serial) { return serial ? FakeLink::PortOpen() : FakeLink::TcpConnected(); }

struct Startup {
    Startup() {
        SelectLocale(0x419);
        ComSoftTimeout = SerialDeadline;
        FakeLink::SetSerialSilenceMs(SerialDeadline + 1);
    }
};

// One run of the input with this serial deadline. A difference from the
// rules aborts when `strict`, else makes the run give false.
bool RunInput(const uint8_t* data, size_t size, int deadline, bool strict) {
    const bool serial = (data[0] & 1) != 0;
    const std::size_t count = 1 + ((data[0] >> 1) & 3);
    const std::vector<ScriptedReply> replies = ParseReplies(data + 1 + count, size - 1 - count);

    FakeLink::Reset();
    FakeLink::SetSerialSilenceMs(deadline + 1);
    ComSoftTimeout = deadline;
    TScales s;
    PutSettings(s);
    s.put_Connection(serial ? u"COM1" : u"127.0.0.1:5001");
    // The probe reply comes at once; only a machine that stalls past the
    // short serial deadline can make the open miss it, so try again then.
    int32_t opened = -1;
    for (int attempt = 0; attempt < 5 && opened != 0; ++attempt) {
        FakeLink::Queue(ScriptedReply{NameReply, 0, false});
        opened = s.OpenConnection();
    }
    FUZZ_CHECK(opened == 0, "ordinary open gave %d", opened);
    FakeLink::ClearScript();
    FakeLink::Queue(replies);

    for (std::size_t i = 0; i < count; ++i) {
        const Command& c = Commands[data[1 + i] % CommandCount];
        const Fields before = Snapshot(s);
        const std::size_t exchangesBefore = FakeLink::Exchanges().size();
        const bool mayRaise = MayRaise(c.name, s);
        const std::size_t writtenBefore = FakeLink::Written().size();
        int32_t result = -1;
        bool raised = false;
        try {
            result = (s.*c.call)();
        } catch (const std::range_error&) {
            raised = true;
        }
        const std::vector<Bytes> written = FakeLink::Written();

        if (raised) {
            FUZZ_CHECK(mayRaise, "%s raised a range error", c.name);
            FUZZ_CHECK(written.size() == writtenBefore, "%s sent before raising", c.name);
            continue;
        }
        FUZZ_CHECK(!mayRaise, "%s sent a payload that cannot fit", c.name);
        FUZZ_CHECK(ResultAllowed(c.kind, result), "%s gave %d", c.name, result);
        for (std::size_t w = writtenBefore; w < written.size(); ++w)
            FUZZ_CHECK(WellFormedRequest(written[w]), "%s sent a malformed frame of %zu bytes", c.name,
                       written[w].size());

        if (Modelled(c.name)) {
            // The same command run by the model on the same replies: same
            // requests, same result, same fields.
            const std::vector<Exchange> all = FakeLink::Exchanges();
            const std::vector<Exchange> done(all.begin() + static_cast<std::ptrdiff_t>(exchangesBefore), all.end());
            std::size_t next = 0;
            bool exact = true;
            Fields model = before;
            const int32_t want = RunModel(c.name, model, serial ? 2 : 1, [&](const Bytes& payload) {
                ExchangeOutcome o;
                if (next >= done.size()) return o;  // the send found the link gone
                const Exchange& e = done[next++];
                FUZZ_CHECK(Bytes(e.request.begin() + 5, e.request.end() - 2) == payload,
                           "%s request %zu differs from the rules", c.name, next);
                o.sent = true;
                if (!e.answered) {
                    o.accepted.code = 3;  // silence
                } else {
                    o.accepted = serial ? AcceptSerial(e.reply) : AcceptTcp(e.reply);
                    if (serial && e.readMicros >= ExactWithinMicros(deadline)) exact = false;
                }
                return o;
            });
            FUZZ_CHECK(next == done.size(), "%s made %zu exchanges, the rules %zu", c.name, done.size(), next);
            if (exact && !strict && (result != want || !(Snapshot(s) == model))) return false;
            if (exact) {
                FUZZ_CHECK(result == want, "%s gave %d, the rules give %d", c.name, result, want);
                FUZZ_CHECK(Snapshot(s) == model, "%s left fields other than the rules give", c.name);
            }
        }
        if (c.kind == Network && result != 0) {
            // A failed Get leaves its addresses empty.
            if (std::strcmp(c.name, "GetEthernet") == 0)
                FUZZ_CHECK(s.get_IpAddress().empty() && s.get_Mask().empty() && s.get_Gateway().empty(),
                           "failed GetEthernet kept addresses");
            if (std::strcmp(c.name, "GetWiFiAP") == 0)
                FUZZ_CHECK(s.get_ApIpAddressWiFi().empty(), "failed GetWiFiAP kept the address");
        }
        if (c.kind == Network || c.kind == NetworkSet) {
            for (const std::u16string& a : {s.get_IpAddress(), s.get_Mask(), s.get_Gateway(), s.get_IpAddressWiFi(),
                                            s.get_MaskWiFi(), s.get_GatewayWiFi(), s.get_ApIpAddressWiFi()}) {
                // Reply bytes give dotted texts; only a first group 0 fails the check.
                FUZZ_CHECK(a.empty() || CheckIpStr(a) == 0 || a.rfind(u"0.", 0) == 0, "address text");
            }
            FUZZ_CHECK(s.get_PortWiFi() >= 0 && s.get_PortWiFi() <= 65535, "PortWiFi %d", s.get_PortWiFi());
            FUZZ_CHECK(s.get_PortEthernet() >= 0 && s.get_PortEthernet() <= 65535, "PortEthernet");
        }
        if (c.kind == Connect && !serial) {
            if (std::strcmp(c.name, "CloseConnection") == 0)
                FUZZ_CHECK(result == 0 && !FakeLink::TcpConnected(), "CloseConnection");
            else if (result == 0)
                FUZZ_CHECK(FakeLink::TcpConnected(), "OpenConnection 0 without a connection");
            else if (result == 1)
                FUZZ_CHECK(!FakeLink::TcpConnected(), "OpenConnection 1 left a connection");
        }
        if (c.kind == Connect && serial && std::strcmp(c.name, "OpenConnection") == 0 && result == 0)
            FUZZ_CHECK(FakeLink::PortOpen() && FakeLink::LastBaud() == static_cast<uint32_t>(s.get_BaudRate()),
                       "serial OpenConnection 0 at %d baud", s.get_BaudRate());
    }

    // Still usable: after a fresh open where the link was lost (always on a
    // serial port, with a deadline no hiccup can miss), an ordinary
    // exchange gives its fields.
    FakeLink::ClearScript();
    if (serial) {
        ComSoftTimeout = 1000;
        FakeLink::Queue(ScriptedReply{NameReply, 0, false});
        const int32_t r = s.OpenConnection();
        FUZZ_CHECK(r == 0, "serial reopen gave %d", r);
    } else if (!LinkUp(serial)) {
        FUZZ_CHECK(s.CloseConnection() == 0, "close before reopen");
        FakeLink::Queue(ScriptedReply{NameReply, 0, false});
        const int32_t r = s.OpenConnection();
        FUZZ_CHECK(r == 0, "TCP reopen gave %d", r);
    }
    FakeLink::Queue(ScriptedReply{WeightReply, 0, false});
    int32_t r = s.ReadWeight();
    if (!serial && r == 1 && !FakeLink::TcpConnected()) {
        // The far end had hung up after its last reply: the send finds the
        // link lost, and a new OpenConnection brings it back.
        FakeLink::ClearScript();
        FUZZ_CHECK(s.CloseConnection() == 0, "close after the hang-up");
        FakeLink::Queue(ScriptedReply{NameReply, 0, false});
        FUZZ_CHECK(s.OpenConnection() == 0, "reopen after the hang-up");
        FakeLink::Queue(ScriptedReply{WeightReply, 0, false});
        r = s.ReadWeight();
    }
    FUZZ_CHECK(r == 0 && s.get_Weight() == 1000 && s.get_Stable() == 1, "ordinary ReadWeight gave %d", r);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Startup startup;
    if (size < 2) return 0;
    const bool serial = (data[0] & 1) != 0;
    const std::size_t count = 1 + ((data[0] >> 1) & 3);
    if (size < 1 + count) return 0;
    if (ParseReplies(data + 1 + count, size - 1 - count).size() > 12) return 0;
    if (!RunInput(data, size, SerialDeadline, !serial)) RunInput(data, size, LongSerialDeadline, true);
    return 0;
}
