// link_client: asks a scale for its serial number and name over the scale
// link, the way the driver does before anything else.
//
//   link_client 127.0.0.1:5001      TCP: connect, send, receive
//   link_client COM5                serial: try the three line settings in
//                                   turn until the scale answers
//   link_client COM5 127.0.0.1:5001 several connections, one after another
//
// Every step goes through TRequestCycle: the request is posted to the
// exchange worker, which does the blocking I/O while this (the caller's)
// thread sleeps and keeps its window messages flowing. Each step answers a
// result code: 0 success, 1 link failure, 2 no acceptable reply, others are
// the scale's own error codes.
//
// Exit status: 0 when every connection answered, 1 otherwise, 2 on usage.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "link/ComUnit.h"
#include "link/Frame.h"
#include "link/RequestCycle.h"
#include "link/TextNumber.h"

using namespace pesolink;

namespace {

// Puts the one-byte name query into the frame buffer; SendToLan/SendToCom
// wrap it into F8 55 CE 01 00 20 20 00.
void PutNameQuery(TScalesThread& worker) {
    worker.Command.Buf[5] = CMD_GET_NAME;
    worker.Command.Length = 1;
}

// Prints the reply frame in hex, then what a name reply carries: payload
// bytes 1-4 the serial number (low byte first), from byte 5 the name up to CR.
void PrintNameReply(const TCommand& reply) {
    std::printf("  reply frame (%d bytes):", static_cast<int>(reply.Length));
    for (int32_t i = 0; i < reply.Length; ++i) std::printf(" %02X", reply.Buf[i]);
    std::printf("\n");
    if (reply.Length < 14) {
        std::printf("  too short to carry a serial number and a name\n");
        return;
    }
    const uint8_t* payload = reply.Buf + 5;
    const int32_t payloadLength = reply.Length - FrameOverhead;
    const uint32_t serial = payload[1] | (payload[2] << 8) | (payload[3] << 16) |
                            (static_cast<uint32_t>(payload[4]) << 24);
    std::string name;
    for (int32_t i = 5; i < payloadLength && payload[i] != 0x0D; ++i) name += static_cast<char>(payload[i]);
    std::printf("  serial number: %u\n  name: \"%s\"\n", serial, name.c_str());
}

int32_t NameExchange(TRequestCycle& cycle, bool serial) {
    PutNameQuery(cycle.Thread());
    const int32_t sent = serial ? cycle.SendToCom() : cycle.SendToLan();
    if (sent != 0) return sent;
    return serial ? cycle.ReadFromCom() : cycle.ReadFromLan();
}

bool AskOverTcp(TRequestCycle& cycle, const std::string& text) {
    const std::size_t colon = text.find(':');
    const auto port = colon == std::string::npos ? std::nullopt : ParseInt32(text.substr(colon + 1));
    if (!port) {
        std::printf("%s: expected host:port\n", text.c_str());
        return false;
    }
    TScalesThread& worker = cycle.EnsureThread();
    worker.Iface = IfaceLan;
    worker.Host = text.substr(0, colon);
    worker.Port = *port;
    worker.ReadTimeout = 2000;  // ms one read waits for the reply
    int32_t result = cycle.RunRequest(ModeConnect);
    if (result != 0) {
        std::printf("%s: connect failed (result %d)\n", text.c_str(), static_cast<int>(result));
        return false;
    }
    result = NameExchange(cycle, false);
    cycle.RunRequest(ModeClose);
    if (result != 0) {
        std::printf("%s: no reply (result %d)\n", text.c_str(), static_cast<int>(result));
        return false;
    }
    std::printf("%s: reply\n", text.c_str());
    PrintNameReply(worker.Command);
    return true;
}

bool AskOverSerial(TRequestCycle& cycle, const std::string& text) {
    // The scale answers at one of these; which one is found by trying.
    static const struct {
        int32_t mode;
        const char* line;
    } steps[] = {
        {ModeOpen4800, "4800 baud, even parity"},
        {ModeOpen57600, "57600 baud, no parity"},
        {ModeOpen19200, "19200 baud, space parity"},
    };
    TScalesThread& worker = cycle.EnsureThread();
    worker.Iface = IfaceCom;
    worker.Host = text;                 // "COM5": the port number follows the first three characters
    worker.ReadTimeout = static_cast<uint32_t>(ComSoftTimeout);  // receive deadline, ms
    for (const auto& step : steps) {
        cycle.RunRequest(ModeClose);
        const int32_t opened = cycle.RunRequest(step.mode);
        if (opened != 0) {
            std::printf("%s: cannot open the port (result %d)\n", text.c_str(), static_cast<int>(opened));
            return false;
        }
        const int32_t result = NameExchange(cycle, true);
        if (result == 0) {
            std::printf("%s: reply at %s\n", text.c_str(), step.line);
            PrintNameReply(worker.Command);
            cycle.RunRequest(ModeClose);
            return true;
        }
        std::printf("%s: no reply at %s (result %d)\n", text.c_str(), step.line, static_cast<int>(result));
    }
    cycle.RunRequest(ModeClose);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: link_client CONNECTION...   (COM5, 127.0.0.1:5001)\n");
        return 2;
    }
    // One request cycle (and so one exchange worker) serves every connection,
    // as one driver object would.
    TRequestCycle cycle;
    bool allAnswered = true;
    for (int i = 1; i < argc; ++i) {
        const std::string text = argv[i];
        bool answered = false;
        if (!text.empty() && text[0] == 'C') {
            answered = AskOverSerial(cycle, text);
        } else if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
            answered = AskOverTcp(cycle, text);
        } else {
            std::printf("%s: names no transport (COM5 or host:port)\n", text.c_str());
        }
        allAnswered = allAnswered && answered;
        std::fflush(stdout);
    }
    return allAnswered ? 0 : 1;
}
