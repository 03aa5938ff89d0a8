// Fill of the barrier's orderings on the normal-equation pattern A A' of
// each LP, beside the fill of an outside ordering of the same pattern.
//
//   barrier_ordering_bench [--export DIR] [--compare DIR] file.mps ...
//
// Default: one line per file with the entries of L below the diagonal
// (rows' part, no supernode padding) for ORDERING -1, 0, 1, 2, 3 and the
// seconds of the analysis with ORDERING 0.
// --export DIR writes DIR/NAME.pat, the pattern of A by columns:
//   "rows cols entries" then per column its count and 0-based rows.
// --compare DIR reads DIR/NAME.perm (first line: the outside program's own
// count of L's entries; then the rows, 0-based, in elimination order),
// counts the fill of that order with this library's symbolic factor and
// prints it with the ratio ORDERING 0 / outside.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "barrier/barrier_params.h"
#include "barrier/ordering/ordering_driver.h"
#include "barrier/ordering/symbolic_factor.h"
#include "klsol32.h"

namespace {

struct Columns {
  int32_t rows = 0;
  int32_t cols = 0;
  std::vector<int32_t> starts;  // 0-based, cols + 1
  std::vector<int32_t> index;
};

void quiet(const char*, int32_t, int32_t) {}

bool read_columns(const std::string& path, Columns& a) {
  if (KLINPUT(path.c_str()) != 0) return false;
  KLGETIPV(1001, &a.rows);
  KLGETIPV(1018, &a.cols);
  if (a.cols <= 0) return false;
  a.starts.assign(static_cast<size_t>(a.cols) + 1, 0);
  int32_t count = 0;
  KLGETCOLS(a.starts.data(), nullptr, nullptr, 0, &count, 0, a.cols - 1);
  a.index.assign(static_cast<size_t>(count) + 1, 0);
  std::vector<double> values(static_cast<size_t>(count) + 1);
  KLGETCOLS(a.starts.data(), a.index.data(), values.data(), count, &count, 0, a.cols - 1);
  a.index.resize(static_cast<size_t>(count));
  return true;
}

// The barrier's arrays for the normal equations of A (1-based).
struct System {
  kl::barrier_params params;
  std::vector<int32_t> index, matrix_start, matrix_end, quad_start, state, pattern_start, pattern_end, column_node;
  std::vector<int32_t> order, rank, first, last, work;
  std::vector<double> value, value_work;
};

void lay_out(const Columns& a, int64_t space, System& s) {
  kl::set_barrier_defaults(s.params);
  const int32_t n = a.cols;
  const int32_t m = a.rows;
  const int32_t nz = static_cast<int32_t>(a.index.size());
  s.params.col_count = n;
  s.params.row_count = m;
  s.params.var_count = n + m;
  s.params.matrix_nz = nz;
  s.params.factor_space = static_cast<int32_t>(space);
  s.params.SUPFILL = 0;
  s.index.assign(static_cast<size_t>(space) + 1, 0);
  s.value.assign(static_cast<size_t>(space) + 1, 1.0);
  s.matrix_start.assign(static_cast<size_t>(n) + 2, 0);
  s.matrix_end.assign(static_cast<size_t>(n) + 2, 0);
  s.quad_start.assign(static_cast<size_t>(n) + 2, nz + 1);
  s.state.assign(static_cast<size_t>(n + m) + 2, 0);
  s.pattern_start.assign(static_cast<size_t>(n) + 2, 0);
  s.pattern_end.assign(static_cast<size_t>(n) + 2, 0);
  s.column_node.assign(static_cast<size_t>(n) + 2, 0);
  for (int32_t j = 1; j <= n; ++j) {
    s.matrix_start[static_cast<size_t>(j)] = a.starts[static_cast<size_t>(j) - 1] + 1;
    s.matrix_end[static_cast<size_t>(j)] = a.starts[static_cast<size_t>(j)];
    s.pattern_start[static_cast<size_t>(j)] = s.matrix_start[static_cast<size_t>(j)];
    s.pattern_end[static_cast<size_t>(j)] = s.matrix_end[static_cast<size_t>(j)];
  }
  s.matrix_start[static_cast<size_t>(n) + 1] = nz + 1;
  for (int32_t e = 0; e < nz; ++e) s.index[static_cast<size_t>(e) + 1] = n + 1 + a.index[static_cast<size_t>(e)];
  const size_t slots = static_cast<size_t>(n + m) + 2;
  s.order.assign(slots, 0);
  s.rank.assign(slots, 0);
  s.first.assign(slots, 0);
  s.last.assign(slots, 0);
  s.value_work.assign(static_cast<size_t>(kl::analysis_value_work_doubles(s.params)), 0.0);
}

int64_t initial_space(const Columns& a) {
  return 4 * static_cast<int64_t>(a.index.size()) + 10 * (static_cast<int64_t>(a.rows) + a.cols) + 1000;
}
constexpr int64_t kLargestSpace = int64_t{1} << 24;

// Fill of one ORDERING, the space doubled until the lists fit; -1 when they
// never do.
int64_t ordering_fill(const Columns& a, int32_t ordering, double* seconds) {
  for (int64_t space = initial_space(a); space <= kLargestSpace; space *= 2) {
    System s;
    lay_out(a, space, s);
    s.params.ORDERING = ordering;
    s.work.assign(static_cast<size_t>(kl::analysis_work_ints(s.params)), 0);
    kl::symbolic_counts counts;
    int32_t status = 0;
    const auto start = std::chrono::steady_clock::now();
    kl::analyse_normal_equations(s.params, kl::SYSTEM_NORMAL_EQUATIONS, s.state.data(), s.matrix_start.data(),
                                 s.matrix_end.data(), s.pattern_start.data(), s.pattern_end.data(),
                                 s.column_node.data(), s.quad_start.data(), s.index.data(), s.value.data(),
                                 s.work.data(), s.value_work.data(), 25, s.order.data(), s.rank.data(), s.first.data(),
                                 s.last.data(), counts, status);
    if (seconds != nullptr) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status == 0) return counts.row_nonzeros;
  }
  return -1;
}

// Fill of a given row order (0-based rows) with the columns first.
int64_t order_fill(const Columns& a, const std::vector<int32_t>& rows_in_order) {
  for (int64_t space = initial_space(a); space <= kLargestSpace; space *= 2) {
    System s;
    lay_out(a, space, s);
    s.work.assign(static_cast<size_t>(kl::kSymbolicWorkPerPosition) * (static_cast<size_t>(a.rows + a.cols) + 2), 0);
    int32_t k = 0;
    for (int32_t j = 1; j <= a.cols; ++j) s.order[static_cast<size_t>(++k)] = j;
    for (int32_t r : rows_in_order) s.order[static_cast<size_t>(++k)] = a.cols + 1 + r;
    s.params.pivot_count = k;
    kl::symbolic_counts counts;
    int32_t status = 0;
    kl::compute_symbolic_factor(s.params, s.matrix_start.data(), s.order.data(), s.index.data(), s.value.data(),
                                s.first.data(), s.last.data(), s.state.data(), s.quad_start.data(), s.rank.data(),
                                s.work.data(), s.value_work.data(), counts, status);
    if (status == 0) return counts.row_nonzeros;
  }
  return -1;
}

void export_pattern(const Columns& a, const std::string& path) {
  std::ofstream out(path);
  out << a.rows << ' ' << a.cols << ' ' << a.index.size() << '\n';
  for (int32_t j = 0; j < a.cols; ++j) {
    out << a.starts[static_cast<size_t>(j) + 1] - a.starts[static_cast<size_t>(j)];
    for (int32_t e = a.starts[static_cast<size_t>(j)]; e < a.starts[static_cast<size_t>(j) + 1]; ++e)
      out << ' ' << a.index[static_cast<size_t>(e)];
    out << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string export_dir;
  std::string compare_dir;
  std::vector<std::string> files;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (argument == "--export" && k + 1 < argc) {
      export_dir = argv[++k];
    } else if (argument == "--compare" && k + 1 < argc) {
      compare_dir = argv[++k];
    } else {
      files.push_back(argument);
    }
  }
  if (KLINITLZ(nullptr, nullptr) != 0) {
    std::fprintf(stderr, "the library did not start\n");
    return 1;
  }
  KLDEFINEUOPENTRY(quiet);
  if (export_dir.empty()) {
    std::printf("%-10s %6s %12s %12s %12s %12s %12s %9s", "problem", "rows", "ORDERING -1", "0", "1", "2", "3",
                "seconds0");
    if (!compare_dir.empty()) std::printf(" %12s %12s %8s", "outside", "outside own", "0/outs");
    std::printf("\n");
  }
  int status = 0;
  for (const std::string& file : files) {
    const std::string name = std::filesystem::path(file).stem().string();
    Columns a;
    if (!read_columns(file, a)) {
      std::fprintf(stderr, "%s: cannot read\n", file.c_str());
      status = 1;
      continue;
    }
    if (!export_dir.empty()) {
      export_pattern(a, export_dir + "/" + name + ".pat");
      continue;
    }
    int64_t fills[5];
    double seconds = 0.0;
    const int32_t orderings[] = {-1, 0, 1, 2, 3};
    for (int t = 0; t < 5; ++t) fills[t] = ordering_fill(a, orderings[t], orderings[t] == 0 ? &seconds : nullptr);
    std::printf("%-10s %6d %12lld %12lld %12lld %12lld %12lld %9.4f", name.c_str(), a.rows,
                static_cast<long long>(fills[0]), static_cast<long long>(fills[1]), static_cast<long long>(fills[2]),
                static_cast<long long>(fills[3]), static_cast<long long>(fills[4]), seconds);
    if (!compare_dir.empty()) {
      std::ifstream in(compare_dir + "/" + name + ".perm");
      long long own = -1;
      std::vector<int32_t> rows_in_order;
      if (in >> own) {
        int32_t r = 0;
        while (in >> r) rows_in_order.push_back(r);
      }
      if (static_cast<int32_t>(rows_in_order.size()) == a.rows) {
        const int64_t outside = order_fill(a, rows_in_order);
        std::printf(" %12lld %12lld %8.3f", static_cast<long long>(outside), own,
                    outside > 0 ? static_cast<double>(fills[1]) / static_cast<double>(outside) : 0.0);
      } else {
        std::printf(" %12s %12s %8s", "-", "-", "-");
      }
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  KLFREEXO();
  return status;
}
