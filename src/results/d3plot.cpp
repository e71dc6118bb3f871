// d3plot control block, section walk, family listing and reader.
#include "results/d3plot.hpp"


#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <limits>

#include "file/path.hpp"
#include "results/d3plot_words.hpp"
#include "util/pool.hpp"
#include "util/text.hpp"

namespace tarvex::d3plot {

using namespace words;

namespace {
inline std::uint64_t magnitude(std::int64_t v) noexcept {
    return v < 0 ? static_cast<std::uint64_t>(-(v + 1)) + 1 : static_cast<std::uint64_t>(v);
}

std::uint64_t temp_values(std::int64_t it) noexcept {
    switch (digit_last(it)) {
        case 1: return 1;
        case 2: return 4;
        case 3: return 6;
        default: return 0;
    }
}

}  // namespace

const char* state_block_name(StateBlock b) noexcept {
    switch (b) {
        case StateBlock::Displacement: return "Displacement";
        case StateBlock::Velocity: return "Velocity";
        case StateBlock::Acceleration: return "Acceleration";
        case StateBlock::Solid: return "Solid";
        case StateBlock::ThickShell: return "ThickShell";
        case StateBlock::Beam: return "Beam";
        case StateBlock::Shell: return "Shell";
    }
    return "?";
}

// ---- Control --------------------------------------------------------------------

D3Result<Control> parse_control(std::string_view f) {
    Control c;
    auto probe = [&](std::uint64_t ws) {
        if (f.size() < 16 * ws) return false;
        std::int64_t v = int_word(f, 15, ws);
        return v >= 2 && v <= 9;
    };
    if (probe(4))
        c.word_size = 4;
    else if (probe(8))
        c.word_size = 8;
    else
        return D3plotError::not_d3plot();
    const std::uint64_t ws = c.word_size;
    if (f.size() < 64 * ws) return D3plotError::not_d3plot();
    auto w = [&](std::uint64_t i) { return int_word(f, i, ws); };
    c.filetype = w(11);
    c.ndim = w(15);
    c.numnp = nonneg(w(16));
    c.nglbv = nonneg(w(18));
    c.it = w(19);
    c.iu = w(20);
    c.iv = w(21);
    c.ia = w(22);
    c.nel8 = nonneg(w(23));
    c.nv3d = nonneg(w(27));
    c.nel2 = nonneg(w(28));
    c.nv1d = nonneg(w(30));
    c.nel4 = nonneg(w(31));
    std::int64_t nv2d = w(33);
    c.nv2d = magnitude(nv2d);
    c.fsifor = nv2d < 0;
    c.neips = nonneg(w(35));
    c.maxint = w(36);
    c.nmsph = nonneg(w(37));
    c.narbs = nonneg(w(39));
    c.nelt = nonneg(w(40));
    c.nv3dt = nonneg(w(42));
    for (int i = 0; i < 4; ++i) c.ioshl[i] = w(43 + i);
    c.ialemat = nonneg(w(47));
    c.nmmat = nonneg(w(51));
    c.npefg = w(54);
    c.nel48 = nonneg(w(55));
    c.idtdt = w(56);
    c.extra = nonneg(w(57));
    for (int i = 0; i < 5; ++i) c.widths[i] = nonneg(w(59 + i));
    if (c.extra >= 2) {
        if (f.size() < 66 * ws) return D3plotError::not_d3plot();
        c.word65 = nonneg(w(65));
    }
    c.ndim9 = c.ndim == 9;
    if (c.ndim == 5 || c.ndim == 7) c.numrbe = nonneg(word_or_zero(f, add(64, c.extra), ws));
    return c;
}

void walk_geometry(Control& c, std::string_view f) {
    const std::uint64_t ws = c.word_size;
    auto w = [&](std::uint64_t i) { return word_or_zero(f, i, ws); };
    const std::uint64_t file_words = f.size() / ws;
    std::uint64_t p = add(add(64, c.extra), c.ialemat);
    if (c.ndim == 5 || c.ndim == 7) p = add(p, add(c.nmmat, 2));

    // 1. SPH flags.
    if (c.nmsph != 0) {
        std::int64_t f0 = w(p);
        __int128 s = 0;
        for (int i = 1; i <= 7; ++i) s += w(add(p, i));
        std::int64_t f8 = w(add(p, 8));
        s += f8 < 0 ? -static_cast<__int128>(f8) : static_cast<__int128>(f8);
        __int128 h = w(add(p, 9));
        __int128 m = f0 == 10 ? 0 : static_cast<__int128>(nonneg(w(add(p, 10))));
        __int128 words = (s + h <= 0 ? m : m + s + h) + 1;
        c.sph_words = words > static_cast<__int128>(kMax) ? kMax : static_cast<std::uint64_t>(words);
        p = add(p, nonneg(f0));
    }
    // 2. Airbag header.
    if (c.npefg > 0 && c.npefg <= 10'000'000) {
        c.n_airbags = static_cast<std::uint64_t>(c.npefg % 1000);
        c.airbag_geom_words = nonneg(w(p));
        c.airbag_vars = nonneg(w(add(p, 1)));
        c.airbag_particles = nonneg(w(add(p, 2)));
        c.airbag_state_words = nonneg(w(add(p, 3)));
        p = add(p, add(4, mul(9, add(add(c.airbag_geom_words, c.airbag_vars), c.airbag_state_words))));
        if (c.npefg >= 4000 && c.npefg <= 4999) p = add(p, 1);
    }
    // 3. Geometry.
    c.coords_offset = mul(p, ws);
    p = add(p, mul(3, c.numnp));
    p = add(p, mul(9, c.nel8));
    p = add(p, mul(9, c.nelt));
    p = add(p, mul(6, c.nel2));
    p = add(p, mul(5, c.nel4));
    p = add(p, c.narbs);
    // 4. Rigid entries.
    if (c.ndim == 8 || c.ndim == 9) {
        std::uint64_t n = nonneg(w(p));
        c.n_rigid_entries = n;
        p = add(p, 1);
        for (std::uint64_t i = 0; i < n; ++i) {
            if (p >= file_words) {  // the rest reads as zeros: 3 words per entry
                p = add(p, mul(3, n - i));
                break;
            }
            p = add(p, add(2, nonneg(w(add(p, 1)))));
            p = add(p, add(1, nonneg(w(p))));
        }
    }
    // 5. SPH node list; 6. airbag geometry.
    p = add(p, mul(2, c.nmsph));
    p = add(p, mul(c.n_airbags, c.airbag_geom_words));
    // 7. Road surfaces.
    if (c.ndim == 6 || c.ndim == 9) {
        std::uint64_t n_nodes = nonneg(w(p));
        std::uint64_t n_surf = nonneg(w(add(p, 2)));
        c.n_road_surfaces = n_surf;
        p = add(p, add(4, mul(4, n_nodes)));
        for (std::uint64_t i = 0; i < n_surf; ++i) {
            if (p >= file_words) {  // zeros from here: 2 words per surface
                p = add(p, mul(2, n_surf - i));
                break;
            }
            p = add(p, add(2, mul(4, nonneg(w(add(p, 1))))));
        }
    }
    // 8.
    c.states_offset = mul(add(p, mul(5, c.nel48)), ws);
}

std::uint64_t Control::extra_node_values() const noexcept {
    return temp_values(it) + (digit_tens(it) == 1 ? 1 : 0) + (digit_last(idtdt) == 1 ? 1 : 0) +
           (digit_tens(idtdt) == 1 ? 6 : 0);
}

std::uint64_t Control::node_values() const noexcept {
    return 3 * ((iu != 0) + (iv != 0) + (ia != 0)) + extra_node_values();
}

std::uint64_t Control::words_per_state() const noexcept {
    std::uint64_t wds = add(1, nglbv);
    wds = add(wds, mul(numnp, node_values()));
    wds = add(wds, mul(nel8, add(word65, nv3d)));
    wds = add(wds, mul(nelt, nv3dt));
    wds = add(wds, mul(nel2, nv1d));
    wds = add(wds, mul(nel4 > numrbe ? nel4 - numrbe : 0, nv2d));
    if (maxint <= -10000)
        wds = add(wds, add(add(nel8, nelt), add(nel2, nel4)));
    else if (maxint < 0)
        wds = add(wds, numnp);
    wds = add(wds, mul(sph_words, nmsph));
    wds = add(wds, mul(airbag_state_words, n_airbags));
    wds = add(wds, mul(airbag_vars, airbag_particles));
    wds = add(wds, mul(6, n_road_surfaces));
    wds = add(wds, mul(ndim9 ? 12 : 24, n_rigid_entries));
    return wds;
}

std::uint64_t Control::bytes_per_state() const noexcept { return mul(words_per_state(), word_size); }

std::optional<BlockExtent> Control::block_extent(StateBlock b) const noexcept {
    const std::uint64_t e = add(nglbv, 1);
    const std::uint64_t n = numnp;
    const std::uint64_t s = add(add(e, mul(n, node_values())), mul(nel8, word65));
    auto extent_at = [](std::uint64_t start, std::uint64_t count, std::uint64_t values) -> std::optional<BlockExtent> {
        if (start == kMax || mul(count, values) == kMax) return std::nullopt;  // not addressable
        return BlockExtent{start, count, values};
    };
    const std::uint64_t vel = add(add(e, iu != 0 ? mul(3, n) : 0), mul(n, extra_node_values()));
    switch (b) {
        case StateBlock::Displacement:
            if (iu == 0 || n == 0) return std::nullopt;
            return extent_at(e, n, 3);
        case StateBlock::Velocity:
            if (iv == 0 || n == 0) return std::nullopt;
            return extent_at(vel, n, 3);
        case StateBlock::Acceleration:
            if (ia == 0 || n == 0) return std::nullopt;
            return extent_at(add(vel, iv != 0 ? mul(3, n) : 0), n, 3);
        case StateBlock::Solid:
            if (nel8 == 0 || nv3d == 0) return std::nullopt;
            return extent_at(s, nel8, nv3d);
        case StateBlock::ThickShell:
            if (nelt == 0 || nv3dt == 0) return std::nullopt;
            return extent_at(add(s, mul(nel8, nv3d)), nelt, nv3dt);
        case StateBlock::Beam:
            if (nel2 == 0 || nv1d == 0) return std::nullopt;
            return extent_at(add(add(s, mul(nel8, nv3d)), mul(nelt, nv3dt)), nel2, nv1d);
        case StateBlock::Shell:
            if (numrbe >= nel4 || nv2d == 0) return std::nullopt;
            return extent_at(add(add(add(s, mul(nel8, nv3d)), mul(nelt, nv3dt)), mul(nel2, nv1d)), nel4 - numrbe,
                        nv2d);
    }
    return std::nullopt;
}

std::uint64_t Control::solids_offset() const noexcept { return add(coords_offset, mul(mul(3, numnp), word_size)); }
std::uint64_t Control::thick_shells_offset() const noexcept {
    return add(solids_offset(), mul(mul(9, nel8), word_size));
}
std::uint64_t Control::beams_offset() const noexcept {
    return add(thick_shells_offset(), mul(mul(9, nelt), word_size));
}
std::uint64_t Control::shells_offset() const noexcept { return add(beams_offset(), mul(mul(6, nel2), word_size)); }
std::uint64_t Control::narbs_offset() const noexcept { return add(shells_offset(), mul(mul(5, nel4), word_size)); }

// ---- Files ------------------------------------------------------------------------

std::vector<std::string> family_paths(const std::string& base) {
    std::vector<std::string> out{base};
    std::string dir = path::parent(base);
    std::size_t slash = base.rfind('/');
    std::string name = slash == std::string::npos ? base : base.substr(slash + 1);
    if (name.empty()) return out;
    std::vector<std::pair<std::uint64_t, std::string>> found;
    for (std::string& entry : path::list_dir(dir)) {
        std::string cmp = text::utf8_lossy(entry);
        if (cmp.size() <= name.size() || cmp.compare(0, name.size(), name) != 0) continue;
        std::string_view digits(cmp.data() + name.size(), cmp.size() - name.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) continue;
        std::uint64_t key = 0;
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), key);
        if (ec != std::errc() || ptr != digits.data() + digits.size()) continue;
        found.emplace_back(key, std::move(entry));
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string prefix = slash == std::string::npos ? std::string() : base.substr(0, slash + 1);
    for (auto& [key, entry] : found) out.push_back(prefix + entry);
    return out;
}

std::vector<std::string> family_names(const std::string& base, std::size_t n) {
    std::vector<std::string> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0)
            out.push_back(base);
        else if (i < 100)
            out.push_back(base + (i < 10 ? "0" : "") + std::to_string(i));
        else
            out.push_back(base + std::to_string(i));
    }
    return out;
}

// ---- Reading ----------------------------------------------------------------------

D3Status read_floats_into(std::string_view file, std::uint64_t offset, std::uint64_t count, std::uint64_t ws,
                          double* out) {
    if (!fits(offset, count, ws, file.size())) return D3plotError::msg("d3plot truncated: float block out of range");
    const char* p = file.data() + offset;
    if (ws == 4) {
        for (std::uint64_t i = 0; i < count; ++i) {
            float v;
            std::memcpy(&v, p + i * 4, 4);
            out[i] = v;
        }
    } else if (count != 0) {
        std::memcpy(out, p, count * 8);
    }
    return Unit{};
}

D3Result<std::vector<double>> read_floats_at(std::string_view file, std::uint64_t offset, std::uint64_t count,
                                             std::uint64_t ws) {
    if (!fits(offset, count, ws, file.size())) return D3plotError::msg("d3plot truncated: float block out of range");
    std::vector<double> out(count);
    auto st = read_floats_into(file, offset, count, ws, out.data());
    if (!st.ok()) return st.error();
    return out;
}

std::vector<std::int64_t> read_ints_at(std::string_view file, std::uint64_t offset, std::uint64_t count,
                                       std::uint64_t ws) {
    std::vector<std::int64_t> out;
    if (offset >= file.size()) return out;
    std::uint64_t avail = (file.size() - offset) / ws;
    count = std::min(count, avail);
    out.resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (ws == 4) {
            std::int32_t v;
            std::memcpy(&v, file.data() + offset + i * 4, 4);
            out[i] = v;
        } else {
            std::memcpy(&out[i], file.data() + offset + i * 8, 8);
        }
    }
    return out;
}

D3Result<Layout> read_layout(const std::vector<std::string_view>& files) {
    Layout L;
    auto ctl = parse_control(files.at(0));
    if (!ctl.ok()) return ctl.error();
    L.control = std::move(ctl).value();
    Control& c = L.control;
    walk_geometry(c, files[0]);
    const std::uint64_t ws = c.word_size;
    const std::uint64_t B = c.bytes_per_state();
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::uint64_t len = files[f].size();
        std::uint64_t p = f == 0 ? c.states_offset : 0;
        while (p <= len && B <= len - p) {
            double t = real_word(files[f].data() + p, ws);
            if (t == -999999.0) break;
            L.states.push_back({static_cast<std::uint32_t>(f), p});
            L.times.push_back(t);
            p += B;
        }
    }
    auto coords = read_floats_at(files[0], c.coords_offset, mul(3, c.numnp), ws);
    if (!coords.ok()) return coords.error();
    L.initial_coords = std::move(coords).value();
    return L;
}

D3Result<D3plot> D3plot::open(const std::string& path) {
    D3plot d;
    for (const std::string& p : family_paths(path)) {
        auto r = Source::open(p);
        if (auto* fail = std::get_if<OpenFailure>(&r)) return D3plotError::io(fail->err);
        d.files_.push_back(std::get<SourcePtr>(std::move(r)));
    }
    std::vector<std::string_view> views;
    for (const auto& s : d.files_) views.push_back(s->bytes());
    auto L = read_layout(views);
    if (!L.ok()) return L.error();
    d.layout_ = std::move(L).value();
    return d;
}

D3Result<std::vector<std::size_t>> D3plot::resolve_states(
    const std::optional<std::vector<std::int64_t>>& sel) const {
    const std::size_t n = num_states();
    std::vector<std::size_t> out;
    if (!sel) {
        out.resize(n);
        for (std::size_t i = 0; i < n; ++i) out[i] = i;
        return out;
    }
    out.reserve(sel->size());
    for (std::int64_t idx : *sel) {
        std::int64_t k = idx < 0 ? idx + static_cast<std::int64_t>(n) : idx;
        if (k < 0 || static_cast<std::uint64_t>(k) >= n)
            return D3plotError::msg("state index " + std::to_string(idx) + " out of range (" + std::to_string(n) +
                                    " states)");
        out.push_back(static_cast<std::size_t>(k));
    }
    return out;
}

namespace {
D3plotError state_range(std::uint64_t state, std::size_t n) {
    return D3plotError::msg("state " + std::to_string(state) + " out of range (" + std::to_string(n) + ")");
}
}  // namespace

D3Status D3plot::require_displacements() const {
    if (control().iu == 0) return D3plotError::msg("d3plot has no nodal displacement data (IU=0)");
    return Unit{};
}

D3Result<std::vector<double>> D3plot::node_coordinates(std::uint64_t state) const {
    if (auto st = require_displacements(); !st.ok()) return st.error();
    if (state >= num_states()) return state_range(state, num_states());
    const Control& c = control();
    const StateRef& s = layout_.states[state];
    return read_floats_at(file(s.file), add(s.offset, mul(add(c.nglbv, 1), c.word_size)), mul(3, c.numnp),
                          c.word_size);
}

D3Status D3plot::node_coordinates_all_into(double* out) const {
    if (auto st = require_displacements(); !st.ok()) return st.error();
    const Control& c = control();
    const std::uint64_t ws = c.word_size;
    const std::uint64_t per = mul(3, c.numnp);
    const std::uint64_t skip = mul(add(c.nglbv, 1), ws);
    // Every extent is checked in state order first, so the first failing
    // state decides the error; the conversion then runs on the pool.
    for (const StateRef& s : layout_.states)
        if (!fits(add(s.offset, skip), per, ws, file(s.file).size()))
            return D3plotError::msg("d3plot truncated: float block out of range");
    const std::size_t n = num_states();
    const std::uint64_t chunk = 1 << 16;  // values per task
    const std::uint64_t chunks = per == 0 ? 0 : (per + chunk - 1) / chunk;
    pool::parallel_for(0, n * chunks, 0, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t t = lo; t < hi; ++t) {
            const std::size_t k = t / chunks;
            const std::uint64_t from = (t % chunks) * chunk, len = std::min(chunk, per - from);
            const StateRef& s = layout_.states[k];
            (void)read_floats_into(file(s.file), s.offset + skip + from * ws, len, ws, out + k * per + from);
        }
    });
    return Unit{};
}

D3Result<std::vector<double>> D3plot::displacement_magnitudes(std::uint64_t state) const {
    auto cur = node_coordinates(state);
    if (!cur.ok()) return cur.error();
    std::vector<double>& x = cur.value();
    const std::vector<double>& x0 = layout_.initial_coords;
    std::vector<double> out(x.size() / 3);
    for (std::size_t i = 0; i < out.size(); ++i) {
        double dx = x[3 * i] - x0[3 * i], dy = x[3 * i + 1] - x0[3 * i + 1], dz = x[3 * i + 2] - x0[3 * i + 2];
        out[i] = std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    return out;
}

D3Result<double> D3plot::max_displacement_final() const {
    if (auto st = require_displacements(); !st.ok()) return st.error();
    if (num_states() == 0) return D3plotError::msg("d3plot has no states");
    auto mags = displacement_magnitudes(num_states() - 1);
    if (!mags.ok()) return mags.error();
    double best = 0.0;
    for (double v : mags.value())
        if (v > best) best = v;  // NaN never compares greater
    return best;
}

std::vector<std::int64_t> D3plot::narbs_slice(std::uint64_t skip, std::uint64_t count, std::uint64_t cap) const {
    const Control& c = control();
    if (c.narbs == 0 || count == 0) {
        // Generated ids: never more than the file can describe.
        count = std::min(count, cap);
        std::vector<std::int64_t> out(count);
        for (std::uint64_t i = 0; i < count; ++i) out[i] = static_cast<std::int64_t>(i + 1);
        return out;
    }
    std::string_view f = file(0);
    const std::uint64_t at = c.narbs_offset();
    std::int64_t first = at / c.word_size < f.size() / c.word_size && at % c.word_size == 0
                             ? int_word(f, at / c.word_size, c.word_size)
                             : 0;
    std::uint64_t header = first < 0 ? 16 : 10;
    return read_ints_at(f, add(at, mul(add(header, skip), c.word_size)), count, c.word_size);
}

namespace {
// Whole elements of k + 1 words that the first file holds at `offset`.
std::uint64_t elements_in_file(std::string_view f, std::uint64_t offset, std::uint64_t count, std::uint64_t k,
                               std::uint64_t ws) {
    if (offset >= f.size()) return 0;
    return std::min(count, (f.size() - offset) / ws / (k + 1));
}
}  // namespace

std::vector<std::int64_t> D3plot::node_ids() const { return narbs_slice(0, control().numnp, control().numnp); }

std::vector<std::int64_t> D3plot::solid_ids() const {
    const Control& c = control();
    return narbs_slice(c.numnp, c.nel8, elements_in_file(file(0), c.solids_offset(), c.nel8, 8, c.word_size));
}

std::vector<std::int64_t> D3plot::shell_ids() const {
    const Control& c = control();
    return narbs_slice(add(add(c.numnp, c.nel8), c.nel2), c.nel4,
                       elements_in_file(file(0), c.shells_offset(), c.nel4, 4, c.word_size));
}

std::vector<std::int64_t> D3plot::part_ids() const {
    const Control& c = control();
    return narbs_slice(add(add(add(c.numnp, c.nel8), add(c.nel2, c.nel4)), c.nelt), c.nmmat,
                       file(0).size() / c.word_size);
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> D3plot::connectivity(std::uint64_t offset,
                                                                                   std::uint64_t count,
                                                                                   std::uint64_t k) const {
    const std::uint64_t ws = control().word_size;
    std::vector<std::int64_t> raw = read_ints_at(file(0), offset, mul(count, k + 1), ws);
    std::uint64_t m = raw.size() / (k + 1);
    std::vector<std::int64_t> conn(m * k), parts(m);
    for (std::uint64_t i = 0; i < m; ++i) {
        std::copy_n(raw.begin() + i * (k + 1), k, conn.begin() + i * k);
        parts[i] = raw[i * (k + 1) + k];
    }
    return {std::move(conn), std::move(parts)};
}

std::vector<std::int64_t> D3plot::beam_ids() const {
    const Control& c = control();
    return narbs_slice(add(c.numnp, c.nel8), c.nel2,
                       elements_in_file(file(0), c.beams_offset(), c.nel2, 5, c.word_size));
}

std::vector<std::int64_t> D3plot::thick_shell_ids() const {
    const Control& c = control();
    return narbs_slice(add(add(c.numnp, c.nel8), add(c.nel2, c.nel4)), c.nelt,
                       elements_in_file(file(0), c.thick_shells_offset(), c.nelt, 8, c.word_size));
}

std::vector<D3plot::PartTitle> D3plot::part_titles() const {
    // After the end marker: typed sections 90000 (a title of 18 four-byte
    // words), 90001 (parts), 90002 (contacts), 90020 (flow parts), 90100
    // (keyword lines of 20 four-byte words): the last four start with a count;
    // each entry of the titled ones is an id word and a title of 72 bytes.
    const Control& c = control();
    const std::uint64_t ws = c.word_size;
    std::string_view f = file(0);
    std::vector<PartTitle> out;
    std::uint64_t p = c.states_offset;
    if (!fits(p, 1, ws, f.size()) || real_word(f.data() + p, ws) != -999999.0) return out;
    p += ws;
    while (fits(p, 1, ws, f.size())) {
        const std::int64_t type = int_word(f, p / ws, ws);  // p stays a multiple of the word size
        p += ws;
        if (type == 90000) {
            p = add(p, 72);
        } else if (type == 90001 || type == 90002 || type == 90020 || type == 90100) {
            if (!fits(p, 1, ws, f.size())) break;
            const std::uint64_t count = nonneg(int_word(f, p / ws, ws));
            p += ws;
            const std::uint64_t entry = type == 90100 ? 80 : ws + 72;
            if (mul(count, entry) == kMax || !fits(p, mul(count, entry), 1, f.size())) break;
            if (type == 90001) {
                for (std::uint64_t i = 0; i < count; ++i) {
                    const char* e = f.data() + p + i * entry;
                    std::int64_t id = 0;
                    if (ws == 4) {
                        std::int32_t v;
                        std::memcpy(&v, e, 4);
                        id = v;
                    } else {
                        std::memcpy(&id, e, 8);
                    }
                    std::string title(e + ws, 72);
                    while (!title.empty() && (title.back() == ' ' || title.back() == '\0')) title.pop_back();
                    out.push_back({id, std::move(title)});
                }
            }
            p += count * entry;
        } else {
            break;
        }
        // An end marker may close each section.
        if (fits(p, 1, ws, f.size()) && real_word(f.data() + p, ws) == -999999.0) p += ws;
    }
    return out;
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> D3plot::thick_shell_connectivity() const {
    return connectivity(control().thick_shells_offset(), control().nelt, 8);
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> D3plot::beam_connectivity() const {
    return connectivity(control().beams_offset(), control().nel2, 5);
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> D3plot::solid_connectivity() const {
    return connectivity(control().solids_offset(), control().nel8, 8);
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> D3plot::shell_connectivity() const {
    return connectivity(control().shells_offset(), control().nel4, 4);
}

std::optional<D3plot::View> D3plot::view(StateBlock b, const std::vector<std::size_t>& sel) const {
    auto extent = control().block_extent(b);
    if (!extent) return std::nullopt;
    return view_words(extent->start_word, mul(extent->count, extent->values), sel);
}

std::optional<D3plot::View> D3plot::view_words(std::uint64_t start_word, std::uint64_t extent_words,
                                               const std::vector<std::size_t>& sel) const {
    const Control& c = control();
    if (c.word_size != 4 || sel.empty()) return std::nullopt;
    const StateRef& first = layout_.states[sel[0]];
    std::uint64_t step = c.bytes_per_state();
    if (sel.size() > 1) {
        const StateRef& second = layout_.states[sel[1]];
        if (second.file != first.file || second.offset <= first.offset) return std::nullopt;
        step = second.offset - first.offset;
        for (std::size_t i = 2; i < sel.size(); ++i) {
            const StateRef& s = layout_.states[sel[i]];
            const StateRef& prev = layout_.states[sel[i - 1]];
            if (s.file != first.file || s.offset <= prev.offset || s.offset - prev.offset != step)
                return std::nullopt;
        }
    }
    // The whole strided extent must lie in the mapping.
    std::string_view f = file(first.file);
    std::uint64_t begin = add(first.offset, mul(start_word, 4));
    std::uint64_t last = add(add(first.offset, mul(step, sel.size() - 1)), mul(start_word, 4));
    if (begin == kMax || last == kMax || !fits(last, extent_words, 4, f.size())) return std::nullopt;
    return View{reinterpret_cast<const float*>(f.data() + begin), step};
}

D3Status D3plot::check_extent(std::uint64_t start_word, std::uint64_t words,
                              const std::vector<std::size_t>& sel) const {
    const std::uint64_t ws = control().word_size;
    for (std::size_t k : sel) {
        const StateRef& s = layout_.states[k];
        if (!fits(add(s.offset, mul(start_word, ws)), words, ws, file(s.file).size()))
            return D3plotError::msg("d3plot truncated: float block out of range");
    }
    return Unit{};
}

D3Status D3plot::copy_block(const BlockExtent& extent, const std::vector<std::size_t>& sel, void* out) const {
    const Control& c = control();
    const std::uint64_t ws = c.word_size;
    const std::uint64_t per = mul(extent.count, extent.values);
    // Check every extent first, so a failure leaves nothing half done.
    if (auto st = check_extent(extent.start_word, per, sel); !st.ok()) return st;
    char* dst = static_cast<char*>(out);
    auto one = [&](std::size_t i) {
        const StateRef& s = layout_.states[sel[i]];
        std::memcpy(dst + i * per * ws, file(s.file).data() + s.offset + extent.start_word * ws, per * ws);
    };
    if (sel.size() >= 2 && mul(sel.size(), per) >= 65536)
        pool::parallel_each(sel.size(), one);
    else
        for (std::size_t i = 0; i < sel.size(); ++i) one(i);
    return Unit{};
}

}  // namespace tarvex::d3plot

namespace tarvex::d3plot {

namespace {
// n * count * values elements, or std::bad_alloc when that cannot be addressed.
std::size_t elements(std::size_t n, std::uint64_t count, std::uint64_t values) {
    std::size_t a = 0, b = 0;
    if (__builtin_mul_overflow(n, count, &a) || __builtin_mul_overflow(a, values, &b)) throw std::bad_alloc();
    return b;
}

// A block of count * values words of `word_size` bytes that no array (and no
// file) can hold: counts of a damaged control block, seen when no state
// would have to be read.
bool block_too_large(std::uint64_t count, std::uint64_t values, std::uint64_t word_size) {
    std::uint64_t per = 0, bytes = 0;
    return __builtin_mul_overflow(count, values, &per) || __builtin_mul_overflow(per, word_size, &bytes) ||
           bytes > static_cast<std::uint64_t>(PTRDIFF_MAX);
}

D3plotError truncated_block() { return D3plotError::msg("d3plot truncated: float block out of range"); }
}  // namespace

D3Result<D3plot::BlockRead> D3plot::plan_block(StateBlock b,
                                               const std::optional<std::vector<std::int64_t>>& states) const {
    auto sel = resolve_states(states);
    if (!sel.ok()) return sel.error();
    auto extent = control().block_extent(b);
    if (!extent) return D3plotError::missing(std::string("block ") + state_block_name(b) + " is not present in this d3plot");
    BlockRead plan;
    plan.states = std::move(sel).value();
    plan.extent = *extent;
    plan.view = view(b, plan.states);
    if (plan.view) return plan;
    if (block_too_large(extent->count, extent->values, control().word_size)) return truncated_block();
    plan.elements = elements(plan.states.size(), extent->count, extent->values);
    return plan;
}

D3Result<D3plot::SegmentField> D3plot::segment_field(SegmentFieldKind kind, std::int64_t index,
                                                     const std::optional<std::vector<std::int64_t>>& states) const {
    const Control& c = control();
    const D3plotError absent = D3plotError::missing("that interface field is not present in this file");
    std::uint64_t offset = 0, width = 0;
    if (kind == SegmentFieldKind::Interface) {
        if (index < 0 || index > 4) return absent;
        bool huge = false;  // widths come from the file: their sum may not fit
        for (std::int64_t i = 0; i < index; ++i) huge |= __builtin_add_overflow(offset, c.widths[i], &offset);
        width = c.widths[index];
        if (width == 0 || huge) return absent;
    } else {
        if (index < 0 || static_cast<std::uint64_t>(index) >= c.nv2d) return absent;
        offset = static_cast<std::uint64_t>(index);
        width = 1;
    }
    auto sel = resolve_states(states);
    if (!sel.ok()) return sel.error();
    auto extent = c.block_extent(StateBlock::Shell);
    if (!extent) return D3plotError::missing("no interface segment data in this file");
    // A field reaching past the values of a segment is not there.
    if (offset > extent->values || width > extent->values - offset) return absent;
    if (block_too_large(extent->count, extent->values, c.word_size)) return truncated_block();
    const std::size_t n = sel.value().size(), segs = extent->count, vals = extent->values;
    std::vector<float> raw(elements(n, segs, vals));
    if (c.word_size == 4) {
        D3Status copied = copy_block(*extent, sel.value(), raw.data());
        if (!copied.ok()) return copied.error();
    } else {
        std::vector<double> wide(raw.size());
        D3Status copied = copy_block(*extent, sel.value(), wide.data());
        if (!copied.ok()) return copied.error();
        for (std::size_t i = 0; i < wide.size(); ++i) raw[i] = static_cast<float>(wide[i]);
    }
    SegmentField out{n, segs, static_cast<std::size_t>(width), std::vector<float>(elements(n, segs, width))};
    for (std::size_t r = 0; r < n * segs; ++r)
        std::memcpy(out.values.data() + r * width, raw.data() + r * vals + offset, width * sizeof(float));
    return out;
}

}  // namespace tarvex::d3plot
