#include "link/TextNumber.h"

#include <string>

namespace pesolink {

namespace {

int DigitValue(char16_t c, int base) {
    int v;
    if (c >= u'0' && c <= u'9') v = c - u'0';
    else if (c >= u'a' && c <= u'f') v = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') v = c - u'A' + 10;
    else return -1;
    return v < base ? v : -1;
}

template <typename Char>
std::optional<int32_t> Parse(std::basic_string_view<Char> s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == Char(' ')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == Char('-') || s[i] == Char('+'))) {
        negative = s[i] == Char('-');
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == Char('0') && (s[i + 1] == Char('x') || s[i + 1] == Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        const int d = DigitValue(static_cast<char16_t>(s[i]), base);
        if (d < 0) return std::nullopt;
        value = value * base + d;
        // Hexadecimal texts may spell the full 32-bit pattern (FFFFFFFF = -1).
        const int64_t limit = base == 16 ? 0xFFFFFFFFLL : 0x80000000LL;
        if (value > limit) return std::nullopt;
    }
    if (base == 16 && value > 0x7FFFFFFFLL) value -= 0x100000000LL;
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<int32_t>(value);
}

}  // namespace

std::optional<int32_t> ParseInt32(std::string_view text) { return Parse(text); }
std::optional<int32_t> ParseInt32(std::u16string_view text) { return Parse(text); }

std::optional<int32_t> ParseHex32(std::u16string_view text) {
    if (text.empty()) return std::nullopt;
    for (char16_t c : text)
        if (DigitValue(c, 16) < 0) return std::nullopt;
    std::u16string prefixed = u"$";
    prefixed += text;
    return Parse(std::u16string_view(prefixed));
}

}  // namespace pesolink
