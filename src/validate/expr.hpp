// Field predicates: comparisons of named fields of one keyword occurrence,
// combined with all / any / not.  Trees are immutable and shared between the
// rules built from them; evaluation, description and destruction walk them
// with explicit stacks, so any nesting depth is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "deck/deck.hpp"
#include "model/value.hpp"

namespace tarvex::validate {

enum class Cmp : std::uint8_t { Eq = 0, Ne = 1, Lt = 2, Le = 3, Gt = 4, Ge = 5 };

// "==", "!=", "<", "<=", ">", ">=".
const char* cmp_text(Cmp c) noexcept;

struct Expr;
using ExprPtr = std::shared_ptr<const Expr>;

struct Expr {
    enum class Tag : std::uint8_t { Field, All, Any, Not };
    Tag tag = Tag::All;
    // Field
    std::string field;
    Cmp cmp = Cmp::Eq;
    model::Value value;
    // All / Any: the elements; Not: its one operand.
    std::vector<ExprPtr> children;

    static ExprPtr make_field(std::string field, Cmp cmp, model::Value value);
    static ExprPtr make_all(std::vector<ExprPtr> items);
    static ExprPtr make_any(std::vector<ExprPtr> items);
    static ExprPtr make_not(ExprPtr operand);

    Expr() = default;
    Expr(const Expr&) = delete;
    Expr& operator=(const Expr&) = delete;
    // Releases deep trees without recursion.
    ~Expr();
};

// One keyword occurrence: a block of a file of a deck.
struct Occurrence {
    const Deck& deck;
    std::size_t file;
    std::size_t block;
};

// A field value compared with a rule value: numbers as doubles (NaN false
// except under Ne); a Str equal only to a Str of the same bytes, never ordered.
bool compare(const model::Value& field, Cmp cmp, const model::Value& v) noexcept;

// Whether two values are equal as compare(.., Eq, ..) decides.
inline bool values_equal(const model::Value& a, const model::Value& b) noexcept { return compare(a, Cmp::Eq, b); }

// The predicate on one occurrence: all/any short-circuit in order; a field the
// occurrence's layout lacks, or whose data line is missing, makes a Field false.
bool eval(const Expr& e, const Occurrence& occ);

// MID == 5, all(a, b), any(a, b), not(a).
std::string describe(const Expr& e);

}  // namespace tarvex::validate
