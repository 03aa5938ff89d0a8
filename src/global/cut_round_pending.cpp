// Placeholders for separators that arrive with their own branches: each
// finds nothing. This file goes when they are merged.
#include "global/knapsack_cuts.h"
#include "global/propagation.h"
#include "global/row_classes.h"

namespace kl {

void separate_mir_cut(int32_t, int32_t, double&, double*, double*, const double*, double, int32_t& result, double&,
                      double*, double&, double& efficacy, int32_t*, int32_t*, double*) {
  result = 0;
  efficacy = 0.0;
}

void separate_general_cover(int32_t, double, const int32_t*, const double*, const double*, const double*, double,
                            int32_t& result, double&, double*, double&, double& efficacy, int32_t*, double*, double*,
                            int32_t*, int32_t) {
  result = 0;
  efficacy = 0.0;
}

void separate_row_gub_cover_cut(int32_t, int32_t, int32_t& result, int32_t, int32_t, int32_t, int32_t&, int32_t*) {
  result = 0;
}

void mir_cut_for_divisor(int32_t, int32_t, double, const double*, const double*, const double*, double, double,
                         int32_t& status, double&, double*, double&, double& efficacy) {
  status = -1;
  efficacy = 0.0;
}

PropagationStats propagation_stats;
RowClassCounts last_row_class_counts;

// Classifies nothing: no row reaches a row separator.
void preprocess_mip_rows(int32_t& error) {
  error = 0;
  cut_round_counter = 0;
}

void lookup_variable_upper_bound(int32_t, int32_t& partner, double& factor) {
  partner = 0;
  factor = 0.0;
}
void lookup_variable_lower_bound(int32_t, int32_t& partner, double& factor) {
  partner = 0;
  factor = 0.0;
}

// Fixes nothing and concludes nothing.
void propagate_bounds(int32_t*, int32_t, int32_t&, int32_t, int32_t& fixed, int32_t& unused, int32_t& overflow) {
  fixed = 0;
  unused = 0;
  overflow = 0;
}

}  // namespace kl
