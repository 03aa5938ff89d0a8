#include "barrier/factor/numeric_factor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "barrier/factor/factor_fixture.h"
#include "barrier/factor/push_factor.h"

namespace {

using kltest::FactorCase;
using kltest::Form;

struct RandomShape {
  int32_t m, n, per_column, dense, quad;
  bool columns_first;  // the normal forms' order: every column before every row
};

// A random quasi-definite system: columns carry negative diagonals large
// enough that -(Q + D) stays definite, rows positive ones.
FactorCase make_random_case(uint32_t seed, const RandomShape& shape, bool analysed = false) {
  std::mt19937 rng(seed);
  const kltest::SparseColumns a = kltest::random_matrix(rng, shape.m, shape.n, shape.per_column, shape.dense);
  const int32_t n = a.cols_count;
  kltest::SparseColumns q;
  if (shape.quad > 0) q = kltest::random_quadratic(rng, n, shape.quad);
  FactorCase fc;
  const int32_t nz = static_cast<int32_t>(a.rows.size() + q.rows.size());
  const int32_t space = 4 * nz + (n + shape.m) * (n + shape.m) + 1000;
  fc.sys = kltest::make_barrier_system(a, shape.quad > 0 ? &q : nullptr, space);
  const int32_t total = fc.sys.params.var_count;
  fc.diagonal.assign(static_cast<size_t>(total) + 1, 0.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> row_sum(static_cast<size_t>(n) + 1, 0.0);
  for (int32_t j = 0; j < q.cols_count; ++j)
    for (int32_t e = q.starts[static_cast<size_t>(j)]; e < q.starts[static_cast<size_t>(j) + 1]; ++e) {
      const double v = std::fabs(q.values[static_cast<size_t>(e)]);
      row_sum[static_cast<size_t>(j) + 1] += v;
      row_sum[static_cast<size_t>(q.rows[static_cast<size_t>(e)]) + 1] += v;
    }
  for (int32_t j = 1; j <= n; ++j) fc.diagonal[static_cast<size_t>(j)] = -(0.5 + unit(rng) + row_sum[static_cast<size_t>(j)]);
  for (int32_t p = n + 1; p <= total; ++p) fc.diagonal[static_cast<size_t>(p)] = 0.1 + unit(rng);

  // Order: sparse columns, rows, then the dense columns kept in the factor;
  // or every position shuffled.
  std::vector<int32_t> order;
  if (shape.columns_first) {
    order = kltest::random_order(rng, shape.n, shape.m, true);
    for (int32_t& p : order)
      if (p > shape.n) p += shape.dense;
    for (int32_t j = shape.n + 1; j <= n; ++j) order.push_back(j);
  } else {
    order = kltest::random_order(rng, n, shape.m, false);
  }
  EXPECT_TRUE(analysed ? kltest::lay_out_by_symbolic_factor(fc, order) : kltest::lay_out_structure(fc, order));
  kltest::prepare_work(fc);
  return fc;
}

struct Setting {
  int32_t pushfact;  // fixed choice (negative values are taken as given)
  int32_t l2_loop;
  bool first_level;  // L1_CACHE 1 with L1_LOOP 2: panels of two columns and chunks of 34 rows
};

void apply(FactorCase& fc, const Setting& s) {
  auto& p = fc.sys.params;
  p.PUSHFACT = s.pushfact > 0 ? -s.pushfact : 0;
  p.L2_LOOP = s.l2_loop;
  p.L1_CACHE = s.first_level ? 1 : -1;
  p.L1_LOOP = s.first_level ? 2 : 8;
  p.L2_CACHE = 2;  // 256 doubles: long runs are cut into several blocks
  p.PSUPNODE = 2;
  p.SSUPNODE = 2;
  kltest::block_for_cache(fc);
}

std::string describe(Form form, const Setting& s) {
  return "form " + std::to_string(static_cast<int>(form)) + " PUSHFACT " + std::to_string(s.pushfact) +
         " L2_LOOP " + std::to_string(s.l2_loop) + (s.first_level ? " first-level" : "");
}

std::vector<Setting> all_settings(bool push) {
  std::vector<Setting> out;
  const std::vector<int32_t> values = push ? std::vector<int32_t>{1, 2, 3, 4} : std::vector<int32_t>{0};
  for (int32_t v : values)
    for (int32_t loop : {4, 8})
      for (bool l1 : {false, true}) out.push_back({v, loop, l1});
  return out;
}

// Every form and every setting that selects a distinct path factorises
// random quasi-definite systems to a backward error of 1e-12, keeps the
// matrix and quadratic entries, and agrees with the pull form.
TEST(BarrierNumericFactor, RandomQuasiDefiniteSystemsInEveryForm) {
  const std::vector<RandomShape> shapes = {
      {60, 40, 3, 0, 0, true},    // normal equations
      {70, 50, 4, 2, 0, true},    // dense columns kept in the factor
      {50, 40, 3, 2, 30, true},   // and quadratic coupling
      {40, 45, 3, 1, 25, false},  // every position in a random order
  };
  int32_t chunked = 0, fundamental = 0, independent = 0;
  for (size_t sh = 0; sh < shapes.size(); ++sh) {
    const RandomShape& shape = shapes[sh];
    const bool normal = shape.columns_first && shape.dense == 0 && shape.quad == 0;
    for (bool push : {false, true}) {
      for (const Setting& setting : all_settings(push)) {
        const Form form = normal ? (push ? Form::push_normal : Form::pull_normal)
                                 : (push ? Form::push_columns : Form::pull_columns);
        FactorCase fc = make_random_case(static_cast<uint32_t>(11 + sh), shape);
        apply(fc, setting);
        const std::vector<double> kept(fc.sys.factor_value.begin(),
                                       fc.sys.factor_value.begin() + fc.sys.params.matrix_nz +
                                           fc.sys.params.quad_nz + 1);
        for (int32_t k = 1; k <= fc.sys.params.pivot_count; ++k) {
          if (fc.supernode_mark[static_cast<size_t>(k)] > 0) ++fundamental;
          if (fc.supernode_mark[static_cast<size_t>(k)] < 0) ++independent;
          const int32_t end = fc.supernode_end[static_cast<size_t>(k)];
          if (setting.first_level && push && fc.supernode_mark[static_cast<size_t>(k)] > 0 &&
              fc.factor_last[static_cast<size_t>(k)] - fc.factor_first[static_cast<size_t>(k)] + 2 >
                  fc.sys.params.l1_block_rows && end > k)
            ++chunked;
        }
        kltest::factorise(fc, form);
        SCOPED_TRACE("shape " + std::to_string(sh) + " " + describe(form, setting));
        EXPECT_EQ(fc.pivot_dropped, 0);
        EXPECT_EQ(fc.removed_rows, 0);
        EXPECT_LE(kltest::backward_error(fc), 1e-12);
        for (size_t e = 1; e < kept.size(); ++e) ASSERT_EQ(fc.sys.factor_value[e], kept[e]) << "entry " << e;

        // The pull form of the same system gives the same factor.
        FactorCase ref = make_random_case(static_cast<uint32_t>(11 + sh), shape);
        apply(ref, Setting{0, 4, false});
        kltest::factorise(ref, normal ? Form::pull_normal : Form::pull_columns);
        for (int32_t k = 1; k <= fc.sys.params.pivot_count; ++k) {
          const double a = fc.diag[static_cast<size_t>(k)], b = ref.diag[static_cast<size_t>(k)];
          ASSERT_NEAR(a, b, 1e-10 * std::fabs(b)) << "rank " << k;
          for (int32_t e = fc.factor_first[static_cast<size_t>(k)]; e <= fc.factor_last[static_cast<size_t>(k)]; ++e)
            ASSERT_NEAR(fc.sys.factor_value[static_cast<size_t>(e)], ref.sys.factor_value[static_cast<size_t>(e)],
                        1e-9 * (1.0 + std::fabs(ref.sys.factor_value[static_cast<size_t>(e)])));
        }
      }
    }
  }
  // The cases reach every kind of block and the row chunks.
  EXPECT_GT(fundamental, 0);
  EXPECT_GT(independent, 0);
  EXPECT_GT(chunked, 0);
}

// The structure as the symbolic factorisation lays it out serves every form.
TEST(BarrierNumericFactor, FactorsOnTheSymbolicFactorsStructure) {
  const std::vector<RandomShape> shapes = {
      {60, 40, 3, 0, 0, true}, {70, 50, 4, 2, 0, true}, {50, 40, 3, 2, 30, true}, {40, 45, 3, 1, 25, false}};
  for (size_t sh = 0; sh < shapes.size(); ++sh) {
    const bool normal = shapes[sh].columns_first && shapes[sh].dense == 0 && shapes[sh].quad == 0;
    for (int32_t pushfact : {0, 1, 2, 4}) {
      FactorCase fc = make_random_case(static_cast<uint32_t>(31 + sh), shapes[sh], true);
      apply(fc, Setting{pushfact, 8, pushfact == 4});
      const Form form = pushfact == 0 ? (normal ? Form::pull_normal : Form::pull_columns)
                                      : (normal ? Form::push_normal : Form::push_columns);
      kltest::factorise(fc, form);
      SCOPED_TRACE("shape " + std::to_string(sh) + " PUSHFACT " + std::to_string(pushfact));
      EXPECT_EQ(fc.pivot_dropped, 0);
      EXPECT_LE(kltest::backward_error(fc), 1e-12);
    }
  }
}

// A push form whose update buffer cannot hold a packed block computes the
// update columns one target at a time, to the same factor.
TEST(BarrierNumericFactor, PushWithShortUpdateBufferMatches) {
  const RandomShape shape{60, 40, 3, 0, 0, true};
  FactorCase fc = make_random_case(5, shape);
  int32_t top = 0;
  for (int32_t k = 1; k <= fc.sys.params.pivot_count; ++k) top = std::max(top, fc.factor_last[static_cast<size_t>(k)]);
  fc.sys.params.factor_space = top + 3;
  apply(fc, Setting{1, 4, false});
  kltest::factorise(fc, Form::push_normal);
  EXPECT_EQ(fc.pivot_dropped, 0);
  EXPECT_LE(kltest::backward_error(fc), 1e-12);
  for (size_t e = static_cast<size_t>(top) + 1; e < fc.sys.factor_value.size(); ++e)
    ASSERT_EQ(fc.sys.factor_value[e], 0.0) << "entry " << e << " beyond the factor space";
}

// Nothing is factorised for an empty order.
TEST(BarrierNumericFactor, EmptyOrderFactorisesNothing) {
  for (Form form : {Form::pull_normal, Form::pull_columns, Form::push_normal, Form::push_columns}) {
    FactorCase fc = make_random_case(3, RandomShape{5, 4, 2, 0, 0, true});
    fc.sys.params.pivot_count = 0;
    kltest::prepare_work(fc);
    apply(fc, Setting{form == Form::push_normal || form == Form::push_columns ? 2 : 0, 4, false});
    fc.sys.params.in_place_count = 9;
    kltest::factorise(fc, form);
    EXPECT_EQ(fc.sys.params.in_place_count, 0);
    EXPECT_EQ(fc.pivot_dropped, 0);
  }
}

// ---- Tiny pivots ----

// Two columns and rows with entries of 1 and column diagonals -1: row 2
// repeats row 1 in the first two columns, so its pivot cancels to exactly 0
// on the normal path. A third column, ranked last and kept in the factor,
// gives row 2 a live structural entry when `dense` is set.
FactorCase make_cancelling_rows(bool dense) {
  kltest::SparseColumns a;
  a.rows_count = 2;
  a.cols_count = dense ? 3 : 2;
  a.starts = {0, 2, 4};
  a.rows = {0, 1, 0, 1};
  a.values = {1, 1, 1, 1};
  if (dense) {
    a.starts.push_back(6);
    a.rows.insert(a.rows.end(), {0, 1});
    a.values.insert(a.values.end(), {1, 2});
  }
  FactorCase fc;
  fc.sys = kltest::make_barrier_system(a, nullptr, 200);
  const int32_t n = a.cols_count;
  fc.diagonal.assign(static_cast<size_t>(n) + 3, 0.0);
  for (int32_t j = 1; j <= n; ++j) fc.diagonal[static_cast<size_t>(j)] = -1.0;
  std::vector<int32_t> order = {1, 2, n + 1, n + 2};
  if (dense) order.push_back(3);
  EXPECT_TRUE(kltest::lay_out_structure(fc, order));
  kltest::prepare_work(fc);
  return fc;
}

struct TinyCase {
  const char* name;
  bool dense;
  int32_t regularize;
  double y2;
  double diag_copy2;
  int32_t state2;       // var_state of row 2 afterwards
  double inverse2;      // its stored inverse
  int32_t dropped;
  int32_t removed;
};

TEST(BarrierNumericFactor, TinyRowPivotsFollowTheRegularisationBits) {
  const std::vector<TinyCase> cases = {
      {"dependent row, zero dual", false, 27, 0.0, 0.25, -2, 0.0, 0, 1},
      {"dependent row, nonzero dual keeps its state", false, 27, 1.0, 0.25, 0, 0.0, 0, 0},
      {"bare row regularised under 0x20", false, 63, 0.0, 0.25, 0, 4.0, 0, 0},
      {"row with a live structural entry under 0x10", true, 27, 0.0, 0.25, 0, 4.0, 0, 0},
      {"row with a live structural entry without 0x10", true, 8, 0.0, 0.25, -1, 0.0, 1, 0},
  };
  for (const TinyCase& c : cases) {
    for (Form form : {Form::pull_normal, Form::pull_columns, Form::push_normal, Form::push_columns}) {
      if (c.dense && form == Form::pull_normal) continue;
      if (c.dense && form == Form::push_normal) continue;
      FactorCase fc = make_cancelling_rows(c.dense);
      const int32_t n = fc.sys.n();
      fc.sys.params.REGULARIZE = c.regularize;
      fc.y[2] = c.y2;
      apply(fc, Setting{form == Form::push_normal || form == Form::push_columns ? 2 : 0, 4, false});
      fc.diag_copy[static_cast<size_t>(n) + 2] = c.diag_copy2;
      kltest::factorise(fc, form);
      SCOPED_TRACE(std::string(c.name) + " form " + std::to_string(static_cast<int>(form)));
      EXPECT_EQ(fc.sys.var_state[static_cast<size_t>(n) + 2], c.state2);
      EXPECT_EQ(fc.diag[4], c.inverse2);
      EXPECT_EQ(fc.pivot_dropped, c.dropped);
      EXPECT_EQ(fc.removed_rows, c.removed);
      EXPECT_DOUBLE_EQ(fc.diag[3], 0.5);  // row 1: 1/(1 + 1)
    }
  }
}

// A structural pivot ranked after a row that cancels it: with bit 0x8 it
// becomes -max(t, -diag_copy); without, it is dropped.
TEST(BarrierNumericFactor, TinyStructuralPivotIsRegularisedOrDropped) {
  for (int32_t regularize : {27, 16}) {
    for (Form form : {Form::pull_columns, Form::push_columns}) {
      kltest::SparseColumns a;
      a.rows_count = 1;
      a.cols_count = 1;
      a.starts = {0, 1};
      a.rows = {0};
      a.values = {1.0};
      FactorCase fc;
      fc.sys = kltest::make_barrier_system(a, nullptr, 100);
      fc.diagonal = {0.0, 1.0, 1.0};  // column diagonal 1 cancels against the row's 1
      EXPECT_TRUE(kltest::lay_out_structure(fc, {2, 1}));
      kltest::prepare_work(fc);
      fc.sys.params.REGULARIZE = regularize;
      apply(fc, Setting{form == Form::push_columns ? 1 : 0, 4, false});
      fc.diag_copy[1] = -0.5;
      kltest::factorise(fc, form);
      SCOPED_TRACE("REGULARIZE " + std::to_string(regularize));
      if (regularize & 0x8) {
        EXPECT_DOUBLE_EQ(fc.diag[2], -2.0);
        EXPECT_EQ(fc.sys.var_state[1], 0);
        EXPECT_EQ(fc.pivot_dropped, 0);
      } else {
        EXPECT_EQ(fc.diag[2], 0.0);
        EXPECT_EQ(fc.sys.var_state[1], -1);
        EXPECT_EQ(fc.pivot_dropped, 1);
      }
    }
  }
}

// After a call marked dependent rows, the next call drops them from the
// structure (in-place columns still list them) and factorises the rest.
TEST(BarrierNumericFactor, DependentRowsLeaveTheNextFactorisation) {
  for (Form form : {Form::pull_normal, Form::push_normal, Form::pull_columns, Form::push_columns}) {
    for (int32_t pushfact : {1, 2, 3}) {
      const bool push = form == Form::push_normal || form == Form::push_columns;
      if (!push && pushfact > 1) continue;
      std::mt19937 rng(21);
      const int32_t m = 24, n = 40;
      const bool dense = !(form == Form::pull_normal || form == Form::push_normal);
      // Every row has an entry (column j holds row j mod m); rows 5 and 17
      // repeat row 2 in every sparse column, so they are dependent. The
      // dense column, kept in the factor, misses rows 2, 5 and 17.
      kltest::SparseColumns b;
      b.rows_count = m;
      b.cols_count = n + (dense ? 1 : 0);
      std::uniform_real_distribution<double> val(0.5, 2.0);
      for (int32_t j = 0; j < b.cols_count; ++j) {
        std::vector<std::pair<int32_t, double>> col;
        auto add = [&](int32_t r) {
          for (auto& [x, v] : col)
            if (x == r) return;
          col.emplace_back(r, val(rng));
        };
        if (j < n) {
          add(j % m);
          add(static_cast<int32_t>(rng() % m));
          add(static_cast<int32_t>(rng() % m));
          std::erase_if(col, [](auto& x) { return x.first == 4 || x.first == 16; });
          for (auto& [r, v] : std::vector<std::pair<int32_t, double>>(col))
            if (r == 1) {
              col.emplace_back(4, v);
              col.emplace_back(16, v);
            }
        } else {
          for (int32_t r = 0; r < m; ++r)
            if (r != 1 && r != 4 && r != 16 && r % 2 == 0) add(r);
        }
        std::sort(col.begin(), col.end());
        for (auto& [r, v] : col) {
          b.rows.push_back(r);
          b.values.push_back(v);
        }
        b.starts.push_back(static_cast<int32_t>(b.rows.size()));
      }
      FactorCase fc;
      fc.sys = kltest::make_barrier_system(b, nullptr, 20000);
      const int32_t total = fc.sys.params.var_count;
      const int32_t cols = b.cols_count;
      fc.diagonal.assign(static_cast<size_t>(total) + 1, 0.0);
      for (int32_t j = 1; j <= cols; ++j) fc.diagonal[static_cast<size_t>(j)] = -1.0 - 0.5 * (j % 3);
      // Rows carry a zero diagonal, as on the normal-equations path.
      std::vector<int32_t> order;
      for (int32_t j = 1; j <= n; ++j) order.push_back(j);
      for (int32_t i = 1; i <= m; ++i) order.push_back(cols + i);
      for (int32_t j = n + 1; j <= cols; ++j) order.push_back(j);
      ASSERT_TRUE(kltest::lay_out_structure(fc, order));
      kltest::prepare_work(fc);
      apply(fc, Setting{push ? pushfact : 0, 4, false});
      fc.sys.params.TRABS = 1e-10;  // the rows cancel only to rounding
      kltest::factorise(fc, form);
      SCOPED_TRACE("form " + std::to_string(static_cast<int>(form)) + " PUSHFACT " + std::to_string(pushfact));
      if (dense) {
        // Through the kept column the repeated rows cancel only to rounding
        // (live structural entries): mark them as a previous call would.
        for (int32_t r : {5, 17}) {
          if (fc.sys.var_state[static_cast<size_t>(cols + r)] != -2) ++fc.removed_rows;
          fc.sys.var_state[static_cast<size_t>(cols + r)] = -2;
        }
        for (int32_t p = 1; p <= total; ++p)
          if (fc.sys.var_state[static_cast<size_t>(p)] == -1) fc.sys.var_state[static_cast<size_t>(p)] = 0;
      }
      EXPECT_EQ(fc.removed_rows, 2);
      EXPECT_EQ(fc.sys.var_state[static_cast<size_t>(cols) + 5], -2);
      EXPECT_EQ(fc.sys.var_state[static_cast<size_t>(cols) + 17], -2);
      if (!dense) {
        EXPECT_EQ(fc.pivot_dropped, 0);
      }
      const int32_t before = fc.sys.params.pivot_count;
      kltest::factorise(fc, form);
      EXPECT_EQ(fc.sys.params.pivot_count, before - 2);
      EXPECT_EQ(fc.removed_rows, 2);
      EXPECT_EQ(fc.pivot_dropped, 0);
      for (int32_t k = 1; k <= fc.sys.params.pivot_count; ++k)
        EXPECT_EQ(fc.pivot_rank[static_cast<size_t>(fc.pivot_order[static_cast<size_t>(k)])], k);
      EXPECT_EQ(fc.pivot_rank[static_cast<size_t>(cols) + 5], 0);
      EXPECT_LE(kltest::backward_error(fc), 1e-12);
    }
  }
}

}  // namespace

namespace {

// Six columns with identical patterns form an independent block of
// in-place columns whose lists still name a row removed after the analysis:
// every form factorises the system without that row.
TEST(BarrierNumericFactor, InPlaceBlocksSkipRemovedRows) {
  for (Form form : {Form::pull_normal, Form::push_normal, Form::pull_columns, Form::push_columns}) {
    for (int32_t pushfact : {0, 1, 2, 3}) {
      const bool push = form == Form::push_normal || form == Form::push_columns;
      if (push == (pushfact == 0)) continue;
      std::mt19937 rng(8);
      std::uniform_real_distribution<double> val(0.5, 2.0);
      kltest::SparseColumns a;
      a.rows_count = 6;
      a.cols_count = 12;
      for (int32_t j = 0; j < 12; ++j) {
        std::vector<int32_t> rows = j < 6 ? std::vector<int32_t>{0, 1, 2, 3} : std::vector<int32_t>{j % 6, (j + 2) % 6};
        std::sort(rows.begin(), rows.end());
        for (int32_t r : rows) {
          a.rows.push_back(r);
          a.values.push_back(val(rng));
        }
        a.starts.push_back(static_cast<int32_t>(a.rows.size()));
      }
      FactorCase fc;
      fc.sys = kltest::make_barrier_system(a, nullptr, 2000);
      fc.diagonal.assign(19, 0.5);
      for (int32_t j = 1; j <= 12; ++j) fc.diagonal[static_cast<size_t>(j)] = -1.0 - 0.1 * j;
      std::vector<int32_t> order;
      for (int32_t p = 1; p <= 18; ++p) order.push_back(p);
      ASSERT_TRUE(kltest::lay_out_structure(fc, order));
      kltest::prepare_work(fc);
      apply(fc, Setting{pushfact, 4, false});
      ASSERT_EQ(fc.supernode_mark[1], -6);
      fc.sys.var_state[14] = -2;  // row 2, removed by an earlier call
      kltest::factorise(fc, form);
      SCOPED_TRACE("form " + std::to_string(static_cast<int>(form)) + " PUSHFACT " + std::to_string(pushfact));
      EXPECT_EQ(fc.sys.params.pivot_count, 17);
      EXPECT_EQ(fc.pivot_dropped, 0);
      EXPECT_LE(kltest::backward_error(fc), 1e-12);
    }
  }
}

}  // namespace
