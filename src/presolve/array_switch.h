// The two versions of a presolved problem: the presolved arrays current and
// the original ones saved (or the other way round), exchanged as a whole.
#ifndef KLSOL_PRESOLVE_ARRAY_SWITCH_H
#define KLSOL_PRESOLVE_ARRAY_SWITCH_H

#include <cstdint>
#include <vector>

namespace kl {

// Arrays that exist in both versions: the problem (1 to 9), the quadratic
// objective (83, 82, 84, 85) and the entity, set and bound-reference arrays,
// which compaction and scaling rewrite for the presolved problem. The
// original's blocks wait in the saved registry while the presolved problem
// is current. An id whose array does not exist has no block in either.
inline constexpr int32_t kVersionedArrays[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  83, 82, 84, 85, 10, 11,
                                               12, 13, 14, 15, 16, 17, 18, 19, 20, 26, 86, 88, 95, 97};

// What compaction added to the cut pool and its room controls, taken back
// when presolve gives up after compaction.
struct ModelCutsStored {
  std::vector<int32_t> records;  // in the order stored
  int32_t elements_before = 0;
  int32_t nrxtra_added = 0;
  int32_t nmxtra_added = 0;
};
extern ModelCutsStored model_cuts_stored;

// direction 0: the presolved problem becomes current; 1: the original.
void switch_problem_arrays(int32_t direction);
// Gives the presolved problem up: frees its arrays, the position map and the
// record stack (the caller then switches to the original with direction 1).
void free_presolve_arrays();

// The presolved problem given up without postsolve (presolve found the
// problem infeasible or unbounded, or could not finish): free_presolve_arrays
// and switch_problem_arrays(1), and the original's basis header, objective
// constants, typed-entry count and flags put back exactly as before
// presolve, so that the loaded problem is current as it was loaded.
void restore_original_problem();

// The form an earlier global search presolved, given up for the original
// problem: its basis is the one the last keep-mode postsolve mapped back,
// with the header rebuilt from the status words.
void discard_presolved_problem();

// Keeps what restore_original_problem puts back that no versioned array
// holds; presolve_allocate calls it before the first change.
void keep_original_problem_words();

}  // namespace kl

#endif
