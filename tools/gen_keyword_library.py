#!/usr/bin/env python3
"""Generate the compiled-in keyword library tables (src/keywords/library_data.cpp).

Input: the keyword layout database ../shared/keyword-db/layouts.json (not part of
this repository) and tools/keyword_names.txt (the library's sorted keyword names).

    python tools/gen_keyword_library.py [--db PATH] [--out PATH] [--summary]

The output depends only on the inputs: rerunning gives a byte-identical file.
"""
from __future__ import annotations

import argparse
import collections
import json
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
DEFAULT_DB = ROOT / ".." / "shared" / "keyword-db" / "layouts.json"
DEFAULT_OUT = ROOT / "src" / "keywords" / "library_data.cpp"
NAMES_FILE = ROOT / "tools" / "keyword_names.txt"

# ---------------------------------------------------------------------------
# Entity kinds (codes as in src/schema/field_vocabulary.hpp)
KINDS = ["Node", "Element", "Part", "Material", "ThermalMaterial", "Section", "Eos", "Hourglass", "Curve",
         "Box", "Coord", "Vector", "NodeSet", "PartSet", "SegmentSet", "ShellSet", "SolidSet", "BeamSet",
         "DiscreteSet", "Sensor", "Transform", "Define"]
ANY = "AnyOf"  # the single any-of group: SegmentSet, NodeSet, PartSet

# The database's links, as designations.  Links to solid, beam and discrete
# sets are dropped: those kinds are never the target of a designation.
LINKS = {
    "NODE": "Node", "ELEMENT_SOLID": "Element", "ELEMENT_SHELL": "Element", "ELEMENT_BEAM": "Element",
    "PART": "Part", "MAT": "Material", "SECTION": "Section", "HOURGLASS": "Hourglass",
    "DEFINE_CURVE": "Curve", "DEFINE_CURVE_OR_TABLE": "Curve", "DEFINE_BOX": "Box",
    "DEFINE_COORDINATE_SYSTEM": "Coord", "DEFINE_VECTOR": "Vector", "DEFINE_TRANSFORMATION": "Transform",
    "SET_NODE": "NodeSet", "SET_PART": "PartSet", "SET_SEGMENT": "SegmentSet",
    "SET_SOLID": None, "SET_BEAM": None, "SET_DISCRETE": None, None: None,
}

TYPES = {"int": 0, "float": 1, "str": 2}

# Definition rules: (exact, pattern, card, multi, kind), tried in order.
DEFINITION_RULES = [
    (True, "NODE", 0, True, "Node"),
    (False, "ELEMENT_", 0, True, "Element"),
    (True, "PART", 1, False, "Part"),
    (False, "MAT_THERMAL", 0, False, "ThermalMaterial"),
    (False, "MAT_", 0, False, "Material"),
    (False, "SECTION_", 0, False, "Section"),
    (False, "EOS_", 0, False, "Eos"),
    (True, "HOURGLASS", 0, False, "Hourglass"),
    (False, "DEFINE_CURVE", 0, False, "Curve"),
    (False, "DEFINE_TABLE", 0, False, "Curve"),
    (False, "DEFINE_FUNCTION", 0, False, "Curve"),
    (False, "DEFINE_COORDINATE", 0, False, "Coord"),
    (False, "DEFINE_VECTOR", 0, False, "Vector"),
    (False, "DEFINE_BOX", 0, False, "Box"),
    (False, "DEFINE_TRANSFORM", 0, False, "Transform"),
    (False, "SET_NODE", 0, False, "NodeSet"),
    (False, "SET_PART", 0, False, "PartSet"),
    (False, "SET_SEGMENT", 0, False, "SegmentSet"),
    (False, "SET_SHELL", 0, False, "ShellSet"),
    (False, "SET_SOLID", 0, False, "SolidSet"),
    (False, "SET_BEAM", 0, False, "BeamSet"),
    (False, "SET_DISCRETE", 0, False, "DiscreteSet"),
    (False, "SENSOR_DEFINE", 0, False, "Sensor"),
    (True, "COMPONENT_GEBOD_MALE", 0, False, "Define"),
    (True, "COMPONENT_GEBOD_FEMALE", 0, False, "Define"),
    (True, "COMPONENT_GEBOD_CHILD", 0, False, "Define"),
    (True, "COMPONENT_HYBRIDIII", 0, False, "Define"),
]


def canonical_base(name: str) -> str:
    s = name.upper()
    if len(s) >= 6 and s.endswith("_TITLE"):
        s = s[:-6]
    if len(s) >= 3 and s.endswith("_ID"):
        s = s[:-3]
    return s


# Canonical bases that define nothing although a rule would match them:
# (prefix?, text): a prefix of the base, else a text found anywhere in it.
DEFINITION_EXCLUSIONS = [(True, "MAT_ADD"), (True, "MAT_CHANGE"), (False, "_ADD_")]


def definition_rule(name: str):
    base = canonical_base(name)
    if any(base.startswith(t) if prefix else t in base for prefix, t in DEFINITION_EXCLUSIONS):
        return None
    for rule in DEFINITION_RULES:
        if (base == rule[1]) if rule[0] else base.startswith(rule[1]):
            return rule
    return None


# ---------------------------------------------------------------------------
# Field helpers.  A field is [name, type, width, designation].

def F(name, ty, width=10, ref=None):
    return [name, TYPES[ty], width, ref]


def card(*fields):
    return list(fields)


# The three entries kept outside the sorted table.
SEPARATE = {
    "NODE": [card(F("nid", "int", 8), F("x", "float", 16), F("y", "float", 16), F("z", "float", 16),
                  F("tc", "int", 8), F("rc", "int", 8))],
    "PART": [card(F("heading", "str", 80)),
             card(F("pid", "int"), F("secid", "int", 10, "Section"), F("mid", "int", 10, "Material"),
                  F("eosid", "int", 10, "Eos"), F("hgid", "int", 10, "Hourglass"), F("grav", "int"),
                  F("adpopt", "int"), F("tmid", "int", 10, "ThermalMaterial"))],
    "HOURGLASS": [card(F("HGID", "int"), F("IHQ", "int"), F("QM", "float"), F("IBQ", "int"), F("Q1", "float"),
                       F("Q2", "float"), F("QB/VDC", "float"), F("QW", "float"))],
}

# Other forms of an entry, kept outside the sorted table and chosen per block
# by the reader: *ELEMENT_SOLID in its two-line form (the id and part on the
# first line, the nodes on the next).
VARIANTS = {
    "ELEMENT_SOLID": [card(F("EID", "int", 8), F("PID", "int", 8, "Part")),
                      card(*[F(f"N{i}", "int", 8, "Node") for i in range(1, 9)])],
}

# Entries whose layout is fixed exactly here, where the database differs
# (card order, types, a card the database adds for an option, field names).
OVERRIDES = {
    # The database puts the angle series before the NIPP card, reads PROPT as
    # an integer and names the series ANGLE / PI.
    "SECTION_SHELL": [
        card(F("SECID", "int"), F("ELFORM", "int"), F("SHRF", "float"), F("NIP", "int"), F("PROPT", "float"),
             F("QR/IRID", "int"), F("ICOMP", "int"), F("SETYP", "int")),
        card(*[F(n, "float") for n in ("T1", "T2", "T3", "T4", "NLOC", "MAREA", "IDOF")], F("EDGSET", "int")),
        card(*[F(n, "int") for n in ("NIPP", "NXDOF", "IUNF", "IHGF", "ITAJ", "LMC", "NHSV", "ILOC")]),
        card(F("XI", "float"), F("ETA", "float"), F("WGT", "float")),
        card(*[F("Bi", "float") for _ in range(8)]),
        card(*[F("Pi", "float") for _ in range(8)]),
    ],
    # The database adds the card of the _FLUID option and two unused columns.
    "MAT_ELASTIC": [card(F("MID", "int"), *[F(n, "float") for n in ("RO", "E", "PR", "DA", "DB", "NOT_USED")])],
    # The database lists the point pairs as a series of one value per line.
    "DEFINE_TABLE": [card(F("TBID", "int"), F("SFA", "float"), F("OFFA", "float")),
                     card(F("VALUE", "float", 20), F("LCID", "int", 10, "Curve"))],
    # The database adds IOUT to the id card.
    "AIRBAG_REFERENCE_GEOMETRY_BIRTH_ID": [
        card(F("ID", "int"), F("SX", "float"), F("SY", "float"), F("SZ", "float"), F("NIDO", "int", 10, "Node")),
        card(F("BIRTH", "float")),
        card(F("NID", "int", 8, "Node"), F("X", "float", 16), F("Y", "float", 16), F("Z", "float", 16)),
    ],
    # The database types the blank column of card 0 as an integer.
    "SET_NODE_LIST": [
        card(F("SID", "int"), *[F(f"DA{i}", "float") for i in range(1, 5)], F("SOLVER", "str"), F("ITS", "str"),
             F("-", "str")),
        card(*[F(f"NID{i}", "int", 10, "Node") for i in range(1, 9)]),
    ],
}

# How the cards of the OVERRIDES entries are read (kind, condition, count),
# in the entries' card order; entries not listed hold plain cards only.
IN_101_105 = {"op": "in", "args": [{"field": "ELFORM"}, {"const": [101, 102, 103, 104, 105]}]}
OVERRIDE_META = {
    "SECTION_SHELL": [
        {"kind": "card", "active": None, "length": None},
        {"kind": "card", "active": None, "length": None},
        {"kind": "card", "active": IN_101_105, "length": None},
        {"kind": "table", "active": IN_101_105, "length": {"field": "NIPP"}},
        {"kind": "series", "active": {"op": "==", "args": [{"field": "ICOMP"}, {"const": 1}]},
         "length": {"op": "if", "args": [{"op": "==", "args": [{"field": "NIP"}, {"const": 0}]}, {"const": 2},
                                         {"field": "NIP"}]}},
        {"kind": "series", "active": IN_101_105, "length": {"field": "LMC"}},
    ],
    "DEFINE_TABLE": [{"kind": "card", "active": None, "length": None},
                     {"kind": "table", "active": None, "length": None}],
    "AIRBAG_REFERENCE_GEOMETRY_BIRTH_ID": [{"kind": "card", "active": None, "length": None},
                                           {"kind": "card", "active": None, "length": None},
                                           {"kind": "table", "active": None, "length": None}],
    "SET_NODE_LIST": [{"kind": "card", "active": None, "length": None},
                      {"kind": "series", "active": None, "length": None}],
}
# Entries whose cards a deck writes in another order than the layout lists
# them: the angle series of SECTION_SHELL follows its second card.
WALK_ORDER = {"SECTION_SHELL": [0, 1, 4, 2, 3, 5]}

# Runs of cards that repeat within one record, which the database does not
# mark: (first card, number of cards, count), positions in the order decks
# write the cards.  Shell stresses and strains repeat per layer (NPLANE *
# NTHICK times, twice when that is 0); MAT_295 repeats its fibre family NF times.
_LAYERS = {"op": "*", "args": [{"field": "NPLANE"}, {"field": "NTHICK"}]}
_PER_LAYER = {"op": "if", "args": [{"op": "==", "args": [_LAYERS, {"const": 0}]}, {"const": 2}, _LAYERS]}
CARD_GROUPS = {
    "INITIAL_STRESS_SHELL": (1, 5, _PER_LAYER),
    "INITIAL_STRAIN_SHELL": (1, 3, _PER_LAYER),
    "MAT_295": (7, 3, {"field": "NF"}),
}

# Keyword names the database lacks: each is filled from the closest entry of
# the same family (donor) or from the manual's layout.  name -> (donor or
# layout, reason).  A donor is an entry name, optionally with a card slice.
ELEMENT_SOLID_CARD = card(F("EID", "int", 8), F("PID", "int", 8, "Part"),
                          *[F(f"N{i}", "int", 8, "Node") for i in range(1, 9)])
FILLS = {
    "ALE_STRUCTURED_MULTI_MATERIAL_GROUP": ("ALE_STRUCTURED_MULTI-MATERIAL_GROUP", "spelling variant of the same keyword"),
    "BATTERY_ECHEM_PART": ("BATTERY_ECHEM_PLATING", "closest entry of the BATTERY_ECHEM family"),
    "CHANGE_RIGID_BODY_STOPPER": ("CHANGE_RIGID_BODY_STOPPERS", "singular spelling of the same keyword"),
    "CONTROL_CONSTRANINED": ("CONTROL_CONSTRAINED", "misspelt duplicate of CONTROL_CONSTRAINED"),
    "CONTROL_CR_MPP_DECOMPOSITION_DEFORMED_GEOMETRY": ("CONTROL_MPP_DECOMPOSITION_DEFORMED_GEOMETRY", "same keyword without CR_"),
    "CONTROL_CR_MPP_DECOMPOSITION_FLAG_STRESS_STRAIN_CURVE": ("CONTROL_MPP_DECOMPOSITION_FLAG_STRESS_STRAIN_CURVE", "same keyword without CR_"),
    "CONTROL_CR_MPP_MATERIAL_MODEL_DRIVER": ("CONTROL_MPP_MATERIAL_MODEL_DRIVER", "same keyword without CR_"),
    "CONTROL_REFERENCE_CONFIGURAION": ("CONTROL_REFERENCE_CONFIGURATION", "misspelt duplicate"),
    "CONTROL_REFERENCE_CONFIGURAION_ITER": ("CONTROL_REFERENCE_CONFIGURATION_ITER", "misspelt duplicate"),
    "CONTROL_TIME_STEP": ("CONTROL_TIMESTEP", "spelling variant of CONTROL_TIMESTEP"),
    "DEFINE_FRICTION_AIRBAG_SINGLE_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_GENERAL": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_NODES_TO_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_ONE_WAY_SURFACE_TO_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_SINGLE_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_SINGLE_SURFACE_MORTAR": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_SURFACE_TO_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_AUTOMATIC_SURFACE_TO_SURFACE_MORTAR": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_ERODING_SINGLE_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DEFINE_FRICTION_SINGLE_SURFACE": ("DEFINE_FRICTION", "contact-type variant of DEFINE_FRICTION"),
    "DUALCESE_PART_SURFACE": ("DUALCESE_PART", "closest entry of the DUALCESE_PART family"),
    "ELEMENT_SHELL_NURBS_PATCH_V3": ("ELEMENT_SHELL_NURBS_PATCH", "newer format of the same keyword"),
    "ELEMENT_SOLID": ([ELEMENT_SOLID_CARD], "manual layout: EID, PID, N1..N8, width 8"),
    "ELEMENT_SOLID (ten nodes format)": (("ELEMENT_SOLID_DOF (ten nodes format)", 0, 2), "the _DOF form without its DOF card"),
    "ELEMENT_SOLID_ORTHO": (("ELEMENT_SOLID_ORTHO_DOF", 0, 3), "the _DOF form without its DOF card"),
    "ELEMENT_SOLID_ORTHO (ten nodes format)": (("ELEMENT_SOLID_ORTHO_DOF (ten nodes format)", 0, 4), "same cards as the _DOF form in the database"),
    "INITIAL_II_EOS_ALE": ("INITIAL_EOS_ALE", "closest entry of the INITIAL_..._EOS_ALE family"),
    "INITIAL_STRAIN_SHELL_IGA": ("INITIAL_STRAIN_IGA_SHELL", "word-order variant of the same keyword"),
    "INITIAL_VEHICLE_KINEMATICS": ("INITIAL_VELOCITY", "closest INITIAL_ entry (velocity initialisation)"),
    "INTERFACE_SPRINGBACK_EXCLUDE_THICKNESS": ("INTERFACE_SPRINGBACK_EXCLUDE", "option variant without extra cards"),
    "INTERFACE_SPRINGBACK_LSDYNA_THICKNESS": ("INTERFACE_SPRINGBACK_LSDYNA", "option variant without extra cards"),
    "INTERFACE_SPRINGBACK_NASTRAN_THICKNESS": ("INTERFACE_SPRINGBACK_NASTRAN", "option variant without extra cards"),
    "INTERFACE_SPRINGBACK_NIKE3D": ("INTERFACE_SPRINGBACK_DYNA3D", "same layout as the other solver formats"),
    "INTERFACE_SPRINGBACK_NIKE3D_THICKNESS": ("INTERFACE_SPRINGBACK_DYNA3D_THICKNESS", "same layout as the other solver formats"),
    "INTERFACE_SPRINGBACK_SEAMLESS_THICKNESS": ("INTERFACE_SPRINGBACK_SEAMLESS", "option variant without extra cards"),
    "MAT_107": ("MAT_MODIFIED_JOHNSON_COOK", "material 107 by its name"),
    "MAT_160": ("MAT_ALE_INCOMPRESSIBLE", "material 160 by its name"),
    "MAT_ANISOTROPIC_HYPERELASTIC": ("MAT_295", "material 295 by its number"),
    "MAT_COHESIVE_MIXED_MODE": ("MAT_138", "material 138 by its number"),
    "MAT_FABRIC": ("MAT_034", "material 34 by its number"),
    "MAT_GENERAL_SPRING_DISCRETE_BEAM": ("MAT_196", "material 196 by its number"),
    "MAT_HYPERELASTIC_RUBBER": ("MAT_077_H", "material 77-H by its number"),
    "MAT_LAMINATED_COMPOSITE_FABRIC": ("MAT_058", "material 58 by its number"),
    "MAT_LAMINATED_COMPOSITE_FABRIC_SOLID": ("MAT_058_SOLID", "material 58 (solid) by its number"),
    "MAT_MA_MODIFIED_PIECEWISE_LINEAR_PLASTICITY_PRESTRAIN": ("MAT_MODIFIED_PIECEWISE_LINEAR_PLASTICITY_PRESTRAIN", "same material"),
    "MAT_OGDEN_RUBBER": ("MAT_077_O", "material 77-O by its number"),
    "MAT_PLASTICITY_COMPRESSION_TENSION": ("MAT_124", "material 124 by its number"),
    "MAT_RAMBERG_OSGOOD": ("MAT_RAMBERG-OSGOOD", "spelling variant of the same material"),
    "MAT_SAMP_1": ("MAT_SAMP-1", "spelling variant of the same material"),
    "MAT_SIMPLIFIED_RUBBER/FOAM": ("MAT_SIMPLIFIED_RUBBERFOAM", "spelling variant of the same material"),
    "MAT_SPOTWELD_DAMAGE_FAILURE": ("MAT_SPOTWELD_DAMAGE-FAILURE", "spelling variant of the same material"),
    "MAT_TEMPERATURE_DEPENDENT_ORTHOTROPIC": ("MAT_023", "material 23 by its number"),
    "SECTION_SHELL_MISC": ("SECTION_SHELL", "the base section layout"),
    "SENSOR_DEFINE_CALC_MATH": ("SENSOR_DEFINE_CALC-MATH", "spelling variant of the same keyword"),
    "SENSOR_DEFINE_CALC_MATH_UPDATE": ("SENSOR_DEFINE_CALC-MATH_UPDATE", "spelling variant of the same keyword"),
    "SENSOR_SWITCH_CALC_LOGIC": ("SENSOR_SWITCH_CALC-LOGIC", "spelling variant of the same keyword"),
    "SET_MULTI-MATERIAL_GROUP_LIST": ("SET_MULTI_MATERIAL_GROUP", "spelling variant of the same keyword"),
    "SET_SOLID_GENERATE_INCREMENT_COLLECT": ("SET_SOLID_GENERATE_INCREMENT", "the _COLLECT option adds no card"),
}

# Names of the values of a series, where the manual names them.
# (keyword prefix, series name) -> list of names or a template with {i}.
SERIES_NAMES = [
    ("SET_NODE_LIST", "NODES", "NID{i}"),
    ("SET_NODE_ADD", "NODES", "NSID{i}"),
    ("SET_NODE_INTERSECT", "NODES", "NSID{i}"),
    ("SET_PART_LIST", "PARTS", "PID{i}"),
    ("SET_PART_ADD", "PARTS", "PSID{i}"),
    ("SET_SEGMENT_ADD", "SETS", "SSID{i}"),
    ("SET_SHELL_LIST", "SHELLS", "EID{i}"),
    ("SET_SHELL_ADD", "SHELLS", "SID{i}"),
    ("SET_SHELL_INTERSECT", "SHELLS", "SID{i}"),
    ("SET_BEAM_ADD", "BEAMS", "SID{i}"),
    ("SET_BEAM_INTERSECT", "BEAMS", "SID{i}"),
    ("SET_BEAM", "ELEMENT", "K{i}"),
    ("SET_BOX", "BOX", "BID{i}"),
    ("SET_PART_LIST_GENERATE", "BLOCK_RANGES", ["B1BEG", "B1END", "B2BEG", "B2END", "B3BEG", "B3END", "B4BEG", "B4END"]),
    ("SECTION_SHELL", "ANGLE", "Bi"),
    ("SECTION_SHELL", "PI", "Pi"),
    ("SECTION_SOLID", "PI", "Pi"),
    ("SECTION_TSHELL", "BI", "Bi"),
]
# The block ranges of SET_PART_LIST_GENERATE are part ids, not floats.
SERIES_TYPES = {("SET_PART_LIST_GENERATE", "BLOCK_RANGES"): "int"}

# Names the manual writes with lower-case letters (the database upper-cases them).
MIXED_CASE = {"NIDI": "NIDi", "MIDI": "MIDi", "TMIDI": "TMIDi", "HGIDI": "HGIDi", "SIDI": "SIDi", "LCMI": "LCMi",
              "LCTI": "LCTi", "SENSI": "SENSi", "PSIDN": "PSIDn", "VDI": "VDi"}
MIXED_CASE.update({f"SENSI+{k}": f"SENSi+{k}" for k in range(1, 10)})
# typeID: written so in the prescribed-motion keywords of the IGA and set forms.
TYPEID_FAMILIES = ("BOUNDARY_PRESCRIBED_MOTION",)

# Contact surfaces: the newer manual names the database's SSID/MSID pairs.
CONTACT_RENAMES = {"SSID": "SURFA", "MSID": "SURFB", "SSTYP": "SURFATYP", "MSTYP": "SURFBTYP",
                   "SBOXID": "SABOXID", "MBOXID": "SBBOXID", "SPR": "SAPR", "MPR": "SBPR"}

# Designations the database has no link for: (keyword prefix or "", field names, target).
# Applied to fields without a designation, in order; the first match wins.
DESIGNATION_RULES = [
    # The CESE, dual CESE and EM solvers number their own equations of state.
    (("CESE_", "DUALCESE_", "EM_"), {"EOSID"}, None),
    ("", {"EOSID"}, "Eos"),
    ("", {"TMID", "TMID1", "TMID2", "TMIDi"}, "ThermalMaterial"),
    # DID of the adaptive and coupling DEFINE_ keywords is not a dummy id.
    ("DEFINE_", {"DID"}, None),
    ("", {"DID"}, "Define"),
    ("SENSOR_", {"SENSID"} | {f"SENS{i}" for i in range(1, 7)} | {"SENSi"} | {f"SENSi+{k}" for k in range(1, 8)},
     "Sensor"),
    ("CONTACT_", {"SURFA", "SURFB"}, ANY),
    ("CONTACT_", {"SABOXID", "SBBOXID"}, "Box"),
    # Rigid bodies and parts of constraints, boundary conditions, definitions
    # and initial conditions (the ICFD, CESE and dual CESE solvers number
    # their own parts and are left out).
    ("CONSTRAINED_", {"RBID_A", "RBID_B"}, "Part"),
    (("CONSTRAINED_", "BOUNDARY_", "DEFINE_", "CONTROL_", "FREQUENCY_", "INITIAL_"), {"PID", "PID1", "PID2"}, "Part"),
    # Load curves of loads, boundary conditions and tabulated equations of state.
    (("LOAD_", "BOUNDARY_", "EOS_"), {"LCID"}, "Curve"),
    # Element ids of initial conditions.
    ("INITIAL_", {"EID"}, "Element"),
    # The material of a boundary-element solver's region is the part's *MAT id.
    ("", {"MATID"}, "Material"),
]

# Fields whose set type is chosen by another field of the same card: the
# surface field -> the type field that picks its set kind.
# The type field is named from the surface field's stem in one of several
# spellings (STRSTY / LSTRSTYP, ALESTY / ALESTYP / ASIDTYP, ...); every spelling
# the database uses is listed.
SURFACE_TYPE_PAIRS = {
    "SLAVE": ("SSTYP",), "MASTER": ("MSTYP",), "SSID": ("SSTYP",), "MSID": ("MSTYP",), "SURFA": ("SURFATYP",),
    "SURFB": ("SURFBTYP",), "STRSID": ("STRSTY", "STRSTYP"), "ALESID": ("ALESTY", "ALESTYP", "ASIDTYP"),
    "SSIDA": ("SSTYPA", "BSTYPA"), "SSIDB": ("SSTYPB",), "LSTRSID": ("LSTRSTY", "LSTRSTYP"),
    "LSTRID": ("LSTRTYPE",), "MSOLIDM": ("SOLTYPE",), "SURFSID": ("SURFTYP", "STYPE"), "SHSID": ("SHSTYP",),
    "SPHID": ("SPHTYP",), "DESID": ("DESTYP",), "BSIDE": ("BSTYP",), "PRTCLSID": ("PRTCLTYP", "PTYPE"),
    "LAGSID": ("LAGSTY", "LAGSTYPE", "LSIDTYP"), "SID": ("STYPE",), "PID": ("PTYPE",), "SID1": ("STYP1",),
    "SID2": ("STYP2",), "PID1": ("PTYPE1",), "PID2": ("PTYPE2",), "SURF": ("STYPE", "SURFTYPE"),
    "FP": ("FPTYPE",),
}


def series_fields(kw: str, s: dict):
    n = s["per_line"]
    template = f"{s['name'].strip()}{{i}}"
    for prefix, sname, names in SERIES_NAMES:
        if kw.startswith(prefix) and sname == s["name"] and (prefix == kw or not any(
                kw.startswith(p2) and len(p2) > len(prefix) and sn2 == sname for p2, sn2, _ in SERIES_NAMES)):
            template = names
            break
    ty = SERIES_TYPES.get((kw, s["name"]), s["type"])
    out = []
    for i in range(1, n + 1):
        name = template[i - 1] if isinstance(template, list) else template.format(i=i)
        out.append([name, TYPES[ty], s["width"], LINKS[s["link"]]])
    return out


def card_meta(c: dict) -> dict:
    """The reading data of a database card: its kind, condition and count."""
    kind = {"text": "card"}.get(c["kind"], c["kind"])
    return {"kind": kind, "active": c.get("active"), "length": c.get("length")}


def from_database(kw: str, entry: dict, meta: list | None = None):
    """The entry's cards without option cards; `meta` receives their reading data."""
    cards = []
    for c in entry["cards"]:
        if c["option"] is not None:
            continue  # option cards (title line, ID/MPP/A..G cards of contacts)
        if meta is not None:
            meta.append(card_meta(c))
        if c["kind"] == "series":
            cards.append(series_fields(kw, c["series"]))
            continue
        fields = c["fields"] or []
        # A blank around a name (the database writes "N2 ", "LCID ", ...) is no
        # part of it; blanks inside a name ("SPECIES NAME") are kept.
        cards.append([[f["name"].strip(), TYPES[f["type"]], f["width"], LINKS[f["link"]]] for f in fields])
    return cards


OPTIONAL_TAIL = ("A", "B", "C", "D", "E", "F", "G")


def tail_cards(entry: dict | None):
    """The cards of options A … G, which follow the other cards while the block has lines left."""
    out = []
    for c in (entry or {}).get("cards", []):
        if c["option"] in OPTIONAL_TAIL and c["kind"] == "card":
            out.append([[f["name"].strip(), TYPES[f["type"]], f["width"], None] for f in c["fields"] or []])
    return out


def mpp_cards(entry: dict | None):
    """The cards of the MPP option, with their conditions: (fields, meta)."""
    out = []
    for c in (entry or {}).get("cards", []):
        if c["option"] == "MPP" and c["kind"] == "card":
            out.append(([[f["name"].strip(), TYPES[f["type"]], f["width"], None] for f in c["fields"] or []],
                        card_meta(c)))
    return out


def id_card(entry: dict | None):
    """The entry's ID option card (read before the other cards of an _ID block), or None."""
    for c in (entry or {}).get("cards", []):
        if c["option"] == "ID" and c["kind"] == "card" and c["fields"]:
            return [[f["name"].strip(), TYPES[f["type"]], f["width"], None] for f in c["fields"]]
    return None


def rename(kw: str, cards):
    contact = kw.startswith("CONTACT_")
    for ci, c in enumerate(cards):
        for f in c:
            n = f[0]
            if n == "UNUSED":
                n = "-"
            n = MIXED_CASE.get(n, n)
            if n == "TYPEID" and kw.startswith(TYPEID_FAMILIES):
                n = "typeID"
            if contact and ci == 0 and n in CONTACT_RENAMES:
                n = CONTACT_RENAMES[n]
            f[0] = n


def uniquify(cards):
    seen = collections.Counter()
    for c in cards:
        for f in c:
            seen[f[0]] += 1
            if seen[f[0]] > 1:
                f[0] = f"{f[0]}_{seen[f[0]]}"


def designate(kw: str, cards):
    for c in cards:
        names = {f[0] for f in c}
        for f in c:
            if f[3] is not None or f[1] != TYPES["int"]:
                continue
            for prefix, fnames, target in DESIGNATION_RULES:
                if kw.startswith(prefix) and f[0] in fnames:
                    f[3] = target  # None: known not to be a reference
                    break
            else:
                if any(t in names for t in SURFACE_TYPE_PAIRS.get(f[0], ())):
                    f[3] = ANY
    # The values of a *SET_..._GENERAL card are ids of whatever kind its OPTION
    # text names (ALL, ELEM, PART, BOX, ...), so none of them has one designation.
    if kw.startswith("SET_") and "_GENERAL" in kw:
        for c in cards:
            if any(f[0] == "OPTION" or f[0].startswith("OPTION_") for f in c):
                for f in c:
                    f[3] = None
    rule = definition_rule(kw)
    if rule is not None and rule[2] < len(cards) and cards[rule[2]]:
        cards[rule[2]][0][3] = None


PLAIN = {"kind": "card", "active": None, "length": None}


def build(db: dict, names: list[str]):
    """Entries as {name: (cards, meta, extra)}; extra holds the ID card and the walk order."""
    entries = {}
    fills = []
    for kw in names:
        if kw.endswith("_TITLE") and kw[:-6] in entries:
            # A _TITLE entry is its base keyword's layout: the title line is
            # not a card of the layout (the database adds an id card to some).
            cards, meta, extra = entries[kw[:-6]]
            entries[kw] = ([[list(f) for f in c] for c in cards], [dict(m) for m in meta], dict(extra))
            continue
        meta = []
        walk = WALK_ORDER.get(kw)
        if kw in OVERRIDES:
            cards = [[list(f) for f in c] for c in OVERRIDES[kw]]
            meta = [dict(m) for m in OVERRIDE_META.get(kw, [PLAIN] * len(cards))]
        elif kw in db:
            cards = from_database(kw, db[kw], meta)
        else:
            src, reason = FILLS[kw]
            fills.append((kw, src, reason))
            if isinstance(src, list):
                cards = [[list(f) for f in c] for c in src]
                meta = [dict(PLAIN) for _ in cards]
            elif isinstance(src, tuple):
                cards = from_database(src[0], db[src[0]], meta)[src[1]:src[2]]
                meta = meta[src[1]:src[2]]
            else:
                cards = from_database(src, db[src], meta)
                walk = WALK_ORDER.get(src, walk)
        for c in cards:
            for f in c:
                f.append(f[0])  # the database name, which conditions and counts refer to
        rename(kw, cards)
        uniquify(cards)
        designate(kw, cards)
        base = canonical_base(kw)
        idc = id_card(db.get(kw)) or (id_card(db.get(base)) if kw.endswith("_ID") else None)
        if idc is not None and cards and cards[0] and cards[0][0][0] == idc[0][0]:
            idc = None  # the entry's own first card is already the id card
        tail = tail_cards(db.get(kw)) or tail_cards(db.get(base))
        mpp = mpp_cards(db.get(kw)) or mpp_cards(db.get(base))
        # The coupling keywords list the card of their _TITLE option (COUPID,
        # TITLE) as their first card: decks write it only in _TITLE blocks.
        if cards and [f[4] for f in cards[0]] == ["COUPID", "TITLE"]:
            meta[0] = {"kind": "title", "active": None, "length": None}
        group = CARD_GROUPS.get(kw)
        entries[kw] = (cards, meta, {"id": idc, "walk": walk, "tail": tail, "mpp": mpp, "group": group})
    separate = {}
    for kw, cards in SEPARATE.items():
        cards = [[list(f) + [f[0]] for f in c] for c in cards]
        designate(kw, cards)
        separate[kw] = (cards, [dict(PLAIN) for _ in cards], {"id": None, "walk": None, "tail": [], "mpp": [], "group": None})
    for kw, cards in VARIANTS.items():
        cards = [[list(f) + [f[0]] for f in c] for c in cards]
        separate[kw + " (variant)"] = (cards, [dict(PLAIN) for _ in cards], {"id": None, "walk": None, "tail": [], "mpp": [], "group": None})
    return entries, separate, fills


# ---------------------------------------------------------------------------
# Conditions and counts as compact programs: postfix words, each an operation
# code in the low 8 bits and an argument in the high 24 bits (codes as in
# src/keywords/card_program.hpp).

OPS = {"null": 0, "num": 1, "str": 2, "field": 3, "optional": 4, "end": 5,
       "==": 10, "!=": 11, "<": 12, "<=": 13, ">": 14, ">=": 15, "in": 16, "not in": 17,
       "and": 20, "or": 21, "not": 22,
       "+": 30, "-": 31, "*": 32, "/": 33, "//": 34, "abs": 35, "ceil": 36, "floor": 37, "int": 38,
       "min": 39, "max": 40, "if": 41}


class Programs:
    def __init__(self):
        self.words, self.nums, self.strs = [], [], []
        self._num_index, self._str_index, self._cache = {}, {}, {}

    def const(self, v):
        if v is None:
            return OPS["null"]
        if isinstance(v, bool):
            v = 1.0 if v else 0.0
        if isinstance(v, str):
            if v not in self._str_index:
                self._str_index[v] = len(self.strs)
                self.strs.append(v)
            return OPS["str"] | self._str_index[v] << 8
        v = float(v)
        key = repr(v)
        if key not in self._num_index:
            self._num_index[key] = len(self.nums)
            self.nums.append(v)
        return OPS["num"] | self._num_index[key] << 8

    def _emit(self, e, cards, out, own=None):
        if "field" in e:
            pos = [(ci, fi) for ci, c in enumerate(cards) for fi, f in enumerate(c) if f[4] == e["field"]]
            # An option card's condition reads its own line: card OWN_CARD.
            pos += [(OWN_CARD, fi) for fi, f in enumerate(own or []) if f[4] == e["field"]]
            pos = [(ci, fi) for ci, fi in pos if (ci < OWN_CARD or (ci == OWN_CARD and own)) and fi < 256]
            if not pos:
                out.append(OPS["null"])
                return
            out.append(OPS["field"] | len(pos) << 8)
            out.extend(ci << 8 | fi for ci, fi in pos)
        elif "const" in e:
            out.append(self.const(e["const"]))
        elif "optional" in e or "unsupported" in e:
            out.append(OPS["optional"])
        else:
            op, args = e["op"], e["args"]
            if op in ("in", "not in"):
                self._emit(args[0], cards, out, own)
                items = args[1]["const"]
                out.append(OPS[op] | len(items) << 8)
                out.extend(self.const(v) for v in items)
                return
            for a in args:
                self._emit(a, cards, out, own)
            out.append(OPS[op] | len(args) << 8)

    def add(self, e, cards, own=None) -> int:
        """Offset of the program of `e` (shared when equal), or the none marker.  Field names are
        looked up in the layout's `cards`, and in `own`, the fields of an option card."""
        if e is None:
            return NO_PROGRAM
        body = []
        self._emit(e, cards, body, own)
        body.append(OPS["end"])
        key = tuple(body)
        if key not in self._cache:
            self._cache[key] = len(self.words)
            self.words.extend(body)
        return self._cache[key]


NO_PROGRAM = 0xFFFFFFFF
OWN_CARD = 255  # a field position on the line of the card whose condition is decided
KIND_CODES = {"card": "KP", "table": "KT", "table-group": "KG", "series": "KS", "title": "KX"}


# ---------------------------------------------------------------------------
# Output

def c_string(s: str) -> str:
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def type_selector(card, f):
    """The index, in its card, of the field that picks the set kind of an
    any-of field (SURFATYP for SURFA, ...), or None."""
    if f[3] != ANY:
        return None
    names = SURFACE_TYPE_PAIRS.get(f[0], ())
    for i, g in enumerate(card):
        if g[0] in names:
            return i
    return None


def ref_macro(ref):
    if ref is None:
        return "R0"
    if ref == ANY:
        return "RA"
    return f"RK({ref})"


def emit(entries: dict, separate: dict) -> str:
    out = []
    w = out.append
    w("// Generated by tools/gen_keyword_library.py from the keyword layout database; do not edit.")
    w("// Rerun the generator to change it.")
    w('#include "keywords/library.hpp"')
    w("")
    w("namespace tarvex::keywords::detail {")
    w("")
    w("#define R0 FieldRef{}")
    w("#define RK(k) FieldRef::of(EntityKind::k)")
    w("#define RA FieldRef::surface_sets()")
    w("#define RAS(k) FieldRef::surface_sets_chosen_by(k)")
    w("#define I FieldType::Int")
    w("#define D FieldType::Float")
    w("#define S FieldType::Str")
    for kind, code in KIND_CODES.items():
        enum = {"card": "Plain", "table": "Table", "table-group": "TableGroup", "series": "Series", "title": "Title"}[kind]
        w(f"#define {code} CardKind::{enum}")
    w("#define NP 0xFFFFFFFFu")
    w("")
    order = list(entries.items()) + list(separate.items())
    programs = Programs()
    fields, cards, kws, walks = [], [], [], []
    selectors = []  # per field: index of the field of its card that picks its set kind, or None
    ids = []  # (keyword index, id card fields)
    tails = []  # (keyword index, cards of options A … G)
    mpps = []  # (keyword index, cards of the MPP option with their reading data)

    def add_card(c, m, layout_cards, own=None):
        cards.append((len(fields), len(c), KIND_CODES[m["kind"]], programs.add(m["active"], layout_cards, own),
                      programs.add(m["length"], layout_cards, own)))
        fields.extend(c)
        selectors.extend(type_selector(c, f) for f in c)

    for kw, (cs, meta, extra) in order:
        first_card = len(cards)
        for c, m in zip(cs, meta):
            add_card(c, m, cs)
        walk = NO_PROGRAM
        if extra["walk"]:
            walk = len(walks)
            walks.extend(extra["walk"])
        group = extra["group"] or (0, 0, None)
        kws.append([kw.removesuffix(" (variant)"), first_card, len(cs), NO_PROGRAM, walk, 0, 0, 0, 0,
                    group[0], group[1], programs.add(group[2], cs)])
        if extra["id"]:
            ids.append((len(kws) - 1, extra["id"]))
        if extra["tail"]:
            tails.append((len(kws) - 1, extra["tail"]))
        if extra["mpp"]:
            mpps.append((len(kws) - 1, extra["mpp"]))
    # Option cards, outside every entry's card list: the title line, then the ID cards.
    title_card = len(cards)
    add_card([["TITLE", TYPES["str"], 80, None, "TITLE"]], {"kind": "title", "active": None, "length": None}, [])
    id_cache = {}
    for k, idc in ids:
        key = tuple(tuple(f[:3]) for f in idc)
        if key not in id_cache:
            id_cache[key] = len(cards)
            add_card([f + [f[0]] for f in idc], PLAIN, [])
        kws[k][3] = id_cache[key]
    tail_cache = {}
    for k, tail in tails:
        key = tuple(tuple(tuple(f[:3]) for f in c) for c in tail)
        if key not in tail_cache:
            tail_cache[key] = len(cards)
            for c in tail:
                add_card([f + [f[0]] for f in c], PLAIN, [])
        kws[k][5], kws[k][6] = tail_cache[key], len(tail)
    mpp_cache = {}
    for k, mpp in mpps:
        key = repr(mpp)
        if key not in mpp_cache:
            mpp_cache[key] = len(cards)
            for c, m in mpp:
                own = [f + [f[0]] for f in c]
                add_card(own, m, [], own)
        kws[k][7], kws[k][8] = mpp_cache[key], len(mpp)
    ty = {0: "I", 1: "D", 2: "S"}
    w(f"extern const FieldDef kFields[{len(fields)}] = {{")
    for f, sel in zip(fields, selectors):
        ref = f"RAS({sel})" if f[3] == ANY and sel is not None else ref_macro(f[3])
        w(f"{{{ref},{c_string(f[0])},{f[2]},{ty[f[1]]}}},")
    w("};")
    w("")

    def prog(v):
        return "NP" if v == NO_PROGRAM else str(v)

    w(f"extern const CardDef kCards[{len(cards)}] = {{")
    line = []
    for first, n, kind, active, length in cards:
        line.append(f"{{{first},{n},{kind},{prog(active)},{prog(length)}}}")
        if len(line) == 6:
            w(",".join(line) + ",")
            line = []
    if line:
        w(",".join(line) + ",")
    w("};")
    w(f"extern const std::uint32_t kTitleCard = {title_card};")
    w("")
    w(f"extern const KeywordDef kKeywords[{len(kws)}] = {{")
    for kw, first, n, idc, walk, tail, ntail, mpp, nmpp, g0, gn, glen in kws:
        w(f"{{{c_string(kw)},{len(kw)},{n},{first},{prog(idc)},{prog(walk)},{tail},{ntail},{mpp},{nmpp},"
          f"{g0},{gn},{prog(glen)}}},")
    w("};")
    w("")
    w(f"extern const std::size_t kSortedCount = {len(entries)};")
    names = list(entries)
    w("// The one-line *ELEMENT_SOLID entry, whose blocks may be written in the two-line form")
    w("// (the entry after NODE, PART and HOURGLASS).")
    w(f"extern const std::size_t kElementSolid = {names.index('ELEMENT_SOLID')};")
    w("")
    folded = [i for i, kw in enumerate(entries) if kw != kw.upper()]
    w("// Entries whose names hold lower-case letters: the only ones a case-folded")
    w("// comparison can find after the binary search of the upper-case query failed.")
    w(f"extern const std::uint16_t kMixedCase[{len(folded)}] = {{{','.join(map(str, folded))}}};")
    w(f"extern const std::size_t kMixedCaseCount = {len(folded)};")
    w("")
    w("// Card orders that differ from the listed order (see KeywordDef::walk).")
    w(f"extern const std::uint8_t kWalkOrders[{max(len(walks), 1)}] = {{{','.join(map(str, walks or [0]))}}};")
    w("")
    w("// Programs of the card conditions and counts (see card_program.hpp).")
    words = programs.words
    w(f"extern const std::uint32_t kPrograms[{len(words)}] = {{")
    for i in range(0, len(words), 12):
        w(",".join(str(x) for x in words[i:i + 12]) + ",")
    w("};")
    w(f"extern const double kProgramNumbers[{max(len(programs.nums), 1)}] = {{"
      + ",".join(repr(v) for v in (programs.nums or [0.0])) + "};")
    w(f"extern const char* const kProgramTexts[{max(len(programs.strs), 1)}] = {{"
      + ",".join(c_string(v) for v in (programs.strs or [""])) + "};")
    w("")
    w(f"extern const DefinitionRule kDefinitionRules[{len(DEFINITION_RULES)}] = {{")
    for exact, pattern, card_index, multi, kind in DEFINITION_RULES:
        w(f"{{{str(exact).lower()},{c_string(pattern)},{card_index},{str(multi).lower()},EntityKind::{kind}}},")
    w("};")
    w(f"extern const std::size_t kDefinitionRuleCount = {len(DEFINITION_RULES)};")
    w(f"extern const DefinitionExclusion kDefinitionExclusions[{len(DEFINITION_EXCLUSIONS)}] = {{")
    for prefix, t in DEFINITION_EXCLUSIONS:
        w(f"{{{str(prefix).lower()},{c_string(t)}}},")
    w("};")
    w(f"extern const std::size_t kDefinitionExclusionCount = {len(DEFINITION_EXCLUSIONS)};")
    w("")
    for m in ("R0", "RK", "RA", "I", "D", "S", "NP", *KIND_CODES.values()):
        w(f"#undef {m}")
    w("")
    w("}  // namespace tarvex::keywords::detail")
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------------------
# Summary beside the described figures

DESCRIBED = {
    "entries": 3168, "cards": 10519, "fields": 60294, "max_cards": 21, "max_fields": 10,
    "types": {"float": 35709, "int": 23541, "str": 1044},
    "widths": {10: 57318, 8: 1405, 16: 578, 70: 312, 9: 256, 20: 218, 80: 143, 256: 55, 60: 4, 40: 3, 512: 2},
    "targets": {
        "Node": (2268, 508, 180), "Element": (220, 78, 43), "Part": (599, 369, 116), "Material": (92, 81, 7),
        "ThermalMaterial": (37, 33, 4), "Section": (35, 35, 8), "Eos": (29, 29, 1), "Hourglass": (33, 33, 3),
        "Curve": (3448, 1000, 750), "Box": (269, 167, 13), "Coord": (157, 139, 19), "Vector": (207, 195, 21),
        "NodeSet": (292, 178, 55), "PartSet": (514, 308, 58), "SegmentSet": (183, 149, 32),
        "Sensor": (53, 7, 15), "Transform": (4, 4, 2), "Define": (49, 49, 1), ANY: (266, 136, 29),
    },
}


def summary(entries: dict, fills) -> str:
    entries = {kw: e[0] for kw, e in entries.items()}
    cards = [c for cs in entries.values() for c in cs]
    fields = [f for c in cards for f in c]
    tnames = {0: "int", 1: "float", 2: "str"}
    types = collections.Counter(tnames[f[1]] for f in fields)
    widths = collections.Counter(f[2] for f in fields)
    per = {}
    for kw, cs in entries.items():
        for c in cs:
            for f in c:
                if f[3] is None:
                    continue
                p = per.setdefault(f[3], [0, set(), set()])
                p[0] += 1
                p[1].add(kw)
                p[2].add(f[0])
    lines = []
    a = lines.append
    a("| Measure | Generated | Described |")
    a("|---|---|---|")
    a(f"| entries | {len(entries)} | {DESCRIBED['entries']} |")
    a(f"| cards | {len(cards)} | {DESCRIBED['cards']} |")
    a(f"| fields | {len(fields)} | {DESCRIBED['fields']} |")
    a(f"| empty cards | {sum(1 for c in cards if not c)} | 40 |")
    a(f"| max cards / keyword | {max(len(cs) for cs in entries.values())} | {DESCRIBED['max_cards']} |")
    a(f"| max fields / card | {max(len(c) for c in cards)} | {DESCRIBED['max_fields']} |")
    for t in ("float", "int", "str"):
        a(f"| type {t} | {types[t]} | {DESCRIBED['types'][t]} |")
    for wd in sorted(set(widths) | set(DESCRIBED["widths"]), key=lambda x: -max(widths[x], DESCRIBED["widths"].get(x, 0))):
        a(f"| width {wd} | {widths[wd]} | {DESCRIBED['widths'].get(wd, 0)} |")
    a("")
    a("| Target | Fields | (described) | Keywords | (described) | Names | (described) |")
    a("|---|---|---|---|---|---|---|")
    for t, (df, dk, dn) in DESCRIBED["targets"].items():
        p = per.get(t, [0, set(), set()])
        label = "any of SegmentSet/NodeSet/PartSet" if t == ANY else t
        a(f"| {label} | {p[0]} | {df} | {len(p[1])} | {dk} | {len(p[2])} | {dn} |")
    extra = sorted(set(per) - set(DESCRIBED["targets"]))
    for t in extra:
        a(f"| {t} (not a target) | {per[t][0]} | 0 | | | | |")
    a("")
    a(f"{len(fills)} entries filled from other entries or the manual's layout.")
    return "\n".join(lines)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--db", type=Path, default=DEFAULT_DB)
    ap.add_argument("--out", type=Path, default=DEFAULT_OUT)
    ap.add_argument("--summary", action="store_true", help="print the summary table")
    args = ap.parse_args(argv)
    db = json.loads(args.db.read_text(encoding="utf-8"))
    names = [n for n in NAMES_FILE.read_text(encoding="utf-8").split("\n") if n]
    if names != sorted(names, key=lambda s: s.encode()) or len(set(n.upper() for n in names)) != len(names):
        print("keyword_names.txt must be sorted and unique", file=sys.stderr)
        return 1
    if set(names) & set(SEPARATE):
        print("the separate entries must not be in the sorted table", file=sys.stderr)
        return 1
    entries, separate, fills = build(db, names)
    text = emit(entries, separate)
    args.out.write_bytes(text.encode("ascii"))
    if args.summary:
        print(summary(entries, fills))
    return 0


if __name__ == "__main__":
    sys.exit(main())
