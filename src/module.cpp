// The _tarvex extension module: created by multi-phase initialisation, whose
// single execution step registers every class and function in a fixed order.
// A registration that fails stops the step and becomes the import error.
#include "python/bindings.hpp"
#include "python/frame.hpp"

NB_MODULE(_tarvex, m) {
    using namespace tarvex::py;
    m.doc() = "High-performance LS-DYNA keyword file include tree parser.";
    init_errors(m);
    init_enums(m);

    bind_include_node(m);        //  1 IncludeNode
    bind_parse_include_tree(m);  //  2 parse_include_tree
    bind_keyword_file(m);        //  3 KeywordFile
    bind_parse_keyword_file(m);  //  4 parse_keyword_file
    bind_write_keyword(m);       //  5 write_keyword

    bind_binout(m);              //  6 Binout
    bind_parse_binout(m);        //  7 parse_binout

    bind_d3plot(m);           //  8 D3plot
    bind_open_d3plot(m);      //  9 open_d3plot
    bind_d3plot_writer(m);    // 10 D3plotWriter
    bind_d3plot_editor(m);    // 11 D3plotEditor
    bind_intfor_writer(m);    // 12 IntforWriter

    bind_binout_editor(m);       // 13 BinoutEditor

    bind_state_block(m);      // 14 StateBlock
    bind_interface_field(m);  // 15 InterfaceField
    bind_fsifor_field(m);     // 16 FsiforField

    bind_rule(m);                // 17 Rule
    bind_predicate(m);           // 18 Predicate
    bind_finding(m);             // 19 Finding
    bind_report(m);              // 20 Report
    bind_cmp(m);                 // 21 Cmp
    bind_severity(m);            // 22 Severity

    bind_deck(m);                   // 23 Deck
    bind_entity(m);                 // 24 Entity
    bind_keyword(m);                // 25 Keyword
    bind_file(m);                   // 26 File
    bind_parse_deck(m);             // 27 parse_deck
    bind_workspace(m);              // 28 Workspace

    bind_resultant(m);           // 29 resultant
    bind_hic(m);                 // 30 hic
    bind_hic15(m);               // 31 hic15
    bind_hic36(m);               // 32 hic36
    bind_clip(m);                // 33 clip
    bind_severity_index(m);      // 34 severity_index
    bind_bric(m);                // 35 bric
    bind_ubric(m);               // 36 ubric
    bind_vc(m);                  // 37 vc
    bind_nij(m);                 // 38 nij
    bind_nic(m);                 // 39 nic
    bind_tibia_index(m);         // 40 tibia_index
    bind_cfc(m);                 // 41 cfc
    bind_filtfilt(m);            // 42 filtfilt
    bind_butterworth(m);         // 43 butterworth
    bind_integrate(m);           // 44 integrate
    bind_differentiate(m);       // 45 differentiate
    bind_decimate(m);            // 46 decimate
    bind_resample_linear(m);     // 47 resample_linear

    present_functions(m);
}
