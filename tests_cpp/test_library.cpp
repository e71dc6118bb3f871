// The built-in keyword library: lookups, layouts, designations, definition rules.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

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

namespace {
// "NAME:TYPE:WIDTH[:REF]" per field, fields separated by blanks, cards by '|';
// TYPE is i, f or s; REF is a kind name or "any" for the surface-set group.
std::string layout_of(const KeywordDef& d) {
    std::string out;
    for (std::size_t ci = 0; ci < d.card_count; ++ci) {
        if (ci) out += " |";
        for (const FieldDef& f : d.cards()[ci].fields()) {
            if (!out.empty()) out += " ";
            out += f.name;
            out += f.ty == FieldType::Int ? ":i:" : f.ty == FieldType::Float ? ":f:" : ":s:";
            out += std::to_string(f.width);
            if (f.refers.tag == FieldRef::Tag::Kind) out += std::string(":") + entity_kind_name(f.refers.kind);
            if (f.refers.tag == FieldRef::Tag::AnyOf) out += ":any";
        }
    }
    return out;
}

// "NAME:{type}:{width}[:{ref}]" for each blank-separated name.
std::string typed_fields(const char* names, const char* type, int width, const char* ref) {
    std::string out;
    std::string s(names);
    std::size_t p = 0;
    while (p <= s.size()) {
        std::size_t q = s.find(' ', p);
        if (q == std::string::npos) q = s.size();
        if (q > p) {
            if (!out.empty()) out += " ";
            out += s.substr(p, q - p) + ":" + type + ":" + std::to_string(width) +
                   (ref ? std::string(":") + ref : "");
        }
        p = q + 1;
    }
    return out;
}

std::string ints(const char* names, int width, const char* ref = nullptr) { return typed_fields(names, "i", width, ref); }

std::string floats(const char* names, int width = 10) { return typed_fields(names, "f", width, nullptr); }
}  // namespace

// Every entry whose layout is fixed field by field: name, type, width, designation.
TEST(Library, FixedEntriesFieldByField) {
    const std::pair<const char*, std::string> cases[] = {
        {"NODE", "nid:i:8 x:f:16 y:f:16 z:f:16 tc:i:8 rc:i:8"},
        {"PART", "heading:s:80 | pid:i:10 secid:i:10:Section mid:i:10:Material eosid:i:10:Eos "
                 "hgid:i:10:Hourglass grav:i:10 adpopt:i:10 tmid:i:10:ThermalMaterial"},
        {"HOURGLASS", "HGID:i:10 IHQ:i:10 QM:f:10 IBQ:i:10 Q1:f:10 Q2:f:10 QB/VDC:f:10 QW:f:10"},
        {"HOURGLASS_HOURGLASS", "HGID:i:10 IHQ:i:10 QM:f:10 IBQ:i:10 Q1:f:10 Q2:f:10 QB/VDC:f:10 QW:f:10"},
        {"SECTION_SHELL",
         "SECID:i:10 ELFORM:i:10 SHRF:f:10 NIP:i:10 PROPT:f:10 QR/IRID:i:10 ICOMP:i:10 SETYP:i:10 | " +
             floats("T1 T2 T3 T4 NLOC MAREA IDOF") + " EDGSET:i:10 | " +
             ints("NIPP NXDOF IUNF IHGF ITAJ LMC NHSV ILOC", 10) + " | " + floats("XI ETA WGT") + " | " +
             floats("Bi Bi_2 Bi_3 Bi_4 Bi_5 Bi_6 Bi_7 Bi_8") + " | " + floats("Pi Pi_2 Pi_3 Pi_4 Pi_5 Pi_6 Pi_7 Pi_8")},
        {"MAT_ELASTIC", "MID:i:10 " + floats("RO E PR DA DB NOT_USED")},
        {"DEFINE_CURVE", "LCID:i:10 SIDR:i:10 " + floats("SFA SFO OFFA OFFO") + " DATTYP:i:10 LCINT:i:10 | " +
                             floats("A1 O1", 20)},
        {"INCLUDE_TRANSFORM", "FILENAME:s:80 | " + ints("IDNOFF IDEOFF IDPOFF IDMOFF IDSOFF IDFOFF IDDOFF", 10) +
                                  " | IDROFF:i:10 -:i:10 PREFIX:s:10 SUFFIX:s:10 | " + floats("FCTMAS FCTTIM FCTLEN") +
                                  " FCTTEM:s:10 INCOUT1:i:10 FCTCHG:f:10 | TRANID:i:10:Transform"},
        {"ELEMENT_SHELL", "EID:i:8 PID:i:8:Part " + ints("N1 N2 N3 N4 N5 N6 N7 N8", 8, "Node")},
        {"SET_NODE_LIST", "SID:i:10 " + floats("DA1 DA2 DA3 DA4") + " SOLVER:s:10 ITS:s:10 -:s:10 | " +
                              ints("NID1 NID2 NID3 NID4 NID5 NID6 NID7 NID8", 10, "Node")},
        {"DEFINE_TABLE", "TBID:i:10 SFA:f:10 OFFA:f:10 | VALUE:f:20 LCID:i:10:Curve"},
        {"INCLUDE_INCLUDE", "FILENAME:s:80"},
    };
    for (const auto& [name, want] : cases) {
        const KeywordDef* d = find(name);
        ASSERT_NE(d, nullptr) << name;
        EXPECT_EQ(d->name(), name);
        EXPECT_EQ(layout_of(*d), want) << name;
    }
    const KeywordDef* c = find("CONTACT_AUTOMATIC_SINGLE_SURFACE");
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->card_count, 3u);
    EXPECT_EQ(layout_of(*c).substr(0, layout_of(*c).find(" |")),
              "SURFA:i:10:any SURFB:i:10:any SURFATYP:i:10 SURFBTYP:i:10 SABOXID:i:10:Box SBBOXID:i:10:Box "
              "SAPR:i:10 SBPR:i:10");
    for (std::size_t ci = 1; ci < 3; ++ci)
        for (const FieldDef& f : c->cards()[ci].fields()) {
            EXPECT_TRUE(f.refers.is_none()) << f.name;
            EXPECT_NE(f.ty, FieldType::Str) << f.name;
        }
}

TEST(Library, TitleEntriesEqualTheirBase) {
    int titles = 0;
    for (const KeywordDef& e : sorted_table()) {
        std::string_view n = e.name();
        if (!n.ends_with("_TITLE")) continue;
        ++titles;
        const KeywordDef* base = find(n.substr(0, n.size() - 6));
        ASSERT_NE(base, nullptr) << n;
        EXPECT_EQ(layout_of(e), layout_of(*base)) << n;
    }
    EXPECT_EQ(titles, 3);
}

TEST(Library, IdEntriesHaveTheirBase) {
    int ids = 0;
    for (const KeywordDef& e : sorted_table()) {
        std::string_view n = e.name();
        if (!n.ends_with("_ID")) continue;
        ++ids;
        EXPECT_NE(find(n.substr(0, n.size() - 3)), nullptr) << n;
    }
    EXPECT_EQ(ids, 118);
}

TEST(Library, NamesAreUpperCaseButFive) {
    std::vector<std::string> mixed;
    for (const KeywordDef& e : sorted_table()) {
        std::string u(e.name());
        for (char& ch : u) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (u != e.name()) mixed.emplace_back(e.name());
    }
    EXPECT_EQ(mixed, (std::vector<std::string>{"ELEMENT_SOLID (ten nodes format)", "ELEMENT_SOLID_DOF (ten nodes format)",
                                                "ELEMENT_SOLID_ORTHO (ten nodes format)",
                                                "ELEMENT_SOLID_ORTHO_DOF (ten nodes format)", "MAT_115_o",
                                                "MAT_249_UDfiber"}));
}

TEST(Library, DesignationRules) {
    // Surface fields whose set type another field of the card chooses, in the
    // database's several spellings of that type field.
    const std::pair<const char*, std::vector<const char*>> surfaces[] = {
        {"ALE_STRUCTURED_FSI", {"LSTRSID", "ALESID"}},
        {"CONSTRAINED_LAGRANGE_IN_SOLID", {"LSTRSID", "ALESID"}},
        {"DEFINE_BEAM_SOLID_COUPLING", {"LSTRID", "MSOLIDM"}},
        {"DEFINE_DE_MASSFLOW_PLANE", {"PRTCLSID", "SURFSID"}},
        {"DEFINE_FP_TO_SURFACE_COUPLING", {"FP", "SURF"}},
        {"CONSTRAINED_SOLID_IN_SOLID", {"SSIDA", "SSIDB"}},
        {"ALE_FSI_PROJECTION", {"LAGSID", "ALESID"}},
    };
    auto field = [](const KeywordDef* d, std::string_view name) -> const FieldDef* {
        for (const CardDef& c : d->cards())
            for (const FieldDef& f : c.fields())
                if (f.name_view() == name) return &f;
        return nullptr;
    };
    for (const auto& [kw, names] : surfaces) {
        const KeywordDef* d = find(kw);
        ASSERT_NE(d, nullptr) << kw;
        for (const char* n : names) {
            const FieldDef* f = field(d, n);
            ASSERT_NE(f, nullptr) << kw << " " << n;
            EXPECT_EQ(f->refers, FieldRef::surface_sets()) << kw << " " << n;
        }
    }
    // The CESE solvers' surface set ids stand alone on their card: no type field, no group.
    EXPECT_TRUE(field(find("CESE_BOUNDARY_FSI_PART_SET"), "SURFSID")->refers.is_none());
    // The ids of a *SET_..._GENERAL card are of the kind its OPTION text names.
    for (const char* kw : {"SET_BEAM_GENERAL", "SET_BEAM_GENERAL_COLLECT"})
        for (const CardDef& c : find(kw)->cards())
            for (const FieldDef& f : c.fields()) EXPECT_TRUE(f.refers.is_none()) << kw << " " << f.name;
    EXPECT_EQ(field(find("EM_SOLVER_BEMMAT"), "MATID")->refers, FieldRef::of(EntityKind::Material));
}

TEST(Library, FieldPositions) {
    auto pos = find_field(part_entry(), "MID");
    ASSERT_TRUE(pos);
    EXPECT_EQ(pos->card, 1u);
    EXPECT_EQ(pos->field, 2u);
    EXPECT_STREQ(pos->def->name, "mid");
    EXPECT_EQ(pos->def->refers, FieldRef::of(EntityKind::Material));
    EXPECT_EQ(find_field(part_entry(), "mid")->field, 2u);
    EXPECT_FALSE(find_field(part_entry(), "mi"));
    EXPECT_FALSE(find_field(part_entry(), "mid "));
    EXPECT_FALSE(find_field(part_entry(), ""));
    auto bi = find_field(*find("SECTION_SHELL"), "bi_2");
    ASSERT_TRUE(bi);
    EXPECT_EQ(bi->card, 4u);
    EXPECT_EQ(bi->field, 1u);
    // The first of equal names wins (card order, then field order).
    auto tc = find_field(*find("INCLUDE_TRANSFORM"), "-");
    ASSERT_TRUE(tc);
    EXPECT_EQ(tc->card, 2u);
    EXPECT_EQ(tc->field, 1u);
}

TEST(Library, HasDesignation) {
    EXPECT_FALSE(has_designation(node_entry()));
    EXPECT_TRUE(has_designation(part_entry()));
    EXPECT_FALSE(has_designation(part_entry().cards()[0]));
    EXPECT_TRUE(has_designation(part_entry().cards()[1]));
    EXPECT_FALSE(has_designation(hourglass_entry()));
    EXPECT_TRUE(has_designation(find("ELEMENT_SHELL")->cards()[0]));
    EXPECT_FALSE(has_designation(*find("MAT_ELASTIC")));
}

TEST(Library, FieldNamesHaveNoSurroundingBlanks) {
    auto check = [](const KeywordDef& e) {
        for (const CardDef& c : e.cards())
            for (const FieldDef& f : c.fields()) {
                std::string_view n = f.name_view();
                ASSERT_FALSE(n.empty()) << e.name();
                EXPECT_NE(n.front(), ' ') << e.name() << " '" << n << "'";
                EXPECT_NE(n.back(), ' ') << e.name() << " '" << n << "'";
            }
    };
    for (const KeywordDef& e : sorted_table()) check(e);
    for (const KeywordDef* e : {&node_entry(), &part_entry(), &hourglass_entry()}) check(*e);
    // Names the layout database writes with a trailing blank are found without it.
    EXPECT_TRUE(find_field(*find("CESE_BOUNDARY_SEGMENT"), "N2"));
    EXPECT_TRUE(find_field(*find("INITIAL_VOLUME_FRACTION_GEOMETRY"), "SGSID"));
}
