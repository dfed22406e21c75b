#include "link/Frame.h"

#include <stdexcept>

namespace pesolink {

namespace {

uint16_t CcittTableValue(uint8_t h) {
    uint16_t t = 0;
    uint16_t b = static_cast<uint16_t>(h << 8);
    for (int i = 0; i < 8; ++i) {
        if ((b ^ t) & 0x8000)
            t = static_cast<uint16_t>((t << 1) ^ 0x1021);
        else
            t = static_cast<uint16_t>(t << 1);
        b = static_cast<uint16_t>(b << 1);
    }
    return t;
}

struct CcittTable {
    uint16_t v[256];
    CcittTable() {
        for (int h = 0; h < 256; ++h) v[h] = CcittTableValue(static_cast<uint8_t>(h));
    }
};

const CcittTable& Table() {
    static const CcittTable table;
    return table;
}

}  // namespace

uint16_t Crc16(uint16_t initial, const uint8_t* data, uint16_t count) {
    const CcittTable& table = Table();
    uint16_t r = initial;
    for (uint16_t i = 0; i < count; ++i)
        r = static_cast<uint16_t>(table.v[r >> 8] ^ (r << 8) ^ data[i]);
    return r;
}

void WrapFrame(TCommand& command) {
    const int32_t l = command.Length;
    if (l < 0 || l > MaxPayload) throw std::range_error("Range check error");
    command.Buf[0] = FrameHeader0;
    command.Buf[1] = FrameHeader1;
    command.Buf[2] = FrameHeader2;
    command.Buf[3] = static_cast<uint8_t>(l & 0xFF);
    command.Buf[4] = static_cast<uint8_t>((l >> 8) & 0xFF);
    const uint16_t c = Crc16(0, command.Buf + 5, static_cast<uint16_t>(l));
    command.Buf[l + 5] = static_cast<uint8_t>(c & 0xFF);
    command.Buf[l + 6] = static_cast<uint8_t>(c >> 8);
    command.Length = l + FrameOverhead;
}

int32_t TcpReplyLengthCode(const uint8_t* frame, std::size_t n) {
    if (n < 6) return 3;
    if (n >= 7) {
        const std::size_t l = static_cast<std::size_t>(frame[3]) + 256u * frame[4];
        if (n != l + FrameOverhead) return 3;
    }
    return 0;
}

int32_t ApplyErrorReply(const uint8_t* frame, int32_t length, int32_t code) {
    if (length == 9 && frame[5] == CMD_ERROR) return frame[6];
    return code;
}

int32_t ResponseToResult(int32_t response) {
    switch (response) {
        case 0: return 0;
        case 1: return 1;
        case 2: return 2;
        case 3: return 2;
        case 4: return 1;
        case 8: case 9: case 10: case 11:
        case 16: case 17: case 21: case 23: case 24: case 25:
            return response;
        default: return 7;
    }
}

}  // namespace pesolink
