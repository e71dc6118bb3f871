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

#include "schema/schema.hpp"
#include "util/pool.hpp"

TEST(CollectChunks, PiecesFollowTheSizeRuleAndTileEachBody) {
    std::string body1, body2 = "       9\n";
    for (int i = 0; i < 300000; ++i) body1 += "       1     0.5\n";  // 4.8 MB
    std::string bytes = "*NODE\n" + body1 + "*PART\nx\n*node\n" + body2;
    ParsedFile f = parse_source("mem.k", std::make_shared<const Source>(bytes));
    auto chunks = collect_chunks({&f}, "NODE");
    std::size_t total = body1.size() + body2.size();
    std::size_t n = pool::num_threads();
    std::size_t target = std::max<std::size_t>(kMinChunkBytes, (total + 2 * n - 1) / (2 * n));
    std::string joined;
    ASSERT_GE(chunks.size(), 2u);
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
        std::string_view c = chunks[i].bytes;
        joined.append(c);
        if (i + 2 < chunks.size()) {  // all but the last piece of the first body
            EXPECT_EQ(c.back(), '\n');
            EXPECT_GT(c.size(), target);
            EXPECT_LE(c.size(), target + 17);  // ends just past the first LF at or after the target
        }
    }
    EXPECT_EQ(joined + std::string(chunks.back().bytes), body1 + body2);
    EXPECT_EQ(chunks.back().bytes, body2);  // a small block is one whole piece
}
