// Address texts: CheckIpStr against the rule written out independently,
// IpStrToNum (with its trace lines formed and written) on any text, the
// numeric value of every accepted address, the dotted text of four bytes,
// and the seven address properties, which store a text only when it is
// empty or accepted.
//
// Input: byte 0 selects how the rest becomes text: even = one character per
// byte, odd = UTF-16 code units, low byte first.
#include <string>
#include <vector>

#include "driver/IpText.h"
#include "driver/Logging.h"
#include "driver/Scales.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;

namespace {

// Four dot-separated groups of 1 or more decimal digits worth 0 to 255,
// the first character a digit 1 to 9.
bool Acceptable(const std::u16string& text, uint32_t& value) {
    if (text.empty() || text[0] < u'1' || text[0] > u'9') return false;
    std::vector<std::u16string> groups(1);
    for (char16_t c : text) {
        if (c == u'.') groups.emplace_back();
        else groups.back().push_back(c);
    }
    if (groups.size() != 4) return false;
    value = 0;
    for (const std::u16string& g : groups) {
        if (g.empty()) return false;
        unsigned v = 0;
        for (char16_t c : g) {
            if (c < u'0' || c > u'9') return false;
            v = v * 10 + (c - u'0');
            if (v > 255) return false;
        }
        value = (value << 8) | v;
    }
    return true;
}

struct Startup {
    Startup() { SetLogTarget(u"/dev/null", true); }
};

using Put = void (TScales::*)(const std::u16string&);
using Get = std::u16string (TScales::*)() const;
const struct {
    Put put;
    Get get;
} Properties[] = {
    {&TScales::put_IpAddress, &TScales::get_IpAddress},
    {&TScales::put_Mask, &TScales::get_Mask},
    {&TScales::put_Gateway, &TScales::get_Gateway},
    {&TScales::put_IpAddressWiFi, &TScales::get_IpAddressWiFi},
    {&TScales::put_MaskWiFi, &TScales::get_MaskWiFi},
    {&TScales::put_GatewayWiFi, &TScales::get_GatewayWiFi},
    {&TScales::put_ApIpAddressWiFi, &TScales::get_ApIpAddressWiFi},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Startup startup;
    if (size < 1) return 0;
    std::u16string text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 1; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
    }

    uint32_t value = 0;
    const bool ok = Acceptable(text, value);
    const int32_t checked = CheckIpStr(text);
    FUZZ_CHECK(checked == (ok ? 0 : 1), "CheckIpStr gave %d", checked);

    const uint32_t number = IpStrToNum(text);
    if (ok) {
        FUZZ_CHECK(number == value, "IpStrToNum gave %08X for %08X", number, value);
        // Back to four bytes and to text: the same number again.
        const std::u16string dotted = DottedText(static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                                                 static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
        FUZZ_CHECK(CheckIpStr(dotted) == 0 && IpStrToNum(dotted) == value, "dotted text of %08X", value);
    }

    TScales s;
    for (const auto& p : Properties) {
        (s.*p.put)(u"10.0.0.1");
        (s.*p.put)(text);
        const std::u16string got = (s.*p.get)();
        FUZZ_CHECK(got == ((ok || text.empty()) ? text : u"10.0.0.1"), "address put kept the wrong text");
    }
    return 0;
}
