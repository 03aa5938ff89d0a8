// A problem as a caller hands it to the loaders, for the tests of loading
// and set-up.
#ifndef KLSOL_TESTS_PROBLEM_ARRAY_PROBLEM_H
#define KLSOL_TESTS_PROBLEM_ARRAY_PROBLEM_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"

namespace kltest {

// A problem as the caller hands it over, built column by column.
struct ArrayProblem {
  std::string row_types;
  std::vector<double> rhs, ranges;
  std::vector<double> cost, lower, upper;
  std::vector<int32_t> starts{0}, rows;
  std::vector<double> values;
  // Global part.
  std::string entity_types;
  std::vector<int32_t> entity_columns;
  std::vector<double> limits;
  std::string set_types;
  std::vector<int32_t> set_starts{0}, set_columns;
  std::vector<double> set_refs;

  void add_rows(char type, int n) {
    for (int i = 0; i < n; ++i) row(type, 1.0);
  }
  void row(char type, double b, double range = 0.0) {
    row_types.push_back(type);
    rhs.push_back(b);
    ranges.push_back(range);
  }
  void column(double c, double l, double u, std::vector<std::pair<int32_t, double>> elements = {}) {
    cost.push_back(c);
    lower.push_back(l);
    upper.push_back(u);
    for (const auto& [r, v] : elements) {
      rows.push_back(r);
      values.push_back(v);
    }
    starts.push_back(static_cast<int32_t>(rows.size()));
  }
  void entity(char type, int32_t col, double limit = 0.0) {
    entity_types.push_back(type);
    entity_columns.push_back(col);
    limits.push_back(limit);
  }
  void set(char type, std::vector<std::pair<int32_t, double>> members) {
    set_types.push_back(type);
    for (const auto& [c, ref] : members) {
      set_columns.push_back(c);
      set_refs.push_back(ref);
    }
    set_starts.push_back(static_cast<int32_t>(set_columns.size()));
  }
  int32_t ncols() const { return static_cast<int32_t>(cost.size()); }
  int32_t nrows() const { return static_cast<int32_t>(row_types.size()); }

  int32_t load(const char* name = "test") const {
    return KLLOADPROB(name, ncols(), nrows(), row_types.data(), rhs.data(), ranges.data(), cost.data(), starts.data(),
                      nullptr, rows.data(), values.data(), lower.data(), upper.data());
  }
  int32_t load_global(const char* name = "test") const {
    return KLLOADGLOBAL(name, ncols(), nrows(), row_types.data(), rhs.data(), ranges.data(), cost.data(),
                        starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data(),
                        static_cast<int32_t>(entity_types.size()), static_cast<int32_t>(set_types.size()),
                        entity_types.data(), entity_columns.data(), limits.data(), set_types.data(),
                        set_starts.data(), set_columns.data(), set_refs.data());
  }
};

}  // namespace kltest

#endif
