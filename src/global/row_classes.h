// Integer preprocessing of the rows at the start of a global search: the
// class of every model row (bits of its row_type word), the copies of the
// column bounds the search keeps in step with the node bounds, and the
// variable-bound references of the continuous columns. The row-based cut
// separators, the bound propagation and the clique generator read them.
//
// Interface summary (all in namespace kl):
//   RowClass bits (RC_*)          OR-ed into row_type next to the type code;
//                                 preprocess_mip_rows clears every one of
//                                 them first, so a later search never
//                                 inherits the classes of an earlier one
//   preprocess_mip_rows(error)    error := 0. Unless the problem is
//                                 presolved for the search (PF_PRESOLVED_
//                                 GLOBAL): search_upper/search_lower (ids
//                                 96/98) := the bounds; vub_ref/vlb_ref (ids
//                                 95/97) := the references below. Then the
//                                 rows are classified; cut_round_counter :=
//                                 0; row_classes_available := 1. PRTCUT > 0
//                                 prints the class counts (371..380, 457,
//                                 458, 470..472).
//   vub_ref(j), vlb_ref(j)        0; or a row position (< first_col): the
//                                 two-element variable-bound row; or a column
//                                 position (>= first_col): the binary partner
//                                 of a variable upper bound; or, for a
//                                 semi-continuous entity's column, the
//                                 entity's ordinal (tell it by PS_SEMICONTINUOUS)
//   lookup_variable_upper_bound(j, partner, factor)
//   lookup_variable_lower_bound(j, partner, factor)
//                                 x_j <= factor x partner (>= for the lower
//                                 one) when partner > 0; with partner 0 the
//                                 factor is the simple bound search_upper(j)
//                                 (search_lower(j)). Semi-continuous columns
//                                 get partner 0.
//   cut_round_counter             rounds made by the cut round driver in this
//                                 search; reset here
//   last_row_class_counts         the counts of the last classification (the
//                                 figures behind the PRTCUT report)
#ifndef KLSOL_GLOBAL_ROW_CLASSES_H
#define KLSOL_GLOBAL_ROW_CLASSES_H

#include <cstdint>

namespace kl {

enum RowClass : int32_t {
  RC_BINARY_KNAPSACK = 0x400,    // binaries only, magnitudes not all equal
  RC_INTEGER_KNAPSACK = 0x800,   // general integers (and binaries) only
  RC_MIXED_INTEGER = 0x1000,     // integers with continuous columns, or
                                 // variable-bounded continuous columns with
                                 // a non-binary partner
  RC_MIXED_BINARY = 0x2000,      // binaries with continuous columns, or
                                 // variable-bounded columns with binary partners
  RC_CONTINUOUS = 0x4000,        // continuous columns without variable bounds
  RC_SET_LE = 0x8000,            // set row on its <= side
  RC_VARIABLE_BOUND = 0x10000,   // x - u y <= 0 shape: two elements, rhs 0
  RC_GUB_KNAPSACK = 0x20000,     // binary knapsack sharing two columns with a set row
  RC_SET_GE = 0x80000,           // set row on its >= side
  RC_BINARY_ACTIVE = 0x100000,   // free binaries can make the row binding
  RC_VUB = 0x200000,             // one binary switching continuous columns off
  RC_SET_ROW = RC_SET_LE | RC_SET_GE,
  // Every class bit this preprocessing owns (not the model-cut bit 0x40000).
  RC_ALL = 0x3bfc00,
};

// Rows longer than this get no class.
inline constexpr int32_t kLongRowElements = 30000;

extern int32_t cut_round_counter;

// Counts of the last classification, by the first matching class in the
// order of the report.
struct RowClassCounts {
  int32_t continuous = 0;
  int32_t variable_bound = 0;
  int32_t set = 0;
  int32_t integer_knapsack = 0;
  int32_t binary_knapsack = 0;
  int32_t vub = 0;
  int32_t mixed_binary = 0;
  int32_t mixed_integer = 0;
  int32_t gub_knapsack = 0;
  int32_t binary_active = 0;
  int32_t long_rows = 0;
  int32_t empty_rows = 0;
  int32_t n_rows = 0;
  int32_t other = 0;
  // Some row of binaries/integers with equal magnitudes had a right-hand
  // side that is not a multiple of them (message 457).
  int32_t rhs_fraction = 0;
};
extern RowClassCounts last_row_class_counts;

void preprocess_mip_rows(int32_t& error);

void lookup_variable_upper_bound(int32_t j, int32_t& partner, double& factor);
void lookup_variable_lower_bound(int32_t j, int32_t& partner, double& factor);

}  // namespace kl

#endif
