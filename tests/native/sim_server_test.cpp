// The simulated scale's transports: TCP on the loopback address and a raw
// pseudo-terminal that answers only at its configured line setting.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimScale.h"
#include "sim/SimServer.h"

using namespace pesolink::sim;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

int Ms(Clock::time_point since) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Reads until `want` bytes came, the peer closed, or `timeoutMs` passed.
// `closed` reports an end of stream.
Bytes ReadFor(int fd, size_t want, int timeoutMs, bool* closed = nullptr) {
    Bytes out;
    const auto start = Clock::now();
    if (closed) *closed = false;
    while (out.size() < want) {
        const int left = timeoutMs - Ms(start);
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        uint8_t buf[2048];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (closed && n == 0) *closed = true;
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
            continue;
        }
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

int ConnectLoopback(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void Send(int fd, const Bytes& b) { ASSERT_EQ(write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

const Bytes NameReply = MakeFrame({0x20, 0x39, 0x30, 0x00, 0x00, 'S', 'c', 'a', 'l', 'e', 0x0D, 0x0A});

class SimServerTcp : public ::testing::Test {
protected:
    void SetUp() override {
        port = server.ListenTcp(0);
        ASSERT_NE(port, 0);
        fd = ConnectLoopback(port);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) close(fd);
    }
    SimScale scale;
    SimServer server{scale};
    uint16_t port = 0;
    int fd = -1;
};

}  // namespace

TEST_F(SimServerTcp, AnswersEachRequestInOneDelivery) {
    for (int i = 0; i < 3; ++i) {
        Send(fd, MakeFrame({0x20}));
        // One read gets the whole reply: the driver takes its first delivery as the reply.
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        uint8_t buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        EXPECT_EQ(Bytes(buf, buf + std::max<ssize_t>(n, 0)), NameReply);
    }
    EXPECT_EQ(scale.Requests().size(), 3u);
}

TEST_F(SimServerTcp, RequestInPiecesAndTwoClientsApart) {
    const Bytes req = MakeFrame({0xA3, 0x10, 0x27, 0x00, 0x00});
    const int other = ConnectLoopback(port);
    ASSERT_GE(other, 0);
    // Half a frame on each connection: they must not mix.
    Send(fd, Bytes(req.begin(), req.begin() + 4));
    Send(other, Bytes(req.begin(), req.begin() + 6));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Send(fd, Bytes(req.begin() + 4, req.end()));
    Send(other, Bytes(req.begin() + 6, req.end()));
    EXPECT_EQ(ReadFor(fd, 8, 2000), MakeFrame({0xA3}));
    EXPECT_EQ(ReadFor(other, 8, 2000), MakeFrame({0xA3}));
    EXPECT_EQ(scale.State().tare, 10000);
    close(other);
}

TEST_F(SimServerTcp, DropFaultClosesInsteadOfAnswering) {
    scale.AddFault(Fault{FaultKind::Drop});
    Send(fd, MakeFrame({0x23}));
    bool closed = false;
    EXPECT_TRUE(ReadFor(fd, 1, 2000, &closed).empty());
    EXPECT_TRUE(closed);
    // The listener still serves new connections.
    const int again = ConnectLoopback(port);
    ASSERT_GE(again, 0);
    Send(again, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(again, NameReply.size(), 2000), NameReply);
    close(again);
}

TEST_F(SimServerTcp, DropTcpClientsClosesEveryConnection) {
    const int other = ConnectLoopback(port);
    ASSERT_GE(other, 0);
    Send(fd, MakeFrame({0x20}));
    ASSERT_EQ(ReadFor(fd, NameReply.size(), 2000), NameReply);
    // The second connection is accepted by now too once it has been answered.
    Send(other, MakeFrame({0x20}));
    ASSERT_EQ(ReadFor(other, NameReply.size(), 2000), NameReply);
    EXPECT_EQ(server.TcpClientCount(), 2u);
    server.DropTcpClients();
    for (int c : {fd, other}) {
        bool closed = false;
        ReadFor(c, 1, 2000, &closed);
        EXPECT_TRUE(closed);
    }
    close(other);
    const auto start = Clock::now();
    while (server.TcpClientCount() != 0 && Ms(start) < 2000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(server.TcpClientCount(), 0u);
}

// With a single client slot a second connection waits in the backlog and
// is served once the first one has ended.
TEST_F(SimServerTcp, SingleConnectionServesTheNextClientAfterTheFirstEnds) {
    server.SetSingleConnection(true);
    Send(fd, MakeFrame({0x20}));
    ASSERT_EQ(ReadFor(fd, NameReply.size(), 2000), NameReply);
    const int other = ConnectLoopback(port);
    ASSERT_GE(other, 0);
    Send(other, MakeFrame({0x20}));
    EXPECT_TRUE(ReadFor(other, 1, 300).empty());
    close(fd);
    fd = -1;
    const auto start = Clock::now();
    EXPECT_EQ(ReadFor(other, NameReply.size(), 2000), NameReply);
    EXPECT_LT(Ms(start), 500);
    close(other);
}

TEST_F(SimServerTcp, DelayAndSplitArePacedOnTheWire) {
    Fault d{FaultKind::Delay};
    d.delayMs = 300;
    scale.AddFault(d);
    auto start = Clock::now();
    Send(fd, MakeFrame({0x20}));
    EXPECT_TRUE(ReadFor(fd, 1, 150).empty());
    EXPECT_EQ(ReadFor(fd, NameReply.size(), 2000), NameReply);
    EXPECT_GE(Ms(start), 290);

    Fault s{FaultKind::Split};
    s.pieces = {6, 10};
    s.delayMs = 150;
    scale.AddFault(s);
    Send(fd, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(fd, 6, 1000).size(), 6u);
    EXPECT_TRUE(ReadFor(fd, 1, 60).empty());  // the gap
    const Bytes rest = ReadFor(fd, 13, 2000);
    EXPECT_EQ(rest, Bytes(NameReply.begin() + 6, NameReply.end()));
}

TEST_F(SimServerTcp, StopInterruptsAPendingDelay) {
    Fault d{FaultKind::Delay};
    d.delayMs = 20000;
    scale.AddFault(d);
    Send(fd, MakeFrame({0x20}));
    ReadFor(fd, 1, 100);
    const auto start = Clock::now();
    server.Stop();
    EXPECT_LT(Ms(start), 2000);
    bool closed = false;
    ReadFor(fd, 1, 1000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_LT(ConnectLoopback(port), 0);  // nothing listens any more
}

TEST(SimServerTcpPort, ListensOnTheRequestedPort) {
    SimScale scale;
    uint16_t port;
    {
        SimServer first(scale);
        port = first.ListenTcp(0);
    }
    SimServer server(scale);
    // The port just released is free again (address reuse).
    EXPECT_EQ(server.ListenTcp(port), port);
    const int fd = ConnectLoopback(port);
    ASSERT_GE(fd, 0);
    Send(fd, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(fd, NameReply.size(), 2000), NameReply);
    close(fd);
    SimServer busy(scale);
    EXPECT_THROW(busy.ListenTcp(port), std::system_error);
}

// ---- pseudo-terminal ----

TEST(SimServerLine, ParityFromTheFlags) {
    struct Case {
        unsigned iflag, cflag;
        int parity;
    };
    const Case cases[] = {
        {0, 0, 0},
        {INPCK, 0, 2},
        {INPCK, PARODD, 1},
        {INPCK, CMSPAR, 4},
        {INPCK, PARODD | CMSPAR, 3},
        {0, PARENB, 2},
        {0, PARENB | PARODD, 1},
        {0, PARENB | CMSPAR, 4},
        {0, PARENB | PARODD | CMSPAR, 3},
        {INPCK, PARENB, 2},
        {0, PARODD | CMSPAR, 0},  // without parity on, the sense bits mean nothing
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParityFromFlags(c.iflag, c.cflag), c.parity) << std::hex << c.iflag << " " << c.cflag;
    EXPECT_EQ(BaudFromSpeed(B4800), 4800u);
    EXPECT_EQ(BaudFromSpeed(B19200), 19200u);
    EXPECT_EQ(BaudFromSpeed(B57600), 57600u);
}

namespace {

enum class ParityBy { Inpck, Parenb };

// Opens the slave as a serial client would and sets its line.
int OpenLine(const std::string& path, speed_t speed, int parity, ParityBy by) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    if (parity != 0) {
        if (by == ParityBy::Inpck) t.c_iflag |= INPCK;
        else t.c_cflag |= PARENB;
        if (parity == 1 || parity == 3) t.c_cflag |= PARODD;
        if (parity == 3 || parity == 4) t.c_cflag |= CMSPAR;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

std::string TempLink() {
    char dir[] = "/tmp/sim_pty_XXXXXX";
    const char* d = mkdtemp(dir);
    return d ? std::string(d) + "/com5" : std::string();
}

// Whether a pseudo-terminal keeps PARENB set on its slave (Linux drops it).
bool PtyKeepsParenb(const std::string& path) {
    const int fd = OpenLine(path, B4800, 2, ParityBy::Parenb);
    termios t{};
    tcgetattr(fd, &t);
    close(fd);
    return t.c_cflag & PARENB;
}

}  // namespace

TEST(SimServerPty, RawTerminalBehindALink) {
    SimScale scale;
    SimServer server(scale);
    const std::string link = TempLink();
    const std::string path = server.OpenPty(link);
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);

    const int fd = OpenLine(link, B4800, 2, ParityBy::Inpck);
    ASSERT_GE(fd, 0);
    // 0x11 and 0x13 are flow-control bytes on a cooked line; they must pass both ways.
    const Bytes req = MakeFrame({0xA3, 0x11, 0x13, 0x00, 0x00});
    Send(fd, req);
    EXPECT_EQ(ReadFor(fd, 8, 2000), MakeFrame({0xA3}));
    EXPECT_EQ(scale.State().tare, 0x1311);
    scale.Update([](ScaleState& s) { s.weight = 0x13111311; });
    Send(fd, MakeFrame({0x23}));
    EXPECT_EQ(ReadFor(fd, 16, 2000), MakeFrame({0x23, 0x11, 0x13, 0x11, 0x13, 2, 1, 0, 0}));
    close(fd);

    // The client closing its side does not end the terminal: a new open is answered.
    const int again = OpenLine(link, B4800, 2, ParityBy::Inpck);
    Send(again, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(again, NameReply.size(), 2000), NameReply);
    close(again);

    // A second terminal on the same link re-points it; Stop removes it.
    const std::string second = server.OpenPty(link);
    EXPECT_NE(second, path);
    std::fill(std::begin(target), std::end(target), 0);
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(second, target);
    server.Stop();
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    rmdir(link.substr(0, link.rfind('/')).c_str());
}

// The line gate: each configured setting, probed from the slave side.
TEST(SimServerPty, AnswersOnlyAtTheConfiguredLine) {
    struct Probe {
        speed_t speed;
        int parity;
    };
    const Probe probes[] = {{B4800, 2}, {B57600, 0}, {B19200, 4}, {B9600, 1}, {B4800, 3}};
    struct Config {
        uint32_t baud;
        int parity;
    };
    for (const Config cfg : {Config{4800, 2}, Config{57600, 0}, Config{19200, 4}, Config{0, 0}}) {
        SimScale scale;
        SimServer server(scale);
        server.SetLineSetting(cfg.baud, cfg.parity);
        const std::string path = server.OpenPty();
        for (const Probe& p : probes) {
            const uint32_t baud = BaudFromSpeed(p.speed);
            const bool expected = cfg.baud == 0 || (baud == cfg.baud && p.parity == cfg.parity);
            SCOPED_TRACE("configured " + std::to_string(cfg.baud) + "/" + std::to_string(cfg.parity) +
                         ", client " + std::to_string(baud) + "/" + std::to_string(p.parity));
            const int fd = OpenLine(path, p.speed, p.parity, ParityBy::Inpck);
            ASSERT_GE(fd, 0);
            const size_t ignoredBefore = server.IgnoredBytes();
            Send(fd, MakeFrame({0x20}));
            const Bytes got = ReadFor(fd, NameReply.size(), expected ? 2000 : 250);
            EXPECT_EQ(got, expected ? NameReply : Bytes{});
            if (!expected) {
                // Consumed, not left in the line for a later setting to answer.
                const auto start = Clock::now();
                while (server.IgnoredBytes() == ignoredBefore && Ms(start) < 1000)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                EXPECT_EQ(server.IgnoredBytes(), ignoredBefore + 8);
            }
            close(fd);
        }
    }
}

TEST(SimServerPty, RequestsAtAWrongLineChangeNothing) {
    SimScale scale;
    SimServer server(scale);
    const std::string path = server.OpenPty();
    int fd = OpenLine(path, B57600, 0, ParityBy::Inpck);
    Send(fd, MakeFrame({0xA3, 0x05, 0x00, 0x00, 0x00}));
    // Half a frame at the wrong setting, the rest after switching: noise, no request.
    const Bytes name = MakeFrame({0x20});
    Send(fd, Bytes(name.begin(), name.begin() + 4));
    EXPECT_TRUE(ReadFor(fd, 1, 200).empty());
    close(fd);
    fd = OpenLine(path, B4800, 2, ParityBy::Inpck);
    Send(fd, Bytes(name.begin() + 4, name.end()));
    EXPECT_TRUE(ReadFor(fd, 1, 200).empty());
    Send(fd, MakeFrame({0xA1}));
    EXPECT_EQ(ReadFor(fd, 12, 2000), MakeFrame({0xA1, 0, 0, 0, 0}));
    EXPECT_EQ(scale.State().tare, 0);
    EXPECT_EQ(scale.Requests(), std::vector<Bytes>{MakeFrame({0xA1})});
    close(fd);
}

// A native client that marks parity with PARENB alone: the gate takes PARENB
// as parity on wherever the terminal keeps it; Linux ptys drop it, and the
// line then reads as no parity, exactly as such a client's line would be.
TEST(SimServerPty, ParityMarkedByParenb) {
    SimScale scale;
    SimServer server(scale);
    const std::string path = server.OpenPty();
    const bool kept = PtyKeepsParenb(path);
    struct Case {
        uint32_t baud;
        int parity;
        bool answers;
    };
    const Case cases[] = {{4800, 2, kept}, {4800, 0, !kept}};
    for (const auto& c : cases) {
        server.SetLineSetting(c.baud, c.parity);
        const int fd = OpenLine(path, B4800, 2, ParityBy::Parenb);
        Send(fd, MakeFrame({0x20}));
        EXPECT_EQ(ReadFor(fd, NameReply.size(), c.answers ? 2000 : 250), c.answers ? NameReply : Bytes{})
            << c.parity;
        close(fd);
    }
}

TEST(SimServerPty, FaultsPaceTheSerialReply) {
    SimScale scale;
    SimServer server(scale);
    const std::string path = server.OpenPty();
    const int fd = OpenLine(path, B4800, 2, ParityBy::Inpck);
    Fault s{FaultKind::Split};
    s.pieces = {6, 10};
    s.delayMs = 150;
    scale.AddFault(s);
    Send(fd, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(fd, 6, 1000).size(), 6u);
    EXPECT_TRUE(ReadFor(fd, 1, 60).empty());
    EXPECT_EQ(ReadFor(fd, 13, 2000).size(), 13u);

    Fault sur{FaultKind::Surplus};
    sur.surplus = 2;
    scale.AddFault(sur);
    scale.AddFault(Fault{FaultKind::Drop});
    Send(fd, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(fd, NameReply.size() + 2, 2000).size(), NameReply.size() + 2);
    Send(fd, MakeFrame({0x20}));
    EXPECT_TRUE(ReadFor(fd, 1, 200).empty());  // a terminal cannot hang up: nothing comes
    Send(fd, MakeFrame({0x20}));
    EXPECT_EQ(ReadFor(fd, NameReply.size(), 2000), NameReply);
    close(fd);
}

// With line pacing the pseudo-terminal takes each byte's line time: at 4800
// baud even parity (11 bits) a name query of 8 bytes and its reply are due
// no sooner than (8 + reply) * 2.29 ms, at 57600 baud far sooner; without
// pacing the reply is there at once.
TEST(SimServerPty, LinePacingTakesEachBytesLineTime) {
    SimScale scale;
    SimServer server(scale);
    const std::string path = server.OpenPty();
    server.SetLineSetting(0, 0);  // answer at any line setting
    const auto timed = [&](speed_t speed, int parity) {
        const int fd = OpenLine(path, speed, parity, ParityBy::Inpck);
        const auto start = std::chrono::steady_clock::now();
        Send(fd, MakeFrame({0x20}));
        const Bytes got = ReadFor(fd, NameReply.size(), 3000);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        close(fd);
        EXPECT_EQ(got, NameReply);
        return ms.count();
    };
    const long lineMs = static_cast<long>((8 + NameReply.size()) * 11 * 1000 / 4800);
    EXPECT_LT(timed(B4800, 2), 30);
    server.SetLinePacing(true);
    const long slow = timed(B4800, 2);
    EXPECT_GE(slow, lineMs);
    EXPECT_LT(slow, lineMs + 200);
    EXPECT_LT(timed(B57600, 0), lineMs / 4);
}

