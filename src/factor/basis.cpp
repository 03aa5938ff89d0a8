#include "factor/basis.h"

#include <algorithm>

#include "problem/factor_arrays.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

EtaFile eta_file;
FactorState factor;
RepairRecord repair_record;
FactorStats factor_stats;

namespace {

// Per-row arrays of the LU factor and their lengths in ints.
struct PerRowArray {
  int id;
  int32_t extra;
};
constexpr PerRowArray kPerRowArrays[] = {
    {ARR_INVERT_CHAINS, 0}, {ARR_COLUMN_COUNTS, kColumnCountExtra}, {ARR_ROW_ETA_CHAINS, 0},
    {ARR_ROW_ETA_HEADS, 0}, {ARR_U_HIGHEST_SLOT, 0},                {ARR_U_CHAINS, 0},
};
constexpr int kSlotIntArrays[] = {ARR_U_ROW, ARR_ETA_ROW, ARR_ETA_NEXT};

void report_capacity(int32_t capacity) {
  if (icv(ic::IFMSG) <= 9) return;
  begin_message(MSG_ETA_FILE_CAPACITY);
  insert_message_value12(capacity);
  emit_message();
}

void free_lu_blocks() {
  for (const PerRowArray& a : kPerRowArrays) free_array(a.id, array_cells[a.id]);
  for (int id : kSlotIntArrays) free_array(id, array_cells[id]);
  free_array(ARR_ETA_VALUE, array_cells[ARR_ETA_VALUE]);
}

}  // namespace

const char* invert_reason_text(InvertReason reason) {
  switch (reason) {
    case InvertReason::kFactorInvalid: return "no valid factor";
    case InvertReason::kNewBasis: return "new basis";
    case InvertReason::kUpdateLimit: return "update limit";
    case InvertReason::kEtaFileFull: return "eta file full";
    case InvertReason::kUnstableUpdate: return "unstable update";
    case InvertReason::kAccuracy: return "accuracy check";
    case InvertReason::kUserSolve: return "user solve";
    case InvertReason::kRecompute: return "final recompute";
  }
  return "unknown";
}

const char* attempt_restart_text(AttemptRestart restart) {
  switch (restart) {
    case AttemptRestart::kNone: return "none";
    case AttemptRestart::kEtaFileGrown: return "eta file grown";
    case AttemptRestart::kSingularRepaired: return "singular basis repaired";
    case AttemptRestart::kThresholdRaised: return "pivot threshold raised";
  }
  return "unknown";
}

int32_t alloc_lu_arrays() {
  free_lu_blocks();
  const int32_t rows = std::max(nrow, 1);
  int32_t failed = 0;
  for (const PerRowArray& a : kPerRowArrays) {
    if (failed == 0) failed = allocate_array(a.id, array_cells[a.id], words_for_ints(rows + a.extra));
  }
  const int32_t capacity = std::max(icv(ic::M_E_), kMinEtaCapacity) / kEtaCapacityStep * kEtaCapacityStep;
  if (failed == 0) report_capacity(capacity);
  for (int id : kSlotIntArrays) {
    if (failed == 0) failed = allocate_array(id, array_cells[id], words_for_ints(capacity));
  }
  if (failed == 0) failed = allocate_array(ARR_ETA_VALUE, array_cells[ARR_ETA_VALUE], words_for_reals(capacity));
  if (failed != 0) {
    free_lu_blocks();
    problem_flags &= ~(PF_LU_ARRAYS | PF_FACTOR_VALID);
    eta_file.eta_capacity = 0;
    eta_file.lu_rows = 0;
    begin_message(MSG_ARRAY_NO_MEMORY);
    insert_message_int(failed);
    emit_message();
    status_code = STATUS_NO_FACTOR_MEMORY;
    return failed;
  }
  eta_file.eta_capacity = capacity;
  eta_file.lu_rows = nrow;
  problem_flags |= PF_LU_ARRAYS;
  return 0;
}

void grow_lu_arrays(int32_t& failure, int32_t request) {
  failure = 0;
  const int32_t capacity = eta_file.eta_capacity;
  int64_t increment = capacity / 4 + static_cast<int64_t>(request) + 4 * static_cast<int64_t>(nrow);
  increment = std::max<int64_t>(increment, 10 * static_cast<int64_t>(nrow));
  if (increment > capacity) increment = static_cast<int64_t>(request) + capacity;
  const int64_t grown = (capacity + increment + kEtaCapacityStep) / kEtaCapacityStep * kEtaCapacityStep;
  if (grown > INT32_MAX / 2) {
    failure = 1;
    return;
  }
  const int32_t new_capacity = static_cast<int32_t>(grown);
  report_capacity(new_capacity);
  for (int id : kSlotIntArrays) {
    if (allocate_or_grow_array(id, array_cells[id], words_for_ints(new_capacity)) != 0) failure = 1;
  }
  if (allocate_or_grow_array(ARR_ETA_VALUE, array_cells[ARR_ETA_VALUE], words_for_reals(new_capacity)) != 0)
    failure = 1;
  if (failure != 0) return;
  eta_file.eta_capacity = new_capacity;
  icv(ic::M_E_) = new_capacity;
  ++factor_stats.eta_file_growths;
}

void release_lu_arrays() {
  free_factor_arrays();
  eta_file.eta_capacity = 0;
  eta_file.lu_rows = 0;
}

void reset_factor_state() {
  eta_file = EtaFile{};
  factor = FactorState{};
  repair_record.repair_count = 0;
  std::fill(std::begin(repair_record.removed_variables), std::end(repair_record.removed_variables), 0);
  std::fill(std::begin(repair_record.slack_rows), std::end(repair_record.slack_rows), 0);
  factor_stats = FactorStats{};
  update_count = 0;
  marks_exist = 0;
  shift_count = 0;
  perturbation_phase = 0;
  factor_accurate = 1;
  bigm_mode = 0;
  inequality_row_count = 0;
  low_value_count = 0;
  previous_ninf = 0;
}

}  // namespace kl
