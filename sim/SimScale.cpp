#include "sim/SimScale.h"

#include <algorithm>

#include "link/Frame.h"

namespace pesolink::sim {

namespace {

constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

// Identity reported by the information reply.
constexpr uint16_t ModelCode = 100;
constexpr uint8_t FirmwareMajor = 1, FirmwareMinor = 4;

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x & 0xFF));
    v.push_back(static_cast<uint8_t>((x >> 8) & 0xFF));
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>((x >> (8 * i)) & 0xFF));
}

void PutText(std::vector<uint8_t>& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    v.push_back(CR);
    v.push_back(LF);
}

uint32_t Get32(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint32_t>(p[at]) | static_cast<uint32_t>(p[at + 1]) << 8 |
           static_cast<uint32_t>(p[at + 2]) << 16 | static_cast<uint32_t>(p[at + 3]) << 24;
}

uint16_t Get16(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint16_t>(p[at] | p[at + 1] << 8);
}

// Bytes from `at` up to the first CR (or the end); `at` ends on the CR.
std::string TakeText(const std::vector<uint8_t>& p, size_t& at) {
    std::string s;
    while (at < p.size() && p[at] != CR) s.push_back(static_cast<char>(p[at++]));
    return s;
}

std::vector<uint8_t> ErrorPayload(uint8_t code) { return {CMD_ERROR, code}; }

}  // namespace

std::vector<uint8_t> MakeFrame(const std::vector<uint8_t>& payload) {
    // The length field cannot announce more than 65535 bytes.
    const size_t n = std::min<size_t>(payload.size(), 0xFFFF);
    std::vector<uint8_t> f{FrameHeader0, FrameHeader1, FrameHeader2,
                           static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
    f.insert(f.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    const uint16_t c = n ? Crc16(0, payload.data(), static_cast<uint16_t>(n)) : 0;
    Put16(f, c);
    return f;
}

std::vector<std::vector<uint8_t>> FrameAssembler::Push(const uint8_t* data, size_t n) {
    std::vector<std::vector<uint8_t>> frames;
    buf_.insert(buf_.end(), data, data + n);
    for (;;) {
        // Skip to the first position that is, or may grow into, a header.
        size_t p = 0;
        const size_t size = buf_.size();
        while (p < size && !(buf_[p] == FrameHeader0 && (p + 1 >= size || buf_[p + 1] == FrameHeader1) &&
                             (p + 2 >= size || buf_[p + 2] == FrameHeader2)))
            ++p;
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(p));
        if (buf_.size() < 5) break;
        const size_t len = buf_[3] | buf_[4] << 8;
        if (len > static_cast<size_t>(MaxPayload)) {
            // No request is that long: a garbled header, not worth waiting for.
            buf_.erase(buf_.begin());
            continue;
        }
        if (buf_.size() < len + FrameOverhead) break;
        frames.emplace_back(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(len + FrameOverhead));
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(len + FrameOverhead));
    }
    return frames;
}

ScaleState SimScale::State() const {
    std::lock_guard<std::mutex> lock(mu_);
    return state_;
}

void SimScale::SetState(const ScaleState& s) {
    std::lock_guard<std::mutex> lock(mu_);
    state_ = s;
}

void SimScale::Update(const std::function<void(ScaleState&)>& f) {
    std::lock_guard<std::mutex> lock(mu_);
    f(state_);
}

void SimScale::AddFault(const Fault& f) {
    std::lock_guard<std::mutex> lock(mu_);
    if (f.count != 0) faults_.push_back(f);
}

void SimScale::ClearFaults() {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.clear();
}

std::vector<std::vector<uint8_t>> SimScale::Requests() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

void SimScale::ClearRequests() {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.clear();
}

void SimScale::SetRequestObserver(std::function<void(const std::vector<uint8_t>&)> f) {
    std::lock_guard<std::mutex> lock(mu_);
    observer_ = std::move(f);
}

void SimScale::ResetInput() {
    std::lock_guard<std::mutex> lock(mu_);
    input_.Reset();
}

std::vector<Reply> SimScale::Feed(const uint8_t* data, size_t n) {
    std::vector<std::vector<uint8_t>> frames;
    {
        std::lock_guard<std::mutex> lock(mu_);
        frames = input_.Push(data, n);
    }
    std::vector<Reply> replies;
    for (const auto& f : frames) replies.push_back(Handle(f));
    return replies;
}

bool SimScale::TakeFault(int command, Fault& out) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->command != -1 && it->command != command) continue;
        out = *it;
        if (it->count > 0 && --it->count == 0) faults_.erase(it);
        return true;
    }
    return false;
}

Reply SimScale::Handle(const std::vector<uint8_t>& frame) {
    Reply reply;
    std::function<void(const std::vector<uint8_t>&)> observer;
    {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(frame);
        observer = observer_;

        // The frame comes from a FrameAssembler or a caller; trust only its bytes.
        std::vector<uint8_t> payload;
        bool crcOk = false;
        if (frame.size() >= static_cast<size_t>(FrameOverhead)) {
            const size_t len = std::min<size_t>(frame[3] | frame[4] << 8, frame.size() - FrameOverhead);
            payload.assign(frame.begin() + 5, frame.begin() + 5 + static_cast<std::ptrdiff_t>(len));
            const uint16_t want = len ? Crc16(0, payload.data(), static_cast<uint16_t>(len)) : 0;
            crcOk = frame[5 + len] == (want & 0xFF) && frame[6 + len] == (want >> 8);
        }
        if (!crcOk && state_.ignoreBadChecksum) {
            reply.silent = true;
        } else {
            const int command = payload.empty() ? -1 : payload[0];
            Fault fault;
            if (!TakeFault(command, fault)) {
                reply.bytes = MakeFrame(Answer(payload));
            } else {
                switch (fault.kind) {
                    case FaultKind::Silence: reply.silent = true; break;
                    case FaultKind::Drop: reply.drop = true; break;
                    case FaultKind::Refuse: reply.bytes = MakeFrame({CMD_NACK}); break;
                    case FaultKind::ErrorReply: reply.bytes = MakeFrame(ErrorPayload(fault.errorCode)); break;
                    case FaultKind::Raw: reply.bytes = fault.raw; break;
                    case FaultKind::Delay:
                        reply.bytes = MakeFrame(Answer(payload));
                        reply.delayMs = std::max(0, fault.delayMs);
                        break;
                    case FaultKind::Surplus:
                        reply.bytes = MakeFrame(Answer(payload));
                        reply.bytes.insert(reply.bytes.end(), static_cast<size_t>(std::max(0, fault.surplus)), 0x00);
                        break;
                    case FaultKind::Short: {
                        std::vector<uint8_t> p = Answer(payload);
                        const size_t by = static_cast<size_t>(std::max(0, fault.shortBy));
                        const size_t cut = std::min(by, p.size());
                        p.resize(p.size() - cut);
                        reply.bytes = MakeFrame(p);
                        reply.bytes.resize(reply.bytes.size() - std::min(by - cut, reply.bytes.size()));
                        break;
                    }
                    case FaultKind::BadChecksum:
                        reply.bytes = MakeFrame(Answer(payload));
                        reply.bytes[reply.bytes.size() - 1] ^= 0xFF;
                        reply.bytes[reply.bytes.size() - 2] ^= 0xFF;
                        break;
                    case FaultKind::BadHeader:
                        reply.bytes = MakeFrame(Answer(payload));
                        reply.bytes[0] = reply.bytes[1] = reply.bytes[2] = 0x00;
                        break;
                    case FaultKind::Split: {
                        reply.bytes = MakeFrame(Answer(payload));
                        std::vector<int> sizes = fault.pieces;
                        if (sizes.empty()) sizes.push_back(static_cast<int>(reply.bytes.size() / 2));
                        size_t at = 0;
                        for (int s : sizes) {
                            const size_t take = std::min(static_cast<size_t>(std::max(0, s)), reply.bytes.size() - at);
                            if (take == 0) continue;
                            reply.pieces.emplace_back(
                                std::vector<uint8_t>(reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                     reply.bytes.begin() + static_cast<std::ptrdiff_t>(at + take)),
                                reply.pieces.empty() ? 0 : fault.delayMs);
                            at += take;
                        }
                        if (at < reply.bytes.size())
                            reply.pieces.emplace_back(
                                std::vector<uint8_t>(reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                     reply.bytes.end()),
                                reply.pieces.empty() ? 0 : fault.delayMs);
                        break;
                    }
                }
                if (fault.weightAfter) state_.weight = *fault.weightAfter;
            }
        }
    }
    if (observer) observer(frame);
    return reply;
}

std::vector<uint8_t> SimScale::Answer(const std::vector<uint8_t>& p) {
    if (p.empty()) return ErrorPayload(ErrMalformedRequest);
    ScaleState& s = state_;
    const uint8_t code = p[0];
    std::vector<uint8_t> r{code};
    const std::vector<uint8_t> ethError{CMD_ERROR, 0x11, 0x00};
    const std::vector<uint8_t> wifiError{CMD_ERROR, 0x10, 0x00};
    switch (code) {
        case CMD_GET_INFO:
            Put32(r, s.serial);
            Put16(r, ModelCode);
            r.push_back(FirmwareMajor);
            r.push_back(FirmwareMinor);
            r.resize(18, 0x00);
            r.push_back(s.interfaces);  // payload byte 18, frame byte 23
            r.push_back(0x00);
            return r;
        case CMD_GET_MAC:
            Put32(r, s.serial);
            r.resize(17, 0x00);
            // Sent last group first: the displayed text reads frame bytes 27..22.
            for (int i = 5; i >= 0; --i) r.push_back(s.ethMac[static_cast<size_t>(i)]);
            for (int i = 5; i >= 0; --i) r.push_back(s.wifiMac[static_cast<size_t>(i)]);
            return r;
        case CMD_GET_NAME:
            Put32(r, s.serial);
            PutText(r, s.name);
            return r;
        case CMD_SET_NAME: {
            if (s.refuseName) return {CMD_NACK};
            size_t at = 1;
            std::string name = TakeText(p, at);
            // The name reply adds the serial number: keep it within one frame.
            if (name.size() + 7 > static_cast<size_t>(MaxPayload)) return {CMD_NACK};
            s.name = std::move(name);
            return r;
        }
        case CMD_GET_WEIGHT:
            Put32(r, static_cast<uint32_t>(s.weight));
            r.insert(r.end(), {s.division, s.stable, s.net, s.zero});
            return r;
        case CMD_GET_TARE:
            Put32(r, static_cast<uint32_t>(s.tare));
            return r;
        case CMD_SET_TARE:
            if (p.size() < 5) return ErrorPayload(ErrMalformedRequest);
            if (s.refuseTare) return {CMD_NACK};
            s.tare = static_cast<int32_t>(Get32(p, 1));
            return r;
        case CMD_SET_ZERO:
            if (s.refuseZero) return {CMD_NACK};
            s.weight = 0;
            s.zeroSet = true;
            return r;
        case CMD_GET_ETHERNET:
            if (s.ethernetError) return ethError;
            Put32(r, s.ethIp);
            Put32(r, s.ethMask);
            Put32(r, s.ethGateway);
            Put16(r, s.ethPort);
            r.resize(std::max<size_t>(r.size(), 22 - FrameOverhead), 0x00);
            return r;
        case CMD_SET_ETHERNET:
            if (s.ethernetError) return ethError;
            if (p.size() < 15) return ErrorPayload(ErrMalformedRequest);
            s.ethIp = Get32(p, 1);
            s.ethMask = Get32(p, 5);
            s.ethGateway = Get32(p, 9);
            s.ethPort = Get16(p, 13);
            r.push_back(0x00);
            return r;
        case CMD_GET_WIFI_SSID:
            if (s.wifiError) return wifiError;
            Put16(r, s.wifiPort);
            PutText(r, s.ssid);
            PutText(r, s.key);
            return r;
        case CMD_SET_WIFI_SSID: {
            if (s.wifiError) return wifiError;
            if (p.size() < 3) return ErrorPayload(ErrMalformedRequest);
            size_t at = 3;
            std::string ssid = TakeText(p, at);
            at += 2;  // CR LF
            std::string key = TakeText(p, at);
            // Its read-back must fit one frame.
            if (ssid.size() + key.size() + 7 > static_cast<size_t>(MaxPayload))
                return ErrorPayload(ErrMalformedRequest);
            s.wifiPort = Get16(p, 1);
            s.ssid = std::move(ssid);
            s.key = std::move(key);
            r.push_back(0x00);
            return r;
        }
        case CMD_GET_WIFI_IP:
            if (s.wifiError) return wifiError;
            Put32(r, s.wifiIp);
            Put32(r, s.wifiMask);
            Put32(r, s.wifiGateway);
            Put32(r, s.apIp);
            Put16(r, s.wifiPort);
            return r;
        case CMD_SET_WIFI_IP:
            if (s.wifiError) return wifiError;
            if (p.size() < 19) return ErrorPayload(ErrMalformedRequest);
            s.wifiIp = Get32(p, 1);
            s.wifiMask = Get32(p, 5);
            s.wifiGateway = Get32(p, 9);
            s.apIp = Get32(p, 13);
            s.wifiPort = Get16(p, 17);
            r.push_back(0x00);
            return r;
        default:
            return ErrorPayload(ErrUnknownCommand);
    }
}

}  // namespace pesolink::sim
