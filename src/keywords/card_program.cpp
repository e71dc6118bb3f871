#include "keywords/card_program.hpp"

#include <cmath>

#include "keywords/library.hpp"
#include "keywords/record_walker.hpp"
#include "util/text.hpp"

namespace tarvex::keywords {

namespace {

constexpr std::size_t kNpos = static_cast<std::size_t>(-1);
constexpr std::size_t kStack = 32;

// A value: null, a number or a text.  A field's value keeps its text beside
// the number it reads as; `literal` marks the program's own constants.
struct Value {
    enum class Kind : std::uint8_t { Null, Num, Str };
    Kind kind = Kind::Null;
    bool literal = false;
    double num = 0;
    std::string_view text;
};

Value number(double v) noexcept { return {Value::Kind::Num, false, v, {}}; }
Value boolean(bool b) noexcept { return number(b ? 1.0 : 0.0); }

double as_number(const Value& v) noexcept {
    if (v.kind == Value::Kind::Num) return v.num;
    if (v.kind == Value::Kind::Str) return Field::as_f64(v.text).value_or(0.0);
    return 0.0;
}

bool truth(const Value& v) noexcept {
    if (v.kind == Value::Kind::Num) return v.num != 0.0 && !std::isnan(v.num);
    if (v.kind == Value::Kind::Str) return !v.text.empty();
    return false;
}

bool equal(const Value& a, const Value& b) noexcept {
    if (a.literal && a.kind == Value::Kind::Null) return b.kind == Value::Kind::Null;
    if (b.literal && b.kind == Value::Kind::Null) return a.kind == Value::Kind::Null;
    bool text_a = a.literal && a.kind == Value::Kind::Str, text_b = b.literal && b.kind == Value::Kind::Str;
    if (text_a || text_b) {
        std::string_view x = trim_field(a.text), y = trim_field(b.text);
        return x.size() == y.size() && text::iequals(x, y);
    }
    return as_number(a) == as_number(b);
}

Value constant(std::uint32_t word) noexcept {
    auto op = static_cast<ProgramOp>(word & 0xFF);
    std::uint32_t arg = word >> 8;
    if (op == ProgramOp::Num) return {Value::Kind::Num, true, detail::kProgramNumbers[arg], {}};
    if (op == ProgramOp::Str) return {Value::Kind::Str, true, 0, detail::kProgramTexts[arg]};
    return {Value::Kind::Null, true, 0, {}};
}

// The text of field `fi` of card `card` on the line [begin, end).
std::string_view field_text(const ProgramInput& in, const CardDef& card, std::size_t fi, const DataLine& line) noexcept {
    return trim_field(card_field(in.bytes.substr(line.begin, line.end - line.begin), card, fi, in.format));
}

Value field_value(std::string_view t) noexcept {
    if (t.empty()) return {};
    if (auto v = Field::as_f64(t)) return {Value::Kind::Num, false, *v, t};
    return {Value::Kind::Str, false, 0, t};
}

struct Evaluation {
    Value result;
    bool absent = false;  // a condition read its own card's line and the block has none
};

Evaluation run(std::uint32_t offset, const ProgramInput& in) noexcept {
    Value stack[kStack];
    std::size_t sp = 0;
    bool absent = false;
    auto cards = in.def ? in.def->cards() : std::span<const CardDef>{};
    const std::uint32_t* w = detail::kPrograms + offset;
    auto pop = [&]() -> Value { return sp ? stack[--sp] : Value{}; };
    auto push = [&](Value v) {
        if (sp < kStack) stack[sp++] = v;
    };
    for (;; ++w) {
        auto op = static_cast<ProgramOp>(*w & 0xFF);
        std::uint32_t arg = *w >> 8;
        switch (op) {
            case ProgramOp::End: return {sp ? stack[sp - 1] : Value{}, absent};
            case ProgramOp::Null:
            case ProgramOp::Num:
            case ProgramOp::Str: push(constant(*w)); break;
            case ProgramOp::Optional: push(boolean(in.lines_left)); break;
            case ProgramOp::Field: {
                const std::uint32_t* pos = w + 1;
                w += arg;
                Value v;
                bool own = false;
                std::size_t best = kNpos;
                for (std::uint32_t k = 0; k < arg; ++k) {
                    std::size_t c = pos[k] >> 8, fi = pos[k] & 0xFF;
                    if (c == kOwnCard && in.own_card) {
                        own = true;
                        if (in.peek != kNpos) v = field_value(field_text(in, *in.own_card, fi, in.lines[in.peek]));
                        break;
                    }
                    if (c >= cards.size()) continue;
                    if (c == in.governed) {
                        own = true;
                        if (in.peek != kNpos) v = field_value(field_text(in, cards[c], fi, in.lines[in.peek]));
                        break;
                    }
                    if (c < in.last_count && in.last_line[c] != kNpos &&
                        (best == kNpos || in.last_line[c] > in.last_line[pos[best] >> 8]))
                        best = k;
                }
                if (own) {
                    if (in.peek == kNpos) absent = true;
                } else if (best != kNpos) {
                    std::size_t c = pos[best] >> 8, fi = pos[best] & 0xFF;
                    v = field_value(field_text(in, cards[c], fi, in.lines[in.last_line[c]]));
                }
                push(v);
                break;
            }
            case ProgramOp::In:
            case ProgramOp::NotIn: {
                Value x = pop();
                bool hit = false;
                for (std::uint32_t k = 0; k < arg; ++k)
                    if (equal(x, constant(w[1 + k]))) hit = true;
                w += arg;
                push(boolean(op == ProgramOp::In ? hit : !hit));
                break;
            }
            case ProgramOp::Eq:
            case ProgramOp::Ne:
            case ProgramOp::Lt:
            case ProgramOp::Le:
            case ProgramOp::Gt:
            case ProgramOp::Ge:
            case ProgramOp::Add:
            case ProgramOp::Sub:
            case ProgramOp::Mul:
            case ProgramOp::Div:
            case ProgramOp::FloorDiv: {
                Value b = pop(), a = pop();
                double x = as_number(a), y = as_number(b);
                switch (op) {
                    case ProgramOp::Eq: push(boolean(equal(a, b))); break;
                    case ProgramOp::Ne: push(boolean(!equal(a, b))); break;
                    case ProgramOp::Lt: push(boolean(x < y)); break;
                    case ProgramOp::Le: push(boolean(x <= y)); break;
                    case ProgramOp::Gt: push(boolean(x > y)); break;
                    case ProgramOp::Ge: push(boolean(x >= y)); break;
                    case ProgramOp::Add: push(number(x + y)); break;
                    case ProgramOp::Sub: push(number(x - y)); break;
                    case ProgramOp::Mul: push(number(x * y)); break;
                    case ProgramOp::Div: push(y == 0 ? Value{} : number(x / y)); break;
                    default: push(y == 0 ? Value{} : number(std::floor(x / y))); break;
                }
                break;
            }
            case ProgramOp::And:
            case ProgramOp::Or: {
                bool all = true, any = false;
                for (std::uint32_t k = 0; k < arg; ++k) {
                    bool t = truth(pop());
                    all = all && t;
                    any = any || t;
                }
                push(boolean(op == ProgramOp::And ? all : any));
                break;
            }
            case ProgramOp::Not: push(boolean(!truth(pop()))); break;
            case ProgramOp::Abs: push(number(std::fabs(as_number(pop())))); break;
            case ProgramOp::Ceil: push(number(std::ceil(as_number(pop())))); break;
            case ProgramOp::Floor: push(number(std::floor(as_number(pop())))); break;
            case ProgramOp::Int: push(number(std::trunc(as_number(pop())))); break;
            case ProgramOp::Min:
            case ProgramOp::Max: {
                double r = 0;
                for (std::uint32_t k = 0; k < arg; ++k) {
                    double x = as_number(pop());
                    r = k == 0 ? x : (op == ProgramOp::Min ? std::fmin(r, x) : std::fmax(r, x));
                }
                push(number(r));
                break;
            }
            case ProgramOp::If: {
                Value otherwise = pop(), then = pop(), cond = pop();
                push(truth(cond) ? then : otherwise);
                break;
            }
            default: return {Value{}, absent};  // not a code of the generator
        }
    }
}

}  // namespace

bool program_true(std::uint32_t offset, const ProgramInput& in) noexcept {
    if (offset == kNone) return true;
    Evaluation e = run(offset, in);
    return !e.absent && truth(e.result);
}

std::uint64_t program_count(std::uint32_t offset, const ProgramInput& in) noexcept {
    Evaluation e = run(offset, in);
    double v = as_number(e.result);
    if (!(v > 0)) return 0;
    v = std::floor(v);
    return v >= 1e15 ? static_cast<std::uint64_t>(1e15) : static_cast<std::uint64_t>(v);
}

}  // namespace tarvex::keywords
