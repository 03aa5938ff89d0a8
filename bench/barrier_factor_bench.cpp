// Times the barrier's factorisation of the normal equations A·D·Aᵀ (D a
// random positive diagonal) of the largest Netlib problems: the analysis
// (ordering, symbolic factor, post-order and supernodes), the symbolic
// factorisation alone on the final order, and the numeric factorisation in
// its pull and push forms.
//
//   barrier_factor_bench [netlib folder] [count] [matrix folder]
//
// count (default 10): the problems with most matrix entries. With a matrix
// folder, each problem's A·D^½ is written there as NAME.mtx (Matrix Market)
// for bench/barrier_factor_compare.sh. One line per problem:
//   NAME rows cols nz(A) nz(L) flops analysis_s symbolic_s pull_s push_s
// with nz(L) the entries of the rows' columns (the structural columns are
// the matrix itself) and flops those of the whole factor.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "barrier/factor/numeric_factor.h"
#include "barrier/factor/push_factor.h"
#include "klsol32.h"
#include "runtime/cache_size.h"
#include "support/normal_equations.h"

namespace {

double numeric_seconds(kltest::NormalSystem& ns, bool push) {
  double best = 1e300;
  const kltest::NormalSystem start = ns;
  for (int repeat = 0; repeat < 3; ++repeat) {
    ns = start;
    ns.sys.params.PUSHFACT = push ? 4 : 0;
    kltest::block_normal_system(ns);
    ns.diag = ns.diagonal;
    int32_t dropped = 0, removed = 0;
    auto& s = ns.sys;
    const auto clock = std::chrono::steady_clock::now();
    if (push) {
      kl::factor_normal_matrix_push(s.params, s.fi(), s.fv(), ns.factor_first.data(), ns.factor_last.data(),
                                    ns.pivot_order.data(), ns.pivot_rank.data(), ns.pivot_inverse.data(),
                                    ns.diag.data(), ns.diag_copy.data(), ns.y.data(), s.var_state.data(),
                                    ns.update_lists.data(), ns.factor_cursor.data(), ns.supernode_end.data(),
                                    ns.supernode_mark.data(), ns.push_work.data(), dropped, removed);
    } else {
      kl::factor_normal_matrix(s.params, s.fi(), s.fv(), ns.factor_first.data(), ns.factor_last.data(),
                               ns.pivot_order.data(), ns.pivot_rank.data(), ns.pivot_inverse.data(), ns.diag.data(),
                               ns.diag_copy.data(), ns.y.data(), s.var_state.data(), ns.update_lists.data(),
                               ns.factor_cursor.data(), ns.supernode_end.data(), ns.supernode_mark.data(), dropped,
                               removed);
    }
    best = std::min(best, kltest::seconds_since(clock));
  }
  return best;
}

// A·D^½ in Matrix Market coordinate form, 1-based.
void write_scaled(const std::string& path, const kltest::NormalSystem& ns) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return;
  const auto& s = ns.sys;
  const int32_t n = s.params.col_count;
  std::fprintf(f, "%%%%MatrixMarket matrix coordinate real general\n%d %d %d\n", s.params.row_count, n,
               s.params.matrix_nz);
  for (int32_t j = 1; j <= n; ++j) {
    const double scale = std::sqrt(-1.0 / ns.diagonal[static_cast<size_t>(j)]);
    for (int32_t e = s.matrix_start[static_cast<size_t>(j)]; e < s.matrix_start[static_cast<size_t>(j) + 1]; ++e)
      std::fprintf(f, "%d %d %.17g\n", s.factor_index[static_cast<size_t>(e)] - n, j,
                   s.factor_value[static_cast<size_t>(e)] * scale);
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : std::string(KLSOL_DATA_DEFAULT) + "/netlib";
  const size_t count = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 10;
  const std::string out = argc > 3 ? argv[3] : "";
  if (KLINITLZ(nullptr, nullptr) != 0) {
    std::fprintf(stderr, "the library did not start\n");
    return 1;
  }
  std::vector<std::pair<int64_t, std::string>> sizes;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".mps") continue;
    const kltest::SparseColumns a = kltest::read_mps_columns(entry.path().string());
    if (a.cols_count > 0) sizes.emplace_back(static_cast<int64_t>(a.rows.size()), entry.path().string());
  }
  std::sort(sizes.rbegin(), sizes.rend());
  if (sizes.size() > count) sizes.resize(count);
  std::printf("%-10s %6s %6s %8s %9s %10s %9s %9s %9s %9s\n", "problem", "rows", "cols", "nz(A)", "nz(L)", "flops",
              "anal_s", "symb_s", "pull_s", "push_s");
  for (const auto& [nz, path] : sizes) {
    const kltest::SparseColumns a = kltest::read_mps_columns(path);
    const std::string name = std::filesystem::path(path).stem().string();
    kltest::AnalysisTimes times;
    kltest::NormalSystem ns = kltest::make_normal_system(a, 17, 0.0, &times);
    if (ns.status != 0) {
      std::printf("%-10s analysis status %d\n", name.c_str(), ns.status);
      continue;
    }
    ns.sys.params.TRABS = 1e-12;
    ns.sys.params.L2_CACHE = kl::detect_l2_cache_kb();
    const double pull = numeric_seconds(ns, false);
    const double push = numeric_seconds(ns, true);
    std::printf("%-10s %6d %6d %8lld %9lld %10.3e %9.5f %9.5f %9.5f %9.5f\n", name.c_str(), a.rows_count,
                a.cols_count, static_cast<long long>(nz), static_cast<long long>(ns.counts.row_nonzeros),
                ns.counts.factor_flops, times.analysis, times.symbolic, pull, push);
    if (!out.empty()) write_scaled(out + "/" + name + ".mtx", ns);
  }
  KLFREEXO();
  return 0;
}
