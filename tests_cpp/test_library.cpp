// The built-in keyword library: lookups, layouts, designations, definition rules.
#include <gtest/gtest.h>

#include <set>

#include "keywords/library.hpp"

using namespace tarvex;
using namespace tarvex::keywords;

namespace {
std::string names_of(const CardDef& c) {
    std::string out;
    for (const FieldDef& f : c.fields()) {
        if (!out.empty()) out += ",";
        out += f.name;
    }
    return out;
}
}  // namespace

TEST(Library, SortedTableIsOrderedAndUnique) {
    auto t = sorted_table();
    ASSERT_EQ(t.size(), 3168u);
    std::set<std::string> folded;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i) {
            EXPECT_LT(t[i - 1].name(), t[i].name());
        }
        std::string u(t[i].name());
        for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(folded.insert(u).second) << u;
        EXPECT_NE(t[i].name(), "NODE");
        EXPECT_NE(t[i].name(), "PART");
        EXPECT_NE(t[i].name(), "HOURGLASS");
        EXPECT_LE(t[i].card_count, 21u);
        for (const CardDef& c : t[i].cards()) EXPECT_LE(c.count, 10u);
    }
}

TEST(Library, EveryNameFindsItself) {
    for (const KeywordDef& e : sorted_table()) {
        EXPECT_EQ(find(e.name()), &e) << e.name();
    }
}

TEST(Library, SeparateEntries) {
    for (const char* q : {"NODE", "node", "NoDe", "nODE"}) {
        const KeywordDef* d = find(q);
        ASSERT_EQ(d, &node_entry()) << q;
    }
    EXPECT_EQ(names_of(node_entry().cards()[0]), "nid,x,y,z,tc,rc");
    ASSERT_EQ(part_entry().card_count, 2u);
    EXPECT_EQ(names_of(part_entry().cards()[1]), "pid,secid,mid,eosid,hgid,grav,adpopt,tmid");
    auto pf = part_entry().cards()[1].fields();
    EXPECT_TRUE(pf[0].refers.is_none());
    EXPECT_EQ(pf[1].refers, FieldRef::of(EntityKind::Section));
    EXPECT_EQ(pf[3].refers, FieldRef::of(EntityKind::Eos));
    EXPECT_EQ(pf[7].refers, FieldRef::of(EntityKind::ThermalMaterial));
    EXPECT_EQ(find("hourglass"), &hourglass_entry());
    const KeywordDef* hh = find("HOURGLASS_HOURGLASS");
    ASSERT_NE(hh, nullptr);
    EXPECT_NE(hh, &hourglass_entry());
    EXPECT_EQ(names_of(hh->cards()[0]), names_of(hourglass_entry().cards()[0]));
    EXPECT_EQ(names_of(hourglass_entry().cards()[0]), "HGID,IHQ,QM,IBQ,Q1,Q2,QB/VDC,QW");
    ASSERT_NE(find("NODE_MERGE"), nullptr);
    EXPECT_EQ(find("NODE_MERGE")->name(), "NODE_MERGE");
}

TEST(Library, Misses) {
    for (const char* q : {"", "NODE ", " NODE", "INCLUDE", "KEYWORD", "PARAMETER", "CASE", "COMMENT", "FATIGUE",
                          "KEYWORD_ID", "SECTION_SHELL_TITLE", "NO_SUCH_KEYWORD"})
        EXPECT_EQ(find(q), nullptr) << q;
    EXPECT_EQ(find(std::string(500, 'A')), nullptr);
    ASSERT_NE(find("INCLUDE_INCLUDE"), nullptr);
    EXPECT_EQ(names_of(find("INCLUDE_INCLUDE")->cards()[0]), "FILENAME");
}

TEST(Library, CaseFoldingFallback) {
    for (const char* q : {"MAT_115_o", "MAT_115_O", "mat_115_o"}) {
        ASSERT_NE(find(q), nullptr) << q;
        EXPECT_EQ(find(q)->name(), "MAT_115_o");
    }
    EXPECT_EQ(find("MAT_115")->name(), "MAT_115");
    EXPECT_EQ(find("mat_249_udfiber")->name(), "MAT_249_UDfiber");
    for (const char* n : {"ELEMENT_SOLID (ten nodes format)", "ELEMENT_SOLID_DOF (ten nodes format)",
                          "ELEMENT_SOLID_ORTHO (ten nodes format)", "ELEMENT_SOLID_ORTHO_DOF (ten nodes format)"}) {
        std::string u(n);
        for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_NE(find(u), nullptr) << n;
        EXPECT_EQ(find(u)->name(), n);
    }
}

TEST(Library, CanonicalBase) {
    EXPECT_EQ(canonical_base("section_shell_title"), "SECTION_SHELL");
    EXPECT_EQ(canonical_base("PART_ID_TITLE"), "PART");
    EXPECT_EQ(canonical_base("PART_TITLE_ID"), "PART_TITLE");
    EXPECT_EQ(canonical_base("_ID"), "");
    EXPECT_EQ(canonical_base("_TITLE"), "");
    EXPECT_EQ(canonical_base("ID"), "ID");
    EXPECT_EQ(canonical_base(""), "");
    EXPECT_EQ(canonical_base("Mat_Elastic"), "MAT_ELASTIC");
}

TEST(Library, IdEntries) {
    const KeywordDef* id = find("AIRBAG_REFERENCE_GEOMETRY_BIRTH_ID");
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(names_of(id->cards()[0]), "ID,SX,SY,SZ,NIDO");
    const KeywordDef* base = find(canonical_base("AIRBAG_REFERENCE_GEOMETRY_BIRTH_ID"));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->name(), "AIRBAG_REFERENCE_GEOMETRY_BIRTH");
    EXPECT_EQ(names_of(base->cards()[0]), "BIRTH");
}

TEST(Library, SchemaOfLowerCaseQuery) {
    auto s = schema("define_curve");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->keyword, "DEFINE_CURVE");
    ASSERT_EQ(s->cards.size(), 2u);
    EXPECT_EQ(s->cards[0].size(), 8u);
    EXPECT_EQ(s->cards[1].size(), 2u);
    EXPECT_TRUE(s->repeat);
    for (const auto& c : s->cards)
        for (const auto& f : c) EXPECT_EQ(f.count, 1u);
    EXPECT_EQ(s->cards[1][0].name, "A1");
    EXPECT_EQ(s->cards[1][0].width, 20u);
    EXPECT_FALSE(schema("NOT_A_KEYWORD").has_value());
}

TEST(Library, Designations) {
    auto shell = schema("ELEMENT_SHELL");
    ASSERT_TRUE(shell);
    EXPECT_TRUE(shell->cards[0][0].refers.is_none());
    EXPECT_EQ(shell->cards[0][1].refers, FieldRef::of(EntityKind::Part));
    for (int i = 2; i < 10; ++i) EXPECT_EQ(shell->cards[0][i].refers, FieldRef::of(EntityKind::Node));
    auto contact = schema("CONTACT_AUTOMATIC_SINGLE_SURFACE");
    ASSERT_TRUE(contact);
    EXPECT_EQ(contact->cards[0][0].name, "SURFA");
    EXPECT_EQ(contact->cards[0][0].refers, FieldRef::surface_sets());
    EXPECT_EQ(field_ref_display(contact->cards[0][1].refers), "[SegmentSet, NodeSet, PartSet]");
    EXPECT_EQ(contact->cards[0][4].refers, FieldRef::of(EntityKind::Box));
    EXPECT_EQ(field_ref_display(contact->cards[0][4].refers), "[Box]");
    // A keyword's own defining id carries no designation.
    EXPECT_TRUE(schema("DEFINE_CURVE")->cards[0][0].refers.is_none());
    EXPECT_TRUE(schema("SECTION_SHELL")->cards[0][0].refers.is_none());
    // No designation targets the kinds that are never referenced.
    for (const KeywordDef& e : sorted_table())
        for (const CardDef& c : e.cards())
            for (const FieldDef& f : c.fields())
                for (EntityKind k : {EntityKind::ShellSet, EntityKind::SolidSet, EntityKind::BeamSet,
                                     EntityKind::DiscreteSet})
                    if (f.refers.tag == FieldRef::Tag::Kind) EXPECT_NE(f.refers.kind, k) << e.name();
}

TEST(Library, DefinitionRules) {
    auto rules = definition_rules();
    ASSERT_EQ(rules.size(), 27u);
    EXPECT_STREQ(rules[0].pattern, "NODE");
    EXPECT_TRUE(rules[0].multi);
    EXPECT_EQ(rules[2].card, 1u);
    EXPECT_EQ(definition_rule_for("MAT_THERMAL_ISOTROPIC")->kind, EntityKind::ThermalMaterial);
    EXPECT_EQ(definition_rule_for("MAT_ELASTIC")->kind, EntityKind::Material);
    EXPECT_EQ(definition_rule_for("PART")->kind, EntityKind::Part);
    EXPECT_EQ(definition_rule_for("PART_INERTIA"), nullptr);
    EXPECT_EQ(definition_rule_for("HOURGLASS")->kind, EntityKind::Hourglass);
    EXPECT_EQ(definition_rule_for("COMPONENT_HYBRIDIII")->kind, EntityKind::Define);
    EXPECT_EQ(definition_rule_for("COMPONENT_HYBRIDIII_JOINT_LEFT_HIP"), nullptr);
    EXPECT_EQ(definition_rule_for("MAT_ADD_EROSION"), nullptr);
    EXPECT_EQ(definition_rule_for("MAT_CHANGE"), nullptr);
    EXPECT_EQ(definition_rule_for("SET_NODE_ADD_ADVANCED"), nullptr);
    EXPECT_EQ(definition_rule_for("SET_NODE_ADD")->kind, EntityKind::NodeSet);
    EXPECT_EQ(definition_rule_for("SENSOR_DEFINE_NODE")->kind, EntityKind::Sensor);
    EXPECT_TRUE(excluded_from_definitions("SET_PART_ADD_X"));
    EXPECT_FALSE(excluded_from_definitions("SET_PART_ADD"));
}

TEST(Library, IncludeTransformLayout) {
    const KeywordDef* d = find("INCLUDE_TRANSFORM");
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->card_count, 5u);
    EXPECT_EQ(names_of(d->cards()[0]), "FILENAME");
    EXPECT_EQ(d->cards()[0].fields()[0].width, 80u);
    EXPECT_EQ(names_of(d->cards()[1]), "IDNOFF,IDEOFF,IDPOFF,IDMOFF,IDSOFF,IDFOFF,IDDOFF");
    EXPECT_EQ(names_of(d->cards()[2]), "IDROFF,-,PREFIX,SUFFIX");
    EXPECT_EQ(d->cards()[4].fields()[0].refers, FieldRef::of(EntityKind::Transform));
}
