// In-memory far end for the fuzz targets. FakeLink.cpp stands in, at link
// time, for the two platform transports of the scale link (the TCP client and
// the serial module): the real exchange worker, request cycle, frame rules
// and driver object run unchanged on top of it, and every reply they receive
// comes from a script that the fuzzer's bytes fill.
//
// Each request written to either transport takes the next scripted reply and
// lays its bytes in the receive queue, cut into pieces. TCP hands back one
// piece per read; the serial module one piece per read call. When the queue
// is empty a TCP read reports a time-out and a serial read sleeps out the
// receive deadline (SerialSilenceMs) and returns nothing: the worker ends
// with its "no acceptable reply" code either way, only faster than a real
// line would let it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pesolink::fuzz {

using Bytes = std::vector<uint8_t>;

struct ScriptedReply {
    Bytes bytes;
    std::size_t pieceSize = 0;  // 0: all bytes in one piece
    bool hangUp = false;        // the far end closes the connection after the bytes
};

// The fuzz input format shared by the targets that take replies:
//   per reply: one shape byte (bits 0-6 piece size, 0 = one piece; bit 7 =
//   the far end hangs up after the bytes), the byte count n (2 bytes, low
//   byte first), then n bytes (fewer when the input ends first).
// A reply of 0 bytes is silence.
std::vector<ScriptedReply> ParseReplies(const uint8_t* data, std::size_t size);

// Every piece of a reply as the transport will hand it back.
std::vector<Bytes> Pieces(const ScriptedReply& reply);

// One request as the far end saw it: the frame, the reply it took (none
// when the script had run out) and how long after the request the last read
// that handed back bytes ended: an upper bound of how long the receive took
// over them, so that a caller can tell whether a deadline can have cut in.
struct Exchange {
    Bytes request;
    bool answered = false;
    ScriptedReply reply;
    long readMicros = 0;
};

class FakeLink {
public:
    // Forgets the script, the requests, the connection and the open port.
    static void Reset();
    static void Queue(const ScriptedReply& reply);
    static void Queue(const std::vector<ScriptedReply>& replies);
    static std::size_t Unanswered();  // scripted replies not yet taken
    static void ClearScript();        // drops the replies not yet taken

    // Every frame written, in order, on either transport.
    static std::vector<Bytes> Written();
    static std::vector<Exchange> Exchanges();

    // TCP side.
    static bool TcpConnected();
    static int ConnectAttempts();
    static std::string LastHost();
    static uint16_t LastPort();

    // Serial side.
    static bool PortOpen();
    static int OpenAttempts();
    static uint16_t LastPortNumber();
    static uint32_t LastBaud();

    // How long a serial read call with nothing to hand back sleeps.
    static void SetSerialSilenceMs(int ms);
};

}  // namespace pesolink::fuzz
