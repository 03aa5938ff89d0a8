#include "barrier/crossover/crossover_basis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "barrier/ordering/heapsort.h"

namespace kl {

namespace {

// Column states.
constexpr int32_t kOpen = 0;
constexpr int32_t kEliminated = 1;
constexpr int32_t kDone = 2;
constexpr int32_t kRejected = -1;

// A pivot entry must reach a tenth of its column's largest entry, and never
// less than this.
constexpr double kRelativePivot = 0.1;
constexpr double kAbsolutePivot = 1e-4;

struct Basis {
  barrier_params& params;
  int32_t m, n, nz;
  int32_t limit;
  int32_t* start;
  int32_t* end;
  int32_t* rl_start;
  int32_t* rl_end;
  int32_t* u_start;
  int32_t* u_count;
  int32_t* row_count;
  int32_t* row;
  int32_t* rl_col;
  double* value;
  int32_t* col_code;
  int32_t* row_code;
  int32_t* covered;
  int32_t* col_list;
  double* dense;
  int32_t* next;
  int32_t* prev;
  int32_t* pivots;
  int32_t* state;
  int32_t level;
  CrossoverBasisCounts c;
  int32_t pivot_count = 0;
  int32_t kept_count = 0;

  double pivot_tolerance(int32_t j) const {
    double largest = 0.0;
    for (int32_t k = start[j]; k <= end[j]; ++k) largest = std::max(largest, std::fabs(value[k]));
    return std::max(kRelativePivot * largest, kAbsolutePivot);
  }

  void swap_entries(int32_t a, int32_t b) {
    std::swap(row[a], row[b]);
    std::swap(value[a], value[b]);
  }

  // Entries of rows still to cover first among first..first+length-1;
  // returns how many.
  int32_t uncovered_to_front(int32_t first, int32_t length) {
    int32_t k = first;
    int32_t last = first + length - 1;
    while (k <= last) {
      if (covered[row[k]] != 0) {
        swap_entries(k, last);
        --last;
      } else {
        ++k;
      }
    }
    return k - first;
  }

  void candidate_lists() {
    for (int32_t i = 1; i <= m; ++i) row_count[i] = 0;
    for (int32_t j = 1; j <= n; ++j) {
      if (col_code[j] != 1 && col_code[j] != -1) continue;
      for (int32_t k = start[j]; k <= end[j]; ++k) ++row_count[row[k]];
    }
    int32_t at = 1;
    for (int32_t i = 1; i <= m; ++i) {
      rl_start[i] = at;
      rl_end[i] = at - 1;
      at += row_count[i];
      row_count[i] = 0;
    }
    for (int32_t j = 1; j <= n; ++j) {
      if (col_code[j] != 1 && col_code[j] != -1) continue;
      for (int32_t k = start[j]; k <= end[j]; ++k) rl_col[++rl_end[row[k]]] = j;
    }
  }

  void classify_rows() {
    for (int32_t i = 1; i <= m; ++i) {
      switch (row_code[i]) {
        case 0:
          covered[i] = 0;
          ++c.to_cover;
          break;
        case -1:
          covered[i] = 1;
          row_code[i] = 2;
          ++c.degenerate;
          ++c.interior;
          break;
        case 1:
          covered[i] = 1;
          row_code[i] = 3;
          ++c.interior;
          break;
        default:
          covered[i] = 1;
          break;
      }
    }
  }

  void classify_columns() {
    for (int32_t j = 1; j <= n; ++j) {
      u_start[j] = start[j];
      u_count[j] = 0;
      if (col_code[j] == -1) col_code[j] = 1;
      if (col_code[j] == 1) {
        ++c.candidates;
        u_count[j] = uncovered_to_front(start[j], end[j] - start[j] + 1);
        for (int32_t k = start[j]; k < start[j] + u_count[j]; ++k) ++row_count[row[k]];
      }
      state[j] = u_count[j] == 0 ? kDone : kOpen;
    }
  }

  void singleton_pass() {
    int32_t queued = 0;
    for (int32_t j = 1; j <= n; ++j) {
      if (u_count[j] == 1) col_list[++queued] = j;
      pivots[j] = u_count[j];  // the copy of the counts
    }
    for (int32_t h = 1; h <= queued; ++h) {
      const int32_t j = col_list[h];
      if (u_count[j] != 1) continue;
      int32_t entry = 0;
      for (int32_t k = u_start[j]; k < u_start[j] + pivots[j]; ++k) {
        if (covered[row[k]] == 0) {
          entry = k;
          break;
        }
      }
      state[j] = kDone;
      if (entry == 0 || std::fabs(value[entry]) < pivot_tolerance(j)) continue;
      col_code[j] = 3;
      const int32_t r = row[entry];
      covered[r] = 1;
      --c.to_cover;
      ++c.singletons;
      for (int32_t k = rl_start[r]; k <= rl_end[r]; ++k) {
        const int32_t other = rl_col[k];
        if (--u_count[other] == 1) col_list[++queued] = other;
      }
    }
  }

  // Bucket lists of the rows by candidate count; a row is in a bucket while
  // it is uncovered with a positive count.
  void unlink(int32_t r) {
    if (prev[r] != 0)
      next[prev[r]] = next[r];
    else
      col_list[row_count[r]] = next[r];
    if (next[r] != 0) prev[next[r]] = prev[r];
  }
  void link(int32_t r) {
    const int32_t b = row_count[r];
    prev[r] = 0;
    next[r] = col_list[b];
    if (next[r] != 0) prev[next[r]] = r;
    col_list[b] = r;
  }
  bool in_bucket(int32_t r) const { return covered[r] == 0 && row_count[r] > 0; }

  void triangular_pass() {
    // The copy of the counts is still in the pivot list's storage: read it
    // before the pivot list is written.
    for (int32_t j = 1; j <= n; ++j) {
      if (state[j] == kOpen && u_count[j] != pivots[j]) uncovered_to_front(u_start[j], pivots[j]);
    }
    for (int32_t b = 1; b <= n; ++b) col_list[b] = 0;
    for (int32_t i = 1; i <= m; ++i) {
      if (in_bucket(i)) link(i);
    }
    int32_t b = 1;
    while (b <= n) {
      const int32_t r = col_list[b];
      if (r == 0) {
        ++b;
        continue;
      }
      int32_t chosen = 0;
      for (;;) {
        int32_t best = 0;
        for (int32_t k = rl_start[r]; k <= rl_end[r]; ++k) {
          const int32_t j = rl_col[k];
          if (state[j] != kOpen) continue;
          if (best == 0 || u_count[j] < u_count[best]) best = j;
        }
        if (best == 0) break;
        int32_t entry = 0;
        for (int32_t k = u_start[best]; k < u_start[best] + u_count[best]; ++k) {
          if (row[k] == r) {
            entry = k;
            break;
          }
        }
        if (entry != 0 && std::fabs(value[entry]) >= pivot_tolerance(best)) {
          swap_entries(entry, u_start[best]);
          chosen = best;
          break;
        }
        state[best] = kRejected;
      }
      for (int32_t k = rl_start[r]; k <= rl_end[r]; ++k) {
        const int32_t j = rl_col[k];
        if (state[j] != kOpen && state[j] != kRejected) continue;
        state[j] = kEliminated;
        for (int32_t e = u_start[j]; e < u_start[j] + u_count[j]; ++e) {
          const int32_t r2 = row[e];
          if (r2 == r || !in_bucket(r2)) continue;
          unlink(r2);
          if (row_count[r2] > 1) {
            --row_count[r2];
            link(r2);
          } else {
            row_count[r2] = 0;
          }
        }
      }
      unlink(r);
      row_count[r] = 0;
      if (chosen != 0) {
        covered[r] = 1;
        state[chosen] = kDone;
        col_code[chosen] = 3;
        pivots[++pivot_count] = chosen;
        ++c.triangular;
      }
      b = 1;
    }
  }

  void fill_pass(const int32_t* key) {
    for (int32_t i = 1; i <= m; ++i) row_count[i] = rl_end[i] - rl_start[i] + 1;
    int32_t first = 1;
    while (first <= n && key[col_list[first]] == 0) ++first;
    int32_t next_free = nz + 1;
    kept_count = 0;
    int32_t walk = first;
    for (; walk <= n; ++walk) {
      if (c.to_cover <= c.triangular + c.fill + c.given_up) break;
      const int32_t col = col_list[walk];
      int32_t found = 0;
      for (int32_t k = u_start[col]; k < u_start[col] + u_count[col]; ++k) {
        if (covered[row[k]] == 0) {
          found = row[k];
          break;
        }
      }
      if (found == 0) {
        col_list[++kept_count] = col;
        continue;
      }
      // The column in the dense vector, its rows marked (prev) and listed
      // (next: the list of touched rows).
      int32_t listed = 0;
      for (int32_t k = u_start[col]; k < u_start[col] + u_count[col]; ++k) {
        const int32_t r = row[k];
        if (prev[r] == 0) {
          prev[r] = 1;
          next[++listed] = r;
          dense[r] = 0.0;
        }
        dense[r] += value[k];
        --row_count[r];
      }
      for (int32_t q = 1; q <= pivot_count; ++q) {
        const int32_t p = pivots[q];
        const int32_t pivot_row = row[u_start[p]];
        if (prev[pivot_row] == 0) continue;
        const double ratio = dense[pivot_row] / value[u_start[p]];
        if (ratio == 0.0) continue;
        for (int32_t k = u_start[p] + 1; k < u_start[p] + u_count[p]; ++k) {
          const int32_t r = row[k];
          if (prev[r] == 0) {
            prev[r] = 1;
            next[++listed] = r;
            dense[r] = -ratio * value[k];
          } else {
            dense[r] -= ratio * value[k];
          }
        }
      }
      if (limit < next_free + m) {
        for (int32_t t = 1; t <= listed; ++t) {
          prev[next[t]] = 0;
          dense[next[t]] = 0.0;
        }
        break;
      }
      const int32_t stored_from = next_free;
      double largest = 0.0;
      for (int32_t t = 1; t <= listed; ++t) {
        const int32_t r = next[t];
        if (covered[r] != 1 && std::fabs(dense[r]) > params.TZER) {
          row[next_free] = r;
          value[next_free] = dense[r];
          largest = std::max(largest, std::fabs(dense[r]));
          ++next_free;
        }
        prev[r] = 0;
        dense[r] = 0.0;
      }
      u_start[col] = stored_from;
      u_count[col] = next_free - stored_from;
      int32_t chosen = 0;
      if (largest > params.PIVXTOL) {
        const double tolerance = std::max(kRelativePivot * largest, kAbsolutePivot);
        for (int32_t k = stored_from; k < next_free; ++k) {
          if (!(std::fabs(value[k]) > tolerance)) continue;
          if (chosen == 0 || row_count[row[k]] < row_count[row[chosen]] ||
              (row_count[row[k]] == row_count[row[chosen]] && std::fabs(value[k]) > std::fabs(value[chosen])))
            chosen = k;
        }
      }
      if (chosen == 0) {
        covered[found] = -1;
        ++c.given_up;
        next_free = stored_from;
        continue;
      }
      covered[row[chosen]] = 1;
      col_code[col] = 3;
      swap_entries(chosen, stored_from);
      pivots[++pivot_count] = col;
      ++c.fill;
    }
    for (; walk <= n; ++walk) col_list[++kept_count] = col_list[walk];
  }

  void statistics() {
    const long left_columns = c.candidates - c.singletons - c.triangular - c.fill;
    std::snprintf(params.message_buffer, sizeof params.message_buffer, "%s%7ld%s%7ld%s%7ld%s%7ld%s%7ld", "Interm:",
                  static_cast<long>(c.candidates), "  Single:", static_cast<long>(c.singletons), "  Triang:",
                  static_cast<long>(c.triangular), "  Other:", static_cast<long>(c.fill), "  Left:", left_columns);
    log_barrier_detail(params);
    std::snprintf(params.message_buffer, sizeof params.message_buffer, "%s%7ld%s%7ld%s%7ld%s%7ld%s%7ld", "Total :",
                  static_cast<long>(c.singletons + c.interior + c.to_cover), "  Interm:", static_cast<long>(c.interior),
                  "  Pivot :", static_cast<long>(c.singletons + c.triangular + c.fill), "  Degen:",
                  static_cast<long>(c.degenerate), "  Left:", static_cast<long>(c.to_cover - c.triangular - c.fill));
    log_barrier_detail(params);
  }

  void complete(const int32_t* key) {
    if (c.to_cover <= c.triangular + c.fill) return;
    int32_t take = 1;
    for (int32_t i = 1; i <= m; ++i) {
      if (covered[i] != 0 && covered[i] != -1) continue;
      if (level >= 4) {
        while (take <= kept_count && key[col_list[take]] == 0) ++take;
        if (take <= kept_count) {
          col_code[col_list[take++]] = 2;
          continue;
        }
      }
      row_code[i] = 2;
    }
  }
};

}  // namespace

void build_crossover_basis(barrier_params& params, const int32_t* m, const int32_t* n, const int32_t* nz,
                           const int32_t* element_limit, const int32_t* /*unused_count*/, int32_t* col_start,
                           int32_t* col_end, int32_t* row_list_start, int32_t* row_list_end,
                           int32_t* uncovered_start, int32_t* uncovered_count, int32_t* row_candidates,
                           int32_t* elem_row, int32_t* row_list_cols, double* elem_value, int32_t* col_code,
                           int32_t* row_code, int32_t* covered, int32_t* col_list, double* dense,
                           int32_t* row_next, int32_t* row_prev, int32_t* pivot_list, int32_t* col_state,
                           double* cleared, const int32_t* level, CrossoverBasisCounts* counts) {
  Basis b{params,     *m,         *n,          *nz,       *element_limit, col_start,     col_end,   row_list_start,
          row_list_end, uncovered_start, uncovered_count, row_candidates, elem_row, row_list_cols, elem_value, col_code,
          row_code,   covered,    col_list,    dense,     row_next,      row_prev,      pivot_list, col_state,
          *level,     {}};
  for (int32_t i = 1; i <= b.m; ++i) {
    cleared[i] = 0.0;
    dense[i] = 0.0;
  }
  b.candidate_lists();
  b.classify_rows();
  // The sort keys of the fill pass and the completion take the storage of
  // the column states, which nothing reads once the keys are made.
  int32_t* key = nullptr;
  if (b.level > 0) {
    b.classify_columns();
    b.singleton_pass();
    if (b.level != 1 && b.c.to_cover > 0) b.triangular_pass();
    if (b.level >= 3 && b.c.to_cover > b.c.triangular) {
      key = col_state;
      for (int32_t j = 1; j <= b.n; ++j) key[j] = col_state[j] == kDone ? 0 : std::max(b.u_count[j], 0);
      for (int32_t j = 1; j <= b.n; ++j) col_list[j] = j;
      sort_index_by_key(b.n, col_list, key);
      if (b.level >= 5) {
        b.kept_count = b.n;
      } else {
        for (int32_t i = 1; i <= b.m; ++i) {
          row_prev[i] = 0;
          row_next[i] = 0;
        }
        b.fill_pass(key);
      }
    }
  }
  b.statistics();
  if (key != nullptr) {
    b.complete(key);
  } else if (b.c.to_cover > b.c.triangular + b.c.fill) {
    for (int32_t i = 1; i <= b.m; ++i)
      if (covered[i] == 0 || covered[i] == -1) row_code[i] = 2;
  }
  if (counts != nullptr) *counts = b.c;
}

}  // namespace kl
