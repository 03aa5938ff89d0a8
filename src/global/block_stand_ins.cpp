// Temporary stand-ins for the node store, node bounds, branching choice and
// node cut lists, so that the driver builds and runs before those blocks
// are merged. Every definition is weak: the blocks' own definitions replace
// them at link time. Column entities of types 1, 3 and 4 only.
#include <cmath>
#include <cstring>
#include <vector>

#include "factor/simplex_state.h"
#include "factor/starting_basis.h"
#include "global/branching.h"
#include "global/cut_rows.h"
#include "global/node_bounds.h"
#include "global/node_cut_lists.h"
#include "global/node_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"

#define KL_WEAK __attribute__((weak))

namespace kl {

KL_WEAK NodeHeader node_header;
KL_WEAK NodeHeader kept_node_header;
KL_WEAK ActiveNodeTable active_table;
KL_WEAK int32_t root_cut_count = 0;
KL_WEAK int32_t direct_child_flag = 0;
KL_WEAK int32_t two_bit_entity_count = 0;
KL_WEAK void (*restore_node_cuts_hook)() = nullptr;
KL_WEAK double fixed_entity_constant = 0.0;
KL_WEAK BranchEstimates branch_estimates;

namespace {

struct StandInRecord {
  NodeHeader header;
  std::vector<int32_t> upper, lower;
  std::vector<int32_t> basis;
};

struct StandInStore {
  std::vector<int32_t> id, depth, next, cut_list;
  std::vector<double> bound, estimate;
  std::vector<StandInRecord> records;
  StandInRecord image;
} stand_in;

void ensure_capacity(int32_t slot) {
  const std::size_t n = static_cast<std::size_t>(slot) + 2;
  if (stand_in.id.size() >= n) return;
  const std::size_t old = stand_in.id.size();
  stand_in.id.resize(n, 0);
  stand_in.depth.resize(n, 0);
  stand_in.next.resize(n, 0);
  stand_in.cut_list.resize(n, 0);
  stand_in.bound.resize(n, 0.0);
  stand_in.estimate.resize(n, 0.0);
  stand_in.records.resize(n);
  for (std::size_t k = old; k < n; ++k) stand_in.next[k] = static_cast<int32_t>(k) + 1;
}

StandInRecord pack_current() {
  StandInRecord r;
  r.header = node_header;
  OneBased<int32_t> up = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> lo = int_array(ARR_ENTITY_ROOT_LOWER);
  for (int32_t e = 1; e <= nglent; ++e) {
    r.upper.push_back(up[e]);
    r.lower.push_back(lo[e]);
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p) r.basis.push_back((status[p] >> 1) & 3);
  return r;
}

void unpack_current(const StandInRecord& r) {
  node_header = r.header;
  OneBased<int32_t> up = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> lo = int_array(ARR_ENTITY_ROOT_LOWER);
  for (int32_t e = 1; e <= nglent && e <= static_cast<int32_t>(r.upper.size()); ++e) {
    up[e] = r.upper[static_cast<std::size_t>(e - 1)];
    lo[e] = r.lower[static_cast<std::size_t>(e - 1)];
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq && p <= static_cast<int32_t>(r.basis.size()); ++p) {
    if (p > nrow && p < store.first_col) continue;
    status[p] = (status[p] & ~0x6) | (r.basis[static_cast<std::size_t>(p - 1)] << 1);
  }
  problem_flags &= ~PF_FACTOR_VALID;
}

int32_t entity_kind_of(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }

void set_column_bounds(int32_t p, double lo, double up) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  real_array(ARR_LOWER)[p] = lo;
  real_array(ARR_UPPER)[p] = up;
  if (real_array(ARR_WORK_LOWER)) real_array(ARR_WORK_LOWER)[p] = lo;
  if (real_array(ARR_WORK_UPPER)) real_array(ARR_WORK_UPPER)[p] = up;
  status[p] &= ~PS_SEARCH_FIXED;
  if (lo == up) status[p] |= PS_SEARCH_FIXED;
}

}  // namespace

KL_WEAK int32_t& active_node_id(int32_t slot) { ensure_capacity(slot); return stand_in.id[static_cast<std::size_t>(slot)]; }
KL_WEAK int32_t& active_node_depth(int32_t slot) { ensure_capacity(slot); return stand_in.depth[static_cast<std::size_t>(slot)]; }
KL_WEAK double& active_node_bound(int32_t slot) { ensure_capacity(slot); return stand_in.bound[static_cast<std::size_t>(slot)]; }
KL_WEAK double& active_node_estimate(int32_t slot) { ensure_capacity(slot); return stand_in.estimate[static_cast<std::size_t>(slot)]; }
KL_WEAK int32_t active_node_next_free(int32_t slot) { ensure_capacity(slot); return stand_in.next[static_cast<std::size_t>(slot)]; }
KL_WEAK void set_active_node_next_free(int32_t slot, int32_t next) { ensure_capacity(slot); stand_in.next[static_cast<std::size_t>(slot)] = next; }
KL_WEAK int32_t& active_node_cut_list(int32_t slot) { ensure_capacity(slot); return stand_in.cut_list[static_cast<std::size_t>(slot)]; }
KL_WEAK void free_active_slot(int32_t slot) {
  active_node_id(slot) = 0;
  set_active_node_next_free(slot, active_table.free_head);
  active_table.free_head = slot;
}
KL_WEAK void reset_active_table() {
  stand_in = StandInStore{};
  ensure_capacity(2);
  active_table = ActiveNodeTable{};
}
KL_WEAK int32_t count_two_bit_entities() { return 0; }
KL_WEAK void set_node_record_size() {}
KL_WEAK void open_global_work_files() {}
KL_WEAK void alloc_global_arrays(int32_t& error) { error = 0; }
KL_WEAK NodeHeader read_image_header() { return stand_in.image.header; }
KL_WEAK void write_image_header(const NodeHeader& header) { stand_in.image.header = header; }
KL_WEAK void pack_node() { stand_in.image = pack_current(); }
KL_WEAK void unpack_node() { unpack_current(stand_in.image); }
KL_WEAK void swap_node() {
  StandInRecord current = pack_current();
  unpack_current(stand_in.image);
  stand_in.image = current;
}
KL_WEAK void keep_node_header() { kept_node_header = node_header; }
KL_WEAK void store_active_node(int32_t mode) {
  const int32_t slot = active_table.free_head;
  active_table.free_head = active_node_next_free(slot);
  ensure_capacity(active_table.free_head);
  active_table.active_count = std::max(active_table.active_count, slot);
  StandInRecord r = mode == 1 ? pack_current() : stand_in.image;
  active_node_id(slot) = r.header.node_id;
  active_node_bound(slot) = r.header.bound;
  active_node_estimate(slot) = r.header.bound + sense_factor * r.header.degradation;
  active_node_depth(slot) = r.header.depth;
  stand_in.records[static_cast<std::size_t>(slot)] = r;
  active_table.current_slot = slot;
}
KL_WEAK void take_active_node() {
  const int32_t slot = active_table.current_slot;
  stand_in.image = stand_in.records[static_cast<std::size_t>(slot)];
  if (stand_in.image.header.node_id > 0 && active_node_id(slot) < 0)
    stand_in.image.header.node_id = -stand_in.image.header.node_id;
  active_node_id(slot) = 0;
}
KL_WEAK void read_node_record() {
  stand_in.image = stand_in.records[static_cast<std::size_t>(active_table.current_slot)];
}

KL_WEAK int32_t node_direction() {
  return node_header.node_id >= 0 ? node_header.first_direction : 1 - node_header.first_direction;
}

KL_WEAK void apply_branch_bound() {
  const int32_t e = node_header.branch_entity;
  if (e < 1 || e > nglent) return;
  OneBased<int32_t> up = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> lo = int_array(ARR_ENTITY_ROOT_LOWER);
  if (node_direction() == 0)
    up[e] = static_cast<int32_t>(node_header.down_limit);
  else
    lo[e] = static_cast<int32_t>(node_header.up_limit);
  const int32_t p = int_array(ARR_ENTITY_COLUMN)[e];
  if (lo[e] > up[e]) {
    lp_status = 2;
    return;
  }
  set_column_bounds(p, lo[e], up[e]);
}

KL_WEAK void apply_node_bounds() {
  const int32_t e0 = node_header.branch_entity;
  if (e0 >= 1 && e0 <= nglent) {
    OneBased<int32_t> up = int_array(ARR_ENTITY_ROOT_UPPER);
    OneBased<int32_t> lo = int_array(ARR_ENTITY_ROOT_LOWER);
    if (node_direction() == 0)
      up[e0] = static_cast<int32_t>(node_header.down_limit);
    else
      lo[e0] = static_cast<int32_t>(node_header.up_limit);
  }
  fixed_entity_constant = 0.0;
  OneBased<int32_t> up = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> lo = int_array(ARR_ENTITY_ROOT_LOWER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = entity_kind_of(e);
    if (kind == ENT_SET1 || kind == ENT_SET2 || kind == ENT_SEMICONTINUOUS) continue;
    const int32_t p = int_array(ARR_ENTITY_COLUMN)[e];
    if ((status[p] & (PS_FIXED | PS_MARK)) != 0) continue;
    if (lo[e] > up[e]) {
      lp_status = 2;
      return;
    }
    set_column_bounds(p, lo[e], up[e]);
  }
}

KL_WEAK void rebuild_basic_lists() {
  set_basis_header();
  problem_flags &= ~PF_FACTOR_VALID;
}

KL_WEAK void restore_node_bounds() {
  if (direct_child_flag > 0) {
    apply_branch_bound();
    return;
  }
  apply_node_bounds();
  if (lp_status != 3) rebuild_basic_lists();
}

KL_WEAK void select_branch_entity(BranchChoice& choice) {
  choice = BranchChoice{};
  OneBased<double> x = real_array(ARR_X);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double ztolis = dcv(dc::ZTOLIS);
  double best = -1.0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = entity_kind_of(e);
    if (kind == ENT_SET1 || kind == ENT_SET2 || kind == ENT_SEMICONTINUOUS) continue;
    const int32_t p = int_array(ARR_ENTITY_COLUMN)[e];
    const double v = x[p];
    if (kind == ENT_PARTIAL_INTEGER && v >= static_cast<double>(int_array(ARR_ENTITY_TYPE)[e] >> 4)) continue;
    const double f = v - std::floor(v);
    if (!(ztolis < f && f < 1.0 - ztolis) || (status[p] & PS_SEARCH_FIXED) != 0) continue;
    ++choice.fractional_count;
    const double score = std::min(f, 1.0 - f);
    choice.degradation += score * dcv(dc::PSEUDO);
    if (score > best) {
      best = score;
      choice.branch_entity = e;
      choice.branch_value = v;
      choice.down_limit = std::floor(v);
      choice.up_limit = std::floor(v) + 1.0;
      choice.first_direction = f > 0.5 ? 1 : 0;
      choice.up_estimate = 1.0 - f;
      choice.down_estimate = f;
    }
  }
}

KL_WEAK void start_node_cut_lists() {}
KL_WEAK void bump_cut_references(int32_t) {}
KL_WEAK void restore_node_cuts(int32_t, double&) {}
KL_WEAK void release_node_cuts(int32_t) {}
KL_WEAK void remove_all_cut_rows() {}

}  // namespace kl
