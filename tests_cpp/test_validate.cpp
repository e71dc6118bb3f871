// Validation pieces with no Python route: predicate trees of any depth, the
// comparison table, the file scope, the in-place scope filter and the order of
// a parallel rule run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "deck/deck.hpp"
#include "validate/check.hpp"
#include "validate/expr.hpp"
#include "validate/report.hpp"
#include "validate/rules.hpp"

using namespace tarvex;
using namespace tarvex::validate;
using model::Value;

namespace {

// not(not(...(leaf)...)) with `depth` negations.
ExprPtr negations(ExprPtr leaf, std::size_t depth) {
    for (std::size_t i = 0; i < depth; ++i) leaf = Expr::make_not(std::move(leaf));
    return leaf;
}

// A check that reports one finding per given file, in order.
class Fixed final : public Check {
public:
    Fixed(std::string name, std::vector<std::string> files) : name_(std::move(name)), files_(std::move(files)) {}
    std::string name() const override { return name_; }
    std::vector<Finding> run(const Deck&) const override {
        std::vector<Finding> out;
        std::uint64_t line = 1;
        for (const auto& f : files_) out.push_back({name_, "K", f, "m", line++, Severity::Warning});
        return out;
    }

private:
    std::string name_;
    std::vector<std::string> files_;
};

}  // namespace

TEST(Expr, DeepTreesEvaluateDescribeAndDieWithoutRecursion) {
    const std::size_t depth = 1'000'000;
    Deck deck;
    const Occurrence occ{deck, 0, 0};
    ExprPtr even = negations(Expr::make_all({}), depth);
    EXPECT_TRUE(eval(*even, occ));
    ExprPtr odd = Expr::make_not(even);
    EXPECT_FALSE(eval(*odd, occ));
    std::string text = describe(*odd);
    EXPECT_EQ(text.size(), (depth + 1) * 5 + 5);
    EXPECT_EQ(text.substr(0, 8), "not(not(");
    EXPECT_EQ(text.find("all()"), (depth + 1) * 4);
    EXPECT_EQ(text.find_first_not_of(')', (depth + 1) * 4 + 5), std::string::npos);
    even.reset();
    odd.reset();  // the whole chain goes here

    // A deep all/any spine, shared subtrees included.
    ExprPtr shared = Expr::make_any({});
    ExprPtr spine = shared;
    for (std::size_t i = 0; i < depth; ++i) spine = Expr::make_all({spine, shared});
    EXPECT_FALSE(eval(*spine, occ));
    spine.reset();
    EXPECT_EQ(shared.use_count(), 1);
}

TEST(Expr, ShortCircuitAndEmptyLists) {
    Deck deck;
    const Occurrence occ{deck, 0, 0};
    auto t = Expr::make_all({});
    auto f = Expr::make_any({});
    EXPECT_TRUE(eval(*Expr::make_all({t, t}), occ));
    EXPECT_FALSE(eval(*Expr::make_all({t, f, t}), occ));
    EXPECT_TRUE(eval(*Expr::make_any({f, t}), occ));
    EXPECT_FALSE(eval(*Expr::make_any({f, f}), occ));
    EXPECT_EQ(describe(*Expr::make_any({Expr::make_all({t, f}), Expr::make_not(t)})),
              "any(all(all(), any()), not(all()))");
}

TEST(Expr, DescribeWritesValuesAsRead) {
    EXPECT_EQ(describe(*Expr::make_field("MID", Cmp::Eq, Value::of_float(5.0))), "MID == 5");
    EXPECT_EQ(describe(*Expr::make_field("T", Cmp::Le, Value::of_float(1e21))), "T <= 1000000000000000000000");
    EXPECT_EQ(describe(*Expr::make_field("T", Cmp::Gt, Value::of_float(1e-7))), "T > 0.0000001");
    EXPECT_EQ(describe(*Expr::make_field("T", Cmp::Ne, Value::of_float(std::nan("")))), "T != NaN");
    EXPECT_EQ(describe(*Expr::make_field("T", Cmp::Ge, Value::of_float(-INFINITY))), "T >= -inf");
    EXPECT_EQ(describe(*Expr::make_field("N", Cmp::Lt, Value::of_int(-9))), "N < -9");
    EXPECT_EQ(describe(*Expr::make_field("S", Cmp::Eq, Value::of_str("a b"))), "S == a b");
}

TEST(Expr, CompareTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        Value field;
        Cmp cmp;
        Value v;
        bool expect;
    };
    const Case cases[] = {
        {Value::of_int(5), Cmp::Eq, Value::of_float(5.0), true},
        {Value::of_int(5), Cmp::Lt, Value::of_float(5.5), true},
        {Value::of_float(nan), Cmp::Eq, Value::of_float(nan), false},
        {Value::of_float(nan), Cmp::Ne, Value::of_int(1), true},
        {Value::of_float(nan), Cmp::Ge, Value::of_int(1), false},
        {Value::of_str("5"), Cmp::Eq, Value::of_int(5), false},
        {Value::of_str("5"), Cmp::Ne, Value::of_int(5), true},
        {Value::of_str("a"), Cmp::Ne, Value::of_str("a"), false},
        {Value::of_str("a"), Cmp::Lt, Value::of_str("b"), false},
        {Value::of_str(""), Cmp::Eq, Value::of_str(""), true},
        {Value::of_str(""), Cmp::Le, Value::of_int(0), false},
    };
    for (const auto& c : cases) EXPECT_EQ(compare(c.field, c.cmp, c.v), c.expect) << describe(*Expr::make_field("x", c.cmp, c.v));
}

TEST(FileScope, SubstringWithAsciiFolding) {
    using K = FileScope::Kind;
    EXPECT_TRUE((FileScope{K::OnlyIn, {"Sub"}}).keeps("/a/SUB/x.k"));
    EXPECT_TRUE((FileScope{K::OnlyIn, {"Sub"}}).keeps("/a/mysub.k"));
    EXPECT_FALSE((FileScope{K::OnlyIn, {"\xc3\x89T"}}).keeps("/a/\xc3\xa9t.k"));  // É is not folded
    EXPECT_TRUE((FileScope{K::OnlyIn, {"\xef\xbf\xbd"}}).keeps("/a/\xff.k"));     // U+FFFD stands for bad bytes
    EXPECT_FALSE((FileScope{K::OnlyIn, {}}).keeps("/a.k"));
    EXPECT_TRUE((FileScope{K::ExceptIn, {}}).keeps("/a.k"));
    EXPECT_TRUE((FileScope{K::OnlyIn, {""}}).keeps("/a.k"));
    EXPECT_FALSE((FileScope{K::ExceptIn, {"x", "A.K"}}).keeps("/a.k"));
}

TEST(Rule, ScopeFiltersInPlaceAndOverridesSeverity) {
    Deck deck;
    Rule base(std::make_shared<Fixed>("fixed", std::vector<std::string>{"/m/a.k", "/m/sub/b.k", "/m/c.k", "/m/SUB/d.k"}));
    auto lines = [&](const Rule& r) {
        std::vector<std::uint64_t> out;
        for (const auto& f : r.run(deck)) out.push_back(f.line);
        return out;
    };
    EXPECT_EQ(lines(base), (std::vector<std::uint64_t>{1, 2, 3, 4}));
    EXPECT_EQ(lines(base.only_in({"sub"})), (std::vector<std::uint64_t>{2, 4}));
    EXPECT_EQ(lines(base.only_in({"sub"}).except_in({"c.k"})), (std::vector<std::uint64_t>{1, 2, 4}));
    Rule info = base.except_in({"sub"}).with_severity(Severity::Info);
    EXPECT_EQ(info.scope().kind, FileScope::Kind::ExceptIn);
    EXPECT_EQ(info.check(), base.check());
    for (const auto& f : info.run(deck)) EXPECT_EQ(f.severity, Severity::Info);
    for (const auto& f : base.run(deck)) EXPECT_EQ(f.severity, Severity::Warning);
}

TEST(RunRules, FindingsComeInRuleOrder) {
    Deck deck;
    std::vector<Rule> rules;
    for (int i = 0; i < 5000; ++i)
        rules.emplace_back(std::make_shared<Fixed>(std::to_string(i), std::vector<std::string>(i % 3, "/f.k")));
    Report report = run_rules(deck, rules);
    std::vector<std::string> got, want;
    for (const auto& f : report.findings) got.push_back(f.rule + ":" + std::to_string(f.line));
    for (int i = 0; i < 5000; ++i)
        for (int k = 0; k < i % 3; ++k) want.push_back(std::to_string(i) + ":" + std::to_string(k + 1));
    EXPECT_EQ(got, want);
    EXPECT_TRUE(run_rules(deck, {}).findings.empty());
}

TEST(Report, CountsCleanlinessAndText) {
    Report r;
    EXPECT_TRUE(r.is_clean());
    r.findings.push_back({"duplicate_ids", "PART", "/runs/m.k", "say \"hi\"\\\n", 42, Severity::Warning});
    EXPECT_TRUE(r.is_clean());
    r.findings.push_back({"x", "PART", "/runs/m.k", "m", 0, Severity::Error});
    EXPECT_FALSE(r.is_clean());
    EXPECT_EQ(r.count(Severity::Warning), 1u);
    EXPECT_EQ(r.count(Severity::Info), 0u);
    EXPECT_EQ(finding_location(r.findings[0]), "/runs/m.k:42");
    EXPECT_EQ(finding_repr(r.findings[0]), "Finding(Warning, duplicate_ids, /runs/m.k:42, \"say \\\"hi\\\"\\\\\\n\")");
    EXPECT_EQ(report_repr(1), "Report(1 findings)");
}

TEST(Checks, RunOverAParsedDeck) {
    auto dir = std::filesystem::temp_directory_path() / ("tarvex_validate_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
        std::ofstream(dir / "main.k") << "*KEYWORD\n*PART\n\n         5         1         1\n*MAT_ELASTIC\n"
                                         "         7\n*INCLUDE\nsub.k\n*INCLUDE\ngone.k\n";
        std::ofstream(dir / "sub.k") << "*PART\n$ heading\n\n         5         1         7\n";
    }
    auto parsed = parse_deck((dir / "main.k").string());
    ASSERT_TRUE(parsed.ok());
    const Deck& deck = *parsed.value();
    Report r = run_rules(deck, {Rule::duplicate_ids(), Rule::include_missing(), Rule::unreferenced_entities(),
                                Rule::keyword_forbidden("part").value()});
    std::vector<std::string> got;
    for (const auto& f : r.findings) got.push_back(f.rule + "|" + f.keyword + "|" + std::to_string(f.line) + "|" + f.message);
    const std::string dash = "\xE2\x80\x94";
    EXPECT_EQ(got, (std::vector<std::string>{
                       "duplicate_ids|PART|2|duplicate Part id 5 " + dash + " defined by 2 keywords in the deck",
                       "duplicate_ids|PART|1|duplicate Part id 5 " + dash + " defined by 2 keywords in the deck",
                       "include_missing|INCLUDE|0|include 'gone.k' resolves to a missing file: " +
                           (dir / "gone.k").string(),
                       "keyword_forbidden(part)|PART|2|keyword *PART is not allowed here",
                       "keyword_forbidden(part)|PART|1|keyword *PART is not allowed here",
                   }));
    EXPECT_EQ(Rule::keyword_forbidden(" \t").error().message, "keyword name must not be empty");
    std::filesystem::remove_all(dir);
}
