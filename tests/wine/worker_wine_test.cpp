// The exchange worker and the caller's request cycle under Wine: serial
// through a Wine COM port, TCP through Winsock, both to the simulated scale,
// and the caller's wait dispatching real window messages.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "link/ComUnit.h"
#include "link/RequestCycle.h"
#include "tests/ProcessorTime.h"
#include "tests/wine/SimLink.h"
#include "tests/wine/WindowsTestSupport.h"

using namespace pesolink;
using pesolink::wine_test::MsSince;
using pesolink::wine_test::SimLink;

namespace {

using pesolink::wine_test::TimerWindow;

constexpr int32_t NameReplySize = 19;

SimLink& Sim() { return SimLink::Get(); }

void PutNameQuery(TScalesThread& t) {
    t.Command.Buf[5] = CMD_GET_NAME;
    t.Command.Length = 1;
}

int32_t NameExchange(TRequestCycle& cycle) {
    PutNameQuery(cycle.Thread());
    const int32_t sent = cycle.SendToCom();  // the transport is the worker's Iface
    return sent != 0 ? sent : cycle.ReadFromCom();
}

// A port on 127.0.0.1 that nothing listens on.
uint16_t ClosedLoopbackPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
}

// While the first receive waits, a window message handler calls the same
// object again: that call is refused at once with ResultBusy, touches
// nothing, and the first request ends with its own reply.
void ExpectNestedRequestRefused(TRequestCycle& cycle, UINT timerMs) {
    int32_t nested = -100;
    bool busyInside = false;
    TimerWindow window([&] {
        busyInside = cycle.Busy();
        nested = cycle.RunRequest(ModeClose);
    });
    ASSERT_TRUE(window.Valid());
    PutNameQuery(cycle.Thread());
    ASSERT_EQ(cycle.SendToCom(), 0);
    ASSERT_TRUE(window.Start(timerMs));
    const int32_t result = cycle.ReadFromCom();
    ASSERT_EQ(window.Fired(), 1) << "the timer did not fire during the wait";
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(nested, ResultBusy);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(cycle.Thread().Command.Length, NameReplySize);
    EXPECT_EQ(cycle.Thread().Command.Buf[5], CMD_GET_NAME);
    EXPECT_FALSE(cycle.Busy());
    // The refused close never ran: the link still carries the next exchange.
    EXPECT_EQ(NameExchange(cycle), 0);
}

class SerialCycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Sim().Ready()) << Sim().Problem();
        ASSERT_TRUE(Sim().Command("clear"));
        ASSERT_TRUE(Sim().Command("line 57600,0"));
        savedHard_ = ComHardTimeout;
        ComHardTimeout = 100;
        TScalesThread& t = cycle_.EnsureThread();
        t.Iface = IfaceCom;
        t.Host = Sim().ComText();
        t.ReadTimeout = 600;
    }
    void TearDown() override {
        if (cycle_.HasThread()) cycle_.RunRequest(ModeClose);
        ComHardTimeout = savedHard_;
    }

    int32_t Open(const std::string& text, int32_t mode = ModeOpen57600) {
        cycle_.Thread().Host = text;
        cycle_.RunRequest(ModeClose);
        return cycle_.RunRequest(mode);
    }
    int32_t Response() { return cycle_.Thread().Response.load(); }
    TCommand& Command() { return cycle_.Thread().Command; }

    TRequestCycle cycle_;
    int32_t savedHard_ = 500;
};

TEST_F(SerialCycle, ConnectionTextNamesThePort) {
    const std::string number = std::to_string(Sim().ComNumber());
    const struct {
        std::string text;
        int32_t result;
    } cases[] = {
        {"COM" + number, 0},
        {"COM" + std::to_string(65536 + Sim().ComNumber()), 0},  // kept in 16 bits
        {"COM250", 1},                                            // not mapped
        {"COMX", 1},
        {"COM-1", 1},
        {"COM", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Open(c.text), c.result) << c.text;
        EXPECT_EQ(ComPortState(Sim().ComNumber()).open, c.result == 0) << c.text;
    }
}

TEST_F(SerialCycle, OnlyTheScalesLineSettingAnswers) {
    ASSERT_TRUE(Sim().Command("line 19200,4"));
    const struct {
        int32_t mode;
        uint8_t parity;
        int32_t result;
    } steps[] = {{ModeOpen4800, 2, 2}, {ModeOpen57600, 0, 2}, {ModeOpen19200, 4, 0}};
    for (const auto& s : steps) {
        ASSERT_EQ(Open(Sim().ComText(), s.mode), 0) << s.mode;
        EXPECT_EQ(ComPortState(Sim().ComNumber()).parity, s.parity);
        EXPECT_EQ(NameExchange(cycle_), s.result) << s.mode;
    }
    EXPECT_EQ(Command().Length, NameReplySize);
}

TEST_F(SerialCycle, ReplyFaults) {
    const struct {
        const char* fault;
        int32_t response;
        int32_t length;  // -1: not checked
        long atLeast;    // ms the receive lasts at least
    } cases[] = {
        // Pieces further apart than the inter-byte time-out: one read each.
        {"fault split pieces=3,6 delay=150", 0, NameReplySize, 300},
        {"fault error code=0x11", 17, 9, 0},
        {"fault error code=9", 9, 9, 0},
        {"fault surplus", 3, NameReplySize + 1, 600},
        {"fault silence", 3, 0, 600},
        {"fault raw raw=F855CE", 3, 3, 600},
    };
    ASSERT_EQ(Open(Sim().ComText()), 0);
    for (const auto& c : cases) {
        ASSERT_TRUE(Sim().Command(c.fault)) << c.fault;
        PutNameQuery(cycle_.Thread());
        ASSERT_EQ(cycle_.SendToCom(), 0);
        const DWORD t0 = GetTickCount();
        const int32_t result = cycle_.ReadFromCom();
        const long spent = MsSince(t0);
        EXPECT_EQ(Response(), c.response) << c.fault;
        EXPECT_EQ(result, ResponseToResult(c.response)) << c.fault;
        if (c.length >= 0) {
            EXPECT_EQ(Command().Length, c.length) << c.fault;
        }
        EXPECT_GE(spent, c.atLeast) << c.fault;
        EXPECT_LT(spent, 2500) << c.fault;
    }
    // Nothing of the faults is left on the line.
    EXPECT_EQ(NameExchange(cycle_), 0);
}

TEST_F(SerialCycle, ClosedPortSendsNothingAndTimesOut) {
    ASSERT_EQ(Open(Sim().ComText()), 0);
    ASSERT_TRUE(Sim().Command("forget"));
    ASSERT_EQ(cycle_.RunRequest(ModeClose), 0);
    PutNameQuery(cycle_.Thread());
    EXPECT_EQ(cycle_.SendToCom(), 0);
    const DWORD t0 = GetTickCount();
    EXPECT_EQ(cycle_.ReadFromCom(), 2);
    const long spent = MsSince(t0);
    EXPECT_EQ(Response(), 3);
    EXPECT_GE(spent, 590);
    EXPECT_LT(spent, 1000);
    EXPECT_TRUE(Sim().Requests().empty());
}

TEST_F(SerialCycle, RequestFromWindowMessageDuringWaitIsRefused) {
    ComHardTimeout = 300;  // the receive lasts at least this long after the reply
    ASSERT_EQ(Open(Sim().ComText()), 0);
    ExpectNestedRequestRefused(cycle_, 50);
    EXPECT_TRUE(ComPortState(Sim().ComNumber()).open);
}

class TcpCycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Sim().Ready()) << Sim().Problem();
        ASSERT_TRUE(Sim().Command("clear"));
        TScalesThread& t = cycle_.EnsureThread();
        t.Iface = IfaceLan;
        t.ReadTimeout = 2000;
    }
    void TearDown() override {
        if (cycle_.HasThread()) cycle_.RunRequest(ModeClose);
    }

    int32_t Connect(const std::string& host, int32_t port) {
        TScalesThread& t = cycle_.Thread();
        t.Host = host;
        t.Port = port;
        return cycle_.RunRequest(ModeConnect);
    }
    int32_t Connect() { return Connect("127.0.0.1", Sim().TcpPort()); }
    int32_t Response() { return cycle_.Thread().Response.load(); }
    TCommand& Command() { return cycle_.Thread().Command; }

    TRequestCycle cycle_;
};

TEST_F(TcpCycle, NameQueryRoundTrip) {
    ASSERT_TRUE(Sim().Command("forget"));
    ASSERT_EQ(Connect(), 0);
    PutNameQuery(cycle_.Thread());
    ASSERT_EQ(cycle_.SendToLan(), 0);
    EXPECT_EQ(Command().Length, 8);
    ASSERT_EQ(cycle_.ReadFromLan(), 0);
    ASSERT_EQ(Command().Length, NameReplySize);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
    const uint32_t serial = Command().Buf[6] | Command().Buf[7] << 8 | Command().Buf[8] << 16 |
                            static_cast<uint32_t>(Command().Buf[9]) << 24;
    EXPECT_EQ(serial, 12345u);  // the simulator's default serial number
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Command().Buf + 10), 5), "Scale");
    EXPECT_EQ(Sim().Requests(), std::vector<std::string>{"F8 55 CE 01 00 20 20 00"});
}

TEST_F(TcpCycle, ConnectFailuresAreLinkFailures) {
    const struct {
        const char* name;
        std::string host;
        int32_t port;
    } cases[] = {
        {"closed loopback port", "127.0.0.1", ClosedLoopbackPort()},
        {"port 0", "127.0.0.1", 0},
        {"port 65536 (low 16 bits 0)", "127.0.0.1", 65536},
        {"empty host", "", Sim().TcpPort()},
    };
    for (const auto& c : cases) {
        const DWORD t0 = GetTickCount();
        EXPECT_EQ(Connect(c.host, c.port), 1) << c.name;
        EXPECT_LT(MsSince(t0), 2600) << c.name;
        EXPECT_FALSE(cycle_.Thread().Tcp.Connected()) << c.name;
    }
    // A second connect while connected fails and leaves the link closed.
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(Connect(), 1);
    EXPECT_FALSE(cycle_.Thread().Tcp.Connected());
}

TEST_F(TcpCycle, NoReplyEndsJustAfterTheDeadline) {
    ASSERT_EQ(Connect(), 0);
    ASSERT_TRUE(Sim().Command("fault silence"));
    PutNameQuery(cycle_.Thread());
    ASSERT_EQ(cycle_.SendToLan(), 0);
    const DWORD t0 = GetTickCount();
    const double cpu0 = ThreadCpuMs();
    EXPECT_EQ(cycle_.ReadFromLan(), 2);
    const double cpuMs = ThreadCpuMs() - cpu0;
    const long spent = MsSince(t0);
    EXPECT_EQ(Response(), 3);
    EXPECT_EQ(Command().Length, 0);
    EXPECT_GE(spent, 2000);
    EXPECT_LT(spent, 2700);
    // The caller looks for its answer only briefly, then sleeps (thread
    // times come in steps of about 10 ms under Wine).
    EXPECT_LT(cpuMs, 0.02 * spent) << "the waiting caller kept the processor busy";
}

TEST_F(TcpCycle, ReplyFaults) {
    const struct {
        const char* fault;
        int32_t response;
    } cases[] = {
        {"fault split pieces=7 delay=100", 3},  // only the first delivery is taken
        {"fault surplus", 3},
        {"fault error code=0x11", 17},
        {"fault drop", 3},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Connect(), 0) << c.fault;
        ASSERT_TRUE(Sim().Command(c.fault)) << c.fault;
        PutNameQuery(cycle_.Thread());
        ASSERT_EQ(cycle_.SendToLan(), 0) << c.fault;
        const int32_t result = cycle_.ReadFromLan();
        EXPECT_EQ(Response(), c.response) << c.fault;
        EXPECT_EQ(result, ResponseToResult(c.response)) << c.fault;
        // Let a late piece arrive, then start the next case on a fresh connection.
        Sleep(150);
        cycle_.RunRequest(ModeClose);
    }
}

TEST_F(TcpCycle, RequestFromWindowMessageDuringWaitIsRefused) {
    ASSERT_EQ(Connect(), 0);
    ASSERT_TRUE(Sim().Command("fault delay delay=300"));
    ExpectNestedRequestRefused(cycle_, 50);
    EXPECT_TRUE(cycle_.Thread().Tcp.Connected());
}

}  // namespace
