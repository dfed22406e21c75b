// The driver object against the simulated scale: connection procedures and
// their trace, every command's payload and reply handling, property rules,
// errors raised, re-entrant calls and release of the object.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/IpText.h"
#include "driver/Language.h"
#include "driver/Logging.h"
#include "driver/Scales.h"
#include "driver/Settings.h"
#include "link/ComUnit.h"
#include "link/posix/CallerMessages.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tests/native/driver_folder_support.h"

namespace pesolink {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using sim::Fault;
using sim::FaultKind;

const std::string Dashes(60, '-');

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

Fault MakeFault(FaultKind kind, int command = -1) {
    Fault f{};
    f.kind = kind;
    f.command = command;
    return f;
}

// The scale answers the next request with command `command` by exactly `bytes`.
Fault RawReply(int command, Bytes bytes) {
    Fault f = MakeFault(FaultKind::Raw, command);
    f.raw = std::move(bytes);
    return f;
}

Fault FramedReply(int command, const Bytes& payload) { return RawReply(command, sim::MakeFrame(payload)); }

Fault ErrorReply(int command, uint8_t code) {
    Fault f = MakeFault(FaultKind::ErrorReply, command);
    f.errorCode = code;
    return f;
}

uint16_t ClosedLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Temp APPDATA with logging on, the module started, fast serial time-outs
// and a simulated scale listening on loopback TCP.
class ScalesTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::make_unique<test_support::TempDriverFolder>("pesolink-scales",
                                                                   "[Settings]\nLogging=1\nLCID=419\n");
        dir_ = folder_->Dir();
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());
        timeouts_ = std::make_unique<test_support::SavedSerialTimeouts>();
        ComSoftTimeout = 300;
        ComHardTimeout = 50;
        port_ = server_.ListenTcp(0);
    }

    void TearDown() override {
        server_.Stop();
        ComClose();
        timeouts_.reset();
        SetLogTarget(u"", false);
        folder_.reset();
    }

    std::u16string Endpoint() const { return U16("127.0.0.1:" + std::to_string(port_)); }

    void OpenTcp(TScales& s) {
        s.put_Connection(Endpoint());
        ASSERT_EQ(s.OpenConnection(), 0);
        scale_.ClearRequests();
        ClearLog();
    }

    // Log lines without their "hh:nn:ss " stamp.
    Lines Log() const {
        std::ifstream in(Narrow(LogFilePath()), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        Lines lines;
        std::string text = all.str();
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            lines.push_back(line.size() >= 9 ? line.substr(9) : line);
            at = end + 2;
        }
        return lines;
    }
    void ClearLog() const { std::ofstream(Narrow(LogFilePath()), std::ios::trunc); }

    // Payloads of the requests the scale received since the last clear.
    std::vector<Bytes> Payloads() const {
        std::vector<Bytes> out;
        for (const Bytes& f : scale_.Requests()) out.emplace_back(f.begin() + 5, f.end() - 2);
        return out;
    }

    std::unique_ptr<test_support::TempDriverFolder> folder_;
    std::unique_ptr<test_support::SavedSerialTimeouts> timeouts_;
    std::string dir_;
    sim::SimScale scale_;
    sim::SimServer server_{scale_};
    uint16_t port_ = 0;
};

Lines TcpOpenLines(const std::string& text) {
    return {Dashes,
            "OpenConnection: Connection=" + text,
            "OpenConnection: starting thread",
            "OpenConnection: thread started",
            "OpenConnection: stopping thread",
            "OpenConnection: thread stopped"};
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---------------------------------------------------------------------------
// Address texts

TEST(IpText, CheckIpStr) {
    const struct {
        const char16_t* text;
        int32_t result;
    } cases[] = {
        {u"192.168.1.1", 0}, {u"10.0.0.1", 0}, {u"1.0.0.0", 0}, {u"1.02.003.4", 0},
        {u"255.255.255.255", 0}, {u"9.0.0.00000000000000000001", 0},
        {u"", 1}, {u"0.0.0.0", 1}, {u"01.2.3.4", 1}, {u"256.1.1.1", 1}, {u"192.168.0.256", 1},
        {u"1.2.3", 1}, {u"1.2.3.4.5", 1}, {u"1.2.3.4.", 1}, {u"1..2.3", 1}, {u".1.2.3", 1},
        {u"a1.2.3.4", 1}, {u"1.2.3.a", 1}, {u"1.2.3.4 ", 1}, {u"1. 2.3.4", 1}, {u"1.-2.3.4", 1},
        {u"1.+2.3.4", 1}, {u"1.$A.3.4", 1}, {u"1.2.3.99999999999999999999", 1},
        {u"1.2.3.\u0664", 1},  // a digit of another script is no decimal digit here
    };
    for (const auto& c : cases) EXPECT_EQ(CheckIpStr(c.text), c.result) << Narrow(c.text);
}

TEST(IpText, DottedTextAndNumbers) {
    EXPECT_EQ(DottedText(192, 168, 1, 10), u"192.168.1.10");
    EXPECT_EQ(DottedText(0, 0, 0, 0), u"0.0.0.0");
    EXPECT_EQ(DecimalText(INT64_MIN), u"-9223372036854775808");
    EXPECT_EQ(DecimalText(4294967295LL), u"4294967295");
    EXPECT_EQ(HexText(0), u"0");
    EXPECT_EQ(HexText(0xFFFFFFFFC0A8010AULL), u"FFFFFFFFC0A8010A");
}

TEST_F(ScalesTest, IpStrToNumValuesAndTrace) {
    const struct {
        const char16_t* text;
        uint32_t value;
        const char* hex;
    } cases[] = {
        {u"10.0.0.1", 0x0A000001u, "A000001"},
        {u"192.168.1.10", 0xC0A8010Au, "FFFFFFFFC0A8010A"},
        {u"255.255.255.255", 0xFFFFFFFFu, "FFFFFFFFFFFFFFFF"},
        {u"127.255.0.1", 0x7FFF0001u, "7FFF0001"},
        {u"", 0u, "0"},
        {u"1.2.3", 0x00010203u, "10203"},
        // A fifth group wraps round to the lowest byte again.
        {u"1.2.3.4.5", 0x02030406u, "2030406"},
        {u"a.b.c.d", 0u, "0"},
        {u"1..2", 0x00010002u, "10002"},  // the empty group still moves the shift
    };
    for (const auto& c : cases) {
        ClearLog();
        EXPECT_EQ(IpStrToNum(c.text), c.value) << Narrow(c.text);
        const Lines log = Log();
        const std::u16string text = c.text;
        ASSERT_EQ(log.size(), text.size() + 2) << Narrow(c.text);
        EXPECT_EQ(log.front(), "--- IpStrToNum: String=" + Narrow(text));
        EXPECT_EQ(log.back(), std::string("--- IpStrToNum: numeric=") + c.hex) << Narrow(c.text);
    }

    ClearLog();
    IpStrToNum(u"10.0.0.1");
    const Lines expected = {"--- IpStrToNum: String=10.0.0.1", "--- Step 8 s[i]=1", "--- Step 7 s[i]=.",
                            "--- Step 6 s[i]=0", "--- Step 5 s[i]=.", "--- Step 4 s[i]=0",
                            "--- Step 3 s[i]=.", "--- Step 2 s[i]=0", "--- Step 1 s[i]=1",
                            "--- IpStrToNum: numeric=A000001"};
    EXPECT_EQ(Log(), expected);
}

// ---------------------------------------------------------------------------
// Properties

TEST(ScalesProperties, PutRules) {
    using Put = void (TScales::*)(const std::u16string&);
    using Get = std::u16string (TScales::*)() const;
    const struct {
        const char* property;
        Put put;
        Get get;
    } addresses[] = {
        {"IpAddress", &TScales::put_IpAddress, &TScales::get_IpAddress},
        {"Mask", &TScales::put_Mask, &TScales::get_Mask},
        {"Gateway", &TScales::put_Gateway, &TScales::get_Gateway},
        {"IpAddressWiFi", &TScales::put_IpAddressWiFi, &TScales::get_IpAddressWiFi},
        {"MaskWiFi", &TScales::put_MaskWiFi, &TScales::get_MaskWiFi},
        {"GatewayWiFi", &TScales::put_GatewayWiFi, &TScales::get_GatewayWiFi},
        {"ApIpAddressWiFi", &TScales::put_ApIpAddressWiFi, &TScales::get_ApIpAddressWiFi},
    };
    // Each step puts a value and names what the property then holds.
    const struct {
        const char16_t* put;
        const char16_t* holds;
    } addressSteps[] = {
        {u"192.168.0.1", u"192.168.0.1"}, {u"192.168.0.256", u"192.168.0.1"}, {u"0.0.0.0", u"192.168.0.1"},
        {u"01.2.3.4", u"192.168.0.1"},    {u"1.2.3", u"192.168.0.1"},         {u"1.2.3.4 ", u"192.168.0.1"},
        {u"1.02.003.4", u"1.02.003.4"},   {u"10.0.0.1", u"10.0.0.1"},         {u"", u""},
        {u"1.0.0.0", u"1.0.0.0"},
    };
    for (const auto& a : addresses) {
        TScales s;
        EXPECT_EQ((s.*a.get)(), u"") << a.property;
        for (const auto& step : addressSteps) {
            (s.*a.put)(step.put);
            EXPECT_EQ((s.*a.get)(), step.holds) << a.property << " after " << Narrow(step.put);
        }
    }

    using PutInt = void (TScales::*)(int32_t);
    using GetInt = int32_t (TScales::*)() const;
    const struct {
        const char* property;
        PutInt put;
        GetInt get;
        std::vector<std::pair<int32_t, int32_t>> steps;  // value put, value held
    } numbers[] = {
        {"PortEthernet", &TScales::put_PortEthernet, &TScales::get_PortEthernet,
         {{65535, 65535}, {65536, 65535}, {-1, 65535}, {0, 0}, {5001, 5001}, {INT32_MIN, 5001}}},
        {"PortWiFi", &TScales::put_PortWiFi, &TScales::get_PortWiFi,
         {{65535, 65535}, {65536, 65535}, {-1, 65535}, {0, 0}, {5000, 5000}}},
        {"TareWeight", &TScales::put_TareWeight, &TScales::get_TareWeight,
         {{250, 250}, {-5, 250}, {-1, 250}, {0, 0}, {INT32_MAX, INT32_MAX}}},
    };
    for (const auto& n : numbers) {
        TScales s;
        for (const auto& [value, held] : n.steps) {
            (s.*n.put)(value);
            EXPECT_EQ((s.*n.get)(), held) << n.property << " after " << value;
        }
    }

    const struct {
        const char* property;
        Put put;
        Get get;
        std::size_t limit;
    } texts[] = {
        {"Name", &TScales::put_Name, &TScales::get_Name, 25},
        {"SSID", &TScales::put_SSID, &TScales::get_SSID, 32},
        {"Key", &TScales::put_Key, &TScales::get_Key, 64},
    };
    for (const auto& t : texts) {
        TScales s;
        const std::u16string fits(t.limit, u'\u0416');  // characters, not bytes, are counted
        (s.*t.put)(fits);
        EXPECT_EQ((s.*t.get)(), fits) << t.property;
        (s.*t.put)(std::u16string(t.limit + 1, u'x'));
        EXPECT_EQ((s.*t.get)(), fits) << t.property << " took an over-long text";
        (s.*t.put)(u"");
        EXPECT_EQ((s.*t.get)(), u"") << t.property;
    }

    TScales fresh;
    EXPECT_EQ(fresh.get_ApSSID(), u"Os_000000");
    EXPECT_EQ(fresh.get_ApKey(), u"Qorvin4863");
    EXPECT_EQ(fresh.get_BaudRate(), 0);
    EXPECT_EQ(fresh.get_Parity(), 0);
    EXPECT_EQ(fresh.get_ScalesID(), u"");
    fresh.put_Connection(u"anything at all");
    EXPECT_EQ(fresh.get_Connection(), u"anything at all");
}

TEST_F(ScalesTest, ApSSIDFollowsSerial) {
    const struct {
        uint32_t serial;
        const char16_t* ssid;
    } cases[] = {{123, u"Os_000123"}, {12345678, u"Os_123456"}, {0, u"Os_000000"}, {987654, u"Os_987654"}};
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        scale_.Update([&](sim::ScaleState& st) { st.serial = c.serial; });
        ASSERT_EQ(s.GetName(), 0);
        EXPECT_EQ(s.get_ApSSID(), c.ssid) << c.serial;
        EXPECT_EQ(s.get_ApKey(), u"Qorvin4863");
    }
}

// ---------------------------------------------------------------------------
// TCP connection

TEST_F(ScalesTest, TcpOpenConnectionOutcomesAndTrace) {
    const std::string ok = "127.0.0.1:" + std::to_string(port_);
    const std::string closed = "127.0.0.1:" + std::to_string(ClosedLoopbackPort());
    Fault error17 = ErrorReply(0x20, 0x11);
    const struct {
        const char* name;
        std::string text;
        std::vector<Fault> faults;
        int32_t result;
        Lines log;
        std::size_t requests;
    } cases[] = {
        {"scale answers", ok, {}, 0, TcpOpenLines(ok) + Lines{"OpenConnection: Exit from " + ok}, 1},
        {"no colon: empty host", "127.0.0.1", {}, 1,
         TcpOpenLines("127.0.0.1") + Lines{"OpenConnection: Exit from 127.0.0.1"}, 0},
        {"nothing listens", closed, {}, 1, TcpOpenLines(closed) + Lines{"OpenConnection: Exit from " + closed}, 0},
        {"port not a number", "127.0.0.1:50x", {}, 1,
         TcpOpenLines("127.0.0.1:50x") + Lines{"OpenConnection: Exit from 127.0.0.1:50x"}, 0},
        {"error reply to the probe", ok, {error17}, 1,
         TcpOpenLines(ok) + Lines{"OpenConnection: ReadFromLan Error=17", "OpenConnection: Exit from " + ok}, 1},
        {"no transport", "X1", {}, 1, {Dashes, "OpenConnection: Connection=X1", "OpenConnection: Exit from X1"}, 0},
        {"empty text", "", {}, 1, {Dashes, "OpenConnection: Connection="}, 0},
    };
    for (const auto& c : cases) {
        TScales s;
        scale_.ClearRequests();
        for (const Fault& f : c.faults) scale_.AddFault(f);
        ClearLog();
        s.put_Connection(U16(c.text));
        EXPECT_EQ(s.OpenConnection(), c.result) << c.name;
        EXPECT_EQ(Log(), c.log) << c.name;
        EXPECT_EQ(scale_.Requests().size(), c.requests) << c.name;
        EXPECT_EQ(s.get_BaudRate(), 0) << c.name;
        EXPECT_EQ(s.get_Parity(), 0) << c.name;
        scale_.ClearFaults();
    }
}

TEST_F(ScalesTest, TcpProbeWithoutReplyGivesTwoAndKeepsConnection) {
    TScales s;
    scale_.AddFault(MakeFault(FaultKind::Silence, 0x20));
    const std::string text = Narrow(Endpoint());
    s.put_Connection(Endpoint());
    EXPECT_EQ(s.OpenConnection(), 2);
    EXPECT_EQ(Log(), TcpOpenLines(text) + (Lines{"OpenConnection: ReadFromLan Error=2", "OpenConnection: Exit from " + text}));
    EXPECT_EQ(s.ReadWeight(), 0);  // still connected
}

TEST_F(ScalesTest, NonAsciiHostFailsWithoutConnecting) {
    TScales s;
    s.put_Connection(u"127.0.0.1\u00E9:" + U16(std::to_string(port_)));
    EXPECT_EQ(s.OpenConnection(), 1);
    EXPECT_EQ(server_.TcpClientCount(), 0u);
}

TEST_F(ScalesTest, SecondTcpOpenWithoutCloseFailsAndLeavesItClosed) {
    TScales s;
    s.put_Connection(Endpoint());
    ASSERT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(s.OpenConnection(), 1);
    EXPECT_EQ(s.ReadWeight(), 1);  // nothing to send on
    EXPECT_EQ(s.CloseConnection(), 0);
    EXPECT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(s.ReadWeight(), 0);
}

TEST_F(ScalesTest, CloseConnectionTrace) {
    {
        TScales fresh;
        EXPECT_EQ(fresh.CloseConnection(), 1);
        EXPECT_EQ(Log(), (Lines{"CloseConnection: Connection="}));
    }
    {
        TScales s;
        s.put_Connection(u"X1");
        s.OpenConnection();
        ClearLog();
        EXPECT_EQ(s.CloseConnection(), 1);
        EXPECT_EQ(Log(), (Lines{"CloseConnection: Connection=X1", "CloseConnection: Exit from X1", Dashes}));
    }
    {
        TScales s;
        OpenTcp(s);
        const std::string text = Narrow(Endpoint());
        EXPECT_EQ(s.CloseConnection(), 0);
        EXPECT_EQ(Log(), (Lines{"CloseConnection: Connection=" + text, "CloseConnection: Exit from " + text, Dashes}));
        EXPECT_EQ(s.CloseConnection(), 0);  // nothing open any more: still 0
        EXPECT_EQ(s.ReadWeight(), 1);
    }
}

TEST_F(ScalesTest, CommandTraceShowsConnectionWhileRoutingFollowsCon) {
    TScales s;
    OpenTcp(s);
    const std::string text = Narrow(Endpoint());
    ASSERT_EQ(s.ReadWeight(), 0);
    s.put_Connection(u"COM77");
    ASSERT_EQ(s.ReadWeight(), 0);  // still over TCP
    EXPECT_EQ(Log(), (Lines{"- ReadWeight: " + text, "- ReadWeight: Exit from " + text + " with Result=0",
                            "- ReadWeight: COM77", "- ReadWeight: Exit from COM77 with Result=0"}));
    EXPECT_EQ(scale_.Requests().size(), 2u);
}

// ---------------------------------------------------------------------------
// Serial connection

class ScalesSerialTest : public ScalesTest {
protected:
    void SetUp() override {
        ScalesTest::SetUp();
        char tmpl[] = "/tmp/pesolink-com-XXXXXX";
        comDir_ = mkdtemp(tmpl);
        setenv("PESOLINK_COM_DIR", comDir_.c_str(), 1);
        server_.OpenPty(comDir_ + "/com5");
    }
    void TearDown() override {
        ScalesTest::TearDown();
        unsetenv("PESOLINK_COM_DIR");
        std::filesystem::remove_all(comDir_);
    }
    std::string comDir_;
};

Lines SerialHeader(const std::string& text) {
    return {Dashes,
            "OpenConnection: Connection=" + text,
            "OpenConnection: starting thread",
            "OpenConnection: thread started",
            "OpenConnection: stopping thread",
            "OpenConnection: thread stopped"};
}

Lines ProbeLines(int baud, int result) {
    Lines l = {"  OpenConnection: connect at " + std::to_string(baud), "  OpenConnection: CMD_GET_NAME ($20) sent",
               "  OpenConnection: CMD_GET_NAME ($20) sent successful",
               "  OpenConnection: ReadFromCom Result=" + std::to_string(result)};
    if (result != 0) {
        l.push_back("OpenConnection: ReadFromCom Error=" + std::to_string(result));
        l.push_back("  OpenConnection: ReadFromCom Error, disconnected");
    }
    return l;
}

TEST_F(ScalesSerialTest, ProbeSequences) {
    const Lines exit = {"OpenConnection: Exit from COM5"};
    const struct {
        const char* name;
        uint32_t baud;
        int parity;
        bool errorEverywhere;
        int32_t result;
        int32_t baudRate;
        int32_t parityCode;
        Lines log;
    } cases[] = {
        {"answers at 4800", 4800, 2, false, 0, 4800, 2, SerialHeader("COM5") + ProbeLines(4800, 0) + exit},
        {"answers at 57600", 57600, 0, false, 0, 57600, 0,
         SerialHeader("COM5") + ProbeLines(4800, 2) + ProbeLines(57600, 0) + exit},
        {"two time-outs, then 19200", 19200, 4, false, 0, 19200, 4,
         SerialHeader("COM5") + ProbeLines(4800, 2) + ProbeLines(57600, 2) + ProbeLines(19200, 0) + exit},
        {"no scale answers", 9600, 0, false, 2, 0, 0,
         SerialHeader("COM5") + ProbeLines(4800, 2) + ProbeLines(57600, 2) + ProbeLines(19200, 2) + exit},
        {"error reply at every speed", 0, 0, true, 1, 19200, 4,
         SerialHeader("COM5") + ProbeLines(4800, 17) + ProbeLines(57600, 17) + ProbeLines(19200, 17) + exit},
    };
    for (const auto& c : cases) {
        server_.SetLineSetting(c.baud, c.parity);
        scale_.ClearFaults();
        if (c.errorEverywhere) {
            Fault f = ErrorReply(0x20, 0x11);
            f.count = -1;
            scale_.AddFault(f);
        }
        scale_.ClearRequests();
        ClearLog();
        TScales s;
        s.put_Connection(u"COM5");
        EXPECT_EQ(s.OpenConnection(), c.result) << c.name;
        EXPECT_EQ(s.get_BaudRate(), c.baudRate) << c.name;
        EXPECT_EQ(s.get_Parity(), c.parityCode) << c.name;
        EXPECT_EQ(Log(), c.log) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(s.ReadWeight(), 0) << c.name;  // the port stays open at that speed
            EXPECT_EQ(s.get_Weight(), 1000) << c.name;
        }
        if (c.errorEverywhere) {
            EXPECT_FALSE(ComPortState(5).open) << c.name;
        }
    }
}

// The probe observer hears each line setting before it is tried, and
// changes neither the result nor the trace.
TEST_F(ScalesSerialTest, ProbeObserverHearsEachStep) {
    using Steps = std::vector<std::pair<int32_t, int32_t>>;
    const std::string tcp = "127.0.0.1:" + std::to_string(port_);
    const struct {
        std::string text;
        uint32_t baud;
        int parity;
        int32_t result;
        Steps steps;
        Lines log;
    } cases[] = {
        {"COM5", 4800, 2, 0, {{4800, 2}}, SerialHeader("COM5") + ProbeLines(4800, 0) + Lines{"OpenConnection: Exit from COM5"}},
        {"COM5", 19200, 4, 0, {{4800, 2}, {57600, 0}, {19200, 4}},
         SerialHeader("COM5") + ProbeLines(4800, 2) + ProbeLines(57600, 2) + ProbeLines(19200, 0) +
             Lines{"OpenConnection: Exit from COM5"}},
        {"COM9", 4800, 2, 1, {{4800, 2}},
         SerialHeader("COM9") + Lines{"  OpenConnection: connect at 4800", "OpenConnection: Exit from COM9"}},
        {tcp, 4800, 2, 0, {},
         {Dashes, "OpenConnection: Connection=" + tcp, "OpenConnection: starting thread", "OpenConnection: thread started",
          "OpenConnection: stopping thread", "OpenConnection: thread stopped", "OpenConnection: Exit from " + tcp}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " at " + std::to_string(c.baud));
        server_.SetLineSetting(c.baud, c.parity);
        ClearLog();
        TScales s;
        Steps heard;
        s.SetProbeObserver([&](int32_t baud, int32_t parity) { heard.emplace_back(baud, parity); });
        s.put_Connection(std::u16string(c.text.begin(), c.text.end()));
        EXPECT_EQ(s.OpenConnection(), c.result);
        EXPECT_EQ(heard, c.steps);
        EXPECT_EQ(Log(), c.log);
        EXPECT_EQ(s.CloseConnection(), 0);
    }
}

TEST_F(ScalesSerialTest, TextChecksAndAbsentPort) {
    enum Worker { Created, NoneCloseRaises, NoneNothingToClose };
    const struct {
        const char16_t* text;
        int32_t result;
        Lines log;
        Worker worker;
        int32_t baudRate;
    } cases[] = {
        {u"COM9", 1, SerialHeader("COM9") + Lines{"  OpenConnection: connect at 4800", "OpenConnection: Exit from COM9"},
         Created, 4800},
        // Lower case names no transport, so a close has nothing to do.
        {u"com3", 1, {Dashes, "OpenConnection: Connection=com3", "OpenConnection: Exit from com3"},
         NoneNothingToClose, 0},
        {u"C12", 1, {Dashes, "OpenConnection: Connection=C12"}, NoneCloseRaises, 0},
        {u"COMX", 1, SerialHeader("COMX") + Lines{"  OpenConnection: connect at 4800", "OpenConnection: Exit from COMX"},
         Created, 4800},
        // A character outside ASCII keeps its place; here it is an ignored one.
        {u"C\u00D6M5", 0, SerialHeader("C?M5") + ProbeLines(4800, 0) + Lines{"OpenConnection: Exit from C?M5"}, Created,
         4800},
        {u"COM\u0665", 1,
         SerialHeader("COM?") + Lines{"  OpenConnection: connect at 4800", "OpenConnection: Exit from COM?"}, Created,
         4800},
    };
    server_.SetLineSetting(4800, 2);
    for (const auto& c : cases) {
        TScales s;
        ClearLog();
        s.put_Connection(c.text);
        EXPECT_EQ(s.OpenConnection(), c.result) << Narrow(c.text);
        EXPECT_EQ(Log(), c.log) << Narrow(c.text);
        EXPECT_EQ(s.get_BaudRate(), c.baudRate) << Narrow(c.text);
        switch (c.worker) {
            case Created:
                EXPECT_EQ(s.CloseConnection(), 0) << Narrow(c.text);
                break;
            case NoneCloseRaises:
                EXPECT_THROW(s.ReadWeight(), std::logic_error) << Narrow(c.text);
                EXPECT_THROW(s.CloseConnection(), std::logic_error) << Narrow(c.text);
                break;
            case NoneNothingToClose:
                EXPECT_THROW(s.ReadWeight(), std::logic_error) << Narrow(c.text);
                EXPECT_EQ(s.CloseConnection(), 1) << Narrow(c.text);
                break;
        }
    }
}

TEST_F(ScalesSerialTest, CommandsAfterCloseTimeOut) {
    server_.SetLineSetting(4800, 2);
    TScales s;
    s.put_Connection(u"COM5");
    ASSERT_EQ(s.OpenConnection(), 0);
    ASSERT_EQ(s.ReadWeight(), 0);
    EXPECT_EQ(s.CloseConnection(), 0);
    EXPECT_FALSE(ComPortState(5).open);
    EXPECT_EQ(s.ReadWeight(), 2);
    // A serial close touches the serial port only; reopening works again.
    ASSERT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(s.GetTare(), 0);
}

TEST_F(ScalesSerialTest, TcpOpenKeepsSerialLineSettings) {
    server_.SetLineSetting(57600, 0);
    TScales s;
    s.put_Connection(u"COM5");
    ASSERT_EQ(s.OpenConnection(), 0);
    s.put_Connection(Endpoint());
    ASSERT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(s.get_BaudRate(), 57600);
    EXPECT_EQ(s.get_Parity(), 0);
}

TEST_F(ScalesSerialTest, NegativeSoftTimeoutIsRaised) {
    server_.SetLineSetting(4800, 2);
    ComSoftTimeout = -1;
    TScales s;
    s.put_Connection(u"COM5");
    EXPECT_THROW(s.OpenConnection(), std::range_error);
    EXPECT_TRUE(scale_.Requests().empty());
    ComSoftTimeout = 300;
    EXPECT_EQ(s.OpenConnection(), 0);  // the object stays usable
}

// ---------------------------------------------------------------------------
// Commands without a usable connection

TEST_F(ScalesTest, CommandsWithoutConnectionText) {
    const struct {
        const char* name;
        int32_t (TScales::*member)();
    } members[] = {
        {"ReadWeight", &TScales::ReadWeight}, {"GetTare", &TScales::GetTare},
        {"SetTare", &TScales::SetTare},       {"SetZero", &TScales::SetZero},
        {"GetName", &TScales::GetName},       {"SetName", &TScales::SetName},
        {"GetEthernet", &TScales::GetEthernet}, {"SetEthernet", &TScales::SetEthernet},
        {"GetWiFi", &TScales::GetWiFi},       {"SetWifi", &TScales::SetWifi},
        {"GetWiFiAP", &TScales::GetWiFiAP},   {"SetWiFiAP", &TScales::SetWiFiAP},
    };
    for (const auto& m : members) {
        // Fresh object, and one whose last open ran with an empty text.
        for (bool openedEmpty : {false, true}) {
            TScales s;
            if (openedEmpty) {
                s.put_Connection(Endpoint());
                ASSERT_EQ(s.OpenConnection(), 0);
                s.put_Connection(u"");
                s.OpenConnection();
                scale_.ClearRequests();
            }
            ClearLog();
            EXPECT_EQ((s.*m.member)(), 1) << m.name;
            EXPECT_TRUE(Log().empty()) << m.name;
            EXPECT_TRUE(scale_.Requests().empty()) << m.name;
        }
    }
}

TEST_F(ScalesTest, CommandsBeforeAnyWorkerAreRaised) {
    const struct {
        const char* name;
        int32_t (TScales::*member)();
    } members[] = {
        {"ReadWeight", &TScales::ReadWeight}, {"GetTare", &TScales::GetTare},
        {"SetTare", &TScales::SetTare},       {"SetZero", &TScales::SetZero},
        {"GetName", &TScales::GetName},       {"SetName", &TScales::SetName},
        {"GetEthernet", &TScales::GetEthernet}, {"SetEthernet", &TScales::SetEthernet},
        {"GetWiFi", &TScales::GetWiFi},       {"SetWifi", &TScales::SetWifi},
        {"GetWiFiAP", &TScales::GetWiFiAP},   {"SetWiFiAP", &TScales::SetWiFiAP},
        {"CloseConnection", &TScales::CloseConnection},
    };
    for (const char16_t* text : {u"C12", u"X1"}) {
        for (const auto& m : members) {
            TScales s;
            scale_.ClearRequests();
            s.put_Connection(text);
            EXPECT_EQ(s.OpenConnection(), 1);
            if (std::u16string(text) == u"X1" && std::string(m.name) == "CloseConnection") {
                EXPECT_EQ(s.CloseConnection(), 1);  // names no transport: nothing to close
            } else {
                EXPECT_THROW((s.*m.member)(), std::logic_error) << m.name << " " << Narrow(text);
            }
            EXPECT_TRUE(scale_.Requests().empty()) << m.name;
            // The object survives the raised failure (and is not left busy).
            s.put_Connection(Endpoint());
            EXPECT_EQ(s.OpenConnection(), 0) << m.name;
            EXPECT_EQ((s.*m.member)(), 0) << m.name << " after opening";
            if (std::string(m.name) != "CloseConnection") s.CloseConnection();
        }
    }
}

// ---------------------------------------------------------------------------
// Weighing

TEST_F(ScalesTest, ReadWeightReplies) {
    const struct {
        const char* name;
        Fault reply;
        int32_t result;
        bool stored;
        int32_t weight, division, stable, net, zero;
    } cases[] = {
        {"example", FramedReply(0x23, {0x23, 0xE8, 0x03, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01}), 0, true, 1000, 2, 1, 0, 1},
        {"minus one", FramedReply(0x23, {0x23, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x00, 0x01, 0x00}), 0, true, -1, 9, 0, 1, 0},
        {"lowest", FramedReply(0x23, {0x23, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFE, 0xFD, 0xFC}), 0, true, INT32_MIN, 255,
         254, 253, 252},
        {"reply code 15 taken", FramedReply(0x23, {0x15, 0x10, 0x00, 0x00, 0x00, 1, 1, 1, 1}), 0, true, 16, 1, 1, 1, 1},
        {"reply code 28, 16 bytes", FramedReply(0x23, {0x28, 0x11, 0x00, 0x00, 0x00, 1, 0, 1, 0}), 0, true, 17, 1, 0, 1,
         0},
        {"longer reply", FramedReply(0x23, {0x23, 0x05, 0, 0, 0, 1, 1, 1, 1, 0xAA, 0xBB}), 0, true, 5, 1, 1, 1, 1},
        {"15 bytes", FramedReply(0x23, {0x23, 0x01, 0x00, 0x00, 0x00, 1, 1, 1}), 2, false, 0, 0, 0, 0, 0},
        {"error reply 11", ErrorReply(0x23, 0x11), 17, false, 0, 0, 0, 0, 0},
        {"error reply 4", ErrorReply(0x23, 0x04), 1, false, 0, 0, 0, 0, 0},
        {"error reply 5", ErrorReply(0x23, 0x05), 7, false, 0, 0, 0, 0, 0},
        {"silence", MakeFault(FaultKind::Silence, 0x23), 2, false, 0, 0, 0, 0, 0},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        // Known earlier values, to tell kept fields from stored ones.
        scale_.Update([](sim::ScaleState& st) {
            st.weight = 777;
            st.division = 3;
            st.stable = 4;
            st.net = 5;
            st.zero = 6;
        });
        ASSERT_EQ(s.ReadWeight(), 0);
        scale_.AddFault(c.reply);
        EXPECT_EQ(s.ReadWeight(), c.result) << c.name;
        const int32_t expect[] = {c.stored ? c.weight : 777, c.stored ? c.division : 3, c.stored ? c.stable : 4,
                                  c.stored ? c.net : 5, c.stored ? c.zero : 6};
        const int32_t got[] = {s.get_Weight(), s.get_Division(), s.get_Stable(), s.get_NetIndication(),
                               s.get_ZeroIndication()};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i], expect[i]) << c.name << " field " << i;
    }
}

// Every code the scale's short error reply can carry, through a command to
// the client: the scale's own codes come through unchanged, 1 and 4 read as
// a link failure, 2 and 3 as no reply, 0 as a reply too short for the
// weight, any other as unrecognised; the link stays usable after each.
TEST_F(ScalesTest, ScaleErrorCodesReachTheClient) {
    TScales s;
    OpenTcp(s);
    for (int code = 0; code <= 255; ++code) {
        int32_t expected = 7;
        switch (code) {
            case 0: case 2: case 3: expected = 2; break;
            case 1: case 4: expected = 1; break;
            case 8: case 9: case 10: case 11: case 16: case 17: case 21: case 23: case 24: case 25:
                expected = code;
                break;
            default: break;
        }
        scale_.AddFault(ErrorReply(0x23, static_cast<uint8_t>(code)));
        EXPECT_EQ(s.ReadWeight(), expected) << "error code " << code;
        ASSERT_EQ(s.ReadWeight(), 0) << "after error code " << code;
    }
}

TEST_F(ScalesTest, GetTareReplies) {
    const struct {
        const char* name;
        Fault reply;
        int32_t result;
        int32_t tare;
    } cases[] = {
        {"example", FramedReply(0xA1, {0xA1, 0x10, 0x27, 0x00, 0x00}), 0, 10000},
        {"negative stored", FramedReply(0xA1, {0xA1, 0xFF, 0xFF, 0xFF, 0xFF}), 0, -1},
        {"11 bytes", FramedReply(0xA1, {0xA1, 0x10, 0x27, 0x00}), 2, 42},
        {"error reply", ErrorReply(0xA1, 0x02), 2, 42},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        s.put_TareWeight(42);
        scale_.AddFault(c.reply);
        EXPECT_EQ(s.GetTare(), c.result) << c.name;
        EXPECT_EQ(s.get_TareWeight(), c.tare) << c.name;
    }
}

TEST_F(ScalesTest, SetTarePayloadsAndNoTrace) {
    const struct {
        std::vector<int32_t> puts;
        Bytes payload;
    } cases[] = {
        {{250}, {0xA3, 0xFA, 0x00, 0x00, 0x00}},
        {{70000}, {0xA3, 0x70, 0x11, 0x01, 0x00}},
        {{250, -5}, {0xA3, 0xFA, 0x00, 0x00, 0x00}},
        {{0}, {0xA3, 0x00, 0x00, 0x00, 0x00}},
        {{INT32_MAX}, {0xA3, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        for (int32_t v : c.puts) s.put_TareWeight(v);
        scale_.ClearRequests();
        EXPECT_EQ(s.SetTare(), 0);
        EXPECT_EQ(Payloads(), std::vector<Bytes>{c.payload});
    }
    EXPECT_TRUE(Log().empty());
}

TEST_F(ScalesTest, SetTareAndSetZeroReplies) {
    const struct {
        const char* name;
        int command;
        std::function<Fault(int)> reply;
        int32_t result;
    } replies[] = {
        {"refused", 0, [](int c) { return FramedReply(c, {0x15}); }, 5},
        {"16 accepted", 0, [](int c) { return FramedReply(c, {0x16}); }, 0},
        {"echo accepted", 0, [](int c) { return FramedReply(c, {static_cast<uint8_t>(c)}); }, 0},
        {"28 with more bytes accepted", 0, [](int c) { return FramedReply(c, {0x28, 0x11, 0x00}); }, 0},
        {"six bytes", 0, [](int c) { return RawReply(c, {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x15}); }, 2},
        {"error reply 11", 0, [](int c) { return ErrorReply(c, 0x11); }, 17},
        {"error reply 3", 0, [](int c) { return ErrorReply(c, 0x03); }, 2},
        {"error reply 0", 0, [](int c) { return ErrorReply(c, 0x00); }, 0},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& r : replies) {
        scale_.AddFault(r.reply(0xA3));
        EXPECT_EQ(s.SetTare(), r.result) << "SetTare " << r.name;
        scale_.AddFault(r.reply(0x72));
        EXPECT_EQ(s.SetZero(), r.result) << "SetZero " << r.name;
    }
    ClearLog();
    scale_.Update([](sim::ScaleState& st) { st.refuseZero = true; });
    EXPECT_EQ(s.SetZero(), 5);
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(Log(), (Lines{"- SetZero: " + text, "- SetZero: Exit from " + text + " with Result=5"}));
}

TEST_F(ScalesTest, NegativeTareIsRaisedBeforeSending) {
    TScales s;
    OpenTcp(s);
    scale_.AddFault(FramedReply(0xA1, {0xA1, 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(s.GetTare(), 0);
    ASSERT_EQ(s.get_TareWeight(), -1);
    scale_.ClearRequests();
    EXPECT_THROW(s.SetTare(), std::range_error);
    EXPECT_TRUE(scale_.Requests().empty());
    s.put_TareWeight(5);  // the object stays usable
    EXPECT_EQ(s.SetTare(), 0);
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0xA3, 0x05, 0x00, 0x00, 0x00}}));
}

// ---------------------------------------------------------------------------
// Name

TEST_F(ScalesTest, GetNameReplies) {
    const struct {
        const char* name;
        Fault reply;
        int32_t result;
        const char16_t* serial;
        std::u16string scaleName;
    } cases[] = {
        {"example", FramedReply(0x20, {0x20, 0x39, 0x30, 0x00, 0x00, 0x53, 0x63, 0x61, 0x6C, 0x65, 0x0D, 0x0A}), 0,
         u"12345", u"Scale"},
        {"unsigned serial", FramedReply(0x20, {0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x0D, 0x0A}), 0, u"4294967295", u"A"},
        {"empty name", FramedReply(0x20, {0x20, 0x01, 0x00, 0x00, 0x00, 0x0D, 0x0A}), 0, u"1", u""},
        {"code page", FramedReply(0x20, {0x20, 0x02, 0x00, 0x00, 0x00, 0xC2, 0xE5, 0xF1, 0xFB, 0x0D, 0x0A}), 0, u"2",
         u"\u0412\u0435\u0441\u044B"},
        // No CR: the name runs to the end of this frame (its last two bytes
        // stand where a checksum would) and takes nothing of older replies.
        {"no CR", RawReply(0x20, {0xF8, 0x55, 0xCE, 0x07, 0x00, 0x20, 0x03, 0, 0, 0, 0x41, 0x42, 0x43, 0x44}), 0, u"3",
         u"ABCD"},
        {"13 bytes", FramedReply(0x20, {0x20, 0x04, 0x00, 0x00, 0x00, 0x41}), 2, u"99", u"LongerNameHere"},
        {"error reply", ErrorReply(0x20, 0x11), 17, u"99", u"LongerNameHere"},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        scale_.Update([](sim::ScaleState& st) {
            st.serial = 99;
            st.name = "LongerNameHere";
        });
        ASSERT_EQ(s.GetName(), 0);
        scale_.AddFault(c.reply);
        EXPECT_EQ(s.GetName(), c.result) << c.name;
        EXPECT_EQ(s.get_ScalesID(), c.serial) << c.name;
        EXPECT_EQ(s.get_Name(), c.scaleName) << c.name;
    }
}

TEST_F(ScalesTest, SetNamePayloadsAndReplies) {
    const struct {
        std::u16string name;
        Bytes payload;
    } payloads[] = {
        {u"Scale", {0x22, 0x53, 0x63, 0x61, 0x6C, 0x65, 0x0D, 0x0A}},
        {u"", {0x22, 0x0D, 0x0A}},
        {u"\u0412\u0435\u0441\u044B", {0x22, 0xC2, 0xE5, 0xF1, 0xFB, 0x0D, 0x0A}},
        {u"\u4E2D", {0x22, 0x00, 0x0D, 0x0A}},  // no byte in the code page
    };
    TScales s;
    OpenTcp(s);
    for (const auto& p : payloads) {
        s.put_Name(p.name);
        scale_.ClearRequests();
        EXPECT_EQ(s.SetName(), 0);
        EXPECT_EQ(Payloads(), std::vector<Bytes>{p.payload}) << Narrow(p.name);
    }
    const struct {
        Fault reply;
        int32_t result;
    } replies[] = {
        {FramedReply(0x22, {0x15}), 5},
        {FramedReply(0x22, {0x22}), 0},
        {FramedReply(0x22, {0x28, 0x11, 0x00}), 0},
        {RawReply(0x22, {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x15}), 2},
        {ErrorReply(0x22, 0x09), 9},
    };
    for (const auto& r : replies) {
        scale_.AddFault(r.reply);
        EXPECT_EQ(s.SetName(), r.result);
    }
    ClearLog();
    s.put_Name(u"Scale");
    ASSERT_EQ(s.SetName(), 0);
    EXPECT_EQ(scale_.State().name, "Scale");
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(Log(), (Lines{"- SetName: " + text, "- SetName: Exit from " + text + " with Result=0"}));
}

// ---------------------------------------------------------------------------
// Ethernet

TEST_F(ScalesTest, SetEthernetPayloadAndTrace) {
    TScales s;
    OpenTcp(s);
    s.put_IpAddress(u"192.168.1.10");
    s.put_Mask(u"255.255.255.0");
    s.put_Gateway(u"192.168.1.1");
    s.put_PortEthernet(5001);
    EXPECT_EQ(s.SetEthernet(), 0);
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x39, 0x0A, 0x01, 0xA8, 0xC0, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0xA8,
                                                0xC0, 0x89, 0x13}}));
    const Lines log = Log();
    const std::string text = Narrow(Endpoint());
    ASSERT_EQ(log.size(), 1u + (12 + 2) + (13 + 2) + (11 + 2) + 1);
    EXPECT_EQ(log[0], "- SetEthernet: " + text);
    EXPECT_EQ(log[1], "--- IpStrToNum: String=192.168.1.10");
    EXPECT_EQ(log[15], "--- IpStrToNum: String=255.255.255.0");
    EXPECT_EQ(log[30], "--- IpStrToNum: String=192.168.1.1");
    EXPECT_EQ(log.back(), "- SetEthernet: Exit from " + text + " with Result=0");

    // Fields left empty by a failed read go out as 0.0.0.0.
    scale_.AddFault(MakeFault(FaultKind::Short, 0x2D));
    EXPECT_EQ(s.GetEthernet(), 2);
    scale_.ClearRequests();
    EXPECT_EQ(s.SetEthernet(), 0);
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x39, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x89, 0x13}}));
}

TEST_F(ScalesTest, GetEthernetRepliesAndTrace) {
    TScales s;
    OpenTcp(s);
    scale_.AddFault(FramedReply(0x2D, {0x2D, 0x0A, 0x01, 0xA8, 0xC0, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0xA8, 0xC0,
                                       0x89, 0x13}));
    ASSERT_EQ(s.GetEthernet(), 0);
    EXPECT_EQ(s.get_IpAddress(), u"192.168.1.10");
    EXPECT_EQ(s.get_Mask(), u"255.255.255.0");
    EXPECT_EQ(s.get_Gateway(), u"192.168.1.1");
    EXPECT_EQ(s.get_PortEthernet(), 5001);
    EXPECT_EQ(s.get_ScalesID(), u"12345");  // the name query runs first
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x20}, {0x2D}}));
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(Log(), (Lines{"- GetName: " + text, "- GetName: Exit from " + text + " with Result=0",
                            "- GetEthernet: " + text, "- GetEthernet: Exit from " + text + " with Result=0"}));

    // A failing name query does not stop the command.
    scale_.AddFault(ErrorReply(0x20, 0x11));
    EXPECT_EQ(s.GetEthernet(), 0);
    EXPECT_EQ(s.get_IpAddress(), u"192.168.1.10");

    // 21 bytes: too short, and the addresses are empty; the port stays.
    s.put_PortEthernet(77);
    scale_.AddFault(FramedReply(0x2D, {0x2D, 0x0A, 0x01, 0xA8, 0xC0, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0xA8, 0xC0,
                                       0x89}));
    EXPECT_EQ(s.GetEthernet(), 2);
    EXPECT_EQ(s.get_IpAddress(), u"");
    EXPECT_EQ(s.get_Mask(), u"");
    EXPECT_EQ(s.get_Gateway(), u"");
    EXPECT_EQ(s.get_PortEthernet(), 77);
}

TEST_F(ScalesTest, NetworkErrorReplies) {
    // Replies of more than 9 bytes starting with 0x28, and 9-byte error replies.
    const struct {
        const char* name;
        int command;
        Bytes payload;  // empty: the 9-byte error reply with code `code`
        uint8_t code;
        int32_t getResult;
        int32_t setResult;
    } cases[] = {
        {"Ethernet 28 11 00", 0x2D, {0x28, 0x11, 0x00}, 0, 4, 4},
        {"Ethernet 28 12 00", 0x2D, {0x28, 0x12, 0x00}, 0, 2, 5},
        {"Ethernet 28 10 00", 0x2D, {0x28, 0x10, 0x00}, 0, 2, 5},
        {"Ethernet error reply 11", 0x2D, {}, 0x11, 17, 17},
        {"Wi-Fi 28 10 00", 0x33, {0x28, 0x10, 0x00}, 0, 4, 4},
        {"Wi-Fi 28 11 00", 0x33, {0x28, 0x11, 0x00}, 0, 2, 5},
        {"Wi-Fi error reply 10", 0x33, {}, 0x10, 16, 16},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        const bool ethernet = c.command == 0x2D;
        auto reply = [&](int command) {
            return c.payload.empty() ? ErrorReply(command, c.code) : FramedReply(command, c.payload);
        };
        scale_.AddFault(reply(c.command));
        EXPECT_EQ(ethernet ? s.GetEthernet() : s.GetWiFiAP(), c.getResult) << c.name;
        // The Set answers to the same reply (SetWiFiAP's own write is 0x31).
        scale_.AddFault(reply(ethernet ? 0x39 : 0x31));
        EXPECT_EQ(ethernet ? s.SetEthernet() : s.SetWiFiAP(), c.setResult) << c.name;
    }
    // The sim's interface errors: 28 11 00 and 28 10 00 on every network command.
    scale_.Update([](sim::ScaleState& st) {
        st.ethernetError = true;
        st.wifiError = true;
    });
    EXPECT_EQ(s.GetEthernet(), 4);
    EXPECT_EQ(s.SetEthernet(), 4);
    EXPECT_EQ(s.GetWiFi(), 4);
    EXPECT_EQ(s.SetWifi(), 4);
    EXPECT_EQ(s.GetWiFiAP(), 4);
    EXPECT_EQ(s.SetWiFiAP(), 4);
}

// ---------------------------------------------------------------------------
// Wi-Fi

Bytes WifiIpPayload(std::initializer_list<uint8_t> station, std::initializer_list<uint8_t> mask,
                    std::initializer_list<uint8_t> gateway, std::initializer_list<uint8_t> ap, uint16_t port) {
    Bytes p = {0x33};
    for (auto group : {station, mask, gateway, ap}) p.insert(p.end(), group.begin(), group.end());
    p.push_back(static_cast<uint8_t>(port & 0xFF));
    p.push_back(static_cast<uint8_t>(port >> 8));
    return p;
}

TEST_F(ScalesTest, GetWiFiRepliesAndTrace) {
    TScales s;
    OpenTcp(s);
    scale_.AddFault(FramedReply(0x3A, {0x3A, 0x88, 0x13, 0x4E, 0x65, 0x74, 0x0D, 0x0A, 0x6B, 0x65, 0x79, 0x0D, 0x0A}));
    scale_.AddFault(FramedReply(0x33, WifiIpPayload({5, 0, 0, 10}, {0, 0, 0, 255}, {1, 0, 0, 10}, {1, 4, 168, 192}, 5001)));
    ASSERT_EQ(s.GetWiFi(), 0);
    EXPECT_EQ(s.get_SSID(), u"Net");
    EXPECT_EQ(s.get_Key(), u"key");
    EXPECT_EQ(s.get_IpAddressWiFi(), u"10.0.0.5");
    EXPECT_EQ(s.get_MaskWiFi(), u"255.0.0.0");
    EXPECT_EQ(s.get_GatewayWiFi(), u"10.0.0.1");
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"192.168.4.1");
    EXPECT_EQ(s.get_PortWiFi(), 5001);  // the second reply's port replaces the first
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x20}, {0x3A}, {0x33}}));
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(Log(), (Lines{"- GetWiFi: " + text, "- GetName: " + text, "- GetName: Exit from " + text + " with Result=0",
                            "- GetWiFi: Exit from " + text + " with Result=0"}));

    // The second exchange fails: the first one's values stay, addresses are empty.
    scale_.AddFault(FramedReply(0x3A, {0x3A, 0x89, 0x13, 0x41, 0x0D, 0x0A, 0x42, 0x0D, 0x0A}));
    scale_.AddFault(FramedReply(0x33, {0x28, 0x10, 0x00}));
    EXPECT_EQ(s.GetWiFi(), 4);
    EXPECT_EQ(s.get_PortWiFi(), 5001);
    EXPECT_EQ(s.get_SSID(), u"A");
    EXPECT_EQ(s.get_Key(), u"B");
    EXPECT_EQ(s.get_IpAddressWiFi(), u"");
    EXPECT_EQ(s.get_MaskWiFi(), u"");
    EXPECT_EQ(s.get_GatewayWiFi(), u"");
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"192.168.4.1");

    // The first exchange fails: the port reads 0, network name and key stay.
    scale_.AddFault(FramedReply(0x3A, {0x3A, 0x88}));
    EXPECT_EQ(s.GetWiFi(), 2);
    EXPECT_EQ(s.get_PortWiFi(), 0);
    EXPECT_EQ(s.get_SSID(), u"A");
    EXPECT_EQ(s.get_Key(), u"B");
}

TEST_F(ScalesTest, WifiTextsEndAtTheFrame) {
    const struct {
        const char* name;
        Bytes frame;
        const char16_t* ssid;
        const char16_t* key;
    } cases[] = {
        // Key without CR: up to the end of the frame, the last two bytes included.
        {"key without CR", {0xF8, 0x55, 0xCE, 0x07, 0x00, 0x3A, 0x88, 0x13, 0x4E, 0x0D, 0x0A, 0x6B, 0x79, 0x7A},
         u"N", u"kyz"},
        // No CR at all: everything is network name, the key is empty.
        {"name without CR", {0xF8, 0x55, 0xCE, 0x07, 0x00, 0x3A, 0x88, 0x13, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53},
         u"NOPQRS", u""},
        // CR as the last byte: nothing after it.
        {"CR last", {0xF8, 0x55, 0xCE, 0x07, 0x00, 0x3A, 0x88, 0x13, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x0D}, u"NOPQR",
         u""},
    };
    TScales s;
    OpenTcp(s);
    for (const auto& c : cases) {
        // Fill the buffer with a long reply first.
        scale_.Update([](sim::ScaleState& st) {
            st.ssid = "OlderNetworkName";
            st.key = "OlderKeyText";
        });
        ASSERT_EQ(s.GetWiFi(), 0);
        scale_.AddFault(RawReply(0x3A, c.frame));
        scale_.AddFault(FramedReply(0x33, {0x28, 0x10, 0x00}));
        EXPECT_EQ(s.GetWiFi(), 4) << c.name;
        EXPECT_EQ(s.get_SSID(), c.ssid) << c.name;
        EXPECT_EQ(s.get_Key(), c.key) << c.name;
    }
}

// A 0x33 reply of 14 to 25 bytes: the fields it does not reach read as
// zero, never as bytes of the reply before it.
TEST_F(ScalesTest, ShortWifiIpReplyReadsMissingBytesAsZero) {
    TScales s;
    OpenTcp(s);
    // 17 bytes: station address, mask and the first gateway byte, then two
    // bytes where the checksum stands (here 00 00).
    const Bytes shortFrame = {0xF8, 0x55, 0xCE, 0x0A, 0x00, 0x33, 0x05, 0x00, 0x00, 0x0A,
                              0x00, 0x00, 0x00, 0xFF, 0x01, 0x00, 0x00};

    ASSERT_EQ(s.GetWiFi(), 0);  // a full reply: 192.168.1.11 ... 192.168.4.1, port 5000
    ASSERT_EQ(s.get_ApIpAddressWiFi(), u"192.168.4.1");
    scale_.AddFault(RawReply(0x33, shortFrame));
    ASSERT_EQ(s.GetWiFi(), 0);
    EXPECT_EQ(s.get_IpAddressWiFi(), u"10.0.0.5");
    EXPECT_EQ(s.get_MaskWiFi(), u"255.0.0.0");
    EXPECT_EQ(s.get_GatewayWiFi(), u"0.0.0.1");
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"0.0.0.0");
    EXPECT_EQ(s.get_PortWiFi(), 0);

    ASSERT_EQ(s.GetWiFiAP(), 0);
    ASSERT_EQ(s.get_ApIpAddressWiFi(), u"192.168.4.1");
    scale_.AddFault(RawReply(0x33, shortFrame));
    EXPECT_EQ(s.GetWiFiAP(), 0);
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"0.0.0.0");

    // SetWiFiAP sends back what the short reply carried, zeros for the rest
    // (a full reply is read first so that its bytes fill the buffer).
    ASSERT_EQ(s.GetWiFiAP(), 0);
    s.put_ApIpAddressWiFi(u"192.168.4.1");
    scale_.AddFault(RawReply(0x33, shortFrame));
    scale_.ClearRequests();
    EXPECT_EQ(s.SetWiFiAP(), 0);
    ASSERT_EQ(Payloads().size(), 2u);
    EXPECT_EQ(Payloads()[1], (Bytes{0x31, 0x05, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x01,
                                    0x04, 0xA8, 0xC0, 0x00, 0x00}));
}

TEST_F(ScalesTest, SetWifiExchanges) {
    TScales s;
    OpenTcp(s);
    s.put_SSID(u"Net");
    s.put_Key(u"key");
    s.put_PortWiFi(5000);
    s.put_IpAddressWiFi(u"10.0.0.5");
    s.put_MaskWiFi(u"255.0.0.0");
    s.put_GatewayWiFi(u"10.0.0.1");
    s.put_ApIpAddressWiFi(u"10.9.9.9");  // not sent: the scale's own value goes back
    EXPECT_EQ(s.SetWifi(), 0);
    const Bytes first = {0x3C, 0x88, 0x13, 0x4E, 0x65, 0x74, 0x0D, 0x0A, 0x6B, 0x65, 0x79, 0x0D, 0x0A};
    const Bytes third = {0x31, 0x05, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xFF, 0x01, 0x00, 0x00,
                         0x0A, 0x01, 0x04, 0xA8, 0xC0, 0x88, 0x13};
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{first, {0x33}, third}));
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"10.9.9.9");
    const Lines log = Log();
    ASSERT_FALSE(log.empty());
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(log.front(), "- SetWiFi: " + text);
    EXPECT_EQ(log.back(), "- SetWiFi: Exit from " + text + " with Result=0");
    EXPECT_EQ(log.size(), 2u + (8 + 2) + (9 + 2) + (8 + 2) + (11 + 2));

    const struct {
        const char* name;
        std::vector<Fault> faults;
        int32_t result;
        std::size_t exchanges;
    } cases[] = {
        {"first reply 15 is a refusal", {FramedReply(0x3C, {0x15})}, 5, 1},
        {"first reply 28 10, 10 bytes", {FramedReply(0x3C, {0x28, 0x10, 0x00})}, 4, 1},
        {"first reply 28 12", {FramedReply(0x3C, {0x28, 0x12, 0x00})}, 5, 1},
        {"first reply short", {RawReply(0x3C, {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x3C})}, 2, 1},
        {"first reply error 17", {ErrorReply(0x3C, 0x11)}, 17, 1},
        {"address read short", {FramedReply(0x33, {0x33, 1, 2, 3, 4, 5})}, 2, 2},
        {"address read 28 10", {FramedReply(0x33, {0x28, 0x10, 0x00})}, 4, 2},
        {"address write refused", {FramedReply(0x31, {0x28, 0x33, 0x00})}, 5, 3},
    };
    for (const auto& c : cases) {
        for (const Fault& f : c.faults) scale_.AddFault(f);
        scale_.ClearRequests();
        EXPECT_EQ(s.SetWifi(), c.result) << c.name;
        EXPECT_EQ(scale_.Requests().size(), c.exchanges) << c.name;
    }
}

TEST_F(ScalesTest, SetWiFiAPExchanges) {
    TScales s;
    OpenTcp(s);
    s.put_ApIpAddressWiFi(u"192.168.4.1");
    scale_.AddFault(FramedReply(0x33, WifiIpPayload({5, 0, 0, 10}, {0, 0, 0, 255}, {1, 0, 0, 10}, {9, 9, 9, 9}, 5000)));
    EXPECT_EQ(s.SetWiFiAP(), 0);
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x33},
                                               {0x31, 0x05, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xFF, 0x01, 0x00, 0x00,
                                                0x0A, 0x01, 0x04, 0xA8, 0xC0, 0x88, 0x13}}));
    const auto st = scale_.State();
    EXPECT_EQ(st.apIp, 0xC0A80401u);
    EXPECT_EQ(st.wifiIp, 0x0A000005u);
    const Lines log = Log();
    const std::string text = Narrow(Endpoint());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "- SetWiFiAP: " + text);
    EXPECT_EQ(log.back(), "- SetWiFiAP: Exit from " + text + " with Result=0");
}

// A reply starting with 0x15 is a refusal in every exchange of a network
// Set: 5, no later exchange, and the refused settings stay as the scale had
// them (names that a SetWifi wrote before a later refusal stay written). The 0x28
// rules stay as they are; the short error reply with code 0 is an
// ordinary 9-byte reply starting with 0x28, so these Sets give 5 for it.
TEST_F(ScalesTest, NetworkSetsRefused) {
    enum Set { Ethernet, Wifi, WifiAp };
    const Bytes longRefusal = {0x15, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const struct {
        const char* name;
        Set set;
        Fault fault;
        int32_t result;
        Bytes requests;  // command codes the scale received
    } cases[] = {
        {"SetEthernet 15", Ethernet, FramedReply(0x39, {0x15}), 5, {0x39}},
        {"SetEthernet 15 with data", Ethernet, FramedReply(0x39, {0x15, 0x00, 0x01}), 5, {0x39}},
        {"SetEthernet six-byte 15", Ethernet, RawReply(0x39, {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x15}), 2, {0x39}},
        {"SetEthernet error reply 0", Ethernet, ErrorReply(0x39, 0x00), 5, {0x39}},
        {"SetWifi 15 to the names", Wifi, FramedReply(0x3C, {0x15}), 5, {0x3C}},
        {"SetWifi 15 to the read", Wifi, FramedReply(0x33, {0x15}), 5, {0x3C, 0x33}},
        {"SetWifi long 15 to the read", Wifi, FramedReply(0x33, longRefusal), 5, {0x3C, 0x33}},
        {"SetWifi 15 to the write", Wifi, FramedReply(0x31, {0x15}), 5, {0x3C, 0x33, 0x31}},
        {"SetWiFiAP 15 to the read", WifiAp, FramedReply(0x33, {0x15}), 5, {0x33}},
        {"SetWiFiAP long 15 to the read", WifiAp, FramedReply(0x33, longRefusal), 5, {0x33}},
        {"SetWiFiAP 15 to the write", WifiAp, FramedReply(0x31, {0x15}), 5, {0x33, 0x31}},
        {"SetWiFiAP error reply 0", WifiAp, ErrorReply(0x31, 0x00), 5, {0x33, 0x31}},
    };
    TScales s;
    OpenTcp(s);
    const sim::ScaleState before = scale_.State();
    for (const auto& c : cases) {
        s.put_IpAddress(u"10.1.2.3");
        s.put_SSID(u"Other");
        s.put_IpAddressWiFi(u"10.4.5.6");
        s.put_ApIpAddressWiFi(u"10.7.8.9");
        scale_.SetState(before);
        scale_.AddFault(c.fault);
        scale_.ClearRequests();
        ClearLog();
        const int32_t r = c.set == Ethernet ? s.SetEthernet() : c.set == Wifi ? s.SetWifi() : s.SetWiFiAP();
        EXPECT_EQ(r, c.result) << c.name;
        Bytes codes;
        for (const Bytes& p : Payloads()) codes.push_back(p.empty() ? 0 : p[0]);
        EXPECT_EQ(codes, c.requests) << c.name;
        const sim::ScaleState after = scale_.State();
        EXPECT_EQ(after.ethIp, before.ethIp) << c.name;
        if (c.requests == Bytes{0x3C}) EXPECT_EQ(after.ssid, before.ssid) << c.name;
        EXPECT_EQ(after.wifiIp, before.wifiIp) << c.name;
        EXPECT_EQ(after.apIp, before.apIp) << c.name;
        const std::string name = c.set == Ethernet ? "SetEthernet" : c.set == Wifi ? "SetWiFi" : "SetWiFiAP";
        const Lines log = Log();
        ASSERT_FALSE(log.empty()) << c.name;
        EXPECT_EQ(log.back(), "- " + name + ": Exit from " + Narrow(Endpoint()) + " with Result=" +
                                  std::to_string(c.result))
            << c.name;
    }
    // What the client reads back after the refusal is the scale's old value.
    scale_.AddFault(FramedReply(0x39, {0x15}));
    s.put_IpAddress(u"10.1.2.3");
    ASSERT_EQ(s.SetEthernet(), 5);
    ASSERT_EQ(s.GetEthernet(), 0);
    EXPECT_EQ(s.get_IpAddress(), u"192.168.1.10");
}

TEST_F(ScalesTest, GetWiFiAPReadsOnlyTheAccessPoint) {
    TScales s;
    OpenTcp(s);
    s.put_IpAddressWiFi(u"10.1.1.1");
    ASSERT_EQ(s.GetWiFiAP(), 0);
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"192.168.4.1");
    EXPECT_EQ(s.get_IpAddressWiFi(), u"10.1.1.1");
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x20}, {0x33}}));
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(Log(), (Lines{"- GetWiFiAP: " + text, "- GetName: " + text, "- GetName: Exit from " + text + " with Result=0",
                            "- GetWiFiAP: Exit from " + text + " with Result=0"}));

    scale_.AddFault(FramedReply(0x33, {0x33, 1, 2, 3, 4, 5}));  // 14 bytes needed, 13 given
    EXPECT_EQ(s.GetWiFiAP(), 2);
    EXPECT_EQ(s.get_ApIpAddressWiFi(), u"");
}

TEST_F(ScalesTest, RoundTripThroughTheScale) {
    TScales s;
    OpenTcp(s);
    s.put_Name(u"Line 2");
    s.put_IpAddress(u"10.20.30.40");
    s.put_Mask(u"255.255.0.0");
    s.put_Gateway(u"10.20.0.1");
    s.put_PortEthernet(6001);
    s.put_SSID(u"Plant");
    s.put_Key(u"secret");
    s.put_PortWiFi(6002);
    s.put_IpAddressWiFi(u"10.30.0.7");
    s.put_MaskWiFi(u"255.255.255.0");
    s.put_GatewayWiFi(u"10.30.0.1");
    ASSERT_EQ(s.SetName(), 0);
    ASSERT_EQ(s.SetEthernet(), 0);
    ASSERT_EQ(s.SetWifi(), 0);
    s.put_ApIpAddressWiFi(u"10.40.0.1");
    ASSERT_EQ(s.SetWiFiAP(), 0);

    TScales r;
    OpenTcp(r);
    ASSERT_EQ(r.GetEthernet(), 0);
    ASSERT_EQ(r.GetWiFi(), 0);
    EXPECT_EQ(r.get_Name(), u"Line 2");
    EXPECT_EQ(r.get_IpAddress(), u"10.20.30.40");
    EXPECT_EQ(r.get_Mask(), u"255.255.0.0");
    EXPECT_EQ(r.get_Gateway(), u"10.20.0.1");
    EXPECT_EQ(r.get_PortEthernet(), 6001);
    EXPECT_EQ(r.get_SSID(), u"Plant");
    EXPECT_EQ(r.get_Key(), u"secret");
    EXPECT_EQ(r.get_PortWiFi(), 6002);
    EXPECT_EQ(r.get_IpAddressWiFi(), u"10.30.0.7");
    EXPECT_EQ(r.get_MaskWiFi(), u"255.255.255.0");
    EXPECT_EQ(r.get_GatewayWiFi(), u"10.30.0.1");
    EXPECT_EQ(r.get_ApIpAddressWiFi(), u"10.40.0.1");
}

TEST_F(ScalesTest, OverlongPayloadIsRaisedBeforeSending) {
    TScales s;
    OpenTcp(s);
    // The largest frame: a network name of 1491 bytes without CR (plus the
    // two closing bytes of the frame) that SetWifi could not send back.
    Bytes payload = {0x3A, 0x88, 0x13};
    payload.resize(MaxPayload, 'A');
    scale_.AddFault(FramedReply(0x3A, payload));
    ASSERT_EQ(s.GetWiFi(), 0);
    ASSERT_GE(s.get_SSID().size(), 1491u);
    scale_.ClearRequests();
    EXPECT_THROW(s.SetWifi(), std::range_error);
    EXPECT_TRUE(scale_.Requests().empty());
    s.put_SSID(u"Net");  // usable again
    EXPECT_EQ(s.SetWifi(), 0);
}

// ---------------------------------------------------------------------------
// Re-entrance and release

TEST_F(ScalesTest, CallFromMessageHandlerDuringWaitIsRefused) {
    TScales s;
    OpenTcp(s);
    s.put_IpAddressWiFi(u"10.0.0.9");
    s.put_ApIpAddressWiFi(u"10.0.0.8");
    Fault slow = MakeFault(FaultKind::Delay, 0x23);
    slow.delayMs = 300;
    scale_.AddFault(slow);

    const struct {
        const char* name;
        int32_t (TScales::*member)();
    } members[] = {
        {"OpenConnection", &TScales::OpenConnection}, {"CloseConnection", &TScales::CloseConnection},
        {"ReadWeight", &TScales::ReadWeight},         {"GetTare", &TScales::GetTare},
        {"SetTare", &TScales::SetTare},               {"SetZero", &TScales::SetZero},
        {"GetName", &TScales::GetName},               {"SetName", &TScales::SetName},
        {"GetEthernet", &TScales::GetEthernet},       {"SetEthernet", &TScales::SetEthernet},
        {"GetWiFi", &TScales::GetWiFi},               {"SetWifi", &TScales::SetWifi},
        {"GetWiFiAP", &TScales::GetWiFiAP},           {"SetWiFiAP", &TScales::SetWiFiAP},
    };
    std::vector<int32_t> nested;
    std::vector<std::u16string> fields;
    PostCallerMessage([&] {
        for (const auto& m : members) nested.push_back((s.*m.member)());
        fields = {s.get_IpAddressWiFi(), s.get_ApIpAddressWiFi()};
    });
    EXPECT_EQ(s.ReadWeight(), 0);
    EXPECT_EQ(s.get_Weight(), 1000);
    ASSERT_EQ(nested.size(), std::size(members));
    for (std::size_t i = 0; i < nested.size(); ++i) EXPECT_EQ(nested[i], ResultBusy) << members[i].name;
    EXPECT_EQ(fields, (std::vector<std::u16string>{u"10.0.0.9", u"10.0.0.8"}));
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{{0x23}}));
    const std::string text = Narrow(Endpoint());
    EXPECT_EQ(Log(), (Lines{"- ReadWeight: " + text, "- ReadWeight: Exit from " + text + " with Result=0"}));

    // Once the outer call is done the object takes calls again.
    EXPECT_EQ(s.GetTare(), 0);
}

TEST_F(ScalesTest, CallDuringConnectWaitIsRefused) {
    TScales s;
    Fault slow = MakeFault(FaultKind::Delay, 0x20);
    slow.delayMs = 200;
    scale_.AddFault(slow);
    int32_t nested = -100;
    PostCallerMessage([&] { nested = s.CloseConnection(); });
    s.put_Connection(Endpoint());
    EXPECT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(nested, ResultBusy);
    EXPECT_EQ(s.ReadWeight(), 0);  // the connection was not closed under it
}

TEST_F(ScalesTest, ReleasingConnectedObjectsLeavesNoThread) {
    const int before = ThreadCount();
    constexpr int batches = 100;
    constexpr int perBatch = 10;
    for (int b = 0; b < batches; ++b) {
        std::vector<std::unique_ptr<TScales>> alive;
        for (int i = 0; i < perBatch; ++i) {
            alive.push_back(std::make_unique<TScales>());
            alive.back()->put_Connection(Endpoint());
            ASSERT_EQ(alive.back()->OpenConnection(), 0) << b << "/" << i;
        }
        EXPECT_GE(ThreadCount(), before + perBatch);
    }
    // The simulator's connection threads end as it sees each close.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((ThreadCount() > before || server_.TcpClientCount() != 0) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(ThreadCount(), before);
    EXPECT_EQ(server_.TcpClientCount(), 0u);
    EXPECT_EQ(scale_.Requests().size(), static_cast<std::size_t>(batches * perBatch));
}

}  // namespace
}  // namespace pesolink
