// The irreducible infeasible set search: the body of KLIIS and of the IIS
// command.
//
// Each set is found in two passes over the rows and then over the bounded
// columns: a dual test first relaxes at once those with no weight in the
// phase-1 duals of the infeasible basis, then a deletion filter relaxes each
// remaining one in turn (its slack or its bounds made free) and re-solves; a
// relaxation that makes the problem feasible marks a member and is undone,
// any other stays. The set found is then kept relaxed and the search repeats
// until the problem is feasible or NIIS sets are found. When it became
// feasible, each member is relaxed alone with the other sets relaxed, and
// the listing says which of them restore feasibility that way.
//
// Afterwards the problem data, the sense, BIGM, ISHFMX, IQUIET, IFPRES and
// IFMEM are as before, the basis is a slack basis with IFNBAS 0, the members
// of the last set listed carry PS_PRESOLVE_TRACE (read by KLGETIIS) and
// integer problem attribute 1031 holds the number of sets found.
#ifndef KLSOL_SIMPLEX_IIS_H
#define KLSOL_SIMPLEX_IIS_H

#include <cstdint>
#include <vector>

namespace kl {

inline constexpr int32_t kIisSetCountAttribute = 1031;

// Set by the last find_iis: each set's members as positions, in the order
// found. Kept for the tests and the listing; cleared by the next search.
extern std::vector<std::vector<int32_t>> iis_sets_found;

// keep_output: the inner optimisations print their messages (letter o);
// to_file: the report also goes to NAME.iis (letter f).
void find_iis(bool keep_output, bool to_file);

}  // namespace kl

#endif
