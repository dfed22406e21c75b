// EncodeText under every locale row and under identifiers without a row of
// their own: exactly one byte per UTF-16 code unit, written into a buffer
// of exactly that size, each byte the one the selected code page gives the
// character (the highest byte listing it, its own value below 0x80, or 0).
//
// Input: byte 0 picks the locale (a row of the table, or the next four
// bytes as an identifier); the rest is the text in UTF-16, low byte first.
#include <memory>
#include <string>

#include "driver/CodePages.h"
#include "driver/Language.h"
#include "driver/platform/Platform.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;

namespace {

// The locale rows and their tables, written out apart from Language.cpp.
const struct {
    int32_t lcid;
    CodePage page;
} Rows[] = {
    {0x402, CodePage::Cyrillic}, {0x409, CodePage::Western},  {0x40C, CodePage::Western},
    {0x410, CodePage::Western},  {0x419, CodePage::Cyrillic}, {0x426, CodePage::Baltic},
    {0x42B, CodePage::Armenian}, {0x42C, CodePage::Azerbaijani}, {0x43F, CodePage::Kazakh},
    {0x442, CodePage::CentralEuropean},
};
constexpr std::size_t RowCount = sizeof Rows / sizeof Rows[0];

uint8_t ByteOf(const CodePageTable& upper, char16_t c) {
    for (int b = 0xFF; b >= 0x80; --b)
        if (upper[b - 0x80] == c && c != 0) return static_cast<uint8_t>(b);
    return c < 0x80 ? static_cast<uint8_t>(c) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::size_t at = 1;
    int32_t lcid;
    CodePage page;
    if (data[0] < 2 * RowCount) {
        lcid = Rows[data[0] % RowCount].lcid;
        page = Rows[data[0] % RowCount].page;
    } else {
        if (size < 5) return 0;
        lcid = static_cast<int32_t>(data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<uint32_t>(data[4]) << 24));
        at = 5;
        page = CodePage::Cyrillic;
        for (const auto& r : Rows)
            if (r.lcid == lcid) page = r.page;
    }
    std::u16string text;
    for (; at + 1 < size; at += 2) text.push_back(static_cast<char16_t>(data[at] | (data[at + 1] << 8)));

    SelectLocale(lcid);
    FUZZ_CHECK(CurrentLcid == lcid, "locale not taken");
    const CodePageTable& upper = CodePageTableOf(page);

    // Exactly text.size() bytes: one more written would land outside.
    std::unique_ptr<uint8_t[]> out(new uint8_t[text.size()]);
    EncodeText(text, out.get());
    for (std::size_t i = 0; i < text.size(); ++i)
        FUZZ_CHECK(out[i] == ByteOf(upper, text[i]), "U+%04X gave %02X, the code page %02X",
                   static_cast<unsigned>(text[i]), out[i], ByteOf(upper, text[i]));

    // The log's text goes through the same table: a character without a
    // byte is a question mark there.
    const std::string ansi = platform::ToAnsi(text);
    FUZZ_CHECK(ansi.size() == text.size(), "log text length");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const uint8_t want = (out[i] == 0 && text[i] != 0) ? '?' : out[i];
        FUZZ_CHECK(static_cast<uint8_t>(ansi[i]) == want, "log byte of U+%04X", static_cast<unsigned>(text[i]));
    }
    return 0;
}
