#include "presolve/record_stack.h"

#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

int32_t presolve_int_top = 0;
int32_t presolve_real_top = 0;

namespace {

// Whole entries the stacks hold now.
int64_t int_capacity() { return block_words(array_cells[ARR_PRESOLVE_INTS]); }
int64_t real_capacity() { return block_words(array_cells[ARR_PRESOLVE_REALS]) / 2; }

}  // namespace

int32_t grow_presolve_stack(int32_t request) {
  // A capacity the caller set is a limit, not a starting size.
  if (integer_set_flags[ic::M_S] != 0) return 1;
  const int64_t ms = icv(ic::M_S);
  int64_t wanted = static_cast<int64_t>(request) + ms + ms / 4 + nseq;
  if (wanted > INT32_MAX / 2) wanted = INT32_MAX / 2;
  if (wanted <= ms) return 1;
  if (int32_t id = allocate_or_grow_array(ARR_PRESOLVE_INTS, array_cells[ARR_PRESOLVE_INTS], wanted); id != 0)
    return id;
  if (int32_t id = allocate_or_grow_array(ARR_PRESOLVE_REALS, array_cells[ARR_PRESOLVE_REALS], 2 * wanted); id != 0)
    return id;
  icv(ic::M_S) = static_cast<int32_t>(wanted);
  return 0;
}

int32_t grow_presolve_stack_ids(int32_t request, int32_t& real_id, int32_t& int_id) {
  const int32_t status = grow_presolve_stack(request);
  if (status == 0) {
    real_id = ARR_PRESOLVE_REALS;
    int_id = ARR_PRESOLVE_INTS;
  }
  return status;
}

bool reserve_presolve_record(int32_t n_ints, int32_t n_reals) {
  const int64_t ms = icv(ic::M_S);
  const int64_t int_short = static_cast<int64_t>(presolve_int_top) + n_ints - ms;
  const int64_t real_short = static_cast<int64_t>(presolve_real_top) + n_reals - ms;
  const int64_t shortfall = int_short > real_short ? int_short : real_short;
  if (shortfall > 0) {
    if (shortfall > INT32_MAX / 4) return false;
    if (grow_presolve_stack(static_cast<int32_t>(shortfall)) != 0) return false;
  }
  // The blocks can be smaller than M_S when the caller shrank it: never
  // write past what is allocated.
  if (presolve_int_top + n_ints > int_capacity() || presolve_real_top + n_reals > real_capacity()) {
    if (integer_set_flags[ic::M_S] != 0) return false;
    const int64_t need_i = presolve_int_top + static_cast<int64_t>(n_ints);
    const int64_t need_r = presolve_real_top + static_cast<int64_t>(n_reals);
    const int64_t need = need_i > need_r ? need_i : need_r;
    if (allocate_or_grow_array(ARR_PRESOLVE_INTS, array_cells[ARR_PRESOLVE_INTS], need) != 0) return false;
    if (allocate_or_grow_array(ARR_PRESOLVE_REALS, array_cells[ARR_PRESOLVE_REALS], 2 * need) != 0) return false;
    if (need > icv(ic::M_S)) icv(ic::M_S) = static_cast<int32_t>(need);
  }
  return true;
}

void push_presolve_int(int32_t value) { int_array(ARR_PRESOLVE_INTS)[++presolve_int_top] = value; }

void push_presolve_real(double value) { real_array(ARR_PRESOLVE_REALS)[++presolve_real_top] = value; }

bool push_presolve_record(const PresolveRecord& record) {
  if (!reserve_presolve_record(static_cast<int32_t>(record.ints.size()), static_cast<int32_t>(record.reals.size())))
    return false;
  for (double v : record.reals) push_presolve_real(v);
  for (int32_t v : record.ints) push_presolve_int(v);
  return true;
}

bool push_presolve_record(std::initializer_list<int32_t> ints, std::initializer_list<double> reals) {
  if (!reserve_presolve_record(static_cast<int32_t>(ints.size()), static_cast<int32_t>(reals.size()))) return false;
  for (double v : reals) push_presolve_real(v);
  for (int32_t v : ints) push_presolve_int(v);
  return true;
}

int32_t pop_presolve_int() { return int_array(ARR_PRESOLVE_INTS)[presolve_int_top--]; }

double pop_presolve_real() { return real_array(ARR_PRESOLVE_REALS)[presolve_real_top--]; }

int32_t top_presolve_int() { return int_array(ARR_PRESOLVE_INTS)[presolve_int_top]; }

void clear_presolve_stack() {
  presolve_int_top = 0;
  presolve_real_top = 0;
}

}  // namespace kl
