// The built-in keyword library: compiled-in layouts of the LS-DYNA keywords
// (cards of fields with name, type, width and reference designation), the
// definition rules and the keyword-name normalisation used for lookups by
// block name.  All data is constant with static lifetime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "schema/schema.hpp"

namespace tarvex::keywords {

struct FieldDef {
    FieldRef refers;
    const char* name;
    std::uint16_t width;  // standard fixed format (doubled in long format)
    FieldType ty;

    std::string_view name_view() const noexcept { return name; }
};

struct CardDef;
struct KeywordDef;

struct DefinitionRule {
    bool exact;           // exact name, else prefix
    const char* pattern;  // name or prefix
    std::uint8_t card;    // card whose first field holds the defined id
    bool multi;           // every data line defines one entity
    EntityKind kind;
};

// A canonical base that defines nothing: one starting with `text` (prefix),
// else one holding `text` anywhere.
struct DefinitionExclusion {
    bool prefix;
    const char* text;
};

namespace detail {
extern const FieldDef kFields[];
extern const CardDef kCards[];
extern const KeywordDef kKeywords[];  // the sorted table, then NODE, PART, HOURGLASS, the two-line ELEMENT_SOLID
extern const std::size_t kSortedCount;
extern const std::size_t kElementSolid;  // sorted-table index of ELEMENT_SOLID
extern const std::uint16_t kMixedCase[];  // sorted-table indices of names with lower-case letters
extern const std::size_t kMixedCaseCount;
extern const std::uint32_t kTitleCard;        // the title line of a _TITLE block, in kCards
extern const std::uint8_t kWalkOrders[];
extern const std::uint32_t kPrograms[];       // card conditions and counts (card_program.hpp)
extern const double kProgramNumbers[];
extern const char* const kProgramTexts[];
extern const DefinitionRule kDefinitionRules[];
extern const std::size_t kDefinitionRuleCount;
extern const DefinitionExclusion kDefinitionExclusions[];
extern const std::size_t kDefinitionExclusionCount;
}  // namespace detail

// How a card occupies the lines of a block.
enum class CardKind : std::uint8_t {
    Plain = 0,       // one line
    Table = 1,       // one line per row; `length` rows, or every remaining line
    TableGroup = 2,  // consecutive TableGroup cards are the lines of one row, repeated `length` times
    Series = 3,      // `length` values, as many per line as the card has fields
    Title = 4,       // the free-text title line of a _TITLE block
};

// Marks a missing program, ID card or walk order.
inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;

struct CardDef {
    std::uint32_t first;  // into the flat field table
    std::uint16_t count;
    CardKind kind;
    std::uint32_t active;  // program of the condition under which the card is there; kNone: always
    std::uint32_t length;  // program of the row or value count (Table, TableGroup, Series); kNone: open-ended

    std::span<const FieldDef> fields() const noexcept { return {detail::kFields + first, count}; }
    bool repeats() const noexcept { return kind == CardKind::Table || kind == CardKind::TableGroup || kind == CardKind::Series; }
};

struct KeywordDef {
    const char* name_ptr;  // without the leading '*'
    std::uint16_t name_len;
    std::uint16_t card_count;
    std::uint32_t first_card;
    std::uint32_t id_card;  // into kCards: the card an _ID block writes before the others; kNone
    std::uint32_t walk;     // into kWalkOrders: the order decks write the cards in; kNone: listed order
    std::uint32_t tail_first;  // into kCards: option cards (A … G) read after the others while lines are left
    std::uint8_t tail_count;
    std::uint32_t mpp_first;  // into kCards: the MPP option cards, read after the ID card of an _MPP block
    std::uint8_t mpp_count;
    // A run of cards repeated within one record: walk positions
    // [group_first, group_first + group_count), `group_length` times (a program).
    std::uint8_t group_first;
    std::uint8_t group_count;
    std::uint32_t group_length;

    std::string_view name() const noexcept { return {name_ptr, name_len}; }
    std::span<const CardDef> cards() const noexcept { return {detail::kCards + first_card, card_count}; }
    // The card that a block writes at position `i` (0 <= i < card_count).
    std::size_t walk_card(std::size_t i) const noexcept { return walk == kNone ? i : detail::kWalkOrders[walk + i]; }
    const CardDef* id_card_def() const noexcept { return id_card == kNone ? nullptr : detail::kCards + id_card; }
    std::span<const CardDef> tail_cards() const noexcept { return {detail::kCards + tail_first, tail_count}; }
    std::span<const CardDef> mpp_cards() const noexcept { return {detail::kCards + mpp_first, mpp_count}; }
};

// The title line card (one text field TITLE, width 80).
inline const CardDef& title_card() noexcept { return detail::kCards[detail::kTitleCard]; }

// The sorted table (byte order of the names; NODE, PART and HOURGLASS are not in it).
std::span<const KeywordDef> sorted_table() noexcept;
// The three entries kept outside the sorted table.
const KeywordDef& node_entry() noexcept;
const KeywordDef& part_entry() noexcept;
const KeywordDef& hourglass_entry() noexcept;
// *ELEMENT_SOLID and its two-line form (card 0: EID, PID; card 1: N1 … N8),
// which is no lookup's answer: the record walker picks it per block.
const KeywordDef& element_solid_entry() noexcept;
const KeywordDef& element_solid_two_line_entry() noexcept;

// Case-insensitive lookup, no other normalisation; nullptr when absent.
const KeywordDef* find(std::string_view name) noexcept;

// The entry's layout as a repeating Schema; nothing when find(name) fails.
std::optional<Schema> schema(std::string_view name);
Schema schema_of(const KeywordDef& def);

// Where a field stands in an entry: card index (from 0), field index within
// the card, and the field itself.
struct FieldPos {
    std::size_t card;
    std::size_t field;
    const FieldDef* def;
};

// The first field, card by card and field by field, whose name equals `name`
// without regard to ASCII case (same length); nothing when there is none.
std::optional<FieldPos> find_field(const KeywordDef& def, std::string_view name) noexcept;

// Whether any field of the card (of any card of the entry) has a designation.
bool has_designation(const CardDef& card) noexcept;
bool has_designation(const KeywordDef& def) noexcept;

// ASCII upper case, then a trailing _TITLE, then a trailing _ID removed.
std::string canonical_base(std::string_view name);

// The 27 definition rules, in the order they are tried.
std::span<const DefinitionRule> definition_rules() noexcept;
// Whether blocks of this canonical base define nothing (MAT_ADD…, MAT_CHANGE…, …_ADD_…).
bool excluded_from_definitions(std::string_view base) noexcept;
// The first rule matching a canonical base, after the exclusions; nullptr when none.
const DefinitionRule* definition_rule_for(std::string_view base) noexcept;

}  // namespace tarvex::keywords
