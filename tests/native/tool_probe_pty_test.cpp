// The tool's serial probe through the real serial module, against the
// simulated scale on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "link/ComUnit.h"
#include "link/Ticks.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tool/Workflow.h"
#include "tool/fakes/Fakes.h"

namespace pesoconf {
namespace {

using fakes::FakeDriver;
using fakes::FakeHost;
using fakes::FakeView;
using fakes::Narrow;
using pesolink::sim::Fault;
using pesolink::sim::FaultKind;

// Host services on the real clock.
struct ClockHost : FakeHost {
    uint32_t TickCount() override { return pesolink::TickCount(); }
};

struct ProbeOnPty : ::testing::Test {
    std::filesystem::path dir;
    pesolink::sim::SimScale scale;
    std::unique_ptr<pesolink::sim::SimServer> server;
    FakeView view;
    ClockHost host;
    ParamForm form{view, host};
    ComUnitPort serial;
    std::unique_ptr<FakeDriver> made = std::make_unique<FakeDriver>();
    FakeDriver& driver = *made;
    Workflow flow{form, host, serial,
                  [this]() -> std::unique_ptr<DriverClient> { return std::move(made); }};

    void SetUp() override {
        char tmpl[] = "/tmp/pesoconf-probe-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("PESOLINK_COM_DIR", dir.c_str(), 1);
        server = std::make_unique<pesolink::sim::SimServer>(scale);
        server->OpenPty((dir / "com4").string());
        server->SetLineSetting(57600, 0);
        pesolink::ComHardTimeout = 500;  // the tool's fixed inter-byte time-out
    }
    void TearDown() override {
        pesolink::ComClose();
        server.reset();
        unsetenv("PESOLINK_COM_DIR");
        std::filesystem::remove_all(dir);
    }

    // Search (the fake driver answers on COM4), then read and probe.
    uint32_t RunReadTick() {
        flow.Timer1Timer();
        EXPECT_EQ(flow.WorkState, Workflow::Read);
        const uint32_t t0 = pesolink::TickCount();
        flow.Timer1Timer();
        return pesolink::TickCount() - t0;
    }
};

TEST_F(ProbeOnPty, RetriesWithoutParityAndReadsInterfacesAndMacs) {
    driver.Baud = 57600;
    driver.ParityCode = 2;  // the scale answers at no parity
    const uint32_t spent = RunReadTick();
    ASSERT_EQ(flow.WorkState, Workflow::Watch) << Narrow(view.GetText(Ctl::SearchPanel));
    EXPECT_GE(spent, ProbeReplyLimitMs) << "the first exchange at even parity timed out";
    EXPECT_EQ(pesolink::ComParity, 0);
    EXPECT_EQ(pesolink::ComPortNumber, 4);
    EXPECT_EQ(Narrow(view.GetText(Ctl::IfacesEdit)), "RS-232, Ethernet, Wi-fi");
    EXPECT_EQ(Narrow(view.GetText(Ctl::EthMacEdit)), "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(Narrow(view.GetText(Ctl::WifiMacEdit)), "00:1A:2B:3C:4D:5F");
    EXPECT_FALSE(pesolink::ComIsOpen()) << "the probe closes the port";
}

TEST_F(ProbeOnPty, ReplyInPiecesIsAssembled) {
    Fault split{FaultKind::Split};
    split.command = 0x00;
    split.pieces = {6, 10};
    split.delayMs = 100;
    scale.AddFault(split);
    scale.Update([](pesolink::sim::ScaleState& s) { s.interfaces = 0x06; });
    RunReadTick();
    ASSERT_EQ(flow.WorkState, Workflow::Watch);
    EXPECT_EQ(Narrow(view.GetText(Ctl::IfacesEdit)), "USB, Ethernet");
    EXPECT_EQ(Narrow(view.GetText(Ctl::WifiMacEdit)), "");
}

TEST_F(ProbeOnPty, SurplusByteFailsTheProbeAtTheTimeLimit) {
    Fault surplus{FaultKind::Surplus};
    surplus.command = 0x00;
    surplus.count = -1;
    scale.AddFault(surplus);
    const uint32_t spent = RunReadTick();
    EXPECT_EQ(flow.WorkState, Workflow::Search);
    EXPECT_GE(spent, ProbeReplyLimitMs);
    EXPECT_EQ(Narrow(view.GetText(Ctl::SearchPanel)), "Подключите весы...");
}

}  // namespace
}  // namespace pesoconf
