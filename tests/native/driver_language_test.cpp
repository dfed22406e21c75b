// Code pages, the locale rows and text encoding for the scale.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "driver/CodePages.h"
#include "driver/Language.h"

namespace pesolink {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(std::u16string_view text) {
    Bytes out(text.size() + 2, 0xEE);  // two guard bytes past the end
    EncodeText(text, out.data());
    EXPECT_EQ(out[text.size()], 0xEE) << "wrote past the text";
    EXPECT_EQ(out[text.size() + 1], 0xEE) << "wrote past the text";
    out.resize(text.size());
    return out;
}

struct EncodeCase {
    int32_t lcid;
    std::u16string text;
    Bytes bytes;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << "LCID " << std::hex << c.lcid << ", text";
    for (const char16_t ch : c.text) *os << " U+" << static_cast<int>(ch);
}

class EncodeTextTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTextTest, EncodesThroughTheSelectedCodePage) {
    const EncodeCase& c = GetParam();
    SelectLocale(c.lcid);
    EXPECT_EQ(CurrentLcid, c.lcid);
    EXPECT_EQ(Encode(c.text), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, EncodeTextTest,
    testing::Values(
        // Russian name in 1251, and the same name where 1252 has no letters for it.
        EncodeCase{0x419, u"\u0412\u0435\u0441\u044B", {0xC2, 0xE5, 0xF1, 0xFB}},
        EncodeCase{0x409, u"\u0412\u0435\u0441\u044B", {0, 0, 0, 0}},
        EncodeCase{0x409, u"Caf\u00E9", {0x43, 0x61, 0x66, 0xE9}},
        EncodeCase{0x419, u"Caf\u00E9", {0x43, 0x61, 0x66, 0x00}},
        // Azerbaijani schwa replaces AE/ae of 1254; those two are then gone.
        EncodeCase{0x42C, u"\u018F\u0259\u00C6\u00E6\u011E", {0xC6, 0xE6, 0, 0, 0xD0}},
        // Armenian: upper-half bytes win over the ASCII ones.
        EncodeCase{0x42B, u"\u0531(),-.", {0xB2, 0xA5, 0xA4, 0xAB, 0xAC, 0xA9}},
        EncodeCase{0x42B, u"\u0556\u0586\u055A\u0587", {0xFC, 0xFD, 0xFE, 0xA2}},
        EncodeCase{0x42B, u"a1 ", {0x61, 0x31, 0x20}},
        EncodeCase{0x426, u"\u0101", {0xE2}},
        EncodeCase{0x43F, u"\u049A", {0x8D}},
        EncodeCase{0x442, u"\u0148", {0xF2}},
        EncodeCase{0x402, u"\u0416", {0xC6}},
        EncodeCase{0x40C, u"\u20AC", {0x80}},
        EncodeCase{0x410, u"\u00E0", {0xE0}},
        // C1 controls are no stand-ins for undefined bytes; surrogates have no byte.
        EncodeCase{0x409, u"\u0081\u008D", {0, 0}},
        EncodeCase{0x419, std::u16string{u'\xD83D', u'\xDE00', u'\xDC00'}, {0, 0, 0}},
        EncodeCase{0x419, std::u16string(u"\0A", 2), {0x00, 0x41}},
        // An identifier is compared whole: a sort identifier or an unlisted
        // locale selects Cyrillic.
        EncodeCase{0x10409, u"\u0416\u00E9", {0xC6, 0}},
        EncodeCase{0x809, u"\u0416\u00E9", {0xC6, 0}}));

TEST(EncodeText, EmptyTextWritesNothing) {
    SelectLocale(0x419);
    uint8_t guard = 0x5A;
    EncodeText(u"", &guard);
    EXPECT_EQ(guard, 0x5A);
}

struct LcidRow {
    int32_t lcid;
    CodePage page;
};

TEST(CodePageForLcid, EveryRowAndTheRest) {
    const LcidRow rows[] = {
        {0x402, CodePage::Cyrillic},    {0x409, CodePage::Western},
        {0x40C, CodePage::Western},     {0x410, CodePage::Western},
        {0x419, CodePage::Cyrillic},    {0x426, CodePage::Baltic},
        {0x42B, CodePage::Armenian},    {0x42C, CodePage::Azerbaijani},
        {0x43F, CodePage::Kazakh},      {0x442, CodePage::CentralEuropean},
        {0x809, CodePage::Cyrillic},    {0x10419, CodePage::Cyrillic},
        {0x10409, CodePage::Cyrillic},  {0, CodePage::Cyrillic},
        {-1, CodePage::Cyrillic},       {0x407, CodePage::Cyrillic},
    };
    for (const LcidRow& row : rows) {
        EXPECT_EQ(CodePageForLcid(row.lcid), row.page) << std::hex << row.lcid;
        SelectLocale(row.lcid);
        EXPECT_EQ(CurrentCodePage(), row.page) << std::hex << row.lcid;
    }
}

// The bytes each code page leaves undefined: any other zero would be a lost
// character, any extra entry a best-fit mapping.
struct UndefinedBytes {
    CodePage page;
    std::vector<int> bytes;
};

TEST(CodePageTables, UndefinedBytesAreExactlyThePublishedGaps) {
    std::vector<int> armenian;
    for (int b = 0x80; b <= 0xA1; ++b) armenian.push_back(b);
    armenian.push_back(0xFF);
    const UndefinedBytes cases[] = {
        {CodePage::CentralEuropean, {0x81, 0x83, 0x88, 0x90, 0x98}},
        {CodePage::Cyrillic, {0x98}},
        {CodePage::Kazakh, {0x98}},
        {CodePage::Western, {0x81, 0x8D, 0x8F, 0x90, 0x9D}},
        {CodePage::Azerbaijani, {0x81, 0x8D, 0x8E, 0x8F, 0x90, 0x9D, 0x9E}},
        {CodePage::Baltic, {0x81, 0x83, 0x88, 0x8A, 0x8C, 0x90, 0x98, 0x9A, 0x9C, 0x9F, 0xA1, 0xA5}},
        {CodePage::Armenian, armenian},
    };
    for (const UndefinedBytes& c : cases) {
        std::vector<int> zeros;
        const CodePageTable& table = CodePageTableOf(c.page);
        for (int b = 0x80; b <= 0xFF; ++b)
            if (table[b - 0x80] == 0) zeros.push_back(b);
        EXPECT_EQ(zeros, c.bytes) << "code page " << static_cast<int>(c.page);
    }
}

struct TableEntry {
    CodePage page;
    int byte;
    char16_t character;
};

TEST(CodePageTables, KnownEntries) {
    const TableEntry entries[] = {
        {CodePage::CentralEuropean, 0x8A, u'\u0160'}, {CodePage::CentralEuropean, 0xFF, u'\u02D9'},
        {CodePage::Cyrillic, 0x80, u'\u0402'},        {CodePage::Cyrillic, 0xC0, u'\u0410'},
        {CodePage::Cyrillic, 0xFF, u'\u044F'},        {CodePage::Cyrillic, 0xB9, u'\u2116'},
        {CodePage::Kazakh, 0x8D, u'\u049A'},          {CodePage::Kazakh, 0xAF, u'\u04AE'},
        {CodePage::Kazakh, 0xC0, u'\u0410'},          {CodePage::Western, 0x80, u'\u20AC'},
        {CodePage::Western, 0x9F, u'\u0178'},         {CodePage::Western, 0xFF, u'\u00FF'},
        {CodePage::Azerbaijani, 0xC6, u'\u018F'},     {CodePage::Azerbaijani, 0xE6, u'\u0259'},
        {CodePage::Azerbaijani, 0xDD, u'\u0130'},     {CodePage::Azerbaijani, 0xFD, u'\u0131'},
        {CodePage::Baltic, 0xE2, u'\u0101'},          {CodePage::Baltic, 0xFF, u'\u02D9'},
        {CodePage::Armenian, 0xA2, u'\u0587'},        {CodePage::Armenian, 0xB2, u'\u0531'},
        {CodePage::Armenian, 0xB3, u'\u0561'},        {CodePage::Armenian, 0xFC, u'\u0556'},
        {CodePage::Armenian, 0xFD, u'\u0586'},        {CodePage::Armenian, 0xFE, u'\u055A'},
    };
    for (const TableEntry& e : entries)
        EXPECT_EQ(CodePageTableOf(e.page)[e.byte - 0x80], e.character)
            << "code page " << static_cast<int>(e.page) << " byte " << std::hex << e.byte;
}

// Every defined upper-half byte encodes back to itself, so the tables hold
// no character twice.
TEST(CodePageTables, EveryDefinedByteRoundTrips) {
    const int32_t lcids[] = {0x442, 0x419, 0x43F, 0x409, 0x42C, 0x426, 0x42B};
    for (const int32_t lcid : lcids) {
        SelectLocale(lcid);
        const CodePageTable& table = CodePageTableOf(CurrentCodePage());
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char16_t c = table[b - 0x80];
            if (c >= 0x80) {
                EXPECT_EQ(CharToByte[c], b) << std::hex << lcid << " " << b;
            }
        }
    }
}

TEST(DecodeAnsi, BytesThroughTheCodePage) {
    SelectLocale(0x419);
    const uint8_t name[] = {0xC2, 0xE5, 0xF1, 0x20, 0x31, 0x98};
    EXPECT_EQ(DecodeAnsi(name, sizeof name), u"\u0412\u0435\u0441 1\uFFFD");
    EXPECT_EQ(DecodeAnsi(name, 0), u"");
}

}  // namespace
}  // namespace pesolink
