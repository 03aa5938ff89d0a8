// Working data of one reduction round, shared by its families (column
// singletons, row reductions, dual reductions) and the frame that runs them.
// Valid during one call of presolve_reduce_pass.
#ifndef KLSOL_PRESOLVE_ROUND_WORK_H
#define KLSOL_PRESOLVE_ROUND_WORK_H

#include <cstdint>
#include <vector>

#include "presolve/record_stack.h"

namespace kl {

struct RoundWork {
  int32_t round = 1;
  // Records of later rounds carry stored lists: the original matrix no
  // longer describes what the round changed.
  bool later = false;
  // IPSLCT families.
  bool singletons = false;
  bool singleton_rows = false;
  bool forcing = false;
  bool dual = false;
  bool empty_rows = false;
  bool zero_reduced_cost = false;
  bool entity_sweeps = false;
  bool entity_round = false;
  bool verbose = false;
  // Costs are read in the minimising sense.
  bool maximise = false;
  // Redundancy tolerance of the row examination for the current pass.
  double redundancy_tol = 0.0;

  // Bounds on each row's dual value (index 1..nrow), minimising sense;
  // infinite when row-type flag 0x4000 (lower) or 0x2000 (upper) is set.
  std::vector<double> dual_lower;
  std::vector<double> dual_upper;
  // The column that last set each row's dual upper and lower bound (0 none).
  std::vector<int32_t> upper_setter;
  std::vector<int32_t> lower_setter;

  // With ITRACE: the row that implied each position's working lower and
  // upper bound (0: its own bound), and the explanation's queue.
  bool tracing = false;
  std::vector<int32_t> trace_lower;
  std::vector<int32_t> trace_upper;
  std::vector<int32_t> queue;

  // Pass counter of the second pass loop.
  int32_t last_pass = 0;
  int32_t rows_removed = 0;
  int32_t columns_removed = 0;
  int32_t elements_removed = 0;
  int32_t entities_removed = 0;
  int32_t set_members_removed = 0;
  int32_t tightenings = 0;
  int32_t short_equalities = 0;
  // A reduction was refused because of the basis.
  bool basis_refused = false;
  bool entity_changed = false;

  int32_t outcome = 0;
  int32_t conflict = 0;
  int32_t change = 0;
  // A conflict or a refused stack growth ends the families.
  bool stop = false;
  // The stack could not grow: the round ends without its clean-up.
  bool capacity = false;
};
extern RoundWork round_work;

// Cost of column j in the minimising sense.
double minimising_cost(int32_t j);

// Pushes a record; a refused growth ends the round with outcome 5.
bool push_round_record(const PresolveRecord& record);
// stored_list of column j's live rows other than skip_row: rows and their
// count to the ints, coefficients (and the cost when with_cost) to the reals.
void append_column_list(PresolveRecord& record, int32_t j, int32_t skip_row, bool with_cost);
// stored_list of row i's live columns other than skip_column.
void append_row_list(PresolveRecord& record, int32_t i, int32_t skip_column);

// Removes row i in the round: status, slack, its dual-bound setters' marks,
// and the counters (one row and `entries` elements).
void remove_round_row(int32_t i, int32_t entries);
// Row i's coefficient of column j (0 when absent).
double row_coefficient(int32_t i, int32_t j);
// Number of live entries of row i.
int32_t live_entries(int32_t i);

// Conflict exits. side: -1 the row's minimum activity exceeds its upper
// limit, 0 its maximum activity is below its lower limit. from_row: the row
// whose implied bounds crossed column j's (0 none). kind: 1 unbounded
// column, 2 dual-infeasible row.
void row_infeasible(int32_t i, int32_t side);
void column_infeasible(int32_t j, int32_t from_row);
void round_unbounded(int32_t position, int32_t kind);

// The families.
void remove_column_singletons();
void substitute_free_columns();
void apply_forcing_rows();
void examine_rows();
void tighten_implied_bounds();
void fix_locked_zero_cost_columns();
void test_reduced_costs();
// Dual row check of row i: true when it met a conflict.
bool dual_row_check(int32_t i);
// Column j takes over row i's dual lower (upper) bound: the previous setter
// loses its mark.
void set_dual_lower_setter(int32_t i, int32_t j);
void set_dual_upper_setter(int32_t i, int32_t j);

}  // namespace kl

#endif
