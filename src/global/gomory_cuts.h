// Gomory mixed-integer cuts read off the simplex tableau of the current
// optimal basis.
//
// Interface summary (all in namespace kl):
//   generate_gomory_cuts(single_call, caller_cut_type, list_capacity,
//                        list_count, cut_list, selection, max_rounds,
//                        round_number, cuts_found, rows_added, rows_removed,
//                        outcome)
//       Node mode (single_call != 1): up to max_rounds passes; each pass
//       separates a cut for every basic integer column strictly inside its
//       search bounds, picks the best pool cuts (select_active_cuts, mode 1,
//       threshold 1e-4), loads them and re-optimises. Selection bit 0x200
//       drops non-binding cut rows before each selection and after the last
//       pass. Single mode (single_call 1, the KLGENGOMCUT body): one pass,
//       cuts stored with caller_cut_type (storecut mode 2), their pool
//       records (counted from 1) appended to cut_list while list_count <
//       list_capacity and not listed yet; no LP work, cuts_found stays 0.
//       outcome: 0 passes ended, 1 LP not optimal after loading cuts, 2 no
//       fractional global entity, 3 no room for further cut rows.
//       round_number grows by one per pass. IFDBG and INOINV are 0 for the
//       call and restored on exit.
//   separate_gomory_cut(position, result, efficacy, term_count, single_call,
//                       caller_cut_type, list_capacity, list_count, cut_list)
//       One cut from the tableau row of basis position `position` (1-based).
//       result: 1 stored; -1 unstable row (or record already listed in
//       single mode); -2 no rounding cut; -3 a tiny coefficient; -4 empty;
//       -5 too dense; -6 more than kGomoryMaxTerms terms; -7 storecut failed
//       or stored nothing.
// Cuts are sense L, type 0 in node mode, record flags 0x200 (+0x100 at the
// top node). Work storage: real array 65 over column positions, zero
// between calls within a pass.
#ifndef KLSOL_GLOBAL_GOMORY_CUTS_H
#define KLSOL_GLOBAL_GOMORY_CUTS_H

#include <cstdint>

namespace kl {

inline constexpr int32_t kGomoryMaxTerms = 30000;

void generate_gomory_cuts(int32_t single_call, int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count,
                          int32_t* cut_list, int32_t selection, int32_t max_rounds, int32_t& round_number,
                          int32_t& cuts_found, int32_t& rows_added, int32_t& rows_removed, int32_t& outcome);

void separate_gomory_cut(int32_t position, int32_t& result, double& efficacy, int32_t& term_count,
                         int32_t single_call, int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count,
                         int32_t* cut_list);

}  // namespace kl

#endif
