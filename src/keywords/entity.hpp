// Kinds of labelled entities and the reference designation of a layout field.
#pragma once

#include <cstdint>
#include <string>

namespace tarvex {

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

const char* entity_kind_name(EntityKind k) noexcept;

// What a field's value points at: nothing, one kind, or any of a fixed list
// of kinds (the library uses one list: SegmentSet, NodeSet, PartSet).
struct FieldRef {
    enum class Tag : std::uint8_t { None, Kind, AnyOf };
    Tag tag = Tag::None;
    EntityKind kind = EntityKind::Node;       // Tag::Kind
    const EntityKind* any_of = nullptr;       // Tag::AnyOf
    std::uint8_t any_count = 0;

    static constexpr FieldRef none() noexcept { return {}; }
    static constexpr FieldRef of(EntityKind k) noexcept { return {Tag::Kind, k, nullptr, 0}; }
    bool is_none() const noexcept { return tag == Tag::None; }
};

// "[SegmentSet, NodeSet, PartSet]" / "[Part]" / "[]".
std::string field_ref_display(const FieldRef& r);

}  // namespace tarvex
