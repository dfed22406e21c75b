// The simulated scale's protocol brain: reply layouts, state changes, faults
// and the splitting of a byte stream into request frames.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "sim/SimScale.h"

using namespace pesolink;
using namespace pesolink::sim;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes H(const std::string& hex) {
    Bytes out;
    std::istringstream in(hex);
    std::string b;
    while (in >> b) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Payload of a reply frame, after checking its envelope and checksum.
Bytes PayloadOf(const Bytes& frame) {
    EXPECT_GE(frame.size(), 7u);
    if (frame.size() < 7) return {};
    EXPECT_EQ(frame[0], 0xF8);
    EXPECT_EQ(frame[1], 0x55);
    EXPECT_EQ(frame[2], 0xCE);
    const size_t len = frame[3] | frame[4] << 8;
    EXPECT_EQ(frame.size(), len + 7);
    if (frame.size() != len + 7) return {};
    Bytes p(frame.begin() + 5, frame.begin() + 5 + static_cast<std::ptrdiff_t>(len));
    const uint16_t c = Crc16(0, p.data(), static_cast<uint16_t>(len));
    EXPECT_EQ(frame[5 + len], c & 0xFF);
    EXPECT_EQ(frame[6 + len], c >> 8);
    return p;
}

Reply Ask(SimScale& s, const Bytes& payload) {
    const Bytes f = MakeFrame(payload);
    auto replies = s.Feed(f.data(), f.size());
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? Reply{} : replies[0];
}

Bytes AskPayload(SimScale& s, const Bytes& payload) { return PayloadOf(Ask(s, payload).bytes); }

}  // namespace

TEST(SimScaleFrame, EnvelopeMatchesTheWireForm) {
    EXPECT_EQ(MakeFrame(H("20")), H("F8 55 CE 01 00 20 20 00"));
    EXPECT_EQ(MakeFrame(H("28 11")), H("F8 55 CE 02 00 28 11 11 28"));
    EXPECT_EQ(MakeFrame(Text("123456789")), Cat({H("F8 55 CE 09 00"), Text("123456789"), H("EF BE")}));
    EXPECT_EQ(MakeFrame({}), H("F8 55 CE 00 00 00 00"));
}

// Every reply with the default state, byte for byte.
TEST(SimScaleLayout, RepliesWithDefaultState) {
    struct Case {
        const char* what;
        const char* request;
        const char* reply;
        size_t frameSize;
    };
    const Case cases[] = {
        {"name", "20", "20 39 30 00 00 53 63 61 6C 65 0D 0A", 19},
        {"weight", "23", "23 E8 03 00 00 02 01 00 00", 16},
        {"tare", "A1", "A1 00 00 00 00", 12},
        {"ethernet", "2D", "2D 0A 01 A8 C0 00 FF FF FF 01 01 A8 C0 89 13", 22},
        {"wifi ssid", "3A", "3A 88 13 4E 65 74 0D 0A 6B 65 79 0D 0A", 20},
        {"wifi ip", "33", "33 0B 01 A8 C0 00 FF FF FF 01 01 A8 C0 01 04 A8 C0 88 13", 26},
        {"set name", "22 41 0D 0A", "22", 8},
        {"set tare", "A3 01 00 00 00", "A3", 8},
        {"set zero", "72", "72", 8},
        {"set ethernet", "39 0A 01 A8 C0 00 FF FF FF 01 01 A8 C0 89 13", "39 00", 9},
        {"set wifi ssid", "3C 88 13 4E 0D 0A 6B 0D 0A", "3C 00", 9},
        {"set wifi ip", "31 0B 01 A8 C0 00 FF FF FF 01 01 A8 C0 01 04 A8 C0 88 13", "31 00", 9},
        {"unknown command", "55", "28 07", 9},
        {"short set tare", "A3 01 02", "28 06", 9},
        {"short set ethernet", "39 0A 01 A8 C0", "28 06", 9},
        {"short set wifi ip", "31 0B 01 A8 C0 00 FF FF FF", "28 06", 9},
        {"short set wifi ssid", "3C 88", "28 06", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimScale s;
        const Reply r = Ask(s, H(c.request));
        EXPECT_FALSE(r.silent || r.drop);
        EXPECT_EQ(r.bytes.size(), c.frameSize);
        EXPECT_EQ(PayloadOf(r.bytes), H(c.reply));
    }
}

TEST(SimScaleLayout, EmptyPayloadGetsAnErrorReply) {
    SimScale s;
    const Bytes f = H("F8 55 CE 00 00 00 00");
    auto r = s.Feed(f.data(), f.size());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].bytes, H("F8 55 CE 02 00 28 06 06 28"));
}

TEST(SimScaleLayout, InformationReplyCarriesTheInterfaceBitmap) {
    for (uint8_t bitmap : {0x00, 0x01, 0x0D, 0x0F, 0xF0}) {
        SimScale s;
        s.Update([&](ScaleState& st) { st.interfaces = bitmap; });
        const Bytes f = Ask(s, H("00")).bytes;
        PayloadOf(f);
        ASSERT_GE(f.size(), 24u);
        EXPECT_EQ(f[5], 0x00);
        EXPECT_EQ(f[23], bitmap);
    }
}

TEST(SimScaleLayout, MacReplyShowsFirstGroupAtTheHighestByte) {
    SimScale s;
    s.Update([](ScaleState& st) {
        st.ethMac = {0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
        st.wifiMac = {0xAB, 0x0C, 0x01, 0x02, 0x03, 0x04};
    });
    const Bytes f = Ask(s, H("29")).bytes;
    PayloadOf(f);
    ASSERT_GE(f.size(), 34u);
    EXPECT_EQ(f[5], 0x29);
    EXPECT_EQ(Bytes(f.begin() + 22, f.begin() + 28), H("11 22 33 44 55 66"));
    EXPECT_EQ(Bytes(f.begin() + 28, f.begin() + 34), H("04 03 02 01 0C AB"));
}

TEST(SimScaleLayout, WeightIsSignedLittleEndian) {
    struct Case {
        int32_t weight;
        const char* bytes;
    };
    for (const Case& c : {Case{-1, "FF FF FF FF"}, Case{INT32_MIN, "00 00 00 80"}, Case{70000, "70 11 01 00"}}) {
        SimScale s;
        s.Update([&](ScaleState& st) {
            st.weight = c.weight;
            st.division = 5;
            st.stable = 0;
            st.net = 1;
            st.zero = 1;
        });
        EXPECT_EQ(AskPayload(s, H("23")), Cat({H("23"), H(c.bytes), H("05 00 01 01")}));
    }
}

// A set request followed by the matching get returns what was set.
TEST(SimScaleLayout, SetThenGetRoundTrip) {
    struct Case {
        const char* what;
        Bytes set;
        Bytes setReply;
        Bytes get;
        Bytes getReply;
    };
    const Case cases[] = {
        {"name", Cat({H("22"), Text("Kitchen"), H("0D 0A")}), H("22"), H("20"),
         Cat({H("20 39 30 00 00"), Text("Kitchen"), H("0D 0A")})},
        {"empty name", H("22 0D 0A"), H("22"), H("20"), H("20 39 30 00 00 0D 0A")},
        {"name without line end", Cat({H("22"), Text("Bare")}), H("22"), H("20"),
         Cat({H("20 39 30 00 00"), Text("Bare"), H("0D 0A")})},
        {"8-bit name", H("22 C2 E5 F1 FB 0D 0A"), H("22"), H("20"), H("20 39 30 00 00 C2 E5 F1 FB 0D 0A")},
        {"tare", H("A3 70 11 01 00"), H("A3"), H("A1"), H("A1 70 11 01 00")},
        {"negative tare", H("A3 FF FF FF FF"), H("A3"), H("A1"), H("A1 FF FF FF FF")},
        {"zero", H("72"), H("72"), H("23"), H("23 00 00 00 00 02 01 00 00")},
        {"ethernet", H("39 05 00 00 0A 00 00 00 FF 01 00 00 0A 50 00"), H("39 00"), H("2D"),
         H("2D 05 00 00 0A 00 00 00 FF 01 00 00 0A 50 00")},
        {"wifi ssid", Cat({H("3C 50 00"), Text("Home"), H("0D 0A"), Text("secret"), H("0D 0A")}), H("3C 00"),
         H("3A"), Cat({H("3A 50 00"), Text("Home"), H("0D 0A"), Text("secret"), H("0D 0A")})},
        {"wifi ssid and empty key", Cat({H("3C 50 00"), Text("Home"), H("0D 0A 0D 0A")}), H("3C 00"), H("3A"),
         Cat({H("3A 50 00"), Text("Home"), H("0D 0A 0D 0A")})},
        {"wifi ip", H("31 05 00 00 0A 00 00 00 FF 01 00 00 0A 01 04 A8 C0 88 13"), H("31 00"), H("33"),
         H("33 05 00 00 0A 00 00 00 FF 01 00 00 0A 01 04 A8 C0 88 13")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimScale s;
        EXPECT_EQ(AskPayload(s, c.set), c.setReply);
        EXPECT_EQ(AskPayload(s, c.get), c.getReply);
    }
}

TEST(SimScaleLayout, SetRequestsChangeTheState) {
    SimScale s;
    AskPayload(s, H("39 05 00 00 0A 00 00 00 FF 01 00 00 0A 50 00"));
    AskPayload(s, H("31 06 00 00 0A 00 00 00 FF 01 00 00 0A 01 04 A8 C0 88 13"));
    AskPayload(s, Cat({H("3C 50 00"), Text("Home"), H("0D 0A"), Text("secret"), H("0D 0A")}));
    AskPayload(s, H("72"));
    const ScaleState st = s.State();
    EXPECT_EQ(st.ethIp, 0x0A000005u);
    EXPECT_EQ(st.ethMask, 0xFF000000u);
    EXPECT_EQ(st.ethGateway, 0x0A000001u);
    EXPECT_EQ(st.ethPort, 80);
    EXPECT_EQ(st.wifiIp, 0x0A000006u);
    EXPECT_EQ(st.apIp, 0xC0A80401u);
    EXPECT_EQ(st.wifiPort, 80);  // the Wi-Fi port is one value, set by both Wi-Fi set requests
    EXPECT_EQ(st.ssid, "Home");
    EXPECT_EQ(st.key, "secret");
    EXPECT_EQ(st.weight, 0);
    EXPECT_TRUE(st.zeroSet);
}

TEST(SimScaleLayout, RefusalsAnswerNackAndKeepTheState) {
    struct Case {
        const char* what;
        void (*refuse)(ScaleState&);
        Bytes request;
    };
    const Case cases[] = {
        {"tare", [](ScaleState& s) { s.refuseTare = true; }, H("A3 10 00 00 00")},
        {"zero", [](ScaleState& s) { s.refuseZero = true; }, H("72")},
        {"name", [](ScaleState& s) { s.refuseName = true; }, Cat({H("22"), Text("Other"), H("0D 0A")})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimScale s;
        s.Update(c.refuse);
        EXPECT_EQ(AskPayload(s, c.request), H("15"));
        const ScaleState st = s.State();
        EXPECT_EQ(st.tare, 0);
        EXPECT_EQ(st.weight, 1000);
        EXPECT_FALSE(st.zeroSet);
        EXPECT_EQ(st.name, "Scale");
    }
}

TEST(SimScaleLayout, InterfaceErrorsAnswerTheLongErrorReply) {
    const char* ethernet[] = {"2D", "39 05 00 00 0A 00 00 00 FF 01 00 00 0A 50 00"};
    const char* wifi[] = {"3A", "33", "3C 88 13 4E 0D 0A 6B 0D 0A",
                          "31 05 00 00 0A 00 00 00 FF 01 00 00 0A 01 04 A8 C0 88 13"};
    for (const char* req : ethernet) {
        SimScale s;
        s.Update([](ScaleState& st) { st.ethernetError = true; });
        const Reply r = Ask(s, H(req));
        EXPECT_EQ(r.bytes.size(), 10u) << req;
        EXPECT_EQ(PayloadOf(r.bytes), H("28 11 00")) << req;
        EXPECT_EQ(s.State().ethIp, 0xC0A8010Au) << req;
        // Wi-Fi is not affected by the Ethernet error.
        EXPECT_EQ(AskPayload(s, H("3A"))[0], 0x3A);
    }
    for (const char* req : wifi) {
        SimScale s;
        s.Update([](ScaleState& st) { st.wifiError = true; });
        EXPECT_EQ(PayloadOf(Ask(s, H(req)).bytes), H("28 10 00")) << req;
        EXPECT_EQ(s.State().ssid, "Net") << req;
        EXPECT_EQ(s.State().wifiIp, 0xC0A8010Bu) << req;
        EXPECT_EQ(AskPayload(s, H("2D"))[0], 0x2D);
    }
}

// Texts whose read-back could not fit one frame are refused, not stored.
TEST(SimScaleLayout, TextsTooLongForTheReadBackAreRefused) {
    SimScale s;
    const Bytes longName(1488, 'n');
    EXPECT_EQ(AskPayload(s, Cat({H("22"), longName, H("0D 0A")})), H("15"));
    EXPECT_EQ(s.State().name, "Scale");
    const Bytes fits(1487, 'n');
    EXPECT_EQ(AskPayload(s, Cat({H("22"), fits, H("0D 0A")})), H("22"));
    const Bytes reply = Ask(s, H("20")).bytes;
    EXPECT_EQ(reply.size(), 1501u);
    EXPECT_EQ(PayloadOf(reply).size(), 1494u);

    // No line end after the key: the read-back adds CR LF that the request lacked.
    const Bytes ssid(1489, 's');
    EXPECT_EQ(AskPayload(s, Cat({H("3C 50 00"), ssid, H("0D 0A")})), H("28 06"));
    EXPECT_EQ(s.State().ssid, "Net");
    EXPECT_EQ(s.State().wifiPort, 5000);
}

TEST(SimScaleLayout, BadRequestChecksumIsAnsweredUnlessAsked) {
    Bytes bad = MakeFrame(H("A3 05 00 00 00"));
    bad[bad.size() - 1] ^= 0x5A;
    SimScale s;
    auto r = s.Feed(bad.data(), bad.size());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(PayloadOf(r[0].bytes), H("A3"));
    EXPECT_EQ(s.State().tare, 5);

    SimScale strict;
    strict.Update([](ScaleState& st) { st.ignoreBadChecksum = true; });
    r = strict.Feed(bad.data(), bad.size());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].silent);
    EXPECT_TRUE(r[0].bytes.empty());
    EXPECT_EQ(strict.State().tare, 0);
    EXPECT_EQ(strict.Requests().size(), 1u);
    // A good frame right after is still answered.
    EXPECT_EQ(AskPayload(strict, H("A1")), H("A1 00 00 00 00"));
}

// ---- faults ----

TEST(SimScaleFault, ReplyShapes) {
    struct Case {
        const char* what;
        Fault fault;
        Bytes request;
        Bytes reply;  // exact bytes sent
    };
    auto fault = [](FaultKind k) {
        Fault f{k};
        return f;
    };
    Fault err = fault(FaultKind::ErrorReply);
    err.errorCode = 0x11;
    Fault surplus = fault(FaultKind::Surplus);
    surplus.surplus = 3;
    Fault raw = fault(FaultKind::Raw);
    raw.raw = H("F8 55 CE 01");
    Fault short1 = fault(FaultKind::Short);
    Fault short3 = fault(FaultKind::Short);
    short3.shortBy = 3;
    const Bytes weight = MakeFrame(H("23 E8 03 00 00 02 01 00 00"));
    Bytes badCrc = weight;
    badCrc[14] ^= 0xFF;
    badCrc[15] ^= 0xFF;
    Bytes badHeader = weight;
    badHeader[0] = badHeader[1] = badHeader[2] = 0;
    const Case cases[] = {
        {"error reply", err, H("2D"), H("F8 55 CE 02 00 28 11 11 28")},
        {"refuse", fault(FaultKind::Refuse), H("23"), H("F8 55 CE 01 00 15 15 00")},
        {"surplus", surplus, H("23"), Cat({weight, H("00 00 00")})},
        {"raw", raw, H("23"), H("F8 55 CE 01")},
        {"short by one", short1, H("23"), MakeFrame(H("23 E8 03 00 00 02 01 00"))},
        {"short past the payload", short3, H("39 05 00 00 0A 00 00 00 FF 01 00 00 0A 50 00"),
         H("F8 55 CE 00 00 00")},
        {"bad checksum", fault(FaultKind::BadChecksum), H("23"), badCrc},
        {"bad header", fault(FaultKind::BadHeader), H("23"), badHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimScale s;
        s.AddFault(c.fault);
        const Reply r = Ask(s, c.request);
        EXPECT_FALSE(r.silent || r.drop);
        EXPECT_EQ(r.delayMs, 0);
        EXPECT_TRUE(r.pieces.empty());
        EXPECT_EQ(r.bytes, c.reply);
        // Only the next request was affected.
        EXPECT_EQ(Ask(s, H("23")).bytes, weight);
    }
}

TEST(SimScaleFault, SilenceAndDropSendNothing) {
    for (FaultKind k : {FaultKind::Silence, FaultKind::Drop}) {
        SimScale s;
        s.AddFault(Fault{k});
        const Reply r = Ask(s, H("A3 05 00 00 00"));
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_EQ(r.silent, k == FaultKind::Silence);
        EXPECT_EQ(r.drop, k == FaultKind::Drop);
        EXPECT_EQ(s.State().tare, 0);  // a request that got lost did nothing
        EXPECT_EQ(s.Requests().size(), 1u);
    }
}

TEST(SimScaleFault, MangledRepliesStillCarryTheRequestOut) {
    for (FaultKind k : {FaultKind::Delay, FaultKind::Split, FaultKind::Surplus, FaultKind::Short,
                        FaultKind::BadChecksum, FaultKind::BadHeader}) {
        SimScale s;
        s.AddFault(Fault{k});
        Ask(s, H("A3 05 00 00 00"));
        EXPECT_EQ(s.State().tare, 5) << static_cast<int>(k);
    }
    for (FaultKind k : {FaultKind::Refuse, FaultKind::ErrorReply, FaultKind::Raw}) {
        SimScale s;
        s.AddFault(Fault{k});
        Ask(s, H("A3 05 00 00 00"));
        EXPECT_EQ(s.State().tare, 0) << static_cast<int>(k);
    }
}

TEST(SimScaleFault, DelayAndSplitTellTheTransportHowToPace) {
    SimScale s;
    Fault d{FaultKind::Delay};
    d.delayMs = 250;
    s.AddFault(d);
    Reply r = Ask(s, H("23"));
    EXPECT_EQ(r.delayMs, 250);
    EXPECT_EQ(r.bytes, MakeFrame(H("23 E8 03 00 00 02 01 00 00")));

    Fault sp{FaultKind::Split};
    sp.pieces = {6, 10};
    sp.delayMs = 40;
    s.AddFault(sp);
    r = Ask(s, H("20"));  // 19 bytes: 6, 10, 3
    ASSERT_EQ(r.pieces.size(), 3u);
    EXPECT_EQ(r.pieces[0].first.size(), 6u);
    EXPECT_EQ(r.pieces[1].first.size(), 10u);
    EXPECT_EQ(r.pieces[2].first.size(), 3u);
    EXPECT_EQ(r.pieces[0].second, 0);
    EXPECT_EQ(r.pieces[1].second, 40);
    EXPECT_EQ(r.pieces[2].second, 40);
    Bytes joined;
    for (const auto& p : r.pieces) joined.insert(joined.end(), p.first.begin(), p.first.end());
    EXPECT_EQ(joined, r.bytes);

    // Pieces larger than the reply stop at its end; none given means two halves.
    Fault big{FaultKind::Split};
    big.pieces = {5, 100};
    s.AddFault(big);
    r = Ask(s, H("72"));
    ASSERT_EQ(r.pieces.size(), 2u);
    EXPECT_EQ(r.pieces[1].first.size(), 3u);
    s.AddFault(Fault{FaultKind::Split});
    r = Ask(s, H("72"));
    ASSERT_EQ(r.pieces.size(), 2u);
    EXPECT_EQ(r.pieces[0].first.size(), 4u);
}

// A late reply carries the weight of its request; the load changes once it
// is built, so the next request sees the new one.
TEST(SimScaleFault, WeightAfterChangesTheLoadBehindTheFaultedReply) {
    SimScale s;
    Fault late{FaultKind::Delay};
    late.delayMs = 2600;
    late.weightAfter = 2000;
    s.AddFault(late);
    EXPECT_EQ(Ask(s, H("23")).bytes, MakeFrame(H("23 E8 03 00 00 02 01 00 00")));
    EXPECT_EQ(s.State().weight, 2000);
    EXPECT_EQ(Ask(s, H("23")).bytes, MakeFrame(H("23 D0 07 00 00 02 01 00 00")));
}

TEST(SimScaleFault, MatchingCountAndOrder) {
    SimScale s;
    Fault forName{FaultKind::Refuse};
    forName.command = CMD_GET_NAME;
    forName.count = 2;
    s.AddFault(forName);
    Fault anyFirst{FaultKind::Silence};  // added second: only after the name fault is used up
    anyFirst.count = 1;
    s.AddFault(anyFirst);

    EXPECT_TRUE(Ask(s, H("23")).silent);          // name fault does not match; the any-command one does
    EXPECT_EQ(AskPayload(s, H("23"))[0], 0x23);   // that one is spent
    EXPECT_EQ(AskPayload(s, H("20")), H("15"));   // name fault, 1 of 2
    EXPECT_EQ(AskPayload(s, H("20")), H("15"));   // 2 of 2
    EXPECT_EQ(AskPayload(s, H("20"))[0], 0x20);   // spent

    Fault every{FaultKind::Refuse};
    every.command = CMD_GET_TARE;
    every.count = -1;
    s.AddFault(every);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(AskPayload(s, H("A1")), H("15"));
    EXPECT_EQ(AskPayload(s, H("23"))[0], 0x23);
    s.ClearFaults();
    EXPECT_EQ(AskPayload(s, H("A1"))[0], 0xA1);
}

TEST(SimScaleFault, ARequestConsumesOneFault) {
    SimScale s;
    s.AddFault(Fault{FaultKind::Refuse});
    Fault e{FaultKind::ErrorReply};
    e.errorCode = 3;
    s.AddFault(e);
    EXPECT_EQ(AskPayload(s, H("23")), H("15"));
    EXPECT_EQ(AskPayload(s, H("23")), H("28 03"));
    EXPECT_EQ(AskPayload(s, H("23"))[0], 0x23);
}

// ---- byte stream ----

TEST(SimScaleStream, PartialFramesAreKeptBetweenFeeds) {
    SimScale s;
    const Bytes f = MakeFrame(H("A3 10 27 00 00"));
    for (size_t i = 0; i + 1 < f.size(); ++i) EXPECT_TRUE(s.Feed(&f[i], 1).empty()) << i;
    auto r = s.Feed(&f.back(), 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(PayloadOf(r[0].bytes), H("A3"));
    EXPECT_EQ(s.Requests(), std::vector<Bytes>{f});
}

TEST(SimScaleStream, SeveralFramesAndNoise) {
    SimScale s;
    const Bytes a = MakeFrame(H("20")), b = MakeFrame(H("23")), c = MakeFrame(H("A1"));
    // Noise before, between (including a stray F8 and a false F8 55), and a partial frame after.
    const Bytes chunk = Cat({H("00 13 F8 11"), a, H("F8 55 00"), b, Bytes(c.begin(), c.begin() + 4)});
    auto r = s.Feed(chunk.data(), chunk.size());
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(PayloadOf(r[0].bytes)[0], 0x20);
    EXPECT_EQ(PayloadOf(r[1].bytes)[0], 0x23);
    r = s.Feed(c.data() + 4, c.size() - 4);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(PayloadOf(r[0].bytes)[0], 0xA1);
    EXPECT_EQ(s.Requests(), (std::vector<Bytes>{a, b, c}));
    s.ClearRequests();
    EXPECT_TRUE(s.Requests().empty());
}

TEST(SimScaleStream, ImpossibleLengthIsNotWaitedFor) {
    SimScale s;
    // Announces 0xFFFF bytes; the frame right behind it must still be found.
    const Bytes chunk = Cat({H("F8 55 CE FF FF"), MakeFrame(H("23"))});
    auto r = s.Feed(chunk.data(), chunk.size());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(PayloadOf(r[0].bytes)[0], 0x23);

    FrameAssembler a;
    const Bytes noise(100000, 0xF8);
    EXPECT_TRUE(a.Push(noise.data(), noise.size()).empty());
    EXPECT_LE(a.Pending(), 2u);  // at most a header prefix is kept
}

TEST(SimScaleStream, ResetDropsAPartialFrame) {
    SimScale s;
    const Bytes f = MakeFrame(H("20"));
    s.Feed(f.data(), 5);
    s.ResetInput();
    EXPECT_TRUE(s.Feed(f.data() + 5, f.size() - 5).empty());
    EXPECT_EQ(s.Feed(f.data(), f.size()).size(), 1u);
}

TEST(SimScaleStream, ObserverSeesEveryRequest) {
    SimScale s;
    std::vector<Bytes> seen;
    s.SetRequestObserver([&](const Bytes& f) { seen.push_back(f); });
    const Bytes chunk = Cat({MakeFrame(H("20")), MakeFrame(H("55"))});
    s.Feed(chunk.data(), chunk.size());
    EXPECT_EQ(seen, (std::vector<Bytes>{MakeFrame(H("20")), MakeFrame(H("55"))}));
}
