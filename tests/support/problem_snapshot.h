// The loaded problem as the query exports give it, keyed by row and column
// names, so that a problem written to a file and read back can be compared
// with the one written whatever order the file put things in.
#ifndef KLSOL_TESTS_SUPPORT_PROBLEM_SNAPSHOT_H
#define KLSOL_TESTS_SUPPORT_PROBLEM_SNAPSHOT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"

namespace kltest {

struct ProblemSnapshot {
  std::vector<std::string> row_names, column_names;
  std::map<std::string, char> row_type;
  std::map<std::string, double> rhs, range;
  std::map<std::string, double> cost, lower, upper;
  std::map<std::string, char> column_type;  // C, I, B, P, S (partial integer P, semi-continuous S)
  std::map<std::pair<std::string, std::string>, double> element;  // (row, column)
  int32_t entities = 0;
  int32_t sets = 0;
  int32_t set_members = 0;
};

inline int32_t snapshot_attribute(int32_t n) {
  int32_t v = 0;
  KLGETIPV(n, &v);
  return v;
}

inline std::vector<std::string> snapshot_names(int32_t type, int32_t count) {
  std::vector<std::string> out;
  if (count <= 0) return out;
  const size_t length = static_cast<size_t>(8 * snapshot_attribute(1028));
  std::vector<char> names(static_cast<size_t>(count) * (length + 1));
  KLGETNAMES(type, names.data(), 0, count - 1);
  for (int32_t k = 0; k < count; ++k) {
    std::string name(names.data() + static_cast<size_t>(k) * (length + 1), length);
    name.erase(name.find_last_not_of(' ') + 1);
    out.push_back(name);
  }
  return out;
}

inline ProblemSnapshot take_snapshot() {
  ProblemSnapshot s;
  const int32_t rows = snapshot_attribute(1001);
  const int32_t columns = snapshot_attribute(1018);
  s.row_names = snapshot_names(1, rows);
  s.column_names = snapshot_names(2, columns);
  std::vector<double> v(static_cast<size_t>(std::max(rows, columns)) + 1);
  if (rows > 0) {
    std::string types(static_cast<size_t>(rows), ' ');
    KLGETROWTYPE(types.data(), 0, rows - 1);
    KLGETRHS(v.data(), 0, rows - 1);
    for (int32_t i = 0; i < rows; ++i) {
      s.row_type[s.row_names[i]] = types[static_cast<size_t>(i)];
      s.rhs[s.row_names[i]] = v[static_cast<size_t>(i)];
    }
    KLGETRNG(v.data(), 0, rows - 1);
    for (int32_t i = 0; i < rows; ++i) s.range[s.row_names[i]] = v[static_cast<size_t>(i)];
  }
  if (columns > 0) {
    KLGETOBJ(v.data(), 0, columns - 1);
    for (int32_t j = 0; j < columns; ++j) s.cost[s.column_names[j]] = v[static_cast<size_t>(j)];
    KLGETBDL(v.data(), 0, columns - 1);
    for (int32_t j = 0; j < columns; ++j) s.lower[s.column_names[j]] = v[static_cast<size_t>(j)];
    KLGETBDU(v.data(), 0, columns - 1);
    for (int32_t j = 0; j < columns; ++j) s.upper[s.column_names[j]] = v[static_cast<size_t>(j)];
    int32_t count = 0;
    std::vector<int32_t> starts(static_cast<size_t>(columns) + 1);
    KLGETCOLS(starts.data(), nullptr, nullptr, 0, &count, 0, columns - 1);
    std::vector<int32_t> r(static_cast<size_t>(count) + 1);
    std::vector<double> a(static_cast<size_t>(count) + 1);
    KLGETCOLS(starts.data(), r.data(), a.data(), count, &count, 0, columns - 1);
    for (int32_t j = 0; j < columns; ++j)
      for (int32_t k = starts[static_cast<size_t>(j)]; k < starts[static_cast<size_t>(j) + 1]; ++k)
        s.element[{s.row_names[static_cast<size_t>(r[static_cast<size_t>(k)])], s.column_names[j]}] =
            a[static_cast<size_t>(k)];
    for (const std::string& name : s.column_names) s.column_type[name] = 'C';
    int32_t nentities = 0;
    int32_t nsets = 0;
    KLGETGLOBAL(&nentities, &nsets, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    s.entities = nentities;
    s.sets = nsets;
    if (nentities + nsets > 0) {
      std::string types(static_cast<size_t>(nentities) + 1, ' ');
      std::vector<int32_t> entity_columns(static_cast<size_t>(nentities) + 1);
      std::vector<double> limits(static_cast<size_t>(nentities) + 1);
      std::string set_types(static_cast<size_t>(nsets) + 1, ' ');
      std::vector<int32_t> set_starts(static_cast<size_t>(nsets) + 2);
      KLGETGLOBAL(&nentities, &nsets, types.data(), entity_columns.data(), limits.data(), set_types.data(),
                  set_starts.data(), nullptr, nullptr);
      for (int32_t e = 0; e < nentities; ++e)
        s.column_type[s.column_names[static_cast<size_t>(entity_columns[static_cast<size_t>(e)])]] =
            types[static_cast<size_t>(e)];
      if (nsets > 0) s.set_members = set_starts[static_cast<size_t>(nsets)] - set_starts[0];
    }
  }
  return s;
}

// Relative closeness: |a - b| <= tolerance * max(1, |a|, |b|).
inline bool close_to(double a, double b, double tolerance) {
  return std::fabs(a - b) <= tolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

template <class Key>
void expect_same_values(const std::map<Key, double>& expected, const std::map<Key, double>& read,
                        double tolerance, const char* what) {
  EXPECT_EQ(expected.size(), read.size()) << what;
  int32_t reported = 0;
  for (const auto& [key, value] : expected) {
    const auto found = read.find(key);
    if (found == read.end()) {
      if (value != 0.0 && reported++ < 5) ADD_FAILURE() << what << ": an entry is missing";
      continue;
    }
    if (!close_to(value, found->second, tolerance) && reported++ < 5)
      ADD_FAILURE() << what << ": " << value << " read back as " << found->second;
  }
}

// The problem read back is the problem written: the same rows, columns,
// types and values (to the tolerance).
inline void expect_same_problem(const ProblemSnapshot& expected, const ProblemSnapshot& read, double tolerance) {
  EXPECT_EQ(expected.row_names, read.row_names);
  EXPECT_EQ(expected.column_names, read.column_names);
  EXPECT_EQ(expected.row_type, read.row_type);
  EXPECT_EQ(expected.column_type, read.column_type);
  EXPECT_EQ(expected.entities, read.entities);
  EXPECT_EQ(expected.sets, read.sets);
  EXPECT_EQ(expected.set_members, read.set_members);
  expect_same_values(expected.rhs, read.rhs, tolerance, "right-hand sides");
  expect_same_values(expected.range, read.range, tolerance, "ranges");
  expect_same_values(expected.cost, read.cost, tolerance, "costs");
  expect_same_values(expected.lower, read.lower, tolerance, "lower bounds");
  expect_same_values(expected.upper, read.upper, tolerance, "upper bounds");
  expect_same_values(expected.element, read.element, tolerance, "matrix elements");
}

}  // namespace kltest

#endif
