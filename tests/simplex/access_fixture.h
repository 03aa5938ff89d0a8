// Small linear programs and the fixture shared by the tests of the solution,
// basis and pivot access exports. Each test works in a directory of its own:
// the solution file is written beside the problem name.
#ifndef KLSOL_TESTS_SIMPLEX_ACCESS_FIXTURE_H
#define KLSOL_TESTS_SIMPLEX_ACCESS_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace kltest {

// The access tests build their problems with the shared small-LP builder.
inline constexpr double kAccessInf = kInf;
using AccessColumn = Column;
using AccessProblem = Problem;

// min x + 2y + 3w + 0z
//   r0: x + y + w     >= 2   (G, binding, dual 1.5)
//   r1: x - y         <= 1   (L, binding, dual -0.5)
//   r2: x + 3y        >= 1   (G, slack -2)
//   r3: x + y + z      = 5   (E, z basic)
//   r4: 0 <= x + y <= 4      (R, slack 2 of range 4)
// 0 <= x <= 10, y >= 0, w >= 0 (reduced cost 1.5), 0 <= z <= 10.
// Optimum 2.5 at x = 1.5, y = 0.5, w = 0, z = 3.
inline AccessProblem mixed_rows() {
  AccessProblem p;
  p.row_types = "GLGER";
  p.rhs = {2, 1, 1, 5, 4};
  p.ranges = {0, 0, 0, 0, 4};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}, {2, 1.0}, {3, 1.0}, {4, 1.0}}, 0, 10, 1},
      {{{0, 1.0}, {1, -1.0}, {2, 3.0}, {3, 1.0}, {4, 1.0}}, 0, kAccessInf, 2},
      {{{0, 1.0}}, 0, kAccessInf, 3},
      {{{3, 1.0}}, 0, 10, 0},
  };
  return p;
}

// max 3x + 2y: x + y <= 4, x + 3y <= 6, 0 <= x <= 3; z in [0, 2] costs 1
// and uses row 0. Optimum 11 at x = 3, y = 1, z = 0.
inline AccessProblem production_with_extra_column() {
  AccessProblem p;
  p.row_types = "LL";
  p.rhs = {4, 6};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}}, 0, 3, 3},
      {{{0, 1.0}, {1, 3.0}}, 0, kAccessInf, 2},
      {{{0, 1.0}}, 0, 2, -1},
  };
  return p;
}

// A transportation problem with bounded routes: sources L rows, sinks G rows.
inline AccessProblem bounded_transport(int32_t sources, int32_t sinks) {
  AccessProblem p = transport(sources, sinks);
  for (int32_t s = 0; s < sources; ++s)
    for (int32_t t = 0; t < sinks; ++t) p.columns[static_cast<size_t>(s * sinks + t)].upper = 4.0 + (s + t) % 3;
  return p;
}

class AccessTest : public LibrarySession {
 protected:
  int32_t load(const AccessProblem& p) { return p.load(dir.file("lp")); }
  std::string solution_file() const { return dir.file("lp.sol"); }
  // The outcome words of the last call: status, error number.
  static int32_t last_error() { return int_attribute_value(1023); }
  void set_ifmem(int32_t value) { KLSETICV(KLIC_IFMEM, value); }

  TempDir dir;
};

}  // namespace kltest

#endif
