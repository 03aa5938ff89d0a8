#include "runtime/names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/frame.h"

namespace kl {
namespace {

// A name table of `slots` positions and a hash table of `size` entries, with
// every position below first_col a row.
class NamesTest : public ::testing::Test {
 protected:
  void SetUp() override { use_table(100, 1, 50, 1000); }
  void TearDown() override {
    free_name_stores();
    free_array(ARR_NAME_TABLE, array_cells[ARR_NAME_TABLE]);
    store_new_names = 1;
    status_code = 0;
    reset_problem_store();
  }

  void use_table(int32_t size, int32_t words, int32_t slots, int32_t first_col) {
    free_array(ARR_NAME_TABLE, array_cells[ARR_NAME_TABLE]);
    name_words = words;
    store.first_col = first_col;
    ASSERT_EQ(allocate_array(ARR_NAME_TABLE, array_cells[ARR_NAME_TABLE], int64_t{slots} * words * 2), 0);
    name_hash_size = size;
    ASSERT_TRUE(allocate_name_hash());
    status_code = 0;
  }

  static std::string stored_name(int32_t v) {
    const char* table = name_array(ARR_NAME_TABLE);
    return std::string(table + (v - 1) * 8 * name_words, static_cast<std::size_t>(8 * name_words));
  }
};

TEST_F(NamesTest, NamesSharingAHomeEntryChainAndAreFoundAgain) {
  for (const char* name : {"R1", "COST", "x", "y"}) EXPECT_EQ(row_column_home_entry(name), 25) << name;
  EXPECT_EQ(find_or_add_row_name("R1"), 1);
  EXPECT_EQ(find_or_add_row_name("COST"), 2);
  EXPECT_EQ(find_or_add_row_name("x"), 3);
  EXPECT_EQ(find_row_name("x"), 3);
  EXPECT_EQ(find_row_name("COST"), 2);
  EXPECT_EQ(find_row_name("R1"), 1);
  EXPECT_EQ(find_row_name("y"), 0);
  EXPECT_EQ(stored_name(2), "COST    ");
  // The overflow entries are the lowest free ones.
  EXPECT_EQ(name_hash_next_free_entry(), 3);
}

TEST_F(NamesTest, DefaultNamesHashToTheirPositionNumber) {
  EXPECT_EQ(row_column_home_entry("VVVVVVV1"), 2);
  EXPECT_EQ(row_column_home_entry("VVVVVV12"), 13);
  // Listed names have no such rule.
  EXPECT_EQ(listed_name_home_entry("VVVVVVV1"), 82);
  use_table(100, 2, 50, 1000);
  EXPECT_EQ(row_column_home_entry("VVVVVVVVVVVVVV12"), 13);
}

TEST_F(NamesTest, HashOfMinusTwoToThe31HasAMagnitude) {
  use_table(100, 2, 50, 1000);
  // Column sums -214, -7, -4, -8, -3, -6, -4, -8 give h = -2147483648.
  const char name[17] = {static_cast<char>(-128), ')', ',', '(', '-', '*', ',', '(', 10, '0', '0', '0', '0', '0',
                         '0', '0', '\0'};
  EXPECT_EQ(row_column_home_entry(name), 49);
  EXPECT_EQ(find_or_add_row_name(name), 1);
  EXPECT_EQ(find_row_name(name), 1);
}

TEST_F(NamesTest, RowAndColumnOfOneNameCoexist) {
  use_table(100, 1, 50, 3);
  EXPECT_EQ(find_or_add_row_name("A"), 1);
  EXPECT_EQ(find_or_add_row_name("B"), 2);
  EXPECT_EQ(find_column_name("A"), 0);
  EXPECT_EQ(find_or_add_column_name("A"), 3);
  EXPECT_EQ(find_row_name("A"), 1);
  EXPECT_EQ(find_column_name("A"), 3);
  EXPECT_EQ(find_column_name("B"), 0);
}

TEST_F(NamesTest, KeysAreCutToTheNameLengthAndBlankPadded) {
  EXPECT_EQ(find_or_add_row_name("LONGNAME"), 1);
  EXPECT_EQ(find_row_name("LONGNAME12"), 1);
  // A fixed field without NUL: its first eight characters.
  const char field[8] = {'A', 'B', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(find_or_add_row_name(field), 2);
  EXPECT_EQ(find_row_name("AB"), 2);
  EXPECT_EQ(find_row_name("AB "), 2);
}

TEST_F(NamesTest, AddingANameTwiceUsesNoNewValue) {
  use_table(100, 1, 50, 1);
  EXPECT_EQ(find_or_add_column_name("C1"), 1);
  EXPECT_EQ(find_or_add_column_name("C1"), 1);
  EXPECT_EQ(name_hash_next_value(), 2);
  EXPECT_EQ(find_or_add_column_name("C2"), 2);
}

TEST_F(NamesTest, FullTableKeepsTheKeyThatTookTheLastEntry) {
  use_table(3, 1, 10, 1000);
  EXPECT_EQ(find_or_add_row_name("A"), 1);
  EXPECT_EQ(find_or_add_row_name("B"), 2);
  EXPECT_EQ(find_or_add_row_name("C"), 3);
  EXPECT_EQ(status_code, 0);
  EXPECT_EQ(find_row_name("C"), 3);
  EXPECT_EQ(stored_name(3), "C       ");
  // Known names are still found; only a new one overflows.
  EXPECT_EQ(find_or_add_row_name("A"), 1);
  EXPECT_EQ(status_code, 0);
  EXPECT_EQ(find_or_add_row_name("D"), 0);
  EXPECT_EQ(status_code, STATUS_HASH_FULL);
  EXPECT_EQ(name_hash_next_value(), 4);
  for (const char* name : {"A", "B", "C"}) EXPECT_NE(find_row_name(name), 0) << name;
}

TEST_F(NamesTest, ResetEmptiesAUsedTable) {
  find_or_add_row_name("A");
  find_or_add_row_name("B");
  reset_name_hash();
  EXPECT_EQ(find_row_name("A"), 0);
  EXPECT_EQ(find_or_add_row_name("B"), 1);
  EXPECT_EQ(name_hash_next_free_entry(), 1);
}

TEST_F(NamesTest, LookupOnlyReadersLeaveTheNameTableAlone) {
  std::memcpy(array_cells[ARR_NAME_TABLE], "KEPT    ", 8);
  store_new_names = 0;
  EXPECT_EQ(find_or_add_row_name("NEW"), 1);
  EXPECT_EQ(stored_name(1), "KEPT    ");
}

TEST_F(NamesTest, ListedNamesAreComparedWithTheList) {
  ASSERT_TRUE(allocate_name_list(4));
  const char* names[] = {"alpha", "beta", "alpha"};
  const int32_t expected[] = {1, 2, 1};
  for (int k = 0; k < 3; ++k) {
    char* slot = listed_name_slot(name_hash_next_value());
    ASSERT_NE(slot, nullptr);
    std::memcpy(slot, names[k], std::strlen(names[k]));
    EXPECT_EQ(find_or_add_listed_name(slot), expected[k]) << names[k];
  }
  EXPECT_EQ(find_listed_name("beta"), 2);
  EXPECT_EQ(find_listed_name("gamma"), 0);
  // Rows and columns are another store.
  EXPECT_EQ(find_row_name("beta"), 0);
}

TEST_F(NamesTest, IntegerKeysChainOnTheirSixteenBitSum) {
  ASSERT_TRUE(allocate_key_list(10));
  EXPECT_EQ(key_home_entry(1), 2);
  EXPECT_EQ(key_home_entry(0x10000), 2);
  EXPECT_EQ(key_home_entry(-1), 3);      // 0xffff + 0xffff wraps to -2
  EXPECT_EQ(key_home_entry(0x8000), 69);  // -32768
  EXPECT_EQ(find_hash_key(1), 1);
  EXPECT_EQ(find_hash_key(0x10000), 2);
  EXPECT_EQ(find_hash_key(1), 1);
  EXPECT_EQ(find_hash_key(0x10000), 2);
  EXPECT_EQ(listed_key(2), 0x10000);
}

TEST_F(NamesTest, StoresOutliveTheNumberedArraysTheyOnceShared) {
  ASSERT_TRUE(allocate_name_list(2));
  EXPECT_EQ(find_or_add_row_name("R7"), 1);
  std::memcpy(listed_name_slot(2), "LIST", 4);
  ASSERT_EQ(allocate_array(53, array_cells[53], 64), 0);
  free_array(53, array_cells[53]);
  ASSERT_EQ(allocate_array(ARR_REDUCED_COSTS, array_cells[ARR_REDUCED_COSTS], 8), 0);
  std::memset(array_cells[ARR_REDUCED_COSTS], 'Z', 32);
  free_array(ARR_REDUCED_COSTS, array_cells[ARR_REDUCED_COSTS]);
  EXPECT_EQ(find_row_name("R7"), 1);
  EXPECT_EQ(std::string(listed_name_slot(2), 8), "LIST    ");
}

TEST(CompareChars, EqualOnlyOverAPositiveCount) {
  EXPECT_EQ(compare_chars("abc", "abd", 2), -1);
  EXPECT_EQ(compare_chars("abc", "abd", 3), 0);
  EXPECT_EQ(compare_chars("abc", "abc", 0), 0);
  EXPECT_EQ(compare_chars("abc", "xyz", -1), 0);
}

}  // namespace
}  // namespace kl
