// Control words by name and the named per-state result arrays of a d3plot.
#include "results/d3plot_arrays.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "results/d3plot_words.hpp"
#include "util/pool.hpp"

namespace tarvex::d3plot {

using namespace words;

namespace {
// Real word `i` of the file; 0 past the end.
double real_at(std::string_view f, std::uint64_t i, std::uint64_t ws) {
    return i >= f.size() / ws ? 0.0 : real_word(f.data() + i * ws, ws);
}

// Decimal digit k (0 = last) of |x|.
int digit(std::int64_t x, int k) {
    std::uint64_t u = x < 0 ? static_cast<std::uint64_t>(-(x + 1)) + 1 : static_cast<std::uint64_t>(x);
    for (int i = 0; i < k; ++i) u /= 10;
    return static_cast<int>(u % 10);
}

// Names of the integer control words 10 ... 57 (VERSION, word 14, is a real).
constexpr const char* kWordNames[] = {
    "RUNTIME", "FILETYPE", "SOURCE_VERSION", "RELEASE_NUMBER", "VERSION", "NDIM",    "NUMNP",   "ICODE",
    "NGLBV",   "IT",       "IU",             "IV",             "IA",      "NEL8",    "NUMMAT8", "NUMDS",
    "NUMST",   "NV3D",     "NEL2",           "NUMMAT2",        "NV1D",    "NEL4",    "NUMMAT4", "NV2D",
    "NEIPH",   "NEIPS",    "MAXINT",         "NMSPH",          "NGPSPH",  "NARBS",   "NELT",    "NUMMATT",
    "NV3DT",   "IOSHL1",   "IOSHL2",         "IOSHL3",         "IOSHL4",  "IALEMAT", "NCFDV1",  "NCFDV2",
    "NADAPT",  "NMMAT",    "NUMFLUID",       "INN",            "NPEFG",   "NEL48",   "IDTDT",   "EXTRA"};
// Names of the additional control words 64 ... (present when EXTRA counts them).
constexpr const char* kExtraNames[] = {"NEL20", "NT3D",   "NEL27",  "NEIPB", "NEL21P", "NEL15T", "SOLENG", "NEL20T",
                                       "NEL40P", "NEL64", "QUADR",  "CUBIC", "TSHENG", "NBRANCH", "PENOUT", "ENGOUT"};
constexpr const char* kWidthNames[] = {"NWEAR", "NPRESSURE", "NSHEAR", "NFORCE", "NGAP"};

// Text of `words` words from word `first`, trailing blanks and NULs removed.
std::string text_words(std::string_view f, std::uint64_t first, std::uint64_t words, std::uint64_t ws) {
    if (first * ws >= f.size()) return {};
    std::string t(f.substr(first * ws, std::min<std::size_t>(f.size() - first * ws, words * ws)));
    while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
    return t;
}
}  // namespace

std::vector<ControlWord> control_words(const Control& c, std::string_view f) {
    const std::uint64_t ws = c.word_size;
    std::vector<ControlWord> out;
    out.push_back({"TITLE", text_words(f, 0, 10, ws)});
    for (std::uint64_t i = 10; i <= 57; ++i) {
        const char* name = kWordNames[i - 10];
        if (i == 13)
            out.push_back({name, text_words(f, 13, 1, ws)});
        else if (i == 14)
            out.push_back({name, real_at(f, i, ws)});
        else
            out.push_back({name, word_or_zero(f, i, ws)});
    }
    if (c.filetype == 4)
        for (std::uint64_t i = 0; i < 5; ++i) out.push_back({kWidthNames[i], word_or_zero(f, 59 + i, ws)});
    const std::uint64_t n_extra = std::min<std::uint64_t>(c.extra, std::size(kExtraNames));
    for (std::uint64_t i = 0; i < n_extra && 64 + i < f.size() / ws; ++i)
        out.push_back({kExtraNames[i], word_or_zero(f, 64 + i, ws)});
    if (c.ndim == 5 || c.ndim == 7) out.push_back({"NUMRBE", static_cast<std::int64_t>(c.numrbe)});
    return out;
}

ResultLayout result_layout(const Control& c, std::string_view f) {
    ResultLayout r;
    const std::uint64_t ws = c.word_size;
    // MAXINT: layers, with 10000 added when element deletion data follow.
    std::int64_t maxint = c.maxint;
    if (maxint > 0)
        r.layers = static_cast<std::uint64_t>(maxint);
    else if (maxint <= -10000)
        r.layers = static_cast<std::uint64_t>(-(maxint + 10000));
    else if (maxint < 0)
        r.layers = static_cast<std::uint64_t>(-maxint);
    else
        r.layers = 3;  // the default number of shell integration points
    r.shell_stress = c.ioshl[0] == 1000;
    r.solid_stress = c.ioshl[0] == 1000 || c.ioshl[0] == 999;
    r.shell_pstrain = c.ioshl[1] == 1000;
    r.solid_pstrain = c.ioshl[1] == 1000 || c.ioshl[1] == 999;
    r.shell_forces = c.ioshl[2] == 1000;
    r.shell_extra = c.ioshl[3] == 1000;
    r.neiph = nonneg(word_or_zero(f, 34, ws));
    r.neips = c.neips;
    r.neipb = c.extra >= 4 ? nonneg(word_or_zero(f, 67, ws)) : 0;
    r.plastic_strain_tensor = digit(c.idtdt, 2) == 1;
    r.thermal_strain_tensor = digit(c.idtdt, 3) == 1;
    // ISTRN: a digit of IDTDT in newer files; else whatever the shell (or
    // thick-shell) values leave beyond layers, resultants and extra values.
    const std::uint64_t per_layer = 6 * r.shell_stress + r.shell_pstrain + r.neips;
    const std::uint64_t layered = mul(r.layers, per_layer);
    if (c.idtdt > 100) {
        r.strain = digit(c.idtdt, 4) == 1;
    } else if (c.nv2d > 0) {
        std::uint64_t used = add(add(layered, 8 * r.shell_forces), 4 * r.shell_extra);
        r.strain = c.nv2d > used && c.nv2d - used > 1;
    } else if (c.nv3dt > 0) {
        r.strain = c.nv3dt > layered && c.nv3dt - layered > 1;
    }
    return r;
}

std::uint64_t NamedArray::extent_words() const noexcept {
    std::uint64_t last = 0;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 0) return 0;
        last = add(last, mul(shape[i] - 1, strides[i]));
    }
    return add(last, 1);
}

std::uint64_t NamedArray::size() const noexcept {
    std::uint64_t n = 1;
    for (std::uint64_t s : shape) n = mul(n, s);
    return n;
}

namespace {
D3plotError disagrees(const char* word, std::uint64_t value, const std::string& what, std::uint64_t expected) {
    return D3plotError::msg("d3plot control word " + std::string(word) + " (" + std::to_string(value) +
                            ") disagrees with " + what + " (" + std::to_string(expected) + ")");
}

struct Builder {
    std::vector<NamedArray> out;
    // Entity-major block at `start`: `count` entities of `per` words.
    void entity(const std::string& name, std::uint64_t start, std::uint64_t count, std::uint64_t per,
                std::uint64_t offset, std::vector<std::uint64_t> inner = {},
                std::vector<std::uint64_t> inner_strides = {}) {
        NamedArray a;
        a.name = name;
        a.start_word = add(start, offset);
        a.shape.push_back(count);
        a.strides.push_back(per);
        for (std::size_t i = 0; i < inner.size(); ++i) {
            a.shape.push_back(inner[i]);
            a.strides.push_back(inner_strides[i]);
        }
        out.push_back(std::move(a));
    }
};
}  // namespace

StateArrays state_arrays(const Control& c, std::string_view f) {
    std::vector<StateArrays::Problem> problems;
    const ResultLayout r = result_layout(c, f);
    const std::uint64_t ws = c.word_size;
    Builder b;
    b.out.push_back({"timesteps", 0, {}, {}});

    // Global variables: energies and velocity, then per-part values, then rigid walls.
    const std::uint64_t g = c.nglbv;
    const char* globals[] = {"global_kinetic_energy", "global_internal_energy", "global_total_energy"};
    for (std::uint64_t i = 0; i < 3 && i < g; ++i) b.out.push_back({globals[i], 1 + i, {}, {}});
    if (g >= 6) b.out.push_back({"global_velocity", 4, {3}, {1}});
    const std::uint64_t parts = c.nmmat;
    std::uint64_t at = 6;
    auto part = [&](const char* name, std::uint64_t k) {
        if (parts == 0 || mul(parts, k) > g || at > g - mul(parts, k)) return false;
        if (k == 1)
            b.out.push_back({name, 1 + at, {parts}, {1}});
        else
            b.out.push_back({name, 1 + at, {parts, k}, {k, 1}});
        at += parts * k;
        return true;
    };
    if (g >= 6 && part("part_internal_energy", 1) && part("part_kinetic_energy", 1) && part("part_velocity", 3) &&
        part("part_mass", 1) && part("part_hourglass_energy", 1)) {
        const std::uint64_t wall_vars = real_at(f, 14, ws) >= 971 ? 4 : 1;
        const std::uint64_t walls = (g - at) / wall_vars;
        if (walls != 0 && at + walls * wall_vars == g) {
            b.out.push_back({"rigid_wall_force", 1 + at, {walls}, {1}});
            if (wall_vars == 4) b.out.push_back({"rigid_wall_position", 1 + at + walls, {walls, 3}, {3, 1}});
        }
    }

    // Node values, as whole arrays in this order.
    const std::uint64_t n = c.numnp;
    std::uint64_t p = add(g, 1);
    auto node = [&](const char* name, std::uint64_t k, bool present) {
        if (!present) return;
        if (n != 0) {
            if (k == 1)
                b.out.push_back({name, p, {n}, {1}});
            else
                b.out.push_back({name, p, {n, k}, {k, 1}});
        }
        p = add(p, mul(n, k));
    };
    const int it = digit(c.it, 0);
    node("node_displacement", 3, c.iu != 0);
    node("node_temperature", it == 3 ? 3 : 1, it >= 1 && it <= 3);
    node("node_heat_flux", 3, it == 2 || it == 3);
    node("node_mass_scaling", 1, digit_tens(c.it) == 1);
    node("node_temperature_gradient", 1, digit_last(c.idtdt) == 1);
    node("node_residual_forces", 3, digit_tens(c.idtdt) == 1);
    node("node_residual_moments", 3, digit_tens(c.idtdt) == 1);
    node("node_velocity", 3, c.iv != 0);
    node("node_acceleration", 3, c.ia != 0);
    p = add(p, mul(c.nel8, c.word65));

    const std::uint64_t solid_at = p;
    const std::uint64_t tshell_at = add(solid_at, mul(c.nel8, c.nv3d));
    const std::uint64_t beam_at = add(tshell_at, mul(c.nelt, c.nv3dt));
    const std::uint64_t shell_at = add(beam_at, mul(c.nel2, c.nv1d));
    const std::uint64_t shells = c.nel4 > c.numrbe ? c.nel4 - c.numrbe : 0;
    const std::uint64_t deletion_at = add(shell_at, mul(shells, c.nv2d));
    // Interface-force and FSIFOR files hold contact segments in the shell slot.
    if (c.filetype == 4 || c.fsifor) return {std::move(b.out), {}};

    // Solids: per integration point (1 or 8) stress, plastic strain, history.
    if (c.nel8 != 0 && c.nv3d != 0) {
        const std::uint64_t base = 6 * r.solid_stress + r.solid_pstrain + r.neiph;
        const std::uint64_t ips = c.nv3d / (base == 0 ? 1 : base) >= 8 ? 8 : 1;
        if (base == 0 || mul(ips, base) != c.nv3d) {
            problems.push_back({"element_solid_", disagrees("NV3D", c.nv3d, "the solid values of NEIPH and IOSHL1/IOSHL2", mul(ips, base))});
        } else {
        std::uint64_t k = 0;
        auto layered = [&](const std::string& name, std::uint64_t width, bool scalar) {
            if (scalar)
                b.entity(name, solid_at, c.nel8, c.nv3d, k, {ips}, {base});
            else
                b.entity(name, solid_at, c.nel8, c.nv3d, k, {ips, width}, {base, 1});
            k += width;
        };
        if (r.solid_stress) layered("element_solid_stress", 6, false);
        if (r.solid_pstrain) layered("element_solid_effective_plastic_strain", 1, true);
        std::uint64_t hist = r.neiph;
        if (r.strain && hist >= 6) {
            hist -= 6;
            if (hist != 0) layered("element_solid_history_variables", hist, false);
            layered("element_solid_strain", 6, false);
        } else if (hist != 0) {
            layered("element_solid_history_variables", hist, false);
        }
        }
    }

    // Thick shells: per layer stress, plastic strain, history; then strains.
    if (c.nelt != 0 && c.nv3dt != 0) {
        const std::uint64_t per = 6 * r.shell_stress + r.shell_pstrain + r.neips;
        const std::uint64_t expect = add(mul(r.layers, per), 12 * r.strain);
        if (expect != c.nv3dt) {
            problems.push_back({"element_tshell_", disagrees("NV3DT", c.nv3dt, "the thick-shell values of MAXINT, NEIPS and IOSHL1/IOSHL2", expect)});
        } else {
        std::uint64_t k = 0;
        if (r.shell_stress) b.entity("element_tshell_stress", tshell_at, c.nelt, c.nv3dt, k, {r.layers, 6}, {per, 1});
        k += 6 * r.shell_stress;
        if (r.shell_pstrain)
            b.entity("element_tshell_effective_plastic_strain", tshell_at, c.nelt, c.nv3dt, k, {r.layers}, {per});
        k += r.shell_pstrain;
        if (r.neips)
            b.entity("element_tshell_history_variables", tshell_at, c.nelt, c.nv3dt, k, {r.layers, r.neips},
                     {per, 1});
        if (r.strain)
            b.entity("element_tshell_strain", tshell_at, c.nelt, c.nv3dt, r.layers * per, {2, 6}, {6, 1});
        }
    }

    // Beams: resultants, then per integration point five values, then history.
    if (c.nel2 != 0 && c.nv1d != 0) {
        const std::uint64_t h = r.neipb;
        const std::uint64_t fixed = add(6, mul(3, h)), per_ip = add(h, 5);
        const std::uint64_t ips = c.nv1d >= fixed ? (c.nv1d - fixed) / per_ip : 0;
        const std::uint64_t expect = add(fixed, mul(ips, per_ip));
        if (c.nv1d < fixed || expect != c.nv1d) {
            problems.push_back({"element_beam_", disagrees("NV1D", c.nv1d, "the beam values of NEIPB and the integration points",
                             c.nv1d < fixed ? fixed : expect)});
        } else {
        const std::uint64_t e2 = c.nel2, v = c.nv1d;
        b.entity("element_beam_axial_force", beam_at, e2, v, 0);
        b.entity("element_beam_shear_force", beam_at, e2, v, 1, {2}, {1});
        b.entity("element_beam_bending_moment", beam_at, e2, v, 3, {2}, {1});
        b.entity("element_beam_torsion_moment", beam_at, e2, v, 5);
        if (ips != 0) {
            b.entity("element_beam_axial_stress", beam_at, e2, v, 6, {ips}, {5});
            b.entity("element_beam_shear_stress", beam_at, e2, v, 7, {ips, 2}, {5, 1});
            b.entity("element_beam_plastic_strain", beam_at, e2, v, 9, {ips}, {5});
            b.entity("element_beam_axial_strain", beam_at, e2, v, 10, {ips}, {5});
        }
        if (h != 0) b.entity("element_beam_history_vars", beam_at, e2, v, 6 + 5 * ips, {3 + ips, h}, {h, 1});
        }
    }

    // Shells: per layer stress, plastic strain, history; then resultants,
    // thickness and two element values, strains, internal energy, tensors.
    if (shells != 0 && c.nv2d != 0) {
        const std::uint64_t per = 6 * r.shell_stress + r.shell_pstrain + r.neips;
        const std::uint64_t L = r.layers, layered = mul(L, per);
        std::uint64_t expect = add(layered, 8 * r.shell_forces + 4 * r.shell_extra + 12 * r.strain);
        expect = add(expect, add(mul(6 * r.plastic_strain_tensor, L), 6 * r.thermal_strain_tensor));
        if (expect != c.nv2d) {
            problems.push_back({"element_shell_", disagrees("NV2D", c.nv2d, "the shell values of MAXINT, NEIPS and IOSHL1 ... IOSHL4", expect)});
        } else {
        const std::uint64_t v = c.nv2d;
        std::uint64_t k = 0;
        if (r.shell_stress) b.entity("element_shell_stress", shell_at, shells, v, k, {L, 6}, {per, 1});
        k += 6 * r.shell_stress;
        if (r.shell_pstrain) b.entity("element_shell_effective_plastic_strain", shell_at, shells, v, k, {L}, {per});
        k += r.shell_pstrain;
        if (r.neips) b.entity("element_shell_history_vars", shell_at, shells, v, k, {L, r.neips}, {per, 1});
        k = layered;
        if (r.shell_forces) {
            b.entity("element_shell_bending_moment", shell_at, shells, v, k, {3}, {1});
            b.entity("element_shell_shear_force", shell_at, shells, v, k + 3, {2}, {1});
            b.entity("element_shell_normal_force", shell_at, shells, v, k + 5, {3}, {1});
            k += 8;
        }
        if (r.shell_extra) {
            b.entity("element_shell_thickness", shell_at, shells, v, k);
            b.entity("element_shell_unknown_variables", shell_at, shells, v, k + 1, {2}, {1});
            k += 3;
        }
        if (r.strain) {
            b.entity("element_shell_strain", shell_at, shells, v, k, {2, 6}, {6, 1});
            k += 12;
        }
        if (r.shell_extra) {
            b.entity("element_shell_internal_energy", shell_at, shells, v, k);
            k += 1;
        }
        if (r.plastic_strain_tensor) {
            b.entity("element_shell_plastic_strain_tensor", shell_at, shells, v, k, {L, 6}, {6, 1});
            k += 6 * L;
        }
        if (r.thermal_strain_tensor) b.entity("element_shell_thermal_strain_tensor", shell_at, shells, v, k, {6}, {1});
        }
    }

    // Deletion flags: per node, or per element (solids, thick shells, shells, beams).
    if (c.maxint < 0 && c.maxint > -10000) {
        if (n != 0) b.out.push_back({"node_is_alive", deletion_at, {n}, {1}});
    } else if (c.maxint <= -10000) {
        std::uint64_t q = deletion_at;
        auto alive = [&](const char* name, std::uint64_t count) {
            if (count != 0) b.out.push_back({name, q, {count}, {1}});
            q = add(q, count);
        };
        alive("element_solid_is_alive", c.nel8);
        alive("element_tshell_is_alive", c.nelt);
        alive("element_shell_is_alive", c.nel4);
        alive("element_beam_is_alive", c.nel2);
    }
    return {std::move(b.out), std::move(problems)};
}

}  // namespace tarvex::d3plot

namespace tarvex::d3plot {

D3Result<std::vector<NamedArray>> list_arrays(const D3plot& d) {
    StateArrays all = state_arrays(d.control(), d.file(0));
    if (!all.problems.empty()) return all.problems.front().error;
    return std::move(all.arrays);
}

D3Result<ArrayRead> plan_array(const D3plot& d, std::string_view name,
                               const std::optional<std::vector<std::int64_t>>& states) {
    StateArrays all = state_arrays(d.control(), d.file(0));
    const NamedArray* found = nullptr;
    for (const NamedArray& a : all.arrays)
        if (a.name == name) found = &a;
    if (!found) {
        for (const auto& p : all.problems)
            if (name.substr(0, p.prefix.size()) == p.prefix) return p.error;
        return D3plotError::missing("array \"" + std::string(name) + "\" is not present in this d3plot");
    }
    auto sel = d.resolve_states(states);
    if (!sel.ok()) return sel.error();
    ArrayRead plan;
    plan.states = std::move(sel).value();
    plan.array = *found;
    // Counts of a damaged control block that no array can hold, seen even
    // when no state is selected.
    std::uint64_t bytes = d.control().word_size;
    for (std::uint64_t k : found->shape)
        if (k != 0) bytes = mul(bytes, k);
    if (bytes > static_cast<std::uint64_t>(PTRDIFF_MAX))
        return D3plotError::msg("d3plot truncated: float block out of range");
    const std::uint64_t extent = found->extent_words();
    if (extent == 0) return plan;  // an empty array
    plan.view = d.view_words(found->start_word, extent, plan.states);
    if (plan.view) return plan;
    // Every extent lies in its file before anything is allocated, which also
    // bounds the size of the copy.
    if (auto st = d.check_extent(found->start_word, extent, plan.states); !st.ok()) return st.error();
    plan.elements = plan.states.size() * found->size();
    return plan;
}

namespace {
// Gather one state's values of `a` from `src` into `dst` in C order: the
// last dimension in runs (a single copy when its stride is 1).
template <class T>
void gather(const NamedArray& a, const char* src, T* dst) {
    const std::size_t dims = a.shape.size();
    if (dims == 0) {
        std::memcpy(dst, src, sizeof(T));
        return;
    }
    const std::uint64_t run = a.shape[dims - 1], step = a.strides[dims - 1];
    std::uint64_t outer = 1;
    for (std::size_t j = 0; j + 1 < dims; ++j) outer *= a.shape[j];
    std::vector<std::uint64_t> idx(dims, 0);
    std::uint64_t word = 0;  // offset of the current run, in words
    for (std::uint64_t r = 0; r < outer; ++r) {
        const char* p = src + word * sizeof(T);
        if (step == 1) {
            std::memcpy(dst, p, run * sizeof(T));
        } else {
            for (std::uint64_t k = 0; k < run; ++k) std::memcpy(dst + k, p + k * step * sizeof(T), sizeof(T));
        }
        dst += run;
        // Advance the index of the outer dimensions, the last of them fastest.
        for (std::size_t j = dims - 1; j-- > 0;) {
            if (++idx[j] < a.shape[j]) {
                word += a.strides[j];
                break;
            }
            word -= (a.shape[j] - 1) * a.strides[j];
            idx[j] = 0;
        }
    }
}
}  // namespace

D3Status copy_array(const D3plot& d, const ArrayRead& plan, void* out) {
    const std::uint64_t ws = d.control().word_size;
    const NamedArray& a = plan.array;
    const std::uint64_t per = a.size();
    if (per == 0) return Unit{};
    auto one = [&](std::size_t i) {
        const StateRef& s = d.states()[plan.states[i]];
        const char* src = d.file(s.file).data() + s.offset + a.start_word * ws;
        if (ws == 4)
            gather(a, src, static_cast<float*>(out) + i * per);
        else
            gather(a, src, static_cast<double*>(out) + i * per);
    };
    if (plan.states.size() >= 2 && plan.states.size() * per >= 65536)
        pool::parallel_each(plan.states.size(), one);
    else
        for (std::size_t i = 0; i < plan.states.size(); ++i) one(i);
    return Unit{};
}

}  // namespace tarvex::d3plot
