// IPv4 address texts of the scale's network settings: the check applied by
// the address properties, the numeric form sent to the scale (with its trace
// lines), and the dotted text of four reply bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pesolink {

// 0 when the text is four dot-separated decimal groups of 0 to 255 whose
// first character is a digit 1 to 9; 1 otherwise (the empty text included).
int32_t CheckIpStr(std::u16string_view text);

// The address as a number, a.b.c.d = a*2^24 + b*2^16 + c*2^8 + d, built
// group by group from the last one. Logs the text, one line per character
// and the sum in hexadecimal. Groups that are not numbers count as 0.
uint32_t IpStrToNum(std::u16string_view text);

// "a.b.c.d" in decimal without leading zeros.
std::u16string DottedText(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

// Decimal and upper-case hexadecimal (no leading zeros) digits of a number.
std::u16string DecimalText(int64_t value);
std::u16string HexText(uint64_t value);

}  // namespace pesolink
