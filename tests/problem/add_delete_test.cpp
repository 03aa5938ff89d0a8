// Adding and deleting rows, columns and names through the exports. The edit
// scripts keep a caller-side model of the problem in step with the library;
// after each script the stored problem must read back like the model loaded
// from scratch, and re-optimising must give the fresh load's optimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "factor/scaling.h"
#include "klsol32.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/lp_driver.h"
#include "simplex/lp_solution_checker.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::objective_value;

using namespace kl;

constexpr double kInf = 1e20;

using Entries = std::vector<std::pair<int32_t, double>>;  // (0-based index, value)

struct Column {
  Entries entries;  // (row, value)
  double lower = 0.0;
  double upper = kInf;
  double cost = 0.0;
};

struct NewRow {
  char type;
  double rhs;
  double range;
  Entries entries;  // (column, value)
};

int32_t base() {
  int32_t b = 0;
  KLGETICV(KLIC_IFDBG, &b);
  return b;
}
// A 0-based model index as the caller passes it.
int32_t caller(int32_t m) { return m + 1 - base(); }

// The caller's view of a problem: rows, columns and the upper triangle of Q
// by 0-based column indices.
struct Model {
  std::string types;
  std::vector<double> rhs;
  std::vector<double> ranges;
  std::vector<Column> columns;
  std::map<std::pair<int32_t, int32_t>, double> q;

  int32_t nrows() const { return static_cast<int32_t>(types.size()); }
  int32_t ncols() const { return static_cast<int32_t>(columns.size()); }

  int32_t load(const std::string& name) const {
    std::vector<int32_t> starts;
    std::vector<int32_t> rows;
    std::vector<double> values, lower, upper, cost;
    for (const Column& c : columns) {
      starts.push_back(caller(static_cast<int32_t>(rows.size())));
      for (const auto& [r, v] : c.entries) {
        rows.push_back(caller(r));
        values.push_back(v);
      }
      lower.push_back(c.lower);
      upper.push_back(c.upper);
      cost.push_back(c.cost);
    }
    starts.push_back(caller(static_cast<int32_t>(rows.size())));
    std::vector<double> range_values = ranges;
    range_values.resize(types.size(), 0.0);
    if (q.empty())
      return KLLOADPROB(name.c_str(), ncols(), nrows(), types.data(), rhs.data(), range_values.data(), cost.data(),
                        starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data());
    std::vector<int32_t> q1, q2;
    std::vector<double> qv;
    for (const auto& [ij, v] : q) {
      q1.push_back(caller(ij.first));
      q2.push_back(caller(ij.second));
      qv.push_back(v);
    }
    return KLLOADQPROB(name.c_str(), ncols(), nrows(), types.data(), rhs.data(), range_values.data(), cost.data(),
                       starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data(),
                       static_cast<int32_t>(qv.size()), q1.data(), q2.data(), qv.data());
  }
};

// ---------------------------------------------------------------------------
// Edits, applied to the library and to the model alike.

int32_t add_rows(Model& m, const std::vector<NewRow>& rows) {
  std::string types;
  std::vector<double> rhs, ranges, values;
  std::vector<int32_t> starts, cols;
  for (const NewRow& r : rows) {
    types += r.type;
    rhs.push_back(r.rhs);
    ranges.push_back(r.range);
    starts.push_back(caller(static_cast<int32_t>(cols.size())));
    for (const auto& [c, v] : r.entries) {
      cols.push_back(caller(c));
      values.push_back(v);
    }
  }
  const int32_t status = KLADDROWS(static_cast<int32_t>(rows.size()), static_cast<int32_t>(cols.size()),
                                   types.data(), rhs.data(), ranges.data(), starts.data(), cols.data(), values.data());
  if (status != 0) return status;
  for (const NewRow& r : rows) {
    const int32_t i = m.nrows();
    m.types += r.type;
    m.rhs.push_back(r.rhs);
    m.ranges.resize(static_cast<size_t>(i), 0.0);
    m.ranges.push_back(r.range);
    for (const auto& [c, v] : r.entries) m.columns[static_cast<size_t>(c)].entries.emplace_back(i, v);
  }
  return status;
}

int32_t add_cols(Model& m, const std::vector<Column>& columns) {
  std::vector<double> cost, lower, upper, values;
  std::vector<int32_t> starts, rows;
  for (const Column& c : columns) {
    cost.push_back(c.cost);
    lower.push_back(c.lower);
    upper.push_back(c.upper);
    starts.push_back(caller(static_cast<int32_t>(rows.size())));
    for (const auto& [r, v] : c.entries) {
      rows.push_back(caller(r));
      values.push_back(v);
    }
  }
  const int32_t status = KLADDCOLS(static_cast<int32_t>(columns.size()), static_cast<int32_t>(rows.size()),
                                   cost.data(), starts.data(), rows.data(), values.data(), lower.data(), upper.data());
  if (status == 0) m.columns.insert(m.columns.end(), columns.begin(), columns.end());
  return status;
}

// Old 0-based index -> new one, -1 for a deleted one.
std::vector<int32_t> renumbering(int32_t n, const std::vector<int32_t>& gone) {
  std::vector<int32_t> map(static_cast<size_t>(n));
  int32_t next = 0;
  for (int32_t k = 0; k < n; ++k)
    map[static_cast<size_t>(k)] = std::count(gone.begin(), gone.end(), k) > 0 ? -1 : next++;
  return map;
}

int32_t del_rows(Model& m, const std::vector<int32_t>& gone) {
  std::vector<int32_t> indices;
  for (const int32_t i : gone) indices.push_back(caller(i));
  const int32_t status = KLDELROWS(static_cast<int32_t>(indices.size()), indices.data());
  if (status != 0) return status;
  const std::vector<int32_t> map = renumbering(m.nrows(), gone);
  Model kept = m;
  kept.types.clear();
  kept.rhs.clear();
  kept.ranges.clear();
  m.ranges.resize(m.types.size(), 0.0);
  for (int32_t i = 0; i < m.nrows(); ++i) {
    if (map[static_cast<size_t>(i)] < 0) continue;
    kept.types += m.types[static_cast<size_t>(i)];
    kept.rhs.push_back(m.rhs[static_cast<size_t>(i)]);
    kept.ranges.push_back(m.ranges[static_cast<size_t>(i)]);
  }
  for (Column& c : kept.columns) {
    Entries entries;
    for (const auto& [r, v] : c.entries)
      if (map[static_cast<size_t>(r)] >= 0) entries.emplace_back(map[static_cast<size_t>(r)], v);
    c.entries = entries;
  }
  m = kept;
  return status;
}

int32_t del_cols(Model& m, const std::vector<int32_t>& gone) {
  std::vector<int32_t> indices;
  for (const int32_t j : gone) indices.push_back(caller(j));
  const int32_t status = KLDELCOLS(static_cast<int32_t>(indices.size()), indices.data());
  if (status != 0) return status;
  const std::vector<int32_t> map = renumbering(m.ncols(), gone);
  std::vector<Column> columns;
  for (int32_t j = 0; j < m.ncols(); ++j)
    if (map[static_cast<size_t>(j)] >= 0) columns.push_back(m.columns[static_cast<size_t>(j)]);
  m.columns = columns;
  std::map<std::pair<int32_t, int32_t>, double> q;
  for (const auto& [ij, v] : m.q) {
    const int32_t a = map[static_cast<size_t>(ij.first)];
    const int32_t b = map[static_cast<size_t>(ij.second)];
    if (a >= 0 && b >= 0) q[{a, b}] = v;
  }
  m.q = q;
  return status;
}

// ---------------------------------------------------------------------------
// The stored problem in the caller's terms, through the getters.

struct Snapshot {
  int32_t nrow = 0;
  int32_t ncols = 0;
  std::string types;
  std::vector<double> rhs, rng, obj, lower, upper, q;
  std::vector<std::vector<std::pair<int32_t, double>>> columns;  // sorted by row

};

// Field by field, so that a difference prints where it lies.
void expect_same(const Snapshot& a, const Snapshot& b) {
  EXPECT_EQ(a.nrow, b.nrow);
  EXPECT_EQ(a.ncols, b.ncols);
  EXPECT_EQ(a.types, b.types);
  EXPECT_EQ(a.rhs, b.rhs);
  EXPECT_EQ(a.rng, b.rng);
  EXPECT_EQ(a.obj, b.obj);
  EXPECT_EQ(a.lower, b.lower);
  EXPECT_EQ(a.upper, b.upper);
  EXPECT_EQ(a.columns, b.columns);
  EXPECT_EQ(a.q, b.q);
}

Snapshot snapshot() {
  Snapshot s;
  KLGETIPV(KLIA_NROW, &s.nrow);
  KLGETIPV(KLIA_NCOLS, &s.ncols);
  if (s.nrow > 0) {
    s.types.assign(static_cast<size_t>(s.nrow), ' ');
    s.rhs.resize(static_cast<size_t>(s.nrow));
    s.rng.resize(static_cast<size_t>(s.nrow));
    KLGETROWTYPE(s.types.data(), caller(0), caller(s.nrow - 1));
    KLGETRHS(s.rhs.data(), caller(0), caller(s.nrow - 1));
    KLGETRNG(s.rng.data(), caller(0), caller(s.nrow - 1));
  }
  if (s.ncols > 0) {
    const size_t n = static_cast<size_t>(s.ncols);
    s.obj.resize(n);
    s.lower.resize(n);
    s.upper.resize(n);
    KLGETOBJ(s.obj.data(), caller(0), caller(s.ncols - 1));
    KLGETBDL(s.lower.data(), caller(0), caller(s.ncols - 1));
    KLGETBDU(s.upper.data(), caller(0), caller(s.ncols - 1));
    int32_t count = 0;
    KLGETCOLS(nullptr, nullptr, nullptr, 0, &count, caller(0), caller(s.ncols - 1));
    std::vector<int32_t> starts(n + 1), rows(static_cast<size_t>(count) + 1);
    std::vector<double> values(static_cast<size_t>(count) + 1);
    KLGETCOLS(starts.data(), rows.data(), values.data(), count, &count, caller(0), caller(s.ncols - 1));
    s.columns.resize(n);
    for (size_t j = 0; j < n; ++j) {
      for (int32_t k = starts[j]; k < starts[j + 1]; ++k) {
        const size_t e = static_cast<size_t>(k - caller(0));
        s.columns[j].emplace_back(rows[e] - caller(0), values[e]);
      }
      std::sort(s.columns[j].begin(), s.columns[j].end());
    }
    for (int32_t i = 0; i < s.ncols; ++i)
      for (int32_t j = 0; j < s.ncols; ++j) {
        double v = 0.0;
        KLGETQOBJ(caller(i), caller(j), &v);
        s.q.push_back(v);
      }
  }
  return s;
}

// The basis the store holds is square and consistent: nrow distinct basic
// positions in the header, every one flagged basic, no other position basic.
void expect_square_basis() {
  const OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  std::set<int32_t> named;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t p = header[i];
    const bool valid = (p >= 1 && p <= nrow) || (p >= store.first_col && p <= nseq);
    EXPECT_TRUE(valid) << "header " << i << " names " << p;
    if (!valid) continue;
    EXPECT_TRUE(status[p] & PS_BASIC) << "header " << i << " names nonbasic " << p;
    named.insert(p);
  }
  EXPECT_EQ(named.size(), static_cast<size_t>(nrow));
  int32_t basic = 0;
  for (int32_t p = 1; p <= nseq; ++p)
    if ((p <= nrow || p >= store.first_col) && (status[p] & PS_BASIC)) ++basic;
  EXPECT_EQ(basic, nrow);
}

int32_t lp_status() {
  int32_t v = 0;
  KLGETIPV(ATTR_LP_STATUS, &v);
  return v;
}

// max 3x + 2y (as min -3x - 2y), x + y <= 4, x + 3y <= 6, x <= 3: -11.
Model production() {
  Model m;
  m.types = "LL";
  m.rhs = {4, 6};
  m.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, -3}, {{{0, 1.0}, {1, 3.0}}, 0, kInf, -2}};
  return m;
}

// A small transportation problem, scaled with factors other than 1: the
// supplies and costs span several orders of magnitude.
Model transport() {
  Model m;
  const int32_t sources = 3, sinks = 4;
  for (int32_t s = 0; s < sources; ++s) {
    m.types += 'L';
    m.rhs.push_back(40.0 * (s + 1));
  }
  for (int32_t t = 0; t < sinks; ++t) {
    m.types += 'G';
    m.rhs.push_back(15.0 + 5 * t);
  }
  for (int32_t s = 0; s < sources; ++s)
    for (int32_t t = 0; t < sinks; ++t)
      m.columns.push_back({{{s, 1.0}, {sources + t, 1.0}}, 0, kInf, 1.0 + ((s * 7 + t * 3) % 11)});
  return m;
}

// Entries from 1e-3 to 3e3: scaling gives rows and columns factors of
// their own, so new entries must meet both.
Model wide_range() {
  Model m;
  m.types = "LLG";
  m.rhs = {5000, 0.08, 1};
  m.columns = {{{{0, 1000.0}, {1, 0.02}, {2, 4000.0}}, 0, 10, -1},
               {{{0, 1.0}, {1, 3e-5}, {2, 1.0}}, 0, 10, -2},
               {{{0, 0.001}, {1, 2e-8}, {2, 0.004}}, 0, 10, -1}};
  return m;
}

class AddDelete : public kltest::LibrarySession {
 protected:
  int32_t load(const Model& m) { return m.load(dir.file("edit")); }

  // Solves the problem held, checks the solution against its own optimality
  // conditions and returns the objective.
  double solve() {
    EXPECT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(lp_status(), LP_OPTIMAL);
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok()) << check.report();
    return objective_value();
  }

  kltest::TempDir dir;
};

// ---------------------------------------------------------------------------

struct Script {
  const char* name;
  Model (*problem)();
  std::function<void(Model&)> edit;
};

std::vector<Script> lp_scripts() {
  return {
      {"an L row that cuts off the optimum", production,
       [](Model& m) { ASSERT_EQ(add_rows(m, {{'L', 3.0, 0.0, {{0, 1.0}, {1, 1.0}}}}), 0); }},
      {"E, G, N and a range row given a negative range", production,
       [](Model& m) {
         ASSERT_EQ(add_rows(m, {{'R', 5.0, -4.0, {{0, 2.0}, {1, 1.0}}},
                                {'G', 0.5, 0.0, {{1, 1.0}}},
                                {'N', 0.0, 0.0, {{0, 7.0}}},
                                {'E', 1.5, 0.0, {{0, 1.0}, {1, -1.0}}}}),
                   0);
       }},
      {"columns: with entries, free, fixed, and one entry below ZTOLDA", production,
       [](Model& m) {
         ASSERT_EQ(add_cols(m, {{{{0, 1.0}, {1, 0.25}}, 0, 2, -4},
                                {{{0, -1.0}}, -kInf, kInf, 1},
                                {{{0, 1.0}}, 0.5, 0.5, -1}}),
                   0);
         // An entry below ZTOLDA is dropped and does not count for scaling.
         std::vector<double> cost{-1}, lower{0}, upper{1}, values{1e-12, 1024.0};
         std::vector<int32_t> starts{caller(0)}, rows{caller(0), caller(1)};
         ASSERT_EQ(KLADDCOLS(1, 2, cost.data(), starts.data(), rows.data(), values.data(), lower.data(),
                             upper.data()),
                   0);
         m.columns.push_back({{{1, 1024.0}}, 0, 1, -1});
       }},
      {"the first row and the last column", transport,
       [](Model& m) {
         ASSERT_EQ(del_rows(m, {0}), 0);
         ASSERT_EQ(del_cols(m, {m.ncols() - 1}), 0);
       }},
      {"the same column twice in one call", transport, [](Model& m) { ASSERT_EQ(del_cols(m, {5, 2, 5}), 0); }},
      {"rows added, then rows deleted around them", transport,
       [](Model& m) {
         ASSERT_EQ(add_rows(m, {{'L', 30.0, 0.0, {{0, 1.0}, {4, 1.0}, {8, 1.0}}},
                                {'G', 1.0, 0.0, {{11, 2.0}}}}),
                   0);
         ASSERT_EQ(del_rows(m, {1, 3, 6}), 0);
       }},
      {"columns added, a middle one deleted, then a row over the renumbered columns", transport,
       [](Model& m) {
         ASSERT_EQ(add_cols(m, {{{{0, 1.0}, {3, 1.0}}, 0, kInf, 0.5}, {{{2, 1.0}, {6, 1.0}}, 0, 4, 0.25}}), 0);
         ASSERT_EQ(del_cols(m, {4}), 0);
         ASSERT_EQ(add_rows(m, {{'L', 12.0, 0.0, {{m.ncols() - 1, 1.0}, {m.ncols() - 2, 1.0}}}}), 0);
       }},
      {"a row and a column over rows and columns with factors of their own", wide_range,
       [](Model& m) {
         ASSERT_EQ(add_rows(m, {{'R', 1500.0, 1400.0, {{0, 500.0}, {2, 0.0025}}}}), 0);
         ASSERT_EQ(add_cols(m, {{{{0, 3000.0}, {1, 0.004}, {3, 2.0}}, 0, 5, -3}}), 0);
       }},
      {"a row and a column of a scaled problem", wide_range,
       [](Model& m) {
         ASSERT_EQ(del_rows(m, {1}), 0);
         ASSERT_EQ(del_cols(m, {0}), 0);
       }},
      {"a binding row and a basic column", production,
       [](Model& m) {
         ASSERT_EQ(del_rows(m, {0}), 0);
         ASSERT_EQ(del_cols(m, {1}), 0);
       }},
  };
}

// Every script on a solved problem, with and without spare room, scaled and
// not, in both index bases.
TEST_F(AddDelete, EditScriptsMatchAFreshLoadAndItsOptimum) {
  for (const Script& script : lp_scripts())
    for (const int32_t spares : {0, 4})
      for (const int32_t scaling : {0, 35})
        for (const int32_t index_base : {1, 0}) {
          SCOPED_TRACE(std::string(script.name) + ", spares " + std::to_string(spares) + ", IFSCAL " +
                       std::to_string(scaling) + ", base " + std::to_string(index_base));
          KLSETICV(KLIC_NRXTRA, spares);
          KLSETICV(KLIC_NCXTRA, spares);
          KLSETICV(KLIC_NMXTRA, 4 * spares);
          KLSETICV(KLIC_IFSCAL, scaling);
          KLSETICV(KLIC_IFDBG, index_base);
          Model model = script.problem();
          ASSERT_EQ(load(model), 0);
          solve();
          script.edit(model);
          if (HasFatalFailure()) return;
          expect_square_basis();
          const Snapshot edited = snapshot();
          const double reoptimised = solve();

          ASSERT_EQ(load(model), 0);
          expect_same(snapshot(), edited);
          EXPECT_NEAR(reoptimised, solve(), 1e-9);
        }
}

// A column added to a scaled problem gets a factor of its own: it is stored
// scaled and read back as given.
TEST_F(AddDelete, NewColumnsAndRowsAreScaledOnTheWayIn) {
  for (const int32_t scaling : {35, 0}) {
    SCOPED_TRACE(scaling);
    KLSETICV(KLIC_IFSCAL, scaling);
    Model model = production();
    ASSERT_EQ(load(model), 0);
    ASSERT_EQ(add_cols(model, {{{{0, 1024.0}, {1, 4096.0}}, 1, 8, 3}}), 0);
    ASSERT_EQ(add_rows(model, {{'L', 1e-3, 0.0, {{0, 1e-3}, {1, 4e-3}}}}), 0);
    const int32_t column = nseq;
    const int32_t row = nrow;
    EXPECT_EQ(scale_exponent(int_array(ARR_POS_STATUS)[column]) != kNeutralScaleExponent, scaling != 0);
    EXPECT_EQ(scale_exponent(int_array(ARR_POS_STATUS)[row]) != kNeutralScaleExponent, scaling != 0);
    double stored = 0.0, given = 0.0;
    ASSERT_EQ(KLIGETRHS(&stored, caller(2), caller(2)), 0);
    ASSERT_EQ(KLGETRHS(&given, caller(2), caller(2)), 0);
    EXPECT_EQ(given, 1e-3);
    EXPECT_EQ(stored != given, scaling != 0);
    ASSERT_EQ(KLGETBDU(&given, caller(2), caller(2)), 0);
    EXPECT_EQ(given, 8.0);
    ASSERT_EQ(KLGETOBJ(&given, caller(2), caller(2)), 0);
    EXPECT_EQ(given, 3.0);
    const Snapshot s = snapshot();
    EXPECT_EQ(s.columns[2], (std::vector<std::pair<int32_t, double>>{{0, 1024.0}, {1, 4096.0}}));
    EXPECT_EQ(s.columns[1].back(), (std::pair<int32_t, double>{2, 4e-3}));
  }
}

// Rows added with no spare room move every column up; names, bounds, status
// words and the quadratic objective go with them. With room to spare the
// new column still gets empty quadratic lists.
TEST_F(AddDelete, AddingKeepsNamesStatusAndTheQuadraticObjective) {
  for (const int32_t spares : {0, 3}) {
    SCOPED_TRACE(spares);
    KLSETICV(KLIC_NRXTRA, spares);
    KLSETICV(KLIC_NCXTRA, spares);
    Model model = production();
    model.columns.push_back({{{0, 2.0}}, -1, 5, 1});
    model.q = {{{0, 0}, 2.0}, {{0, 2}, -1.0}, {{1, 2}, 0.5}};
    ASSERT_EQ(load(model), 0);
    const char names[] = "alpha\0beta\0gamma";
    ASSERT_EQ(KLADDNAMES(2, names, caller(0), caller(2)), 0);
    const int32_t first_before = store.first_col;
    std::vector<int32_t> status_before;
    for (int32_t j = 0; j < 3; ++j) status_before.push_back(int_array(ARR_POS_STATUS)[store.first_col + j]);

    ASSERT_EQ(add_rows(model, {{'G', 1.0, 0.0, {{2, 1.0}}}, {'L', 9.0, 0.0, {{0, 1.0}, {1, 1.0}, {2, 1.0}}}}), 0);
    ASSERT_EQ(add_cols(model, {{{{2, 1.0}, {3, 1.0}}, 0, kInf, 1}}), 0);

    EXPECT_EQ(store.first_col > first_before, spares == 0);
    // Without spares the storage grew by the number wanted plus 1000.
    EXPECT_EQ(spare_rows_left, spares == 0 ? 1000 : 1);
    EXPECT_EQ(spare_cols_left, spares == 0 ? 1000 : 2);
    for (int32_t j = 0; j < 3; ++j)
      EXPECT_EQ(int_array(ARR_POS_STATUS)[store.first_col + j], status_before[static_cast<size_t>(j)]) << j;
    char read[4 * 9];
    ASSERT_EQ(KLGETNAMES(2, read, caller(0), caller(3)), 0);
    EXPECT_STREQ(read, "alpha   ");
    EXPECT_STREQ(read + 9, "beta    ");
    EXPECT_STREQ(read + 18, "gamma   ");
    // The new column's default name carries its position.
    const std::string digits = std::to_string(store.first_col + 3);
    EXPECT_EQ(std::string(read + 27), std::string(8 - digits.size(), 'V') + digits);
    double q = 0.0;
    ASSERT_EQ(KLGETQOBJ(caller(2), caller(0), &q), 0);
    EXPECT_EQ(q, -1.0);
    ASSERT_EQ(KLGETQOBJ(caller(3), caller(3), &q), 0);
    EXPECT_EQ(q, 0.0);

    const Snapshot edited = snapshot();
    ASSERT_EQ(load(model), 0);
    expect_same(snapshot(), edited);
  }
}

// Deleting columns 2 and 5 of a quadratic problem keeps every entry between
// the other columns under their new numbers.
TEST_F(AddDelete, DeletingColumnsRenumbersTheQuadraticObjective) {
  Model model;
  model.types = "L";
  model.rhs = {10};
  for (int32_t j = 0; j < 7; ++j) model.columns.push_back({{{0, 1.0 + j}}, 0, 10, -1.0 * j});
  for (int32_t i = 0; i < 7; ++i)
    for (int32_t j = i; j < 7; ++j)
      if ((i + j) % 2 == 0 || j == 5) model.q[{i, j}] = 1.0 + i + 10.0 * j;
  ASSERT_EQ(load(model), 0);
  ASSERT_EQ(del_cols(model, {2, 5}), 0);
  ASSERT_EQ(model.ncols(), 5);
  const Snapshot edited = snapshot();
  ASSERT_EQ(load(model), 0);
  expect_same(snapshot(), edited);
}

// Deleting columns takes integer columns out of the entities and members out
// of their sets; the later entities and members are renumbered.
TEST_F(AddDelete, DeletingColumnsRenumbersEntitiesAndSets) {
  const char types[] = "LL";
  const double rhs[] = {10, 10}, ranges[] = {0, 0};
  const double cost[] = {1, 2, 3, 4, 5}, lower[] = {0, 0, 0, 0, 0}, upper[] = {9, 9, 9, 9, 9};
  const int32_t starts[] = {0, 1, 2, 3, 4, 5};
  const int32_t rows[] = {0, 1, 0, 1, 0};
  const double values[] = {1, 1, 1, 1, 1};
  const char entity_types[] = "IBI";
  const int32_t entity_columns[] = {1, 3, 4};
  const char set_types[] = "1";
  const int32_t set_starts[] = {0, 4};
  const int32_t set_columns[] = {0, 2, 3, 4};
  const double set_refs[] = {1, 2, 3, 4};
  ASSERT_EQ(KLLOADGLOBAL(dir.file("global").c_str(), 5, 2, types, rhs, ranges, cost, starts, nullptr, rows, values,
                         lower, upper, 3, 1, entity_types, entity_columns, nullptr, set_types, set_starts,
                         set_columns, set_refs),
            0);
  const int32_t gone[] = {1, 2};
  ASSERT_EQ(KLDELCOLS(2, gone), 0);

  int32_t nentities = 0, nsets_read = 0;
  char etypes[4] = {}, stypes[2] = {};
  int32_t ecols[3] = {}, sstarts[2] = {}, scols[4] = {};
  double limits[3] = {}, refs[4] = {};
  ASSERT_EQ(KLGETGLOBAL(&nentities, &nsets_read, etypes, ecols, limits, stypes, sstarts, scols, refs), 0);
  EXPECT_EQ(nentities, 2);
  EXPECT_EQ(std::string(etypes, 2), "BI");
  EXPECT_EQ(ecols[0], 1);
  EXPECT_EQ(ecols[1], 2);
  ASSERT_EQ(nsets_read, 1);
  EXPECT_EQ(sstarts[1] - sstarts[0], 3);
  EXPECT_EQ(std::vector<int32_t>(scols, scols + 3), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(std::vector<double>(refs, refs + 3), (std::vector<double>{1, 3, 4}));
  char coltypes[3] = {};
  ASSERT_EQ(KLGETCOLTYPE(coltypes, 0, 2), 0);
  EXPECT_EQ(std::string(coltypes, 3), "CBI");
}

TEST_F(AddDelete, DeletingRowsRenumbersTheObjectiveRowAndNamesTheSpares) {
  Model model = transport();
  ASSERT_EQ(load(model), 0);
  store.objective_row = 5;
  const int32_t old_nrow = nrow;
  const int32_t before[] = {0, 2};
  ASSERT_EQ(KLDELROWS(2, before), 0);
  EXPECT_EQ(store.objective_row, 3);
  const int32_t itself[] = {2};
  ASSERT_EQ(KLDELROWS(1, itself), 0);
  EXPECT_EQ(store.objective_row, -2);
  EXPECT_EQ(nrow, old_nrow - 3);
  EXPECT_EQ(spare_rows_left, 3);
  EXPECT_EQ(std::string(position_name(old_nrow), 8), "**00007*");
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[old_nrow], 0);
}

// Each bad call is refused before anything changes.
TEST_F(AddDelete, BadCallsLeaveTheProblemAsItWas) {
  struct Case {
    const char* name;
    std::function<int32_t()> call;
    int32_t message;
  };
  const std::vector<int32_t> one_start{0};
  const std::vector<double> one{1.0}, two{1.0, 2.0};
  const Case cases[] = {
      {"addcol: row index past the rows",
       [&] {
         const int32_t rows[] = {0, 7};
         return KLADDCOLS(1, 2, one.data(), one_start.data(), rows, two.data(), one.data(), one.data());
       },
       402},
      {"addcol: a row twice in one column",
       [&] {
         const int32_t rows[] = {1, 1};
         return KLADDCOLS(1, 2, one.data(), one_start.data(), rows, two.data(), one.data(), one.data());
       },
       423},
      {"addcol: a start outside the entries",
       [&] {
         const int32_t starts[] = {0, 5};
         const int32_t rows[] = {0, 1};
         const double v[] = {1, 1};
         return KLADDCOLS(2, 2, v, starts, rows, two.data(), v, v);
       },
       7},
      {"addcol: no bounds", [&] { return KLADDCOLS(1, 0, one.data(), nullptr, nullptr, nullptr, nullptr, one.data()); },
       601},
      {"addcol: NaN cost",
       [&] {
         const double cost[] = {NAN};
         return KLADDCOLS(1, 0, cost, nullptr, nullptr, nullptr, one.data(), one.data());
       },
       975},
      {"addcol: plus infinity as a lower bound",
       [&] {
         const double lower[] = {INFINITY};
         return KLADDCOLS(1, 0, one.data(), nullptr, nullptr, nullptr, lower, one.data());
       },
       975},
      {"addcol: infinite element after a good one",
       [&] {
         const int32_t rows[] = {0, 1};
         const double v[] = {1.0, -INFINITY};
         return KLADDCOLS(1, 2, one.data(), one_start.data(), rows, v, one.data(), one.data());
       },
       975},
      {"addrow: infinite right-hand side",
       [&] {
         const double rhs[] = {INFINITY};
         return KLADDROWS(1, 0, "L", rhs, nullptr, nullptr, nullptr, nullptr);
       },
       975},
      {"addrow: NaN range of a range row",
       [&] {
         const double range[] = {NAN};
         return KLADDROWS(1, 0, "R", one.data(), range, nullptr, nullptr, nullptr);
       },
       975},
      {"addrow: NaN element",
       [&] {
         const int32_t cols[] = {0, 1};
         const double v[] = {NAN, 1.0};
         return KLADDROWS(1, 2, "L", one.data(), one.data(), one_start.data(), cols, v);
       },
       975},
      {"addrow: bad type letter after a good row",
       [&] {
         const double v[] = {1, 1};
         return KLADDROWS(2, 0, "Lr", v, v, nullptr, nullptr, nullptr);
       },
       401},
      {"addrow: column index past the columns",
       [&] {
         const int32_t cols[] = {0, 12};
         return KLADDROWS(1, 2, "L", one.data(), one.data(), one_start.data(), cols, two.data());
       },
       405},
      {"addrow: a column twice in one row",
       [&] {
         const int32_t cols[] = {3, 3};
         return KLADDROWS(1, 2, "G", one.data(), one.data(), one_start.data(), cols, two.data());
       },
       423},
      {"addrow: a range row without ranges",
       [&] { return KLADDROWS(1, 0, "R", one.data(), nullptr, nullptr, nullptr, nullptr); }, 601},
      {"addrow: negative count", [&] { return KLADDROWS(-1, 0, "L", one.data(), nullptr, nullptr, nullptr, nullptr); },
       7},
      {"delrow: a bad index after good ones",
       [&] {
         const int32_t rows[] = {0, 1, 7};
         return KLDELROWS(3, rows);
       },
       402},
      {"delcol: a bad index after good ones",
       [&] {
         const int32_t cols[] = {0, -1};
         return KLDELCOLS(2, cols);
       },
       405},
      {"delcol: no indices", [&] { return KLDELCOLS(1, nullptr); }, 601},
      {"addnames: rows past the last", [&] { return KLADDNAMES(1, "a\0b", 6, 7); }, 406},
      {"addnames: columns past the last", [&] { return KLADDNAMES(2, "a\0b", 11, 12); }, 407},
      {"addnames: the second name too long", [&] { return KLADDNAMES(1, "abc\0abcdefghi", 0, 1); }, 408},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(load(transport()), 0);
    solve();
    const Snapshot before = snapshot();
    char names_before[7 * 9];
    ASSERT_EQ(KLGETNAMES(1, names_before, 0, 6), 0);
    const int32_t flags = problem_flags;
    EXPECT_EQ(c.call(), 32);
    EXPECT_EQ(problem_flags, flags);
    int32_t last_error = 0;
    KLGETIPV(ATTR_LAST_ERROR, &last_error);
    EXPECT_EQ(last_error, c.message);
    expect_same(snapshot(), before);
    char names_after[7 * 9];
    ASSERT_EQ(KLGETNAMES(1, names_after, 0, 6), 0);
    EXPECT_EQ(std::memcmp(names_before, names_after, sizeof names_after), 0);
  }
  // The long name's offset is where it passes the 8 characters.
  EXPECT_EQ(error_value, 12);
}

TEST_F(AddDelete, RefusalsWithoutAnEditableProblem) {
  const int32_t zero[] = {0};
  EXPECT_EQ(KLDELROWS(1, zero), 32);
  EXPECT_TRUE(kltest::any_line_contains("No problem has been loaded"));

  ASSERT_EQ(load(production()), 0);
  KLSETICV(KLIC_IFMEM, 2);
  const double one[] = {1};
  EXPECT_EQ(KLADDROWS(1, 0, "L", one, one, nullptr, nullptr, nullptr), 32);
  EXPECT_EQ(KLDELCOLS(1, zero), 32);
  // Adding columns and deleting rows keep the shape the bit protects.
  EXPECT_EQ(KLADDCOLS(1, 0, one, nullptr, nullptr, nullptr, one, one), 0);
  EXPECT_EQ(KLDELROWS(1, zero), 0);
  KLSETICV(KLIC_IFMEM, 0);
  int32_t cols = 0, rows = 0;
  KLGETIPV(KLIA_NCOLS, &cols);
  KLGETIPV(KLIA_NROW, &rows);
  EXPECT_EQ(cols, 3);
  EXPECT_EQ(rows, 1);
}

TEST_F(AddDelete, NamesFillTheWholeNameLength) {
  ASSERT_EQ(load(production()), 0);
  ASSERT_EQ(KLADDNAMES(1, "capacity\0c", 0, 1), 0);
  char read[2 * 9];
  ASSERT_EQ(KLGETNAMES(1, read, 0, 1), 0);
  EXPECT_STREQ(read, "capacity");
  EXPECT_STREQ(read + 9, "c       ");
  const double v[] = {1, 1};
  ASSERT_EQ(KLADDROWS(2, 0, "NN", v, v, nullptr, nullptr, nullptr), 0);
  char added[2 * 9];
  ASSERT_EQ(KLGETNAMES(1, added, 2, 3), 0);
  EXPECT_STREQ(added, "VVVVVVV3");
  EXPECT_STREQ(added + 9, "VVVVVVV4");
}

}  // namespace
