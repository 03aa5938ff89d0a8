// The control record of one barrier solve, and the conventions every routine
// of the interior-point optimiser shares.
//
// One `barrier_params` lives for one solve: the driver fills it with the
// defaults below, overrides some fields from the library's controls, lets the
// parameter file change any key, and passes it first to every barrier
// routine. The barrier keeps no other state between its routines.
//
// Conventions of the barrier routines:
// - Arrays are 1-based: a routine takes a pointer `a` and uses a[1]..a[count];
//   the caller allocates count + 1 elements and a[0] is never read.
// - Positions: structural columns 1..n, the slack of row i at n + i; inside
//   `factor_index` the matrix row indices are the slack positions n + i.
// - `factor_index` (ints) and `factor_value` (doubles) are paired spaces of
//   `factor_space` entries: entries 1..`matrix_nz` hold the constraint matrix
//   by columns (`matrix_start`, `matrix_end`), the next `quad_nz` entries the
//   below-diagonal quadratic pattern by columns (`quad_start`), and the rest
//   is free for the ordering graph and the factor lists.
// - Counts that can pass 2^31 (fill sums, flop counts, space estimates) are
//   computed in 64 bits even where the record keeps an int.
// - No barrier routine takes memory of its own; a shortage is reported as
//   status -2 (work space) or -1 (factor lists), and the caller decides.
#ifndef KLSOL_BARRIER_BARRIER_PARAMS_H
#define KLSOL_BARRIER_BARRIER_PARAMS_H

#include <cstdint>

namespace kl {

// Barrier status, written through the status argument of the barrier
// routines.
enum BarrierStatus : int32_t {
  BARRIER_NOT_CONVEX = -3,        // the quadratic objective is not convex: nothing solved
  BARRIER_LISTS_TOO_LONG = -1,    // the factor lists do not fit the factor space
  BARRIER_SPACE_SHORT = -2,       // work space too short
  BARRIER_GO_ON = 0,              // no verdict yet
  BARRIER_STOPPED = 1,            // stopped without convergence
  BARRIER_OPTIMAL = 2,
  BARRIER_UNBOUNDED = 3,
  BARRIER_INFEASIBLE = 4,
  BARRIER_ITERATION_LIMIT = 5,    // stopped below the library's iteration limit
  BARRIER_NUMERICAL_FAILURE = 6,  // the factorisation failed numerically
};

// The text of a barrier status, for logs and test messages.
const char* barrier_status_text(int32_t status);

// System kinds of the dense-column analysis: which linear system the
// iterations factorise.
enum BarrierSystemKind : int32_t {
  SYSTEM_AUGMENTED = 1,
  SYSTEM_NORMAL_EQUATIONS = 2,
};

// A bound beyond this magnitude counts as absent inside the barrier
// (0.9 times the library's infinite bound 1e20).
inline constexpr double kBarrierInfiniteBound = 9e19;

inline constexpr int32_t kBarrierMessageBufferSize = 104;

// Fields in storage order. Capitalised fields are keys of the parameter file
// under the same name; the others are set by the driver or by the routine
// named with them.
struct barrier_params {
  int32_t col_count = 0;       // n, structural columns of the barrier problem
  int32_t quad_col_count = 0;  // n when the objective is quadratic, else 0
  int32_t row_count = 0;       // m
  int32_t var_count = 0;       // n + m positions
  int32_t matrix_nz = 0;       // matrix entries of the n columns
  int32_t quad_nz = 0;         // below-diagonal quadratic entries (all of them while memory is budgeted)
  int32_t in_place_count = 0;  // leading ranks whose factor column is the matrix column itself
  int32_t pivot_count = 0;     // length of `pivot_order`
  int32_t factor_space = 0;    // entries of `factor_index` and of `factor_value`
  int32_t free_space = 0;      // (factor_space - matrix_nz - quad_nz - 1) / 2 - 1
  int32_t ORDERING = 0;        // -1 none, 0 automatic, 1 minimum fill, 2 minimum degree, 3 dissection
  int32_t POSTORDER = 1;       // > 0: post-order the elimination tree
  int32_t PSUPNODE = 4;        // smallest supernode of the first blocking pass
  int32_t SSUPNODE = 4;        // smallest supernode of the second blocking pass
  int32_t NUMPROC = 1;
  int32_t L1_CACHE = 0;        // KB; 0 or less: no first-level blocking
  int32_t L2_CACHE = 512;      // KB
  int32_t PUSHFACT = 4;        // below 1 pull factorisation, else push
  int32_t SUPFILL = 25;        // percent of explicit zeros allowed by supernode amalgamation
  int32_t l1_block_rows = 0;   // rows per first-level chunk
  int32_t L1_LOOP = 8;
  int32_t L2_LOOP = 4;         // below 8 the four-way kernels, else the eight-way kernels
  double L1_SPEED = 2.0;
  double TSDIR = 1e-16;
  double TOPT1 = 1e-9;
  double TOPT2 = 1e-9;
  double TFEAS1 = 1e-6;
  double TFEAS2 = 1e-6;
  double INFTOL = 10000.0;
  int32_t MAXITER = 199;
  int32_t objective_sense = 1;  // +1 minimise, -1 maximise
  double TPLUS = 1e-10;
  double TZER = 1e-35;
  double TRES1 = 0.01;
  double TRES2 = 1e-10;
  int32_t MAXREF = 5;
  int32_t REFMET = 1;
  int32_t scaling_passes = 5;   // low byte SPASSES1, bits 8 and up SPASSES2
  int32_t scaling_methods = 2;  // low byte SMETHOD1, bits 8 and up SMETHOD2
  double OBJNORM = 100.0;
  double RHSNORM = 0.0;
  double SIGNORE = 1e-12;
  double STOPCOR = 0.001;
  double BARSET = 0.2;
  double BARGROW = 1000.0;
  double BARMIN = 1e-15;
  double INIBARR = 0.0;
  int32_t MINCORR = -1;
  int32_t MAXCORR = 1;
  int32_t MINCCORR = 0;
  int32_t MAXCCORR = 9;
  double TARGET = 0.09;
  double TSMALL = 0.2;
  double TLARGE = 20.0;
  double CENTER = 5.0;
  double CORSTOP = 1.01;
  double PRDARE = 0.999;
  double DUDARE = 0.999;
  double TFIXVAR = 1e-25;
  double TFIXSLACK = 1e-25;
  double DSLACKLIM = 1e-25;
  double PRMIN = 150.0;
  double UPMAX = 50000.0;
  double DUMIN = 150.0;
  double LSQWEIGHT = 10.0;
  int32_t SMETHOD = 2;
  int32_t SAFEMET = -3;
  int32_t PRESOLV = 2047;
  double SOFTREG = 1e-12;
  double HARDREG = 1e-16;
  double SCFREE = 1e-6;
  double SCEQU = 1e-15;
  int32_t REGULARIZE = 27;  // bits 0x8 structural, 0x10 row with structure, 0x20 bare row
  int32_t iteration_flags = 0;
  double MAXDENSE = 0.2;
  double DENSGAP = 3.5;
  int32_t SETLAM = 0;       // >= 1 augmented system, 0 automatic, < 0 length rule from LAM
  int32_t DENSLEN = 10;
  double PRESFEAS = 1e-8;
  double PRIMALBND = 1000.0;
  double DUALBND = 10000.0;
  double PIVRTOL = 0.01;
  double PIVATOL = 0.0001;
  double FILLTOL = 4.0;
  double PIVXTOL = 1e-8;
  int32_t DULOOP = 10;
  int32_t BNDLOOP = 5;
  double MINSTEP = 0.5;
  double COMPLMIN = 0.001;
  double TPIV1 = 0.001;
  double TPIV2 = 1e-8;
  double TABS = 1e-12;
  double TRABS = 1e-15;
  double LAM = -4.0;
  int32_t TFIND = 25;
  int32_t SUPDENS = 350;
  int32_t print_word = 0;  // 0 silent; < 0 library-style log; > 0 detail log (ITERLOG)
  char message_buffer[kBarrierMessageBufferSize] = {};
};

// Stores the default of every key, +1 in `objective_sense`, 2 in
// `scaling_methods` and 5 in `scaling_passes`. The dimension and space
// fields, `iteration_flags`, `print_word` and `message_buffer` keep what they
// held.
void set_barrier_defaults(barrier_params& params);

// The packed key fields.
inline int32_t smethod1(const barrier_params& p) { return p.scaling_methods & 255; }
inline int32_t smethod2(const barrier_params& p) { return p.scaling_methods / 256; }
inline int32_t spasses1(const barrier_params& p) { return p.scaling_passes & 255; }
inline int32_t spasses2(const barrier_params& p) { return p.scaling_passes / 256; }

// The barrier's two log routines: each sends `message_buffer` through the
// current message line; `log_barrier_detail` prints when `print_word` > 0,
// `log_barrier_line` when it is < 0. Neither clears the buffer.
void log_barrier_detail(barrier_params& params);
void log_barrier_line(barrier_params& params);

// Message 251 for a barrier that ran out of factor or work space (status -1
// or -2), with the status and the factor space it had.
void report_barrier_space_failure(const barrier_params& params, int32_t status);

}  // namespace kl

#endif
