// Small linear programs with known answers, built through KLLOADPROB, shared
// by the tests of the LP driver and of the simplex engines.
#ifndef KLSOL_TESTS_SIMPLEX_SMALL_LPS_H
#define KLSOL_TESTS_SIMPLEX_SMALL_LPS_H

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace kltest {

inline constexpr double kInf = 1e20;

struct Column {
  std::vector<std::pair<int32_t, double>> entries;
  double lower = 0.0;
  double upper = kInf;
  double cost = 0.0;
};

struct Problem {
  std::string row_types;
  std::vector<double> rhs;
  std::vector<double> ranges;  // empty: none
  std::vector<Column> columns;
  // Triplets (column, column, value) of the quadratic objective, caller
  // columns; loaded with KLLOADQPROB when present.
  std::vector<std::tuple<int32_t, int32_t, double>> quadratic;
  // One letter per entity column; loaded with KLLOADQGLOBAL when present.
  std::string entity_types;
  std::vector<int32_t> entity_columns;

  int32_t nrows() const { return static_cast<int32_t>(row_types.size()); }
  int32_t ncols() const { return static_cast<int32_t>(columns.size()); }
  int32_t load(const std::string& name) const { return load(name.c_str()); }
  // The same problem with the objective negated: maximising it has the
  // same solution.
  Problem negated() const {
    Problem p = *this;
    for (Column& c : p.columns) c.cost = -c.cost;
    return p;
  }

  int32_t load(const char* name) const {
    std::vector<int32_t> starts{0};
    std::vector<int32_t> rows;
    std::vector<double> values, lower, upper, cost;
    for (const Column& c : columns) {
      for (const auto& [r, v] : c.entries) {
        rows.push_back(r);
        values.push_back(v);
      }
      starts.push_back(static_cast<int32_t>(rows.size()));
      lower.push_back(c.lower);
      upper.push_back(c.upper);
      cost.push_back(c.cost);
    }
    std::vector<double> range_values = ranges;
    range_values.resize(row_types.size(), 0.0);
    const auto ncols = static_cast<int32_t>(columns.size());
    const auto nrows = static_cast<int32_t>(row_types.size());
    std::vector<int32_t> q1, q2;
    std::vector<double> qv;
    for (const auto& [a, b, v] : quadratic) {
      q1.push_back(a);
      q2.push_back(b);
      qv.push_back(v);
    }
    if (!entity_types.empty()) {
      return KLLOADQGLOBAL(name, ncols, nrows, row_types.data(), rhs.data(), range_values.data(), cost.data(),
                           starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data(),
                           static_cast<int32_t>(qv.size()), q1.data(), q2.data(), qv.data(),
                           static_cast<int32_t>(entity_types.size()), 0, entity_types.data(), entity_columns.data(),
                           nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (!quadratic.empty()) {
      return KLLOADQPROB(name, ncols, nrows, row_types.data(), rhs.data(), range_values.data(), cost.data(),
                         starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data(),
                         static_cast<int32_t>(qv.size()), q1.data(), q2.data(), qv.data());
    }
    return KLLOADPROB(name, ncols, nrows, row_types.data(), rhs.data(), range_values.data(), cost.data(),
                      starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data());
  }
};

// The cycling example: degenerate at the origin, optimum -1.25.
inline Problem beale() {
  Problem p;
  p.row_types = "LLL";
  p.rhs = {0, 0, 1};
  p.columns = {
      {{{0, 0.25}, {1, 0.5}}, 0, kInf, -0.75},
      {{{0, -8.0}, {1, -12.0}}, 0, kInf, 20},
      {{{0, -1.0}, {1, -0.5}, {2, 1.0}}, 0, kInf, -0.5},
      {{{0, 9.0}, {1, 3.0}}, 0, kInf, 6},
  };
  return p;
}

// min -x1 - 2 x2 with -x1 + x2 <= 1: x2 is limited by x1, x1 by nothing.
inline Problem unbounded() {
  Problem p;
  p.row_types = "L";
  p.rhs = {1};
  p.columns = {{{{0, -1.0}}, 0, kInf, -1}, {{{0, 1.0}}, 0, kInf, -2}};
  return p;
}

inline Problem infeasible() {
  Problem p;
  p.row_types = "GL";
  p.rhs = {5, 3};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, kInf, 1}, {{{0, 1.0}, {1, 1.0}}, 0, kInf, 1}};
  return p;
}

// max 3x + 2y, x + y <= 4, x + 3y <= 6, x <= 3: 11 at (3, 1).
inline Problem production() {
  Problem p;
  p.row_types = "LL";
  p.rhs = {4, 6};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, 3}, {{{0, 1.0}, {1, 3.0}}, 0, kInf, 2}};
  return p;
}

// min x with x free, x - y >= -5, 0 <= y <= 2: -5.
inline Problem free_variable() {
  Problem p;
  p.row_types = "G";
  p.rhs = {-5};
  p.columns = {{{{0, 1.0}}, -kInf, kInf, 1}, {{{0, -1.0}}, 0, 2, 0}};
  return p;
}

// min x + 2y with 2 <= x + y <= 6 (a range row), x <= 1: 3 at (1, 1).
inline Problem ranged_row() {
  Problem p;
  p.row_types = "RL";
  p.rhs = {6, 10};
  p.ranges = {4, 0};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 1, 1}, {{{0, 1.0}, {1, -1.0}}, 0, kInf, 2}};
  return p;
}

// A free row besides the objective: it constrains nothing.
inline Problem second_n_row() {
  Problem p;
  p.row_types = "NLL";
  p.rhs = {0, 4, 2};
  p.columns = {{{{0, 1.0}, {1, 1.0}, {2, 1.0}}, 0, kInf, -1}, {{{0, 5.0}, {1, 1.0}, {2, -1.0}}, 0, kInf, -1}};
  return p;
}

// A transportation problem with supplies (L) and demands (G): costs from 1
// to 11, the first route's cost replaced by first_cost when it is given.
// It is dual feasible at the slack basis, so the dual works in phase 2.
inline Problem transport(int32_t sources, int32_t sinks, double first_cost = 0.0) {
  Problem p;
  for (int32_t s = 0; s < sources; ++s) {
    p.row_types += 'L';
    p.rhs.push_back(10.0 + s);
  }
  for (int32_t t = 0; t < sinks; ++t) {
    p.row_types += 'G';
    p.rhs.push_back(5.0 + (t % 3));
  }
  for (int32_t s = 0; s < sources; ++s) {
    for (int32_t t = 0; t < sinks; ++t) {
      Column c;
      c.entries = {{s, 1.0}, {sources + t, 1.0}};
      c.cost = 1.0 + ((s * 7 + t * 3) % 11);
      p.columns.push_back(c);
    }
  }
  if (first_cost != 0.0) p.columns[0].cost = first_cost;
  return p;
}

// A library session whose problems load into the test's own directory (the
// solution file goes beside the problem name); the iteration entry is
// removed afterwards.
class LpSession : public LibrarySession {
 protected:
  void TearDown() override {
    KLDEFINEILENTRY(nullptr);
    LibrarySession::TearDown();
  }
  int32_t load(const Problem& p) { return p.load(dir.file("lp").c_str()); }
  TempDir dir;
};

}  // namespace kltest

#endif
