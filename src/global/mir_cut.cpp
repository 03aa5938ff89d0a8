// Complemented mixed-integer rounding cuts on one knapsack: divisors from
// the item weights, three halvings of the best, then one flip of the
// complementation per candidate, keeping every change that raises the
// efficacy.
#include <cmath>
#include <cstdint>

#include "factor/sorting.h"
#include "global/knapsack_cuts.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// Divisors and ratios beyond these give rounding with no accuracy left.
constexpr double kMinDivisor = 1e-7;
constexpr double kMaxScaledRhs = 1e6;
constexpr double kMaxScaledWeight = 1e7;
constexpr double kMaxRhsRatio = 1e7;
// Fractional parts of the scaled rhs too near 0 or 1 give steep, weak cuts.
constexpr double kMinRhsFraction = 1e-4;
constexpr double kMaxRhsFraction = 0.9999;
constexpr double kMinNormSquared = 1e-7;
constexpr double kMinCandidateWeightRatio = 1e-4;
constexpr int kHalvings = 3;

// Rounds down with a small allowance, so that a value a hair below an
// integer counts as that integer.
double tolerant_floor(double v) {
  if (v > 0.0) return std::trunc(v + 1e-8);
  return std::trunc(v - 1.0 + 1e-8);
}

// Flips item j between x_j and u_j - x_j, keeping the knapsack the same set.
void flip_item(int32_t j, double& b, double* a, double* x, const double* u, int32_t* marks) {
  a[j] = -a[j];
  x[j] = u[j] - x[j];
  b += a[j] * u[j];
  marks[j] = -marks[j];
}

}  // namespace

void mir_cut_for_divisor(int32_t n, int32_t has_continuous, double b, const double* a, const double* x,
                         const double* u, double s, double divisor, int32_t& status, double& cut_rhs,
                         double* cut_coefs, double& continuous_factor, double& efficacy) {
  status = MIR_BELOW_EFFICACY;
  if (divisor < kMinDivisor) {
    status = MIR_DIVISOR_FAILED;
    return;
  }
  const double beta = b / divisor;
  if (std::fabs(beta) > kMaxScaledRhs) {
    status = MIR_DIVISOR_FAILED;
    return;
  }
  const double beta_floor = tolerant_floor(beta);
  const double f0 = beta - beta_floor;
  if (!(f0 > kMinRhsFraction && f0 < kMaxRhsFraction)) {
    status = MIR_DIVISOR_FAILED;
    return;
  }
  cut_rhs = beta_floor * divisor;
  continuous_factor = 1.0 / (1.0 - f0);
  for (int32_t j = 0; j < n; ++j) {
    const double alpha = a[j] / divisor;
    if (std::fabs(alpha) > kMaxScaledWeight) {
      status = MIR_DIVISOR_FAILED;
      return;
    }
    // The exact floor here: taking a weight a hair below a multiple of the
    // divisor as that multiple would raise its coefficient above the
    // rounding function's value by up to 1e-8 * divisor / (1 - f0), and the
    // cut could then pass integer points. The function is continuous
    // there, so nothing is lost.
    const double alpha_floor = std::floor(alpha);
    const double f = alpha - alpha_floor;
    cut_coefs[j] = f <= f0 ? divisor * alpha_floor : divisor * (alpha_floor + (f - f0) / (1.0 - f0));
  }

  // S is the most the cut's left side can exceed its rhs; a coefficient
  // larger than S in magnitude can be clipped to S without losing any
  // integer point (S itself stays the same under clipping).
  double slack = -cut_rhs;
  for (int32_t j = 0; j < n; ++j)
    if (cut_coefs[j] > 0.0) slack += cut_coefs[j] * u[j];
  if (slack < dcv(dc::ZTOLIS)) {
    status = MIR_DIVISOR_FAILED;
    return;
  }
  for (int32_t j = 0; j < n; ++j) {
    if (cut_coefs[j] > slack) {
      cut_rhs -= (cut_coefs[j] - slack) * u[j];
      cut_coefs[j] = slack;
    } else if (cut_coefs[j] < -slack) {
      cut_coefs[j] = -slack;
    }
  }

  double violation = -cut_rhs;
  double norm_squared = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    violation += cut_coefs[j] * x[j];
    norm_squared += cut_coefs[j] * cut_coefs[j];
  }
  if (has_continuous != 0) {
    violation -= s * continuous_factor;
    norm_squared += continuous_factor * continuous_factor;
  }
  if (norm_squared < kMinNormSquared) {
    status = MIR_DIVISOR_FAILED;
    return;
  }
  efficacy = violation / std::sqrt(norm_squared);
  status = efficacy > kMinCutEfficacy ? MIR_CUT_EFFICACIOUS : MIR_BELOW_EFFICACY;
}

namespace {

struct MirSearch {
  int32_t n;
  int32_t has_continuous;
  double& b;
  double* a;
  double* x;
  const double* u;
  double s;
  double* cut_coefs;

  // One divisor trial; the efficacy, or no value when the divisor fails.
  bool trial(double divisor, double& efficacy) const {
    int32_t status = MIR_DIVISOR_FAILED;
    double rhs = 0.0;
    double factor = 0.0;
    mir_cut_for_divisor(n, has_continuous, b, a, x, u, s, divisor, status, rhs, cut_coefs, factor, efficacy);
    return status != MIR_DIVISOR_FAILED;
  }
};

bool has_fractional_value(int32_t n, const double* x, double ztolis) {
  for (int32_t j = 0; j < n; ++j)
    if (std::fabs(x[j] - std::trunc(x[j] + ztolis)) > ztolis) return true;
  return false;
}

// Candidates into candidates[0..count-1], nearest the middle of their
// range first.
int32_t list_candidates(int32_t n, const double* a, const double* x, const double* u, double b, int32_t* candidates,
                        double* keys) {
  const double ztolis = dcv(dc::ZTOLIS);
  double scale = std::fabs(b);
  double a_max = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    scale += std::fabs(a[j]) * u[j];
    if (x[j] > ztolis) a_max = std::fmax(a_max, std::fabs(a[j]));
  }
  const double epsilon = std::fmax(1e-6, 8.0 * dcv(dc::ZTOLDA) * scale);
  int32_t count = 0;
  if (a_max <= 0.0) return 0;
  for (int32_t j = 0; j < n; ++j) {
    if (x[j] <= ztolis || std::fabs(a[j]) <= epsilon || std::fabs(a[j]) / a_max < kMinCandidateWeightRatio)
      continue;
    candidates[count] = j;
    keys[count] = -std::fabs(u[j] / 2.0 - x[j]);
    ++count;
  }
  sort_pairs_descending(keys, candidates, count);
  return count;
}

enum class RatioTest { kFractional, kAllIntegral, kTooLarge };

// A divisor that divides b exactly gives f0 = 0 and no cut: the search only
// makes sense when some candidate weight does not divide b.
RatioTest test_rhs_ratios(int32_t count, const int32_t* candidates, const double* a, double b) {
  const double ztolda = dcv(dc::ZTOLDA);
  for (int32_t k = 0; k < count; ++k) {
    const double v = std::fabs(b / a[candidates[k]]);
    if (v > kMaxRhsRatio) return RatioTest::kTooLarge;
    if (std::fabs(v - std::trunc(v + ztolda)) > ztolda) return RatioTest::kFractional;
  }
  return RatioTest::kAllIntegral;
}

}  // namespace

void separate_mir_cut(int32_t n, int32_t has_continuous, double& b, double* a, double* x, const double* u, double s,
                      int32_t& result, double& cut_rhs, double* cut_coefs, double& continuous_factor,
                      double& efficacy, int32_t* candidates, int32_t* complement_marks, double* keys) {
  result = KNAPSACK_NO_CUT;
  efficacy = 0.0;
  const double ztolis = dcv(dc::ZTOLIS);
  if (!has_fractional_value(n, x, ztolis)) return;
  double most = 0.0;
  for (int32_t j = 0; j < n; ++j)
    if (a[j] > 0.0) most += a[j] * u[j];
  if (most <= b + dcv(dc::ZTOLDA)) return;

  const double b_given = b;
  int32_t* marks = complement_marks;
  for (int32_t j = 0; j < n; ++j) {
    marks[j] = -1;
    if (x[j] > u[j] - x[j]) flip_item(j, b, a, x, u, marks);
  }

  const MirSearch search{n, has_continuous, b, a, x, u, s, cut_coefs};
  const int32_t count = list_candidates(n, a, x, u, b, candidates, keys);
  bool searching = count > 0;
  if (searching) {
    RatioTest test = test_rhs_ratios(count, candidates, a, b);
    if (test == RatioTest::kAllIntegral) {
      flip_item(candidates[0], b, a, x, u, marks);
      test = test_rhs_ratios(count, candidates, a, b);
    }
    searching = test == RatioTest::kFractional;
  }

  double best_efficacy = -1e20;
  double best_divisor = 0.0;
  if (searching) {
    for (int32_t k = 0; k < count; ++k) {
      const double divisor = std::fabs(a[candidates[k]]);
      double e = 0.0;
      if (search.trial(divisor, e) && e > best_efficacy) {
        best_efficacy = e;
        best_divisor = divisor;
      }
    }
    searching = best_divisor > 0.0;
  }
  if (searching) {
    double divisor = best_divisor;
    for (int h = 0; h < kHalvings; ++h) {
      divisor /= 2.0;
      double e = 0.0;
      if (search.trial(divisor, e) && e > best_efficacy) {
        best_efficacy = e;
        best_divisor = divisor;
      }
    }
    for (int32_t k = 0; k < count; ++k) {
      const int32_t j = candidates[k];
      flip_item(j, b, a, x, u, marks);
      double e = 0.0;
      if (search.trial(best_divisor, e) && e > best_efficacy) {
        best_efficacy = e;
      } else {
        flip_item(j, b, a, x, u, marks);
      }
    }
    if (best_efficacy > kMinCutEfficacy) {
      int32_t status = MIR_DIVISOR_FAILED;
      mir_cut_for_divisor(n, has_continuous, b, a, x, u, s, best_divisor, status, cut_rhs, cut_coefs,
                          continuous_factor, efficacy);
      if (status == MIR_CUT_EFFICACIOUS) {
        result = KNAPSACK_CUT_FOUND;
        for (int32_t j = 0; j < n; ++j) {
          if (marks[j] != 1) continue;
          cut_coefs[j] = -cut_coefs[j];
          cut_rhs += cut_coefs[j] * u[j];
        }
      }
    }
  }
  for (int32_t j = 0; j < n; ++j)
    if (marks[j] == 1) flip_item(j, b, a, x, u, marks);
  b = b_given;
}

}  // namespace kl
