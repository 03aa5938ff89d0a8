#include "barrier/iterate/factor_solves.h"

#include <cmath>

namespace kl {

namespace {

// The dense trapezoid of one fundamental block, ranks first..last, shared by
// the indexed and the packed forward solves. `slots.rank_value(j)` is the
// value of rank first+j, `slots.row(q)` the value at row q (1-based) of the
// first rank's list, whose leading entries are the block's later ranks: row j
// of that list is rank first+j. Column first+j stores its entry for row q at
// factor_value[factor_first[first+j] + q - j - 1].
template <class Slots>
void solve_dense_block(int32_t first, int32_t last, int32_t list_length, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_first, Slots slots) {
  int32_t j = 0;  // offset of the group's first rank from `first`
  const int32_t count = last - first + 1;
  // Four columns at a time, so that each row below the group is read and
  // written once per four columns.
  for (; j + 4 <= count; j += 4) {
    const double* l0 = factor_value + factor_first[first + j];
    const double* l1 = factor_value + factor_first[first + j + 1];
    const double* l2 = factor_value + factor_first[first + j + 2];
    const double* l3 = factor_value + factor_first[first + j + 3];
    const double t0 = slots.rank_value(j) * pivot_inverse[first + j];
    slots.rank_value(j + 1) -= t0 * l0[0];
    const double t1 = slots.rank_value(j + 1) * pivot_inverse[first + j + 1];
    slots.rank_value(j + 2) -= t0 * l0[1] + t1 * l1[0];
    const double t2 = slots.rank_value(j + 2) * pivot_inverse[first + j + 2];
    slots.rank_value(j + 3) -= t0 * l0[2] + t1 * l1[1] + t2 * l2[0];
    const double t3 = slots.rank_value(j + 3) * pivot_inverse[first + j + 3];
    // Row q of the first list (q > j + 3) is entry q-j-1 of l0, q-j-2 of l1 ...
    for (int32_t q = j + 4; q <= list_length; ++q) {
      const int32_t i = q - j - 1;
      slots.row(q) -= t0 * l0[i] + t1 * l1[i - 1] + t2 * l2[i - 2] + t3 * l3[i - 3];
    }
  }
  if (j + 2 <= count) {
    const double* l0 = factor_value + factor_first[first + j];
    const double* l1 = factor_value + factor_first[first + j + 1];
    const double t0 = slots.rank_value(j) * pivot_inverse[first + j];
    slots.rank_value(j + 1) -= t0 * l0[0];
    const double t1 = slots.rank_value(j + 1) * pivot_inverse[first + j + 1];
    for (int32_t q = j + 2; q <= list_length; ++q) {
      const int32_t i = q - j - 1;
      slots.row(q) -= t0 * l0[i] + t1 * l1[i - 1];
    }
    j += 2;
  }
  if (j < count) {
    const double* l0 = factor_value + factor_first[first + j];
    const double t0 = slots.rank_value(j) * pivot_inverse[first + j];
    for (int32_t q = j + 1; q <= list_length; ++q) slots.row(q) -= t0 * l0[q - j - 1];
  }
}

struct IndexedSlots {
  double* v;
  const int32_t* pivot_order;
  const int32_t* row_list;
  int32_t first;
  double& rank_value(int32_t j) const { return v[pivot_order[first + j]]; }
  double& row(int32_t q) const { return v[row_list[q]]; }
};

struct PackedSlots {
  double* packed;
  double& rank_value(int32_t j) const { return packed[1 + j]; }
  double& row(int32_t q) const { return packed[1 + q]; }
};

int32_t list_length(const int32_t* factor_first, const int32_t* factor_last, int32_t k) {
  return factor_last[k] - factor_first[k] + 1;
}

}  // namespace

void forward_block_indexed(int32_t first_rank, int32_t last_rank, int32_t list_length, const double* pivot_inverse,
                           const double* factor_value, const int32_t* factor_first, const int32_t* pivot_order,
                           double* v, const int32_t* row_list) {
  if (first_rank > last_rank) return;
  solve_dense_block(first_rank, last_rank, list_length, pivot_inverse, factor_value, factor_first,
                    IndexedSlots{v, pivot_order, row_list, first_rank});
}

void forward_block_packed(int32_t first_rank, int32_t last_rank, int32_t list_length, const double* pivot_inverse,
                          const double* factor_value, const int32_t* factor_first, double* packed) {
  if (first_rank > last_rank) return;
  solve_dense_block(first_rank, last_rank, list_length, pivot_inverse, factor_value, factor_first,
                    PackedSlots{packed});
}

void solve_forward_supernodal(const barrier_params& params, int32_t first_rank, int32_t last_rank,
                              const int32_t* factor_first, const int32_t* factor_index, const int32_t* pivot_order,
                              const int32_t* factor_last, const double* factor_value, const double* pivot_inverse,
                              double* v, const int32_t* supernode_end, const int32_t* supernode_mark, double* work) {
  const double zero_tolerance = params.TZER;
  int32_t k = first_rank;
  while (k <= last_rank) {
    const double t = v[pivot_order[k]] * pivot_inverse[k];
    const int32_t f = factor_first[k];
    const int32_t len = list_length(factor_first, factor_last, k);
    if (supernode_mark[k] < 1) {
      // A negligible multiplier leaves the rest alone: sparse right-hand
      // sides stay cheap.
      if (std::fabs(t) > zero_tolerance) {
        for (int32_t e = f; e <= factor_last[k]; ++e) v[factor_index[e]] -= t * factor_value[e];
      }
      ++k;
      continue;
    }
    // Consecutive cache blocks of one fundamental chain are solved as one
    // dense block: each next block's first rank is the first row of the
    // previous block's last list, and its list is that list's tail.
    int32_t b = supernode_end[k];
    while (b < last_rank) {
      const int32_t len_b = list_length(factor_first, factor_last, b);
      if (len_b < 2 || factor_index[factor_first[b]] != pivot_order[b + 1] || supernode_mark[b + 1] <= 0 ||
          list_length(factor_first, factor_last, b + 1) >= len_b || supernode_end[b + 1] > last_rank) {
        break;
      }
      b = supernode_end[b + 1];
    }
    if (work == nullptr) {
      forward_block_indexed(k, b, len, pivot_inverse, factor_value, factor_first, pivot_order, v,
                            factor_index + f - 1);
    } else {
      // Gather the block's rows once, solve on the contiguous copy, scatter.
      for (int32_t i = 0; i < len; ++i) work[1 + i] = v[factor_index[f + i]] - t * factor_value[f + i];
      forward_block_packed(k + 1, b, len - 1, pivot_inverse, factor_value, factor_first, work);
      for (int32_t i = 0; i < len; ++i) v[factor_index[f + i]] = work[1 + i];
    }
    k = b + 1;
  }
}

void solve_backward_supernodal(const barrier_params& params, int32_t first_rank, int32_t last_rank,
                               const int32_t* factor_first, const int32_t* factor_index, const int32_t* pivot_order,
                               const int32_t* factor_last, const int32_t* supernode_end, const double* factor_value,
                               const double* pivot_inverse, double* v, double* work) {
  (void)params;
  for (int32_t k = last_rank; k >= first_rank; --k) {
    const int32_t p = pivot_order[k];
    const int32_t f = factor_first[k];
    const int32_t len = list_length(factor_first, factor_last, k);
    const double* l = factor_value + f;
    if (work == nullptr || supernode_end[k] == 0) {
      // Four interleaved partial sums, added at the end.
      const int32_t* r = factor_index + f;
      double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
      int32_t i = 0;
      for (; i + 4 <= len; i += 4) {
        s0 += l[i] * v[r[i]];
        s1 += l[i + 1] * v[r[i + 1]];
        s2 += l[i + 2] * v[r[i + 2]];
        s3 += l[i + 3] * v[r[i + 3]];
      }
      if (i + 2 <= len) {
        s0 += l[i] * v[r[i]];
        s1 += l[i + 1] * v[r[i + 1]];
        i += 2;
      }
      if (i < len) s2 += l[i] * v[r[i]];
      v[p] = (v[p] - ((s0 + s1) + (s2 + s3))) * pivot_inverse[k];
      continue;
    }
    if (supernode_end[k] == k) {
      // The block's last rank comes first: gather its rows in reverse, so
      // that each earlier rank of the block finds its extra leading row at
      // the end of the same vector.
      for (int32_t j = 1; j <= len; ++j) work[j] = v[factor_index[factor_last[k] + 1 - j]];
    }
    double s0 = 0.0, s1 = 0.0;
    int32_t i = 0;
    for (; i + 2 <= len; i += 2) {
      s0 += l[i] * work[len - i];
      s1 += l[i + 1] * work[len - i - 1];
    }
    if (i < len) s0 += l[i] * work[len - i];
    const double x = (v[p] - (s0 + s1)) * pivot_inverse[k];
    v[p] = x;
    work[len + 1] = x;
  }
}

}  // namespace kl
