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
#include <string>

#include "driver/Logging.h"
#include "driver/Settings.h"
#include "link/ComUnit.h"

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
        char tmpl[] = "/tmp/pesolink-fault-XXXXXX";
        dir_ = mkdtemp(tmpl);
        const char* old = std::getenv("APPDATA");
        hadAppData_ = old != nullptr;
        if (old) oldAppData_ = old;
        setenv("APPDATA", dir_.c_str(), 1);
        std::filesystem::create_directories(dir_ + "/Ostrel/Pesolink");
        std::ofstream(dir_ + "/Ostrel/Pesolink/Driver.ini") << "[Settings]\nLogging=1\nLCID=409\n";
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());
        savedSoft_ = ComSoftTimeout;
        savedHard_ = ComHardTimeout;
        ComSoftTimeout = soft_;
        ComHardTimeout = hard_;
        comDir_ = dir_ + "/com";
        std::filesystem::create_directories(comDir_);
        setenv("PESOLINK_COM_DIR", comDir_.c_str(), 1);
    }

    void TearDown() override {
        ComClose();
        ComSoftTimeout = savedSoft_;
        ComHardTimeout = savedHard_;
        SetLogTarget(u"", false);
        unsetenv("PESOLINK_COM_DIR");
        if (hadAppData_) setenv("APPDATA", oldAppData_.c_str(), 1);
        else unsetenv("APPDATA");
        std::filesystem::remove_all(dir_);
    }

    // Path of serial port n's link (point a simulated scale's pty there).
    std::string ComLink(int n) const { return comDir_ + "/com" + std::to_string(n); }

    std::string dir_, comDir_, oldAppData_;
    bool hadAppData_ = false;
    int32_t soft_, hard_;
    int32_t savedSoft_ = 2000, savedHard_ = 500;
};

}  // namespace pesolink::fault_test
