// Python face of the d3plot layer: D3plot / open_d3plot, the writers, the
// editor and the enumerations StateBlock, InterfaceField and FsiforField.
#include <nanobind/stl/pair.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/variant.h>
#include <nanobind/stl/vector.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <functional>
#include <tuple>

#include "file/write.hpp"
#include "python/bindings.hpp"
#include "python/frame.hpp"
#include "results/d3plot.hpp"
#include "results/d3plot_arrays.hpp"
#include "util/text.hpp"

namespace tarvex::py {

namespace d3 = tarvex::d3plot;

namespace {

struct StateBlockTag {};
struct InterfaceFieldTag {};
struct FsiforFieldTag {};
using StateBlockV = EnumValue<StateBlockTag>;
using InterfaceFieldV = EnumValue<InterfaceFieldTag>;
using FsiforFieldV = EnumValue<FsiforFieldTag>;

d3::StateBlock to_block(const StateBlockV& b) {
    if (b.value < 0 || b.value >= d3::kNumStateBlocks) raise(Error::value("invalid StateBlock value"));
    return static_cast<d3::StateBlock>(b.value);
}

// ---- Array arguments ----------------------------------------------------------

// A float32 or float64 NumPy array of any shape, in logical order, as singles.
// `last_dim` receives the length of the last dimension (1 for 0-d arrays).
std::vector<float> float_values(nb::handle obj, std::size_t* last_dim = nullptr) {
    ArrayView b;
    const Error bad = Error::type("expected a float32 or float64 numpy array");
    if (!b.get(obj)) raise(bad);
    char f = b.format();
    std::size_t isz = b.itemsize();
    if (!((f == 'f' && isz == 4) || (f == 'd' && isz == 8))) raise(bad);
    std::vector<float> out(b.size());
    float* o = out.data();
    if (f == 'f')
        b.each([&](const char* p) { std::memcpy(o++, p, 4); });
    else
        b.each([&](const char* p) {
            double v;
            std::memcpy(&v, p, 8);
            *o++ = static_cast<float>(v);
        });
    if (last_dim) *last_dim = b.view().ndim == 0 ? 1 : static_cast<std::size_t>(b.view().shape[b.view().ndim - 1]);
    return out;
}

std::optional<std::vector<float>> opt_float_values(nb::handle obj) {
    if (obj.is_none()) return std::nullopt;
    return float_values(obj);
}

// A two-dimensional int64 array (rows, k) as low 32 bits, row by row.
std::vector<std::int32_t> conn_rows(nb::handle obj, std::size_t k, const char* shape_msg) {
    ArrayView b;
    const Error bad = Error::type("argument 'conn' must be a 2-D numpy.ndarray of dtype int64");
    if (!b.get(obj)) raise(bad);
    char f = b.format();
    if (b.view().ndim != 2 || b.view().itemsize != 8 || !(f == 'l' || f == 'q')) raise(bad);
    if (static_cast<std::size_t>(b.view().shape[1]) != k) raise(Error::value(shape_msg));
    std::vector<std::int32_t> out(b.size());
    std::int32_t* o = out.data();
    b.each([&](const char* p) {
        std::int64_t v;
        std::memcpy(&v, p, 8);
        *o++ = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    });
    return out;
}

std::vector<std::int32_t> low32(const std::vector<std::int64_t>& v) {
    std::vector<std::int32_t> out(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(v[i]));
    return out;
}

// `states` of D3plot.block: None, an int, or a sequence of ints.
std::optional<std::vector<std::int64_t>> states_arg(nb::handle obj, std::size_t num_states) {
    const Error bad = Error::type("states must be None, an int, or a sequence of ints");
    if (obj.is_none()) return std::nullopt;
    auto one = [&](PyObject* o) -> std::int64_t {
        nb::object i = as_int(o);
        if (!i.is_valid()) raise(bad);
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
        if (overflow)
            raise(Error::runtime("state index " + nb::cast<std::string>(nb::str(i)) + " out of range (" +
                                 std::to_string(num_states) + " states)"));
        return v;
    };
    if (PyLong_Check(obj.ptr())) return std::vector<std::int64_t>{one(obj.ptr())};
    if (PyUnicode_Check(obj.ptr()) || PyBytes_Check(obj.ptr()) || PyByteArray_Check(obj.ptr())) raise(bad);
    nb::object seq;
    if (PySequence_Check(obj.ptr())) {
        seq = nb::steal(PySequence_Fast(obj.ptr(), "states"));
        if (!seq.is_valid()) PyErr_Clear();
    }
    if (!seq.is_valid()) {
        // Integer scalars other than int (NumPy's, 0-d integer arrays).
        if (!PyIndex_Check(obj.ptr()) || PyFloat_Check(obj.ptr())) raise(bad);
        return std::vector<std::int64_t>{one(obj.ptr())};
    }
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
    std::vector<std::int64_t> out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.ptr(), i);
        if (PyUnicode_Check(item) || PyFloat_Check(item)) raise(bad);
        out.push_back(one(item));
    }
    return out;
}

// ---- D3plot -----------------------------------------------------------------

using SegStates = std::optional<std::variant<std::int64_t, std::vector<std::int64_t>>>;

// A zero-copy view of `block` has its D3plot as NumPy base: the D3plot
// exports the viewed bytes through the buffer protocol, but only while
// `block` builds the array over them, and only to the thread doing so.
struct PendingExport {
    PyObject* owner = nullptr;
    const char* data = nullptr;
    std::size_t len = 0;
};
thread_local PendingExport g_export;

int d3plot_getbuffer(PyObject* self, Py_buffer* view, int flags) {
    if (g_export.owner != self) {
        view->obj = nullptr;
        PyErr_SetString(PyExc_BufferError, "a D3plot exports its data only through D3plot.block");
        return -1;
    }
    return PyBuffer_FillInfo(view, self, const_cast<char*>(g_export.data), static_cast<Py_ssize_t>(g_export.len),
                             1, flags);
}

PyType_Slot d3plot_slots[] = {{Py_bf_getbuffer, reinterpret_cast<void*>(&d3plot_getbuffer)}, {0, nullptr}};

// A read-only float32 array of `shape` and byte `strides` over mapped memory
// of `self` spanning `extent` bytes from `data`, whose base is `self`.
nb::object strided_view(nb::handle self, const float* data, std::size_t extent, nb::tuple shape, nb::tuple strides) {
    nb::object ndarray = nb::module_::import_("numpy").attr("ndarray");
    g_export = {self.ptr(), reinterpret_cast<const char*>(data), extent};
    struct Reset {
        ~Reset() { g_export = {}; }
    } reset;
    return ndarray(shape, "float32", self, 0, strides);
}

// A read-only float32 array (n, count, values) with strides (step, values * 4,
// 4) bytes over mapped memory of `self`, whose base is `self`.
nb::object view_array(nb::handle self, const float* data, std::uint64_t step, std::size_t n, std::uint64_t count,
                      std::uint64_t values) {
    const std::size_t extent = (n - 1) * step + count * values * 4;
    return strided_view(self, data, extent, nb::make_tuple(n, count, values), nb::make_tuple(step, values * 4, 4));
}

nb::object d3plot_block(nb::handle self, const StateBlockV& which, nb::handle states) {
    const d3::D3plot& d = *nb::inst_ptr<d3::D3plot>(self);
    auto plan = unwrap(d.plan_block(to_block(which), states_arg(states, d.num_states())));
    const std::size_t n = plan.states.size();
    if (plan.view) return view_array(self, plan.view->data, plan.view->stride_bytes, n, plan.extent.count, plan.extent.values);
    if (d.control().word_size == 4) {
        OwnedArray<float> out(plan.elements);
        unwrap(d.copy_block(plan, out.data()));
        return out.to_numpy({n, plan.extent.count, plan.extent.values});
    }
    OwnedArray<double> out(plan.elements);
    unwrap(d.copy_block(plan, out.data()));
    return out.to_numpy({n, plan.extent.count, plan.extent.values});
}

// D3plot.array: a strided view when the plan has one, else a C-order copy.
nb::object d3plot_array(nb::handle self, const std::string& name, nb::handle states) {
    const d3::D3plot& d = *nb::inst_ptr<d3::D3plot>(self);
    auto plan = unwrap(d3::plan_array(d, name, states_arg(states, d.num_states())));
    const d3::NamedArray& a = plan.array;
    const std::size_t n = plan.states.size();
    nb::list shape;
    shape.append(n);
    for (std::uint64_t k : a.shape) shape.append(k);
    if (plan.view) {
        nb::list strides;
        strides.append(plan.view->stride_bytes);
        for (std::uint64_t k : a.strides) strides.append(k * 4);
        const std::size_t extent = (n - 1) * plan.view->stride_bytes + a.extent_words() * 4;
        return strided_view(self, plan.view->data, extent, nb::tuple(shape), nb::tuple(strides));
    }
    nb::object flat;
    if (d.control().word_size == 4) {
        OwnedArray<float> out(plan.elements);
        unwrap(d3::copy_array(d, plan, out.data()));
        flat = out.to_numpy({plan.elements});
    } else {
        OwnedArray<double> out(plan.elements);
        unwrap(d3::copy_array(d, plan, out.data()));
        flat = out.to_numpy({plan.elements});
    }
    return flat.attr("reshape")(nb::tuple(shape));
}

// D3plot.control: the control words by name, as a read-only mapping.
nb::object d3plot_control(const d3::D3plot& d) {
    nb::dict words;
    for (const d3::ControlWord& w : d3::control_words(d.control(), d.file(0)))
        std::visit([&](const auto& v) { words[w.name.c_str()] = nb::cast(v); }, w.value);
    return nb::module_::import_("types").attr("MappingProxyType")(words);
}

nb::object d3plot_segment_field(const d3::D3plot& d, nb::handle field, const SegStates& states) {
    using Kind = d3::D3plot::SegmentFieldKind;
    Kind kind;
    std::int64_t index;
    if (nb::isinstance<InterfaceFieldV>(field)) {
        kind = Kind::Interface;
        index = nb::cast<const InterfaceFieldV&>(field).value;
    } else if (nb::isinstance<FsiforFieldV>(field)) {
        kind = Kind::Fsifor;
        index = nb::cast<const FsiforFieldV&>(field).value;
    } else {
        raise(Error::type("field must be an InterfaceField or FsiforField"));
    }
    std::optional<std::vector<std::int64_t>> sel;
    if (states) {
        if (auto* i = std::get_if<std::int64_t>(&*states))
            sel = std::vector<std::int64_t>{*i};
        else
            sel = std::get<std::vector<std::int64_t>>(*states);
    }
    auto f = unwrap(d.segment_field(kind, index, sel));
    return nb::cast(to_numpy<float>(std::move(f.values), {f.states, f.segments, f.width}));
}

d3::D3plot open_released(const std::string& path) {
    return unwrap(released([&] { return d3::D3plot::open(path); }));
}

nb::object ids_array(std::vector<std::int64_t>&& v) { return nb::cast(to_numpy_1d<std::int64_t>(std::move(v))); }

nb::tuple conn_pair(std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>>&& cp, std::size_t k) {
    std::size_t m = cp.second.size();
    auto conn = to_numpy<std::int64_t>(std::move(cp.first), {m, k});
    auto parts = to_numpy_1d<std::int64_t>(std::move(cp.second));
    return nb::make_tuple(conn, parts);
}

// ---- Writers and editor -------------------------------------------------------

struct PyD3plotWriter : Claimable {
    d3::D3plotWriter w;
    explicit PyD3plotWriter(d3::D3plotWriter x) : w(std::move(x)) {}
};

struct PyIntforWriter : Claimable {
    d3::IntforWriter w;
    explicit PyIntforWriter(d3::IntforWriter x) : w(std::move(x)) {}
};

struct PyD3plotEditor : Claimable {
    d3::D3plotEditor e;
    explicit PyD3plotEditor(d3::D3plotEditor x) : e(std::move(x)) {}
};

nb::bytes as_py_bytes(const std::string& s) { return nb::bytes(s.data(), s.size()); }

void write_bytes_released(const std::string& bytes, const std::string& path) {
    unwrap(released([&] { return write_file(path, bytes, FifoOpen::WaitForReader); }));
}


}  // namespace

// ---- Registration ---------------------------------------------------------------

void bind_d3plot(nb::module_& m) {
    nb::class_<d3::D3plot>(m, "D3plot",
                           "A d3plot, intfor or FSIFOR family opened read-only: the base file and its numbered "
                           "continuation files, memory-mapped for the life of the object.",
                           nb::is_final(), nb::type_slots(d3plot_slots))
        .def(
            "__init__", [](d3::D3plot* self, const std::string& path) { new (self) d3::D3plot(open_released(path)); },
            nb::arg("path"),
            "Open the family whose base file is `path` (continuation files path01, path02, ... are found in "
            "its directory).  Raises RuntimeError when the files cannot be read or are not a d3plot.")
        .def("__repr__",
             [](const d3::D3plot& d) {
                 return "D3plot(" + std::to_string(d.num_nodes()) + " nodes, " + std::to_string(d.num_states()) +
                        " states)";
             })
        .def_prop_ro(
            "num_nodes", [](const d3::D3plot& d) { return d.num_nodes(); }, "Number of nodes (NUMNP).")
        .def_prop_ro(
            "num_states", [](const d3::D3plot& d) { return d.num_states(); }, "Number of states of the family.")
        .def_prop_ro(
            "filetype", [](const d3::D3plot& d) { return d.control().filetype; },
            "The FILETYPE control word: 1 for d3plot, 4 for interface-force files.")
        .def_prop_ro(
            "is_interface_force", [](const d3::D3plot& d) { return d.control().filetype == 4; },
            "True for an interface-force (intfor) file.")
        .def_prop_ro(
            "is_fsifor", [](const d3::D3plot& d) { return d.control().fsifor; },
            "True for an FSIFOR file (negative NV2D).")
        .def(
            "times", [](const d3::D3plot& d) { return to_numpy_1d<double>(std::vector<double>(d.times())); },
            "The time of every state, float64 [num_states].")
        .def(
            "initial_coordinates",
            [](const d3::D3plot& d) {
                return to_numpy<double>(std::vector<double>(d.initial_coords()), {d.num_nodes(), 3});
            },
            "The initial node coordinates, float64 [num_nodes, 3].")
        .def(
            "node_coordinates",
            [](const d3::D3plot& d, Index state) {
                std::uint64_t s = state.get("state");
                auto v = unwrap(released([&] { return d.node_coordinates(s); }));
                return to_numpy<double>(std::move(v), {d.num_nodes(), 3});
            },
            nb::arg("state"), "The current node coordinates of one state, float64 [num_nodes, 3].")
        .def(
            "node_coordinates_all",
            [](const d3::D3plot& d) {
                OwnedArray<double> out(d.num_states() * d.num_nodes() * 3);
                unwrap(released([&] { return d.node_coordinates_all_into(out.data()); }));
                return out.to_numpy({d.num_states(), d.num_nodes(), 3});
            },
            "The current node coordinates of every state, float64 [num_states, num_nodes, 3].")
        .def(
            "displacement_magnitudes",
            [](const d3::D3plot& d, Index state) {
                std::uint64_t s = state.get("state");
                return to_numpy_1d<double>(
                    unwrap(released([&] { return d.displacement_magnitudes(s); })));
            },
            nb::arg("state"),
            "Distance of every node from its initial position in one state, float64 [num_nodes].")
        .def(
            "max_displacement_final",
            [](const d3::D3plot& d) { return unwrap(released([&] { return d.max_displacement_final(); })); },
            "The largest node displacement of the last state (NaN skipped, never negative).")
        .def(
            "node_ids", [](const d3::D3plot& d) { return ids_array(d.node_ids()); },
            "User node ids, int64 (1, 2, ... when the file has no numbering section).")
        .def(
            "solid_ids", [](const d3::D3plot& d) { return ids_array(d.solid_ids()); }, "User solid ids, int64.")
        .def(
            "shell_ids", [](const d3::D3plot& d) { return ids_array(d.shell_ids()); },
            "User shell ids (segment ids of an interface-force file), int64.")
        .def(
            "part_ids", [](const d3::D3plot& d) { return ids_array(d.part_ids()); }, "User part ids, int64.")
        .def(
            "solid_connectivity", [](const d3::D3plot& d) { return conn_pair(d.solid_connectivity(), 8); },
            nb::sig("def solid_connectivity(self) -> tuple[numpy.ndarray, numpy.ndarray]"),
            "Solid connectivity as (int64 [NEL8, 8] node numbers as stored, int64 [NEL8] part numbers).")
        .def(
            "shell_connectivity", [](const d3::D3plot& d) { return conn_pair(d.shell_connectivity(), 4); },
            nb::sig("def shell_connectivity(self) -> tuple[numpy.ndarray, numpy.ndarray]"),
            "Shell connectivity as (int64 [NEL4, 4] node numbers as stored, int64 [NEL4] part numbers).")
        .def(
            "beam_ids", [](const d3::D3plot& d) { return ids_array(d.beam_ids()); }, "User beam ids, int64.")
        .def(
            "thick_shell_ids", [](const d3::D3plot& d) { return ids_array(d.thick_shell_ids()); },
            "User thick-shell ids, int64.")
        .def(
            "part_titles",
            [](const d3::D3plot& d) {
                std::vector<std::int64_t> ids;
                nb::list titles;
                for (auto& t : d.part_titles()) {
                    ids.push_back(t.id);
                    titles.append(nb::str(text::utf8_lossy(t.title).c_str()));
                }
                return nb::make_tuple(ids_array(std::move(ids)), titles);
            },
            nb::sig("def part_titles(self) -> tuple[numpy.ndarray, list[str]]"),
            "Part ids (int64) and titles (trailing blanks removed) of the title section that follows the "
            "geometry; empty when the family stores none.")
        .def(
            "beam_connectivity", [](const d3::D3plot& d) { return conn_pair(d.beam_connectivity(), 5); },
            nb::sig("def beam_connectivity(self) -> tuple[numpy.ndarray, numpy.ndarray]"),
            "Beam connectivity as (int64 [NEL2, 5]: the two end nodes, the orientation node and two further "
            "words as stored, int64 [NEL2] part numbers).")
        .def(
            "thick_shell_connectivity", [](const d3::D3plot& d) { return conn_pair(d.thick_shell_connectivity(), 8); },
            nb::sig("def thick_shell_connectivity(self) -> tuple[numpy.ndarray, numpy.ndarray]"),
            "Thick-shell connectivity as (int64 [NELT, 8] node numbers as stored, int64 [NELT] part numbers).")
        .def_prop_ro("control", &d3plot_control,
                     nb::sig("def control(self) -> collections.abc.Mapping[str, int | float | str]"),
                     "The control words of the first file by their database names, read-only: TITLE (text), "
                     "RUNTIME, FILETYPE, SOURCE_VERSION, RELEASE_NUMBER (text), VERSION (a real), NDIM, NUMNP, ICODE, "
                     "NGLBV, IT, IU, IV, IA, NEL8, NUMMAT8, NUMDS, NUMST, NV3D, NEL2, NUMMAT2, NV1D, NEL4, NUMMAT4, "
                     "NV2D, NEIPH, NEIPS, MAXINT, NMSPH, NGPSPH, NARBS, NELT, NUMMATT, NV3DT, IOSHL1 ... IOSHL4, "
                     "IALEMAT, NCFDV1, NCFDV2, NADAPT, NMMAT, NUMFLUID, INN, NPEFG, NEL48, IDTDT and EXTRA as "
                     "stored; NWEAR, NPRESSURE, NSHEAR, NFORCE and NGAP in an interface-force file; the EXTRA "
                     "words NEL20, NT3D, NEL27, NEIPB, ... that the file holds; NUMRBE when NDIM is 5 or 7.")
        .def(
            "arrays",
            [](const d3::D3plot& d) {
                std::vector<std::string> names;
                for (const d3::NamedArray& a : unwrap(d3::list_arrays(d))) names.push_back(a.name);
                return names;
            },
            "The names of the per-state result arrays of this family, in state-record order (see array).  "
            "Raises RuntimeError when a control word disagrees with the size of its block.")
        .def("array", &d3plot_array, nb::arg("name"), nb::arg("states") = nb::none(),
             nb::sig("def array(self, name: str, states: int | collections.abc.Sequence[int] | None = None) "
                     "-> numpy.ndarray"),
             "One named per-state result array of the selected states, shape (n, ...), under the names of "
             "lasso-python's ArrayType: timesteps; global_kinetic_energy, global_internal_energy, "
             "global_total_energy, global_velocity [n, 3]; part_internal_energy, part_kinetic_energy, "
             "part_velocity [n, parts, 3], part_mass, part_hourglass_energy, rigid_wall_force, "
             "rigid_wall_position; node_displacement [n, nodes, 3] (current coordinates), node_temperature, "
             "node_heat_flux, node_mass_scaling, node_temperature_gradient, node_residual_forces, "
             "node_residual_moments, node_velocity, node_acceleration; element_solid_stress [n, solids, ips, 6], "
             "element_solid_effective_plastic_strain, element_solid_history_variables, element_solid_strain; "
             "element_tshell_stress [n, tshells, layers, 6], element_tshell_effective_plastic_strain, "
             "element_tshell_history_variables, element_tshell_strain [n, tshells, 2, 6]; element_beam_axial_force, "
             "element_beam_shear_force, element_beam_bending_moment, element_beam_torsion_moment, "
             "element_beam_axial_stress, element_beam_shear_stress, element_beam_plastic_strain, "
             "element_beam_axial_strain, element_beam_history_vars; element_shell_stress "
             "[n, shells, layers, 6], element_shell_effective_plastic_strain [n, shells, layers], "
             "element_shell_history_vars, element_shell_bending_moment, element_shell_shear_force, "
             "element_shell_normal_force, element_shell_thickness, element_shell_unknown_variables, "
             "element_shell_strain [n, shells, 2, 6], element_shell_internal_energy, "
             "element_shell_plastic_strain_tensor, element_shell_thermal_strain_tensor; node_is_alive or "
             "element_solid_is_alive, element_tshell_is_alive, element_shell_is_alive, element_beam_is_alive.\n\n"
             "`states` is as for block.  Single-precision arrays of evenly spaced states of one file are "
             "read-only strided float32 views over the mapped file that keep this object alive (no copy); "
             "otherwise a new array in the file's precision.  A name the family does not hold raises KeyError; "
             "a control word that disagrees with the size of its block raises RuntimeError naming the word.")
        .def(
            "available_blocks",
            [](const d3::D3plot& d) {
                nb::list out;
                for (int i = 0; i < d3::kNumStateBlocks; ++i)
                    if (d.control().block_extent(static_cast<d3::StateBlock>(i))) out.append(enum_member<StateBlockTag>(i));
                return out;
            },
            nb::sig("def available_blocks(self) -> list[StateBlock]"),
            "The result blocks present in every state, in StateBlock value order.")
        .def(
            "block_layout",
            [](const d3::D3plot& d, const StateBlockV& b) -> std::optional<std::tuple<std::uint64_t, std::uint64_t>> {
                auto layout = d.control().block_extent(to_block(b));
                if (!layout) return std::nullopt;
                return std::make_tuple(layout->count, layout->values);
            },
            nb::arg("block"), "(count, values per entity) of a block, or None when the block is absent.")
        .def("block", &d3plot_block, nb::arg("block"), nb::arg("states") = nb::none(),
             nb::sig("def block(self, block: StateBlock, states: int | collections.abc.Sequence[int] | None = None) "
                     "-> numpy.ndarray"),
             "One result block of the selected states as [n, count, values].\n\n"
             "`states` is None (all), an int or a sequence of ints; negative indices count from the end.  "
             "Single-precision blocks of evenly spaced states of one file are read-only float32 views over the "
             "mapped file that keep this object alive; otherwise a new array in the file's precision.  An "
             "absent block raises KeyError.")
        .def("segment_field", &d3plot_segment_field, nb::arg("field"), nb::arg("states") = nb::none(),
             nb::sig("def segment_field(self, field: InterfaceField | FsiforField, "
                     "states: int | collections.abc.Sequence[int] | None = None) -> numpy.ndarray"),
             "One named per-segment field of an interface-force or FSIFOR file, float32 [n, segments, width].");
}

void bind_open_d3plot(nb::module_& m) {
    m.def(
        "open_d3plot", [](const std::string& path) { return open_released(path); }, nb::arg("path"),
        "Open a d3plot family; the same as D3plot(path).");
}

void bind_d3plot_writer(nb::module_& m) {
    nb::class_<PyD3plotWriter>(m, "D3plotWriter",
                               "Builds a single-precision d3plot of nodes, solids and shells with per-state node "
                               "motion and optional element result blocks, written as one file.",
                               nb::is_final())
        .def(
            "__init__",
            [](PyD3plotWriter* self, nb::handle coords, std::optional<std::string> title) {
                auto w = unwrap(d3::D3plotWriter::create(float_values(coords), title.value_or("")));
                new (self) PyD3plotWriter(std::move(w));
            },
            nb::arg("node_coords"), nb::arg("title") = nb::none(),
            nb::sig("def __init__(self, node_coords: numpy.ndarray, title: str | None = None) -> None"),
            "A new writer for the nodes of `node_coords` (a float32 or float64 array of x, y, z values).")
        .def(
            "add_solids",
            [](PyD3plotWriter& s, nb::handle conn, std::optional<std::vector<std::int64_t>> parts) {
                ExclusiveClaim claim(s);
                auto rows = conn_rows(conn, 8, "solid conn must have shape (M, 8)");
                s.w.add_solids(rows, parts ? &*parts : nullptr);
            },
            nb::arg("conn"), nb::arg("parts") = nb::none(),
            nb::sig("def add_solids(self, conn: numpy.ndarray, parts: collections.abc.Sequence[int] | None = None) "
                    "-> None"),
            "Append solids: `conn` is an int64 array (M, 8) of node numbers; parts default to 1.")
        .def(
            "add_shells",
            [](PyD3plotWriter& s, nb::handle conn, std::optional<std::vector<std::int64_t>> parts) {
                ExclusiveClaim claim(s);
                auto rows = conn_rows(conn, 4, "shell conn must have shape (M, 4)");
                s.w.add_shells(rows, parts ? &*parts : nullptr);
            },
            nb::arg("conn"), nb::arg("parts") = nb::none(),
            nb::sig("def add_shells(self, conn: numpy.ndarray, parts: collections.abc.Sequence[int] | None = None) "
                    "-> None"),
            "Append shells: `conn` is an int64 array (M, 4) of node numbers; parts default to 1.")
        .def(
            "set_ids",
            [](PyD3plotWriter& s, std::optional<std::vector<std::int64_t>> node_ids,
               std::optional<std::vector<std::int64_t>> shell_ids, std::optional<std::vector<std::int64_t>> solid_ids,
               std::optional<std::vector<std::int64_t>> part_ids) {
                ExclusiveClaim claim(s);
                if (node_ids) s.w.set_node_ids(low32(*node_ids));
                if (shell_ids) s.w.set_shell_ids(low32(*shell_ids));
                if (solid_ids) s.w.set_solid_ids(low32(*solid_ids));
                if (part_ids) s.w.set_part_ids(low32(*part_ids));
            },
            nb::arg("node_ids") = nb::none(), nb::arg("shell_ids") = nb::none(), nb::arg("solid_ids") = nb::none(),
            nb::arg("part_ids") = nb::none(),
            "Replace each id list that is given.  Node, solid and shell lists must match their entity counts "
            "when the file is written; the first P part ids are written (P = the largest part number), parts "
            "without one are numbered i + 1.")
        .def(
            "set_solid_results",
            [](PyD3plotWriter& s, nb::handle results) {
                ExclusiveClaim claim(s);
                std::size_t last = 0;
                auto v = float_values(results, &last);
                s.w.set_solid_results(last, std::move(v));
            },
            nb::arg("results"), nb::sig("def set_solid_results(self, results: numpy.ndarray) -> None"),
            "Raw solid results (n_states, solids, values); the last dimension is the values per solid.")
        .def(
            "set_shell_results",
            [](PyD3plotWriter& s, nb::handle results) {
                ExclusiveClaim claim(s);
                std::size_t last = 0;
                auto v = float_values(results, &last);
                s.w.set_shell_results(last, std::move(v));
            },
            nb::arg("results"), nb::sig("def set_shell_results(self, results: numpy.ndarray) -> None"),
            "Raw shell results (n_states, shells, values); the last dimension is the values per shell.")
        .def(
            "add_state",
            [](PyD3plotWriter& s, double time, nb::handle disp, nb::handle vel, nb::handle acc) {
                ExclusiveClaim claim(s);
                auto d = float_values(disp);
                auto v = opt_float_values(vel);
                auto a = opt_float_values(acc);
                unwrap(s.w.add_state(static_cast<float>(time), std::move(d), std::move(v), std::move(a)));
            },
            nb::arg("time"), nb::arg("disp"), nb::arg("vel") = nb::none(), nb::arg("acc") = nb::none(),
            nb::sig("def add_state(self, time: float, disp: numpy.ndarray, vel: numpy.ndarray | None = None, "
                    "acc: numpy.ndarray | None = None) -> None"),
            "Append a state: current coordinates `disp` (3 * num_nodes values) and optional velocities and "
            "accelerations (present on every state or on none).")
        .def(
            "to_bytes",
            [](PyD3plotWriter& s) {
                SharedClaim claim(s);
                return as_py_bytes(unwrap(s.w.to_bytes()));
            },
            "The whole file as bytes.  Raises RuntimeError when ids or results disagree with the entities "
            "and states.")
        .def(
            "write",
            [](PyD3plotWriter& s, const std::string& path) {
                SharedClaim claim(s);
                write_bytes_released(unwrap(s.w.to_bytes()), path);
            },
            nb::arg("path"), "Write the file to `path` (OSError when the system refuses).");
}

void bind_d3plot_editor(nb::module_& m) {
    nb::class_<PyD3plotEditor>(m, "D3plotEditor",
                               "A single-precision d3plot family loaded into memory to overwrite node coordinates "
                               "or result blocks and write back; every other byte is kept.",
                               nb::is_final())
        .def(
            "__init__",
            [](PyD3plotEditor* self, const std::string& path) {
                auto e = unwrap(released([&] { return d3::D3plotEditor::load(path); }));
                new (self) PyD3plotEditor(std::move(e));
            },
            nb::arg("path"), "Load the family whose base file is `path`.")
        .def_prop_ro(
            "num_nodes",
            [](PyD3plotEditor& s) {
                SharedClaim claim(s);
                return s.e.num_nodes();
            },
            "Number of nodes (NUMNP).")
        .def_prop_ro(
            "num_states",
            [](PyD3plotEditor& s) {
                SharedClaim claim(s);
                return s.e.num_states();
            },
            "Number of states of the family.")
        .def(
            "set_block",
            [](PyD3plotEditor& s, const StateBlockV& b, Index state, nb::handle data) {
                ExclusiveClaim claim(s);
                std::uint64_t st = state.get("state");
                auto v = float_values(data);
                unwrap(s.e.set_block(to_block(b), st, v));
            },
            nb::arg("block"), nb::arg("state"), nb::arg("data"),
            nb::sig("def set_block(self, block: StateBlock, state: int, data: numpy.ndarray) -> None"),
            "Overwrite one block of one state with `data` (count * values values, as D3plot.block gives "
            "for one state).")
        .def(
            "set_node_coordinates",
            [](PyD3plotEditor& s, Index state, nb::handle coords) {
                ExclusiveClaim claim(s);
                std::uint64_t st = state.get("state");
                auto v = float_values(coords);
                unwrap(s.e.set_block(d3::StateBlock::Displacement, st, v));
            },
            nb::arg("state"), nb::arg("coords"),
            nb::sig("def set_node_coordinates(self, state: int, coords: numpy.ndarray) -> None"),
            "Overwrite the current node coordinates (3 * num_nodes values) of one state.")
        .def(
            "save",
            [](PyD3plotEditor& s) {
                SharedClaim claim(s);
                unwrap(released([&] { return s.e.save(); }));
            },
            "Rewrite every loaded file in place.  Each file is written to a temporary name and renamed "
            "into place once all are written, so a failure leaves the old files.")
        .def(
            "write",
            [](PyD3plotEditor& s, const std::string& path) {
                SharedClaim claim(s);
                unwrap(released([&] { return s.e.write(path); }));
            },
            nb::arg("path"), "Write the family as path, path01 ... path99, path100 ...");
}

void bind_intfor_writer(nb::module_& m) {
    nb::class_<PyIntforWriter>(m, "IntforWriter",
                               "Builds a single-precision interface-force (intfor) file, or its FSIFOR variant, of "
                               "contact segments with per-state node motion and per-segment values.",
                               nb::is_final())
        .def(
            "__init__",
            [](PyIntforWriter* self, nb::handle coords, Index n_interfaces, std::optional<std::string> title) {
                std::uint64_t nif = n_interfaces.get("n_interfaces");
                auto w = unwrap(d3::IntforWriter::create(float_values(coords), nif, title.value_or("")));
                new (self) PyIntforWriter(std::move(w));
            },
            nb::arg("node_coords"), nb::arg("n_interfaces") = 1, nb::arg("title") = nb::none(),
            nb::sig("def __init__(self, node_coords: numpy.ndarray, n_interfaces: int = 1, "
                    "title: str | None = None) -> None"),
            "A new writer for the nodes of `node_coords`.")
        .def(
            "add_segments",
            [](PyIntforWriter& s, nb::handle conn, std::optional<std::vector<std::int64_t>> ids) {
                ExclusiveClaim claim(s);
                auto rows = conn_rows(conn, 4, "segment conn must have shape (M, 4)");
                s.w.add_segments(rows, ids ? &*ids : nullptr);
            },
            nb::arg("conn"), nb::arg("ids") = nb::none(),
            nb::sig("def add_segments(self, conn: numpy.ndarray, ids: collections.abc.Sequence[int] | None = None) "
                    "-> None"),
            "Append segments (int64 array (M, 4)); ids default to 1 ... M within this call.")
        .def(
            "set_node_ids",
            [](PyIntforWriter& s, std::vector<std::int64_t> ids) {
                ExclusiveClaim claim(s);
                s.w.set_node_ids(low32(ids));
            },
            nb::arg("node_ids"), "Set the user node ids (one per node when the file is written).")
        .def(
            "set_fields",
            [](PyIntforWriter& s, Index wear, Index pressure, Index shear, Index force, Index gap) {
                ExclusiveClaim claim(s);
                s.w.set_fields(wear.get("wear"), pressure.get("pressure"), shear.get("shear"), force.get("force"),
                               gap.get("gap"));
            },
            nb::arg("wear") = 0, nb::arg("pressure") = 0, nb::arg("shear") = 0, nb::arg("force") = 0,
            nb::arg("gap") = 0, "Set the widths of the five interface fields and clear FSIFOR.")
        .def(
            "set_fsifor",
            [](PyIntforWriter& s, Index n) {
                ExclusiveClaim claim(s);
                s.w.set_fsifor(n.get("n"));
            },
            nb::arg("n"), "Mark the file FSIFOR with `n` values per segment.")
        .def_prop_ro(
            "nv2d",
            [](PyIntforWriter& s) {
                SharedClaim claim(s);
                return s.w.nv2d();
            },
            "Values per segment: the FSIFOR count, else the sum of the field widths.")
        .def(
            "add_state",
            [](PyIntforWriter& s, double time, nb::handle disp, nb::handle vel, nb::handle seg) {
                ExclusiveClaim claim(s);
                auto d = float_values(disp);
                auto v = float_values(vel);
                auto g = float_values(seg);
                unwrap(s.w.add_state(static_cast<float>(time), std::move(d), std::move(v), std::move(g)));
            },
            nb::arg("time"), nb::arg("disp"), nb::arg("vel"), nb::arg("segment_values"),
            nb::sig("def add_state(self, time: float, disp: numpy.ndarray, vel: numpy.ndarray, "
                    "segment_values: numpy.ndarray) -> None"),
            "Append a state: coordinates and velocities (3 * num_nodes values each) and segments * nv2d "
            "segment values.")
        .def(
            "to_bytes",
            [](PyIntforWriter& s) {
                SharedClaim claim(s);
                return as_py_bytes(unwrap(s.w.to_bytes()));
            },
            "The whole file as bytes.  Raises RuntimeError when node ids or a state's segment values "
            "disagree with the nodes and segments.")
        .def(
            "write",
            [](PyIntforWriter& s, const std::string& path) {
                SharedClaim claim(s);
                write_bytes_released(unwrap(s.w.to_bytes()), path);
            },
            nb::arg("path"), "Write the file to `path` (OSError when the system refuses).");
}

void bind_state_block(nb::module_& m) {
    bind_enum<StateBlockTag>(m, "StateBlock", "The result blocks of a d3plot state record.",
                             {{"Displacement", 0},
                              {"Velocity", 1},
                              {"Acceleration", 2},
                              {"Solid", 3},
                              {"ThickShell", 4},
                              {"Beam", 5},
                              {"Shell", 6}});
}

void bind_interface_field(nb::module_& m) {
    bind_enum<InterfaceFieldTag>(m, "InterfaceField", "The per-segment fields of an interface-force file.",
                                 {{"Wear", 0}, {"Pressure", 1}, {"Shear", 2}, {"Force", 3}, {"Gap", 4}});
}

void bind_fsifor_field(nb::module_& m) {
    bind_enum<FsiforFieldTag>(m, "FsiforField", "The per-segment values of an FSIFOR file.",
                              {{"Pressure", 0},
                               {"ForceX", 1},
                               {"ForceY", 2},
                               {"ForceZ", 3},
                               {"RelativeVelocity", 4},
                               {"VelocityX", 5},
                               {"VelocityY", 6},
                               {"VelocityZ", 7}});
}

}  // namespace tarvex::py
