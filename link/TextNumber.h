// Integer reading of texts as the driver's settings and connection texts use
// it: optional blanks, an optional sign, then decimal digits (or a "$" or
// "0x" prefix and hexadecimal digits), fitting 32 bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pesolink {

std::optional<int32_t> ParseInt32(std::string_view text);
std::optional<int32_t> ParseInt32(std::u16string_view text);

// Hexadecimal digits only, no prefix and no sign (the "LCID" setting).
std::optional<int32_t> ParseHex32(std::u16string_view text);

}  // namespace pesolink
