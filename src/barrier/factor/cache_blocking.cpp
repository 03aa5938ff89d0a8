// Cuts the factor's columns into supernode blocks sized for the caches.
#include "barrier/factor/cache_blocking.h"

#include <algorithm>
#include <cstdint>

namespace kl {
namespace {

constexpr int32_t kUnlimited = 2147483647;
constexpr int64_t kDoublesPerKb = 128;

enum class RunKind { fundamental, independent };

struct CacheLimits {
  int64_t w1 = kUnlimited;
  int64_t w2 = kUnlimited;
  double l1_speed = 0.0;
  int32_t l1_block_rows = 0;  // 0: no level-1 blocking while cutting
};

bool same_kind(int32_t p, int32_t q, int32_t n) { return (p <= n) == (q <= n); }

// Cuts the run k..l into blocks that, with one target column, fit a cache;
// marks those with at least `min_size` ranks.
void cut_run(int32_t k, int32_t l, RunKind kind, int32_t min_size, const CacheLimits& limits,
             const int32_t* factor_first, const int32_t* factor_last, int32_t* supernode_end,
             int32_t* supernode_mark) {
  while (k < l) {
    const int64_t c = static_cast<int64_t>(factor_last[k]) - factor_first[k];
    const int64_t t = static_cast<int64_t>(l) - k + 1;
    const int64_t size = kind == RunKind::fundamental ? (c + 2) * t - (t - 1) * t / 2 + (c + 3)
                                                      : (c + 2) * t + (c + 3);
    int64_t limit = limits.w2;
    if (c + 3 <= limits.l1_block_rows && static_cast<double>(size) < limits.l1_speed * static_cast<double>(limits.w1))
      limit = limits.w1;
    int64_t columns = t;
    if (size > limit) {
      const int64_t pieces = size / std::max<int64_t>(limit, 1) + 1;
      int64_t budget = size / pieces - (c + 3);
      if (budget < 0) {
        columns = 1;
      } else {
        columns = 0;
        int64_t step = kind == RunKind::fundamental ? c + 2 : c + 3;
        while (budget >= 0 && columns < t) {
          budget -= step;
          ++columns;
          if (kind == RunKind::fundamental) --step;
        }
      }
      if (columns > 8) columns -= columns % 4;
      columns = std::clamp<int64_t>(columns, 1, t);
    }
    const int32_t end = k + static_cast<int32_t>(columns) - 1;
    if (columns >= min_size) {
      for (int32_t r = k; r <= end; ++r) {
        supernode_end[r] = end;
        supernode_mark[r] = kind == RunKind::fundamental ? end : -end;
      }
    }
    k = end + 1;
  }
}

}  // namespace

void block_supernodes_for_cache(barrier_params& params, const int32_t* factor_first, const int32_t* factor_last,
                                const int32_t* factor_index, const int32_t* pivot_order, int32_t* supernode_end,
                                int32_t* pivot_rank, int32_t* supernode_mark) {
  const int32_t n = params.col_count;
  const int32_t count = params.pivot_count;

  if (params.L1_LOOP < 1) params.L1_LOOP = 1;
  CacheLimits limits;
  limits.l1_speed = params.L1_SPEED;
  int64_t rows = 0;
  if (params.L1_CACHE >= 1) rows = static_cast<int64_t>(params.L1_CACHE) * 1024 / (params.L1_LOOP + 1) / 8 - 8;
  if (rows <= params.L1_LOOP) rows = 0;
  params.l1_block_rows = static_cast<int32_t>(std::min<int64_t>(rows, kUnlimited));
  limits.l1_block_rows = params.l1_block_rows;
  if (params.L1_CACHE >= 1) limits.w1 = static_cast<int64_t>(params.L1_CACHE) * kDoublesPerKb;
  if (params.L2_CACHE >= 1) limits.w2 = static_cast<int64_t>(params.L2_CACHE) * kDoublesPerKb;

  for (int32_t p = 1; p <= params.var_count; ++p) {
    supernode_end[p] = 0;
    supernode_mark[p] = 0;
    pivot_rank[p] = 0;
  }
  for (int32_t k = 1; k <= count; ++k) pivot_rank[pivot_order[k]] = k;

  // Fundamental runs: each column's list is the next rank's position
  // followed by the next rank's list.
  for (int32_t k = 1; k < count;) {
    const int32_t length_k = factor_last[k] - factor_first[k];  // list length - 1
    int32_t l = k;
    for (int32_t j = k + 1; j <= count; ++j) {
      const int32_t i = j - k - 1;
      if (i > length_k) break;
      if (factor_index[factor_first[k] + i] != pivot_order[j]) break;
      if (factor_last[j] - factor_first[j] >= length_k - i) break;
      if (!same_kind(pivot_order[j], pivot_order[k], n)) break;
      l = j;
    }
    if (l > k)
      cut_run(k, l, RunKind::fundamental, params.PSUPNODE, limits, factor_first, factor_last, supernode_end,
              supernode_mark);
    k = l + 1;
  }

  // Independent runs: identical lists, which need no internal updates.
  for (int32_t k = 1; k < count;) {
    if (supernode_end[k] != 0) {
      ++k;
      continue;
    }
    const int32_t length = factor_last[k] - factor_first[k];
    int32_t l = k;
    for (int32_t j = k + 1; j <= count; ++j) {
      if (supernode_end[j] != 0 || factor_last[j] - factor_first[j] != length) break;
      if (!same_kind(pivot_order[j], pivot_order[k], n)) break;
      bool same = true;
      for (int32_t i = 0; i <= length && same; ++i)
        same = factor_index[factor_first[j] + i] == factor_index[factor_first[k] + i];
      if (!same) break;
      l = j;
    }
    if (l > k)
      cut_run(k, l, RunKind::independent, params.SSUPNODE, limits, factor_first, factor_last, supernode_end,
              supernode_mark);
    k = l + 1;
  }

  // Entries outside blocks against twice the level-2 cache, in 12-byte
  // value-and-index entries; a negative size wraps to a very large limit.
  int64_t outside = 0;
  for (int32_t k = 1; k <= count; ++k)
    if (supernode_end[k] == 0) outside += static_cast<int64_t>(factor_last[k]) - factor_first[k] + 1;
  const uint32_t l2_limit = static_cast<uint32_t>(params.L2_CACHE) * 2048u / 12u;
  const bool exceeds = outside > static_cast<int64_t>(l2_limit);
  int32_t& push = params.PUSHFACT;
  if (push < 0) {
    push = -push;
  } else if (push == 1 || push == 2) {
    push = exceeds ? 2 : 1;
  } else if (push > 2) {
    push = exceeds ? 4 : 3;
  }

  if (params.l1_block_rows < 1) params.l1_block_rows = kUnlimited;
}

}  // namespace kl
