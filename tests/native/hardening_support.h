// Fixture of the hardening tests: a fresh application-data folder with the
// module started and logging on, short serial time-outs, and a simulated
// scale on loopback TCP and on a pseudo-terminal named as port COM5.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/Logging.h"
#include "driver/Scales.h"
#include "driver/Settings.h"
#include "driver/platform/Platform.h"
#include "link/ComUnit.h"
#include "sim/SimScale.h"
#include "sim/SimServer.h"

namespace pesolink::hardening {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The scale answers the next request with this command code by exactly these bytes.
inline sim::Fault RawReply(int command, Bytes bytes) {
    sim::Fault f{};
    f.kind = sim::FaultKind::Raw;
    f.command = command;
    f.raw = std::move(bytes);
    return f;
}

enum class Transport { Tcp, Serial };

inline const char* Name(Transport t) { return t == Transport::Tcp ? "TCP" : "serial"; }

class HardeningTest : public ::testing::Test {
protected:
    static constexpr int32_t SoftTimeout = 300;  // ms, serial receive deadline

    void SetUp() override {
        char tmpl[] = "/tmp/pesolink-hardening-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        if (const char* old = std::getenv("APPDATA")) savedAppData_ = old;
        hadAppData_ = std::getenv("APPDATA") != nullptr;
        setenv("APPDATA", dir_.c_str(), 1);
        std::filesystem::create_directories(SettingsFolder());
        std::ofstream(SettingsFolder() / "Driver.ini") << "[Settings]\r\nLogging=1\r\nLCID=419\r\n";
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());
        savedSoft_ = ComSoftTimeout;
        savedHard_ = ComHardTimeout;
        ComSoftTimeout = SoftTimeout;
        ComHardTimeout = 50;
        port_ = server_.ListenTcp(0);
        comDir_ = dir_ + "/com";
        std::filesystem::create_directories(comDir_);
        setenv("PESOLINK_COM_DIR", comDir_.c_str(), 1);
        server_.OpenPty(comDir_ + "/com5");
        server_.SetLineSetting(0, 0);  // answers at every line setting
    }

    void TearDown() override {
        server_.Stop();
        ComClose();
        ComSoftTimeout = savedSoft_;
        ComHardTimeout = savedHard_;
        SetLogTarget(u"", false);
        unsetenv("PESOLINK_COM_DIR");
        if (hadAppData_) setenv("APPDATA", savedAppData_.c_str(), 1);
        else unsetenv("APPDATA");
        std::error_code ec;
        std::filesystem::permissions(LogPath(), std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir_, ec);
    }

    // A fresh load of the module (an emptied log), with the short serial
    // time-outs again.
    void Restart() {
        StartDriverModule();
        ComSoftTimeout = SoftTimeout;
        ComHardTimeout = 50;
    }

    std::filesystem::path SettingsFolder() const { return std::filesystem::path(dir_) / "Ostrel" / "Pesolink"; }
    std::filesystem::path LogPath() const { return SettingsFolder() / "Log.txt"; }

    std::u16string Text(Transport t) const {
        return t == Transport::Tcp ? U16("127.0.0.1:" + std::to_string(port_)) : u"COM5";
    }

    void Open(TScales& s, Transport t) {
        s.put_Connection(Text(t));
        ASSERT_EQ(s.OpenConnection(), 0) << Name(t);
    }

    // An ordinary exchange on the object gives the simulated scale's weight.
    void ExpectUsable(TScales& s, Transport t) {
        scale_.Update([](sim::ScaleState& st) { st.weight = 4321; });
        EXPECT_EQ(s.ReadWeight(), 0) << Name(t);
        EXPECT_EQ(s.get_Weight(), 4321) << Name(t);
    }

    // Payloads of the requests the scale received, in order.
    std::vector<Bytes> Payloads() const {
        std::vector<Bytes> out;
        for (const Bytes& f : scale_.Requests()) out.emplace_back(f.begin() + 5, f.end() - 2);
        return out;
    }

    // Log lines without their time stamp.
    std::vector<std::string> LogLines() const {
        const std::string text = ReadFile(LogPath());
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            lines.push_back(line.size() >= 9 ? line.substr(9) : line);
            at = end + 2;
        }
        return lines;
    }

    std::string dir_;
    std::string comDir_;
    std::string savedAppData_;
    bool hadAppData_ = false;
    int32_t savedSoft_ = 2000;
    int32_t savedHard_ = 500;
    sim::SimScale scale_;
    sim::SimServer server_{scale_};
    uint16_t port_ = 0;
};

}  // namespace pesolink::hardening
