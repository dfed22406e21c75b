// The serial module: one port per process, opened by number with fixed line
// settings, synchronous writes and single read calls shaped by the port's
// time-outs. It moves bytes and knows nothing of frames.
#pragma once

#include <cstdint>
#include <string>

namespace pesolink {

// Module-wide state, shared by every caller in the process.
extern uint16_t ComPortNumber;   // port to open; set before ComOpen
extern uint8_t ComParity;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
extern int32_t ComSoftTimeout;   // driver: receive deadline, ms (default 2000)
extern int32_t ComHardTimeout;   // inter-byte read time-out, ms (default 500)

// Identifies who opened the current port (the driver's worker marks it), so
// that an owner can close only a port it opened itself.
extern const void* ComOwner;

constexpr int32_t ComReadChunk = 2000;  // most bytes one read call takes
constexpr int32_t ComReadTotalTimeout = 1000;

// Name of the device behind a port number ("\\.\COM3" on Windows).
std::string ComDeviceName(uint16_t portNumber);

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

}  // namespace pesolink
