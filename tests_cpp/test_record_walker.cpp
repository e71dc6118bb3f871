// The record walker: which data line of a block holds which card of its
// library layout, on small decks written the way pre-processors write them
// and on the real decks of the shared test data.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "file/source.hpp"
#include "keywords/record_walker.hpp"
#include "parser/parsed_file.hpp"

using namespace tarvex;
using namespace tarvex::keywords;

namespace {

ParsedFile parse(std::string text) { return parse_source("deck.k", std::make_shared<const Source>(std::move(text))); }

// (record, card, row, line) of every hit of block `index`.
using Hit = std::tuple<std::uint32_t, std::uint16_t, std::uint32_t, std::uint32_t>;

std::vector<Hit> walk(const ParsedFile& f, std::size_t index, std::string_view name = {}) {
    const Block& b = f.blocks[index];
    BlockLayout layout = layout_for_name(name.empty() ? std::string_view(keyword_name(f, b)) : name);
    std::vector<DataLine> lines;
    std::vector<Hit> out;
    walk_block(f, b, layout, lines, [&](const CardHit& h) { out.emplace_back(h.record, h.card, h.row, h.line); });
    return out;
}

std::string text_of(const ParsedFile& f, const CardHit& h) {
    return std::string(f.bytes().substr(h.begin, h.end - h.begin));
}

}  // namespace

TEST(DataLines, BlankLinesBeforeTheLastCardLineAreDataLines) {
    ParsedFile f = parse("*PART\n$# title\n\n$#   pid\n         1\n\n \r\n*END\n");
    std::vector<DataLine> lines;
    block_data_lines(f, f.blocks[0], lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].blank);
    EXPECT_EQ(lines[0].begin, lines[0].end);
    EXPECT_FALSE(lines[1].blank);
    EXPECT_EQ(f.bytes().substr(lines[1].begin, lines[1].end - lines[1].begin), "         1");
}

TEST(DataLines, CrLfIsExcludedFromTheLine) {
    ParsedFile f = parse("*NODE\r\n       1\r\n\r\n       2\r\n");
    std::vector<DataLine> lines;
    block_data_lines(f, f.blocks[0], lines);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(f.bytes().substr(lines[0].begin, lines[0].end - lines[0].begin), "       1");
    EXPECT_TRUE(lines[1].blank);
    EXPECT_EQ(lines[1].end - lines[1].begin, 0u);
}

TEST(RecordWalker, EmptyHeadingLineIsThePartHeading) {
    ParsedFile f = parse("*PART\n$# title\n\n$#   pid     secid\n         1         2\n*END\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}}));
}

TEST(RecordWalker, SeveralPartsInOneBlock) {
    ParsedFile f = parse("*PART\nbody\n         1\nroof\n         4\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}, {1, 0, 0, 2}, {1, 1, 0, 3}}));
}

TEST(RecordWalker, CurveHeaderOverItsPointRows) {
    ParsedFile f = parse("*DEFINE_CURVE\n         7\n0.0,0.0\n1.0,2.0\n2.0,3.0\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 1, 2}, {0, 1, 2, 3}}));
}

TEST(RecordWalker, TitleLineComesFirst) {
    ParsedFile f = parse("*DEFINE_CURVE_TITLE\nmy curve\n         7\n0.0,0.0\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, kTitleLine, 0, 0}, {0, 0, 0, 1}, {0, 1, 0, 2}}));
}

TEST(RecordWalker, IdCardComesFirst) {
    ParsedFile f = parse("*RIGIDWALL_PLANAR_ID\n         5wall\n         1\n0.0\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, kIdLine, 0, 0}, {0, 0, 0, 1}, {0, 1, 0, 2}}));
}

TEST(RecordWalker, ContactIdCardThenCardsThenOptionCards) {
    ParsedFile f = parse("*CONTACT_AUTOMATIC_SINGLE_SURFACE_ID\n         1contact\n1,0,2\n0.2\n\n1,1.0\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, kIdLine, 0, 0}, {0, 0, 0, 1}, {0, 1, 0, 2}, {0, 2, 0, 3},
                                            {0, kTailLine, 0, 4}}));
    BlockLayout layout = layout_for_name("CONTACT_AUTOMATIC_SINGLE_SURFACE_ID");
    ASSERT_NE(layout_card(layout, kTailLine), nullptr);
    EXPECT_EQ(layout_card(layout, kTailLine)->fields()[0].name_view(), "SOFT");
    EXPECT_EQ(layout_card(layout, kIdLine)->fields()[0].name_view(), "CID");
    EXPECT_EQ(layout_card(layout, kTitleLine), nullptr);
    EXPECT_EQ(layout_card(layout, 3), nullptr);
}

TEST(RecordWalker, MppCardsFollowTheIdCard) {
    // The second MPP card is there when its line starts with "&".
    ParsedFile f = parse("*CONTACT_AUTOMATIC_SINGLE_SURFACE_MPP_ID\n         1\n1,200\n&,1\n3,0,2\n"
                         "*CONTACT_AUTOMATIC_SINGLE_SURFACE_ID_MPP\n         1\n1,200\n3,0,2\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, kIdLine, 0, 0}, {0, kMppLine, 0, 1}, {0, kMppLine + 1, 0, 2},
                                            {0, 0, 0, 3}}));
    EXPECT_EQ(walk(f, 1), (std::vector<Hit>{{0, kIdLine, 0, 0}, {0, kMppLine, 0, 1}, {0, 0, 0, 2}}));
    BlockLayout layout = layout_for_name("contact_automatic_single_surface_mpp");
    EXPECT_TRUE(layout.mpp);
    EXPECT_EQ(layout_card(layout, kMppLine + 1)->fields()[0].name_view(), "MPP2");
    EXPECT_FALSE(layout_for_name("NODE_MPP"));
}

TEST(RecordWalker, StressCardsRepeatPerLayer) {
    // NPLANE 1 x NTHICK 3 layers, no history variables, small format; then a
    // second element whose blank NPLANE and NTHICK give two layers.
    ParsedFile f = parse("*INITIAL_STRESS_SHELL\n100,1,3,0\n-1.0,1.0\n0.0,2.0\n1.0,3.0\n101\n-1.0,4.0\n1.0,5.0\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 1, 2}, {0, 1, 2, 3},
                                            {1, 0, 0, 4}, {1, 1, 0, 5}, {1, 1, 1, 6}}));
    const KeywordDef& def = *find("INITIAL_STRESS_SHELL");
    EXPECT_TRUE(card_has_rows(def, 1));
    EXPECT_FALSE(card_has_rows(def, 0));
}

TEST(RecordWalker, OmittedTrailingCardsEndTheRecord) {
    ParsedFile f = parse("*CONTROL_TIMESTEP\n0.0,0.9\n*SECTION_SHELL\n1,2\n1.0\n2,16\n2.0\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}}));
    // Two sections of two lines each: the cards of ELFORM 101..105 are absent.
    EXPECT_EQ(walk(f, 1), (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}, {1, 0, 0, 2}, {1, 1, 0, 3}}));
}

TEST(RecordWalker, SeriesCountFromAnEarlierField) {
    // ICOMP = 1 and NIP = 10: the angles fill two lines (8 + 2 values).
    ParsedFile f = parse("*SECTION_SHELL\n1,2,,10,,,1\n1.0\n1,2,3,4,5,6,7,8\n9,10\n2,2\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 4, 0, 2}, {0, 4, 1, 3}, {1, 0, 0, 4}}));
}

TEST(RecordWalker, ConditionOnAnEarlierField) {
    // TYPE 1: the cylinder card, not the box card.
    ParsedFile f = parse("*DEFINE_CONTACT_VOLUME\n1,0,1\n5.0,1.0\n");
    auto hits = walk(f, 0);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(std::get<1>(hits[1]), 2u);
}

TEST(RecordWalker, OneLineLayoutsSkipBlankRows) {
    ParsedFile f = parse("*NODE\n       1\n\n       2\n");
    EXPECT_EQ(walk(f, 0), (std::vector<Hit>{{0, 0, 0, 0}, {1, 0, 0, 2}}));
}

TEST(RecordWalker, ElementSolidTwoLineForm) {
    ParsedFile f = parse("*ELEMENT_SOLID\n       1       1\n       1       2       3       4       5       6       7       8\n"
                         "       2       1\n       9      10      11      12      13      14      15      16\n"
                         "*ELEMENT_SOLID\n       3       1       1       2       3       4       5       6       7       8\n");
    std::vector<DataLine> lines;
    BlockLayout layout = layout_for_name("ELEMENT_SOLID");
    std::vector<Hit> hits;
    BlockLayout used = walk_block(f, f.blocks[0], layout, lines,
                                  [&](const CardHit& h) { hits.emplace_back(h.record, h.card, h.row, h.line); });
    EXPECT_EQ(used.def, &element_solid_two_line_entry());
    EXPECT_EQ(hits, (std::vector<Hit>{{0, 0, 0, 0}, {0, 1, 0, 1}, {1, 0, 0, 2}, {1, 1, 0, 3}}));
    used = walk_block(f, f.blocks[1], layout, lines, [](const CardHit&) {});
    EXPECT_EQ(used.def, &element_solid_entry());
}

TEST(RecordWalker, FirstCardLineAndStop) {
    ParsedFile f = parse("*SECTION_SOLID_TITLE\nsolid\n$ comment\n         3         1\n");
    std::vector<DataLine> lines;
    block_data_lines(f, f.blocks[0], lines);
    BlockLayout layout = layout_for_name("SECTION_SOLID_TITLE");
    auto title = first_card_line(f.bytes(), lines, f.blocks[0].format, layout, kTitleLine);
    ASSERT_TRUE(title);
    EXPECT_EQ(text_of(f, *title), "solid");
    auto pos = find_field(*layout.def, "ELFORM");
    ASSERT_TRUE(pos);
    auto card0 = first_card_line(f.bytes(), lines, f.blocks[0].format, layout, static_cast<std::uint16_t>(pos->card));
    ASSERT_TRUE(card0);
    EXPECT_EQ(card0->line, 1u);
    EXPECT_EQ(text_of(f, *card0), "         3         1");
    EXPECT_EQ(card_field(text_of(f, *card0), layout.def->cards()[pos->card], pos->field, CardFormat::Fixed),
              "         1");
    EXPECT_EQ(card_field("3,1", layout.def->cards()[pos->card], pos->field, CardFormat::Fixed), "1");
    EXPECT_EQ(card_field("3,1", layout.def->cards()[pos->card], 99, CardFormat::Fixed), "");
    EXPECT_FALSE(first_card_line(f.bytes(), lines, f.blocks[0].format, layout, 1));
}

TEST(LayoutForName, TitleAndIdNames) {
    BlockLayout a = layout_for_name("section_solid_title");
    EXPECT_EQ(a.def, find("SECTION_SOLID"));
    EXPECT_TRUE(a.title);
    EXPECT_EQ(a.id_card, nullptr);
    BlockLayout b = layout_for_name("RIGIDWALL_PLANAR_ID");
    EXPECT_EQ(b.def, find("RIGIDWALL_PLANAR"));
    ASSERT_NE(b.id_card, nullptr);
    EXPECT_EQ(b.id_card->fields()[0].name_view(), "ID");
    EXPECT_FALSE(layout_for_name("NOT_A_KEYWORD_TITLE"));
    EXPECT_FALSE(layout_for_name("NODE_ID"));  // no ID card for nodes
    BlockLayout node = layout_for_name("NODE");
    EXPECT_TRUE(node.one_line_records());
}

// Every block of a library keyword of the real decks: the walker accounts for
// every data line, and each line read with a card holds numbers where the
// card has numeric fields.
TEST(RecordWalker, RealDecksAreFullyAccountedFor) {
    namespace fs = std::filesystem;
    fs::path base = fs::path(__FILE__).parent_path().parent_path().parent_path() / "shared" / "testdata" / "keyword";
    if (!fs::exists(base)) GTEST_SKIP() << "test data not available";
    std::size_t blocks = 0, good = 0;
    std::vector<DataLine> lines;
    for (const auto& entry : fs::recursive_directory_iterator(base)) {
        if (!entry.is_regular_file()) continue;
        auto parsed = parse_file_blocks(entry.path().string());
        if (!parsed.ok()) continue;
        const ParsedFile& f = parsed.value();
        for (const Block& b : f.blocks) {
            std::string name = keyword_name(f, b);
            BlockLayout layout = layout_for_name(name);
            if (!layout) continue;
            ++blocks;
            std::size_t read = 0, wrong = 0;
            block_data_lines(f, b, lines);
            BlockLayout used = refine_for_block(layout, f.bytes(), lines, b.format);
            std::size_t expected = 0;
            for (const DataLine& l : lines) expected += !(l.blank && used.one_line_records());
            walk_lines(f.bytes(), lines, b.format, used, [&](const CardHit& h) {
                ++read;
                if (h.card == kTitleLine) return;
                const CardDef& card = *layout_card(used, h.card);
                LineCutter cut(f.bytes().substr(h.begin, h.end - h.begin), b.format);
                for (const FieldDef& fd : card.fields()) {
                    std::string_view raw = trim_field(cut.next(fd.width));
                    if (raw.empty()) continue;
                    if (fd.ty == FieldType::Int && !Field::as_i64(raw)) ++wrong;
                    if (fd.ty == FieldType::Float && !Field::as_f64(raw)) ++wrong;
                }
            });
            bool ok = read == expected && wrong == 0;
            good += ok;
            if (!ok)
                std::printf("not accounted for: %s %s (%zu of %zu lines read, %zu fields of the wrong type)\n",
                            entry.path().filename().c_str(), name.c_str(), read, expected, wrong);
        }
    }
    std::printf("real decks: %zu of %zu library blocks fully accounted for\n", good, blocks);
    ASSERT_GT(blocks, 0u);
    EXPECT_GE(good * 100, blocks * 98);
}
