// Registration functions of the binding areas, called by the module's
// execution step in registration order (src/module.cpp).
#pragma once

#include <nanobind/nanobind.h>

namespace tarvex::py {
namespace nb = nanobind;

// include_tree.cpp
void bind_include_node(nb::module_& m);
void bind_parse_include_tree(nb::module_& m);

// keyword.cpp
void bind_keyword_file(nb::module_& m);
void bind_parse_keyword_file(nb::module_& m);
void bind_write_keyword(nb::module_& m);

// binout.cpp
void bind_binout(nb::module_& m);
void bind_parse_binout(nb::module_& m);
void bind_binout_editor(nb::module_& m);

// d3plot.cpp
void bind_d3plot(nb::module_& m);
void bind_open_d3plot(nb::module_& m);
void bind_d3plot_writer(nb::module_& m);
void bind_d3plot_editor(nb::module_& m);
void bind_intfor_writer(nb::module_& m);
void bind_state_block(nb::module_& m);
void bind_interface_field(nb::module_& m);
void bind_fsifor_field(nb::module_& m);

// validate.cpp
void bind_rule(nb::module_& m);
void bind_predicate(nb::module_& m);
void bind_finding(nb::module_& m);
void bind_report(nb::module_& m);
void bind_cmp(nb::module_& m);
void bind_severity(nb::module_& m);

// deck.cpp
void bind_deck(nb::module_& m);
void bind_entity(nb::module_& m);
void bind_keyword(nb::module_& m);
void bind_file(nb::module_& m);
void bind_parse_deck(nb::module_& m);

// batch.cpp
void bind_workspace(nb::module_& m);

// signal.cpp / injury.cpp: one registration per function, in module order.
void bind_resultant(nb::module_& m);
void bind_hic(nb::module_& m);
void bind_hic15(nb::module_& m);
void bind_hic36(nb::module_& m);
void bind_clip(nb::module_& m);
void bind_severity_index(nb::module_& m);
void bind_bric(nb::module_& m);
void bind_ubric(nb::module_& m);
void bind_vc(nb::module_& m);
void bind_nij(nb::module_& m);
void bind_nic(nb::module_& m);
void bind_tibia_index(nb::module_& m);
void bind_cfc(nb::module_& m);
void bind_filtfilt(nb::module_& m);
void bind_butterworth(nb::module_& m);
void bind_integrate(nb::module_& m);
void bind_differentiate(nb::module_& m);
void bind_decimate(nb::module_& m);
void bind_resample_linear(nb::module_& m);

}  // namespace tarvex::py
