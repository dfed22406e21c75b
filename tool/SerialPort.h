// The serial module as the tool's probe sees it. ComUnitPort forwards to the
// single-port calls of the scale link's serial module.
#pragma once

#include <cstdint>

namespace pesoconf {

class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual void SetPortNumber(uint16_t number) = 0;
    virtual uint16_t PortNumber() const = 0;
    virtual void SetParity(uint8_t parity) = 0;  // 0 none, 2 even, 4 space
    virtual uint8_t Parity() const = 0;
    virtual bool Open(uint32_t inQueue, uint32_t outQueue, uint32_t baud) = 0;
    virtual int32_t Write(const uint8_t* data, int32_t count) = 0;
    // One read of at most capacity bytes into dest.
    virtual int32_t Read(uint8_t* dest, int32_t capacity) = 0;
    virtual void Close() = 0;
};

class ComUnitPort : public SerialPort {
public:
    void SetPortNumber(uint16_t number) override;
    uint16_t PortNumber() const override;
    void SetParity(uint8_t parity) override;
    uint8_t Parity() const override;
    bool Open(uint32_t inQueue, uint32_t outQueue, uint32_t baud) override;
    int32_t Write(const uint8_t* data, int32_t count) override;
    int32_t Read(uint8_t* dest, int32_t capacity) override;
    void Close() override;
};

}  // namespace pesoconf
