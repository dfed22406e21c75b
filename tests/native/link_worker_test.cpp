// The exchange worker and the caller's request cycle against the simulated
// scale, over loopback TCP and over a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/ComUnit.h"
#include "link/RequestCycle.h"
#include "link/posix/CallerMessages.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tests/ProcessorTime.h"

using namespace pesolink;
using sim::Fault;
using sim::FaultKind;

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

Fault MakeFault(FaultKind kind, int command = -1) {
    Fault f{};
    f.kind = kind;
    f.command = command;
    return f;
}

Fault RawFault(std::vector<uint8_t> bytes) {
    Fault f = MakeFault(FaultKind::Raw);
    f.raw = std::move(bytes);
    return f;
}

// A port on 127.0.0.1 that nothing listens on.
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

void PutNameQuery(TRequestCycle& cycle) {
    TScalesThread& t = cycle.EnsureThread();
    t.Command.Buf[5] = CMD_GET_NAME;
    t.Command.Length = 1;
}

class TcpWorker : public ::testing::Test {
protected:
    void SetUp() override { port_ = server_.ListenTcp(0); }

    int32_t Connect(const std::string& host, int32_t port) {
        TScalesThread& t = cycle_.EnsureThread();
        t.Iface = IfaceLan;
        t.Host = host;
        t.Port = port;
        t.ReadTimeout = 2000;
        t.Command.Length = 0;
        return cycle_.RunRequest(ModeConnect);
    }
    int32_t Connect() { return Connect("127.0.0.1", port_); }

    // Two request cycles as the connection probe takes them, or the one
    // cycle of a command (ExchangeLan).
    int32_t NameExchange(bool oneCycle = false) {
        PutNameQuery(cycle_);
        if (oneCycle) return cycle_.ExchangeLan();
        const int32_t sent = cycle_.SendToLan();
        return sent != 0 ? sent : cycle_.ReadFromLan();
    }

    int32_t Response() { return cycle_.Thread().Response.load(); }
    TCommand& Command() { return cycle_.Thread().Command; }

    sim::SimScale scale_;
    sim::SimServer server_{scale_};
    uint16_t port_ = 0;
    TRequestCycle cycle_;
};

TEST_F(TcpWorker, NameQueryRoundTrip) {
    ASSERT_EQ(Connect(), 0);
    PutNameQuery(cycle_);
    ASSERT_EQ(cycle_.SendToLan(), 0);
    EXPECT_EQ(Command().Length, 8);
    ASSERT_EQ(cycle_.ReadFromLan(), 0);
    // 20, serial (4), "Scale", CR LF
    EXPECT_EQ(Command().Length, 7 + 1 + 4 + 5 + 2);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
    const auto requests = scale_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (std::vector<uint8_t>{0xF8, 0x55, 0xCE, 0x01, 0x00, 0x20, 0x20, 0x00}));
}

TEST_F(TcpWorker, SecondConnectFailsAndLeavesConnectionClosed) {
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(Connect(), 1);
    EXPECT_FALSE(cycle_.Thread().Tcp.Connected());
    EXPECT_EQ(NameExchange(), 1);  // send without a connection
    EXPECT_EQ(Connect(), 0);       // the next connect starts afresh
    EXPECT_EQ(NameExchange(), 0);
}

TEST_F(TcpWorker, UnusableEndpointsFailWithLinkFailure) {
    EXPECT_EQ(Connect("", port_), 1);
    EXPECT_EQ(Connect("127.0.0.1", 0), 1);
    EXPECT_EQ(Connect("127.0.0.1", 65536), 1);  // low 16 bits: port 0
    EXPECT_EQ(Connect("127.0.0.1", ClosedLoopbackPort()), 1);
}

TEST_F(TcpWorker, PortUsesLow16Bits) { EXPECT_EQ(Connect("127.0.0.1", 65536 + port_), 0); }

TEST_F(TcpWorker, SilenceEndsAfterDeadlineWithNothingReceived) {
    ASSERT_EQ(Connect(), 0);
    scale_.AddFault(MakeFault(FaultKind::Silence));
    const auto t0 = Clock::now();
    const double cpu0 = ThreadCpuMs();
    EXPECT_EQ(NameExchange(), 2);
    const double cpuMs = ThreadCpuMs() - cpu0;
    const long spent = MsSince(t0);
    EXPECT_EQ(Response(), 3);
    EXPECT_EQ(Command().Length, 0);
    EXPECT_GE(spent, 2000);
    EXPECT_LT(spent, 2600);
    // The caller looks for its answer only briefly, then sleeps.
    EXPECT_LT(cpuMs, 0.02 * spent) << "the waiting caller kept the processor busy";
}

TEST_F(TcpWorker, ReplyFaults) {
    struct Case {
        const char* name;
        Fault fault;
        int32_t response;
    };
    Fault split = MakeFault(FaultKind::Split);
    split.pieces = {7};
    split.delayMs = 50;
    Fault error17 = MakeFault(FaultKind::ErrorReply);
    error17.errorCode = 0x11;
    Fault error5 = MakeFault(FaultKind::ErrorReply);
    error5.errorCode = 5;
    const Case cases[] = {
        {"split, first piece of 7", split, 3},
        {"surplus byte", MakeFault(FaultKind::Surplus), 3},
        {"error reply 0x11", error17, 17},
        {"error reply 5", error5, 5},
        {"wrong checksum accepted", MakeFault(FaultKind::BadChecksum), 0},
        {"wrong header accepted", MakeFault(FaultKind::BadHeader), 0},
        {"six bytes accepted", RawFault({0xF8, 0x55, 0xCE, 0x09, 0x00, 0x20}), 0},
        {"five bytes refused", RawFault({0xF8, 0x55, 0xCE, 0x01, 0x00}), 3},
    };
    ASSERT_EQ(Connect(), 0);
    for (const bool oneCycle : {false, true}) {
        for (const Case& c : cases) {
            scale_.AddFault(c.fault);
            const int32_t result = NameExchange(oneCycle);
            EXPECT_EQ(Response(), c.response) << c.name << (oneCycle ? ", one cycle" : "");
            EXPECT_EQ(result, ResponseToResult(c.response)) << c.name << (oneCycle ? ", one cycle" : "");
            // Let late pieces of a split reply arrive, then drop them with a
            // fresh connection so every case starts clean.
            usleep(120 * 1000);
            cycle_.RunRequest(ModeClose);
            ASSERT_EQ(Connect(), 0) << c.name;
        }
    }
}

// A command's one cycle gives what its send and receive give in a row, and
// without a connection it stops at the send: nothing is received, so the
// frame buffer still holds the request.
TEST_F(TcpWorker, OneCycleExchangeStopsAtAFailedSend) {
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(NameExchange(true), 0);
    EXPECT_EQ(Command().Length, 7 + 1 + 4 + 5 + 2);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
    EXPECT_EQ(scale_.Requests().size(), 1u);

    ASSERT_EQ(cycle_.RunRequest(ModeClose), 0);
    EXPECT_EQ(NameExchange(true), 1);
    EXPECT_EQ(Response(), 1);
    EXPECT_EQ(Command().Length, 8);  // the wrapped request, untouched by a receive
    // The next request of the worker is served alone again.
    EXPECT_EQ(Connect(), 0);
    PutNameQuery(cycle_);
    EXPECT_EQ(cycle_.SendToLan(), 0);
    EXPECT_EQ(Command().Length, 8);
    EXPECT_EQ(cycle_.ReadFromLan(), 0);
}

// The caller's first moments of a wait do not dispatch messages; a message
// posted during a long wait must still run soon, not when the reply comes.
TEST_F(TcpWorker, MessageDuringLongWaitRunsPromptly) {
    ASSERT_EQ(Connect(), 0);
    Fault slow = MakeFault(FaultKind::Delay);
    slow.delayMs = 500;
    scale_.AddFault(slow);
    Clock::time_point posted{}, ran{};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        posted = Clock::now();
        PostCallerMessage([&] { ran = Clock::now(); });
    });
    EXPECT_EQ(NameExchange(true), 0);
    const auto ended = Clock::now();
    poster.join();
    auto ms = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
    ASSERT_NE(ran, Clock::time_point{}) << "the message did not run during the wait";
    EXPECT_LT(ms(ran - posted), 100);
    EXPECT_GT(ms(ended - ran), 200) << "the message was held until the reply";
}

TEST_F(TcpWorker, DroppedConnectionEndsReceiveAndLaterSendFails) {
    ASSERT_EQ(Connect(), 0);
    scale_.AddFault(MakeFault(FaultKind::Drop));
    const auto t0 = Clock::now();
    EXPECT_EQ(NameExchange(), 2);
    EXPECT_EQ(Response(), 3);
    EXPECT_LT(MsSince(t0), 1500);
    EXPECT_EQ(NameExchange(), 1);
}

TEST_F(TcpWorker, OverlongDeliveryIsRefusedAndDiscarded) {
    ASSERT_EQ(Connect(), 0);
    // A consistent-looking frame far larger than the buffer.
    std::vector<uint8_t> big(5000, 0x5A);
    big[0] = 0xF8; big[1] = 0x55; big[2] = 0xCE;
    big[3] = (5000 - 7) & 0xFF; big[4] = (5000 - 7) >> 8;
    scale_.AddFault(RawFault(big));
    EXPECT_EQ(NameExchange(), 2);
    EXPECT_EQ(Response(), 3);
    EXPECT_LE(Command().Length, FrameBufSize);
    usleep(100 * 1000);
    EXPECT_EQ(NameExchange(), 0);  // nothing of the big delivery is taken as the next reply
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
}

TEST_F(TcpWorker, LateReplyIsNotTakenForTheNextOne) {
    ASSERT_EQ(Connect(), 0);
    Fault late = MakeFault(FaultKind::Delay, CMD_GET_WEIGHT);
    late.delayMs = 2200;
    scale_.AddFault(late);
    TScalesThread& t = cycle_.Thread();
    t.Command.Buf[5] = CMD_GET_WEIGHT;
    t.Command.Length = 1;
    ASSERT_EQ(cycle_.SendToLan(), 0);
    EXPECT_EQ(cycle_.ReadFromLan(), 2);
    usleep(400 * 1000);  // the weight reply has arrived by now
    EXPECT_EQ(NameExchange(), 0);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
}

TEST_F(TcpWorker, UnknownTransportAnswersAtOnce) {
    cycle_.EnsureThread().Iface = 5;
    const auto t0 = Clock::now();
    EXPECT_EQ(cycle_.RunRequest(ModeReceive), 0);
    EXPECT_EQ(cycle_.RunRequest(ModeConnect), 0);
    EXPECT_LT(MsSince(t0), 200);
    EXPECT_TRUE(scale_.Requests().empty());
}

TEST_F(TcpWorker, RequestFromMessageHandlerDuringWaitIsRefused) {
    ASSERT_EQ(Connect(), 0);
    Fault slow = MakeFault(FaultKind::Delay);
    slow.delayMs = 300;
    scale_.AddFault(slow);
    PutNameQuery(cycle_);
    ASSERT_EQ(cycle_.SendToLan(), 0);
    int32_t nested = -100, nestedExchange = -100;
    bool busyInside = false;
    PostCallerMessage([&] {
        busyInside = cycle_.Busy();
        nested = cycle_.RunRequest(ModeClose);
        nestedExchange = cycle_.ExchangeLan();
    });
    EXPECT_EQ(cycle_.ReadFromLan(), 0);
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(nested, ResultBusy);
    EXPECT_EQ(nestedExchange, ResultBusy);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
    EXPECT_TRUE(cycle_.Thread().Tcp.Connected());  // the nested close never ran
    EXPECT_FALSE(cycle_.Busy());
}

TEST_F(TcpWorker, ManyExchangesHandOffCleanly) {
    ASSERT_EQ(Connect(), 0);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(NameExchange(), 0) << i;
        ASSERT_EQ(Command().Buf[5], CMD_GET_NAME);
    }
}

// Serial: the worker opens "COM<n>" through the POSIX serial module, which
// finds port n as $PESOLINK_COM_DIR/com<n>, here a link to the simulator's pty.
class SerialWorker : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pesolink-com-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("PESOLINK_COM_DIR", dir_.c_str(), 1);
        server_.OpenPty(dir_ + "/com5");
        server_.SetLineSetting(57600, 0);
        savedHard_ = ComHardTimeout;
        ComHardTimeout = 40;
    }
    void TearDown() override {
        cycle_.StopThread();
        ComClose();
        ComHardTimeout = savedHard_;
        unsetenv("PESOLINK_COM_DIR");
        std::filesystem::remove_all(dir_);
    }

    static int32_t OpenWith(TRequestCycle& cycle, const std::string& text, int32_t mode) {
        TScalesThread& t = cycle.EnsureThread();
        t.Iface = IfaceCom;
        t.Host = text;
        t.ReadTimeout = 400;
        t.Command.Length = 0;
        return cycle.RunRequest(mode);
    }
    int32_t Open(const std::string& text, int32_t mode = ModeOpen57600) { return OpenWith(cycle_, text, mode); }

    int32_t NameExchange(bool oneCycle = false) {
        PutNameQuery(cycle_);
        if (oneCycle) return cycle_.ExchangeCom();
        const int32_t sent = cycle_.SendToCom();
        return sent != 0 ? sent : cycle_.ReadFromCom();
    }

    int32_t Response() { return cycle_.Thread().Response.load(); }
    TCommand& Command() { return cycle_.Thread().Command; }

    std::string dir_;
    int32_t savedHard_ = 500;
    sim::SimScale scale_;
    sim::SimServer server_{scale_};
    TRequestCycle cycle_;
};

TEST_F(SerialWorker, ConnectionTextSelectsPort) {
    struct Case {
        const char* text;
        int32_t result;
        uint16_t port;
    } cases[] = {
        {"COM5", 0, 5},
        {"CXY5", 0, 5},       // the second and third characters are ignored
        {"COM65541", 0, 5},   // the number is kept in 16 bits
        {"COM9", 1, 9},       // no such port
        {"COM-1", 1, 0},
        {"COMX", 1, 0},
        {"COM", 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Open(c.text), c.result) << c.text;
        if (c.port != 0) {
            EXPECT_EQ(ComPortState(c.port).open, c.result == 0) << c.text;
        }
        // A failed open leaves nothing held: the port of the last one is let go.
        if (c.result != 0) {
            EXPECT_FALSE(ComPortState(5).open) << c.text;
        }
    }
}

TEST_F(SerialWorker, OpenSetsParityOfEachStep) {
    const struct {
        int32_t mode;
        uint8_t parity;
    } steps[] = {{ModeOpen4800, 2}, {ModeOpen57600, 0}, {ModeOpen19200, 4}};
    for (const auto& s : steps) {
        ASSERT_EQ(Open("COM5", s.mode), 0);
        EXPECT_EQ(ComPortState(5).parity, s.parity);
    }
}

TEST_F(SerialWorker, AnswersOnlyAtTheScalesLineSetting) {
    ASSERT_EQ(Open("COM5", ModeOpen4800), 0);
    EXPECT_EQ(NameExchange(), 2);
    ASSERT_EQ(Open("COM5", ModeOpen57600), 0);
    EXPECT_EQ(NameExchange(), 0);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
}

TEST_F(SerialWorker, ReplyFaults) {
    struct Case {
        const char* name;
        Fault fault;
        int32_t response;
    };
    Fault threePieces = RawFault({0xF8, 0x55, 0xCE, 0x02, 0x00, 0x20, 0x01, 0x01, 0x20});
    Fault split = MakeFault(FaultKind::Split);
    split.pieces = {3, 3};
    split.delayMs = 20;
    Fault errorSplit = MakeFault(FaultKind::ErrorReply);
    errorSplit.errorCode = 0x11;
    Fault error17 = errorSplit;
    const Case cases[] = {
        {"reply in pieces", split, 0},
        {"nine-byte reply", threePieces, 0},
        {"error reply", error17, 17},
        {"surplus byte", MakeFault(FaultKind::Surplus), 3},
        {"silence", MakeFault(FaultKind::Silence), 3},
        {"short header", RawFault({0xF8, 0x55, 0xCE}), 3},
    };
    ASSERT_EQ(Open("COM5"), 0);
    for (const bool oneCycle : {false, true}) {
        for (const Case& c : cases) {
            scale_.AddFault(c.fault);
            const int32_t result = NameExchange(oneCycle);
            EXPECT_EQ(Response(), c.response) << c.name << (oneCycle ? ", one cycle" : "");
            EXPECT_EQ(result, ResponseToResult(c.response)) << c.name << (oneCycle ? ", one cycle" : "");
            usleep(50 * 1000);
            ASSERT_EQ(Open("COM5"), 0);
        }
    }
}

TEST_F(SerialWorker, SurplusAndSilenceEndAtReadTimeout) {
    ASSERT_EQ(Open("COM5"), 0);
    scale_.AddFault(MakeFault(FaultKind::Surplus));
    const auto t0 = Clock::now();
    EXPECT_EQ(NameExchange(), 2);
    const long spent = MsSince(t0);
    EXPECT_GE(spent, 400);
    EXPECT_LT(spent, 1600);
}

TEST_F(SerialWorker, ClosedPortSendsNothingAndTimesOut) {
    ASSERT_EQ(Open("COM5"), 0);
    EXPECT_EQ(cycle_.RunRequest(ModeClose), 0);
    PutNameQuery(cycle_);
    EXPECT_EQ(cycle_.SendToCom(), 0);
    const auto t0 = Clock::now();
    EXPECT_EQ(cycle_.ReadFromCom(), 2);
    const long spent = MsSince(t0);
    EXPECT_EQ(Response(), 3);
    EXPECT_GE(spent, 400);
    EXPECT_LT(spent, 900);
    EXPECT_TRUE(scale_.Requests().empty());
}

TEST_F(SerialWorker, LateReplyIsNotTakenForTheNextOne) {
    ASSERT_EQ(Open("COM5"), 0);
    Fault late = MakeFault(FaultKind::Delay, CMD_GET_WEIGHT);
    late.delayMs = 1500;
    scale_.AddFault(late);
    TScalesThread& t = cycle_.Thread();
    t.Command.Buf[5] = CMD_GET_WEIGHT;
    t.Command.Length = 1;
    ASSERT_EQ(cycle_.SendToCom(), 0);
    EXPECT_EQ(cycle_.ReadFromCom(), 2);
    usleep(600 * 1000);
    EXPECT_EQ(NameExchange(), 0);
    EXPECT_EQ(Command().Buf[5], CMD_GET_NAME);
}

TEST_F(SerialWorker, StreamLongerThanBufferStopsWithoutOverflow) {
    ASSERT_EQ(Open("COM5"), 0);
    std::vector<uint8_t> big(4000, 0xA5);
    big[0] = 0xF8; big[1] = 0x55; big[2] = 0xCE;
    big[3] = 0xFF; big[4] = 0xFF;  // announces 65535 payload bytes
    scale_.AddFault(RawFault(big));
    EXPECT_EQ(NameExchange(), 2);
    EXPECT_EQ(Response(), 3);
    EXPECT_LE(Command().Length, FrameBufSize);
}

TEST_F(SerialWorker, ReleasingWorkerClosesOnlyThePortItOpened) {
    {
        TRequestCycle own;
        ASSERT_EQ(OpenWith(own, "COM5", ModeOpen57600), 0);
        EXPECT_TRUE(ComPortState(5).open);
    }
    EXPECT_FALSE(ComPortState(5).open);

    ASSERT_EQ(Open("COM5"), 0);
    {
        TRequestCycle other;
        other.EnsureThread();
    }
    EXPECT_TRUE(ComPortState(5).open);
    EXPECT_EQ(NameExchange(), 0);
}

}  // namespace
