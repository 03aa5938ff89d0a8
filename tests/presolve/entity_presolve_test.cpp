// Entity data of a presolved search problem: the state words compaction
// writes from the presolved bounds of integer-like columns.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "presolve/presolve_driver.h"
#include "presolve_state_fixture.h"

namespace kltest {
namespace {

using namespace kl;

class EntityPresolveTest : public PresolveStateTest {};

// Integer bounds round inward within ZTOLIS and stop at INTMAX: -3 stays
// -3 (truncation made it -2), 2.9999999 is 3, an infinite bound is INTMAX.
// A partial integer keeps an upper bound above its integer limit as its
// own: the column is continuous there.
TEST_F(EntityPresolveTest, StateWordsFromPresolvedBounds) {
  struct Case {
    char type;
    double limit, lower, upper;
    int32_t state_lower, state_upper;  // expected; for P the upper word may stay
  };
  const Case cases[] = {
      {'I', 0.0, -5.5, -3.0, -5, -3},
      {'I', 0.0, 0.0000001, 2.9999999, 0, 3},
      {'I', 0.0, -1e20, 1e20, -1000, 1000},
      {'I', 0.0, 1.5, 7.5, 2, 7},
      {'P', 5.0, 1.5, 7.5, 2, 1000},
      {'P', 5.0, 0.0, 4.0000001, 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " [" + std::to_string(c.lower) + ", " + std::to_string(c.upper) + "]");
    ArrayProblem p;
    p.row('L', 100.0);
    p.column(1.0, 0.0, 1000.0, {{0, 1.0}});
    p.entity(c.type, 0, c.limit);
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load_global(), 0);
    ASSERT_EQ(KLSETICV(KLIC_INTMAX, 1000), 0);
    const int32_t j = store.first_col;
    real_array(ARR_LOWER)[j] = c.lower;
    real_array(ARR_UPPER)[j] = c.upper;
    int_array(ARR_ENTITY_ROOT_UPPER)[1] = 1000;
    int_array(ARR_ENTITY_ROOT_LOWER)[1] = -1000;
    std::vector<int32_t> same(static_cast<size_t>(nseq) + 1);
    for (int32_t k = 0; k <= nseq; ++k) same[static_cast<size_t>(k)] = k;
    renumber_search_entities(same);
    EXPECT_EQ(int_array(ARR_ENTITY_ROOT_LOWER)[1], c.state_lower);
    EXPECT_EQ(int_array(ARR_ENTITY_ROOT_UPPER)[1], c.state_upper);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

}  // namespace
}  // namespace kltest
