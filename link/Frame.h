// Frame envelope shared by every exchange with a scale: F8 55 CE, payload
// length (low byte first), payload, Crc16 of the payload (low byte first).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pesolink {

constexpr int FrameBufSize = 1501;           // Buf[0..1500]
constexpr int MaxPayload = FrameBufSize - 7;  // 1494
constexpr int FrameOverhead = 7;

constexpr uint8_t FrameHeader0 = 0xF8;
constexpr uint8_t FrameHeader1 = 0x55;
constexpr uint8_t FrameHeader2 = 0xCE;

// Command and reply codes of the scale protocol.
enum : uint8_t {
    CMD_GET_INFO = 0x00,
    CMD_NACK = 0x15,
    CMD_GET_NAME = 0x20,
    CMD_SET_NAME = 0x22,
    CMD_GET_WEIGHT = 0x23,
    CMD_ERROR = 0x28,
    CMD_GET_MAC = 0x29,
    CMD_GET_ETHERNET = 0x2D,
    CMD_SET_WIFI_IP = 0x31,
    CMD_GET_WIFI_IP = 0x33,
    CMD_SET_ETHERNET = 0x39,
    CMD_GET_WIFI_SSID = 0x3A,
    CMD_SET_WIFI_SSID = 0x3C,
    CMD_SET_ZERO = 0x72,
    CMD_GET_TARE = 0xA1,
    CMD_SET_TARE = 0xA3,
};

// The frame buffer of an exchange: the payload goes to Buf[5..] before a
// send; the whole reply frame is in Buf[0..Length-1] after a receive.
struct TCommand {
    uint8_t Buf[FrameBufSize];
    int32_t Length;
};

// Bare remainder of the payload modulo x^16 + x^12 + x^5 + 1, no final xor.
uint16_t Crc16(uint16_t initial, const uint8_t* data, uint16_t count);

// Completes the frame around the payload in Buf[5..5+Length-1] and sets
// Length to the whole frame size. Throws std::range_error (before anything
// could be sent) when the payload does not fit the buffer.
void WrapFrame(TCommand& command);

// Response code of a TCP delivery of n bytes by the length rules:
// 0 when acceptable, 3 when too short or of inconsistent length.
int32_t TcpReplyLengthCode(const uint8_t* frame, std::size_t n);

// The scale's 9-byte error reply replaces the receive code by its error code.
int32_t ApplyErrorReply(const uint8_t* frame, int32_t length, int32_t code);

// Maps a response code posted by the exchange worker to a result code.
int32_t ResponseToResult(int32_t response);

}  // namespace pesolink
