// Presolve of global entities inside the global search.
//
// presolve_global_entities: after the entity round. Fills the
// variable-bound tables vub_ref / vlb_ref (arrays 95, 97) read by the cut
// generators and the search's row preprocessing: for column k, a positive
// row position (a two-entry bound row whose controlling column is an
// integer entity), in vub_ref also the controlling binary's position, -c
// when binary c forces k to its lower limit through a row, and for a
// semi-continuous column its entity number in both. Marks bound rows with
// row-type bit 0x10000. Splits an indicator: a zero-cost binary z in
// exactly two rows x_k - U z <= 0 and x_k - L z >= 0, with x_k's own lower
// bound 0 and 0 <= L <= U, becomes a semi-continuous entity on x_k with
// range {0} or [L, U]; z and both rows leave (record type 12).
//
// mark_entity_flags: around the duplicate-column pass (SSV002 2). Mode 0
// takes the entity marks and the upper bound off binaries of set-packing
// rows so that identical ones merge like continuous columns; mode 1 gives
// them back, with the upper bound each had.
#ifndef KLSOL_PRESOLVE_ENTITY_PRESOLVE_H
#define KLSOL_PRESOLVE_ENTITY_PRESOLVE_H

#include <cstdint>

namespace kl {

struct EntityPresolveCounts {
  int32_t rows_removed = 0;
  int32_t columns_removed = 0;
  int32_t elements_removed = 0;
};

// state: 0, or 5 when the record stack could not grow.
void presolve_global_entities(EntityPresolveCounts& counts, int32_t& state);
// mode 0 before, 1 after the duplicate-column pass; nothing with IPSLCT
// bit 0x200.
void mark_entity_flags(int32_t mode);

}  // namespace kl

#endif
