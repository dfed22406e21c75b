// The simulated scale's protocol brain: it keeps a scale's state, splits the
// received byte stream into request frames and builds the reply to each one,
// misbehaving on request (faults). No I/O here; the transports are SimServer.
//
// Behaviour worth knowing when writing tests against it:
// - Bytes in front of a frame header are skipped; a frame announcing more
//   than the largest payload (1494 bytes) is not waited for: its header is
//   dropped and the stream searched again, so the input buffer stays bounded.
// - A request whose checksum is wrong is answered like any other, as the
//   device does; set ScaleState::ignoreBadChecksum to have it ignored instead.
// - Faults that change the reply (Delay, Split, Surplus, Short, BadChecksum,
//   BadHeader) still carry the request out; faults that stand for a lost or
//   refused request (Silence, Drop, ErrorReply, Refuse, Raw) leave the state
//   unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pesolink::sim {

struct ScaleState {
    int32_t weight = 1000;
    uint8_t division = 2, stable = 1, net = 0, zero = 0;
    int32_t tare = 0;
    bool zeroSet = false;
    uint32_t serial = 12345;
    std::string name = "Scale";  // name, ssid and key are raw 8-bit bytes
    uint32_t ethIp = 0xC0A8010A, ethMask = 0xFFFFFF00, ethGateway = 0xC0A80101;  // 192.168.1.10 ...
    uint16_t ethPort = 5001;
    std::string ssid = "Net", key = "key";
    uint32_t wifiIp = 0xC0A8010B, wifiMask = 0xFFFFFF00, wifiGateway = 0xC0A80101, apIp = 0xC0A80401;
    uint16_t wifiPort = 5000;
    uint8_t interfaces = 0x0D;  // bit0 RS-232, bit1 USB, bit2 Ethernet, bit3 Wi-Fi
    // As shown: ethMac[0] is the first group of "AA:BB:CC:DD:EE:FF".
    std::array<uint8_t, 6> ethMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::array<uint8_t, 6> wifiMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
    bool refuseTare = false, refuseZero = false, refuseName = false;  // answer 0x15
    bool ethernetError = false;  // Ethernet get/set answer 28 11 00
    bool wifiError = false;      // Wi-Fi commands answer 28 10 00
    bool ignoreBadChecksum = false;  // drop requests whose checksum is wrong
};

enum class FaultKind { Silence, Delay, Split, Surplus, ErrorReply, Refuse, Short, BadChecksum, BadHeader, Drop, Raw };

struct Fault {
    FaultKind kind;
    int command = -1;         // command code it applies to, -1 = any
    int count = 1;            // how many matching requests it affects, -1 = every one
    int delayMs = 0;          // Delay: wait before replying; Split: gap between pieces
    std::vector<int> pieces{}; // Split: sizes of the leading pieces (rest is the last piece); empty = two halves
    int surplus = 1;          // Surplus: extra bytes after the frame
    uint8_t errorCode = 0;    // ErrorReply: the 9-byte reply F8 55 CE 02 00 28 e e 28
    int shortBy = 1;          // Short: frame shortened by this many bytes, length field kept consistent
                              // (past an empty payload the 7-byte frame itself is cut)
    std::vector<uint8_t> raw{}; // Raw: send exactly these bytes
    // Any kind: the weight the scale shows once this reply is built (a new
    // load put on while a delayed reply is still on its way).
    std::optional<int32_t> weightAfter{};
};

// What a transport does with one request. `bytes` is the whole reply. When
// `pieces` is not empty the transport sends those instead, in order, waiting
// each piece's delay (ms) before it; `delayMs` is waited before anything.
// `drop`: close the connection instead of answering; `silent`: send nothing.
struct Reply {
    std::vector<uint8_t> bytes;
    int delayMs = 0;
    std::vector<std::pair<std::vector<uint8_t>, int>> pieces;
    bool drop = false;
    bool silent = false;
};

// Error codes the simulated scale puts into its 0x28 error reply.
constexpr uint8_t ErrUnknownCommand = 0x07;
constexpr uint8_t ErrMalformedRequest = 0x06;

// Builds a whole frame (envelope, payload, checksum) around a payload.
std::vector<uint8_t> MakeFrame(const std::vector<uint8_t>& payload);

// Splits a byte stream into frames; keeps a partial frame between calls.
class FrameAssembler {
public:
    // Appends bytes and returns every frame completed by them.
    std::vector<std::vector<uint8_t>> Push(const uint8_t* data, size_t n);
    void Reset() { buf_.clear(); }
    size_t Pending() const { return buf_.size(); }

private:
    std::vector<uint8_t> buf_;
};

class SimScale {
public:
    ScaleState State() const;
    void SetState(const ScaleState&);
    void Update(const std::function<void(ScaleState&)>&);
    void AddFault(const Fault&);
    void ClearFaults();
    // Feed received bytes; returns the replies for every complete request frame found.
    std::vector<Reply> Feed(const uint8_t* data, size_t n);  // keeps partial frames between calls
    // Drops a partial frame kept by Feed (garbled line, new connection).
    void ResetInput();
    // Answers one complete request frame; for transports with their own FrameAssembler.
    Reply Handle(const std::vector<uint8_t>& frame);
    std::vector<std::vector<uint8_t>> Requests() const;  // every complete request frame received, in order
    void ClearRequests();
    // Called with every complete request frame, outside the lock.
    void SetRequestObserver(std::function<void(const std::vector<uint8_t>&)>);

private:
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& payload);  // under mu_
    bool TakeFault(int command, Fault& out);

    mutable std::mutex mu_;
    ScaleState state_;
    std::vector<Fault> faults_;
    std::vector<std::vector<uint8_t>> requests_;
    FrameAssembler input_;
    std::function<void(const std::vector<uint8_t>&)> observer_;
};

}  // namespace pesolink::sim
