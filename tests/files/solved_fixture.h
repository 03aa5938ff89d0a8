// Shared pieces of the tests of the solution and ranging text and reports:
// the CR LF lines of a written file, and a small problem whose solution is
// laid into the arrays by hand.
#ifndef KLSOL_TESTS_FILES_SOLVED_FIXTURE_H
#define KLSOL_TESTS_FILES_SOLVED_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "factor/simplex_state.h"

namespace kltest {

inline std::string file_text(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a text file up to the first that does not end in CR LF;
// complete (when given) tells whether every line did.
inline std::vector<std::string> crlf_lines(const std::string& name, bool* complete = nullptr) {
  const std::string text = file_text(name);
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find("\r\n", from);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  if (complete != nullptr) *complete = from >= text.size();
  return lines;
}

// Rows L (x + Y <= 4), G (x >= 1) and E (x - Y = 1); columns x in [0, inf)
// and Y in [0, 3]; minimise x + 2Y, loaded unscaled. The result is laid into
// the arrays: x = 2.5, Y = 1.5 basic with the slack of the G row, the L and
// E rows at their bounds, the given duals and reduced costs by position.
inline void lay_solved_problem(const std::string& name, const double (&duals)[5]) {
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
  const char types[] = {'L', 'G', 'E'};
  const double rhs[] = {4, 1, 1};
  const double cost[] = {1, 2};
  const int32_t starts[] = {0, 3, 5};
  const int32_t rows[] = {0, 1, 2, 0, 2};
  const double values[] = {1, 1, 1, 1, -1};
  const double lower[] = {0, 0};
  const double upper[] = {1e20, 3};
  ASSERT_EQ(KLLOADPROB(name.c_str(), 2, 3, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper),
            0);
  ASSERT_EQ(kl::store.first_col, 4);
  kl::OneBased<int32_t> status = kl::int_array(kl::ARR_POS_STATUS);
  kl::OneBased<double> x = kl::real_array(kl::ARR_X);
  kl::OneBased<double> dj = kl::real_array(kl::ARR_REDUCED_COSTS);
  ASSERT_TRUE(x && dj);
  const bool basic[] = {false, true, false, true, true};
  const double result[] = {0.0, -1.5, 0.0, 2.5, 1.5};
  for (int32_t p = 1; p <= 5; ++p) {
    status[p] = basic[p - 1] ? (status[p] | kl::PS_BASIC) : (status[p] & ~kl::PS_BASIC);
    x[p] = result[p - 1];
    dj[p] = duals[p - 1];
  }
  kl::itcnt = 3;
  // A feasible solution: nothing left from an earlier test's run counts.
  kl::ninf = 0;
  kl::dcv(kl::dc::SUMINF) = 0.0;
  kl::dcv(kl::dc::OBJVAL) = 5.5;
  kl::dcv(kl::dc::SENSE_FACTOR) = 1.0;
  kl::status_letter = 'O';
}

}  // namespace kltest

#endif
