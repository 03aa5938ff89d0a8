// Pivot choice of the augmented-system factorisation: a column scan for
// columns that touch no other list, then a minimum-degree search through the
// degree lists under a threshold test, relaxed by factors of 10 when nothing
// passes.
#include <cmath>
#include <cstdint>

#include "barrier/factor/augmented_system.h"

namespace kl {

AugmentedPivotLimits augmented_pivot_limits(const barrier_params& params) {
  AugmentedPivotLimits limits;
  limits.tpiv1 = params.TPIV1;
  limits.tpiv2 = params.TPIV2;
  limits.tabs = params.TABS;
  // The relaxation divides rho by 10 until it falls below TPIV2: with TPIV2
  // zero, negative or NaN it would never end (and alpha = TABS * TPIV1 / TPIV2
  // would not be finite), so such a TPIV2 is refused in favour of the key's
  // default. A tiny positive floor instead would start alpha far above every
  // diagonal and accept pivots only once rho had fallen to nothing.
  if (!(limits.tpiv2 > 0.0)) limits.tpiv2 = barrier_params{}.TPIV2;
  // An infinite or NaN TPIV1 would stay so under the relaxation: the ratio
  // test cannot ask more than 1.
  if (!std::isfinite(limits.tpiv1)) limits.tpiv1 = 1.0;
  return limits;
}

bool relax_pivot_thresholds(const AugmentedPivotLimits& limits, double& rho, double& alpha) {
  rho *= 0.1;
  alpha *= 0.1;
  return rho >= limits.tpiv2;
}

namespace {

struct PivotSearch {
  const int32_t* list_start;
  const int32_t* list_length;
  const int32_t* row_count;
  int32_t* index;
  double* value;
  const double* diag;
  int32_t* mark;
  double rho;
  double alpha;

  // The threshold test: |v| >= alpha and |v| >= rho times the largest entry
  // of the candidate's own list, which is kept at the front of the list.
  bool acceptable(int32_t e) const {
    const double v = std::fabs(diag[e]);
    if (!(v >= alpha)) return false;
    const int32_t first = list_start[e];
    const int32_t last = first + list_length[e] - 1;
    if (mark[e] == 0) {
      int32_t best = first;
      double largest = -1.0;
      for (int32_t k = first; k <= last; ++k) {
        const double a = std::fabs(value[k]);
        if (a > largest) {
          largest = a;
          best = k;
        }
      }
      if (best != first && last >= first) {
        const int32_t ti = index[best];
        index[best] = index[first];
        index[first] = ti;
        const double tv = value[best];
        value[best] = value[first];
        value[first] = tv;
      }
      mark[e] = 1;
    }
    const double front = last >= first ? std::fabs(value[first]) : 0.0;
    const double scale = v > front ? v : front;
    if (!(scale > 0.0)) return false;
    return v / scale >= rho;
  }
};

}  // namespace

void choose_augmented_pivot(barrier_params& params, const int32_t* degree_head, const int32_t* degree_next,
                            const int32_t* list_start, const int32_t* list_length, const int32_t* row_count,
                            int32_t* factor_index, double* factor_value, const double* diag, int32_t& pivot,
                            double& pivot_value, int32_t& search_state, int32_t scan_all, int32_t* mark,
                            int32_t deferral_state) {
  const int32_t n = params.col_count;
  const int32_t count = params.col_count + params.row_count;
  const AugmentedPivotLimits limits = augmented_pivot_limits(params);
  PivotSearch search{list_start, list_length, row_count, factor_index, factor_value, diag, mark, limits.tpiv1,
                     limits.tabs * limits.tpiv1 / limits.tpiv2};
  const int64_t find_limit = params.TFIND;

  bool immediate = search_state >= 1;  // a continuing search
  int32_t previous = pivot;
  if (search_state < 1) {
    // Columns that no other list names and whose diagonal is not tiny are
    // taken in index order, without a ratio test.
    for (int32_t j = (pivot > 0 ? pivot : 0) + 1; j <= n; ++j) {
      if (row_count[j] == 0 && mark[j] == 0 && std::fabs(diag[j]) >= limits.tpiv2) {
        pivot = j;
        pivot_value = diag[j];
        return;
      }
    }
    for (int32_t p = 1; p <= count; ++p) mark[p] = 0;
    search_state = 1;
    previous = n + 1 <= count ? n + 1 : 0;
    immediate = false;
  }

  int32_t start_degree = search_state - 1 > 1 ? search_state - 1 : 1;
  search_state = start_degree;
  int32_t accepted = 0;
  int32_t accepted_rows = 0;
  int64_t counted = 0;

  auto consider = [&](int32_t e) {
    ++counted;
    if (accepted == 0 || row_count[e] < accepted_rows) {
      if (search.acceptable(e)) {
        accepted = e;
        accepted_rows = row_count[e];
      }
    }
    return counted > find_limit && accepted != 0;
  };
  auto finish = [&](int32_t p) {
    pivot = p;
    pivot_value = p > 0 ? diag[p] : 0.0;
  };
  // Considers a degree list from entry `e` on; true when the search is over
  // (the pivot is then set): the count limit was passed with a candidate in
  // hand, or one list gave a candidate and not every list is to be scanned.
  auto scan_list = [&](int32_t e) {
    for (; e != 0; e = degree_next[e]) {
      if (consider(e)) {
        finish(accepted);
        return true;
      }
    }
    if (accepted != 0 && scan_all == 0) {
      finish(accepted);
      return true;
    }
    return false;
  };

  for (;;) {
    int32_t neighbour = 0;
    if (previous > 0 && previous <= count) {
      // The lists that the previous pivot changed: their front entries may
      // no longer be the largest, so all their marks go before any test.
      const int32_t first = list_start[previous];
      const int32_t length = list_length[previous];
      for (int32_t k = first; k < first + length; ++k) mark[factor_index[k]] = 0;
      for (int32_t k = first; k < first + length; ++k) {
        const int32_t e = factor_index[k];
        if (static_cast<int64_t>(list_length[e]) + row_count[e] >= length) continue;
        if (immediate) {
          if (search.acceptable(e)) {
            finish(e);
            return;
          }
          continue;
        }
        neighbour = e;
        if (consider(e)) {
          finish(accepted);
          return;
        }
        break;
      }
    }

    int32_t from_degree = start_degree;
    if (neighbour != 0) {
      if (scan_list(degree_next[neighbour])) return;
      from_degree = start_degree + 1;
    }
    bool recorded = false;
    for (int32_t d = from_degree; d <= count; ++d) {
      if (degree_head[d] == 0) continue;
      if (!recorded) {
        search_state = d;
        recorded = true;
      }
      if (scan_list(degree_head[d])) return;
    }
    if (accepted != 0) {
      finish(accepted);
      return;
    }
    if (deferral_state == 1) {
      finish(0);
      return;
    }
    if (!relax_pivot_thresholds(limits, search.rho, search.alpha) || search_state < 1) {
      search_state = 1;
      finish(0);
      return;
    }
    start_degree = search_state;
    immediate = false;
    counted = 0;
  }
}

}  // namespace kl
