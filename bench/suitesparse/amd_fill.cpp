// The outside side of bench/barrier_ordering_compare.sh: reads the pattern
// of A written by barrier_ordering_bench --export, orders the pattern of
// A A' with SuiteSparse's AMD (default controls) and writes the order:
//
//   amd_fill NAME.pat NAME.perm
//
// NAME.perm: the count of L's entries below the diagonal that AMD reports,
// then the rows (0-based) in elimination order, one per line. Built by the
// script, never by the project's CMake.
#include <amd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: amd_fill NAME.pat NAME.perm\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  long rows = 0, cols = 0, entries = 0;
  if (!(in >> rows >> cols >> entries)) return 1;
  std::vector<std::vector<int>> column(static_cast<size_t>(cols));
  std::vector<std::vector<int>> row_columns(static_cast<size_t>(rows));
  for (long j = 0; j < cols; ++j) {
    long count = 0;
    in >> count;
    for (long t = 0; t < count; ++t) {
      int r = 0;
      in >> r;
      column[static_cast<size_t>(j)].push_back(r);
      row_columns[static_cast<size_t>(r)].push_back(static_cast<int>(j));
    }
  }
  // The pattern of A A' without its diagonal, by columns.
  std::vector<int> ap(1, 0), ai, mark(static_cast<size_t>(rows), -1);
  for (long i = 0; i < rows; ++i) {
    for (int j : row_columns[static_cast<size_t>(i)])
      for (int r : column[static_cast<size_t>(j)])
        if (r != i && mark[static_cast<size_t>(r)] != i) {
          mark[static_cast<size_t>(r)] = static_cast<int>(i);
          ai.push_back(r);
        }
    std::sort(ai.begin() + ap.back(), ai.end());
    ap.push_back(static_cast<int>(ai.size()));
  }
  std::vector<int> perm(static_cast<size_t>(rows));
  double control[AMD_CONTROL], info[AMD_INFO];
  amd_defaults(control);
  const int status = amd_order(static_cast<int>(rows), ap.data(), ai.empty() ? nullptr : ai.data(), perm.data(), control, info);
  if (status < AMD_OK) {
    std::fprintf(stderr, "%s: amd_order status %d\n", argv[1], status);
    return 1;
  }
  std::ofstream out(argv[2]);
  out << static_cast<long long>(info[AMD_LNZ]) << '\n';
  for (int p : perm) out << p << '\n';
  return 0;
}
