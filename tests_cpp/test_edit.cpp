// Field edits of a parsed keyword file (reached from Python through the deck's
// field writers).
#include <gtest/gtest.h>

#include "parser/parsed_file.hpp"

using namespace tarvex;

namespace {
ParsedFile parse(std::string bytes) {
    return parse_source("mem.k", std::make_shared<const Source>(std::move(bytes)));
}
}  // namespace

struct FieldCase {
    const char* line;
    std::size_t value;
    const char* text;
    const char* expected_line;
    SetFieldOutcome outcome;
};

class SetField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(SetField, EditsOneLine) {
    const FieldCase& c = GetParam();
    std::string head = "$ keep\n*NODE\n$ comment\n";
    ParsedFile f = parse(head + c.line + "\n*END\n");
    ASSERT_EQ(f.blocks.size(), 2u);
    EXPECT_EQ(set_field(f, 0, 0, c.value, {8, 8, 8}, c.text), c.outcome);
    EXPECT_EQ(to_bytes(f), head + c.expected_line + "\n*END\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetField,
    ::testing::Values(
        FieldCase{"       1     0.0     0.0", 1, "2.5", "       1     2.5     0.0", SetFieldOutcome::InPlace},
        FieldCase{"       1     0.0     0.0", 0, "123456789", "123456789,0.0,0.0", SetFieldOutcome::Reflowed},
        FieldCase{"       1", 0, "123456789", "123456789", SetFieldOutcome::Reflowed},
        FieldCase{"       1", 2, "7", "       1" "               7", SetFieldOutcome::InPlace},
        FieldCase{"       1     0.0     0.0", 3, "7", "       1     0.0     0.0", SetFieldOutcome::NotApplied},
        FieldCase{"1,2", 3, "X", "1,2,,X", SetFieldOutcome::InPlace},
        FieldCase{"1,2", 0, "100000000000", "100000000000,2", SetFieldOutcome::InPlace},
        FieldCase{"1,2,3", 1, "", "1,,3", SetFieldOutcome::InPlace}));

TEST(SetFieldTest, OutOfRangeLeavesFileUnchanged) {
    std::string src = "*NODE\n       1     0.0\n*END\n";
    ParsedFile f = parse(src);
    EXPECT_EQ(set_field(f, 5, 0, 0, {8, 8}, "1"), SetFieldOutcome::NotApplied);
    EXPECT_EQ(set_field(f, 0, 1, 0, {8, 8}, "1"), SetFieldOutcome::NotApplied);
    EXPECT_FALSE(f.dirty());
    EXPECT_EQ(to_bytes(f), src);
}

TEST(SetFieldTest, LaterEditsStartFromTheStoredEditAndKeepCrlf) {
    ParsedFile f = parse("*NODE\r\n       1     0.0\r\n");
    EXPECT_EQ(set_field(f, 0, 0, 1, {8, 8}, "1.5"), SetFieldOutcome::InPlace);
    EXPECT_EQ(set_field(f, 0, 0, 0, {8, 8}, "2"), SetFieldOutcome::InPlace);
    EXPECT_EQ(to_bytes(f), "*NODE\r\n       2     1.5\r\n");
}

TEST(SetFieldTest, FreeFormatBlockIsEditedByCommaPieces) {
    ParsedFile f = parse("*NODE\n       1     0.0\n");
    f.blocks[0].format = CardFormat::Free;
    EXPECT_EQ(set_field(f, 0, 0, 1, {8, 8}, "9"), SetFieldOutcome::InPlace);
    EXPECT_EQ(to_bytes(f), "*NODE\n       1     0.0,9\n");
}

TEST(SetKeywordTest, KeepsLeadingCommentsAndReplacesTheRest) {
    ParsedFile f = parse("*KEYWORD\n$ header\n\n*PART\n$ inner\nold card\n*END\n");
    set_keyword(f, 1, "PART_NEW", {{"a", "b"}, {}}, {"%"});
    EXPECT_EQ(to_bytes(f), "*KEYWORD\n$ header\n\n*PART_NEW %\na,b\n\n*END\n");
    set_keyword(f, 1, "PART", {{"1"}}, {});
    EXPECT_EQ(to_bytes(f), "*KEYWORD\n$ header\n\n*PART\n1\n*END\n");
}

TEST(SetFieldTest, LineOfBlanksAndCarriageReturnsIsNoCardLine) {
    // Blanks around a lone CR hold no byte other than blank, CR or LF, so the
    // line does not count as a card line of the edit.
    ParsedFile f = parse("*NODE\n \r \n       1     0.0\n");
    EXPECT_EQ(set_field(f, 0, 0, 0, {8, 8}, "2"), SetFieldOutcome::InPlace);
    EXPECT_EQ(to_bytes(f), "*NODE\n \r \n       2     0.0\n");
}

TEST(SetFieldTest, AbsurdWidthsAreNotApplied) {
    std::string src = "*NODE\n       1     0.0\n";
    ParsedFile f = parse(src);
    const std::size_t huge = static_cast<std::size_t>(-1) / 2 + 1;
    EXPECT_EQ(set_field(f, 0, 0, 2, {huge, huge, 8}, "1"), SetFieldOutcome::NotApplied);
    EXPECT_EQ(set_field(f, 0, 0, 1, {8, std::size_t{1} << 50}, "1"), SetFieldOutcome::NotApplied);
    EXPECT_EQ(to_bytes(f), src);
}

TEST(SetDataLineFieldTest, CountsBlankCardsAsTheRecordWalkerDoes) {
    // Data line 0 is the empty heading line, data line 1 the part's card.
    ParsedFile f = parse("*PART\n$# title\n\n$#     pid     secid\n         1\n\n*END\n");
    EXPECT_EQ(set_data_line_field(f, 0, 1, 1, {10, 10}, "5"), SetFieldOutcome::InPlace);
    EXPECT_EQ(to_bytes(f), "*PART\n$# title\n\n$#     pid     secid\n         1         5\n\n*END\n");
    EXPECT_EQ(set_data_line_field(f, 0, 0, 0, {10}, "top"), SetFieldOutcome::InPlace);
    EXPECT_EQ(to_bytes(f), "*PART\n$# title\n       top\n$#     pid     secid\n         1         5\n\n*END\n");
    // The blank line after the last card line is no data line.
    EXPECT_EQ(set_data_line_field(f, 0, 2, 0, {10}, "x"), SetFieldOutcome::NotApplied);
    // set_field counts card lines only: card 0 is now the heading, card 1 the part's card.
    EXPECT_EQ(set_field(f, 0, 1, 0, {10}, "2"), SetFieldOutcome::InPlace);
    EXPECT_EQ(to_bytes(f), "*PART\n$# title\n       top\n$#     pid     secid\n         2         5\n\n*END\n");
}
