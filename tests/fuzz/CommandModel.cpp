#include "tests/fuzz/CommandModel.h"

#include "driver/IpText.h"
#include "driver/Language.h"

namespace pesolink::fuzz {

namespace {

// The result a receive code stands for.
int32_t ResultOf(int code) {
    switch (code) {
        case 0: return 0;
        case 1: case 4: return 1;
        case 2: case 3: return 2;
        case 8: case 9: case 10: case 11: case 16: case 17: case 21: case 23: case 24: case 25:
            return code;
        default: return 7;
    }
}

// The frame of the last exchange, read the way the commands read it: a
// payload byte beyond the received frame counts as 0.
struct Reply {
    const Bytes& f;
    uint8_t At(int k) const {
        const std::size_t i = 5 + static_cast<std::size_t>(k);
        return i < f.size() ? f[i] : 0;
    }
    uint32_t U16(int k) const { return At(k) | (At(k + 1) << 8); }
    uint32_t U32(int k) const {
        return At(k) | (At(k + 1) << 8) | (At(k + 2) << 16) | (static_cast<uint32_t>(At(k + 3)) << 24);
    }
    std::u16string Address(int k) const {
        return DecimalText(At(k + 3)) + u"." + DecimalText(At(k + 2)) + u"." + DecimalText(At(k + 1)) + u"." +
               DecimalText(At(k));
    }
    // Characters from payload byte k up to a CR or the frame's end; k is
    // left on the CR, or at the end.
    std::u16string Text(int& k) const {
        const int end = static_cast<int>(f.size()) - 5;
        const int first = k;
        while (k < end && f[5 + static_cast<std::size_t>(k)] != 0x0D) ++k;
        if (k <= first) return {};
        return DecodeAnsi(f.data() + 5 + first, static_cast<std::size_t>(k - first));
    }
};

// The numeric form of the address texts the fields can hold: empty, or four
// dotted decimal groups.
uint32_t Number(const std::u16string& text) {
    if (text.empty()) return 0;
    uint32_t value = 0, group = 0;
    int dots = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            value = (value << 8) | (group & 0xFF);
            group = 0;
            ++dots;
        } else if (c >= u'0' && c <= u'9') {
            group = group * 10 + (c - u'0');
        } else {
            return IpStrToNum(text);  // not a form the fields hold
        }
    }
    if (dots != 3) return IpStrToNum(text);
    return (value << 8) | (group & 0xFF);
}

void Put16(Bytes& p, uint32_t v) {
    p.push_back(static_cast<uint8_t>(v & 0xFF));
    p.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void Put32(Bytes& p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void PutText(Bytes& p, const std::u16string& text) {
    const std::size_t at = p.size();
    p.resize(at + text.size());
    if (!text.empty()) EncodeText(text, p.data() + at);
    p.push_back(0x0D);
    p.push_back(0x0A);
}

class Run {
public:
    Run(Fields& f, int32_t sendFailed, const std::function<ExchangeOutcome(const Bytes&)>& exchange)
        : f_(f), sendFailed_(sendFailed), exchange_(exchange) {}

    // One exchange: its result, and the frame it got in frame_.
    int32_t Transact(const Bytes& payload) {
        const ExchangeOutcome o = exchange_(payload);
        if (!o.sent) {
            frame_.clear();
            return sendFailed_;
        }
        frame_ = o.accepted.frame;
        return ResultOf(o.accepted.code);
    }
    int32_t Query(uint8_t code) { return Transact(Bytes{code}); }
    Reply R() const { return Reply{frame_}; }

    int32_t GetTest(std::size_t n, uint8_t e) const {
        int32_t r = frame_.size() < n ? 2 : 0;
        if (R().At(0) == 0x28) r = R().At(1) == e ? 4 : 2;
        return r;
    }
    int32_t SetTest(uint8_t e) const {
        if (frame_.size() < 8) return 2;
        if (R().At(0) == 0x28) return R().At(1) == e ? 4 : 5;
        if (R().At(0) == 0x15) return 5;
        return 0;
    }
    // The address read inside a network Set: a refusal refuses the Set.
    int32_t SetReadTest() const {
        if (frame_.size() >= 8 && R().At(0) == 0x15) return 5;
        return GetTest(14, 0x10);
    }
    int32_t AckTest() const {
        if (frame_.size() < 8) return 2;
        return R().At(0) == 0x15 ? 5 : 0;
    }

    int32_t GetName() {
        int32_t r = Query(0x20);
        if (r == 0 && frame_.size() < 14) r = 2;
        if (r == 0) {
            f_.serial = DecimalText(R().U32(1));
            int k = 5;
            f_.name = R().Text(k);
        }
        return r;
    }

    int32_t Command(const std::string& c) {
        if (c == "ReadWeight") {
            int32_t r = Query(0x23);
            if (r == 0 && frame_.size() < 16) r = 2;
            if (r == 0) {
                f_.weight = static_cast<int32_t>(R().U32(1));
                f_.division = R().At(5);
                f_.stable = R().At(6);
                f_.net = R().At(7);
                f_.zero = R().At(8);
            }
            return r;
        }
        if (c == "GetTare") {
            int32_t r = Query(0xA1);
            if (r == 0 && frame_.size() < 12) r = 2;
            if (r == 0) f_.tare = static_cast<int32_t>(R().U32(1));
            return r;
        }
        if (c == "SetTare") {
            Bytes p{0xA3};
            Put32(p, static_cast<uint32_t>(f_.tare));
            const int32_t r = Transact(p);
            return r == 0 ? AckTest() : r;
        }
        if (c == "SetZero") {
            const int32_t r = Query(0x72);
            return r == 0 ? AckTest() : r;
        }
        if (c == "GetName") return GetName();
        if (c == "SetName") {
            Bytes p{0x22};
            PutText(p, f_.name);
            const int32_t r = Transact(p);
            return r == 0 ? AckTest() : r;
        }
        if (c == "GetEthernet") {
            f_.ip.clear();
            f_.mask.clear();
            f_.gateway.clear();
            GetName();
            int32_t r = Query(0x2D);
            if (r == 0) r = GetTest(22, 0x11);
            if (r == 0) {
                f_.ip = R().Address(1);
                f_.mask = R().Address(5);
                f_.gateway = R().Address(9);
                f_.portEthernet = static_cast<int32_t>(R().U16(13));
            }
            return r;
        }
        if (c == "SetEthernet") {
            Bytes p{0x39};
            Put32(p, Number(f_.ip));
            Put32(p, Number(f_.mask));
            Put32(p, Number(f_.gateway));
            Put16(p, static_cast<uint32_t>(f_.portEthernet));
            const int32_t r = Transact(p);
            return r == 0 ? SetTest(0x11) : r;
        }
        if (c == "GetWiFi") {
            f_.wifiIp.clear();
            f_.wifiMask.clear();
            f_.wifiGateway.clear();
            f_.portWiFi = 0;
            GetName();
            int32_t r = Query(0x3A);
            if (r == 0) r = GetTest(14, 0x10);
            if (r != 0) return r;
            f_.portWiFi = static_cast<int32_t>(R().U16(1));
            int k = 3;
            f_.ssid = R().Text(k);
            f_.key.clear();
            if (k < static_cast<int>(frame_.size()) - 5) {
                k += 2;
                f_.key = R().Text(k);
            }
            r = Query(0x33);
            if (r == 0) r = GetTest(14, 0x10);
            if (r != 0) return r;
            f_.wifiIp = R().Address(1);
            f_.wifiMask = R().Address(5);
            f_.wifiGateway = R().Address(9);
            f_.ap = R().Address(13);
            f_.portWiFi = static_cast<int32_t>(R().U16(17));
            return 0;
        }
        if (c == "SetWifi") {
            Bytes p{0x3C};
            Put16(p, static_cast<uint32_t>(f_.portWiFi));
            PutText(p, f_.ssid);
            PutText(p, f_.key);
            int32_t r = Transact(p);
            if (r == 0) r = SetTest(0x10);
            if (r != 0) return r;
            r = Query(0x33);
            if (r == 0) r = SetReadTest();
            if (r != 0) return r;
            const std::u16string ap = R().Address(13);
            Bytes q{0x31};
            Put32(q, Number(f_.wifiIp));
            Put32(q, Number(f_.wifiMask));
            Put32(q, Number(f_.wifiGateway));
            Put32(q, Number(ap));
            Put16(q, static_cast<uint32_t>(f_.portWiFi));
            r = Transact(q);
            return r == 0 ? SetTest(0x10) : r;
        }
        if (c == "GetWiFiAP") {
            f_.ap.clear();
            GetName();
            int32_t r = Query(0x33);
            if (r == 0) r = GetTest(14, 0x10);
            if (r == 0) f_.ap = R().Address(13);
            return r;
        }
        if (c == "SetWiFiAP") {
            int32_t r = Query(0x33);
            if (r == 0) r = SetReadTest();
            if (r != 0) return r;
            Bytes q{0x31};
            Put32(q, Number(R().Address(1)));
            Put32(q, Number(R().Address(5)));
            Put32(q, Number(R().Address(9)));
            Put32(q, Number(f_.ap));
            Put16(q, R().U16(17));
            r = Transact(q);
            return r == 0 ? SetTest(0x10) : r;
        }
        return -1;
    }

private:
    Fields& f_;
    int32_t sendFailed_;
    const std::function<ExchangeOutcome(const Bytes&)>& exchange_;
    Bytes frame_;
};

}  // namespace

bool Fields::operator==(const Fields& o) const {
    return weight == o.weight && division == o.division && stable == o.stable && net == o.net && zero == o.zero &&
           tare == o.tare && serial == o.serial && name == o.name && ip == o.ip && mask == o.mask &&
           gateway == o.gateway && portEthernet == o.portEthernet && ssid == o.ssid && key == o.key &&
           wifiIp == o.wifiIp && wifiMask == o.wifiMask && wifiGateway == o.wifiGateway && ap == o.ap &&
           portWiFi == o.portWiFi;
}

int32_t RunModel(const std::string& command, Fields& f, int32_t sendFailed,
                 const std::function<ExchangeOutcome(const Bytes& payload)>& exchange) {
    Run run(f, sendFailed, exchange);
    return run.Command(command);
}

bool Modelled(const std::string& command) {
    return command != "OpenConnection" && command != "CloseConnection";
}

}  // namespace pesolink::fuzz
