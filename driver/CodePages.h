// The 8-bit code pages that texts for the scale can be encoded in. Bytes
// 0x00 to 0x7F always stand for U+0000 to U+007F; each table gives the upper
// half.
#pragma once

#include <array>

namespace pesolink {

enum class CodePage {
    CentralEuropean,  // 1250
    Cyrillic,         // 1251
    Kazakh,           // KZ-1048
    Western,          // 1252
    Azerbaijani,      // 1254 with the schwa letters at 0xC6 / 0xE6
    Baltic,           // 1257
    Armenian,
};

// Entry i is the character of byte 0x80 + i, or 0 where the code page leaves
// the byte undefined.
using CodePageTable = std::array<char16_t, 128>;

const CodePageTable& CodePageTableOf(CodePage page);

}  // namespace pesolink
