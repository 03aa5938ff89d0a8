// The node store of the global search: the node header, the packed node
// record, the node image, the active-node table, the node file (glb), the
// cut-list file it creates beside it (ctp), the recursion-value file (rec)
// and the growth of the table through the wrk file; and the routines that
// make the LP's bounds agree with a node's entity states.
//
// Interface summary (all 1-based, process-global like the rest of the search):
//
//   node_header, kept_node_header     the node being processed and its copy
//   active_table                      free-list head, current slot, active count
//   node_cut_lists_in_use             1 while node cut lists are kept
//   root_cut_count                    cut rows after the root's solve
//   direct_child_flag                 > 0: the next node is the child just made
//   restore_node_cuts_hook            called by unpack_node/swap_node when
//                                     node cut lists are in use (the driver
//                                     sets it to the cut-list restorer)
//
//   count_two_bit_entities()          -> T (entities of type 2 or 3)
//   node_record_size_for_problem()    bytes of one record for the present counts
//   set_node_record_size()            fixes the record length, opens the files
//   open_global_work_files()          creates glb and ctp; 45, status 2 on failure
//   alloc_global_arrays(error)        image and arrays 21-25, 55; error = failed id
//   pack_node() / unpack_node() / swap_node() / keep_node_header()
//   read_image_header() / write_image_header(h)  the image's header fields
//   store_active_node(mode)           mode 1: current state, 0: the image; the
//                                     slot used becomes the current slot; a
//                                     full table grows first (status 32 when
//                                     it cannot)
//   take_active_node()                the record of the current slot into the
//                                     image (node id negated when the slot was
//                                     dropped), slot id := 0, node depth
//                                     attribute := the image's depth
//   write_node_record(n, buffer) / read_node_record()
//   grow_active_table(error)          MXANOD doubles, contents kept
//   write_rec_file() / read_rec_file() / delete_rec_file()
//   (applying a node's states to the LP's bounds: node_bounds.h)
//
// Entity states: arrays 13 (upper) and 14 (lower) hold one 32-bit word per
// column entity, clamped to plus or minus INTMAX. A set's window is a pair
// of doubles in array 23 (set_window_lower, set_window_upper) so that a
// window end equals the reference value it was split at; arrays 13 and 14
// are not used for sets during a search.
//
// Node record (no struct is written raw; every field little-endian):
//   bytes 0..103   header (kNodeHeaderBytes; offsets in node_store.cpp)
//   then           two-bit states, 16 per 32-bit word from the low bits:
//                  state = upper word + 2 x lower word, in entity order
//   then           every other entity in entity order: a column entity its
//                  lower then upper word (8 bytes); a set its window lower
//                  then upper end (two 8-byte doubles)
//   then           basis codes, 16 per 32-bit word, for rows 1 ..
//                  nrow - cut_row_count + root_cut_count, then columns
//                  first_col .. nseq: (pos_status >> 1) & 3
//   rest           padding to a multiple of 8 bytes
#ifndef KLSOL_GLOBAL_NODE_STORE_H
#define KLSOL_GLOBAL_NODE_STORE_H

#include <cstdint>

#include "problem/search_state.h"

namespace kl {

// The node being processed; travels in every node record.
struct NodeHeader {
  int32_t first_direction = 0;  // 1 up (raise the lower bound) first, 0 down
  // Pair of children made by the parent's branching (the parent's node_count
  // then). Positive: both children, first_direction first; negative: only
  // the other child; 0 for the two root records.
  int32_t node_id = 0;
  int32_t node_number = 0;    // |node_id| of the node being processed
  int32_t branch_entity = 0;  // 1..nglent, above nglent a user object, or 0
  int32_t fractional_count = 0;
  int32_t reserved = 0;
  int32_t depth = 0;
  double branch_value = 0.0;
  double bound = 0.0;  // objective of the node's LP (of the parent until solved)
  double degradation = 0.0;
  double up_estimate = 0.0;
  double down_estimate = 0.0;
  // Down branch: new upper state (column) or new window upper end (set).
  double down_limit = 0.0;
  // Up branch: new lower state (column) or new window lower end (set).
  double up_limit = 0.0;
  int32_t first_cut_list = 0;
  int32_t second_cut_list = 0;
  double set_split_value = 0.0;
};
inline constexpr int32_t kNodeHeaderBytes = 104;

extern NodeHeader node_header;
extern NodeHeader kept_node_header;

// The active-node table beside its arrays: 21 depth, 22 node id (0 free or
// inactive, negative dropped by KLDELNODE), 24 bound (double), 25 estimate
// bound + sense x degradation (double) or, for a free slot, the next free
// slot, 55 cut-list reference.
struct ActiveNodeTable {
  int32_t free_head = 1;
  int32_t current_slot = 0;
  int32_t active_count = 2;  // highest slot ever used; loops run 1..it
};
extern ActiveNodeTable active_table;

// node_cut_lists_in_use and root_cut_count: problem/search_state.h.
extern int32_t direct_child_flag;
// Number of entities of type 2 or 3 (T), set by count_two_bit_entities.
extern int32_t two_bit_entity_count;
extern void (*restore_node_cuts_hook)();

// Slot accessors of the table (1..MXANOD). Node ids change only through
// set_active_node_id, which keeps the count of occupied slots that the node
// log reports at every node without scanning the table.
int32_t active_node_id(int32_t slot);
void set_active_node_id(int32_t slot, int32_t id);
// Non-zero ids over slots 1 .. active count, from the kept count; exact as
// long as the table has only changed through set_active_node_id since the
// last recount_active_nodes.
int32_t occupied_active_slots();
// Counts the occupied slots afresh (at the start of every search call: a
// restore or a problem switch may have brought another table).
void recount_active_nodes();
int32_t& active_node_depth(int32_t slot);
double& active_node_bound(int32_t slot);
double& active_node_estimate(int32_t slot);
int32_t active_node_next_free(int32_t slot);
void set_active_node_next_free(int32_t slot, int32_t next);
int32_t& active_node_cut_list(int32_t slot);
// Frees slot: node id 0, pushed on the free list.
void free_active_slot(int32_t slot);
// Every slot free and linked k -> k + 1, head 1, active count 2, current
// slot 2 (the start of a search).
void reset_active_table();

// A set's window (array 23).
double& set_window_lower(int32_t entity);
double& set_window_upper(int32_t entity);

int32_t count_two_bit_entities();
int64_t node_record_size_for_problem();
void set_node_record_size();
void open_global_work_files();
void alloc_global_arrays(int32_t& error);

// Record blocks into and out of a byte buffer (little-endian).
void pack_node_header(const NodeHeader& header, unsigned char* destination);
NodeHeader unpack_node_header(const unsigned char* source);
void pack_entity_bounds(unsigned char* destination);
void unpack_entity_bounds(const unsigned char* source);
void pack_basis_status(unsigned char* destination);
void unpack_basis_status(const unsigned char* source);

// The node image's first record (array 74) and its header.
unsigned char* node_image();
NodeHeader read_image_header();
void write_image_header(const NodeHeader& header);

void pack_node();
void unpack_node();
void swap_node();
void keep_node_header();

void store_active_node(int32_t mode);
void take_active_node();
void write_node_record(int64_t record, const unsigned char* buffer);
void read_node_record();
void grow_active_table(int32_t& error);

void write_rec_file();
void read_rec_file();
// Removes the file write_rec_file made, if any.
void delete_rec_file();

}  // namespace kl

#endif
