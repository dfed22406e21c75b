// Serial module on a Win32 communications device: synchronous
// ReadFile/WriteFile whose duration the port's time-outs shape.
#include <windows.h>

#include <algorithm>
#include <string>

#include "link/ComUnit.h"
#include "link/win32/ComUnitWin32.h"

namespace pesolink {

namespace {

HANDLE AsHandle(ComDevice device) { return reinterpret_cast<HANDLE>(device); }

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::string ComDeviceName(uint16_t portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

DCB ComLineSettings(uint32_t baud) { return ComLineSettings(baud, ComParity); }

DCB ComLineSettings(uint32_t baud, uint8_t parity) {
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
    dcb.Parity = parity;
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

ComDevice ComOpenDevice(uint16_t portNumber) {
    const std::wstring name = Widen(ComDeviceName(portNumber));
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? ComNoDevice : reinterpret_cast<ComDevice>(h);
}

bool ComDeviceSetTimeouts(ComDevice device) {
    if (device == ComNoDevice) return false;
    COMMTIMEOUTS t = ComTimeoutSettings();
    return SetCommTimeouts(AsHandle(device), &t) != FALSE;
}

bool ComDeviceSetBuffers(ComDevice device, uint32_t inQueue, uint32_t outQueue) {
    if (device == ComNoDevice) return false;
    return SetupComm(AsHandle(device), inQueue, outQueue) != FALSE;
}

bool ComDeviceSetState(ComDevice device, uint32_t baud, uint8_t parity) {
    if (device == ComNoDevice) return false;
    DCB dcb = ComLineSettings(baud, parity);
    if (SetCommState(AsHandle(device), &dcb)) return true;
    // Some serial drivers (and Wine) cannot toggle RTS around each
    // transmission and refuse the whole record; the scale does not need the
    // toggling, so hold RTS on instead and apply the rest unchanged.
    dcb = ComLineSettings(baud, parity);
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return SetCommState(AsHandle(device), &dcb) != FALSE;
}

int32_t ComDeviceWrite(ComDevice device, const uint8_t* data, int32_t count) {
    if (device == ComNoDevice || data == nullptr || count <= 0) return 0;
    DWORD written = 0;
    if (!WriteFile(AsHandle(device), data, static_cast<DWORD>(count), &written, nullptr)) return 0;
    return static_cast<int32_t>(written);
}

// The handle's own time-outs (set at the open) shape the read.
int32_t ComDeviceRead(ComDevice device, uint8_t* dest, int32_t capacity, int32_t) {
    if (device == ComNoDevice || dest == nullptr || capacity <= 0) return 0;
    // Asking for no more than the destination holds keeps every byte in it.
    const DWORD want = static_cast<DWORD>(std::min(ComReadChunk, capacity));
    DWORD got = 0;
    if (!ReadFile(AsHandle(device), dest, want, &got, nullptr)) return 0;
    return static_cast<int32_t>(std::min<DWORD>(got, want));
}

void ComDeviceDiscardInput(ComDevice device) {
    if (device != ComNoDevice) PurgeComm(AsHandle(device), PURGE_RXCLEAR);
}

void ComDeviceClose(ComDevice device) {
    if (device != ComNoDevice) CloseHandle(AsHandle(device));
}

}  // namespace pesolink
