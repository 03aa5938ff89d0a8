#include <gtest/gtest.h>

#include <set>

#include "problem/array_ids.h"

namespace kl {
namespace {

// A switch that forgets an id leaves its arrays unreachable through the
// typed accessors; only the ids the store never allocates may be untyped.
TEST(ArrayIds, EveryAllocatedIdHasAnElementType) {
  const std::set<int> unused = {32, 62, 66, 72, 73, 75, 78, 80, 81, 87, 94};
  for (int id = 1; id <= 98; ++id)
    EXPECT_EQ(array_element(id) == ArrayElement::kUnused, unused.count(id) == 1) << "array id " << id;
}

// The accessors accept exactly the element types the table gives; the
// consteval id wrapper turns the same answers into compile errors.
TEST(ArrayIds, AccessorsAcceptOnlyTheTabledType) {
  struct Case {
    ArrayId id;
    bool as_int, as_real, as_float, as_name;
  };
  const Case cases[] = {
      {ARR_POS_STATUS, true, false, false, false},
      {ARR_PIVOT_ROW_INDEX, true, false, false, false},  // an index list, whatever its block size
      {ARR_REDUCED_COSTS, false, true, false, false},
      {ARR_ROW_PRICES, false, false, true, false},       // two floats per row
      {ARR_ENTITY_ROOT_UPPER, true, false, true, false}, // floats for sets, ints for columns
      {ARR_NAME_TABLE, false, false, false, true},
      {ARR_CUT_RECORD, true, false, false, false},
      {ARR_CUT_RHS, false, true, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(array_holds<int32_t>(c.id), c.as_int) << c.id;
    EXPECT_EQ(array_holds<double>(c.id), c.as_real) << c.id;
    EXPECT_EQ(array_holds<float>(c.id), c.as_float) << c.id;
    EXPECT_EQ(array_holds<char>(c.id), c.as_name) << c.id;
  }
}

}  // namespace
}  // namespace kl
