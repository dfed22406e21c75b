// The fault matrix: every way a scale or a line can misbehave, against the
// driver object's commands, over TCP and over the serial port on a
// pseudo-terminal. Each cell checks that the call returns within its bound
// with the code the rules give, that fields change only as the rules say,
// that only the exchanges the rules allow were sent, and that the same
// object carries the next ordinary exchange (after a new OpenConnection
// where the link was lost). An exchange after one that ended without a whole
// reply renews the link first: TCP on a new connection, serial after the
// line has gone quiet.
//
// Time-outs are shrunk for speed: ComSoftTimeout 300 ms, ComHardTimeout
// 20 ms. The matrix is one test per transport and command, so that ctest can
// run them side by side (a process has one simulated scale on its
// pseudo-terminal: within one process serial cells run one at a time). TCP keeps its fixed 2000 ms
// receive deadline, so TCP cells run on a few threads at once, each against
// a simulated scale of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/Scales.h"
#include "link/ComUnit.h"
#include "link/Frame.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tests/native/fault_support.h"

namespace pesolink {
namespace {

using Bytes = std::vector<uint8_t>;
using fault_test::Clock;
using fault_test::MsSince;
using fault_test::Narrow;
using fault_test::U16;
using sim::Fault;
using sim::FaultKind;

constexpr int32_t SoftTimeout = 300;  // ComSoftTimeout of the matrix, ms
constexpr int32_t HardTimeout = 20;   // ComHardTimeout of the matrix, ms

// How long one exchange may last, in ms, derived from the time limits:
// - TCP: a read that finds nothing waits a little over its 2000 ms read
//   time-out, and the receive stops once 2000 ms have passed;
// - serial: the receive deadline is ComSoftTimeout, tested after each read
//   call, and one read call lasts up to 1000 ms without data.
// Each gets a margin for a loaded machine (sanitizer builds included).
constexpr long TcpWaitMin = 2000;
constexpr long TcpWaitMax = 2000 + 400;
constexpr long ComWaitMin = SoftTimeout;
constexpr long ComWaitMax = SoftTimeout + ComReadTotalTimeout + 300;
// An exchange whose reply is complete at once: TCP at loopback speed; serial
// one inter-byte time-out after the last byte.
constexpr long TcpQuickMax = 400;
constexpr long ComQuickMax = HardTimeout + 400;

enum class Transport { Tcp, Com };

const char* TransportName(Transport t) { return t == Transport::Tcp ? "tcp" : "serial"; }

enum class Cmd { Open, ReadWeight, GetWiFi, SetWifi };

// A command, and which of its exchanges the fault hits (by command code).
struct Variant {
    const char* name;
    Cmd cmd;
    uint8_t stage;
};

const Variant Variants[] = {
    {"OpenConnection", Cmd::Open, CMD_GET_NAME},
    {"ReadWeight", Cmd::ReadWeight, CMD_GET_WEIGHT},
    {"GetWiFi@name", Cmd::GetWiFi, CMD_GET_NAME},
    {"GetWiFi@ssid", Cmd::GetWiFi, CMD_GET_WIFI_SSID},
    {"GetWiFi@ip", Cmd::GetWiFi, CMD_GET_WIFI_IP},
    {"SetWifi@ssid", Cmd::SetWifi, CMD_SET_WIFI_SSID},
    {"SetWifi@ip-read", Cmd::SetWifi, CMD_GET_WIFI_IP},
    {"SetWifi@ip-write", Cmd::SetWifi, CMD_SET_WIFI_IP},
};

enum class F {
    Silence,          // no reply at all
    Late,             // the whole reply, after the receive deadline
    SplitBelowHard,   // two pieces, 5 ms apart (below ComHardTimeout)
    SplitAboveHard,   // two pieces, 60 ms apart (above ComHardTimeout, below ComSoftTimeout)
    Surplus,          // the reply and three stray bytes
    Error,            // the 9-byte error reply 28 e
    Refuse,           // the one-byte reply 15
    ShortOfMinimum,   // a consistent frame one byte shorter than the command's minimum
    BadChecksum,
    BadHeader,
    DropBefore,       // the connection closed instead of a reply
    DropMid,          // half the reply, then the connection closed
    Trickle,          // the reply one byte every 100 ms
    Noise,            // 64 KiB of noise instead of a reply
};

struct FaultRow {
    const char* name;
    F kind;
    uint8_t code = 0;  // error code of F::Error
};

const FaultRow Faults[] = {
    {"silence", F::Silence},
    {"late", F::Late},
    {"split-below-hard", F::SplitBelowHard},
    {"split-above-hard", F::SplitAboveHard},
    {"surplus", F::Surplus},
    {"error-0", F::Error, 0},
    {"error-1", F::Error, 1},
    {"error-2", F::Error, 2},
    {"error-3", F::Error, 3},
    {"error-4", F::Error, 4},
    {"error-5", F::Error, 5},
    {"error-8", F::Error, 8},
    {"error-16", F::Error, 0x10},
    {"error-17", F::Error, 0x11},
    {"error-21", F::Error, 0x15},
    {"error-25", F::Error, 25},
    {"error-40", F::Error, 0x28},
    {"error-255", F::Error, 255},
    {"refuse", F::Refuse},
    {"short-of-minimum", F::ShortOfMinimum},
    {"bad-checksum", F::BadChecksum},
    {"bad-header", F::BadHeader},
    {"drop-before", F::DropBefore},
    {"drop-mid", F::DropMid},
    {"trickle", F::Trickle},
    {"noise-64k", F::Noise},
};

// Smallest reply frame each command accepts.
int MinimumReply(uint8_t command) {
    switch (command) {
        case CMD_GET_NAME: return 14;
        case CMD_GET_WEIGHT: return 16;
        case CMD_GET_WIFI_SSID: return 14;
        case CMD_GET_WIFI_IP: return 14;
        default: return 8;  // the Set commands
    }
}

long SplitGap(F kind) { return kind == F::SplitBelowHard ? 5 : 60; }

// The result code an exchange's response maps to.
int32_t Mapped(int32_t response) { return ResponseToResult(response); }

void SleepMs(long ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Every field of the object that a client can read.
struct Fields {
    int32_t weight, division, stable, net, zero, tare;
    std::u16string serial, name, ip, mask, gateway, ssid, key, wifiIp, wifiMask, wifiGateway, ap;
    int32_t portEthernet, portWiFi, baud, parity;

    static Fields Of(const TScales& s) {
        return {s.get_Weight(),        s.get_Division(),   s.get_Stable(),      s.get_NetIndication(),
                s.get_ZeroIndication(), s.get_TareWeight(), s.get_ScalesID(),    s.get_Name(),
                s.get_IpAddress(),     s.get_Mask(),       s.get_Gateway(),     s.get_SSID(),
                s.get_Key(),           s.get_IpAddressWiFi(), s.get_MaskWiFi(), s.get_GatewayWiFi(),
                s.get_ApIpAddressWiFi(), s.get_PortEthernet(), s.get_PortWiFi(), s.get_BaudRate(),
                s.get_Parity()};
    }
    bool operator==(const Fields& o) const {
        return weight == o.weight && division == o.division && stable == o.stable && net == o.net &&
               zero == o.zero && tare == o.tare && serial == o.serial && name == o.name && ip == o.ip &&
               mask == o.mask && gateway == o.gateway && ssid == o.ssid && key == o.key && wifiIp == o.wifiIp &&
               wifiMask == o.wifiMask && wifiGateway == o.wifiGateway && ap == o.ap &&
               portEthernet == o.portEthernet && portWiFi == o.portWiFi && baud == o.baud && parity == o.parity;
    }
};

std::ostream& operator<<(std::ostream& os, const Fields& f) {
    return os << "{weight " << f.weight << " div " << f.division << " stable " << f.stable << " net " << f.net
              << " zero " << f.zero << " tare " << f.tare << " serial '" << Narrow(f.serial) << "' name '"
              << Narrow(f.name) << "' eth " << Narrow(f.ip) << "/" << Narrow(f.mask) << "/" << Narrow(f.gateway)
              << ":" << f.portEthernet << " ssid '" << Narrow(f.ssid) << "' key '" << Narrow(f.key) << "' wifi "
              << Narrow(f.wifiIp) << "/" << Narrow(f.wifiMask) << "/" << Narrow(f.wifiGateway) << ":" << f.portWiFi
              << " ap " << Narrow(f.ap) << " line " << f.baud << "," << f.parity << "}";
}

// What the simulated scale holds at the start of every cell.
sim::ScaleState BaseState() {
    sim::ScaleState s;
    s.weight = 1000;
    s.serial = 12345;
    s.name = "Scale";
    s.ssid = "Net";
    s.key = "key";
    s.wifiIp = 0xC0A8010B;       // 192.168.1.11
    s.wifiMask = 0xFFFFFF00;     // 255.255.255.0
    s.wifiGateway = 0xC0A80101;  // 192.168.1.1
    s.apIp = 0xC0A80401;         // 192.168.4.1
    s.wifiPort = 5000;
    return s;
}

// The weight the scale shows while the faulted call runs (the object still
// holds 0 from before).
constexpr int32_t FaultedWeight = 1234;

// Values the client put before the faulted call, none equal to the scale's.
void PutClientValues(TScales& s) {
    s.put_Name(u"OldName");
    s.put_SSID(u"Before");
    s.put_Key(u"BeforeKey");
    s.put_IpAddressWiFi(u"10.1.1.1");
    s.put_MaskWiFi(u"255.0.0.0");
    s.put_GatewayWiFi(u"10.1.1.254");
    s.put_ApIpAddressWiFi(u"10.2.2.2");
    s.put_PortWiFi(4000);
}

// The request payload each command sends with those client values.
Bytes RequestPayload(uint8_t command) {
    switch (command) {
        case CMD_SET_WIFI_SSID: {
            Bytes p{CMD_SET_WIFI_SSID, 0xA0, 0x0F};
            for (char c : std::string("Before")) p.push_back(static_cast<uint8_t>(c));
            p.insert(p.end(), {0x0D, 0x0A});
            for (char c : std::string("BeforeKey")) p.push_back(static_cast<uint8_t>(c));
            p.insert(p.end(), {0x0D, 0x0A});
            return p;
        }
        case CMD_SET_WIFI_IP: {
            Bytes p(19, 0);
            p[0] = CMD_SET_WIFI_IP;
            return p;
        }
        default: return {command};
    }
}

// The reply the scale gives to a command when nothing goes wrong.
Bytes NormalReply(uint8_t command) {
    sim::SimScale scratch;
    scratch.SetState(BaseState());
    return scratch.Handle(sim::MakeFrame(RequestPayload(command))).bytes;
}

Bytes Noise64k() {
    Bytes noise(64 * 1024);
    std::mt19937 random(20240611);
    for (auto& b : noise) b = static_cast<uint8_t>(random());
    // A header announcing the largest payload, so that no prefix of the
    // noise can pass for a frame of consistent length, and no error reply.
    noise[3] = 0xFF;
    noise[4] = 0xFF;
    noise[5] = 0x00;
    return noise;
}

Fault MakeFault(FaultKind kind, int command) {
    Fault f{};
    f.kind = kind;
    f.command = command;
    f.count = 1;
    return f;
}

// What the faulted exchange gives, on its own.
struct Faulted {
    int32_t result;   // of the exchange (0: a reply was accepted)
    Bytes reply;      // the accepted reply frame, when result is 0
    long minMs = 0;   // the exchange lasts at least this long ...
    long maxMs = 0;   // ... and at most this long
    bool lost = false;       // TCP: the connection is gone
    bool knownLost = false;  // ... and the driver saw it close during the exchange
    bool inFlight = false;   // bytes of it still arrive after the receive gave up
    bool spoils = false;     // no whole reply on a link still open: the next send renews it
    long settleMs = 0;       // time after the call until the scale is quiet again
};

Faulted Expected(const FaultRow& f, Transport t, uint8_t command, long lateDelayMs) {
    const bool tcp = t == Transport::Tcp;
    const Bytes normal = NormalReply(command);
    const long waitMin = tcp ? TcpWaitMin : ComWaitMin, waitMax = tcp ? TcpWaitMax : ComWaitMax;
    const long quick = tcp ? TcpQuickMax : ComQuickMax;
    Faulted x{2, {}, 0, quick};
    switch (f.kind) {
        case F::Silence:
            // Serial: the first read call finds nothing for its whole 1000 ms.
            x = {2, {}, tcp ? TcpWaitMin : ComReadTotalTimeout - 50, waitMax};
            x.spoils = true;
            break;
        case F::Late:
            // Serial: the reply comes inside the first read call but after the
            // deadline, so that read is its last. TCP: it comes after the
            // receive gave up and is dropped before the next send.
            x = {2, {}, waitMin, waitMax};
            x.inFlight = tcp;
            x.spoils = tcp;  // serial: the whole reply came inside the last read
            x.settleMs = tcp ? lateDelayMs - TcpWaitMin + 300 : 0;
            break;
        case F::SplitBelowHard:
        case F::SplitAboveHard: {
            // Serial assembles the pieces; TCP takes one delivery only.
            const long gap = SplitGap(f.kind);
            if (tcp) {
                x = {2, {}, 0, quick};
                x.inFlight = x.spoils = true;
                x.settleMs = gap + 100;
            } else {
                x = {0, normal, gap, quick + gap};
            }
            break;
        }
        case F::Surplus:
            // Serial: the count never matches; reading goes on to the deadline.
            x = {2, {}, tcp ? 0 : ComWaitMin, tcp ? quick : waitMax};
            x.spoils = true;
            break;
        case F::Error:
            x = {Mapped(f.code), sim::MakeFrame({CMD_ERROR, f.code}), 0, quick};
            break;
        case F::Refuse:
            x = {0, sim::MakeFrame({CMD_NACK}), 0, quick};
            break;
        case F::ShortOfMinimum: {
            Bytes payload(normal.begin() + 5, normal.end() - 2);
            payload.resize(static_cast<std::size_t>(MinimumReply(command) - 1 - FrameOverhead));
            x = {0, sim::MakeFrame(payload), 0, quick};
            break;
        }
        case F::BadChecksum:
        case F::BadHeader:
            // Neither is tested: the reply counts.
            x = {0, normal, 0, quick};
            if (f.kind == F::BadChecksum) {
                x.reply[x.reply.size() - 1] ^= 0xFF;
                x.reply[x.reply.size() - 2] ^= 0xFF;
            } else {
                x.reply[0] = x.reply[1] = x.reply[2] = 0;
            }
            break;
        case F::DropBefore:
            // A pseudo-terminal cannot hang up: on serial this is silence.
            if (tcp) {
                x = {2, {}, 0, quick};
                x.lost = x.knownLost = true;
            } else {
                x = {2, {}, ComReadTotalTimeout - 50, waitMax};
                x.spoils = true;
            }
            break;
        case F::DropMid:
            // Half a reply, then nothing more: the receive ends at its
            // deadline on serial, with the first delivery on TCP. An exchange
            // that follows at once, before the close, goes on a new
            // connection; a later one finds the connection closed.
            x = tcp ? Faulted{2, {}, 0, quick} : Faulted{2, {}, ComWaitMin, waitMax};
            x.spoils = true;
            x.lost = tcp;
            x.settleMs = tcp ? 150 : 0;
            break;
        case F::Trickle:
            x = {2, {}, tcp ? 0 : ComWaitMin, tcp ? quick : waitMax};
            x.inFlight = x.spoils = true;
            x.settleMs = static_cast<long>(normal.size()) * 100 + 200;
            break;
        case F::Noise:
            // TCP drops what has arrived of an over-long delivery; serial
            // reads and drops the stream until its deadline.
            x = {2, {}, tcp ? 0 : ComWaitMin, tcp ? quick : waitMax};
            x.spoils = true;
            x.settleMs = 200;
            break;
    }
    return x;
}

// The reply test a command applies to an exchange that gave 0.
// A refusal (0x15) to any exchange of a network Set refuses the Set.
int32_t ReplyTest(Cmd cmd, uint8_t command, const Bytes& reply) {
    const int n = static_cast<int>(reply.size());
    const uint8_t b0 = n > 5 ? reply[5] : 0, b1 = n > 6 ? reply[6] : 0;
    if (cmd == Cmd::SetWifi && n >= 8 && b0 == CMD_NACK) return 5;
    switch (command) {
        case CMD_GET_NAME:
        case CMD_GET_WEIGHT:
            return n < MinimumReply(command) ? 2 : 0;
        case CMD_GET_WIFI_SSID:
        case CMD_GET_WIFI_IP: {
            int32_t r = n < 14 ? 2 : 0;
            if (b0 == CMD_ERROR) r = b1 == 0x10 ? 4 : 2;
            return r;
        }
        default:  // Set commands
            if (n < 8) return 2;
            if (b0 == CMD_ERROR) return b1 == 0x10 ? 4 : 5;
            return 0;
    }
}

// What a whole cell must show.
struct CellExpect {
    int32_t result = 0;
    Bytes requests;  // command codes the scale received during the call
    Fields fields;
    bool lost = false;  // the next exchange needs a new OpenConnection
    bool knownLost = false;
    long minMs = 0, maxMs = 0;
    long settleMs = 0;
};

// The exchange following a faulted one in the same call, while bytes of the
// faulted reply are still arriving (or the link is gone).
struct Follower {
    int32_t result;
    long maxMs;
};

Follower FollowerOf(const Faulted& x, Transport t, long ordinaryMs) {
    const bool tcp = t == Transport::Tcp;
    // Known closed: nothing is sent (1).
    if (x.knownLost) return {1, tcp ? TcpQuickMax : ordinaryMs};
    // TCP: a new connection leaves whatever is still coming behind.
    if (tcp) return {0, ordinaryMs};
    // Serial: the line is drained first, at most for ComSoftTimeout plus
    // one read call; a line quiet for a whole read call ends it after that.
    const long drain = x.spoils ? ComWaitMax : 0;
    if (!x.inFlight) return {0, drain + ordinaryMs};
    // Bytes coming slower than ComHardTimeout apart: the drain ends after the
    // first, and the others come before the follower's reply.
    return {2, drain + ComWaitMax};
}

CellExpect ExpectCell(const Variant& v, const FaultRow& f, Transport t, const Fields& before, long lateDelayMs) {
    const bool tcp = t == Transport::Tcp;
    const long ordinary = tcp ? TcpQuickMax : ComQuickMax;
    const Faulted x = Expected(f, t, v.stage, lateDelayMs);
    const int32_t stage = x.result != 0 ? x.result : ReplyTest(v.cmd, v.stage, x.reply);
    CellExpect e;
    e.fields = before;
    e.lost = x.lost;
    e.knownLost = x.knownLost;
    e.minMs = x.minMs;
    e.maxMs = x.maxMs;
    e.settleMs = x.settleMs;
    Fields& out = e.fields;

    switch (v.cmd) {
        case Cmd::Open:
            if (tcp) {
                // Any accepted reply proves a scale; no reply in time keeps the
                // connection; anything else closes it.
                e.requests = {CMD_GET_NAME};
                e.result = x.result == 0 ? 0 : x.result == 2 ? 2 : 1;
                if (e.result == 1) e.lost = true;
            } else {
                // The fault hits the probe at 4800 baud; the scale answers
                // every line setting, so the probe goes on at 57600.
                e.maxMs += ordinary * 3;
                if (x.result == 0) {
                    e.requests = {CMD_GET_NAME};
                    out.baud = 4800;
                    out.parity = 2;
                } else if (!x.inFlight) {
                    e.requests = {CMD_GET_NAME, CMD_GET_NAME};
                    out.baud = 57600;
                    out.parity = 0;
                } else {
                    // Stray bytes spoil the two later steps as well: no reply
                    // in time at the last one, the port stays open.
                    e.result = 2;
                    e.requests = {CMD_GET_NAME, CMD_GET_NAME, CMD_GET_NAME};
                    out.baud = 0;
                    out.parity = 0;
                    e.maxMs += 2 * ComWaitMax;
                }
            }
            break;

        case Cmd::ReadWeight:
            e.requests = {CMD_GET_WEIGHT};
            e.result = stage;
            if (stage == 0) {
                out.weight = FaultedWeight;
                out.division = 2;
                out.stable = 1;
                out.net = 0;
                out.zero = 0;
            }
            break;

        case Cmd::GetWiFi: {
            // Emptied before anything else.
            out.wifiIp.clear();
            out.wifiMask.clear();
            out.wifiGateway.clear();
            out.portWiFi = 0;
            // The name query's result is ignored; its fields change on success.
            int32_t nameResult = 0, ssidResult = 0, ipResult = 0;
            e.requests = {CMD_GET_NAME};
            bool goOn = true;
            if (v.stage == CMD_GET_NAME) {
                nameResult = stage;
                const Follower next = FollowerOf(x, t, ordinary);
                ssidResult = next.result;
                e.maxMs += next.maxMs + ordinary;
                if (x.lost && x.knownLost) goOn = false;  // the ssid query is never sent
            } else {
                e.maxMs += ordinary;
            }
            if (nameResult == 0) {
                out.serial = u"12345";
                out.name = u"Scale";
            }
            if (goOn) e.requests.push_back(CMD_GET_WIFI_SSID);
            if (v.stage == CMD_GET_WIFI_SSID) ssidResult = stage;
            if (goOn && ssidResult == 0) {
                out.portWiFi = 5000;
                out.ssid = u"Net";
                out.key = u"key";
                e.requests.push_back(CMD_GET_WIFI_IP);
                if (v.stage == CMD_GET_WIFI_IP) ipResult = stage;
                else e.maxMs += ordinary;
                if (ipResult == 0) {
                    out.wifiIp = u"192.168.1.11";
                    out.wifiMask = u"255.255.255.0";
                    out.wifiGateway = u"192.168.1.1";
                    out.ap = u"192.168.4.1";
                }
            }
            e.result = ssidResult != 0 ? ssidResult : ipResult;
            break;
        }

        case Cmd::SetWifi: {
            // Nothing of the object changes; a failed exchange ends the call.
            const uint8_t order[] = {CMD_SET_WIFI_SSID, CMD_GET_WIFI_IP, CMD_SET_WIFI_IP};
            e.result = 0;
            for (uint8_t c : order) {
                e.requests.push_back(c);
                if (c == v.stage) {
                    e.result = stage;
                } else {
                    e.maxMs += ordinary;
                }
                if (e.result != 0) break;
            }
            break;
        }
    }
    return e;
}

// Everything one transport needs: a simulated scale and its connection text.
struct Bench {
    sim::SimScale scale;
    sim::SimServer server{scale};
    std::u16string connection;
    Transport transport = Transport::Tcp;
    std::atomic<int> dropOn{-1};        // command whose request closes the connection (drop-mid)
    std::promise<void>* dropSeen = nullptr;
};

// For drop-mid on TCP: the scale's connections are closed 50 ms after the
// faulted request came (Bench::dropSeen); Finish ends the wait at once when
// that request never came.
class TcpDropper {
public:
    TcpDropper(Bench& b, bool on) : b_(b) {
        if (!on) return;
        b_.dropSeen = &seen_;
        thread_ = std::thread([&b, future = seen_.get_future()] {
            if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return;
            SleepMs(50);
            b.server.DropTcpClients();
        });
    }
    ~TcpDropper() { Finish(); }
    TcpDropper(const TcpDropper&) = delete;
    TcpDropper& operator=(const TcpDropper&) = delete;

    void Finish() {
        if (thread_.joinable()) {
            if (b_.dropOn != -1) seen_.set_value();  // never triggered: let it end
            thread_.join();
        }
        b_.dropSeen = nullptr;
    }

private:
    Bench& b_;
    std::promise<void> seen_;
    std::thread thread_;
};

// The fault on the scale, and for drop-mid on TCP the connection closed
// 50 ms after the request came (the scale meanwhile has sent half its reply
// and waits for a long gap before the rest).
void Arm(Bench& b, const FaultRow& f, uint8_t command, int count, long lateDelayMs) {
    const Bytes normal = NormalReply(command);
    Fault fault = MakeFault(FaultKind::Silence, command);
    fault.count = count;
    switch (f.kind) {
        case F::Silence: break;
        case F::Late:
            fault.kind = FaultKind::Delay;
            fault.delayMs = static_cast<int>(lateDelayMs);
            break;
        case F::SplitBelowHard:
        case F::SplitAboveHard:
            fault.kind = FaultKind::Split;
            fault.pieces = {7};
            fault.delayMs = static_cast<int>(SplitGap(f.kind));
            break;
        case F::Surplus:
            fault.kind = FaultKind::Surplus;
            fault.surplus = 3;
            break;
        case F::Error:
            fault.kind = FaultKind::ErrorReply;
            fault.errorCode = f.code;
            break;
        case F::Refuse: fault.kind = FaultKind::Refuse; break;
        case F::ShortOfMinimum: {
            fault.kind = FaultKind::Raw;
            Bytes payload(normal.begin() + 5, normal.end() - 2);
            payload.resize(static_cast<std::size_t>(MinimumReply(command) - 1 - FrameOverhead));
            fault.raw = sim::MakeFrame(payload);
            break;
        }
        case F::BadChecksum: fault.kind = FaultKind::BadChecksum; break;
        case F::BadHeader: fault.kind = FaultKind::BadHeader; break;
        case F::DropBefore: fault.kind = FaultKind::Drop; break;
        case F::DropMid:
            if (b.transport == Transport::Tcp) {
                fault.kind = FaultKind::Split;
                fault.pieces = {static_cast<int>(normal.size() / 2)};
                fault.delayMs = 3000;
                b.dropOn = command;
            } else {
                fault.kind = FaultKind::Raw;
                fault.raw.assign(normal.begin(), normal.begin() + static_cast<std::ptrdiff_t>(normal.size() / 2));
            }
            break;
        case F::Trickle:
            fault.kind = FaultKind::Split;
            fault.pieces.assign(normal.size() - 1, 1);
            fault.delayMs = 100;
            break;
        case F::Noise:
            fault.kind = FaultKind::Raw;
            fault.raw = Noise64k();
            break;
    }
    b.scale.AddFault(fault);
}

struct CellStats {
    int cells = 0;
    long longestMs = 0;
    std::string longest;
};

void RunCell(Bench& b, const Variant& v, const FaultRow& f, CellStats& stats) {
    const Transport t = b.transport;
    const bool tcp = t == Transport::Tcp;
    const std::string cell = std::string(TransportName(t)) + " " + v.name + " " + f.name;
    SCOPED_TRACE(cell);
    b.scale.ClearFaults();
    b.scale.SetState(BaseState());
    b.dropOn = -1;

    // Late replies must miss every exchange the call still runs after the
    // faulted one (the probe steps on serial, the ssid query of GetWiFi).
    long lateDelayMs = tcp ? TcpWaitMax + 300 : SoftTimeout + 200;
    if (tcp && v.cmd == Cmd::GetWiFi && v.stage == CMD_GET_NAME) lateDelayMs = 2 * TcpWaitMax + 300;

    TScales s;
    s.put_Connection(b.connection);
    if (v.cmd != Cmd::Open) {
        ASSERT_EQ(s.OpenConnection(), 0);
    }
    PutClientValues(s);
    b.scale.Update([](sim::ScaleState& st) { st.weight = FaultedWeight; });
    const Fields before = Fields::Of(s);
    const CellExpect e = ExpectCell(v, f, t, before, lateDelayMs);
    b.scale.ClearRequests();

    TcpDropper dropper(b, tcp && f.kind == F::DropMid);
    Arm(b, f, v.stage, 1, lateDelayMs);

    const auto t0 = Clock::now();
    int32_t result = -100;
    switch (v.cmd) {
        case Cmd::Open: result = s.OpenConnection(); break;
        case Cmd::ReadWeight: result = s.ReadWeight(); break;
        case Cmd::GetWiFi: result = s.GetWiFi(); break;
        case Cmd::SetWifi: result = s.SetWifi(); break;
    }
    const long took = MsSince(t0);

    EXPECT_EQ(result, e.result);
    EXPECT_GE(took, e.minMs);
    EXPECT_LE(took, e.maxMs);
    EXPECT_EQ(Fields::Of(s), e.fields);

    SleepMs(e.settleMs);
    dropper.Finish();
    b.scale.ClearFaults();
    Bytes codes;
    for (const Bytes& r : b.scale.Requests()) codes.push_back(r.size() > 5 ? r[5] : 0xFF);
    EXPECT_EQ(codes, e.requests);

    // The same object carries on: at once where the link held, after a new
    // OpenConnection where it was lost.
    if (e.lost) {
        EXPECT_EQ(s.ReadWeight(), 1) << "a lost link must show as a link failure";
        EXPECT_EQ(s.OpenConnection(), 0);
    }
    EXPECT_EQ(s.ReadWeight(), 0);
    EXPECT_EQ(s.get_Weight(), FaultedWeight);

    ++stats.cells;
    if (took > stats.longestMs) {
        stats.longestMs = took;
        stats.longest = cell;
    }
}

class FaultMatrix : public fault_test::DriverModuleFixture {
protected:
    FaultMatrix() : DriverModuleFixture(SoftTimeout, HardTimeout) {}
};

void Observe(Bench& b) {
    b.scale.SetRequestObserver([&b](const Bytes& frame) {
        const int code = frame.size() > 5 ? frame[5] : -1;
        int expected = code;
        if (code >= 0 && b.dropOn.compare_exchange_strong(expected, -1) && b.dropSeen) b.dropSeen->set_value();
    });
}

struct MatrixParam {
    Transport transport;
    Cmd cmd;
    const char* name;
};

void PrintTo(const MatrixParam& p, std::ostream* os) { *os << p.name; }

class FaultMatrixCells : public FaultMatrix, public ::testing::WithParamInterface<MatrixParam> {};

TEST_P(FaultMatrixCells, EveryFault) {
    const MatrixParam& p = GetParam();
    struct Job {
        const Variant* v;
        const FaultRow* f;
    };
    std::vector<Job> jobs;
    for (const Variant& v : Variants)
        if (v.cmd == p.cmd)
            for (const FaultRow& f : Faults) jobs.push_back({&v, &f});

    const auto start = Clock::now();
    CellStats all;
    if (p.transport == Transport::Tcp) {
        // A few threads, each with its own simulated scale.
        constexpr std::size_t lanes = 4;
        std::vector<CellStats> stats(lanes);
        std::vector<std::thread> threads;
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            threads.emplace_back([&, lane] {
                Bench b;
                b.transport = Transport::Tcp;
                b.connection = U16("127.0.0.1:" + std::to_string(b.server.ListenTcp(0)));
                Observe(b);
                for (std::size_t i = lane; i < jobs.size(); i += lanes) RunCell(b, *jobs[i].v, *jobs[i].f, stats[lane]);
                b.scale.SetRequestObserver(nullptr);
                b.server.Stop();
            });
        }
        for (auto& t : threads) t.join();
        for (const CellStats& s : stats) {
            all.cells += s.cells;
            if (s.longestMs > all.longestMs) all.longestMs = s.longestMs, all.longest = s.longest;
        }
    } else {
        Bench b;
        b.transport = Transport::Com;
        b.server.OpenPty(ComLink(5));
        b.server.SetLineSetting(0, 0);  // answers at every line setting
        b.connection = u"COM5";
        for (const Job& j : jobs) RunCell(b, *j.v, *j.f, all);
        b.server.Stop();
    }
    std::printf("fault matrix %s: %d cells in %ld ms, longest call %ld ms (%s)\n", p.name, all.cells,
                MsSince(start), all.longestMs, all.longest.c_str());
}

INSTANTIATE_TEST_SUITE_P(, FaultMatrixCells,
                         ::testing::Values(MatrixParam{Transport::Tcp, Cmd::Open, "tcp_OpenConnection"},
                                           MatrixParam{Transport::Tcp, Cmd::ReadWeight, "tcp_ReadWeight"},
                                           MatrixParam{Transport::Tcp, Cmd::GetWiFi, "tcp_GetWiFi"},
                                           MatrixParam{Transport::Tcp, Cmd::SetWifi, "tcp_SetWifi"},
                                           MatrixParam{Transport::Com, Cmd::Open, "serial_OpenConnection"},
                                           MatrixParam{Transport::Com, Cmd::ReadWeight, "serial_ReadWeight"},
                                           MatrixParam{Transport::Com, Cmd::GetWiFi, "serial_GetWiFi"},
                                           MatrixParam{Transport::Com, Cmd::SetWifi, "serial_SetWifi"}),
                         [](const ::testing::TestParamInfo<MatrixParam>& info) { return std::string(info.param.name); });

// The retry a program makes at once after a faulted ReadWeight, while the
// scale already shows another load: it gives that load with 0, or a
// failure, but never the faulted call's reading with 0 (a late or split
// reply of the faulted call passing for the retry's answer).
constexpr int32_t RetryWeight = 4321;

int32_t RetryResult(const FaultRow& f, const Faulted& x, Transport t) {
    if (x.knownLost) return 1;  // the connection the scale closed: nothing is sent
    // Bytes coming slower than ComHardTimeout apart outlast the drain.
    if (t == Transport::Com && f.kind == F::Trickle) return 2;
    return 0;
}

void RunRetry(Bench& b, const FaultRow& f) {
    const Transport t = b.transport;
    const bool tcp = t == Transport::Tcp;
    SCOPED_TRACE(std::string(TransportName(t)) + " ReadWeight retry " + f.name);
    b.scale.ClearFaults();
    b.scale.SetState(BaseState());
    b.scale.Update([](sim::ScaleState& st) { st.weight = FaultedWeight; });
    b.dropOn = -1;
    const long lateDelayMs = tcp ? TcpWaitMax + 300 : SoftTimeout + 200;
    const Faulted x = Expected(f, t, CMD_GET_WEIGHT, lateDelayMs);

    TScales s;
    s.put_Connection(b.connection);
    ASSERT_EQ(s.OpenConnection(), 0);

    TcpDropper dropper(b, tcp && f.kind == F::DropMid);
    Arm(b, f, CMD_GET_WEIGHT, 1, lateDelayMs);

    s.ReadWeight();
    b.scale.Update([](sim::ScaleState& st) { st.weight = RetryWeight; });
    const auto t0 = Clock::now();
    const int32_t retry = s.ReadWeight();
    const long took = MsSince(t0);
    const int32_t weight = s.get_Weight();

    EXPECT_FALSE(retry == 0 && weight == FaultedWeight) << "the faulted call's reading came back with 0";
    EXPECT_EQ(retry, RetryResult(f, x, t));
    if (retry == 0) {
        EXPECT_EQ(weight, RetryWeight);
    }
    // One renewal of the link (a connect, or a drain of up to ComSoftTimeout
    // plus a read call) and one exchange.
    EXPECT_LE(took, tcp ? TcpWaitMax : 2 * ComWaitMax);

    SleepMs(x.settleMs);
    dropper.Finish();
    b.scale.ClearFaults();
}

void PrintTo(Transport t, std::ostream* os) { *os << TransportName(t); }

class FaultMatrixRetry : public FaultMatrix, public ::testing::WithParamInterface<Transport> {};

TEST_P(FaultMatrixRetry, ReadWeightRetriedAtOnce) {
    Bench b;
    b.transport = GetParam();
    if (b.transport == Transport::Tcp) {
        b.connection = U16("127.0.0.1:" + std::to_string(b.server.ListenTcp(0)));
        Observe(b);
    } else {
        b.server.OpenPty(ComLink(5));
        b.server.SetLineSetting(0, 0);
        b.connection = u"COM5";
    }
    for (const FaultRow& f : Faults) RunRetry(b, f);
    b.scale.SetRequestObserver(nullptr);
    b.server.Stop();
}

INSTANTIATE_TEST_SUITE_P(, FaultMatrixRetry, ::testing::Values(Transport::Tcp, Transport::Com),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                             return std::string(TransportName(info.param));
                         });

}  // namespace
}  // namespace pesolink
