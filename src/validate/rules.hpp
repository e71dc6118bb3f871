// The eight built-in checks and the run of a list of rules over one deck.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "deck/deck.hpp"
#include "schema/field_vocabulary.hpp"
#include "validate/check.hpp"
#include "validate/expr.hpp"
#include "validate/report.hpp"

namespace tarvex::validate {

// Every reference field resolves to a definition; element connectivity too
// when `connectivity`.
class ReferencesResolve final : public Check {
public:
    explicit ReferencesResolve(bool connectivity) : connectivity_(connectivity) {}
    std::string name() const override { return "references_resolve"; }
    std::vector<Finding> run(const Deck& deck) const override;

private:
    bool connectivity_;
};

// No two definitions of one kind share a (global) id.
class DuplicateIds final : public Check {
public:
    std::string name() const override { return "duplicate_ids"; }
    std::vector<Finding> run(const Deck& deck) const override;
};

// Definitions of the listed kinds that no field references (Warning).
class UnreferencedEntities final : public Check {
public:
    UnreferencedEntities();
    std::string name() const override { return "unreferenced_entities"; }
    std::vector<Finding> run(const Deck& deck) const override;
    const std::vector<EntityKind>& kinds() const noexcept { return kinds_; }

private:
    std::vector<EntityKind> kinds_;
};

// Rigid-body keywords target parts whose material is rigid.
class RigidContext final : public Check {
public:
    std::string name() const override { return "rigid_context"; }
    std::vector<Finding> run(const Deck& deck) const override;
};

// Every include directive resolves to an existing file.
class IncludeMissing final : public Check {
public:
    std::string name() const override { return "include_missing"; }
    std::vector<Finding> run(const Deck& deck) const override;
};

// The keyword does not appear at all.
class KeywordForbidden final : public Check {
public:
    explicit KeywordForbidden(std::string keyword);
    std::string name() const override { return "keyword_forbidden(" + keyword_ + ")"; }
    std::vector<Finding> run(const Deck& deck) const override;

private:
    std::string keyword_;  // trimmed, as given
    std::string base_;     // its canonical base
};

// When `when` holds on an occurrence of the keyword, `require` holds too.
class FieldRequired final : public Check {
public:
    FieldRequired(std::string keyword, ExprPtr require, ExprPtr when);
    std::string name() const override { return "field_required(" + keyword_ + ")"; }
    std::vector<Finding> run(const Deck& deck) const override;

private:
    std::string keyword_;
    std::string base_;
    ExprPtr require_;
    ExprPtr when_;  // may be null
};

// The field of the keyword holds none of the values.
class FieldForbiddenValues final : public Check {
public:
    FieldForbiddenValues(std::string keyword, std::string field, std::vector<model::Value> values);
    std::string name() const override { return "field_forbidden_values(" + keyword_ + "." + field_ + ")"; }
    std::vector<Finding> run(const Deck& deck) const override;

private:
    std::string keyword_;
    std::string base_;
    std::string field_;
    std::vector<model::Value> values_;
};

// The rules over `deck`, in parallel on the shared pool (the list halved
// recursively down to single rules); the findings concatenated in rule order.
Report run_rules(const Deck& deck, const std::vector<Rule>& rules);

}  // namespace tarvex::validate
