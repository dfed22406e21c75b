#include "driver/IpText.h"

#include "driver/Logging.h"
#include "link/TextNumber.h"

namespace pesolink {

namespace {

// A group of an address: a non-empty run of decimal digits worth at most 255.
bool IsAddressGroup(std::u16string_view group) {
    if (group.empty()) return false;
    int value = 0;
    for (char16_t c : group) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + (c - u'0');
        if (value > 255) return false;  // also keeps long runs from overflowing
    }
    return true;
}

// The 32-bit value v shifted into place, as the signed 32-bit pattern it
// makes, widened to 64 bits: a top group of 128 or more turns the sum negative.
int64_t ShiftedGroup(std::u16string_view group, int shift) {
    const int32_t v = ParseInt32(group).value_or(0);
    const uint32_t placed = static_cast<uint32_t>(v) << (shift % 32);
    return static_cast<int64_t>(static_cast<int32_t>(placed));
}

}  // namespace

int32_t CheckIpStr(std::u16string_view text) {
    if (text.empty()) return 1;
    if (text[0] < u'1' || text[0] > u'9') return 1;
    std::size_t groupStart = 0;
    int dots = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'.') continue;
        if (!IsAddressGroup(text.substr(groupStart, i - groupStart))) return 1;
        groupStart = i + 1;
        ++dots;
    }
    if (!IsAddressGroup(text.substr(groupStart)) || dots != 3) return 1;
    return 0;
}

uint32_t IpStrToNum(std::u16string_view text) {
    WriteLog(std::u16string(u"--- IpStrToNum: String=") + std::u16string(text));
    int64_t sum = 0;
    int shift = 0;
    std::u16string group;
    for (std::size_t i = text.size(); i > 0; --i) {
        const char16_t c = text[i - 1];
        WriteLog(u"--- Step " + DecimalText(static_cast<int64_t>(i)) + u" s[i]=" + std::u16string(1, c));
        if (c == u'.') {
            sum += ShiftedGroup(group, shift);
            group.clear();
            shift += 8;
        } else {
            group.insert(group.begin(), c);
        }
    }
    sum += ShiftedGroup(group, shift);
    WriteLog(u"--- IpStrToNum: numeric=" + HexText(static_cast<uint64_t>(sum)));
    return static_cast<uint32_t>(static_cast<uint64_t>(sum));
}

std::u16string DottedText(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return DecimalText(a) + u"." + DecimalText(b) + u"." + DecimalText(c) + u"." + DecimalText(d);
}

std::u16string DecimalText(int64_t value) {
    const bool negative = value < 0;
    // Work on the magnitude as unsigned so that the smallest value is safe.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits.insert(digits.begin(), u'-');
    return digits;
}

std::u16string HexText(uint64_t value) {
    static const char16_t digitChars[] = u"0123456789ABCDEF";
    std::u16string digits;
    do {
        digits.insert(digits.begin(), digitChars[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return digits;
}

}  // namespace pesolink
