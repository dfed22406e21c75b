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
#include "tests/fuzz/FakeLink.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;
using namespace pesolink::fuzz;

namespace {

constexpr int SerialDeadline = 2;  // ms

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

// The result a receive code stands for, written out apart from link/.
int32_t ResultOf(int code) {
    switch (code) {
        case 0: return 0;
        case 1: case 4: return 1;
        case 2: case 3: return 2;
        case 8: case 9: case 10: case 11: case 16: case 17: case 21: case 23: case 24: case 25:
            return code;
        default: return 7;
    }
}

int32_t I32(const Bytes& f, std::size_t at) {
    const uint32_t v = f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
    return static_cast<int32_t>(v);
}

struct Weights {
    int32_t weight, division, stable, net, zero, tare;
    std::u16string serial, name;
    bool operator==(const Weights& o) const {
        return weight == o.weight && division == o.division && stable == o.stable && net == o.net &&
               zero == o.zero && tare == o.tare && serial == o.serial && name == o.name;
    }
};

Weights Snapshot(const TScales& s) {
    return {s.get_Weight(), s.get_Division(), s.get_Stable(), s.get_NetIndication(), s.get_ZeroIndication(),
            s.get_TareWeight(), s.get_ScalesID(), s.get_Name()};
}

// The fields a single-exchange reading command leaves, by the rules.
Weights Expected(const char* name, const Weights& before, int32_t result, const Bytes& f) {
    Weights w = before;
    if (result != 0) return w;
    if (std::strcmp(name, "ReadWeight") == 0) {
        w.weight = I32(f, 6);
        w.division = f[10];
        w.stable = f[11];
        w.net = f[12];
        w.zero = f[13];
    } else if (std::strcmp(name, "GetTare") == 0) {
        w.tare = I32(f, 6);
    } else {
        w.serial = DecimalText(static_cast<uint32_t>(I32(f, 6)));
        std::size_t end = 10;
        while (end < f.size() && f[end] != 0x0D) ++end;
        w.name = DecodeAnsi(f.data() + 10, end - 10);
    }
    return w;
}

std::size_t MinimumOf(const char* name) {
    if (std::strcmp(name, "ReadWeight") == 0) return 16;
    if (std::strcmp(name, "GetTare") == 0) return 12;
    return 14;
}

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Startup startup;
    if (size < 2) return 0;
    const bool serial = (data[0] & 1) != 0;
    const std::size_t count = 1 + ((data[0] >> 1) & 3);
    if (size < 1 + count) return 0;
    const std::vector<ScriptedReply> replies = ParseReplies(data + 1 + count, size - 1 - count);
    if (replies.size() > 12) return 0;

    FakeLink::Reset();
    ComSoftTimeout = SerialDeadline;
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

    std::size_t taken = 0;  // replies the far end has handed out so far
    for (std::size_t i = 0; i < count; ++i) {
        const Command& c = Commands[data[1 + i] % CommandCount];
        const Weights before = Snapshot(s);
        const bool mayRaise = MayRaise(c.name, s);
        const std::size_t writtenBefore = FakeLink::Written().size();
        const auto t0 = std::chrono::steady_clock::now();
        int32_t result = -1;
        bool raised = false;
        try {
            result = (s.*c.call)();
        } catch (const std::range_error&) {
            raised = true;
        }
        const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - t0)
                                              .count());
        const std::vector<Bytes> written = FakeLink::Written();
        const std::size_t takenNow = replies.size() - FakeLink::Unanswered();
        const std::size_t consumed = takenNow - taken;

        if (raised) {
            FUZZ_CHECK(mayRaise, "%s raised a range error", c.name);
            FUZZ_CHECK(written.size() == writtenBefore, "%s sent before raising", c.name);
            taken = takenNow;
            continue;
        }
        FUZZ_CHECK(!mayRaise, "%s sent a payload that cannot fit", c.name);
        FUZZ_CHECK(ResultAllowed(c.kind, result), "%s gave %d", c.name, result);
        for (std::size_t w = writtenBefore; w < written.size(); ++w)
            FUZZ_CHECK(WellFormedRequest(written[w]), "%s sent a malformed frame of %zu bytes", c.name,
                       written[w].size());

        if (c.kind == Weighing) {
            // One exchange: the result and the fields follow from its reply.
            const bool exact = !serial || ms + 1 < SerialDeadline;
            if (consumed == 0) {
                if (written.size() == writtenBefore)
                    FUZZ_CHECK(result == (serial ? 2 : 1), "%s without a link gave %d", c.name, result);
                else
                    FUZZ_CHECK(result == 2, "%s unanswered gave %d", c.name, result);
                FUZZ_CHECK(Snapshot(s) == before, "%s changed fields without a reply", c.name);
            } else if (exact) {
                const ScriptedReply& r = replies[taken];
                const Accepted a = serial ? AcceptSerial(r) : AcceptTcp(r);
                int32_t want = ResultOf(a.code);
                if (want == 0 && a.frame.size() < MinimumOf(c.name)) want = 2;
                FUZZ_CHECK(result == want, "%s gave %d, the rules give %d", c.name, result, want);
                FUZZ_CHECK(Snapshot(s) == Expected(c.name, before, result, a.frame),
                           "%s stored fields other than the reply's", c.name);
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
        taken = takenNow;
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
    return 0;
}
