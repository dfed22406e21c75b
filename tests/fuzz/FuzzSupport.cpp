#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <deque>

#include "link/Frame.h"

namespace pesolink::fuzz {

namespace {

// The checksum written out bit by bit, apart from the table in link/.
uint16_t BitwiseCrc(const Bytes& payload) {
    uint16_t r = 0;
    for (uint8_t d : payload) {
        uint16_t t = 0;
        uint16_t b = static_cast<uint16_t>((r >> 8) << 8);
        for (int i = 0; i < 8; ++i) {
            t = ((b ^ t) & 0x8000) ? static_cast<uint16_t>((t << 1) ^ 0x1021) : static_cast<uint16_t>(t << 1);
            b = static_cast<uint16_t>(b << 1);
        }
        r = static_cast<uint16_t>(t ^ (r << 8) ^ d);
    }
    return r;
}

int ErrorReplyCode(const Bytes& frame, int code) {
    return frame.size() == 9 && frame[5] == 0x28 ? frame[6] : code;
}

}  // namespace

Bytes Frame(const Bytes& payload) {
    Bytes f = {0xF8, 0x55, 0xCE, static_cast<uint8_t>(payload.size() & 0xFF),
               static_cast<uint8_t>((payload.size() >> 8) & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    const uint16_t c = BitwiseCrc(payload);
    f.push_back(static_cast<uint8_t>(c & 0xFF));
    f.push_back(static_cast<uint8_t>(c >> 8));
    return f;
}

Accepted AcceptTcp(const ScriptedReply& reply) {
    Accepted a;
    const std::vector<Bytes> pieces = Pieces(reply);
    if (pieces.empty()) {
        a.code = 3;
        return a;
    }
    const Bytes& p = pieces.front();
    constexpr std::size_t bufSize = 1501;
    if (p.size() > bufSize) {
        a.code = 3;
        a.frame.assign(p.begin(), p.begin() + bufSize);
        return a;
    }
    a.frame = p;
    const std::size_t n = p.size();
    if (n < 6) a.code = 3;
    else if (n >= 7 && n != static_cast<std::size_t>(p[3] + 256 * p[4]) + 7) a.code = 3;
    a.code = ErrorReplyCode(a.frame, a.code);
    return a;
}

Accepted AcceptSerial(const ScriptedReply& reply) {
    Accepted a;
    std::deque<Bytes> pieces;
    for (Bytes& p : Pieces(reply)) pieces.push_back(std::move(p));
    constexpr std::size_t bufSize = 1501;
    constexpr std::size_t oneRead = 1500;  // what one receive read asks for at most
    // One read call: the first piece, as much of it as there is room for.
    auto read = [&]() -> bool {
        if (a.frame.size() >= bufSize || pieces.empty()) return false;
        const std::size_t room = std::min(oneRead, bufSize - a.frame.size());
        Bytes& p = pieces.front();
        const std::size_t n = std::min(room, p.size());
        a.frame.insert(a.frame.end(), p.begin(), p.begin() + static_cast<std::ptrdiff_t>(n));
        if (n == p.size()) pieces.pop_front();
        else p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(n));
        return true;
    };
    while (a.frame.size() < 6) {
        if (!read()) {
            a.code = 3;
            break;
        }
    }
    if (a.code == 0) {
        const std::size_t want = static_cast<std::size_t>(a.frame[3] + 256 * a.frame[4]) + 7;
        while (a.frame.size() != want) {
            if (!read()) {
                a.code = 3;
                break;
            }
        }
    }
    a.code = ErrorReplyCode(a.frame, a.code);
    return a;
}

bool KnownResult(int result) {
    switch (result) {
        case 0: case 1: case 2: case 4: case 5: case 7:
        case 8: case 9: case 10: case 11: case 16: case 17: case 21: case 23: case 24: case 25:
            return true;
        default:
            return false;
    }
}

bool WellFormedRequest(const Bytes& frame) {
    if (frame.size() < 8 || frame.size() > 1501) return false;
    if (frame[0] != 0xF8 || frame[1] != 0x55 || frame[2] != 0xCE) return false;
    const std::size_t l = frame[3] + 256u * frame[4];
    if (l + 7 != frame.size()) return false;
    const Bytes payload(frame.begin() + 5, frame.end() - 2);
    const uint16_t c = BitwiseCrc(payload);
    return frame[frame.size() - 2] == (c & 0xFF) && frame[frame.size() - 1] == (c >> 8);
}

}  // namespace pesolink::fuzz
