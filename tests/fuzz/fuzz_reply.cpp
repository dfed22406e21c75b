// Reply acceptance by the exchange worker: the fuzzer's bytes come back as
// the replies to weight requests, whole or in pieces, over TCP or the serial
// port. Every receive must post the code and leave the frame that the
// acceptance rules give, never store a byte past the frame buffer, and the
// link must go on working afterwards.
//
// Input: byte 0 bit 0 = serial port (else TCP); then replies as in
// FakeLink.h.
#include <chrono>
#include <cstring>

#include "link/RequestCycle.h"
#include "tests/fuzz/FakeLink.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;
using namespace pesolink::fuzz;

namespace {

constexpr uint32_t SerialDeadline = 2;  // ms; a silent read call sleeps past it

const Bytes WeightReply = Frame({0x23, 0xE8, 0x03, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01});

void OpenLink(TRequestCycle& cycle, bool serial) {
    TScalesThread& t = cycle.EnsureThread();
    t.Command.Length = 0;
    if (serial) {
        t.Iface = IfaceCom;
        t.Host = "COM1";
        t.ReadTimeout = SerialDeadline;
        FUZZ_CHECK(cycle.RunRequest(ModeOpen4800) == 0, "serial open");
    } else {
        t.Iface = IfaceLan;
        t.Host = "127.0.0.1";
        t.Port = 5001;
        t.ReadTimeout = 2000;
        cycle.RunRequest(ModeClose);
        FUZZ_CHECK(cycle.RunRequest(ModeConnect) == 0, "TCP connect");
    }
}

// Sends the weight request and receives its reply; returns the receive's
// response code and how long the receive took.
int ExchangeOnce(TRequestCycle& cycle, long& receiveMs) {
    TScalesThread& t = cycle.Thread();
    t.Command.Buf[5] = CMD_GET_WEIGHT;
    t.Command.Length = 1;
    const int sent = cycle.SendToLan();
    FUZZ_CHECK(sent == 0 || sent == 1, "send gave %d", sent);
    const auto t0 = std::chrono::steady_clock::now();
    cycle.ReadFromLan();
    receiveMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - t0)
                                      .count());
    return sent == 0 ? t.Response.load() : -2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool serial = (data[0] & 1) != 0;
    const std::vector<ScriptedReply> replies = ParseReplies(data + 1, size - 1);
    if (replies.size() > 8) return 0;  // more says nothing new and costs time

    FakeLink::Reset();
    FakeLink::SetSerialSilenceMs(static_cast<int>(SerialDeadline) + 1);
    TRequestCycle cycle;
    OpenLink(cycle, serial);
    TScalesThread& t = cycle.Thread();

    for (const ScriptedReply& reply : replies) {
        FakeLink::Queue(reply);
        long ms = 0;
        const int code = ExchangeOnce(cycle, ms);
        if (code == -2) {
            // The far end hung up in an earlier reply: the send fails with
            // a link failure and nothing goes out.
            FUZZ_CHECK(!serial && !FakeLink::TcpConnected(), "send refused on a working link");
            FakeLink::ClearScript();
            OpenLink(cycle, serial);
            continue;
        }
        FUZZ_CHECK(t.Command.Length >= 0 && t.Command.Length <= FrameBufSize, "Length %d",
                   static_cast<int>(t.Command.Length));
        FUZZ_CHECK(code >= 0 && code <= 255, "response %d", code);

        const Accepted want = serial ? AcceptSerial(reply) : AcceptTcp(reply);
        // A serial receive whose clock ran out while pieces still came is a
        // time-out by right; only a quick one must match the rules exactly.
        const bool exact = !serial || ms + 1 < static_cast<long>(SerialDeadline);
        if (exact) {
            FUZZ_CHECK(code == want.code, "response %d, the rules give %d", code, want.code);
            FUZZ_CHECK(static_cast<std::size_t>(t.Command.Length) == want.frame.size(),
                       "Length %d, the rules give %zu", static_cast<int>(t.Command.Length),
                       want.frame.size());
            FUZZ_CHECK(want.frame.empty() || std::memcmp(t.Command.Buf, want.frame.data(), want.frame.size()) == 0,
                       "frame differs from the bytes received");
        }
        if (!serial && !FakeLink::TcpConnected()) OpenLink(cycle, serial);
    }

    // Whatever came before, an ordinary reply is taken as it is (with a
    // deadline that no machine hiccup can miss).
    t.ReadTimeout = serial ? 1000 : 2000;
    FakeLink::Queue(ScriptedReply{WeightReply, 0, false});
    long ms = 0;
    int code = ExchangeOnce(cycle, ms);
    if (code == -2) {
        FakeLink::ClearScript();
        OpenLink(cycle, serial);
        FakeLink::Queue(ScriptedReply{WeightReply, 0, false});
        code = ExchangeOnce(cycle, ms);
    }
    FUZZ_CHECK(code == 0, "ordinary reply after the fuzzed ones gave %d", code);
    FUZZ_CHECK(t.Command.Length == static_cast<int32_t>(WeightReply.size()), "ordinary reply length");
    return 0;
}
