// Small integer programs for the cut generator tests: built as dense rows,
// loaded with their entities, and every integer-feasible point enumerated
// to check that a cut read back from the pool holds.
#ifndef KLSOL_TESTS_GLOBAL_CUT_TEST_SUPPORT_H
#define KLSOL_TESTS_GLOBAL_CUT_TEST_SUPPORT_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/cut_store.h"
#include "problem/store.h"
#include "runtime/arrays.h"

namespace kltest {

// Rows a x (type) rhs over columns with bounds; integer columns are 'I'
// entities (binaries 'B' when bounded by 0 and 1 and binary is set). At
// most one continuous column, so that the enumeration stays exact.
struct DenseIp {
  std::string types;
  std::vector<double> rhs;
  std::vector<std::vector<double>> a;
  std::vector<double> cost, lower, upper;
  std::vector<bool> integer;
  bool binaries_as_b = false;

  int32_t columns() const { return static_cast<int32_t>(cost.size()); }

  ArrayProblem array() const {
    ArrayProblem p;
    for (size_t i = 0; i < types.size(); ++i) p.row(types[i], rhs[i]);
    for (int32_t j = 0; j < columns(); ++j) {
      std::vector<std::pair<int32_t, double>> elements;
      for (size_t i = 0; i < types.size(); ++i)
        if (a[i][static_cast<size_t>(j)] != 0.0) elements.push_back({static_cast<int32_t>(i), a[i][static_cast<size_t>(j)]});
      p.column(cost[static_cast<size_t>(j)], lower[static_cast<size_t>(j)], upper[static_cast<size_t>(j)], elements);
    }
    for (int32_t j = 0; j < columns(); ++j)
      if (integer[static_cast<size_t>(j)]) {
        const bool binary = binaries_as_b && lower[static_cast<size_t>(j)] == 0.0 && upper[static_cast<size_t>(j)] == 1.0;
        p.entity(binary ? 'B' : 'I', j);
      }
    return p;
  }

  bool row_holds(size_t i, const std::vector<double>& x, double tol = 1e-9) const {
    double act = 0.0;
    for (size_t j = 0; j < x.size(); ++j) act += a[i][j] * x[j];
    switch (types[i]) {
      case 'L': return act <= rhs[i] + tol;
      case 'G': return act >= rhs[i] - tol;
      case 'E': return std::fabs(act - rhs[i]) <= tol;
      default: return true;
    }
  }

  // Calls visit(x) for every feasible point with integral integer columns;
  // for the continuous column (if any) the two ends of its feasible
  // interval are visited, which is enough for a linear inequality.
  void for_each_feasible(const std::function<void(const std::vector<double>&)>& visit) const {
    const int32_t n = columns();
    int32_t cont = -1;
    for (int32_t j = 0; j < n; ++j)
      if (!integer[static_cast<size_t>(j)]) cont = j;
    std::vector<double> x(static_cast<size_t>(n), 0.0);
    std::function<void(int32_t)> rec = [&](int32_t j) {
      if (j == n) {
        if (cont < 0) {
          for (size_t i = 0; i < types.size(); ++i)
            if (!row_holds(i, x)) return;
          visit(x);
          return;
        }
        double lo = lower[static_cast<size_t>(cont)], hi = upper[static_cast<size_t>(cont)];
        for (size_t i = 0; i < types.size(); ++i) {
          double rest = 0.0;
          for (int32_t k = 0; k < n; ++k)
            if (k != cont) rest += a[i][static_cast<size_t>(k)] * x[static_cast<size_t>(k)];
          const double c = a[i][static_cast<size_t>(cont)];
          const double room = rhs[i] - rest;
          if (c == 0.0) {
            if ((types[i] == 'L' && room < -1e-9) || (types[i] == 'G' && room > 1e-9) ||
                (types[i] == 'E' && std::fabs(room) > 1e-9))
              return;
            continue;
          }
          const double t = room / c;
          if (types[i] == 'E') {
            lo = std::max(lo, t);
            hi = std::min(hi, t);
          } else if ((types[i] == 'L') == (c > 0.0)) {
            hi = std::min(hi, t);
          } else {
            lo = std::max(lo, t);
          }
        }
        if (lo > hi + 1e-9) return;
        x[static_cast<size_t>(cont)] = lo;
        visit(x);
        x[static_cast<size_t>(cont)] = std::max(lo, hi);
        visit(x);
        return;
      }
      if (j == cont) {
        rec(j + 1);
        return;
      }
      for (double v = lower[static_cast<size_t>(j)]; v <= upper[static_cast<size_t>(j)] + 1e-9; v += 1.0) {
        x[static_cast<size_t>(j)] = v;
        rec(j + 1);
      }
    };
    rec(0);
  }
};

// A pool record read back: coefficients per structural column (0-based, in
// the loaded problem's own units), sense and right-hand side.
struct PoolCut {
  int32_t record = 0;
  int32_t type = 0;
  int32_t flags = 0;
  std::vector<double> coef;
  double rhs = 0.0;
  char sense = 'L';

  double activity(const std::vector<double>& x) const {
    double s = 0.0;
    for (size_t j = 0; j < coef.size(); ++j) s += coef[j] * x[j];
    return s;
  }
  // How far x lies beyond the cut (positive: violated).
  double excess(const std::vector<double>& x) const {
    const double act = activity(x);
    if (sense == 'G') return rhs - act;
    if (sense == 'E') return std::fabs(act - rhs);
    return act - rhs;
  }
};

inline PoolCut read_pool_cut(int32_t record, int32_t columns) {
  using namespace kl;
  PoolCut cut;
  cut.record = record;
  cut.type = cut_record_field(record, CUT_FIELD_TYPE);
  cut.flags = cut_record_field(record, CUT_FIELD_FLAGS);
  const int32_t first = cut_record_field(record, CUT_FIELD_FIRST);
  const int32_t length = cut_record_field(record, CUT_FIELD_LENGTH);
  cut.coef.assign(static_cast<size_t>(columns), 0.0);
  OneBased<int32_t> pool_columns = int_array(ARR_CUT_ELEM_COLUMN);
  OneBased<double> pool_values = real_array(ARR_CUT_ELEM_VALUE);
  for (int32_t e = first; e < first + length; ++e)
    cut.coef[static_cast<size_t>(pool_columns[e] - store.first_col)] += pool_values[e];
  cut.rhs = real_array(ARR_CUT_RHS)[record];
  cut.sense = (cut.flags & CUT_SENSE_G) != 0 ? 'G' : (cut.flags & CUT_SENSE_E) != 0 ? 'E' : 'L';
  return cut;
}

// Every cut of the list holds at every integer-feasible point of ip within
// tol; returns the number of points checked, and the worst excess.
inline int64_t check_cuts_valid(const DenseIp& ip, const std::vector<PoolCut>& cuts, double tol, double& worst,
                                std::string& failure) {
  int64_t points = 0;
  worst = -std::numeric_limits<double>::infinity();
  ip.for_each_feasible([&](const std::vector<double>& x) {
    ++points;
    for (const PoolCut& cut : cuts) {
      const double e = cut.excess(x);
      if (e > worst) worst = e;
      if (e > tol && failure.empty()) {
        failure = "record " + std::to_string(cut.record) + " cuts off (";
        for (const double v : x) failure += std::to_string(v) + " ";
        failure += ") by " + std::to_string(e);
      }
    }
  });
  return points;
}

}  // namespace kltest

#endif
