// The records the Win32 serial module applies to a port, built the same way
// for every open; exposed so that their fields can be checked directly.
#pragma once

#include <windows.h>

#include <cstdint>

namespace pesolink {

// Line settings at this baud rate with the module's ComParity, or with the
// parity given.
DCB ComLineSettings(uint32_t baud);
DCB ComLineSettings(uint32_t baud, uint8_t parity);
// Read and write time-outs with the module's ComHardTimeout.
COMMTIMEOUTS ComTimeoutSettings();

}  // namespace pesolink
