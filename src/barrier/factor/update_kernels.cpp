// Dense update kernels: each group of sources shares one pass over the
// target, so the target is read and written once per group rather than once
// per source; rows go eight at a time, then singly.
#include "barrier/factor/update_kernels.h"

#include <type_traits>

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

// Runs group over the sources first..last, Top at a time, then in halving
// widths down to one: every source is taken once, in rank order.
template <int Top, class Group>
void over_source_groups(int32_t first, int32_t last, Group&& group) {
  int32_t s = first;
  for (; s + Top - 1 <= last; s += Top) group(std::integral_constant<int, Top>{}, s);
  if constexpr (Top > 1) over_source_groups<Top / 2>(s, last, group);
}

template <int Top>
void update_column_family(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                          const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                          int32_t offset) {
  double sum = *diagonal;
  over_source_groups<Top>(first, last, [&](auto width, int32_t s) {
    column_group<decltype(width)::value>(len, s, pivot_inverse, factor_value, factor_cursor, target, sum, offset);
  });
  *diagonal = sum;
}

template <int Top>
void update_block_family(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                         const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset) {
  if (first > last) {
    clear_packed_block(len, ncols, buffer);
    return;
  }
  // The first group stores, later groups add.
  bool store = true;
  over_source_groups<Top>(first, last, [&](auto width, int32_t s) {
    block_group<decltype(width)::value>(len, ncols, s, pivot_inverse, factor_value, factor_cursor, buffer, offset,
                                        store);
    store = false;
  });
}

template <int Top>
void update_chunk_family(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                         const int32_t* factor_cursor, const double* factor_value, double* target,
                         const double* pivot_inverse) {
  over_source_groups<Top>(first, last, [&](auto width, int32_t s) {
    chunk_group<decltype(width)::value>(len, s, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
  });
}

}  // namespace

void update_column_by4(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                       int32_t offset) {
  update_column_family<4>(len, first, last, pivot_inverse, factor_value, factor_cursor, target, diagonal, offset);
}

void update_column_by8(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                       int32_t offset) {
  update_column_family<8>(len, first, last, pivot_inverse, factor_value, factor_cursor, target, diagonal, offset);
}

void update_block_by4(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                      const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset) {
  update_block_family<4>(len, ncols, first, last, pivot_inverse, factor_value, factor_cursor, buffer, offset);
}

void update_block_by8(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                      const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset) {
  update_block_family<8>(len, ncols, first, last, pivot_inverse, factor_value, factor_cursor, buffer, offset);
}

void update_chunk_by4(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                      const int32_t* factor_cursor, const double* factor_value, double* target,
                      const double* pivot_inverse) {
  update_chunk_family<4>(len, first, last, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
}

void update_chunk_by8(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                      const int32_t* factor_cursor, const double* factor_value, double* target,
                      const double* pivot_inverse) {
  update_chunk_family<8>(len, first, last, back, ahead, factor_cursor, factor_value, target, pivot_inverse);
}

UpdateKernels select_update_kernels(const barrier_params& params) {
  if (params.L2_LOOP < 8) return {update_column_by4, update_block_by4, update_chunk_by4};
  return {update_column_by8, update_block_by8, update_chunk_by8};
}

}  // namespace kl
