// The node record, the active-node table with its growth through the wrk
// file, and the application of a node's states to the LP's bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "factor/simplex_state.h"
#include "global/node_bounds.h"
#include "global/node_store.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/temp_dir.h"
#include "problem/array_problem.h"

namespace kl {
namespace {

using kltest::ArrayProblem;

// 18 binaries (two words of two-bit states), two integers, one
// semi-continuous column and one set over three continuous columns.
ArrayProblem mixed_problem() {
  ArrayProblem p;
  p.row('L', 100.0);
  p.row('G', 1.0);
  for (int j = 0; j < 18; ++j) p.column(1.0 + j, 0.0, 1.0, {{0, 1.0}});
  p.column(-2.0, 0.0, 40.0, {{0, 2.0}, {1, 1.0}});  // 18: integer
  p.column(3.0, -5.0, 9.0, {{1, 1.0}});             // 19: integer
  p.column(0.5, 0.0, 30.0, {{0, 1.0}});             // 20: semi-continuous
  for (int j = 0; j < 3; ++j) p.column(1.0, 0.0, 7.0, {{1, 1.0}});  // 21..23: set members
  for (int j = 0; j < 18; ++j) p.entity('B', j);
  p.entity('I', 18);
  p.entity('I', 19);
  p.entity('S', 20, 4.0);
  p.set('1', {{21, 1e7 + 0.5}, {22, 1e7 + 1.0}, {23, 1e7 + 1.5}});
  return p;
}

class NodeStoreTest : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    ASSERT_EQ(mixed_problem().load_global(dir_.file("nodes").c_str()), 0);
    ASSERT_EQ(nglent, 22);
    node_header = NodeHeader{};
    root_cut_count = 0;
    node_cut_lists_in_use = 0;
    direct_child_flag = 0;
    int32_t error = -1;
    alloc_global_arrays(error);
    ASSERT_EQ(error, 0);
  }
  void TearDown() override {
    delete_global_work_files();
    kltest::LibrarySession::TearDown();
  }

  int32_t set_entity() const {
    for (int32_t e = 1; e <= nglent; ++e) {
      if (kind(e) == ENT_SET1) return e;
    }
    return 0;
  }
  int32_t column_of(int32_t e) const { return int_array(ARR_ENTITY_COLUMN)[e]; }

  struct Snapshot {
    std::vector<int32_t> upper, lower, status;
    std::vector<double> window, lower_bounds, upper_bounds;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot snapshot() const {
    Snapshot s;
    for (int32_t e = 1; e <= nglent; ++e) {
      s.upper.push_back(int_array(ARR_ENTITY_ROOT_UPPER)[e]);
      s.lower.push_back(int_array(ARR_ENTITY_ROOT_LOWER)[e]);
    }
    s.window = {set_window_lower(set_entity()), set_window_upper(set_entity())};
    for (int32_t p = 1; p <= nseq; ++p) {
      s.status.push_back(int_array(ARR_POS_STATUS)[p]);
      s.lower_bounds.push_back(real_array(ARR_LOWER)[p]);
      s.upper_bounds.push_back(real_array(ARR_UPPER)[p]);
    }
    return s;
  }

  int32_t kind(int32_t e) const { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }

  // A node state that differs from the root in every block of the record.
  // With a square basis (slacks basic) a refactorisation keeps it as it is.
  void scramble(int32_t seed, bool square_basis = false) {
    int32_t integers = 0;
    for (int32_t e = 1; e <= nglent; ++e) {
      int32_t& upper = int_array(ARR_ENTITY_ROOT_UPPER)[e];
      int32_t& lower = int_array(ARR_ENTITY_ROOT_LOWER)[e];
      switch (kind(e)) {
        case ENT_BINARY:
        case ENT_SEMICONTINUOUS:
          upper = (e + seed) % 3 == 0 ? 0 : 1;
          lower = (e + seed) % 5 == 0 ? 1 : 0;
          break;
        case ENT_SET1:
          set_window_lower(e) = 1e7 + 0.5 + seed;
          set_window_upper(e) = 1e7 + 1.0 + seed;
          break;
        default:
          upper = ++integers == 1 ? icv(ic::INTMAX) : 3 + seed;
          lower = integers == 1 ? -7 - seed : -icv(ic::INTMAX);
          break;
      }
    }
    auto code_into = [&](int32_t p) {
      int32_t code = (p * 7 + seed) % 3;  // 0 lower, 1 basic, 2 upper
      if (square_basis) code = p <= nrow ? 1 : 2 * ((p + seed) % 2);
      int32_t& s = int_array(ARR_POS_STATUS)[p];
      s = (s & ~(PS_BASIC | PS_AT_UPPER)) | (code << 1);
    };
    for (int32_t r = 1; r <= nrow; ++r) code_into(r);
    for (int32_t p = store.first_col; p <= nseq; ++p) code_into(p);
  }

  NodeHeader sample_header(int32_t k) const {
    NodeHeader h;
    h.first_direction = k % 2;
    h.node_id = k % 3 == 0 ? -k : k;
    h.node_number = k;
    h.branch_entity = 1 + k % 22;
    h.fractional_count = 3 * k;
    h.depth = k + 1;
    h.branch_value = 0.375 + k;
    // Values near 1e8 that single precision would round.
    h.bound = 123456789.125 + k;
    h.degradation = 1e-9 * k + 0.1;
    h.up_estimate = 1.0 / 3.0 + k;
    h.down_estimate = 2.0 / 7.0 - k;
    h.down_limit = 1e7 + 0.5;
    h.up_limit = 1e7 + 1.0;
    h.first_cut_list = 11 * k;
    h.second_cut_list = 13 * k;
    h.set_split_value = 1e7 + 0.75;
    return h;
  }

  static void expect_headers_equal(const NodeHeader& a, const NodeHeader& b) {
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(a.node_id, b.node_id);
    EXPECT_EQ(a.bound, b.bound);
    EXPECT_EQ(a.degradation, b.degradation);
    EXPECT_EQ(a.down_limit, b.down_limit);
  }

  kltest::TempDir dir_;
};

TEST_F(NodeStoreTest, PackAndUnpackGiveTheSameStatesBasisAndHeader) {
  for (int32_t seed : {0, 1, 2}) {
    SCOPED_TRACE(seed);
    scramble(seed);
    node_header = sample_header(seed + 4);
    const Snapshot packed = snapshot();
    const NodeHeader header = node_header;
    pack_node();
    ASSERT_EQ(status_code, 0);

    scramble(seed + 1);
    node_header = sample_header(seed + 9);
    ASSERT_NE(snapshot(), packed);
    unpack_node();
    ASSERT_EQ(status_code, 0);
    const Snapshot back = snapshot();
    EXPECT_EQ(back.upper, packed.upper);
    EXPECT_EQ(back.lower, packed.lower);
    EXPECT_EQ(back.window, packed.window);
    EXPECT_EQ(back.status, packed.status);  // basis bits and every other bit
    expect_headers_equal(node_header, header);
  }
}

TEST_F(NodeStoreTest, SwapExchangesTheCurrentNodeWithTheImage) {
  scramble(1);
  node_header = sample_header(1);
  const Snapshot first = snapshot();
  pack_node();
  scramble(2);
  node_header = sample_header(2);
  const Snapshot second = snapshot();
  swap_node();
  EXPECT_EQ(snapshot().upper, first.upper);
  EXPECT_EQ(snapshot().status, first.status);
  EXPECT_EQ(node_header.node_id, sample_header(1).node_id);
  EXPECT_EQ(read_image_header().bound, sample_header(2).bound);
  unpack_node();
  EXPECT_EQ(snapshot().upper, second.upper);
  EXPECT_EQ(snapshot().window, second.window);
  EXPECT_EQ(snapshot().status, second.status);
}

TEST_F(NodeStoreTest, RecordFieldsAreLittleEndianAndTheLengthIsAMultipleOf8) {
  node_header = NodeHeader{};
  node_header.node_id = 0x01020304;
  node_header.bound = 1.0;  // 0x3FF0000000000000
  pack_node();
  const unsigned char* image = node_image();
  EXPECT_EQ(image[4], 0x04);
  EXPECT_EQ(image[5], 0x03);
  EXPECT_EQ(image[6], 0x02);
  EXPECT_EQ(image[7], 0x01);
  const unsigned char bound_bytes[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  EXPECT_EQ(std::memcmp(image + 48, bound_bytes, 8), 0);
  // 104 header + 2 words of binary states + 3 column entities x 8 + 1 set x 16
  // + basis codes of 2 rows and 24 columns (2 words) = 160.
  EXPECT_EQ(node_record_size_for_problem() % 8, 0);
  EXPECT_EQ(count_two_bit_entities(), 19);
}

TEST_F(NodeStoreTest, TheTableGrowsPastMxanodAndKeepsItsContents) {
  KLSETICV(19, 4);  // MXANOD
  int32_t error = -1;
  alloc_global_arrays(error);
  ASSERT_EQ(error, 0);
  set_node_record_size();
  ASSERT_EQ(status_code, 0);
  ASSERT_TRUE(std::filesystem::exists(search_work_files.names[0]));
  ASSERT_TRUE(std::filesystem::exists(search_work_files.names[1]));

  constexpr int32_t kNodes = 11;
  // The count the node log reports, kept as slots fill and empty, against a
  // scan of the table.
  const auto occupied_by_scan = [] {
    int32_t count = 0;
    for (int32_t k = 1; k <= active_table.active_count; ++k)
      if (active_node_id(k) != 0) ++count;
    return count;
  };
  recount_active_nodes();
  EXPECT_EQ(occupied_active_slots(), occupied_by_scan());
  std::vector<Snapshot> stored;
  std::vector<NodeHeader> headers;
  for (int32_t k = 1; k <= kNodes; ++k) {
    scramble(k, true);
    node_header = sample_header(k);
    stored.push_back(snapshot());
    headers.push_back(node_header);
    store_active_node(1);
    ASSERT_EQ(status_code, 0) << k;
    EXPECT_EQ(active_table.current_slot, k);
    EXPECT_EQ(occupied_active_slots(), occupied_by_scan()) << k;
  }
  EXPECT_EQ(occupied_active_slots(), kNodes);
  EXPECT_EQ(icv(ic::MXANOD), 16);  // 4 -> 8 -> 16
  EXPECT_EQ(active_table.active_count, kNodes);
  // The free slots beyond the stored ones are linked in order.
  int32_t slot = active_table.free_head;
  EXPECT_EQ(slot, kNodes + 1);
  for (int32_t k = kNodes + 1; k <= icv(ic::MXANOD); ++k) {
    ASSERT_EQ(slot, k);
    EXPECT_EQ(active_node_id(k), 0);
    slot = active_node_next_free(k);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.file("nodes.wrk")));

  for (int32_t k = 1; k <= kNodes; ++k) {
    SCOPED_TRACE(k);
    const NodeHeader& h = headers[static_cast<size_t>(k - 1)];
    EXPECT_EQ(active_node_id(k), h.node_id);
    EXPECT_EQ(active_node_depth(k), h.depth);
    EXPECT_EQ(active_node_bound(k), h.bound);
    EXPECT_EQ(active_node_estimate(k), h.bound + sense_factor * h.degradation);
  }
  // Dropping the first child of a pair: the record comes back as the other one.
  set_active_node_id(4, -active_node_id(4));
  EXPECT_EQ(occupied_active_slots(), kNodes);
  for (int32_t k = kNodes; k >= 1; --k) {
    SCOPED_TRACE(k);
    scramble(k + 50, true);
    active_table.current_slot = k;
    take_active_node();
    ASSERT_EQ(status_code, 0);
    EXPECT_EQ(active_node_id(k), 0);
    EXPECT_EQ(occupied_active_slots(), occupied_by_scan());
    NodeHeader expected = headers[static_cast<size_t>(k - 1)];
    if (k == 4) expected.node_id = -expected.node_id;
    unpack_node();
    expect_headers_equal(node_header, expected);
    EXPECT_EQ(snapshot().upper, stored[static_cast<size_t>(k - 1)].upper);
    EXPECT_EQ(snapshot().window, stored[static_cast<size_t>(k - 1)].window);
    EXPECT_EQ(snapshot().status, stored[static_cast<size_t>(k - 1)].status);
  }

  const std::string glb = search_work_files.names[0];
  const std::string ctp = search_work_files.names[1];
  delete_global_work_files();
  EXPECT_FALSE(std::filesystem::exists(glb));
  EXPECT_FALSE(std::filesystem::exists(ctp));
}

TEST_F(NodeStoreTest, ApplyingANodeTwiceGivesTheSameBounds) {
  const struct {
    const char* name;
    int32_t branch_entity;
    int32_t node_id;
    int32_t first_direction;
    double down_limit, up_limit;
  } cases[] = {
      {"binary up", 4, 7, 1, 0.0, 1.0},
      {"binary, other child", 4, -7, 1, 0.0, 1.0},
      {"integer down", 20, 5, 0, 2.0, 3.0},
      {"integer up", 21, 5, 1, 2.0, 3.0},
      {"semi-continuous", 22, 2, 1, 0.0, 1.0},
      {"set down", 1, 9, 0, 1e7 + 1.0, 1e7 + 1.5},
      {"set, other child", 1, -9, 0, 1e7 + 1.0, 1e7 + 1.5},
      {"no branch", 0, 0, 0, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(mixed_problem().load_global(dir_.file("nodes").c_str()), 0);
    int32_t error = -1;
    alloc_global_arrays(error);
    ASSERT_EQ(error, 0);
    node_header = NodeHeader{};
    node_header.branch_entity = c.branch_entity;
    node_header.node_id = c.node_id;
    node_header.first_direction = c.first_direction;
    node_header.down_limit = c.down_limit;
    node_header.up_limit = c.up_limit;
    lp_status = 1;
    apply_node_bounds();
    const Snapshot once = snapshot();
    const double constant = fixed_entity_constant;
    apply_node_bounds();
    EXPECT_EQ(snapshot(), once);
    EXPECT_EQ(fixed_entity_constant, constant);
    EXPECT_EQ(lp_status, 1);
  }
}

TEST_F(NodeStoreTest, TheBranchBoundOfTheChildJustMade) {
  // A binary branched up: fixed at 1, the constant grows by its cost.
  node_header = NodeHeader{};
  // Entities: 1 the set, 2..19 the binaries, 20 and 21 the integers, 22
  // the semi-continuous column.
  node_header.branch_entity = 4;  // column 2, cost 3
  node_header.node_id = 7;
  node_header.first_direction = 1;
  node_header.up_limit = 1.0;
  fixed_entity_constant = 0.0;
  direct_child_flag = 1;
  restore_node_bounds();
  const int32_t c = column_of(4);
  EXPECT_EQ(real_array(ARR_LOWER)[c], 1.0);
  EXPECT_EQ(real_array(ARR_UPPER)[c], 1.0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[c] & PS_SEARCH_FIXED, 0);
  EXPECT_DOUBLE_EQ(fixed_entity_constant, real_array(ARR_OBJECTIVE)[c]);

  // The record of the other child applies the opposite direction.
  node_header.node_id = -7;
  node_header.branch_entity = 20;
  node_header.down_limit = 2.0;
  restore_node_bounds();
  EXPECT_EQ(int_array(ARR_ENTITY_ROOT_UPPER)[20], 2);
  EXPECT_EQ(real_array(ARR_UPPER)[column_of(20)], 2.0);

  // A limit beyond the state word's range is clamped to INTMAX.
  node_header.node_id = 4;
  node_header.branch_entity = 21;
  node_header.up_limit = 1e12;
  restore_node_bounds();
  EXPECT_EQ(int_array(ARR_ENTITY_ROOT_LOWER)[21], icv(ic::INTMAX));
}

TEST_F(NodeStoreTest, ASetWindowThatExcludesAMemberAtItsLowerStateIsInfeasible) {
  // A set over binaries: a member fixed at 1 by its state word.
  ArrayProblem p;
  p.row('L', 2.0);
  for (int j = 0; j < 3; ++j) p.column(-1.0, 0.0, 1.0, {{0, 1.0}});
  for (int j = 0; j < 3; ++j) p.entity('B', j);
  p.set('1', {{0, 1.0}, {1, 2.0}, {2, 3.0}});
  ASSERT_EQ(p.load_global(dir_.file("sets").c_str()), 0);
  int32_t error = -1;
  alloc_global_arrays(error);
  ASSERT_EQ(error, 0);
  // Entity 1 is the set, 2..4 the binaries on its members.
  int_array(ARR_ENTITY_ROOT_LOWER)[4] = 1;  // the member with reference 3
  int_array(ARR_ENTITY_ROOT_UPPER)[4] = 1;
  node_header = NodeHeader{};
  node_header.branch_entity = 1;
  node_header.node_id = 2;
  node_header.first_direction = 0;
  node_header.down_limit = 2.0;  // keeps references up to 2
  lp_status = 1;
  apply_node_bounds();
  EXPECT_EQ(lp_status, 2);
}

}  // namespace
}  // namespace kl
