// The iteration driver's set-up and the steps it shares with its loop: the
// carving of the int work block, the class order, the choice of the system
// with its analysis or augmented factorisation, the numeric factorisation in
// the form the system asks for, the structure rebuilt after dropped pivots,
// and the corrector and refinement budgets. Internal to iterate_barrier.
#ifndef KLSOL_BARRIER_ITERATE_ITERATION_SETUP_H
#define KLSOL_BARRIER_ITERATE_ITERATION_SETUP_H

#include <cstdint>

#include "barrier/barrier_params.h"
#include "barrier/iterate/iteration_driver.h"

namespace kl::barrier_iteration {

// The driver's int work block, carved into the arrays its callees need.
struct IntWork {
  int32_t* order_map;
  int32_t* order_inverse;
  int32_t* list_a;
  int32_t* list_b;
  int32_t* list_c;
  int32_t* list_d;
  int32_t* class_work;
  int32_t* column_node;
  int32_t* pattern_start;
  int32_t* pattern_end;
  int32_t* dense_mark;
  int32_t* quad_row_count;
  int32_t* length_histogram;
  int32_t* row_mark;
  int32_t* column_queue;
  int32_t* supernode_end;
  int32_t* supernode_mark;
  int32_t* update_lists;
  int32_t* factor_cursor;
  int32_t* factor_scratch;
  int32_t* shared;  // the analysis, the augmented factorisation, the symbolic recomputation
};

inline constexpr int64_t kPositionArrays = 17;  // arrays of N + 2 ints before the update lists

// Everything one run carries between its steps.
struct Run {
  barrier_params& p;
  const BarrierIterateArrays& a;
  IntWork w;
  int32_t* ranges;
  int32_t n = 0;
  int32_t m = 0;
  int32_t positions = 0;
  bool quadratic = false;

  int32_t system_kind = 0;
  int32_t regularise_equality = 0;
  double ratio_floor = 0.0;
  double lsq_weight = 0.0;
  double flops = 0.0;
  bool started = false;  // the starting point has set s and w
};

enum class SetUp { kDone, kEnd };

int64_t shared_work_ints(const barrier_params& p);
IntWork carve_work(const barrier_params& p, int32_t* block);
// Processor time in hundredths of a second.
int32_t cpu_centiseconds();
// Class order on the first call, entry order on a later one.
void classify(Run& r);
// Class order again after positions were removed, the iterate along.
void reclassify(Run& r);
// Cuts entries of removed rows (and quadratic entries of removed columns)
// after the counts moved away from those remembered.
void compact_after_removals(Run& r, int32_t cols_before, int32_t rows_before, int32_t cols_now,
                            int32_t rows_now);
// One numeric factorisation of diag in the form the system and PUSHFACT ask
// for.
void factorise(Run& r, int32_t& pivot_dropped, int32_t& removed_row_count);
// Regroup, symbolic factor and cache blocks after dropped pivots; the
// negative status when the lists do not fit, else 0.
int32_t rebuild_structure(Run& r, int32_t& status, int64_t& factor_nonzeros);
// Choice of the system, analysis or augmented factorisation, trial
// factorisation; at most one retry by the length rule.
SetUp set_up_system(Run& r, int32_t& status, int32_t& removed_col_count, int32_t& removed_row_count,
                    int64_t& factor_nonzeros);
// Corrector and refinement budgets from the work per factor entry.
void set_budgets(barrier_params& p, double flops, int64_t budget_nonzeros);

}  // namespace kl::barrier_iteration

#endif
