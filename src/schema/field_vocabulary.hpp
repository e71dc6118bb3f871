// The field vocabulary shared by layouts and the keyword library: a field's
// value type, the kinds of labelled entities, and a field's reference
// designation (what its value points at).  A leaf header: the schema layer and
// the keyword library both build on it, and it includes nothing of either.
#pragma once

#include <cstdint>
#include <string>

namespace tarvex {

// A field's value type: 0 integer, 1 float, 2 string.
enum class FieldType : std::uint8_t { Int = 0, Float = 1, Str = 2 };


enum class EntityKind : std::uint8_t {
    Node = 0,
    Element,
    Part,
    Material,
    ThermalMaterial,
    Section,
    Eos,
    Hourglass,
    Curve,
    Box,
    Coord,
    Vector,
    NodeSet,
    PartSet,
    SegmentSet,
    ShellSet,
    SolidSet,
    BeamSet,
    DiscreteSet,
    Sensor,
    Transform,
    Define,
};

inline constexpr int kEntityKindCount = 22;

// The one any-of list of the library: contact surfaces and similar fields
// whose set type is chosen by another field.
inline constexpr EntityKind kSurfaceSetKinds[3] = {EntityKind::SegmentSet, EntityKind::NodeSet, EntityKind::PartSet};

const char* entity_kind_name(EntityKind k) noexcept;

// What a field's value points at: nothing, one kind, or any of a fixed list
// of kinds (the library uses one list: SegmentSet, NodeSet, PartSet).
struct FieldRef {
    enum class Tag : std::uint8_t { None, Kind, AnyOf };
    Tag tag = Tag::None;
    EntityKind kind = EntityKind::Node;       // Tag::Kind
    const EntityKind* any_of = nullptr;       // Tag::AnyOf
    std::uint8_t any_count = 0;
    // For an any-of field: the index, in its card, of the field whose value
    // picks the set kind (SURFATYP for SURFA, ...); kNoSelector when none.
    std::uint8_t selector = kNoSelector;

    static constexpr std::uint8_t kNoSelector = 0xFF;
    static constexpr FieldRef none() noexcept { return {}; }
    static constexpr FieldRef of(EntityKind k) noexcept { return {Tag::Kind, k, nullptr, 0}; }
    static constexpr FieldRef surface_sets() noexcept { return {Tag::AnyOf, EntityKind::SegmentSet, kSurfaceSetKinds, 3}; }
    static constexpr FieldRef surface_sets_chosen_by(std::uint8_t field) noexcept {
        return {Tag::AnyOf, EntityKind::SegmentSet, kSurfaceSetKinds, 3, field};
    }
    bool is_none() const noexcept { return tag == Tag::None; }
    // Whether `k` is (one of) the designated kind(s).
    constexpr bool targets(EntityKind k) const noexcept {
        if (tag == Tag::Kind) return kind == k;
        if (tag == Tag::AnyOf)
            for (std::uint8_t i = 0; i < any_count; ++i)
                if (any_of[i] == k) return true;
        return false;
    }
    friend constexpr bool operator==(const FieldRef& a, const FieldRef& b) noexcept {
        if (a.tag != b.tag) return false;
        if (a.tag == Tag::Kind) return a.kind == b.kind;
        if (a.tag == Tag::AnyOf) {
            if (a.any_count != b.any_count) return false;
            for (std::uint8_t i = 0; i < a.any_count; ++i)
                if (a.any_of[i] != b.any_of[i]) return false;
        }
        return true;
    }
};

// "[SegmentSet, NodeSet, PartSet]" / "[Part]" / "[]".
std::string field_ref_display(const FieldRef& r);

}  // namespace tarvex
