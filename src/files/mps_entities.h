// The parts of the MPS main pass that create global entities and the
// problem's special records: the entity bound types of BOUNDS (UI, SC, BV,
// PI, LI, SI), the SETS section, the quadratic sections QMATRIX and QUADOBJ,
// the RECURSE section and the ?VUB section. They work on the scratch
// storage of the read (mps_reader.h).
#ifndef KLSOL_FILES_MPS_ENTITIES_H
#define KLSOL_FILES_MPS_ENTITIES_H

#include <cstdint>

#include "files/mps_reader.h"

namespace kl {

// The chains of the RECURSE entries of kinds CV and SB (record numbers from
// 1, 0 for none) that the successive-LP passes walk; set by every MPS load.
struct RecurseChains {
  int32_t first_cv_entry = 0;
  int32_t cv_entry_count = 0;
  int32_t first_sb_entry = 0;
  int32_t sb_entry_count = 0;
};
extern RecurseChains recurse_chains;

// Makes the column a global entity of the type word with the status flag.
// A column that is already one gets message 106 and stays as it was
// (false); too many entities stop the read (message 107, false).
bool mps_make_entity(MpsRead& r, int32_t position, int32_t type_word, int32_t flag);

// True for the two-letter entity bound types UI, SC, BV, PI, LI, SI.
bool is_entity_bound_type(const char* type);
// The effect of an entity bound line of that type with value v on the column.
void read_entity_bound(MpsRead& r, int32_t position, const char* type, double v);

void read_set_line(MpsRead& r);
void finish_sets_section(MpsRead& r);

// Starts a QMATRIX (full_matrix) or QUADOBJ section; false when the read
// stops (no COLUMNS yet).
bool start_quadratic_section(MpsRead& r, bool full_matrix);
void read_quadratic_line(MpsRead& r);
// Sorts the section's entries and checks them for repeats (message 362);
// an entry that an earlier section gave too is a repeat.
void finish_quadratic_section(MpsRead& r);

bool start_recurse_section(MpsRead& r);
void read_recurse_line(MpsRead& r);

void read_vub_line(MpsRead& r);

}  // namespace kl

#endif
