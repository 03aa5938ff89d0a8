// Solves one problem with global entities with this library and prints one
// line of figures:
//
//   mip_solve_bench [-c number=value] [-r number=value] [-v] file
//
//   name mip_status objective best_bound nodes solutions seconds peak_kb
//
// The controls (-c integer, -r double, by number, repeatable) are set before
// the problem is read, so that sizing and scaling controls take effect; the
// presolve and cut controls keep their defaults unless set. mip_status is
// the search's (5 finished without a solution, 6 finished with one, 3 or 4
// stopped by a limit); the objective is the best integer solution's.
// -v shows the library's messages on standard error. The solution and
// search files go to a temporary directory, never beside the input.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench_common.h"
#include "klsol32.h"

namespace {

constexpr int32_t kMipStatus = 1011;
constexpr int32_t kNodeCount = 1013;
constexpr int32_t kSolutionCount = 1017;
constexpr int32_t kBestIntegerObjective = 2003;
constexpr int32_t kBestBound = 2004;

}  // namespace

int main(int argc, char** argv) {
  bench::Settings settings;
  if (!bench::parse_arguments(argc, argv, settings)) {
    std::fprintf(stderr, "usage: mip_solve_bench [-c number=value] [-r number=value] [-v] file\n");
    return 2;
  }
  int32_t mip_status = -1, nodes = 0, solutions = 0;
  double objective = 0.0, bound = 0.0, seconds = 0.0;
  std::string name;
  {
    bench::Session session("mip_solve_bench", settings);
    if (!session.started()) return 1;
    name = session.name();
    bench::apply_controls(settings);
    if (KLINPUT(settings.file.c_str()) == 0 && KLSETPROB(session.problem_path().c_str()) == 0) {
      const auto start = std::chrono::steady_clock::now();
      KLMINIM("g");
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      KLGETIPV(kMipStatus, &mip_status);
      KLGETIPV(kNodeCount, &nodes);
      KLGETIPV(kSolutionCount, &solutions);
      KLGETDPV(kBestIntegerObjective, &objective);
      KLGETDPV(kBestBound, &bound);
    }
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s %d %.12g %.12g %d %d %.4f %ld\n", name.c_str(), mip_status, objective, bound, nodes, solutions,
              seconds, usage.ru_maxrss);
  return 0;
}
