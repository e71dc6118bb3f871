// Deck indices: id sets, definitions, site index, duplicates, the dangling
// scan and connectivity reference ids.
#include <gtest/gtest.h>

#include "tmp_dir.hpp"

#include <filesystem>
#include <fstream>
#include <string>

#include "deck/deck.hpp"
#include "model/idset.hpp"
#include "model/indices.hpp"
#include "model/lines.hpp"
#include "model/value.hpp"

using namespace tarvex;
using namespace tarvex::model;

namespace {


std::unique_ptr<Deck> deck_of(const std::string& root) {
    auto r = parse_deck(root);
    EXPECT_TRUE(r.ok());
    return std::move(r).value();
}

std::string transform(const std::string& name, long idpoff, long idroff = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "*INCLUDE_TRANSFORM\n%s\n%10d%10d%10ld%10d%10d%10d%10d\n%10ld\n", name.c_str(), 0,
                  0, idpoff, 0, 0, 0, 0, idroff);
    return buf;
}

}  // namespace

TEST(IdSet, DenseSparseDecision) {
    std::vector<std::int64_t> many;
    for (std::int64_t i = 1; i <= 1000000; ++i) many.push_back(i);
    IdSet dense = IdSet::build(many);
    EXPECT_TRUE(dense.is_dense());
    EXPECT_EQ(dense.size(), 1000000u);
    EXPECT_TRUE(dense.contains(1000000));
    EXPECT_TRUE(dense.contains(-17));
    EXPECT_FALSE(dense.contains(0));

    IdSet sparse = IdSet::build(std::vector<std::int64_t>{1, 1000000000000});
    EXPECT_FALSE(sparse.is_dense());
    EXPECT_TRUE(sparse.contains(1000000000000));
    EXPECT_FALSE(sparse.contains(2));

    // Negative ids vanish in the dense form, stay in the sparse one.
    IdSet d2 = IdSet::build(std::vector<std::int64_t>{-3, 1, 2});
    EXPECT_TRUE(d2.is_dense());
    EXPECT_EQ(d2.size(), 2u);
    EXPECT_FALSE(d2.contains(-3));
    EXPECT_TRUE(d2.contains(-2));  // |q| is tried
    IdSet s2 = IdSet::build(std::vector<std::int64_t>{-5});
    EXPECT_FALSE(s2.is_dense());
    EXPECT_TRUE(s2.contains(-5));
    IdSet s3 = IdSet::build(std::vector<std::int64_t>{-5, 1, 1000000000000});
    EXPECT_TRUE(s3.contains(-5));
    EXPECT_FALSE(s3.contains(5));  // a reference 5 never resolves against -5
    EXPECT_TRUE(IdSet::build(std::vector<std::int64_t>{INT64_MIN}).contains(INT64_MIN));
}

TEST(Value, FieldTextOfDouble) {
    EXPECT_EQ(field_text_of_double(1.0), "1");
    EXPECT_EQ(field_text_of_double(12.0), "12");
    EXPECT_EQ(field_text_of_double(100.0), "100");
    EXPECT_EQ(field_text_of_double(1000.0), "1e3");
    EXPECT_EQ(field_text_of_double(210000.0), "2.1e5");
    EXPECT_EQ(field_text_of_double(1234567.0), "1234567");
    EXPECT_EQ(field_text_of_double(0.01), "0.01");
    EXPECT_EQ(field_text_of_double(0.001), "1e-3");
    EXPECT_EQ(field_text_of_double(7.85e-9), "7.85e-9");
    EXPECT_EQ(field_text_of_double(1e21), "1e21");
    EXPECT_EQ(Value::of_float(1e21).display(), "1000000000000000000000");
    EXPECT_EQ(Value::of_float(1e-7).display(), "0.0000001");
    EXPECT_EQ(parse_plain_float(" 1.5e3 "), 1500.0);
    EXPECT_FALSE(parse_plain_float("1.5d3"));
    EXPECT_FALSE(parse_plain_float("1.5-3"));
    EXPECT_EQ(read_id("1.5-3"), 0);
    EXPECT_EQ(read_id("1e30"), INT64_MAX);
    EXPECT_EQ(read_id("nan"), 0);
}

TEST(Model, DanglingAndLines) {
    TmpDir t;
    std::string root = t.write("m.k",
                               "*KEYWORD\n"
                               "*PART\n"       // line 2
                               "$ heading\n"
                               "head\n"        // data line 0
                               "$ card\n"
                               "         5         7         4\n"  // data line 1 -> line 3
                               "*MAT_ELASTIC\n"
                               "         3\n");
    auto deck = deck_of(root);
    auto d = dangling(*deck, false);
    ASSERT_EQ(d.size(), 1u);  // no section defined: secid 7 is not dangling
    EXPECT_EQ(d[0].keyword, "PART");
    EXPECT_EQ(d[0].field, "mid");
    EXPECT_EQ(d[0].value, 4);
    EXPECT_EQ(d[0].line, 3u);
    EXPECT_EQ(block_start_lines(deck->files[0]), (std::vector<std::uint64_t>{1, 2, 7}));
}

TEST(Model, DanglingSkipsUserLayoutsAndElementsWithoutConnectivity) {
    TmpDir t;
    std::string root = t.write("m.k",
                               "*NODE\n       1\n"
                               "*ELEMENT_SHELL\n       1       1       1       2       3       4\n"
                               "*PART\nh\n         1\n");
    auto deck = deck_of(root);
    EXPECT_TRUE(dangling(*deck, false).empty());
    auto d = dangling(*deck, true);
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].field, "N2");
    EXPECT_EQ(d[0].line, 3u);
    auto refs = collect_conn_ref_ids(deck->files[0]);
    EXPECT_TRUE(refs.complete);
    EXPECT_EQ(refs.ids[static_cast<int>(EntityKind::Node)].size(), 4u);
    EXPECT_EQ(refs.ids[static_cast<int>(EntityKind::Part)].size(), 1u);
}

TEST(Model, DuplicatesAcrossFilesAndOffsets) {
    TmpDir t;
    t.write("sec.k", "*SECTION_SHELL\n         1\n");
    t.write("inc.k", "*SECTION_SHELL\n         1\n");
    std::string a = t.write("a.k", "*SECTION_SHELL\n         1\n*INCLUDE\ninc.k\n");
    auto deck = deck_of(a);
    auto dups = duplicate_definitions(*deck);
    ASSERT_EQ(dups.size(), 1u);
    EXPECT_EQ(dups[0].kind, EntityKind::Section);
    EXPECT_EQ(dups[0].id, 1);
    ASSERT_EQ(dups[0].sites.size(), 2u);
    EXPECT_EQ(dups[0].sites[1].file, 1u);

    std::string b = t.write("b.k", transform("sec.k", 0, 0) + transform("sec.k", 0, 100));
    auto deck2 = deck_of(b);
    EXPECT_TRUE(duplicate_definitions(*deck2).empty());
    EXPECT_TRUE(definitions(*deck2).find(EntityKind::Section)->contains(101));
}

TEST(Model, TransformShiftRules) {
    TmpDir t;
    t.write("inc.k", "*PART\nh\n         5\n*PART\nh\n         6         0         0\n*PART\nh\n        -7\n");
    std::string root = t.write("m.k", transform("inc.k", 1000));
    auto deck = deck_of(root);
    const auto& defs = definitions(*deck);
    const IdSet* parts = defs.find(EntityKind::Part);
    ASSERT_NE(parts, nullptr);
    EXPECT_TRUE(parts->contains(1005));
    // Plain addition in the definition index: -7 + 1000 = 993.
    EXPECT_TRUE(parts->contains(993));
    // The sign-keeping rule in the site index: -1007.
    EXPECT_TRUE(site_index(*deck).find(EntityKind::Part, -1007).has_value());
    std::optional<TransformOffsets> offs = deck->file_transforms()[1];
    ASSERT_TRUE(offs);
    EXPECT_FALSE(is_dangling(defs, FieldRef::of(EntityKind::Part), 5, offs));
    EXPECT_FALSE(is_dangling(defs, FieldRef::of(EntityKind::Part), -5, offs));
    EXPECT_TRUE(is_dangling(defs, FieldRef::of(EntityKind::Part), 4, offs));
    EXPECT_FALSE(is_dangling(defs, FieldRef::of(EntityKind::Curve), 4, offs));  // kind absent
    EXPECT_FALSE(is_dangling(defs, FieldRef::surface_sets(), 4, offs));          // no listed kind present
}
