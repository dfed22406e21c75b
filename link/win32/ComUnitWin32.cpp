// Serial module on a Win32 communications device: one handle per process,
// synchronous ReadFile/WriteFile whose duration the port's time-outs shape.
#include <windows.h>

#include <algorithm>
#include <string>

#include "link/ComUnit.h"
#include "link/win32/ComUnitWin32.h"

namespace pesolink {

namespace {

HANDLE ComHandle = INVALID_HANDLE_VALUE;

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::string ComDeviceName(uint16_t portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

DCB ComLineSettings(uint32_t baud) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baud;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;  // parity is generated on transmit, not tested on receive
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;  // RTS raised only while sending
    dcb.fAbortOnError = FALSE;
    dcb.wReserved = 0;
    dcb.XonLim = 600;
    dcb.XoffLim = 150;
    dcb.ByteSize = 8;
    dcb.Parity = ComParity;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    dcb.wReserved1 = 0x41;
    return dcb;
}

COMMTIMEOUTS ComTimeoutSettings() {
    COMMTIMEOUTS t;
    // The setting is handed on as stored; a negative one reads as a very long gap.
    t.ReadIntervalTimeout = static_cast<DWORD>(ComHardTimeout);
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = ComReadTotalTimeout;
    t.WriteTotalTimeoutMultiplier = 2;
    t.WriteTotalTimeoutConstant = 2;
    return t;
}

bool ComOpen(uint32_t inQueue, uint32_t outQueue, uint32_t baud) {
    if (ComHandle != INVALID_HANDLE_VALUE) ComClose();
    const std::wstring name = Widen(ComDeviceName(ComPortNumber));
    ComHandle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ComHandle == INVALID_HANDLE_VALUE) return false;
    // A failure from here on leaves the handle open: the caller closes it.
    if (!ComSetTimeouts()) return false;
    if (!ComSetBuffers(inQueue, outQueue)) return false;
    if (!ComSetState(baud)) return false;
    return true;
}

bool ComSetTimeouts() {
    if (ComHandle == INVALID_HANDLE_VALUE) return false;
    COMMTIMEOUTS t = ComTimeoutSettings();
    return SetCommTimeouts(ComHandle, &t) != FALSE;
}

bool ComSetBuffers(uint32_t inQueue, uint32_t outQueue) {
    if (ComHandle == INVALID_HANDLE_VALUE) return false;
    return SetupComm(ComHandle, inQueue, outQueue) != FALSE;
}

bool ComSetState(uint32_t baud) {
    if (ComHandle == INVALID_HANDLE_VALUE) return false;
    DCB dcb = ComLineSettings(baud);
    if (SetCommState(ComHandle, &dcb)) return true;
    // Some serial drivers (and Wine) cannot toggle RTS around each
    // transmission and refuse the whole record; the scale does not need the
    // toggling, so hold RTS on instead and apply the rest unchanged.
    dcb = ComLineSettings(baud);
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return SetCommState(ComHandle, &dcb) != FALSE;
}

int32_t ComWrite(const uint8_t* data, int32_t count) {
    if (ComHandle == INVALID_HANDLE_VALUE || data == nullptr || count <= 0) return 0;
    DWORD written = 0;
    if (!WriteFile(ComHandle, data, static_cast<DWORD>(count), &written, nullptr)) return 0;
    return static_cast<int32_t>(written);
}

int32_t ComRead(uint8_t* dest, int32_t capacity) {
    if (ComHandle == INVALID_HANDLE_VALUE || dest == nullptr || capacity <= 0) return 0;
    // Asking for no more than the destination holds keeps every byte in it.
    const DWORD want = static_cast<DWORD>(std::min(ComReadChunk, capacity));
    DWORD got = 0;
    if (!ReadFile(ComHandle, dest, want, &got, nullptr)) return 0;
    return static_cast<int32_t>(std::min<DWORD>(got, want));
}

void ComDiscardInput() {
    if (ComHandle != INVALID_HANDLE_VALUE) PurgeComm(ComHandle, PURGE_RXCLEAR);
}

void ComClose() {
    if (ComHandle != INVALID_HANDLE_VALUE) CloseHandle(ComHandle);
    ComHandle = INVALID_HANDLE_VALUE;
}

bool ComIsOpen() { return ComHandle != INVALID_HANDLE_VALUE; }

}  // namespace pesolink
