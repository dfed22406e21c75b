// A slice of the fault matrix under Wine, through the registered COM server
// (CoCreateInstance of Scales, early binding), over Winsock TCP and a Wine
// COM port, against the simulated scale; and calls made again from a real
// window message handler while a call waits.
//
// The test fixtures start the simulator, map its pty to a COM port and
// register the server; scripts/wine-checks/fault.sh writes Driver.ini
// (ComSoftTimeout 300, ComHardTimeout 50) before each test case.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "com_support.h"
#include "tests/wine/SimLink.h"
#include "tests/wine/WindowsTestSupport.h"

using namespace comtest;
using pesolink::wine_test::MsSince;
using pesolink::wine_test::SimLink;
using pesolink::wine_test::ThreadCount;
using pesolink::wine_test::TimerWindow;

namespace {

SimLink& Sim() { return SimLink::Get(); }

// Bounds of one waiting exchange under Wine: TCP gives up a little over
// 2000 ms after it began; serial after ComSoftTimeout (300 ms), tested after
// each read call of up to 1000 ms. Wine's timers and the simulator's
// control channel get a generous margin.
constexpr long TcpWaitMax = 2000 + 800;
constexpr long ComWaitMax = 300 + 1000 + 800;
constexpr long QuickMax = 800;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// 64 KiB that no prefix of can pass for a frame (it announces the largest
// payload) or for an error reply.
std::string NoiseHex() {
    std::vector<uint8_t> noise(64 * 1024);
    uint32_t x = 2463534242u;
    for (auto& b : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    noise[3] = noise[4] = 0xFF;
    noise[5] = 0x00;
    return Hex(noise);
}

struct Fields {
    long weight = 0, portWiFi = 0;
    std::wstring ssid, key, wifiIp, ap;

    static Fields Of(IScales* s) {
        Fields f;
        Bstr ssid, key, ip, ap;
        s->get_Weight(&f.weight);
        s->get_PortWiFi(&f.portWiFi);
        s->get_SSID(ssid.Out());
        s->get_Key(key.Out());
        s->get_IpAddressWiFi(ip.Out());
        s->get_ApIpAddressWiFi(ap.Out());
        f.ssid = ssid.Text();
        f.key = key.Text();
        f.wifiIp = ip.Text();
        f.ap = ap.Text();
        return f;
    }
    bool operator==(const Fields& o) const {
        return weight == o.weight && portWiFi == o.portWiFi && ssid == o.ssid && key == o.key && wifiIp == o.wifiIp &&
               ap == o.ap;
    }
};

void PrintTo(const Fields& f, std::ostream* os) {
    auto n = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
    *os << "{weight " << f.weight << " ssid '" << n(f.ssid) << "' key '" << n(f.key) << "' wifi " << n(f.wifiIp)
        << ":" << f.portWiFi << " ap " << n(f.ap) << "}";
}

// The scale's values (the simulator's defaults) and the client's, put before
// every faulted call.
constexpr long ScaleWeight = 2222;
const Fields ScaleWifi{0, 5000, L"Net", L"key", L"192.168.1.11", L"192.168.4.1"};

void PutClientValues(IScales* s) {
    Bstr ssid(L"Before"), key(L"BeforeKey"), ip(L"10.1.1.1"), ap(L"10.2.2.2");
    s->put_SSID(ssid.Get());
    s->put_Key(key.Get());
    s->put_IpAddressWiFi(ip.Get());
    s->put_ApIpAddressWiFi(ap.Get());
    s->put_PortWiFi(4000);
}

enum class Cmd { ReadWeight, GetWiFi };

struct Cell {
    const char* name;
    std::string fault;  // simulator command, "%c" stands for the command code
    bool tcp, serial;   // transports the cell runs on
    int32_t tcpResult, comResult;
    bool tcpWaits, comWaits;  // the exchange runs into its deadline
    long settleMs;            // until the scale is quiet again
    bool tcpLost = false;     // the connection is gone afterwards
};

std::string WithCode(std::string text, uint8_t code) {
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02X", code);
    for (std::size_t at; (at = text.find("%c")) != std::string::npos;) text.replace(at, 2, hex);
    return text;
}

class FaultSlice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Sim().Ready()) << Sim().Problem();
        ASSERT_TRUE(Sim().Command("clear"));
        ASSERT_TRUE(Sim().Command("line 0,0"));  // the serial side answers every line setting
        ASSERT_TRUE(Sim().Command("weight " + std::to_string(ScaleWeight)));
    }
    void TearDown() override { Sim().Command("clear"); }

    static std::wstring TcpText() { return L"127.0.0.1:" + std::to_wstring(Sim().TcpPort()); }
    static std::wstring ComText() { return Wide(Sim().ComText()); }

    static ComPtr<IScales> Open(const std::wstring& connection) {
        auto s = CreateScales();
        if (!s) return s;
        Bstr text(connection.c_str());
        s->put_Connection(text.Get());
        LONG r = -1;
        if (s->OpenConnection(&r) != S_OK || r != 0) return nullptr;
        return s;
    }
};

TEST_F(FaultSlice, ReadWeightAndGetWiFiOnBothTransports) {
    // The slice: each kind of fault once, on the single exchange of
    // ReadWeight and on the third exchange of GetWiFi.
    const std::vector<Cell> cells = {
        {"silence", "fault silence cmd=%c", true, true, 2, 2, true, true, 0},
        {"split-above-hard", "fault split cmd=%c pieces=7 delay=150", true, true, 2, 0, false, false, 400},
        {"surplus", "fault surplus cmd=%c surplus=3", true, true, 2, 2, false, true, 0},
        {"error-17", "fault error cmd=%c code=17", true, true, 17, 17, false, false, 0},
        {"error-5", "fault error cmd=%c code=5", true, true, 7, 7, false, false, 0},
        {"error-2", "fault error cmd=%c code=2", true, true, 2, 2, false, false, 0},
        {"refuse", "fault refuse cmd=%c", true, true, 2, 2, false, false, 0},
        {"short-of-minimum", "fault short cmd=%c short=N", true, true, 2, 2, false, false, 0},
        {"bad-checksum", "fault badchecksum cmd=%c", true, true, 0, 0, false, false, 0},
        {"bad-header", "fault badheader cmd=%c", true, true, 0, 0, false, false, 0},
        {"drop-before", "fault drop cmd=%c", true, true, 2, 2, false, true, 0, true},
        {"trickle", "fault split cmd=%c pieces=T delay=100", true, true, 2, 2, false, true, 2800},
        {"noise-64k", "fault raw cmd=%c raw=" + NoiseHex(), true, true, 2, 2, false, true, 300},
    };
    struct Target {
        Cmd cmd;
        uint8_t code;
        int normalSize;  // reply frame size with the simulator's defaults
        int minimum;
    };
    const Target targets[] = {{Cmd::ReadWeight, 0x23, 16, 16}, {Cmd::GetWiFi, 0x33, 26, 14}};

    for (const bool tcp : {true, false}) {
        for (const Target& target : targets) {
            for (const Cell& cell : cells) {
                const std::string label = std::string(tcp ? "tcp " : "serial ") +
                                          (target.cmd == Cmd::ReadWeight ? "ReadWeight " : "GetWiFi@ip ") + cell.name;
                SCOPED_TRACE(label);
                ASSERT_TRUE(Sim().Command("clear"));
                auto s = Open(tcp ? TcpText() : ComText());
                ASSERT_TRUE(s) << "no connection";
                PutClientValues(s.Get());
                const Fields before = Fields::Of(s.Get());

                std::string fault = WithCode(cell.fault, target.code);
                // Sizes that depend on the command: a frame one byte below
                // its minimum, a trickle of the whole reply.
                if (auto at = fault.find("short=N"); at != std::string::npos)
                    fault.replace(at, 7, "short=" + std::to_string(target.normalSize - target.minimum + 1));
                if (auto at = fault.find("pieces=T"); at != std::string::npos) {
                    std::string ones;
                    for (int i = 1; i < target.normalSize; ++i) ones += i > 1 ? ",1" : "1";
                    fault.replace(at, 8, "pieces=" + ones);
                }
                ASSERT_TRUE(Sim().Command(fault)) << fault.substr(0, 60);

                const DWORD t0 = GetTickCount();
                LONG result = -100;
                if (target.cmd == Cmd::ReadWeight) {
                    ASSERT_EQ(s->ReadWeight(&result), S_OK);
                } else {
                    ASSERT_EQ(s->GetWiFi(&result), S_OK);
                }
                const long took = MsSince(t0);

                const int32_t expected = tcp ? cell.tcpResult : cell.comResult;
                const bool waits = tcp ? cell.tcpWaits : cell.comWaits;
                EXPECT_EQ(result, expected);
                const long exchanges = target.cmd == Cmd::ReadWeight ? 1 : 3;
                EXPECT_LE(took, (waits ? (tcp ? TcpWaitMax : ComWaitMax) : QuickMax) + (exchanges - 1) * QuickMax);
                if (waits && tcp) {
                    EXPECT_GE(took, 2000);
                }

                Fields want = before;
                if (target.cmd == Cmd::ReadWeight) {
                    if (expected == 0) want.weight = ScaleWeight;
                } else {
                    // The first two exchanges went through; the addresses were
                    // emptied before anything else.
                    want.ssid = ScaleWifi.ssid;
                    want.key = ScaleWifi.key;
                    want.portWiFi = ScaleWifi.portWiFi;
                    want.wifiIp.clear();
                    if (expected == 0) {
                        want.wifiIp = ScaleWifi.wifiIp;
                        want.ap = ScaleWifi.ap;
                    }
                }
                EXPECT_EQ(Fields::Of(s.Get()), want);

                // The same object carries the next exchange; a lost TCP
                // connection shows as a link failure and takes a new open.
                if (cell.settleMs) Sleep(static_cast<DWORD>(cell.settleMs));
                ASSERT_TRUE(Sim().Command("clear"));
                LONG next = -1;
                if (tcp && cell.tcpLost) {
                    ASSERT_EQ(s->ReadWeight(&next), S_OK);
                    EXPECT_EQ(next, 1);
                    ASSERT_EQ(s->OpenConnection(&next), S_OK);
                    EXPECT_EQ(next, 0);
                }
                ASSERT_EQ(s->ReadWeight(&next), S_OK);
                EXPECT_EQ(next, 0);
                LONG weight = 0;
                s->get_Weight(&weight);
                EXPECT_EQ(weight, ScaleWeight);
                s->CloseConnection(&next);
            }
        }
    }
}

// A program that retries at once after a time-out, while the scale, now
// showing a new load, sends the old reply late: the retry gives the new
// weight, never the old one with 0. TCP goes on a new connection (also to a
// scale that takes one connection at a time); serial drains the line first.
TEST_F(FaultSlice, RetryAfterALateReplyGetsTheNewWeight) {
    struct Case {
        const char* name;
        bool tcp, single;
        int delayMs;  // past the receive: TCP 2000 ms, serial one read call
        long retryMax;
    };
    const Case cases[] = {
        {"tcp", true, false, 2600, QuickMax},
        {"tcp, one connection at a time", true, true, 2600, TcpWaitMax},
        {"serial", false, false, 1300, QuickMax + 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Sim().Command("clear"));
        ASSERT_TRUE(Sim().Command("weight 1000"));
        ASSERT_TRUE(Sim().Command(c.single ? "single on" : "single off"));
        auto s = Open(c.tcp ? TcpText() : ComText());
        ASSERT_TRUE(s) << "no connection";
        ASSERT_TRUE(Sim().Command("fault delay cmd=0x23 delay=" + std::to_string(c.delayMs) + " after-weight=2000"));

        LONG first = -100, retry = -100, third = -100, weight = 0;
        ASSERT_EQ(s->ReadWeight(&first), S_OK);
        EXPECT_EQ(first, 2);
        const DWORD t0 = GetTickCount();
        ASSERT_EQ(s->ReadWeight(&retry), S_OK);
        const long took = MsSince(t0);
        s->get_Weight(&weight);
        EXPECT_FALSE(retry == 0 && weight == 1000) << "the old reading came back with 0";
        EXPECT_EQ(retry, 0);
        EXPECT_EQ(weight, 2000);
        EXPECT_LE(took, c.retryMax);
        ASSERT_EQ(s->ReadWeight(&third), S_OK);
        s->get_Weight(&weight);
        EXPECT_EQ(third, 0);
        EXPECT_EQ(weight, 2000);
        s->CloseConnection(&third);
        Sleep(c.tcp ? 1000 : 200);  // the late reply is out before the next case
    }
    ASSERT_TRUE(Sim().Command("single off"));
    ASSERT_TRUE(Sim().Command("weight " + std::to_string(ScaleWeight)));
}

struct ReentrantCase {
    const char* name;
    bool tcp;
    bool posted;  // PostMessage before the call, else a timer during it
};

TEST_F(FaultSlice, CallsFromAWindowMessageDuringAWaitAreRefused) {
    const ReentrantCase cases[] = {
        {"tcp, timer", true, false},
        {"tcp, posted message", true, true},
        {"serial, timer", false, false},
        {"serial, posted message", false, true},
    };
    for (const ReentrantCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Sim().Command("clear"));
        auto s = Open(c.tcp ? TcpText() : ComText());
        ASSERT_TRUE(s) << "no connection";
        PutClientValues(s.Get());
        const Fields before = Fields::Of(s.Get());
        // The weight reply comes 200 ms late (within the serial deadline of
        // 300 ms): the handler runs inside the wait.
        ASSERT_TRUE(Sim().Command("fault delay cmd=0x23 delay=200"));
        ASSERT_TRUE(Sim().Command("forget"));

        std::vector<LONG> nested;
        Fields during;
        TimerWindow window([&] {
            LONG r = -100;
            s->ReadWeight(&r);
            nested.push_back(r);
            s->GetWiFi(&r);
            nested.push_back(r);
            s->SetWifi(&r);
            nested.push_back(r);
            s->GetName(&r);
            nested.push_back(r);
            s->CloseConnection(&r);
            nested.push_back(r);
            s->OpenConnection(&r);
            nested.push_back(r);
            during = Fields::Of(s.Get());
        });
        ASSERT_TRUE(window.Valid());
        if (c.posted) ASSERT_TRUE(window.Post());
        else ASSERT_TRUE(window.Start(50));

        LONG result = -100;
        ASSERT_EQ(s->ReadWeight(&result), S_OK);
        ASSERT_EQ(window.Fired(), 1) << "the handler did not run during the wait";
        EXPECT_EQ(nested, (std::vector<LONG>{1, 1, 1, 1, 1, 1}));
        EXPECT_EQ(during, before);
        EXPECT_EQ(result, 0);
        Fields want = before;
        want.weight = ScaleWeight;
        EXPECT_EQ(Fields::Of(s.Get()), want);
        // Only the weight request reached the scale.
        const auto requests = Sim().Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].substr(0, 17), "F8 55 CE 01 00 23");
        // The link was not closed under it.
        LONG next = -1;
        ASSERT_EQ(s->GetWiFi(&next), S_OK);
        EXPECT_EQ(next, 0);
        s->CloseConnection(&next);
    }
}

// A handler that releases the client's last reference while a call waits:
// the call still ends normally with its own result, and the object (with its
// exchange worker) goes once the call is over.
TEST_F(FaultSlice, ReleaseFromAWindowMessageDuringAWaitLetsTheCallFinish) {
    for (bool tcp : {true, false}) {
        SCOPED_TRACE(tcp ? "tcp" : "serial");
        ASSERT_TRUE(Sim().Command("clear"));
        const long threadsBefore = ThreadCount();
        IScales* raw = Open(tcp ? TcpText() : ComText()).Detach();
        ASSERT_NE(raw, nullptr) << "no connection";
        ASSERT_TRUE(Sim().Command("fault delay cmd=0x23 delay=200"));

        ULONG left = 99;
        TimerWindow window([&] { left = raw->Release(); });
        ASSERT_TRUE(window.Valid());
        ASSERT_TRUE(window.Post());

        LONG result = -100;
        EXPECT_EQ(raw->ReadWeight(&result), S_OK);
        EXPECT_EQ(window.Fired(), 1);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(left, 1u);  // the call's own hold kept the object alive
        // The worker of the released object has been joined.
        for (int i = 0; i < 50 && ThreadCount() > threadsBefore; ++i) Sleep(20);
        EXPECT_LE(ThreadCount(), threadsBefore);
    }
}

}  // namespace
