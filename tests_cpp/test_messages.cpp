// Message helpers: numbers and quoted literals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "util/text.hpp"

using namespace tarvex;

TEST(Text, FormatNumber) {
    EXPECT_EQ(text::format_number(1000.0), "1000");
    EXPECT_EQ(text::format_number(0.15), "0.15");
    EXPECT_EQ(text::format_number(1e-7), "0.0000001");
    EXPECT_EQ(text::format_number(1e22), "10000000000000000000000");
    EXPECT_EQ(text::format_number(-0.0), "-0");
    EXPECT_EQ(text::format_number(5e-324).size(), 326u);
    EXPECT_EQ(text::format_number(std::nan("")), "NaN");
    EXPECT_EQ(text::format_number(-std::numeric_limits<double>::infinity()), "-inf");
    // Shortest digits padded with zeros, not the exact binary value.
    EXPECT_EQ(text::format_number(8.216181435011583e22), "82161814350115830000000");
    EXPECT_EQ(text::format_number(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
    EXPECT_EQ(text::format_number(-123456.789), "-123456.789");
    EXPECT_EQ(text::format_number(0.0), "0");
    EXPECT_EQ(text::format_number(5e-324), "0." + std::string(323, '0') + "5");
    EXPECT_EQ(text::format_number(2.5e-3), "0.0025");
    EXPECT_EQ(text::format_number(9007199254740993.0), "9007199254740992");
}

TEST(Text, Quoted) {
    EXPECT_EQ(text::quoted("Low"), "\"Low\"");
    EXPECT_EQ(text::quoted("a\"b\\c\n\t\r"), "\"a\\\"b\\\\c\\n\\t\\r\"");
    EXPECT_EQ(text::quoted(std::string_view("\x1b\x7f\0", 3)), "\"\\u{1b}\\u{7f}\\0\"");
}
