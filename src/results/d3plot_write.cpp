// d3plot and intfor writers, and the family editor.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "file/read.hpp"
#include "file/write.hpp"
#include "results/d3plot.hpp"

namespace tarvex::d3plot {

namespace {
void put_title(std::vector<std::int32_t>& words, const std::string& title) {
    char buf[40];
    std::memset(buf, ' ', sizeof buf);
    std::memcpy(buf, title.data(), std::min<std::size_t>(title.size(), 40));
    std::memcpy(words.data(), buf, 40);
}

std::int32_t low32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }
std::int32_t w32(std::uint64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

void append_floats(std::vector<std::int32_t>& out, const std::vector<float>& v) {
    std::size_t at = out.size();
    out.resize(at + v.size());
    if (!v.empty()) std::memcpy(out.data() + at, v.data(), v.size() * 4);
}


// The file so far (header and geometry words) with room for `more_words`;
// the states are appended to it directly.
std::string start_bytes(const std::vector<std::int32_t>& words, std::uint64_t more_words) {
    std::string out;
    out.reserve((words.size() + more_words) * 4);
    out.append(reinterpret_cast<const char*>(words.data()), words.size() * 4);
    return out;
}

void put_floats(std::string& out, const float* v, std::size_t n) {
    out.append(reinterpret_cast<const char*>(v), n * 4);
}
void put_floats(std::string& out, const std::vector<float>& v) { put_floats(out, v.data(), v.size()); }
void put_float(std::string& out, float v) { put_floats(out, &v, 1); }

D3plotError id_count(const char* what, std::size_t got, const char* entities, std::uint64_t want) {
    return D3plotError::msg(std::string(what) + " has " + std::to_string(got) + " ids for " + std::to_string(want) +
                            " " + entities);
}

}  // namespace

void write_narbs(std::vector<std::int32_t>& out, std::uint64_t n, std::uint64_t s8, std::uint64_t s4,
                 std::uint64_t p, const std::vector<std::int32_t>* node_ids,
                 const std::vector<std::int32_t>* solid_ids, const std::vector<std::int32_t>* shell_ids,
                 const std::vector<std::int32_t>* part_ids) {
    const std::uint64_t u = n + 1 + s8 + s4;
    const std::uint64_t header[16] = {static_cast<std::uint64_t>(-1), n + 1, n + 1 + s8, n + 1 + s8, u, n, s8, 0,
                                      s4, 0, u + p, u, u + 2 * p, p, 0, p};
    for (std::uint64_t h : header) out.push_back(w32(h));
    auto ids = [&](const std::vector<std::int32_t>* given, std::uint64_t count) {
        if (given) {
            out.insert(out.end(), given->begin(), given->end());
        } else {
            for (std::uint64_t i = 0; i < count; ++i) out.push_back(w32(i + 1));
        }
    };
    ids(node_ids, n);
    ids(solid_ids, s8);
    ids(shell_ids, s4);
    for (std::uint64_t i = 0; i < p; ++i)
        out.push_back(part_ids && i < part_ids->size() ? (*part_ids)[i] : w32(i + 1));
    out.insert(out.end(), 2 * p, 0);
}

// ---- D3plotWriter -------------------------------------------------------------

D3Result<D3plotWriter> D3plotWriter::create(std::vector<float> coords, std::string title) {
    if (coords.empty() || coords.size() % 3 != 0)
        return D3plotError::msg("node_coords length must be a non-zero multiple of 3");
    D3plotWriter w;
    w.coords_ = std::move(coords);
    w.title_ = std::move(title);
    return w;
}

namespace {
void add_elements(std::vector<std::int32_t>& dst, const std::vector<std::int32_t>& conn, std::size_t k,
                  const std::vector<std::int64_t>* parts) {
    std::size_t m = conn.size() / k;
    dst.reserve(dst.size() + m * (k + 1));
    for (std::size_t i = 0; i < m; ++i) {
        dst.insert(dst.end(), conn.begin() + i * k, conn.begin() + (i + 1) * k);
        dst.push_back(parts && i < parts->size() ? low32((*parts)[i]) : 1);
    }
}
}  // namespace

void D3plotWriter::add_solids(const std::vector<std::int32_t>& conn8, const std::vector<std::int64_t>* parts) {
    add_elements(solids_, conn8, 8, parts);
}

void D3plotWriter::add_shells(const std::vector<std::int32_t>& conn4, const std::vector<std::int64_t>* parts) {
    add_elements(shells_, conn4, 4, parts);
}

void D3plotWriter::set_solid_results(std::uint64_t nv3d, std::vector<float> values) {
    nv3d_ = nv3d;
    solid_results_ = std::move(values);
    have_results3_ = true;
}

void D3plotWriter::set_shell_results(std::uint64_t nv2d, std::vector<float> values) {
    nv2d_ = nv2d;
    shell_results_ = std::move(values);
    have_results2_ = true;
}

D3Status D3plotWriter::add_state(float time, std::vector<float> disp, std::optional<std::vector<float>> vel,
                                 std::optional<std::vector<float>> acc) {
    const std::size_t n3 = coords_.size();
    auto check = [&](const char* name, const std::vector<float>& v) -> std::optional<D3plotError> {
        if (v.size() != n3)
            return D3plotError::msg(std::string(name) + " length " + std::to_string(v.size()) + " != numnp*3 (" +
                                    std::to_string(n3) + ")");
        return std::nullopt;
    };
    if (auto e = check("disp", disp)) return *e;
    if (vel)
        if (auto e = check("vel", *vel)) return *e;
    if (acc)
        if (auto e = check("acc", *acc)) return *e;
    if (states_.empty()) {
        has_vel_ = vel.has_value();
        has_acc_ = acc.has_value();
    } else if (has_vel_ != vel.has_value() || has_acc_ != acc.has_value()) {
        return D3plotError::msg("velocity/acceleration presence must match across states");
    }
    states_.push_back({time, std::move(disp), vel ? std::move(*vel) : std::vector<float>{},
                       acc ? std::move(*acc) : std::vector<float>{}});
    return Unit{};
}

D3Result<std::string> D3plotWriter::to_bytes() const {
    const std::uint64_t n = num_nodes();
    const std::uint64_t nel8 = solids_.size() / 9, nel4 = shells_.size() / 5;
    const std::uint64_t nv3d = have_results3_ ? nv3d_ : 0, nv2d = have_results2_ ? nv2d_ : 0;
    const std::uint64_t nstates = states_.size();

    // Refuse contents whose sections would disagree with the control words.
    if (node_ids_ && node_ids_->size() != n) return id_count("node_ids", node_ids_->size(), "nodes", n);
    if (solid_ids_ && solid_ids_->size() != nel8) return id_count("solid_ids", solid_ids_->size(), "solids", nel8);
    if (shell_ids_ && shell_ids_->size() != nel4) return id_count("shell_ids", shell_ids_->size(), "shells", nel4);
    auto check_results = [&](const char* what, const std::vector<float>& v, std::uint64_t count,
                             std::uint64_t per, const char* entities) -> std::optional<D3plotError> {
        // Later values than the states need are not written (slice k is
        // values [k * count * per, (k + 1) * count * per)).
        std::uint64_t want = 0;
        bool huge = __builtin_mul_overflow(nstates, count, &want) || __builtin_mul_overflow(want, per, &want);
        if (huge) want = std::numeric_limits<std::uint64_t>::max();
        if (v.size() < want)
            return D3plotError::msg(std::string(what) + " results hold " + std::to_string(v.size()) +
                                    " values, expected " + std::to_string(nstates) + " states x " +
                                    std::to_string(count) + " " + entities + " x " + std::to_string(per) +
                                    " values (" + std::to_string(want) + ")");
        return std::nullopt;
    };
    if (have_results3_)
        if (auto e = check_results("solid", solid_results_, nel8, nv3d, "solids")) return *e;
    if (have_results2_)
        if (auto e = check_results("shell", shell_results_, nel4, nv2d, "shells")) return *e;

    std::int64_t pmax = 0;
    for (std::size_t i = 8; i < solids_.size(); i += 9) pmax = std::max<std::int64_t>(pmax, solids_[i]);
    for (std::size_t i = 4; i < shells_.size(); i += 5) pmax = std::max<std::int64_t>(pmax, shells_[i]);
    // Part ids: the first P are written, parts without one are numbered i + 1.
    const std::uint64_t P = static_cast<std::uint64_t>(pmax);

    const std::uint64_t per_state =
        1 + 3 * n * (1 + has_vel_ + has_acc_) + nel8 * nv3d + nel4 * nv2d;
    std::vector<std::int32_t> out(64, 0);
    out.reserve(64 + 3 * n + 9 * nel8 + 5 * nel4 + 16 + n + nel8 + nel4 + 3 * P);
    put_title(out, title_);
    out[11] = 1;
    out[15] = 4;
    out[16] = w32(n);
    out[17] = 6;
    out[20] = 1;
    out[21] = has_vel_ ? 1 : 0;
    out[22] = has_acc_ ? 1 : 0;
    out[23] = w32(nel8);
    out[27] = w32(nv3d);
    out[31] = w32(nel4);
    out[32] = w32(P);
    out[33] = w32(nv2d);
    out[36] = 1;
    out[39] = w32(nel4 + nel8 + n + 3 * P + 16);
    out[43] = (nv3d >= 6 || nv2d >= 6) ? 1000 : 0;
    out[44] = (nv3d > 6 || nv2d > 6) ? 1000 : 0;
    const std::uint64_t S = 6 * (out[43] != 0) + (out[44] != 0);
    if (nv3d > 0) out[34] = w32(nv3d > S ? nv3d - S : 0);
    if (nv2d > 0) out[35] = w32(nv2d > S ? nv2d - S : 0);
    out[51] = w32(P);

    append_floats(out, coords_);
    out.insert(out.end(), solids_.begin(), solids_.end());
    out.insert(out.end(), shells_.begin(), shells_.end());
    write_narbs(out, n, nel8, nel4, P, node_ids_ ? &*node_ids_ : nullptr, solid_ids_ ? &*solid_ids_ : nullptr,
                shell_ids_ ? &*shell_ids_ : nullptr, part_ids_ ? &*part_ids_ : nullptr);
    std::string bytes = start_bytes(out, nstates * per_state + 1);
    for (std::uint64_t k = 0; k < nstates; ++k) {
        const State& s = states_[k];
        put_float(bytes, s.time);
        put_floats(bytes, s.disp);
        if (has_vel_) put_floats(bytes, s.vel);
        if (has_acc_) put_floats(bytes, s.acc);
        if (nv3d) put_floats(bytes, solid_results_.data() + k * nel8 * nv3d, nel8 * nv3d);
        if (nv2d) put_floats(bytes, shell_results_.data() + k * nel4 * nv2d, nel4 * nv2d);
    }
    put_float(bytes, -999999.0f);
    return bytes;
}

// ---- IntforWriter -----------------------------------------------------------------

D3Result<IntforWriter> IntforWriter::create(std::vector<float> coords, std::uint64_t n_interfaces,
                                            std::string title) {
    if (coords.empty() || coords.size() % 3 != 0)
        return D3plotError::msg("node_coords length must be a non-zero multiple of 3");
    IntforWriter w;
    w.coords_ = std::move(coords);
    w.n_if_ = n_interfaces;
    w.title_ = std::move(title);
    return w;
}

void IntforWriter::add_segments(const std::vector<std::int32_t>& conn4, const std::vector<std::int64_t>* ids) {
    std::size_t m = conn4.size() / 4;
    segments_.reserve(segments_.size() + 5 * m);
    for (std::size_t i = 0; i < m; ++i) {
        segments_.insert(segments_.end(), conn4.begin() + 4 * i, conn4.begin() + 4 * (i + 1));
        segments_.push_back(ids && i < ids->size() ? low32((*ids)[i]) : low32(static_cast<std::int64_t>(i + 1)));
    }
}

void IntforWriter::set_fields(std::uint64_t wear, std::uint64_t pressure, std::uint64_t shear,
                              std::uint64_t force, std::uint64_t gap) {
    widths_[0] = wear;
    widths_[1] = pressure;
    widths_[2] = shear;
    widths_[3] = force;
    widths_[4] = gap;
    n_fsi_ = 0;
}

std::uint64_t IntforWriter::nv2d() const noexcept {
    if (n_fsi_ != 0) return n_fsi_;
    std::uint64_t s = 0;
    for (std::uint64_t w : widths_) s += w;
    return s;
}

D3Status IntforWriter::add_state(float time, std::vector<float> disp, std::vector<float> vel,
                                 std::vector<float> seg) {
    const std::size_t n3 = coords_.size();
    if (disp.size() != n3 || vel.size() != n3)
        return D3plotError::msg("disp/vel length must be numnp*3 (" + std::to_string(n3) + ")");
    const std::uint64_t expected = (segments_.size() / 5) * nv2d();
    if (seg.size() != expected)
        return D3plotError::msg("segment_values length " + std::to_string(seg.size()) + " != n_segments*nv2d (" +
                                std::to_string(expected) + ")");
    states_.push_back({time, std::move(disp), std::move(vel), std::move(seg)});
    return Unit{};
}

D3Result<std::string> IntforWriter::to_bytes() const {
    const std::uint64_t n = num_nodes();
    const std::uint64_t nseg = segments_.size() / 5;
    const std::uint64_t nv = nv2d();
    if (node_ids_ && node_ids_->size() != n) return id_count("node_ids", node_ids_->size(), "nodes", n);
    for (std::size_t k = 0; k < states_.size(); ++k)
        if (states_[k].seg.size() != nseg * nv)
            return D3plotError::msg("state " + std::to_string(k) + " holds " +
                                    std::to_string(states_[k].seg.size()) + " segment values, but the file has " +
                                    std::to_string(nseg) + " segments x " + std::to_string(nv) + " values (" +
                                    std::to_string(nseg * nv) + ")");

    std::vector<std::int32_t> out(64, 0);
    put_title(out, title_);
    out[11] = 4;
    out[15] = 4;
    out[16] = w32(n);
    out[17] = 6;
    out[20] = 1;
    out[21] = 1;
    out[31] = w32(nseg);
    out[32] = w32(2 * n_if_);
    out[33] = n_fsi_ != 0 ? w32(0 - n_fsi_) : w32(nv);  // -n_fsi in 32 bits
    out[39] = w32(nseg + n + 6 * n_if_ + 16);
    out[51] = w32(2 * n_if_);
    if (n_fsi_ == 0)
        for (int i = 0; i < 5; ++i) out[59 + i] = w32(widths_[i]);

    append_floats(out, coords_);
    out.insert(out.end(), segments_.begin(), segments_.end());
    std::vector<std::int32_t> seg_ids(nseg);
    for (std::uint64_t i = 0; i < nseg; ++i) seg_ids[i] = segments_[5 * i + 4];
    write_narbs(out, n, 0, nseg, 2 * n_if_, node_ids_ ? &*node_ids_ : nullptr, nullptr, &seg_ids, nullptr);
    std::string bytes = start_bytes(out, states_.size() * (1 + 6 * n + nseg * nv) + 1);
    for (const State& s : states_) {
        put_float(bytes, s.time);
        put_floats(bytes, s.disp);
        put_floats(bytes, s.vel);
        put_floats(bytes, s.seg);
    }
    put_float(bytes, -999999.0f);
    return bytes;
}

// ---- D3plotEditor -----------------------------------------------------------------

D3Result<D3plotEditor> D3plotEditor::load(const std::string& path) {
    D3plotEditor ed;
    ed.paths_ = family_paths(path);
    for (const std::string& p : ed.paths_) {
        auto r = read_file(p);
        if (!r.ok()) return D3plotError::io(r.error().os_errno);
        ed.contents_.push_back(std::move(r).value());
    }
    // The word size decides before anything else whether the family is editable.
    auto ctl = parse_control(ed.contents_[0]);
    if (ctl.ok() && ctl.value().word_size == 8)
        return D3plotError::msg("editing double-precision d3plots is not supported");
    // The editor rewrites node coordinates: families without them are refused.
    if (ctl.ok() && ctl.value().iu == 0) return D3plotError::msg("d3plot has no nodal displacement data (IU=0)");
    std::vector<std::string_view> views(ed.contents_.begin(), ed.contents_.end());
    auto L = read_layout(views);
    if (!L.ok()) return L.error();
    ed.layout_ = std::move(L).value();
    return ed;
}

D3Status D3plotEditor::set_block(StateBlock b, std::uint64_t state, const std::vector<float>& data) {
    const Control& c = layout_.control;
    auto layout = c.block_extent(b);
    if (!layout) return D3plotError::msg("block not present in this d3plot");
    const std::uint64_t want = layout->count * layout->values;
    if (data.size() != want)
        return D3plotError::msg("data length " + std::to_string(data.size()) + " != count*vars (" +
                                std::to_string(want) + ")");
    if (state >= num_states())
        return D3plotError::msg("state " + std::to_string(state) + " out of range (" +
                                std::to_string(num_states()) + ")");
    const StateRef& s = layout_.states[state];
    std::string& f = contents_[s.file];
    const std::uint64_t start = layout->start_word;
    const std::uint64_t at = start > (f.size() - std::min<std::uint64_t>(s.offset, f.size())) / 4
                                 ? f.size() + 1
                                 : s.offset + start * 4;
    if (at > f.size() || want > (f.size() - at) / 4) return D3plotError::msg("block extent past end of file");
    if (want) std::memcpy(f.data() + at, data.data(), want * 4);
    return Unit{};
}

D3Status D3plotEditor::write_all(const std::vector<std::string>& names) const {
    std::vector<std::string_view> views(contents_.begin(), contents_.end());
    Status written = write_files(names, views, FifoOpen::WaitForReader);  // runs without the interpreter lock
    if (!written) return D3plotError::io(written.error().os_errno);
    return Unit{};
}

D3Status D3plotEditor::save() const { return write_all(paths_); }

D3Status D3plotEditor::write(const std::string& base) const { return write_all(family_names(base, paths_.size())); }

}  // namespace tarvex::d3plot
