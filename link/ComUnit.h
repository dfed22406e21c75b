// The serial module: ports opened by number with fixed line settings,
// synchronous writes and single read calls shaped by the port's time-outs.
// It moves bytes and knows nothing of frames.
//
// Two ways in:
// - ComPortHold, for the driver's exchange workers: every port number has one
//   entry (device, line setting, read time-outs, number of holders); callers
//   naming the same port share it, and take turns for their exchanges.
// - The single-port calls (ComOpen ... ComClose on ComPortNumber and
//   ComParity), for a caller that uses one port by itself: the configuration
//   tool's own probe.
#pragma once

#include <cstdint>
#include <string>

namespace pesolink {

// Module-wide settings. ComSoftTimeout and ComHardTimeout are loaded with
// the driver's settings and taken by every port when it is opened.
extern uint16_t ComPortNumber;   // single-port calls: port to open; set before ComOpen
extern uint8_t ComParity;        // single-port calls: 0 none, 1 odd, 2 even, 3 mark, 4 space
extern int32_t ComSoftTimeout;   // driver: receive deadline, ms (default 2000)
extern int32_t ComHardTimeout;   // inter-byte read time-out, ms (default 500)

constexpr int32_t ComReadChunk = 2000;  // most bytes one read call takes
constexpr int32_t ComReadTotalTimeout = 1000;

// Name of the device behind a port number ("\\.\COM3" on Windows).
std::string ComDeviceName(uint16_t portNumber);

// ---------------------------------------------------------------------------
// The platform's steps on one open device (a descriptor or a handle).

using ComDevice = intptr_t;
constexpr ComDevice ComNoDevice = -1;

ComDevice ComOpenDevice(uint16_t portNumber);
// Read and write time-outs from ComHardTimeout as it is now.
bool ComDeviceSetTimeouts(ComDevice device);
bool ComDeviceSetBuffers(ComDevice device, uint32_t inQueue, uint32_t outQueue);
bool ComDeviceSetState(ComDevice device, uint32_t baud, uint8_t parity);
int32_t ComDeviceWrite(ComDevice device, const uint8_t* data, int32_t count);
// One read call; interByteMs is the gap the device's time-outs were set with
// (a platform whose device keeps its own time-outs goes by those).
int32_t ComDeviceRead(ComDevice device, uint8_t* dest, int32_t capacity, int32_t interByteMs);
void ComDeviceDiscardInput(ComDevice device);
void ComDeviceClose(ComDevice device);

// ---------------------------------------------------------------------------
// Single-port calls: one port at a time for their caller; a second ComOpen
// closes the first.

bool ComOpen(uint32_t inQueue, uint32_t outQueue, uint32_t baud);
bool ComSetTimeouts();
bool ComSetBuffers(uint32_t inQueue, uint32_t outQueue);
bool ComSetState(uint32_t baud);
// Writes count bytes in one synchronous write; returns the count written.
int32_t ComWrite(const uint8_t* data, int32_t count);
// One read call of at most min(2000, capacity) bytes into dest; it ends at
// 2000 bytes, an inter-byte gap over ComHardTimeout, or 1000 ms in all.
// Returns 0 at once when no port is open or the read fails.
int32_t ComRead(uint8_t* dest, int32_t capacity);
// Drops whatever has arrived and not been read yet.
void ComDiscardInput();
void ComClose();
bool ComIsOpen();

// ---------------------------------------------------------------------------
// Shared ports.

struct ComPortEntry;

// One caller's hold on a port entry. The first holder opens the device, the
// last one to let go closes it. Holders of one port never interleave their
// exchanges: a send-and-receive runs between BeginExchange and EndExchange,
// and BeginExchange waits while another holder's exchange runs (for at most
// waitMs: a holder whose exchange cannot go on, because its caller is busy in
// a nested call that waits for this one, must not hold the others for ever).
// Each holder keeps the line setting of its own last Open; an exchange puts
// it on the line when another holder's setting is there.
// A hold is used by one thread at a time (its worker); Release may come from
// another thread once that one is done with it.
class ComPortHold {
public:
    ComPortHold() = default;
    ~ComPortHold() { Release(); }
    ComPortHold(const ComPortHold&) = delete;
    ComPortHold& operator=(const ComPortHold&) = delete;

    // Holds port `number` at this line setting. A hold on another port is let
    // go first. The only holder of a port opens its device anew, as a single
    // caller always did; a port that others hold is taken as it is, open.
    // False when the device cannot be opened or configured: no hold is left.
    bool Open(uint16_t number, uint32_t inQueue, uint32_t outQueue, uint32_t baud, uint8_t parity);
    // Lets go of the port (closing it if this was the last holder).
    void Release();
    bool Held() const { return entry_ != nullptr; }

    // True with the port's turn taken (or with no hold: nothing to share).
    bool BeginExchange(uint32_t waitMs);
    void EndExchange();
    bool InExchange() const { return turn_; }

    // As the single-port calls, on the held port; 0 at once without a hold.
    int32_t Write(const uint8_t* data, int32_t count);
    int32_t Read(uint8_t* dest, int32_t capacity);
    void DiscardInput();

private:
    ComPortEntry* entry_ = nullptr;
    uint32_t baud_ = 0;
    uint8_t parity_ = 0;
    bool turn_ = false;
};

// What the module holds for a port number, for tests and diagnostics.
struct ComPortInfo {
    bool open = false;
    int32_t holders = 0;
    uint32_t baud = 0;      // line setting on the device now
    uint8_t parity = 0;
};
ComPortInfo ComPortState(uint16_t number);

}  // namespace pesolink
