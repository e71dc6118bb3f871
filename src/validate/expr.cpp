#include "validate/expr.hpp"

#include <utility>

#include "model/fields.hpp"

namespace tarvex::validate {

const char* cmp_text(Cmp c) noexcept {
    switch (c) {
        case Cmp::Eq: return "==";
        case Cmp::Ne: return "!=";
        case Cmp::Lt: return "<";
        case Cmp::Le: return "<=";
        case Cmp::Gt: return ">";
        case Cmp::Ge: return ">=";
    }
    return "==";
}

ExprPtr Expr::make_field(std::string field, Cmp cmp, model::Value value) {
    auto e = std::make_shared<Expr>();
    e->tag = Tag::Field;
    e->field = std::move(field);
    e->cmp = cmp;
    e->value = std::move(value);
    return e;
}

namespace {
ExprPtr make_list(Expr::Tag tag, std::vector<ExprPtr> items) {
    auto e = std::make_shared<Expr>();
    e->tag = tag;
    e->children = std::move(items);
    return e;
}
}  // namespace

ExprPtr Expr::make_all(std::vector<ExprPtr> items) { return make_list(Tag::All, std::move(items)); }
ExprPtr Expr::make_any(std::vector<ExprPtr> items) { return make_list(Tag::Any, std::move(items)); }
ExprPtr Expr::make_not(ExprPtr operand) {
    std::vector<ExprPtr> one;
    one.push_back(std::move(operand));
    return make_list(Tag::Not, std::move(one));
}

Expr::~Expr() {
    // Children that only this tree holds are emptied before they die, so no
    // destructor below this one recurses.
    std::vector<ExprPtr> pending = std::move(children);
    while (!pending.empty()) {
        ExprPtr p = std::move(pending.back());
        pending.pop_back();
        if (p && p.use_count() == 1) {
            // Sole owner: nobody else can reach the node any more.
            auto& grandchildren = const_cast<Expr&>(*p).children;
            for (auto& c : grandchildren) pending.push_back(std::move(c));
            grandchildren.clear();
        }
    }
}

bool compare(const model::Value& field, Cmp cmp, const model::Value& v) noexcept {
    if (field.is_number() && v.is_number()) {
        double a = field.as_double(), b = v.as_double();
        switch (cmp) {
            case Cmp::Eq: return a == b;
            case Cmp::Ne: return a != b;
            case Cmp::Lt: return a < b;
            case Cmp::Le: return a <= b;
            case Cmp::Gt: return a > b;
            case Cmp::Ge: return a >= b;
        }
        return false;
    }
    bool both_str = !field.is_number() && !v.is_number();
    switch (cmp) {
        case Cmp::Eq: return both_str && field.s == v.s;
        case Cmp::Ne: return !both_str || field.s != v.s;
        default: return false;
    }
}

namespace {
bool eval_field(const Expr& e, const Occurrence& occ) {
    auto loc = model::keyword_field(occ.deck, occ.file, occ.block, e.field);
    if (!loc) return false;
    return compare(model::field_value(*loc), e.cmp, e.value);
}
}  // namespace

bool eval(const Expr& root, const Occurrence& occ) {
    struct Frame {
        const Expr* e;
        std::size_t next;  // children entered so far
    };
    std::vector<Frame> stack;
    stack.push_back({&root, 0});
    bool last = false;  // the value of the most recently finished node
    while (!stack.empty()) {
        Frame& top = stack.back();
        const Expr& e = *top.e;
        switch (e.tag) {
            case Expr::Tag::Field:
                last = eval_field(e, occ);
                stack.pop_back();
                break;
            case Expr::Tag::Not:
                if (top.next == 0 && !e.children.empty()) {
                    top.next = 1;
                    stack.push_back({e.children[0].get(), 0});
                } else {
                    last = !last;
                    stack.pop_back();
                }
                break;
            case Expr::Tag::All:
            case Expr::Tag::Any: {
                const bool stop_on = e.tag == Expr::Tag::Any;  // Any stops at true, All at false
                if (top.next > 0 && last == stop_on) {
                    stack.pop_back();  // `last` is already the answer
                } else if (top.next == e.children.size()) {
                    last = !stop_on;  // All of nothing false: true; Any of nothing true: false
                    stack.pop_back();
                } else {
                    const Expr* child = e.children[top.next++].get();
                    stack.push_back({child, 0});
                }
                break;
            }
        }
    }
    return last;
}

std::string describe(const Expr& root) {
    struct Frame {
        const Expr* e;
        std::size_t next;
    };
    std::string out;
    std::vector<Frame> stack;
    stack.push_back({&root, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        const Expr& e = *top.e;
        if (e.tag == Expr::Tag::Field) {
            out += e.field;
            out += ' ';
            out += cmp_text(e.cmp);
            out += ' ';
            out += e.value.display();
            stack.pop_back();
            continue;
        }
        if (top.next == 0)
            out += e.tag == Expr::Tag::All ? "all(" : e.tag == Expr::Tag::Any ? "any(" : "not(";
        if (top.next == e.children.size()) {
            out += ')';
            stack.pop_back();
            continue;
        }
        if (top.next > 0) out += ", ";
        const Expr* child = e.children[top.next++].get();
        stack.push_back({child, 0});
    }
    return out;
}

}  // namespace tarvex::validate
