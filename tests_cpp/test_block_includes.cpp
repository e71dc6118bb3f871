// Include directives read from the block table, with *INCLUDE_TRANSFORM offsets.
#include <gtest/gtest.h>

#include "tmp_dir.hpp"

#include <filesystem>
#include <fstream>
#include <limits>

#include "include/block_includes.hpp"
#include "parser/parsed_file.hpp"

using namespace tarvex;

namespace {

ParsedFile parse(std::string bytes, std::string path = "/nonexistent-dir/main.k") {
    return parse_source(std::move(path), std::make_shared<const Source>(std::move(bytes)));
}

TransformOffsets single_transform(const std::string& deck) {
    ParsedFile f = parse(deck);
    auto raw = extract_raw_includes(f);
    EXPECT_EQ(raw.size(), 1u);
    if (raw.empty()) return {};
    EXPECT_EQ(raw[0].kind, IncludeKind::IncludeTransform);
    return raw[0].offsets;
}

TransformOffsets offsets(std::initializer_list<std::int64_t> v) {
    TransformOffsets o;
    std::size_t i = 0;
    for (auto x : v) o.v[i++] = x;
    return o;
}

std::string pad10(const std::string& v) { return std::string(10 - v.size(), ' ') + v; }


}  // namespace

TEST(BlockIncludes, FixedColumnOffsets) {
    EXPECT_EQ(single_transform("*KEYWORD\n*INCLUDE_TRANSFORM\nx.k\n"
                               "      1000         2         3         4         5         6         7\n"
                               "       500\n*END\n"),
              offsets({1000, 2, 3, 4, 5, 6, 7, 500}));
}

TEST(BlockIncludes, OnlyTheFileNameGivesZeroOffsets) {
    EXPECT_TRUE(single_transform("*INCLUDE_TRANSFORM\nx.k\n*END\n").is_zero());
    EXPECT_TRUE(single_transform("*INCLUDE_TRANSFORM\nx.k").is_zero());
}

TEST(BlockIncludes, CommaSeparatedOffsets) {
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k\n0,1000000,0,0,0,0,0\n"),
              offsets({0, 1000000, 0, 0, 0, 0, 0, 0}));
    // A short comma line leaves the missing values at 0.
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k\n7,8\n9,\n"), offsets({7, 8, 0, 0, 0, 0, 0, 9}));
}

TEST(BlockIncludes, FloatFallbackAndUnreadableValues) {
    std::string line;
    for (const char* v : {"1000.", "1.5e3", "abc", "", "-2.7", "1e30", "nan"}) line += pad10(v);
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k\n" + line + "\n"),
              offsets({1000, 1500, 0, 0, -2, std::numeric_limits<std::int64_t>::max(), 0, 0}));
    EXPECT_EQ(transform_offset_value("-1e300"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(transform_offset_value("  42 "), 42);
    EXPECT_EQ(transform_offset_value(""), 0);
    EXPECT_EQ(transform_offset_value("1.5D3"), 1500);
}

TEST(BlockIncludes, ThirdCardGivesIdroff) {
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k\n1\n500\n").v[7], 500);
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k\n1\n").v[7], 0);
}

TEST(BlockIncludes, CommentAndBlankLinesAreNotCards) {
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\n$ file\nx.k\n$  idnoff\n\n   \n       100\n  $ c\n       200\n"),
              offsets({100, 0, 0, 0, 0, 0, 0, 200}));
}

TEST(BlockIncludes, LongFormatDoublesTheWidths) {
    EXPECT_EQ(single_transform("*KEYWORD LONG=S\n*INCLUDE_TRANSFORM\nx.k\n"
                               "                1000                2000\n"
                               "                 500\n"),
              offsets({1000, 2000, 0, 0, 0, 0, 0, 500}));
    // The same line read in standard columns gives other values.
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k\n"
                               "                1000                2000\n"),
              offsets({0, 1000, 0, 2000, 0, 0, 0, 0}));
}

TEST(BlockIncludes, FreeFormatBlockReadsPieces) {
    ParsedFile f = parse("*INCLUDE_TRANSFORM\nx.k\n      1000\n");
    f.blocks[0].format = CardFormat::Free;
    auto raw = extract_raw_includes(f);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].offsets.v[0], 1000);
}

TEST(BlockIncludes, ContinuedFileNameIsNotReadAsOffsets) {
    ParsedFile f = parse("*INCLUDE_TRANSFORM\nsub +\ndir/x.k\n      1000\n       500\n");
    auto raw = extract_raw_includes(f);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].name, "subdir/x.k");
    EXPECT_EQ(raw[0].offsets, offsets({1000, 0, 0, 0, 0, 0, 0, 500}));
}

TEST(BlockIncludes, OffsetsFollowTheFileNameAsTheNameReaderReadsIt) {
    // A continuation line that starts with '$' still belongs to the name.
    ParsedFile f = parse("*INCLUDE_TRANSFORM\n$ the file\nsub +\n$dir/x.k\n      1000\n       500\n");
    auto raw = extract_raw_includes(f);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].name, "sub$dir/x.k");
    EXPECT_EQ(raw[0].offsets, offsets({1000, 0, 0, 0, 0, 0, 0, 500}));
    // A name continued onto a blank line ends there; the next card line holds the offsets.
    f = parse("*INCLUDE_TRANSFORM\nx.k +\n\n      1000\n       500\n");
    raw = extract_raw_includes(f);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].name, "x.k");
    EXPECT_EQ(raw[0].offsets, offsets({1000, 0, 0, 0, 0, 0, 0, 500}));
    // CR LF line ends.
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\r\nx.k\r\n      1000\r\n       500\r\n"),
              offsets({1000, 0, 0, 0, 0, 0, 0, 500}));
    // A name continued to the end of the block leaves no offset card.
    EXPECT_EQ(single_transform("*INCLUDE_TRANSFORM\nx.k +\n"), offsets({}));
}

TEST(BlockIncludes, KindsOrderAndSkippedBlocks) {
    ParsedFile f = parse(
        "*KEYWORD\n*include\na.k\n*INCLUDE_TRANSFORM\nb.k\n1\n*NODE\n1\n*INCLUDE_PATH\n/lib\n"
        "*INCLUDE_NASTRAN\nn.dat\n*INCLUDE\n*INCLUDE_BINARY\nbin.k\n*INCLUDES\nzz.k\n*END\n");
    auto raw = extract_raw_includes(f);
    ASSERT_EQ(raw.size(), 5u);
    EXPECT_EQ(raw[0].name, "a.k");
    EXPECT_EQ(raw[0].kind, IncludeKind::Include);
    EXPECT_TRUE(raw[0].offsets.is_zero());
    EXPECT_EQ(raw[1].name, "b.k");
    EXPECT_EQ(raw[1].offsets.v[0], 1);
    EXPECT_EQ(raw[2].kind, IncludeKind::IncludePath);
    // A keyword line directly after an include is taken as its name.
    EXPECT_EQ(raw[3].name, "*INCLUDE_BINARY");
    EXPECT_EQ(raw[3].kind, IncludeKind::Include);
    EXPECT_EQ(raw[4].name, "bin.k");
    EXPECT_EQ(raw[4].kind, IncludeKind::IncludeBinary);
}

TEST(BlockIncludes, NoBlocksNoDirectives) {
    EXPECT_TRUE(extract_raw_includes(parse("")).empty());
    EXPECT_TRUE(extract_raw_includes(parse("no keyword here\n")).empty());
    EXPECT_TRUE(extract_raw_includes(parse("*INCLUDE_TRANSFORM\n")).empty());
    EXPECT_TRUE(extract_raw_includes(parse("*INCLUDE_TRANSFORM\n\nx.k\n")).empty());
}

TEST(BlockIncludes, ResolvesAgainstDirectoryAndSearchPaths) {
    TmpDir t;
    t.write("lib/found.k", "*END\n");
    t.write("inherited/inh.k", "*END\n");
    t.write("local.k", "*END\n");
    std::string main = t.write("main.k",
                               "*INCLUDE\nlocal.k\n*INCLUDE_TRANSFORM\nfound.k\n10\n*INCLUDE\ninh.k\n"
                               "*INCLUDE\nmissing.k\n*INCLUDE_PATH_RELATIVE\nlib\n");
    auto pf = parse_file_blocks(main);
    ASSERT_TRUE(pf.ok());
    auto dirs = extract_includes(pf.value(), {(t.dir / "inherited").string()});
    ASSERT_EQ(dirs.size(), 5u);
    EXPECT_EQ(dirs[0].resolved, (t.dir / "local.k").string());
    EXPECT_EQ(dirs[1].resolved, (t.dir / "lib" / "found.k").string());
    EXPECT_EQ(dirs[1].offsets.v[0], 10);
    EXPECT_EQ(dirs[2].resolved, (t.dir / "inherited" / "inh.k").string());
    EXPECT_EQ(dirs[3].resolved, (t.dir / "missing.k").string());
    EXPECT_EQ(dirs[4].kind, IncludeKind::IncludePathRelative);
}

TEST(BlockIncludes, CorruptBytesNeverCrash) {
    std::string deck = "*KEYWORD LONG=S\n*INCLUDE_TRANSFORM\nx.k +\n\xff\xfe\n1,2,3\n*INCLUDE_TRANSFORM\n";
    for (std::size_t cut = 0; cut <= deck.size(); ++cut) {
        ParsedFile f = parse(deck.substr(0, cut));
        (void)extract_raw_includes(f);
    }
}

// The deck loaders plug the block reader into the generic walk: the same file
// included with and without offsets becomes two file instances, while an
// offset-free transform is the same instance as a plain include.
#include "include/walk.hpp"

namespace {
std::vector<GraphNode<int>> walk_with_blocks(const std::string& root) {
    auto r = walk_includes<int>(root, [](const WalkEntry& m) -> std::optional<LoadedFile<int>> {
        auto pf = parse_file_blocks(m.path);
        if (!pf.ok()) return std::nullopt;
        return LoadedFile<int>{extract_includes(pf.value(), m.search), 0};
    });
    EXPECT_TRUE(r.ok());
    return r.ok() ? std::move(r).value() : std::vector<GraphNode<int>>{};
}
}  // namespace

TEST(BlockIncludes, WalkSeparatesInstancesByOffsets) {
    TmpDir t;
    t.write("x.k", "*NODE\n       1\n");
    std::string a = t.write("a.k", "*INCLUDE_TRANSFORM\nx.k\n      1000\n*INCLUDE\nx.k\n");
    auto nodes = walk_with_blocks(a);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[1].offsets.v[0], 1000);
    EXPECT_TRUE(nodes[2].offsets.is_zero());
    EXPECT_EQ(nodes[1].path, nodes[2].path);

    std::string b = t.write("b.k", "*INCLUDE_TRANSFORM\nx.k\n*INCLUDE\nx.k\n");
    EXPECT_EQ(walk_with_blocks(b).size(), 2u);
}

TEST(BlockIncludes, NestedTransformsComposeOffsets) {
    // main -> mid (transform A) -> leaf (transform B) and leaf (plain): the
    // leaf's instances carry A + B and A; a second path to mid without
    // offsets gives another instance chain with B and nothing.
    TmpDir t;
    t.write("leaf.k", "*NODE\n       1\n");
    t.write("sub/mid.k",
            "*INCLUDE_TRANSFORM\n../leaf.k\n        10        20        30        40        50        60        70\n"
            "         5\n*INCLUDE\n../leaf.k\n");
    std::string main = t.write(
        "main.k", "*INCLUDE_TRANSFORM\nsub/mid.k\n      1000      2000      3000      4000      5000      6000      7000\n"
                  "       500\n*INCLUDE\nsub/mid.k\n");
    auto nodes = walk_with_blocks(main);
    ASSERT_EQ(nodes.size(), 7u);
    const TransformOffsets a = offsets({1000, 2000, 3000, 4000, 5000, 6000, 7000, 500});
    const TransformOffsets b = offsets({10, 20, 30, 40, 50, 60, 70, 5});
    // Breadth first: level 1 holds both mid instances, level 2 their leaves.
    EXPECT_EQ(nodes[1].offsets, a);
    EXPECT_TRUE(nodes[2].offsets.is_zero());
    EXPECT_EQ(nodes[1].path, nodes[2].path);
    EXPECT_EQ(nodes[3].offsets, offsets({1010, 2020, 3030, 4040, 5050, 6060, 7070, 505}));
    EXPECT_EQ(nodes[3].offsets, a + b);
    EXPECT_EQ(nodes[4].offsets, a);
    EXPECT_EQ(nodes[5].offsets, b);
    EXPECT_TRUE(nodes[6].offsets.is_zero());
    for (std::size_t i = 3; i < 7; ++i) EXPECT_EQ(nodes[i].path, (t.dir / "leaf.k").string()) << i;
    EXPECT_EQ(nodes[1].children, (std::vector<std::size_t>{3, 4}));
    EXPECT_EQ(nodes[2].children, (std::vector<std::size_t>{5, 6}));
}
