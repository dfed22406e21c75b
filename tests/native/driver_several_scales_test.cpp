// Several driver objects in one program against two simulated scales on two
// pseudo-terminals (COM25 reports 1000, COM26 reports 2000): each object
// reads its own scale, objects on two ports exchange at the same time, and
// objects on one port share it and take turns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/Scales.h"
#include "driver/Settings.h"
#include "link/RequestCycle.h"
#include "link/ComUnit.h"
#include "link/posix/CallerMessages.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#include "tests/native/driver_folder_support.h"

namespace pesolink {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t0) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// Descriptors of this process open on the device (the simulator keeps one).
int DeviceOpeners(const std::string& device) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code rec;
        if (std::filesystem::read_symlink(e.path(), rec) == device) ++n;
    }
    return n;
}

struct SimulatedScale {
    SimulatedScale(const std::string& link, int32_t weight) {
        scale.Update([weight](sim::ScaleState& s) { s.weight = weight; });
        device = server.OpenPty(link);
        server.SetLineSetting(4800, 2);
    }
    int WeightRequests() const {
        int n = 0;
        for (const auto& r : scale.Requests())
            if (r.size() > 5 && r[5] == 0x23) ++n;
        return n;
    }
    sim::SimScale scale;
    sim::SimServer server{scale};
    std::string device;
};

class SeveralScales : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::make_unique<test_support::TempDriverFolder>("pesolink-several", "[Settings]\nLCID=419\n");
        dir_ = folder_->Dir();
        StartDriverModule();
        timeouts_ = std::make_unique<test_support::SavedSerialTimeouts>();
        // As in the program that reported two scales on one machine.
        ComSoftTimeout = 800;
        ComHardTimeout = 150;
        std::filesystem::create_directories(dir_ + "/com");
        setenv("PESOLINK_COM_DIR", (dir_ + "/com").c_str(), 1);
        a_ = std::make_unique<SimulatedScale>(dir_ + "/com/com25", 1000);
        b_ = std::make_unique<SimulatedScale>(dir_ + "/com/com26", 2000);
    }

    void TearDown() override {
        a_.reset();
        b_.reset();
        timeouts_.reset();
        unsetenv("PESOLINK_COM_DIR");
        folder_.reset();
    }

    static void Open(TScales& s, const char16_t* text) {
        s.put_Connection(text);
        ASSERT_EQ(s.OpenConnection(), 0) << "open";
    }
    static void ExpectWeight(TScales& s, int32_t weight, const char* what) {
        EXPECT_EQ(s.ReadWeight(), 0) << what;
        EXPECT_EQ(s.get_Weight(), weight) << what;
    }

    std::unique_ptr<test_support::TempDriverFolder> folder_;
    std::unique_ptr<test_support::SavedSerialTimeouts> timeouts_;
    std::string dir_;
    std::unique_ptr<SimulatedScale> a_, b_;
};

TEST_F(SeveralScales, EachObjectReadsItsOwnScale) {
    TScales a, b;
    Open(a, u"COM25");
    Open(b, u"COM26");
    EXPECT_EQ(a.get_BaudRate(), 4800);
    EXPECT_EQ(b.get_BaudRate(), 4800);
    for (int round = 0; round < 3; ++round) {
        ExpectWeight(a, 1000, "a");
        ExpectWeight(b, 2000, "b");
    }
    EXPECT_EQ(a_->WeightRequests(), 3);
    EXPECT_EQ(b_->WeightRequests(), 3);
    EXPECT_EQ(DeviceOpeners(a_->device), 2);
    EXPECT_EQ(DeviceOpeners(b_->device), 2);
}

// Objects on two ports read from two threads together take about the time
// of one exchange, not two.
TEST_F(SeveralScales, TwoPortsExchangeAtTheSameTime) {
    long single = 1 << 30;
    {
        TScales a;
        Open(a, u"COM25");
        for (int i = 0; i < 3; ++i) {
            const auto t0 = Clock::now();
            ExpectWeight(a, 1000, "alone");
            single = std::min(single, MsSince(t0));
        }
    }
    // Each object lives on the thread that calls it.
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    long spent[2] = {0, 0};
    int32_t results[2] = {-1, -1}, weights[2] = {0, 0};
    auto reader = [&](int k, const char16_t* text) {
        TScales s;
        s.put_Connection(text);
        const bool opened = s.OpenConnection() == 0;
        ++ready;
        while (!go) std::this_thread::yield();
        const auto t0 = Clock::now();
        results[k] = opened ? s.ReadWeight() : -2;
        spent[k] = MsSince(t0);
        weights[k] = s.get_Weight();
    };
    std::thread ta(reader, 0, u"COM25"), tb(reader, 1, u"COM26");
    while (ready < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    go = true;
    ta.join();
    tb.join();
    const long both = std::max(spent[0], spent[1]);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(weights[0], 1000);
    EXPECT_EQ(weights[1], 2000);
    RecordProperty("single_ms", static_cast<int>(single));
    RecordProperty("two_ports_ms", static_cast<int>(both));
    std::printf("one exchange %ld ms; two at once on two ports %ld ms\n", single, both);
    EXPECT_GE(single, ComHardTimeout);  // a read ends one inter-byte time-out after the reply
    EXPECT_LT(both, single + single / 2) << "the two exchanges ran one after the other";
}

TEST_F(SeveralScales, CloseOrReleaseOfOneLeavesTheOtherWorking) {
    TScales a;
    Open(a, u"COM25");
    {
        TScales b;
        Open(b, u"COM26");
        EXPECT_EQ(b.CloseConnection(), 0);
        EXPECT_FALSE(ComPortState(26).open);
        EXPECT_EQ(DeviceOpeners(b_->device), 1);
        ExpectWeight(a, 1000, "a after b's close");
        EXPECT_EQ(b.ReadWeight(), 2) << "b's port is closed";
        ASSERT_EQ(b.OpenConnection(), 0);
        ExpectWeight(b, 2000, "b reopened");
    }
    EXPECT_FALSE(ComPortState(26).open) << "released with its port";
    ExpectWeight(a, 1000, "a after b's release");
    EXPECT_EQ(a.CloseConnection(), 0);
    EXPECT_EQ(DeviceOpeners(a_->device), 1);
}

// Two objects on one port share its one open device; it closes only when
// the last holder lets go: by CloseConnection, a failed OpenConnection or
// release.
TEST_F(SeveralScales, SharedPortClosesWithItsLastHolder) {
    auto a = std::make_unique<TScales>();
    auto b = std::make_unique<TScales>();
    Open(*a, u"COM25");
    Open(*b, u"COM25");
    EXPECT_EQ(ComPortState(25).holders, 2);
    EXPECT_EQ(DeviceOpeners(a_->device), 2) << "the second open opened nothing new";
    ExpectWeight(*a, 1000, "a");
    ExpectWeight(*b, 1000, "b");

    // A third object whose probe gets an error reply at every step lets go
    // of the port.
    a_->server.SetLineSetting(0, 0);
    TScales c;
    c.put_Connection(u"COM25");
    for (int i = 0; i < 3; ++i) {
        sim::Fault f{};
        f.kind = sim::FaultKind::ErrorReply;
        f.command = 0x20;
        f.errorCode = 0x11;
        a_->scale.AddFault(f);
    }
    EXPECT_EQ(c.OpenConnection(), 1);
    EXPECT_EQ(ComPortState(25).holders, 2);
    a_->server.SetLineSetting(4800, 2);

    EXPECT_EQ(a->CloseConnection(), 0);
    EXPECT_TRUE(ComPortState(25).open);
    EXPECT_EQ(DeviceOpeners(a_->device), 2);
    ExpectWeight(*b, 1000, "b after a's close");
    EXPECT_EQ(a->ReadWeight(), 2) << "a holds no port now";

    ASSERT_EQ(a->OpenConnection(), 0);
    a.reset();
    ExpectWeight(*b, 1000, "b after a's release");
    EXPECT_EQ(ComPortState(25).holders, 1);
    b.reset();
    EXPECT_FALSE(ComPortState(25).open);
    EXPECT_EQ(DeviceOpeners(a_->device), 1) << "only the simulator's own end is left";
}

TEST_F(SeveralScales, ObjectMovedToAnotherPortReadsTheNewScale) {
    TScales a, other;
    Open(a, u"COM25");
    Open(other, u"COM26");
    ExpectWeight(a, 1000, "on COM25");
    Open(a, u"COM26");
    ExpectWeight(a, 2000, "moved to COM26");
    EXPECT_FALSE(ComPortState(25).open) << "the old port was let go";
    EXPECT_EQ(DeviceOpeners(a_->device), 1);
    EXPECT_EQ(ComPortState(26).holders, 2);
    ExpectWeight(other, 2000, "the other object on COM26");
}

// One holder's probe at another line setting does not leave the line wrong
// for the others: each exchange runs at its own object's setting.
TEST_F(SeveralScales, ProbeOfOneHolderLeavesTheOthersLineSetting) {
    a_->server.SetLineSetting(57600, 0);
    TScales a;
    Open(a, u"COM25");
    ASSERT_EQ(a.get_BaudRate(), 57600);
    int32_t opened = -1, baud = 0;
    std::thread prober([&] {
        TScales b;
        b.put_Connection(u"COM25");
        opened = b.OpenConnection();  // 4800 times out, then 57600 answers
        baud = b.get_BaudRate();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // b is waiting at 4800
    ExpectWeight(a, 1000, "a during b's probe");
    prober.join();
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(baud, 57600);
}

// An exchange that waits for the shared port keeps dispatching its caller's
// messages, and its receive deadline counts from its own receive: here the
// turn is held three receive deadlines long, and the reply still counts.
TEST_F(SeveralScales, WaitForTheSharedPortDispatchesMessages) {
    TScales b;
    Open(b, u"COM25");
    ComPortHold holder;
    ASSERT_TRUE(holder.Open(25, 100000, 100000, 4800, 2));
    ASSERT_TRUE(holder.BeginExchange(0));
    std::atomic<bool> dispatched{false}, done{false};
    std::atomic<int> requestsSeen{-1};
    int32_t result = -1, weight = 0;
    std::thread caller([&] {
        result = b.ReadWeight();
        weight = b.get_Weight();
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostCallerMessage([&] {
        requestsSeen = a_->WeightRequests();
        dispatched = true;
    });
    for (int i = 0; i < 200 && !dispatched; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(dispatched) << "the waiting caller dispatched no message";
    EXPECT_EQ(requestsSeen, 0) << "nothing was sent while another holder had the port";
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * ComSoftTimeout - 100));
    EXPECT_FALSE(done);
    const auto t0 = Clock::now();
    holder.EndExchange();
    caller.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(weight, 1000);
    EXPECT_LT(MsSince(t0), ComSoftTimeout);
    holder.Release();
    EXPECT_EQ(ComPortState(25).holders, 1);
}

// Two objects on one port called from one thread, the second from a message
// dispatched while the first waits: nothing hangs, and neither takes the
// other's reply.
TEST_F(SeveralScales, NestedCallOnTheSharedPortDoesNotHang) {
    TScales a, b;
    Open(a, u"COM25");
    Open(b, u"COM25");
    int32_t nested = -1, nestedWeight = 0;
    PostCallerMessage([&] {
        nested = b.ReadWeight();
        nestedWeight = b.get_Weight();
    });
    const auto t0 = Clock::now();
    const int32_t outer = a.ReadWeight();
    EXPECT_LT(MsSince(t0), 2 * ComSoftTimeout + static_cast<long>(ComTurnSlack) + 1000);
    EXPECT_EQ(outer, 0);
    EXPECT_EQ(a.get_Weight(), 1000);
    // The nested call either waited for the outer exchange or gave up.
    EXPECT_TRUE(nested == 0 || nested == 2) << nested;
    if (nested == 0) EXPECT_EQ(nestedWeight, 1000);
    ExpectWeight(b, 1000, "b afterwards");
}

// The worst case of a nested call: the first holder has sent and its caller
// runs the second object's whole call before it posts its receive. The
// second gives up waiting for the port (result 2, nothing sent) instead of
// waiting for ever, and the first still gets its own reply.
TEST_F(SeveralScales, HolderBusyBetweenSendAndReceiveHoldsNobodyForEver) {
    TScales b;
    Open(b, u"COM25");
    TRequestCycle first;
    TScalesThread& t = first.EnsureThread();
    t.Iface = IfaceCom;
    t.Host = "COM25";
    t.ReadTimeout = static_cast<uint32_t>(ComSoftTimeout);
    ASSERT_EQ(first.RunRequest(ModeOpen4800), 0);
    t.Command.Buf[5] = 0x23;
    t.Command.Length = 1;
    ASSERT_EQ(first.SendToCom(), 0);

    const auto t0 = Clock::now();
    EXPECT_EQ(b.ReadWeight(), 2);
    const long waited = MsSince(t0);
    EXPECT_GE(waited, ComSoftTimeout + static_cast<long>(ComTurnSlack));
    EXPECT_LT(waited, ComSoftTimeout + static_cast<long>(ComTurnSlack) + 1000);
    EXPECT_EQ(a_->WeightRequests(), 1) << "the second object sent nothing";

    EXPECT_EQ(first.ReadFromCom(), 0);
    EXPECT_EQ(t.Command.Length, 16);
    ExpectWeight(b, 1000, "b once the port is free");
}

// Under ThreadSanitizer too: exchanges from four threads at once, two
// objects on each of the two ports.
TEST_F(SeveralScales, StressConcurrentExchangesOnSharedAndSeparatePorts) {
    ComSoftTimeout = 400;
    ComHardTimeout = 20;
    const struct {
        const char16_t* text;
        int32_t weight;
    } objects[] = {{u"COM25", 1000}, {u"COM25", 1000}, {u"COM26", 2000}, {u"COM26", 2000}};
    constexpr int Rounds = 8;
    std::atomic<int> wrong{0}, failed{0};
    std::vector<std::thread> threads;
    for (const auto& o : objects) {
        threads.emplace_back([&, o] {
            TScales s;
            s.put_Connection(o.text);
            if (s.OpenConnection() != 0) {
                ++failed;
                return;
            }
            for (int i = 0; i < Rounds; ++i) {
                if (s.ReadWeight() != 0) ++failed;
                else if (s.get_Weight() != o.weight) ++wrong;
            }
            if (s.CloseConnection() != 0) ++failed;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(wrong, 0) << "an object got another scale's weight";
    EXPECT_EQ(a_->WeightRequests(), 2 * Rounds);
    EXPECT_EQ(b_->WeightRequests(), 2 * Rounds);
    EXPECT_FALSE(ComPortState(25).open);
    EXPECT_FALSE(ComPortState(26).open);
}

}  // namespace
}  // namespace pesolink
