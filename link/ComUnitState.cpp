// Module-wide serial settings and the single-port calls, on the platform's
// device steps.
#include "link/ComUnit.h"

namespace pesolink {

uint16_t ComPortNumber = 0;
uint8_t ComParity = 0;
int32_t ComSoftTimeout = 2000;
int32_t ComHardTimeout = 500;

namespace {

ComDevice ComHandle = ComNoDevice;

}  // namespace

bool ComOpen(uint32_t inQueue, uint32_t outQueue, uint32_t baud) {
    if (ComHandle != ComNoDevice) ComClose();
    ComHandle = ComOpenDevice(ComPortNumber);
    if (ComHandle == ComNoDevice) return false;
    // A failure from here on leaves the handle open: the caller closes it.
    if (!ComSetTimeouts()) return false;
    if (!ComSetBuffers(inQueue, outQueue)) return false;
    if (!ComSetState(baud)) return false;
    return true;
}

bool ComSetTimeouts() { return ComHandle != ComNoDevice && ComDeviceSetTimeouts(ComHandle); }

bool ComSetBuffers(uint32_t inQueue, uint32_t outQueue) {
    return ComHandle != ComNoDevice && ComDeviceSetBuffers(ComHandle, inQueue, outQueue);
}

bool ComSetState(uint32_t baud) { return ComHandle != ComNoDevice && ComDeviceSetState(ComHandle, baud, ComParity); }

int32_t ComWrite(const uint8_t* data, int32_t count) {
    if (ComHandle == ComNoDevice) return 0;
    return ComDeviceWrite(ComHandle, data, count);
}

int32_t ComRead(uint8_t* dest, int32_t capacity) {
    if (ComHandle == ComNoDevice) return 0;
    return ComDeviceRead(ComHandle, dest, capacity, ComHardTimeout);
}

void ComDiscardInput() {
    if (ComHandle != ComNoDevice) ComDeviceDiscardInput(ComHandle);
}

void ComClose() {
    if (ComHandle != ComNoDevice) ComDeviceClose(ComHandle);
    ComHandle = ComNoDevice;
}

bool ComIsOpen() { return ComHandle != ComNoDevice; }

}  // namespace pesolink
