// The check interface that every built-in check implements, and the rule
// that wraps a check with a file scope and an optional severity override.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "deck/deck.hpp"
#include "model/value.hpp"
#include "util/error.hpp"
#include "validate/expr.hpp"
#include "validate/report.hpp"

namespace tarvex::validate {

// Immutable once built; safe to run from several threads at once.
class Check {
public:
    virtual ~Check() = default;
    // The rule name every finding of the check carries.
    virtual std::string name() const = 0;
    // The findings on `deck`, in the check's own order.  Never throws for
    // anything a deck holds: problems are findings.
    virtual std::vector<Finding> run(const Deck& deck) const = 0;
};

// Which files a rule reports in: every file, or the files whose path holds
// (OnlyIn) or does not hold (ExceptIn) one of the patterns, ASCII case folded.
struct FileScope {
    enum class Kind : std::uint8_t { All, OnlyIn, ExceptIn };
    Kind kind = Kind::All;
    std::vector<std::string> patterns;

    // Whether a finding located in `path` (raw bytes) survives the scope.
    bool keeps(std::string_view path) const;
};

// A check with a scope and a severity override; copies share the check.
class Rule final : public Check {
public:
    explicit Rule(std::shared_ptr<const Check> check) : check_(std::move(check)) {}

    std::string name() const override { return check_->name(); }
    // The check's findings in the scoped files, with the override applied.
    std::vector<Finding> run(const Deck& deck) const override;

    Rule with_severity(Severity s) const;
    Rule only_in(std::vector<std::string> patterns) const;
    Rule except_in(std::vector<std::string> patterns) const;

    const FileScope& scope() const noexcept { return scope_; }
    std::optional<Severity> severity() const noexcept { return severity_; }
    const std::shared_ptr<const Check>& check() const noexcept { return check_; }

    // The built-in rules (scope All, no override).
    static Rule references_resolve();
    static Rule references_resolve_with_connectivity();
    static Rule duplicate_ids();
    static Rule unreferenced_entities();
    static Rule rigid_context();
    static Rule include_missing();
    // Keywords are trimmed of surrounding whitespace; an empty one is the
    // ValueError "keyword name must not be empty".
    static Result<Rule> keyword_forbidden(std::string_view keyword);
    static Result<Rule> field_required(std::string_view keyword, ExprPtr require, ExprPtr when);
    static Result<Rule> field_forbidden_values(std::string_view keyword, std::string field,
                                               std::vector<model::Value> values);

private:
    std::shared_ptr<const Check> check_;
    FileScope scope_;
    std::optional<Severity> severity_;
};

}  // namespace tarvex::validate
