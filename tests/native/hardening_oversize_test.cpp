// Oversized inputs from both sides: connection texts of a megabyte, property
// texts of ten megabytes, the longest texts a reply can carry, and a reply
// frame announcing 65,535 payload bytes. Each ends with a clear result code
// (or the one error status a payload too large for the frame buffer
// raises), nothing is stored past a buffer (the AddressSanitizer build runs
// these too), and the object goes on working.
#include <stdexcept>
#include <string>

#include "driver/IpText.h"
#include "tests/native/hardening_support.h"

namespace pesolink::hardening {
namespace {

constexpr std::size_t Megabyte = 1024 * 1024;

Bytes Frame(const Bytes& payload) { return sim::MakeFrame(payload); }

TEST_F(HardeningTest, ConnectionTextOfAMegabyte) {
    const std::u16string port = U16(std::to_string(port_));
    // A megabyte of colon groups in front of the real endpoint: the host is
    // the last group before the last colon, so this one still connects.
    std::u16string routed = u"9";
    while (routed.size() < Megabyte) routed += u":9";
    routed += u":127.0.0.1:" + port;

    const struct {
        const char* name;
        std::u16string text;
        int32_t result;
    } cases[] = {
        {"serial, port number of a megabyte of digits", u"COM" + std::u16string(Megabyte, u'7'), 1},
        {"serial, a megabyte of letters", u"C" + std::u16string(Megabyte, u'x'), 1},
        {"TCP, port of a megabyte of digits", u"127.0.0.1:" + std::u16string(Megabyte, u'9'), 1},
        // A host outside ASCII is dropped before any name lookup.
        {"TCP, host of a megabyte", u"1" + std::u16string(Megabyte, u'\u0416') + u":" + port, 1},
        {"TCP, a megabyte of groups before the endpoint", routed, 0},
        {"no transport", u"X" + std::u16string(Megabyte, u'y'), 1},
    };
    for (const auto& c : cases) {
        TScales s;
        s.put_Connection(c.text);
        EXPECT_EQ(s.get_Connection(), c.text) << c.name;
        const auto t0 = Clock::now();
        EXPECT_EQ(s.OpenConnection(), c.result) << c.name;
        // None of them waits for anything: the refused ones fail at once.
        EXPECT_LT(MsSince(t0), 5000) << c.name;

        // The trace holds the whole text on its line.
        const std::string want = "OpenConnection: Connection=" + platform::ToAnsi(c.text);
        bool logged = false;
        for (const std::string& line : LogLines()) logged = logged || line == want;
        EXPECT_TRUE(logged) << c.name;
        std::ofstream(LogPath(), std::ios::trunc);

        // Back to an ordinary text, the same object works.
        if (c.result == 0) s.CloseConnection();
        Open(s, Transport::Tcp);
        ExpectUsable(s, Transport::Tcp);
        s.CloseConnection();
    }
}

TEST_F(HardeningTest, TenMegabytePropertyTextsAreRefused) {
    using Put = void (TScales::*)(const std::u16string&);
    using Get = std::u16string (TScales::*)() const;
    const std::u16string huge(10 * Megabyte, u'N');
    // An address that starts well and then runs on for ten megabytes.
    const std::u16string hugeAddress = u"1.2.3." + std::u16string(10 * Megabyte, u'4');
    const struct {
        const char* name;
        Put put;
        Get get;
        std::u16string kept;
        const std::u16string& text;
    } cases[] = {
        {"Name", &TScales::put_Name, &TScales::get_Name, u"Scale", huge},
        {"SSID", &TScales::put_SSID, &TScales::get_SSID, u"ShopNet", huge},
        {"Key", &TScales::put_Key, &TScales::get_Key, u"k3y", huge},
        {"IpAddress", &TScales::put_IpAddress, &TScales::get_IpAddress, u"10.0.0.5", hugeAddress},
        {"GatewayWiFi", &TScales::put_GatewayWiFi, &TScales::get_GatewayWiFi, u"10.0.0.1", hugeAddress},
        {"ApIpAddressWiFi", &TScales::put_ApIpAddressWiFi, &TScales::get_ApIpAddressWiFi, u"192.168.4.1",
         hugeAddress},
    };
    TScales s;
    for (const auto& c : cases) {
        (s.*c.put)(c.kept);
        (s.*c.put)(c.text);
        EXPECT_EQ((s.*c.get)(), c.kept) << c.name;
    }
    EXPECT_EQ(CheckIpStr(hugeAddress), 1);

    // What goes to the scale afterwards is what the puts kept.
    Open(s, Transport::Tcp);
    scale_.ClearRequests();
    EXPECT_EQ(s.SetName(), 0);
    ASSERT_EQ(Payloads().size(), 1u);
    EXPECT_EQ(Payloads()[0], (Bytes{0x22, 'S', 'c', 'a', 'l', 'e', 0x0D, 0x0A}));
    EXPECT_EQ(s.SetWifi(), 0);
    EXPECT_EQ(scale_.State().ssid, "ShopNet");
    EXPECT_EQ(scale_.State().key, "k3y");
    ExpectUsable(s, Transport::Tcp);
}

// The longest texts a reply can give: a name without its CR fills the whole
// frame and takes the two checksum bytes along (1491 characters), which
// SetName can still send in one full frame; a network name and key that
// together are longer than a frame can carry back make SetWifi raise its
// range error before anything is sent.
TEST_F(HardeningTest, LongestTextsFromTheScale) {
    for (Transport t : {Transport::Tcp, Transport::Serial}) {
        TScales s;
        Open(s, t);

        Bytes name = {0x20, 0x39, 0x30, 0x00, 0x00};
        name.resize(1494, 'n');
        scale_.AddFault(RawReply(0x20, Frame(name)));
        ASSERT_EQ(s.GetName(), 0) << Name(t);
        EXPECT_EQ(s.get_Name().size(), 1491u) << Name(t);
        scale_.ClearRequests();
        const int32_t sent = s.SetName();
        EXPECT_TRUE(sent == 0 || sent == 5) << Name(t) << ": " << sent;  // the scale may refuse it
        ASSERT_EQ(scale_.Requests().size(), 1u) << Name(t);
        EXPECT_EQ(scale_.Requests()[0].size(), 1501u) << Name(t);

        Bytes wifi = {0x3A, 0x88, 0x13};
        wifi.insert(wifi.end(), 740, 's');
        wifi.insert(wifi.end(), {0x0D, 0x0A});
        wifi.resize(1494, 'k');  // the key runs on to the frame's end
        scale_.AddFault(RawReply(0x3A, Frame(wifi)));
        ASSERT_EQ(s.GetWiFi(), 0) << Name(t);
        EXPECT_EQ(s.get_SSID().size(), 740u) << Name(t);
        EXPECT_EQ(s.get_Key().size(), 751u) << Name(t);
        scale_.ClearRequests();
        EXPECT_THROW(s.SetWifi(), std::range_error) << Name(t);
        EXPECT_TRUE(scale_.Requests().empty()) << Name(t);

        ExpectUsable(s, t);
        s.CloseConnection();
    }
}

// A frame that announces 65,535 payload bytes and carries them all: more
// than the frame buffer holds. The receive refuses it as no acceptable
// reply, the fields keep their values, and the rest of the stream is not
// taken for the next reply.
TEST_F(HardeningTest, ReplyFrameOf65535PayloadBytes) {
    Bytes payload(65535, 0x23);
    payload[1] = 0x11;
    const Bytes big = Frame(payload);
    ASSERT_EQ(big.size(), 65542u);
    for (Transport t : {Transport::Tcp, Transport::Serial}) {
        TScales s;
        Open(s, t);
        ASSERT_EQ(s.ReadWeight(), 0) << Name(t);
        const int32_t weight = s.get_Weight();

        scale_.AddFault(RawReply(0x23, big));
        const auto t0 = Clock::now();
        EXPECT_EQ(s.ReadWeight(), 2) << Name(t);
        EXPECT_LT(MsSince(t0), t == Transport::Tcp ? 3000 : SoftTimeout + 2000) << Name(t);
        EXPECT_EQ(s.get_Weight(), weight) << Name(t);

        ExpectUsable(s, t);
        ExpectUsable(s, t);
        s.CloseConnection();
    }
}

}  // namespace
}  // namespace pesolink::hardening
