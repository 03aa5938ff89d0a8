#include "barrier/iterate/reduced_system_product.h"

namespace kl {

void multiply_reduced_system(const barrier_params& params, const int32_t* matrix_start, const int32_t* matrix_end,
                             const double* factor_value, const int32_t* factor_index, const int32_t* pivot_order,
                             const int32_t* quad_start, const int32_t* barrier_class_ranges, const double* v,
                             double* out, const double* diag_copy) {
  const int32_t n = params.col_count;
  const int32_t in_place = params.in_place_count;
  const int32_t pivots = params.pivot_count;
  for (int32_t k = in_place + 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    out[p] = diag_copy[p] * v[p];
  }
  // The in-place columns act through their matrix columns: the rows receive
  // -a (a'v) / e_p, so the normal matrix is never formed.
  for (int32_t k = 1; k <= in_place; ++k) {
    const int32_t p = pivot_order[k];
    const int32_t first = matrix_start[p];
    const int32_t last = matrix_end[p];
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int32_t e = first;
    for (; e + 3 <= last; e += 4) {
      s0 += factor_value[e] * v[factor_index[e]];
      s1 += factor_value[e + 1] * v[factor_index[e + 1]];
      s2 += factor_value[e + 2] * v[factor_index[e + 2]];
      s3 += factor_value[e + 3] * v[factor_index[e + 3]];
    }
    for (; e <= last; ++e) s0 += factor_value[e] * v[factor_index[e]];
    const double sigma = ((s0 + s1) + (s2 + s3)) / diag_copy[p];
    e = first;
    for (; e + 3 <= last; e += 4) {
      out[factor_index[e]] -= factor_value[e] * sigma;
      out[factor_index[e + 1]] -= factor_value[e + 1] * sigma;
      out[factor_index[e + 2]] -= factor_value[e + 2] * sigma;
      out[factor_index[e + 3]] -= factor_value[e + 3] * sigma;
    }
    for (; e <= last; ++e) out[factor_index[e]] -= factor_value[e] * sigma;
  }
  const int32_t active_columns = barrier_class_ranges[11] - barrier_class_ranges[1] + 1;
  if (in_place >= active_columns) return;
  // Columns kept in the factor: their matrix and quadratic couplings.
  for (int32_t k = in_place + 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    if (p > n) continue;
    const double vp = v[p];
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    const int32_t last = matrix_end[p];
    int32_t e = matrix_start[p];
    for (; e + 3 <= last; e += 4) {
      out[factor_index[e]] += factor_value[e] * vp;
      out[factor_index[e + 1]] += factor_value[e + 1] * vp;
      out[factor_index[e + 2]] += factor_value[e + 2] * vp;
      out[factor_index[e + 3]] += factor_value[e + 3] * vp;
      s0 += v[factor_index[e]] * factor_value[e];
      s1 += v[factor_index[e + 1]] * factor_value[e + 1];
      s2 += v[factor_index[e + 2]] * factor_value[e + 2];
      s3 += v[factor_index[e + 3]] * factor_value[e + 3];
    }
    for (; e <= last; ++e) {
      out[factor_index[e]] += factor_value[e] * vp;
      s0 += v[factor_index[e]] * factor_value[e];
    }
    out[p] += (s0 + s1) + (s2 + s3);
    if (params.quad_nz > 0) {
      for (int32_t q = quad_start[p]; q < quad_start[p + 1]; ++q) {
        const int32_t r = factor_index[q];
        out[r] -= factor_value[q] * vp;
        out[p] -= factor_value[q] * v[r];
      }
    }
  }
}

}  // namespace kl
