// Stress run of the hand-off between callers and exchange workers, made for
// ThreadSanitizer: 10,000 exchanges over TCP with random short faults, two
// caller threads with objects of their own, and objects released at random
// right after a call or while idle (and a new one opened). Every exchange's
// result and fields are checked against the fault it met, so a reply read
// before the worker finished writing it shows as a wrong value, not only as
// a sanitizer report.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/Scales.h"
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

constexpr int Exchanges = 10000;
constexpr int Callers = 2;
constexpr uint32_t Seed = 0x5EED2026;

enum class Kind { None, Delay, Error, Refuse, Short, Surplus, BadChecksum, BadHeader, Drop };

struct Counts {
    int exchanges = 0, faulted = 0, releasedAfterCall = 0, releasedIdle = 0, reopened = 0;
};

// One caller thread: its own simulated scale, its own objects.
void Caller(int index, uint32_t seed, int exchanges, Counts& counts) {
    SCOPED_TRACE("caller " + std::to_string(index));
    sim::SimScale scale;
    sim::SimServer server{scale};
    const std::u16string connection = U16("127.0.0.1:" + std::to_string(server.ListenTcp(0)));
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };

    auto open = [&](TScales& s) {
        s.put_Connection(connection);
        return s.OpenConnection();
    };
    auto object = std::make_unique<TScales>();
    ASSERT_EQ(open(*object), 0);

    for (int i = 0; i < exchanges; ++i) {
        // The reply carries the exchange's own number, so a stale buffer
        // cannot pass for it.
        const int32_t value = index * 1000000 + i;
        scale.Update([&](sim::ScaleState& st) {
            st.weight = value;
            st.tare = value;
            st.serial = static_cast<uint32_t>(value);
        });

        Kind kind = Kind::None;
        if (chance(40)) kind = static_cast<Kind>(1 + random() % 8);
        const int command = static_cast<int>(random() % 3);  // weight, tare, name
        const uint8_t code = command == 0 ? CMD_GET_WEIGHT : command == 1 ? CMD_GET_TARE : CMD_GET_NAME;
        const int minimum = command == 0 ? 16 : command == 1 ? 12 : 14;
        const int normalSize = command == 0 ? 16 : command == 1 ? 12 : 19;  // name "Scale"

        Fault f{};
        f.command = code;
        f.count = 1;
        uint8_t errorCode = 0;
        int shortBy = 0;
        switch (kind) {
            case Kind::None: break;
            case Kind::Delay:
                f.kind = FaultKind::Delay;
                f.delayMs = static_cast<int>(random() % 4);
                break;
            case Kind::Error:
                errorCode = static_cast<uint8_t>(random() % 32);
                f.kind = FaultKind::ErrorReply;
                f.errorCode = errorCode;
                break;
            case Kind::Refuse: f.kind = FaultKind::Refuse; break;
            case Kind::Short:
                f.kind = FaultKind::Short;
                shortBy = 1 + static_cast<int>(random() % 4);
                f.shortBy = shortBy;
                break;
            case Kind::Surplus:
                f.kind = FaultKind::Surplus;
                f.surplus = 1 + static_cast<int>(random() % 8);
                break;
            case Kind::BadChecksum: f.kind = FaultKind::BadChecksum; break;
            case Kind::BadHeader: f.kind = FaultKind::BadHeader; break;
            case Kind::Drop: f.kind = FaultKind::Drop; break;
        }
        if (kind != Kind::None) {
            scale.AddFault(f);
            ++counts.faulted;
        }

        TScales& s = *object;
        const int32_t oldWeight = s.get_Weight(), oldTare = s.get_TareWeight();
        const std::u16string oldSerial = s.get_ScalesID();
        int32_t result = -100;
        if (command == 0) result = s.ReadWeight();
        else if (command == 1) result = s.GetTare();
        else result = s.GetName();
        ++counts.exchanges;

        int32_t expected = 0;
        switch (kind) {
            case Kind::None:
            case Kind::Delay:
            case Kind::BadChecksum:
            case Kind::BadHeader: expected = 0; break;
            case Kind::Error: expected = errorCode == 0 ? 2 : ResponseToResult(errorCode); break;
            case Kind::Refuse: expected = 8 < minimum ? 2 : 0; break;
            case Kind::Short: expected = normalSize - shortBy < minimum ? 2 : 0; break;
            case Kind::Surplus:
            case Kind::Drop: expected = 2; break;
        }
        ASSERT_EQ(result, expected) << "exchange " << i << " kind " << static_cast<int>(kind) << " command " << command;
        if (result == 0) {
            if (command == 0) ASSERT_EQ(s.get_Weight(), value) << i;
            if (command == 1) ASSERT_EQ(s.get_TareWeight(), value) << i;
            if (command == 2) ASSERT_EQ(s.get_ScalesID(), U16(std::to_string(value))) << i;
        } else {
            ASSERT_EQ(s.get_Weight(), oldWeight) << i;
            ASSERT_EQ(s.get_TareWeight(), oldTare) << i;
            ASSERT_EQ(s.get_ScalesID(), oldSerial) << i;
        }

        if (kind == Kind::Drop) {
            // The link is gone: a link failure, then a new connection.
            ASSERT_EQ(s.ReadWeight(), 1) << i;
            ASSERT_EQ(s.OpenConnection(), 0) << i;
            ++counts.reopened;
        }

        // Released right after the call, while its worker may still be on
        // its way to parking; or left idle a moment first.
        if (chance(3)) {
            if (chance(50)) {
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
                ++counts.releasedIdle;
            } else {
                ++counts.releasedAfterCall;
            }
            object = std::make_unique<TScales>();
            ASSERT_EQ(open(*object), 0) << i;
        }
    }
    object.reset();
    server.Stop();
}

class StressHandOff : public fault_test::DriverModuleFixture {
protected:
    StressHandOff() : DriverModuleFixture(300, 20) {}
};

TEST_F(StressHandOff, RandomFaultsAndReleases) {
    // Logging off: the run is about the hand-off, not the trace file.
    SetLogTarget(u"", false);
    std::printf("stress: seed 0x%08" PRIX32 ", %d exchanges on %d caller threads\n", Seed, Exchanges, Callers);
    std::vector<Counts> counts(Callers);
    std::vector<std::thread> callers;
    const auto start = Clock::now();
    for (int c = 0; c < Callers; ++c)
        callers.emplace_back(Caller, c, Seed + static_cast<uint32_t>(c), Exchanges / Callers,
                             std::ref(counts[static_cast<std::size_t>(c)]));
    for (auto& t : callers) t.join();
    Counts all;
    for (const Counts& c : counts) {
        all.exchanges += c.exchanges;
        all.faulted += c.faulted;
        all.releasedAfterCall += c.releasedAfterCall;
        all.releasedIdle += c.releasedIdle;
        all.reopened += c.reopened;
    }
    std::printf("stress: %d exchanges (%d faulted), %d objects released right after a call, %d while idle, "
                "%d reconnects, %ld ms\n",
                all.exchanges, all.faulted, all.releasedAfterCall, all.releasedIdle, all.reopened, MsSince(start));
    EXPECT_EQ(all.exchanges, Exchanges) << "a caller stopped on a failure";
}

}  // namespace
}  // namespace pesolink
