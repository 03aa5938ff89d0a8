// Placeholders for separators that arrive with their own branches: each
// finds nothing. This file goes when they are merged.
#include "global/clique_cuts.h"
#include "global/gomory_cuts.h"
#include "global/knapsack_cuts.h"

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

void generate_clique_cuts(int32_t& cuts_found, int32_t, int32_t, int32_t, int32_t&, int32_t*) { cuts_found = 0; }

void generate_gomory_cuts(int32_t, int32_t, int32_t, int32_t&, int32_t*, int32_t, int32_t, int32_t&,
                          int32_t& cuts_found, int32_t& rows_added, int32_t& rows_removed, int32_t& outcome) {
  cuts_found = 0;
  rows_added = 0;
  rows_removed = 0;
  outcome = 0;
}

}  // namespace kl
