#include "schema/field_vocabulary.hpp"

namespace tarvex {

const char* entity_kind_name(EntityKind k) noexcept {
    static const char* const names[kEntityKindCount] = {
        "Node",    "Element", "Part",    "Material", "ThermalMaterial", "Section",  "Eos",       "Hourglass",
        "Curve",   "Box",     "Coord",   "Vector",   "NodeSet",         "PartSet",  "SegmentSet", "ShellSet",
        "SolidSet", "BeamSet", "DiscreteSet", "Sensor", "Transform",     "Define"};
    auto i = static_cast<unsigned>(k);
    return i < kEntityKindCount ? names[i] : "";
}

std::string field_ref_display(const FieldRef& r) {
    std::string out = "[";
    if (r.tag == FieldRef::Tag::Kind) out += entity_kind_name(r.kind);
    if (r.tag == FieldRef::Tag::AnyOf)
        for (std::uint8_t i = 0; i < r.any_count; ++i) {
            if (i) out += ", ";
            out += entity_kind_name(r.any_of[i]);
        }
    return out + "]";
}

}  // namespace tarvex
