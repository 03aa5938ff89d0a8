// The modeller's binary problem load: NAME.sol (a 32-item header, then one
// 8-item record per row, column and set) and NAME.bif (keyed records of two
// items, ended by a record whose first key is 0). Items are 8 bytes: two
// little-endian 32-bit words, a little-endian double or 8 characters.
//
// Both files are read whole and checked before the problem store is
// touched: every key must be known and of the kind its place allows, every
// count must fit the file and its reservations, and every position must lie
// in its range. A structural fault fails the load (message 5 naming the
// file); a record that cannot be applied is rejected (message 546) and
// counted against IGNORE. The problem is then built through the array
// loaders, so the load keeps every invariant of a load from arrays.
#ifndef KLSOL_FILES_MODELLER_LOAD_H
#define KLSOL_FILES_MODELLER_LOAD_H

#include <cstdint>
#include <vector>

namespace kl {

// What the load leaves for the global search's own routines: branching
// directives of entity columns and the rows to mark as model cuts, all with
// caller indices counted from 0.
struct ModellerDirectives {
  std::vector<int32_t> columns;
  std::vector<int32_t> priorities;
  std::vector<char> directions;  // U, D or N
  std::vector<double> up_costs;
  std::vector<double> down_costs;
  std::vector<int32_t> model_cut_rows;
};

// Loads the problem of the current problem name. result: 0 on success, 1
// when the load failed or more records were rejected than IGNORE allows
// (status 32; in that case the problem stays loaded).
void vornin_load(int32_t& result, ModellerDirectives& after);

}  // namespace kl

#endif
