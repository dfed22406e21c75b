// Locale setting and the character-to-byte table of texts sent to the scale.
#include "driver/Language.h"

#include <atomic>
#include <cstdio>

#include "driver/Settings.h"
#include "driver/platform/Platform.h"
#include "link/TextNumber.h"

namespace pesolink {

namespace {

std::array<uint8_t, 65536> BuildCharToByte(CodePage page) {
    std::array<uint8_t, 65536> table{};
    for (int c = 0; c < 128; ++c) table[c] = static_cast<uint8_t>(c);
    // Upper-half bytes are placed last, so a character that the code page
    // also lists above 0x7F (the Armenian punctuation) takes that byte.
    const CodePageTable& upper = CodePageTableOf(page);
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char16_t c = upper[b - 0x80];
        if (c != 0) table[c] = static_cast<uint8_t>(b);
    }
    return table;
}

std::atomic<CodePage> SelectedPage{CodePage::Cyrillic};

}  // namespace

int32_t CurrentLcid = 0;
std::array<uint8_t, 65536> CharToByte = BuildCharToByte(CodePage::Cyrillic);

CodePage CodePageForLcid(int32_t lcid) {
    switch (lcid) {
        case 0x402: return CodePage::Cyrillic;         // Bulgarian
        case 0x409: return CodePage::Western;          // English (United States)
        case 0x40C: return CodePage::Western;          // French (France)
        case 0x410: return CodePage::Western;          // Italian (Italy)
        case 0x419: return CodePage::Cyrillic;         // Russian
        case 0x426: return CodePage::Baltic;           // Latvian
        case 0x42B: return CodePage::Armenian;         // Armenian
        case 0x42C: return CodePage::Azerbaijani;      // Azerbaijani (Latin)
        case 0x43F: return CodePage::Kazakh;           // Kazakh
        case 0x442: return CodePage::CentralEuropean;  // Turkmen
        default: return CodePage::Cyrillic;
    }
}

CodePage CurrentCodePage() { return SelectedPage.load(); }

int32_t ReadLocaleSetting(const std::u16string& iniFile) {
    const std::u16string text = platform::ProfileRead(iniFile, u"Settings", u"LCID", u"");
    const int32_t value = ParseHex32(text).value_or(0);
    if (value != 0) return value;

    const uint32_t lcid = platform::SystemDefaultLcid();
    char digits[9];
    std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(lcid));
    if (!platform::ProfileWrite(iniFile, u"Settings", u"LCID", platform::FromUtf8(digits)))
        throw DriverStartError("cannot write the setting LCID to " + platform::ToUtf8(iniFile));
    return static_cast<int32_t>(lcid);
}

void SelectLocale(int32_t lcid) {
    const CodePage page = CodePageForLcid(lcid);
    CharToByte = BuildCharToByte(page);
    SelectedPage.store(page);
    CurrentLcid = lcid;
}

void StartLocale(const std::u16string& iniFile) { SelectLocale(ReadLocaleSetting(iniFile)); }

void EncodeText(std::u16string_view text, uint8_t* dest) {
    for (std::size_t i = 0; i < text.size(); ++i) dest[i] = CharToByte[text[i]];
}

std::u16string DecodeAnsi(const uint8_t* bytes, std::size_t count) {
    return platform::FromAnsi(bytes, count);
}

}  // namespace pesolink
