// Python face of validation, shared with the deck and workspace bindings:
// rule lists from Python, reports to Python, and Deck.validate.
#pragma once

#include <vector>

#include "python/deck.hpp"
#include "python/frame.hpp"
#include "validate/check.hpp"
#include "validate/report.hpp"

namespace tarvex::py {

struct SeverityTag {};
struct CmpTag {};

// The rules of a Python sequence of Rule, copied (the copies share their
// checks).  A bare str, a non-sequence or an element that is not a Rule is a
// TypeError naming the argument `rules`.
std::vector<validate::Rule> rules_from_py(nb::handle rules);

// A Python Report owning the findings, file paths decoded as UTF-8 with
// U+FFFD for invalid bytes.  Needs the interpreter lock.
nb::object report_to_py(validate::Report&& report);

// Adds Deck.validate(rules) to the Deck class: converts the rules, takes a
// shared claim on the deck, runs them with the interpreter lock released and
// returns the Report.
void add_deck_validate(nb::class_<PyDeck>& cls);

}  // namespace tarvex::py
