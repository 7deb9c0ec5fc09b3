#include <gtest/gtest.h>

#include <cstring>

#include "common/get_hex.h"

namespace {

struct Cursor {
    explicit Cursor(const char* t) : text(t), left(static_cast<int>(strlen(t))) {}
    const char* text;
    int left;
};

TEST(GetHex, DigitsAreUpperCaseHexOnly) {
    for (const char* good : {"0", "9", "A", "F"}) {
        Cursor c(good);
        uint8_t v = 0xFF;
        EXPECT_EQ(get_hex4(&c.text, &c.left, &v), CMD_OK) << good;
    }
    for (const char* bad : {"a", "f", "G", " ", "/", ":", "@"}) {
        Cursor c(bad);
        uint8_t v = 0;
        EXPECT_EQ(get_hex4(&c.text, &c.left, &v), CMD_HEX) << bad;
    }
    Cursor c("B");
    uint8_t v = 0;
    get_hex4(&c.text, &c.left, &v);
    EXPECT_EQ(v, 0xB);
    EXPECT_EQ(c.left, 0);
}

TEST(GetHex, BlanksMayPrecedeEveryBytePair) {
    Cursor c("12 34");
    uint16_t v = 0;
    EXPECT_EQ(get_hex16(&c.text, &c.left, &v), CMD_OK);
    EXPECT_EQ(v, 0x1234);
    Cursor d("   AB  CD EF 01");
    uint32_t w = 0;
    EXPECT_EQ(get_hex32(&d.text, &d.left, &w), CMD_OK);
    EXPECT_EQ(w, 0xABCDEF01u);
    EXPECT_EQ(d.left, 0);
    // A blank inside a pair is not allowed; tabs are not blanks.
    Cursor e("1 2");
    uint8_t b = 0;
    EXPECT_EQ(get_hex8(&e.text, &e.left, &b), CMD_HEX);
    Cursor f("\t12");
    EXPECT_EQ(get_hex8(&f.text, &f.left, &b), CMD_HEX);
}

TEST(GetHex, FieldsReadHighByteFirstAndStopWhereTheyEnd) {
    Cursor c("0A0B0C 7F");
    uint32_t v = 0;
    EXPECT_EQ(get_hex24(&c.text, &c.left, &v), CMD_OK);
    EXPECT_EQ(v, 0x0A0B0Cu);
    uint8_t last = 0;
    EXPECT_EQ(get_hex8(&c.text, &c.left, &last), CMD_OK);
    EXPECT_EQ(last, 0x7F);
}

TEST(GetHex, RunningOutOfTextIsALengthError) {
    Cursor c("123");
    uint16_t v = 0xBEEF;
    EXPECT_EQ(get_hex16(&c.text, &c.left, &v), CMD_LENGTH);
    EXPECT_EQ(v, 0xBEEF); // nothing is stored from a partial field
    Cursor blank("   ");
    uint8_t b = 0;
    EXPECT_EQ(get_hex8(&blank.text, &blank.left, &b), CMD_LENGTH);
    EXPECT_EQ(blank.left, 0);
    // The counter bounds the read even when the text goes on.
    Cursor cut("ABCD");
    cut.left = 3;
    EXPECT_EQ(get_hex16(&cut.text, &cut.left, &v), CMD_LENGTH);
    char ch = 0;
    Cursor none("");
    EXPECT_EQ(get_next(&none.text, &none.left, &ch), CMD_LENGTH);
}

} // namespace
