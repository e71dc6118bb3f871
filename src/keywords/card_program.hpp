// Card conditions and counts of the keyword library as compact programs.
//
// A program is a run of 32-bit words in postfix order, ending with `End`:
// each word holds an operation code in its low 8 bits and an argument in its
// high 24 bits.  Programs live in detail::kPrograms (generated with the
// tables); CardDef::active and CardDef::length give their offsets.
//
//   Null                 push null
//   Num  (index)         push kProgramNumbers[index]
//   Str  (index)         push kProgramTexts[index]
//   Field (n)            push a field's value; the n following words name the
//                        positions (card << 8 | field) that hold a field of
//                        that name: the most recently read of them counts
//                        (card kOwnCard: the option card being decided)
//   Optional             push whether the block has a data line left
//   ==, !=, <, <=, >, >= (2 operands)
//   In, NotIn (n)        pop one value; the n following words are constants
//                        (Null / Num / Str words) to compare it with
//   And, Or (n), Not
//   + - * / // (2), Abs, Ceil, Floor, Int (1), Min, Max (n), If (3)
//
// Evaluation allocates nothing: a fixed stack of 32 values (a deeper
// program reads as null).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "parser/field.hpp"

namespace tarvex::keywords {

struct KeywordDef;
struct CardDef;

enum class ProgramOp : std::uint8_t {
    Null = 0, Num = 1, Str = 2, Field = 3, Optional = 4, End = 5,
    Eq = 10, Ne = 11, Lt = 12, Le = 13, Gt = 14, Ge = 15, In = 16, NotIn = 17,
    And = 20, Or = 21, Not = 22,
    Add = 30, Sub = 31, Mul = 32, Div = 33, FloorDiv = 34, Abs = 35, Ceil = 36, Floor = 37, Int = 38,
    Min = 39, Max = 40, If = 41,
};

struct DataLine;

// What a program reads: the block's data lines, the line each card of the
// layout read last, and, for a condition, the line its own card would read.
struct ProgramInput {
    std::string_view bytes;  // the file
    CardFormat format = CardFormat::Fixed;
    const KeywordDef* def = nullptr;
    const DataLine* lines = nullptr;  // the block's data lines
    // Per card of `def` (index < last_count): the index of the most recent
    // line read with it, or npos.  Lines are read in order, so a larger
    // index is a later read.
    const std::size_t* last_line = nullptr;
    std::size_t last_count = 0;
    // The card whose condition is decided (npos for a count) and the line it
    // would read (npos: the block has no line left).
    std::size_t governed = static_cast<std::size_t>(-1);
    std::size_t peek = static_cast<std::size_t>(-1);
    bool lines_left = false;
    // An option card outside `def`'s cards whose condition is decided: field
    // positions of card kOwnCard name its fields, read on the peek line.
    const CardDef* own_card = nullptr;
};

// The card number of field positions on the option card being decided.
inline constexpr std::uint32_t kOwnCard = 255;

// The truth of a condition program.  A condition that names a field of its
// own card is false when the block has no line left.
bool program_true(std::uint32_t offset, const ProgramInput& in) noexcept;
// A count program: its value rounded down; null, negative, non-numeric or
// not-a-number values count as 0.
std::uint64_t program_count(std::uint32_t offset, const ProgramInput& in) noexcept;

}  // namespace tarvex::keywords
