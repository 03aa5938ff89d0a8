// The undo of the presolve records: postsolve pops them newest first and
// each rule puts its removed rows and columns back into the solution and the
// basis of the original problem.
#ifndef KLSOL_PRESOLVE_POSTSOLVE_UNDO_H
#define KLSOL_PRESOLVE_POSTSOLVE_UNDO_H

#include <array>
#include <cstdint>
#include <vector>

#include "presolve/record_stack.h"

namespace kl {

// status_carry bits.
enum StatusCarry : int32_t {
  CARRY_NOT_RESTORED = 0x10,  // a column outside the presolved problem, not yet restored
  CARRY_BOUND_CHANGED = 0x80,  // the entity presolve changed a bound of the column
};

// The original problem's solution while postsolve rebuilds it, indexed by
// original position (1..orig_nseq, entry 0 unused). The duals and reduced
// costs go straight into the reduced-cost array (id 42), where the solution
// writer and the queries read them.
struct PostsolveWork {
  // x(k) of every column; a row's entry is scratch for its activity.
  std::vector<double> lp_values;
  // StatusCarry bits of columns, or the presolved status word a position
  // carried over.
  std::vector<int32_t> status_carry;
  // 1 in keep mode: the records stay for a later postsolve.
  int32_t keep = 0;
  // 1 when an integer solution of the search is mapped back: restored
  // integer columns must come back integral.
  int32_t integral = 0;
  // 1 when the presolved solution has values and duals but no basis (an
  // interior one): a record then reads which bound a restored position
  // rests on from the signs of its reduced cost, not from status bits.
  int32_t interior = 0;
};
extern PostsolveWork postsolve_work;

// Records undone so far, by type (entry 0 unused): what a solve through
// presolve exercised, for the tests that aim at one type.
extern std::array<int64_t, REC_ROW_DIVISION + 1> postsolve_records_undone;

// The value at which a row of column j alone fixed j (the original problem
// current): the row's bound, rounded inward for an integer column when
// presolve rounded integer bounds (as it does presolving for the search).
double singleton_row_bound(int32_t j, bool lower_side, double bound);

// Pops every record and applies its undo rule, on the original problem's
// arrays (current) and postsolve_work. A record type outside 1..12 (or a
// record longer than the stack) is an internal error: message 968 and
// status 32; both stacks are then emptied, since nothing below can be read.
// Returns false in that case.
bool undo_presolve_records();

}  // namespace kl

#endif
