// The trace under faults and what it must never hold: the Wi-Fi key stays
// out of every line of a whole session, and a Log.txt that goes away, turns
// read-only or is replaced while the driver is loaded costs lines, never a
// command's result.
#include <sys/stat.h>

#include <string>

#include "tests/native/hardening_support.h"

namespace pesolink::hardening {
namespace {

namespace fs = std::filesystem;

// Every command that moves the key, and every other one, on both
// transports: the key reaches the scale and comes back, but no log line
// shows it or any run of it.
TEST_F(HardeningTest, WifiKeyNeverReachesTheLog) {
    const std::u16string key = u"Zq7-Secret-KEY-91";
    const std::string keyText = "Zq7-Secret-KEY-91";
    for (Transport t : {Transport::Tcp, Transport::Serial}) {
        std::ofstream(LogPath(), std::ios::trunc);
        TScales s;
        Open(s, t);
        s.put_SSID(u"ShopNet");
        s.put_Key(key);
        s.put_PortWiFi(5000);
        s.put_IpAddressWiFi(u"10.0.0.5");
        s.put_MaskWiFi(u"255.0.0.0");
        s.put_GatewayWiFi(u"10.0.0.1");
        s.put_ApIpAddressWiFi(u"192.168.4.1");
        EXPECT_EQ(s.SetWifi(), 0) << Name(t);
        EXPECT_EQ(scale_.State().key, keyText) << Name(t);

        s.put_Key(u"");
        EXPECT_EQ(s.GetWiFi(), 0) << Name(t);
        EXPECT_EQ(s.get_Key(), key) << Name(t);  // read back from the scale
        EXPECT_EQ(s.GetWiFiAP(), 0) << Name(t);
        EXPECT_EQ(s.SetWiFiAP(), 0) << Name(t);
        EXPECT_EQ(s.GetName(), 0) << Name(t);
        EXPECT_EQ(s.SetName(), 0) << Name(t);
        EXPECT_EQ(s.GetEthernet(), 0) << Name(t);
        EXPECT_EQ(s.SetEthernet(), 0) << Name(t);
        EXPECT_EQ(s.ReadWeight(), 0) << Name(t);
        EXPECT_EQ(s.CloseConnection(), 0) << Name(t);

        const std::vector<std::string> lines = LogLines();
        ASSERT_GT(lines.size(), 40u) << Name(t) << ": logging is on, the session must show";
        bool sawSetWifi = false;
        for (const std::string& line : lines) {
            sawSetWifi = sawSetWifi || line.rfind("- SetWiFi: Exit from ", 0) == 0;
            // Any four characters of the key in a row would give it away.
            for (std::size_t at = 0; at + 4 <= keyText.size(); ++at)
                EXPECT_EQ(line.find(keyText.substr(at, 4)), std::string::npos)
                    << Name(t) << ": " << line;
            // Nor the fixed key of the scale's own access point.
            EXPECT_EQ(line.find(platform::ToUtf8(s.get_ApKey())), std::string::npos) << Name(t) << ": " << line;
        }
        EXPECT_TRUE(sawSetWifi) << Name(t);
    }
}

// Log.txt changes under the loaded driver: the lines after it are lost
// silently, nothing re-creates or overwrites what stands there, and every
// command still gives its own result.
TEST_F(HardeningTest, LogFileLostWhileLoaded) {
    const struct {
        const char* name;
        void (*change)(const fs::path& log);
        bool stillFile;  // a file stands at the log's place afterwards
    } cases[] = {
        {"deleted", [](const fs::path& log) { fs::remove(log); }, false},
        {"read-only",
         [](const fs::path& log) {
             std::ofstream(log, std::ios::trunc) << "kept\r\n";
             fs::permissions(log, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         true},
        {"replaced by a folder",
         [](const fs::path& log) {
             fs::remove(log);
             fs::create_directories(log);
         },
         false},
    };
    for (const auto& c : cases) {
        for (Transport t : {Transport::Tcp, Transport::Serial}) {
            Restart();  // a fresh, empty log for each case
            ASSERT_TRUE(LogEnabled());
            TScales s;
            Open(s, t);
            ASSERT_FALSE(LogLines().empty());
            c.change(LogPath());
            const std::string before = c.stillFile ? ReadFile(LogPath()) : std::string();

            scale_.Update([](sim::ScaleState& st) { st.weight = 777; });
            EXPECT_EQ(s.ReadWeight(), 0) << c.name << ", " << Name(t);
            EXPECT_EQ(s.get_Weight(), 777) << c.name << ", " << Name(t);
            EXPECT_EQ(s.GetWiFi(), 0) << c.name << ", " << Name(t);
            scale_.AddFault([] {
                sim::Fault f{};
                f.kind = sim::FaultKind::ErrorReply;
                f.command = 0x23;
                f.errorCode = 0x11;
                return f;
            }());
            EXPECT_EQ(s.ReadWeight(), 17) << c.name << ", " << Name(t);
            EXPECT_EQ(s.CloseConnection(), 0) << c.name << ", " << Name(t);

            if (c.stillFile) {
                EXPECT_EQ(ReadFile(LogPath()), before) << c.name << ", " << Name(t);
            } else {
                EXPECT_FALSE(fs::is_regular_file(LogPath())) << c.name << ", " << Name(t);
            }

            // Put the file back for the next start.
            std::error_code ec;
            fs::permissions(LogPath(), fs::perms::owner_all, ec);
            fs::remove_all(LogPath(), ec);
        }
    }
}

}  // namespace
}  // namespace pesolink::hardening
