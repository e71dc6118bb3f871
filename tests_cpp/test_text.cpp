// Lossy UTF-8 decoding and Unicode trimming.
#include <gtest/gtest.h>

#include "file/path.hpp"
#include "util/text.hpp"

using namespace tarvex;

TEST(Text, LossyReplacesMaximalSubparts) {
    EXPECT_EQ(text::utf8_lossy("abc"), "abc");
    EXPECT_EQ(text::utf8_lossy("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    // A truncated three-byte sequence is one replacement.
    EXPECT_EQ(text::utf8_lossy("\xE2\x82"), "\xEF\xBF\xBD");
    // Surrogates are invalid: each byte replaced.
    EXPECT_EQ(text::utf8_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(text::utf8_lossy("\xE2\x82\xAC"), "\xE2\x82\xAC");
}

TEST(Text, TrimUnicode) {
    EXPECT_EQ(text::trim_unicode(" \t a b \xC2\xA0"), "a b");
    EXPECT_EQ(text::trim_unicode("\xE3\x80\x80x\xE2\x80\x83"), "x");
    EXPECT_EQ(text::trim_unicode("   "), "");
}

TEST(Path, SameComparesComponents) {
    EXPECT_TRUE(path::same("/a/b", "/a//b/"));
    EXPECT_TRUE(path::same("/a/./b", "/a/b"));
    EXPECT_FALSE(path::same("/a/b", "/a/c"));
    EXPECT_FALSE(path::same("a/b", "/a/b"));
    EXPECT_EQ(path::parent("/x/y.k"), "/x");
    EXPECT_EQ(path::parent("/y.k"), "/");
    EXPECT_EQ(path::parent("y.k"), ".");
    EXPECT_EQ(path::join("/x", "y.k"), "/x/y.k");
    EXPECT_EQ(path::join("/", "y.k"), "/y.k");
    EXPECT_EQ(path::join("/x", "/abs.k"), "/abs.k");
}
