#include "tool/SerialPort.h"

#include "link/ComUnit.h"

namespace pesoconf {

void ComUnitPort::SetPortNumber(uint16_t number) { pesolink::ComPortNumber = number; }
uint16_t ComUnitPort::PortNumber() const { return pesolink::ComPortNumber; }
void ComUnitPort::SetParity(uint8_t parity) { pesolink::ComParity = parity; }
uint8_t ComUnitPort::Parity() const { return pesolink::ComParity; }

bool ComUnitPort::Open(uint32_t inQueue, uint32_t outQueue, uint32_t baud) {
    return pesolink::ComOpen(inQueue, outQueue, baud);
}

int32_t ComUnitPort::Write(const uint8_t* data, int32_t count) {
    return pesolink::ComWrite(data, count);
}

int32_t ComUnitPort::Read(uint8_t* dest, int32_t capacity) {
    return pesolink::ComRead(dest, capacity);
}

void ComUnitPort::Close() { pesolink::ComClose(); }

}  // namespace pesoconf
