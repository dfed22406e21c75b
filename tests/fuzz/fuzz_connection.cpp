// The connection text, from the Connection property down to the transport:
// OpenConnection on a fresh object with the fuzzer's text must pick the
// transport by the first character, hand the serial port number or the TCP
// host and port that the grammar gives to the link (and nothing where the
// text names no transport), answer with its result code, and leave the
// object in a state where CloseConnection answers as the text says.
//
// Input: byte 0 selects how the rest becomes text: even = one character per
// byte, odd = UTF-16 code units, low byte first.
#include <optional>
#include <stdexcept>
#include <string>

#include "driver/Logging.h"
#include "driver/Scales.h"
#include "link/ComUnit.h"
#include "link/TextNumber.h"
#include "tests/fuzz/FakeLink.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;
using namespace pesolink::fuzz;

namespace {

const Bytes NameReply = Frame({0x20, 0x39, 0x30, 0x00, 0x00, 'S', 'c', 'a', 'l', 'e', 0x0D, 0x0A});

// ASCII form of a text, or nothing when a character lies outside ASCII.
std::optional<std::string> Ascii(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x80) return std::nullopt;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

struct Startup {
    Startup() {
        ComSoftTimeout = 1000;  // the far end always answers at once
        // Every log line is formed and written; /dev/null takes them.
        SetLogTarget(u"/dev/null", true);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Startup startup;
    if (size < 1) return 0;
    std::u16string text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 1; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
    }

    FakeLink::Reset();
    for (int i = 0; i < 3; ++i) FakeLink::Queue(ScriptedReply{NameReply, 0, false});
    TScales s;
    s.put_Connection(text);
    FUZZ_CHECK(s.get_Connection() == text, "Connection put changed the text");
    const int32_t result = s.OpenConnection();

    const char16_t first = text.empty() ? u'\0' : text[0];
    bool hasWorker = true;
    if (text.empty() || (first != u'C' && !IsDigit(first))) {
        FUZZ_CHECK(result == 1, "no transport gave %d", result);
        FUZZ_CHECK(FakeLink::OpenAttempts() == 0 && FakeLink::ConnectAttempts() == 0, "a transport was used");
        hasWorker = false;
    } else if (first == u'C') {
        if (text.size() < 4) {
            FUZZ_CHECK(result == 1 && FakeLink::OpenAttempts() == 0, "short serial text gave %d", result);
            hasWorker = false;
        } else {
            // The port number is the text from its fourth character on.
            const std::optional<std::string> number = Ascii(std::u16string_view(text).substr(3));
            const std::optional<int32_t> port = number ? ParseInt32(*number) : std::nullopt;
            if (!port || *port == -1) {
                FUZZ_CHECK(result == 1 && FakeLink::OpenAttempts() == 0, "no port number, result %d", result);
                FUZZ_CHECK(s.get_BaudRate() == 4800 && s.get_Parity() == 2, "first line setting kept");
            } else {
                FUZZ_CHECK(result == 0, "port %d gave %d", *port, result);
                FUZZ_CHECK(FakeLink::LastPortNumber() == static_cast<uint16_t>(*port & 0xFFFF), "port %u for %d",
                           FakeLink::LastPortNumber(), *port);
                FUZZ_CHECK(FakeLink::LastBaud() == 4800 && s.get_BaudRate() == 4800, "answered at 4800");
            }
            FUZZ_CHECK(FakeLink::ConnectAttempts() == 0, "a serial text connected over TCP");
        }
    } else {
        // TCP: the host is the group before the last colon, the port what
        // follows it.
        std::u16string host, group;
        for (char16_t c : text) {
            if (c == u':') {
                host = group;
                group.clear();
            } else {
                group.push_back(c);
            }
        }
        const int32_t port = ParseInt32(std::u16string_view(group)).value_or(0);
        const std::string asciiHost = Ascii(host).value_or("");
        FUZZ_CHECK(FakeLink::ConnectAttempts() == 1 && FakeLink::OpenAttempts() == 0, "one connect");
        FUZZ_CHECK(FakeLink::LastHost() == asciiHost, "host \"%s\", the grammar gives \"%s\"",
                   FakeLink::LastHost().c_str(), asciiHost.c_str());
        FUZZ_CHECK(FakeLink::LastPort() == static_cast<uint16_t>(port & 0xFFFF), "port %u for %d",
                   FakeLink::LastPort(), port);
        const bool connects = !asciiHost.empty() && (port & 0xFFFF) != 0;
        FUZZ_CHECK(result == (connects ? 0 : 1), "TCP text gave %d", result);
        FUZZ_CHECK(s.get_BaudRate() == 0 && s.get_Parity() == 0, "TCP touched the line setting");
    }

    // CloseConnection follows the same text: 1 without a transport, 0 with
    // one, and an error status where the text named one but no worker was
    // ever made.
    try {
        const int32_t closed = s.CloseConnection();
        FUZZ_CHECK(hasWorker || text.empty() || (first != u'C' && !IsDigit(first)), "close without a worker");
        FUZZ_CHECK(closed == (hasWorker ? 0 : 1), "CloseConnection gave %d", closed);
    } catch (const std::logic_error&) {
        FUZZ_CHECK(!hasWorker && first == u'C', "CloseConnection raised");
    }
    return 0;
}
