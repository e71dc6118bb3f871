// Cutting card lines with a caller's widths, and the include-name extents the
// include tree uses to leave names that cannot name a file unread.
#include <gtest/gtest.h>

#include <string>

#include "include/include.hpp"
#include "parser/field.hpp"

using namespace tarvex;

TEST(LineCutter, HugeWidthsSaturateInsteadOfWrapping) {
    const std::size_t huge = static_cast<std::size_t>(-1) / 2 + 2;
    LineCutter cut("       1       2", CardFormat::Long);
    EXPECT_EQ(cut.next(huge), "       1       2");
    // A wrapped position would come back to the start of the line.
    EXPECT_EQ(cut.next(huge), "");
    EXPECT_EQ(cut.next(4), "");
}

TEST(IncludeNames, ExtentsCountTheNameLinesAndShareContinuations) {
    std::string bytes = "*INCLUDE\n$ c\na.k\n*INCLUDE +\n*INCLUDE +\nb.k\n";
    auto hits = scan_all_hits(bytes);
    ASSERT_EQ(hits.size(), 3u);
    auto ext = name_extents(bytes, hits, 100);
    // "a.k\n"; "*INCLUDE +\n" + "b.k\n"; "b.k\n".
    EXPECT_EQ(ext, (std::vector<std::size_t>{4, 15, 4}));
    EXPECT_EQ(*read_include_filename(bytes, hits[1].name_pos), "*INCLUDEb.k");
    EXPECT_EQ(name_extents(bytes, hits, 10), (std::vector<std::size_t>{4, 11, 4}));
}

TEST(IncludeNames, ExtentsOfALongChainSaturate) {
    std::string bytes;
    for (int i = 0; i < 10000; ++i) bytes += "*INCLUDE +\n";
    bytes += "x\n";
    auto hits = scan_all_hits(bytes);
    auto ext = name_extents(bytes, hits, kResolvableNameBytes);
    ASSERT_EQ(ext.size(), 10000u);
    EXPECT_EQ(ext.front(), kResolvableNameBytes + 1);
    EXPECT_EQ(ext.back(), 2u);
    EXPECT_EQ(ext[9999 - 5], 5 * 11 + 2u);
}
