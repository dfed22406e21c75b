// Shared by the fault, re-entrance and stress tests: a started driver module
// in a temporary %AppData% (logging on, so the trace paths run too), short
// serial time-outs, and serial ports found in a folder of links.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "driver/Logging.h"
#include "driver/Settings.h"
#include "link/ComUnit.h"
#include "tests/native/driver_folder_support.h"

namespace pesolink::fault_test {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

class DriverModuleFixture : public ::testing::Test {
protected:
    DriverModuleFixture(int32_t softTimeout, int32_t hardTimeout) : soft_(softTimeout), hard_(hardTimeout) {}

    void SetUp() override {
        folder_ = std::make_unique<test_support::TempDriverFolder>("pesolink-fault",
                                                                   "[Settings]\nLogging=1\nLCID=409\n");
        dir_ = folder_->Dir();
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());
        timeouts_ = std::make_unique<test_support::SavedSerialTimeouts>();
        ComSoftTimeout = soft_;
        ComHardTimeout = hard_;
        comDir_ = dir_ + "/com";
        std::filesystem::create_directories(comDir_);
        setenv("PESOLINK_COM_DIR", comDir_.c_str(), 1);
    }

    void TearDown() override {
        ComClose();
        timeouts_.reset();
        SetLogTarget(u"", false);
        unsetenv("PESOLINK_COM_DIR");
        folder_.reset();
    }

    // Path of serial port n's link (point a simulated scale's pty there).
    std::string ComLink(int n) const { return comDir_ + "/com" + std::to_string(n); }

    std::unique_ptr<test_support::TempDriverFolder> folder_;
    std::unique_ptr<test_support::SavedSerialTimeouts> timeouts_;
    std::string dir_, comDir_;
    int32_t soft_, hard_;
};

}  // namespace pesolink::fault_test
