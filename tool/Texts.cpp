#include "tool/Texts.h"

#include <climits>

namespace pesoconf {

namespace {

const char16_t kHexUpper[] = u"0123456789ABCDEF";

void AppendHex4(std::u16string& out, uint16_t v) {
    for (int shift = 12; shift >= 0; shift -= 4) out += kHexUpper[(v >> shift) & 0xF];
}

}  // namespace

std::u16string InterfaceText(uint8_t bitmap) {
    std::u16string s;
    for (int bit = 0; bit < 4; ++bit) {
        if (bitmap & (1u << bit)) {
            s += InterfaceNames[bit];
            s += u", ";
        }
    }
    if (s.size() >= 2) s.resize(s.size() - 2);
    return s;
}

std::u16string MacText(const std::array<uint8_t, 6>& bytes) {
    std::u16string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += u':';
        s += kHexUpper[bytes[i] >> 4];
        s += kHexUpper[bytes[i] & 0xF];
    }
    return s;
}

std::u16string DecimalText(int64_t value) {
    std::u16string s;
    const bool negative = value < 0;
    uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v);
    if (negative) s.insert(s.begin(), u'-');
    return s;
}

bool PortTextValue(const std::u16string& text, int32_t* value) {
    if (text.empty()) return false;
    int64_t v = 0;
    for (char16_t ch : text) {
        if (ch < u'0' || ch > u'9') return false;
        v = v * 10 + (ch - u'0');
        if (v > INT32_MAX) v = INT32_MAX;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

std::u16string VersionKeyPath(uint16_t language, uint16_t codePage) {
    std::u16string s = u"\\StringFileInfo\\";
    AppendHex4(s, language);
    AppendHex4(s, codePage);
    s += u"\\FileVersion";
    return s;
}

std::u16string HeadingWithVersion(const std::u16string& heading, const std::u16string& version) {
    return heading + u" (v" + version + u")";
}

}  // namespace pesoconf
