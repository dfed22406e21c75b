#include <gtest/gtest.h>

#include "tool/Texts.h"
#include "tool/fakes/Fakes.h"

namespace pesoconf {
namespace {

using fakes::Narrow;

TEST(InterfaceText, NamesTheLowFourBitsInOrder) {
    const struct {
        uint8_t bitmap;
        const char* text;
    } cases[] = {
        {0x0D, "RS-232, Ethernet, Wi-fi"},
        {0x0F, "RS-232, USB, Ethernet, Wi-fi"},
        {0x01, "RS-232"},
        {0x02, "USB"},
        {0x08, "Wi-fi"},
        {0x00, ""},
        {0xF0, ""},
        {0xF6, "USB, Ethernet"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Narrow(InterfaceText(c.bitmap)), c.text) << "bitmap " << int(c.bitmap);
}

TEST(MacText, TwoUpperCaseDigitsPerByte) {
    EXPECT_EQ(Narrow(MacText({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})), "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(Narrow(MacText({0xAB, 0x0C, 0xFF, 0x00, 0x01, 0x10})), "AB:0C:FF:00:01:10");
}

TEST(PortTextValue, DigitsOnly) {
    const struct {
        const char16_t* text;
        bool valid;
        int32_t value;
    } cases[] = {
        {u"0", true, 0},           {u"65535", true, 65535}, {u"65536", true, 65536},
        {u"007", true, 7},         {u"", false, 0},         {u"80a", false, 0},
        {u"-5", false, 0},         {u" 80", false, 0},      {u"+1", false, 0},
        {u"99999999999999", true, INT32_MAX},
    };
    for (const auto& c : cases) {
        int32_t v = -1;
        EXPECT_EQ(PortTextValue(c.text, &v), c.valid) << Narrow(c.text);
        if (c.valid) {
            EXPECT_EQ(v, c.value) << Narrow(c.text);
        }
    }
}

TEST(VersionKeyPath, FourUpperCaseDigitsEach) {
    EXPECT_EQ(Narrow(VersionKeyPath(0x0419, 0x04E3)), "\\StringFileInfo\\041904E3\\FileVersion");
    EXPECT_EQ(Narrow(VersionKeyPath(0x0409, 0x04E4)), "\\StringFileInfo\\040904E4\\FileVersion");
    EXPECT_EQ(Narrow(VersionKeyPath(0x0000, 0x04B0)), "\\StringFileInfo\\000004B0\\FileVersion");
}

TEST(HeadingWithVersion, SuffixEvenWithoutVersion) {
    EXPECT_EQ(Narrow(HeadingWithVersion(u"Pesoconf 100", u"1.8.1400.0")),
              "Pesoconf 100 (v1.8.1400.0)");
    EXPECT_EQ(Narrow(HeadingWithVersion(u"Pesoconf 100", u"")), "Pesoconf 100 (v)");
}

TEST(DecimalText, SignedValues) {
    EXPECT_EQ(Narrow(DecimalText(0)), "0");
    EXPECT_EQ(Narrow(DecimalText(5001)), "5001");
    EXPECT_EQ(Narrow(DecimalText(-12)), "-12");
    EXPECT_EQ(Narrow(DecimalText(INT32_MIN)), "-2147483648");
}

}  // namespace
}  // namespace pesoconf
