// The exchange worker after a link went bad in mid-exchange, found by the
// fault matrix: a TCP peer that closed the connection after half a reply,
// and a serial line that keeps delivering more than any frame holds.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link/ComUnit.h"
#include "link/RequestCycle.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tests/native/fault_support.h"

namespace pesolink {
namespace {

using fault_test::Clock;
using fault_test::MsSince;
using sim::Fault;
using sim::FaultKind;

int32_t NameExchange(TRequestCycle& cycle) {
    TScalesThread& t = cycle.Thread();
    t.Command.Buf[5] = CMD_GET_NAME;
    t.Command.Length = 1;
    const int32_t sent = cycle.SendToLan();
    return sent != 0 ? sent : cycle.ReadFromLan();
}

class LinkAfterFault : public fault_test::DriverModuleFixture {
protected:
    LinkAfterFault() : DriverModuleFixture(300, 20) {}
};

TEST_F(LinkAfterFault, PeerClosingAfterHalfAReplyShowsAsLinkFailureAtTheNextSend) {
    sim::SimScale scale;
    sim::SimServer server{scale};
    const uint16_t port = server.ListenTcp(0);
    TRequestCycle cycle;
    TScalesThread& t = cycle.EnsureThread();
    t.Iface = IfaceLan;
    t.Host = "127.0.0.1";
    t.Port = port;
    t.ReadTimeout = 2000;
    t.Command.Length = 0;
    ASSERT_EQ(cycle.RunRequest(ModeConnect), 0);

    // Half the name reply, then the scale goes away.
    Fault half{};
    half.kind = FaultKind::Raw;
    half.command = CMD_GET_NAME;
    half.raw = {0xF8, 0x55, 0xCE, 0x0C, 0x00, 0x20, 0x39, 0x30};
    scale.AddFault(half);
    EXPECT_EQ(NameExchange(cycle), 2);
    server.DropTcpClients();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // The close is seen before anything is written: a link failure at once,
    // and nothing reaches the scale.
    scale.ClearRequests();
    const auto t0 = Clock::now();
    EXPECT_EQ(NameExchange(cycle), 1);
    EXPECT_LT(MsSince(t0), 500);
    EXPECT_FALSE(t.Tcp.Connected());
    EXPECT_TRUE(scale.Requests().empty());

    // A new connect takes it up again.
    ASSERT_EQ(cycle.RunRequest(ModeConnect), 0);
    EXPECT_EQ(NameExchange(cycle), 0);
    server.Stop();
}

TEST_F(LinkAfterFault, SerialStreamLongerThanAFrameIsDrainedWithinTheDeadline) {
    sim::SimScale scale;
    sim::SimServer server{scale};
    server.OpenPty(ComLink(9));
    server.SetLineSetting(0, 0);
    TRequestCycle cycle;
    TScalesThread& t = cycle.EnsureThread();
    t.Iface = IfaceCom;
    t.Host = "COM9";
    t.ReadTimeout = 300;
    t.Command.Length = 0;
    ASSERT_EQ(cycle.RunRequest(ModeOpen57600), 0);

    for (const std::size_t size : {std::size_t{4000}, std::size_t{64 * 1024}}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> noise(size, 0xA5);
        noise[3] = noise[4] = 0xFF;  // announces the largest payload
        Fault f{};
        f.kind = FaultKind::Raw;
        f.command = CMD_GET_NAME;
        f.raw = noise;
        scale.AddFault(f);
        const auto t0 = Clock::now();
        EXPECT_EQ(NameExchange(cycle), 2);
        // The deadline, tested after each read call of up to 1000 ms.
        EXPECT_LE(MsSince(t0), 300 + ComReadTotalTimeout + 300);
        EXPECT_LE(t.Command.Length, FrameBufSize);
        // Nothing of it is left for the next exchange, which follows at once.
        EXPECT_EQ(NameExchange(cycle), 0);
        EXPECT_EQ(t.Command.Length, 19);
        EXPECT_EQ(t.Command.Buf[5], CMD_GET_NAME);
    }
    cycle.RunRequest(ModeClose);
    server.Stop();
}

}  // namespace
}  // namespace pesolink
