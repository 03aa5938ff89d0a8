// Dense update kernels: each group of sources shares one pass over the
// target, so the target is read and written once per group rather than once
// per source; rows go eight at a time, then singly.
#include "barrier/factor/update_kernels.h"

namespace kl {
namespace {

// target[t] (+)= Σ_g mu[g]·src[g][t] for t = 0..len-1; `store` overwrites.
template <int G, bool store>
inline __attribute__((always_inline)) void sweep_rows(int32_t len, const double* const (&src)[G],
                                                       const double (&mu)[G], double* target) {
  int32_t t = 0;
  for (; t + 8 <= len; t += 8) {
    double r0 = store ? 0.0 : target[t], r1 = store ? 0.0 : target[t + 1];
    double r2 = store ? 0.0 : target[t + 2], r3 = store ? 0.0 : target[t + 3];
    double r4 = store ? 0.0 : target[t + 4], r5 = store ? 0.0 : target[t + 5];
    double r6 = store ? 0.0 : target[t + 6], r7 = store ? 0.0 : target[t + 7];
    for (int g = 0; g < G; ++g) {
      const double* v = src[g] + t;
      const double f = mu[g];
      r0 += f * v[0];
      r1 += f * v[1];
      r2 += f * v[2];
      r3 += f * v[3];
      r4 += f * v[4];
      r5 += f * v[5];
      r6 += f * v[6];
      r7 += f * v[7];
    }
    target[t] = r0;
    target[t + 1] = r1;
    target[t + 2] = r2;
    target[t + 3] = r3;
    target[t + 4] = r4;
    target[t + 5] = r5;
    target[t + 6] = r6;
    target[t + 7] = r7;
  }
  for (; t < len; ++t) {
    double r = store ? 0.0 : target[t];
    for (int g = 0; g < G; ++g) r += mu[g] * src[g][t];
    target[t] = r;
  }
}

template <int G>
inline __attribute__((always_inline)) void column_group(int32_t len, int32_t s, const double* pivot_inverse,
                                                         const double* factor_value, const int32_t* factor_cursor,
                                                         double* target, double& diagonal, int32_t offset) {
  const double* src[G];
  double mu[G];
  for (int g = 0; g < G; ++g) {
    const double* v = factor_value + factor_cursor[s + g] + offset;
    mu[g] = -pivot_inverse[s + g] * v[0];
    diagonal += mu[g] * v[0];
    src[g] = v + 1;
  }
  sweep_rows<G, false>(len, src, mu, target);
}

template <int G>
inline __attribute__((always_inline)) void block_group(int32_t len, int32_t ncols, int32_t s,
                                                        const double* pivot_inverse, const double* factor_value,
                                                        const int32_t* factor_cursor, double* buffer,
                                                        int32_t offset, bool store) {
  double* column = buffer;
  for (int32_t c = 0; c <= ncols; ++c) {
    const double* src[G];
    double mu[G];
    for (int g = 0; g < G; ++g) {
      const double* v = factor_value + factor_cursor[s + g] + offset + c;
      mu[g] = -pivot_inverse[s + g] * v[0];
      src[g] = v;
    }
    const int32_t height = len - c + 1;
    if (store) {
      sweep_rows<G, true>(height, src, mu, column);
    } else {
      sweep_rows<G, false>(height, src, mu, column);
    }
    column += height;
  }
}

template <int G>
inline __attribute__((always_inline)) void chunk_group(int32_t len, int32_t s, int32_t back, int32_t ahead,
                                                        const int32_t* factor_cursor, const double* factor_value,
                                                        double* target, const double* pivot_inverse) {
  const double* src[G];
  double mu[G];
  for (int g = 0; g < G; ++g) {
    const double* v = factor_value + factor_cursor[s + g];
    mu[g] = -v[-back] * pivot_inverse[s + g];
    src[g] = v + ahead;
  }
  sweep_rows<G, false>(len, src, mu, target);
}

void clear_packed_block(int32_t len, int32_t ncols, double* buffer) {
  int64_t size = 0;
  for (int32_t c = 0; c <= ncols; ++c) size += static_cast<int64_t>(len) - c + 1;
  for (int64_t i = 0; i < size; ++i) buffer[i] = 0.0;
}

}  // namespace

void update_column_by4(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                       int32_t offset) {
  double sum = *diagonal;
  int32_t s = first;
  for (; s + 3 <= last; s += 4)
    column_group<4>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
  if (s + 1 <= last) {
    column_group<2>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
    s += 2;
  }
  if (s <= last) column_group<1>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
  *diagonal = sum;
}

void update_column_by8(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                       int32_t offset) {
  double sum = *diagonal;
  int32_t s = first;
  for (; s + 7 <= last; s += 8)
    column_group<8>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
  if (s + 3 <= last) {
    column_group<4>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
    s += 4;
  }
  if (s + 1 <= last) {
    column_group<2>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
    s += 2;
  }
  if (s <= last) column_group<1>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
  *diagonal = sum;
}

void update_block_by4(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                      const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset) {
  if (first > last) {
    clear_packed_block(len, ncols, buffer);
    return;
  }
  bool store = true;
  int32_t s = first;
  for (; s + 3 <= last; s += 4, store = false)
    block_group<4>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
  if (s + 1 <= last) {
    block_group<2>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
    s += 2;
    store = false;
  }
  if (s <= last) block_group<1>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
}

void update_block_by8(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                      const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset) {
  if (first > last) {
    clear_packed_block(len, ncols, buffer);
    return;
  }
  bool store = true;
  int32_t s = first;
  for (; s + 7 <= last; s += 8, store = false)
    block_group<8>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
  if (s + 3 <= last) {
    block_group<4>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
    s += 4;
    store = false;
  }
  if (s + 1 <= last) {
    block_group<2>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
    s += 2;
    store = false;
  }
  if (s <= last) block_group<1>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset, store);
}

void update_chunk_by4(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                      const int32_t* factor_cursor, const double* factor_value, double* target,
                      const double* pivot_inverse) {
  int32_t s = first;
  for (; s + 3 <= last; s += 4)
    chunk_group<4>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
  if (s + 1 <= last) {
    chunk_group<2>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
    s += 2;
  }
  if (s <= last) chunk_group<1>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
}

void update_chunk_by8(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                      const int32_t* factor_cursor, const double* factor_value, double* target,
                      const double* pivot_inverse) {
  int32_t s = first;
  for (; s + 7 <= last; s += 8)
    chunk_group<8>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
  if (s + 3 <= last) {
    chunk_group<4>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
    s += 4;
  }
  if (s + 1 <= last) {
    chunk_group<2>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
    s += 2;
  }
  if (s <= last) chunk_group<1>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
}

UpdateKernels select_update_kernels(const barrier_params& params) {
  if (params.L2_LOOP < 8) return {update_column_by4, update_block_by4, update_chunk_by4};
  return {update_column_by8, update_block_by8, update_chunk_by8};
}

}  // namespace kl
