// The 8-bit code page of texts sent to the scale, chosen by the "LCID"
// setting at module start.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pesolink {

extern int32_t CurrentLcid;

// One byte per UTF-16 code unit through CharToByte; unrepresentable
// characters give 0. Writes exactly text.size() bytes, no terminator.
void EncodeText(std::u16string_view text, uint8_t* dest);

// Bytes read from the scale as text, through the computer's ANSI code page.
std::u16string DecodeAnsi(const uint8_t* bytes, std::size_t count);

}  // namespace pesolink
