// A reply that comes after its receive gave up, against a program that
// retries at once while the scale already shows a new load: the retry gives
// the new reading or a failure, never the old reading with 0. Over TCP the
// request after such a receive goes on a new connection; over the serial
// port the line is drained before the send. The log shows one line where
// that happened, and nothing changes while replies come in time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
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

using fault_test::Clock;
using fault_test::MsSince;
using fault_test::U16;
using sim::Fault;
using sim::FaultKind;

constexpr int32_t OldWeight = 1000;  // on the scale when the first request comes
constexpr int32_t NewWeight = 2000;  // on the scale once that reply is built

constexpr char Reconnected[] = "--- SendToLan: connection re-established";
constexpr char ReconnectFailed[] = "--- SendToLan: reconnect failed";
constexpr char Drained[] = "--- SendToCom: line drained, Dropped=";

// The weight reply after delayMs, built when the request came.
Fault LateReply(int delayMs) {
    Fault f{FaultKind::Delay};
    f.command = CMD_GET_WEIGHT;
    f.delayMs = delayMs;
    f.weightAfter = NewWeight;
    return f;
}

// The first 7 bytes of the weight reply at once, the other 9 after delayMs.
Fault LateTail(int delayMs) {
    Fault f{FaultKind::Split};
    f.command = CMD_GET_WEIGHT;
    f.pieces = {7};
    f.delayMs = delayMs;
    f.weightAfter = NewWeight;
    return f;
}

Fault NoReply() {
    Fault f{FaultKind::Silence};
    f.command = CMD_GET_WEIGHT;
    f.weightAfter = NewWeight;
    return f;
}

struct Call {
    int32_t result;
    int32_t weight;
    long ms;
};

Call Read(TScales& s) {
    const auto t0 = Clock::now();
    const int32_t r = s.ReadWeight();
    return {r, s.get_Weight(), MsSince(t0)};
}

// The one outcome that must never happen: the previous reading passed off as
// the answer to this request.
void ExpectNotStale(const Call& c, const char* which) {
    EXPECT_FALSE(c.result == 0 && c.weight == OldWeight) << which << ": the old reading came back with 0";
    if (c.result == 0) {
        EXPECT_EQ(c.weight, NewWeight) << which;
    }
}

int Count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

class LateReplyFixture : public fault_test::DriverModuleFixture {
protected:
    LateReplyFixture(int32_t soft, int32_t hard) : DriverModuleFixture(soft, hard) {}

    void TearDown() override {
        server_.Stop();
        DriverModuleFixture::TearDown();
    }

    std::string LogText() const {
        std::ifstream in(dir_ + "/Ostrel/Pesolink/Log.txt", std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

    sim::SimScale scale_;
    sim::SimServer server_{scale_};
};

// ---------------------------------------------------------------------------
// TCP

class LateReplyScalesTcp : public LateReplyFixture {
protected:
    LateReplyScalesTcp() : LateReplyFixture(300, 20) {}

    void SetUp() override {
        LateReplyFixture::SetUp();
        if (HasFatalFailure()) return;
        connection_ = U16("127.0.0.1:" + std::to_string(server_.ListenTcp(0)));
    }

    std::u16string connection_;
};

TEST_F(LateReplyScalesTcp, RetryAfterLateReplyGetsTheNewReadingOrAFailure) {
    struct Case {
        const char* name;
        bool single;         // the scale accepts one connection at a time
        Fault fault;
        long firstMin, firstMax;
        int32_t retry;       // the retry, sent at once
        long retryMax;
        int reconnects;      // log lines of a new connection over the three calls
    };
    const Case cases[] = {
        // The scale answers the new connection at once.
        {"late reply", false, LateReply(2600), 2000, 2400, 0, 400, 1},
        // The scale takes the new connection once it has sent the late reply
        // into the old one, 0.6 s later.
        {"late reply, one connection at a time", true, LateReply(2600), 2000, 2400, 0, 1400, 1},
        {"late tail", false, LateTail(2600), 0, 400, 0, 400, 1},
        // The scale is still busy with the tail for longer than the retry
        // waits: a failure, and the third call gets the new reading.
        {"late tail, one connection at a time", true, LateTail(2600), 0, 400, 2, 2400, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.SetSingleConnection(c.single);
        scale_.ClearFaults();
        scale_.Update([](sim::ScaleState& st) { st.weight = OldWeight; });
        TScales s;
        s.put_Connection(connection_);
        ASSERT_EQ(s.OpenConnection(), 0);
        const int linesBefore = Count(LogText(), Reconnected);
        scale_.AddFault(c.fault);

        const Call first = Read(s);
        const Call retry = Read(s);
        const Call third = Read(s);

        EXPECT_EQ(first.result, 2);
        EXPECT_GE(first.ms, c.firstMin);
        EXPECT_LE(first.ms, c.firstMax);
        ExpectNotStale(retry, "retry");
        EXPECT_EQ(retry.result, c.retry);
        EXPECT_LE(retry.ms, c.retryMax);
        ExpectNotStale(third, "third call");
        EXPECT_EQ(third.result, 0);
        EXPECT_LE(third.ms, 1400);
        EXPECT_EQ(Count(LogText(), Reconnected) - linesBefore, c.reconnects);

        EXPECT_EQ(s.CloseConnection(), 0);
        // Let the scale finish with the old connections before the next case.
        const auto t0 = Clock::now();
        while (server_.TcpClientCount() != 0 && MsSince(t0) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(server_.TcpClientCount(), 0u);
    }
}

TEST_F(LateReplyScalesTcp, ReconnectLineSitsInsideTheCommandsLines) {
    TScales s;
    s.put_Connection(connection_);
    ASSERT_EQ(s.OpenConnection(), 0);
    scale_.AddFault(LateTail(300));
    EXPECT_EQ(s.ReadWeight(), 2);
    EXPECT_EQ(s.ReadWeight(), 0);
    const std::string log = LogText();
    const std::string entry = "- ReadWeight: " + std::string(connection_.begin(), connection_.end());
    const std::size_t second = log.find(entry, log.find(entry) + 1);
    const std::size_t line = log.find(Reconnected);
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(line, std::string::npos);
    EXPECT_LT(second, line);
    EXPECT_LT(line, log.find(" with Result=0", second));
    EXPECT_EQ(Count(log, Reconnected), 1);
}

// A peer that closes during the receive: 2 at once, then 1 at once, with no
// new connection tried; a new OpenConnection takes it up again.
TEST_F(LateReplyScalesTcp, PeerCloseDuringReceiveGivesTwoThenOne) {
    TScales s;
    s.put_Connection(connection_);
    ASSERT_EQ(s.OpenConnection(), 0);
    Fault drop{FaultKind::Drop};
    drop.command = CMD_GET_WEIGHT;
    scale_.AddFault(drop);
    const Call first = Read(s);
    EXPECT_EQ(first.result, 2);
    EXPECT_LT(first.ms, 400);
    scale_.ClearRequests();
    const Call next = Read(s);
    EXPECT_EQ(next.result, 1);
    EXPECT_LT(next.ms, 400);
    EXPECT_TRUE(scale_.Requests().empty());
    EXPECT_EQ(Count(LogText(), "--- SendToLan"), 0);
    EXPECT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(s.ReadWeight(), 0);
}

// Replies that come whole and in time, error replies and refusals included,
// keep the connection, and the log has no line about it.
TEST_F(LateReplyScalesTcp, InTimeRepliesKeepTheConnection) {
    TScales s;
    s.put_Connection(connection_);
    ASSERT_EQ(s.OpenConnection(), 0);
    Fault error{FaultKind::ErrorReply};
    error.errorCode = 0x11;
    const Fault faults[] = {error, Fault{FaultKind::Refuse}, Fault{FaultKind::BadChecksum}};
    for (const Fault& f : faults) {
        scale_.AddFault(f);
        s.ReadWeight();
        EXPECT_EQ(s.ReadWeight(), 0);
    }
    EXPECT_EQ(server_.TcpClientCount(), 1u);
    EXPECT_EQ(Count(LogText(), "--- SendToLan"), 0);
}

// A hand-made scale: answers the name query, sends half of the weight reply,
// then stops listening while the connection stays open.
TEST_F(LateReplyScalesTcp, FailedReconnectIsALinkFailure) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const uint16_t port = ntohs(a.sin_port);

    int conn = -1;
    std::thread scale([&] {
        conn = accept(listener, nullptr, nullptr);
        if (conn < 0) return;
        uint8_t buf[64];
        pollfd p{conn, POLLIN, 0};
        auto request = [&] { return poll(&p, 1, 5000) > 0 && recv(conn, buf, sizeof buf, 0) > 0; };
        if (!request()) return;
        const std::vector<uint8_t> name = sim::MakeFrame({CMD_GET_NAME, 0x39, 0x30, 0, 0, 'S', 0x0D, 0x0A});
        send(conn, name.data(), name.size(), MSG_NOSIGNAL);
        if (!request()) return;
        const std::vector<uint8_t> half = {0xF8, 0x55, 0xCE, 0x09, 0x00, 0x23, 0xE8};
        close(listener);
        send(conn, half.data(), half.size(), MSG_NOSIGNAL);
    });

    TScales s;
    s.put_Connection(U16("127.0.0.1:" + std::to_string(port)));
    EXPECT_EQ(s.OpenConnection(), 0);
    EXPECT_EQ(s.ReadWeight(), 2);
    scale.join();
    const Call retry = Read(s);
    EXPECT_EQ(retry.result, 1);
    EXPECT_LT(retry.ms, 400);
    const Call later = Read(s);
    EXPECT_EQ(later.result, 1);
    EXPECT_LT(later.ms, 400);
    const std::string log = LogText();
    EXPECT_EQ(Count(log, ReconnectFailed), 1);
    EXPECT_EQ(Count(log, Reconnected), 0);
    if (conn >= 0) close(conn);
}

// ---------------------------------------------------------------------------
// Serial port

constexpr int32_t SoftTimeout = 300;
constexpr int32_t HardTimeout = 20;

class LateReplyScalesSerial : public LateReplyFixture {
protected:
    LateReplyScalesSerial() : LateReplyFixture(SoftTimeout, HardTimeout) {}

    void SetUp() override {
        LateReplyFixture::SetUp();
        if (HasFatalFailure()) return;
        server_.OpenPty(ComLink(6));
        server_.SetLineSetting(0, 0);
    }
};

TEST_F(LateReplyScalesSerial, RetryAfterLateReplyGetsTheNewReadingOrAFailure) {
    // With no byte a receive lasts one whole read call (1000 ms) before its
    // deadline test; 1300 ms brings the reply after that.
    struct Case {
        const char* name;
        Fault fault;
        long retryMin, retryMax;  // the drain lasts until the line is quiet
        int dropped;              // bytes the drain read and dropped
    };
    const Case cases[] = {
        {"late reply", LateReply(1300), 250, 900, 16},
        {"late tail", LateTail(1300), 250, 900, 9},
        // Nothing comes: the drain ends after one silent read call.
        {"no reply at all", NoReply(), ComReadTotalTimeout - 50, ComReadTotalTimeout + 500, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scale_.ClearFaults();
        scale_.Update([](sim::ScaleState& st) { st.weight = OldWeight; });
        TScales s;
        s.put_Connection(u"COM6");
        ASSERT_EQ(s.OpenConnection(), 0);
        const std::string before = LogText();
        scale_.AddFault(c.fault);

        const Call first = Read(s);
        const Call retry = Read(s);
        const Call third = Read(s);

        EXPECT_EQ(first.result, 2);
        EXPECT_GE(first.ms, ComReadTotalTimeout - 50);
        EXPECT_LE(first.ms, SoftTimeout + ComReadTotalTimeout + 300);
        ExpectNotStale(retry, "retry");
        EXPECT_EQ(retry.result, 0);
        EXPECT_GE(retry.ms, c.retryMin);
        EXPECT_LE(retry.ms, c.retryMax);
        EXPECT_EQ(third.result, 0);
        EXPECT_EQ(third.weight, NewWeight);
        EXPECT_LE(third.ms, HardTimeout + 400);
        const std::string log = LogText().substr(before.size());
        EXPECT_EQ(Count(log, Drained), 1);
        EXPECT_EQ(Count(log, Drained + std::to_string(c.dropped) + "\r\n"), 1);
        EXPECT_EQ(s.CloseConnection(), 0);
    }
}

// A reply that comes whole but after the deadline leaves nothing behind: no
// drain. Nor do replies that come in time.
TEST_F(LateReplyScalesSerial, WholeRepliesNeedNoDrain) {
    TScales s;
    s.put_Connection(u"COM6");
    ASSERT_EQ(s.OpenConnection(), 0);
    Fault error{FaultKind::ErrorReply};
    error.errorCode = 0x11;
    Fault lateInsideRead = LateReply(SoftTimeout + 200);  // read in the receive's first read call
    const Fault faults[] = {error, Fault{FaultKind::Refuse}, lateInsideRead};
    for (const Fault& f : faults) {
        scale_.AddFault(f);
        s.ReadWeight();
        const Call next = Read(s);
        EXPECT_EQ(next.result, 0);
        EXPECT_LE(next.ms, HardTimeout + 400);
    }
    EXPECT_EQ(Count(LogText(), "--- SendToCom"), 0);
}

// What the drain costs a retry at the default time-outs (ComSoftTimeout
// 2000 ms, ComHardTimeout 500 ms), measured and printed.
class LateReplyDrainCost : public LateReplyFixture {
protected:
    LateReplyDrainCost() : LateReplyFixture(2000, 500) {}

    void SetUp() override {
        LateReplyFixture::SetUp();
        if (HasFatalFailure()) return;
        server_.OpenPty(ComLink(7));
        server_.SetLineSetting(0, 0);
    }
};

TEST_F(LateReplyDrainCost, AtDefaultTimeouts) {
    TScales s;
    s.put_Connection(u"COM7");
    ASSERT_EQ(s.OpenConnection(), 0);
    const Call ordinary = Read(s);
    ASSERT_EQ(ordinary.result, 0);

    scale_.AddFault(NoReply());
    const Call silentFirst = Read(s);
    const Call silentRetry = Read(s);
    EXPECT_EQ(silentFirst.result, 2);
    EXPECT_EQ(silentRetry.result, 0);

    scale_.Update([](sim::ScaleState& st) { st.weight = OldWeight; });
    scale_.AddFault(LateReply(2600));  // the case of a scale slower than the deadline
    const Call lateFirst = Read(s);
    const Call lateRetry = Read(s);
    EXPECT_EQ(lateFirst.result, 2);
    ExpectNotStale(lateRetry, "retry");

    std::printf("serial drain at ComSoftTimeout 2000, ComHardTimeout 500: ordinary exchange %ld ms; "
                "no reply: %ld ms, retry %ld ms (+%ld); late reply at 2600 ms: %ld ms, retry %ld ms "
                "(result %d, +%ld)\n",
                ordinary.ms, silentFirst.ms, silentRetry.ms, silentRetry.ms - ordinary.ms, lateFirst.ms,
                lateRetry.ms, lateRetry.result, lateRetry.ms - ordinary.ms);
    // A silent line: one read call of 1000 ms on top of the exchange.
    EXPECT_GE(silentRetry.ms - ordinary.ms, ComReadTotalTimeout - 100);
    EXPECT_LE(silentRetry.ms - ordinary.ms, ComReadTotalTimeout + 400);
}

}  // namespace
}  // namespace pesolink
