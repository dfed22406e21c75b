#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "link/Frame.h"

using namespace pesolink;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

uint16_t CrcOf(const std::vector<uint8_t>& data) {
    return Crc16(0, data.data(), static_cast<uint16_t>(data.size()));
}

// CRC-16/XMODEM, bit by bit, as an independent reference.
uint16_t Xmodem(const std::vector<uint8_t>& data) {
    uint16_t crc = 0;
    for (uint8_t b : data) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

}  // namespace

TEST(Crc16, ReferenceValues) {
    struct Case {
        std::vector<uint8_t> payload;
        uint16_t crc;
    } cases[] = {
        {Bytes({0x20}), 0x0020},
        {Bytes({0x28, 0x11}), 0x2811},
        {{'a', 'b', 'c'}, 0x1EE4},
        {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xBEEF},
    };
    for (const auto& c : cases) EXPECT_EQ(CrcOf(c.payload), c.crc);
}

TEST(Crc16, RelatesToXmodem) {
    std::vector<uint8_t> m;
    for (int i = 0; i < 300; ++i) m.push_back(static_cast<uint8_t>(i * 37 + 11));
    std::vector<uint8_t> padded = m;
    padded.push_back(0);
    padded.push_back(0);
    EXPECT_EQ(CrcOf(padded), Xmodem(m));
    std::vector<uint8_t> head(m.begin(), m.end() - 2);
    const uint16_t tail = static_cast<uint16_t>(m[m.size() - 2] << 8 | m.back());
    EXPECT_EQ(CrcOf(m), static_cast<uint16_t>(Xmodem(head) ^ tail));
}

TEST(Crc16, ShortPayloadIsItsOwnChecksum) {
    for (int b = 0; b < 256; ++b) EXPECT_EQ(CrcOf(Bytes({b})), b);
    EXPECT_EQ(CrcOf(Bytes({0xAB, 0xCD})), 0xABCD);
}

TEST(WrapFrame, NameQuery) {
    TCommand cmd{};
    cmd.Buf[5] = CMD_GET_NAME;
    cmd.Length = 1;
    WrapFrame(cmd);
    EXPECT_EQ(cmd.Length, 8);
    EXPECT_EQ(std::vector<uint8_t>(cmd.Buf, cmd.Buf + 8), Bytes({0xF8, 0x55, 0xCE, 0x01, 0x00, 0x20, 0x20, 0x00}));
}

TEST(WrapFrame, TwoBytePayloadChecksumLowByteFirst) {
    TCommand cmd{};
    cmd.Buf[5] = 0x28;
    cmd.Buf[6] = 0x11;
    cmd.Length = 2;
    WrapFrame(cmd);
    EXPECT_EQ(std::vector<uint8_t>(cmd.Buf, cmd.Buf + 9), Bytes({0xF8, 0x55, 0xCE, 0x02, 0x00, 0x28, 0x11, 0x11, 0x28}));
}

TEST(WrapFrame, LargestPayloadFillsBuffer) {
    TCommand cmd{};
    for (int i = 0; i < MaxPayload; ++i) cmd.Buf[5 + i] = static_cast<uint8_t>(i);
    cmd.Length = MaxPayload;
    WrapFrame(cmd);
    EXPECT_EQ(cmd.Length, FrameBufSize);
    EXPECT_EQ(cmd.Buf[3], MaxPayload & 0xFF);
    EXPECT_EQ(cmd.Buf[4], MaxPayload >> 8);
    const uint16_t c = Crc16(0, cmd.Buf + 5, MaxPayload);
    EXPECT_EQ(cmd.Buf[1499], c & 0xFF);
    EXPECT_EQ(cmd.Buf[1500], c >> 8);
}

TEST(WrapFrame, OversizedPayloadRaisesBeforeTouchingFrame) {
    for (int32_t length : {MaxPayload + 1, 65535, 65536, -1}) {
        TCommand cmd{};
        cmd.Length = length;
        EXPECT_THROW(WrapFrame(cmd), std::range_error) << length;
        EXPECT_EQ(cmd.Length, length);
    }
}

TEST(TcpReplyLength, Rules) {
    struct Case {
        std::vector<uint8_t> frame;
        int32_t code;
    } cases[] = {
        {Bytes({0xF8, 0x55, 0xCE, 0x01, 0x00}), 3},                    // 5 bytes: too short
        {Bytes({0xF8, 0x55, 0xCE, 0x01, 0x00, 0x20}), 0},              // 6 bytes pass both rules
        {Bytes({0xF8, 0x55, 0xCE, 0x01, 0x00, 0x20, 0x20, 0x00}), 0},  // consistent
        {Bytes({0xF8, 0x55, 0xCE, 0x02, 0x00, 0x20, 0x20, 0x00}), 3},  // length field says 2
        {Bytes({0x00, 0x00, 0x00, 0x01, 0x00, 0x20, 0xFF, 0xFF}), 0},  // header and checksum untested
        {{}, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(TcpReplyLengthCode(c.frame.data(), c.frame.size()), c.code);
}

TEST(ErrorReply, ReplacesCodeOnlyForNineByteErrorFrames) {
    const auto err = Bytes({0xF8, 0x55, 0xCE, 0x02, 0x00, 0x28, 0x11, 0x11, 0x28});
    EXPECT_EQ(ApplyErrorReply(err.data(), 9, 0), 17);
    EXPECT_EQ(ApplyErrorReply(err.data(), 9, 3), 17);
    const auto ordinary = Bytes({0xF8, 0x55, 0xCE, 0x02, 0x00, 0x2D, 0x11, 0x11, 0x2D});
    EXPECT_EQ(ApplyErrorReply(ordinary.data(), 9, 0), 0);
    const auto longer = Bytes({0xF8, 0x55, 0xCE, 0x03, 0x00, 0x28, 0x11, 0x00, 0, 0});
    EXPECT_EQ(ApplyErrorReply(longer.data(), 10, 0), 0);
}

TEST(ResponseToResult, Table) {
    for (int r = -1; r <= 255; ++r) {
        int32_t expected;
        switch (r) {
            case 0: expected = 0; break;
            case 1: case 4: expected = 1; break;
            case 2: case 3: expected = 2; break;
            case 8: case 9: case 10: case 11: case 16: case 17: case 21: case 23: case 24: case 25:
                expected = r;
                break;
            default: expected = 7; break;
        }
        EXPECT_EQ(ResponseToResult(r), expected) << r;
    }
}
