// What every way of loading a problem shares with the problem-file readers:
// the sizing of the spare room for cuts, the two sorts of the loaded data
// and the problem-name line.
#ifndef KLSOL_FILES_LOAD_SUPPORT_H
#define KLSOL_FILES_LOAD_SUPPORT_H

#include <cstdint>

namespace kl {

// Spare rows and elements for the cuts of a later global search. The caller
// stores the new problem's nrow, nseq (= nrow + NRXTRA + columns), nglent and
// nelem first. Writes the column count (attribute 1018), cut_space_mode and,
// where the caller has not set them, NRXTRA, NMXTRA, MXCPOL and MXCPEL; the
// values stay in the controls for later loads.
void size_cut_space();

// Sorts n triplets in place by first_key, then second_key.
void sort_index_pairs_with_values(int32_t* first_keys, int32_t* second_keys, double* values, int32_t n);

// Sorts the members of every set (slots set_start[k]+1 .. set_start[k+1] of
// set_member_ref and set_member_column) by increasing reference value.
void sort_sos_members();

// Message 96 with the problem-name attribute (its first 8 characters).
void report_problem_name();

}  // namespace kl

#endif
