// The 8-bit code page of texts sent to the scale, chosen by the "LCID"
// setting at module start.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/CodePages.h"

namespace pesolink {

// The locale identifier in force; 0 before the first module start.
extern int32_t CurrentLcid;

// Byte of each UTF-16 code unit in the selected code page, 0 where it has
// none. Written only while the module starts; read-only afterwards.
extern std::array<uint8_t, 65536> CharToByte;

// One byte per UTF-16 code unit through CharToByte; unrepresentable
// characters give 0. Writes exactly text.size() bytes, no terminator.
void EncodeText(std::u16string_view text, uint8_t* dest);

// Bytes read from the scale as text, through the computer's ANSI code page.
std::u16string DecodeAnsi(const uint8_t* bytes, std::size_t count);

// The code page that a locale identifier selects (the whole identifier is
// compared; unknown ones select Cyrillic).
CodePage CodePageForLcid(int32_t lcid);

// The code page selected by the last SelectLocale (Cyrillic before it).
CodePage CurrentCodePage();

// Reads "LCID" from the section "Settings" of iniFile; a value that is
// missing or does not convert (or is 0) is replaced by the system's default
// locale, which is written back as upper-case hexadecimal digits. Throws
// DriverStartError when that write is refused.
int32_t ReadLocaleSetting(const std::u16string& iniFile);

// Sets CurrentLcid and builds CharToByte for it.
void SelectLocale(int32_t lcid);

// Locale start: SelectLocale(ReadLocaleSetting(iniFile)).
void StartLocale(const std::u16string& iniFile);

}  // namespace pesolink
