// The POSIX serial module on a raw pseudo-terminal: read calls shaped by the
// inter-byte and total time-outs, writes, and the closed-port behaviour.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/ComUnit.h"

using namespace pesolink;

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class ComUnitPty : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        char tmpl[] = "/tmp/pesolink-comunit-XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::filesystem::create_symlink(name, dir_ + "/com7");
        setenv("PESOLINK_COM_DIR", dir_.c_str(), 1);
        savedHard_ = ComHardTimeout;
        ComHardTimeout = 100;
        ComPortNumber = 7;
        ComParity = 0;
        ASSERT_TRUE(ComOpen(100000, 100000, 57600));
    }
    void TearDown() override {
        ComClose();
        ComHardTimeout = savedHard_;
        close(slave_);
        close(master_);
        unsetenv("PESOLINK_COM_DIR");
        std::filesystem::remove_all(dir_);
    }
    void SendFromScale(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int master_ = -1, slave_ = -1;
    std::string dir_;
    int32_t savedHard_ = 500;
};

TEST_F(ComUnitPty, DeviceNameFollowsPortNumber) {
    EXPECT_EQ(ComDeviceName(3), dir_ + "/com3");
    EXPECT_EQ(ComDeviceName(12), dir_ + "/com12");
}

TEST_F(ComUnitPty, NothingArrivingReturnsZeroAfterTotalTimeout) {
    uint8_t buf[64];
    const auto t0 = Clock::now();
    EXPECT_EQ(ComRead(buf, sizeof buf), 0);
    const long spent = MsSince(t0);
    EXPECT_GE(spent, 950);
    EXPECT_LT(spent, 1200);
}

TEST_F(ComUnitPty, BurstReturnsOneIntervalAfterLastByte) {
    SendFromScale({1, 2, 3, 4, 5, 6, 7, 8, 9});
    uint8_t buf[64];
    const auto t0 = Clock::now();
    EXPECT_EQ(ComRead(buf, sizeof buf), 9);
    const long spent = MsSince(t0);
    EXPECT_GE(spent, 90);
    EXPECT_LT(spent, 400);
    EXPECT_EQ(buf[8], 9);
}

TEST_F(ComUnitPty, PiecesWithinIntervalAreAssembled) {
    std::thread scale([&] {
        for (int i = 0; i < 3; ++i) {
            SendFromScale({static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    uint8_t buf[64];
    EXPECT_EQ(ComRead(buf, sizeof buf), 9);
    scale.join();
}

TEST_F(ComUnitPty, GapLongerThanIntervalEndsTheCall) {
    std::thread scale([&] {
        SendFromScale({1, 2, 3});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SendFromScale({4, 5, 6});
    });
    uint8_t buf[64];
    EXPECT_EQ(ComRead(buf, sizeof buf), 3);
    EXPECT_EQ(ComRead(buf, sizeof buf), 3);
    EXPECT_EQ(buf[0], 4);
    scale.join();
}

TEST_F(ComUnitPty, ReadStopsAtCapacityAndReturnsAtOnce) {
    SendFromScale({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    uint8_t buf[4] = {};
    const auto t0 = Clock::now();
    EXPECT_EQ(ComRead(buf, 4), 4);
    EXPECT_LT(MsSince(t0), 50);
    EXPECT_EQ(ComRead(buf, 4), 4);
    EXPECT_EQ(buf[0], 5);
}

TEST_F(ComUnitPty, WriteReachesTheFarEnd) {
    const uint8_t frame[] = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x20, 0x20, 0x00};
    EXPECT_EQ(ComWrite(frame, 8), 8);
    uint8_t got[8] = {};
    ASSERT_EQ(read(master_, got, 8), 8);
    EXPECT_EQ(0, memcmp(got, frame, 8));
}

TEST_F(ComUnitPty, ByteValuesPassUnchanged) {
    std::vector<uint8_t> all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<uint8_t>(b));
    SendFromScale(all);
    std::vector<uint8_t> got(512);
    int32_t n = 0;
    while (n < 256) {
        const int32_t r = ComRead(got.data() + n, 512 - n);
        if (r == 0) break;
        n += r;
    }
    ASSERT_EQ(n, 256);
    got.resize(256);
    EXPECT_EQ(got, all);  // no flow control or line discipline eats 0x11, 0x13, CR
}

TEST_F(ComUnitPty, ParityIsVisibleFromTheFarEnd) {
    const struct {
        uint8_t parity;
        bool inpck, parodd, cmspar;
    } cases[] = {{0, false, false, false}, {2, true, false, false}, {1, true, true, false},
                 {4, true, false, true}, {3, true, true, true}};
    for (const auto& c : cases) {
        ComParity = c.parity;
        ASSERT_TRUE(ComOpen(100000, 100000, 4800)) << int(c.parity);
        ASSERT_TRUE(ComOpen(100000, 100000, 4800)) << "again at the same setting";
        termios t{};
        tcgetattr(master_, &t);
        EXPECT_EQ(cfgetospeed(&t), B4800);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.inpck) << int(c.parity);
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parodd) << int(c.parity);
        EXPECT_EQ((t.c_cflag & CMSPAR) != 0, c.cmspar) << int(c.parity);
    }
}

TEST_F(ComUnitPty, ClosedPortReadsAndWritesNothingAtOnce) {
    ComClose();
    EXPECT_FALSE(ComIsOpen());
    uint8_t buf[8] = {1};
    const auto t0 = Clock::now();
    EXPECT_EQ(ComRead(buf, sizeof buf), 0);
    EXPECT_EQ(ComWrite(buf, 1), 0);
    EXPECT_LT(MsSince(t0), 20);
}

TEST_F(ComUnitPty, OpeningAgainClosesTheFirstPort) {
    ComPortNumber = 8;  // no such link
    EXPECT_FALSE(ComOpen(100000, 100000, 57600));
    EXPECT_FALSE(ComIsOpen());
}

}  // namespace
