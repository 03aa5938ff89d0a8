// Solves one LP file with this library and prints one line of figures:
//
//   lp_solve_bench [-a d|p] [-n] [-l count] [-v] [-c number=value] [-r number=value] file
//
//   name status objective iterations seconds peak_kb cpu_seconds
//
// seconds is the wall time of KLMINIM, cpu_seconds the process's CPU time
// in it.
// -a d (the default algorithm, the dual) or p (the primal); -n leaves the
// problem's own presolve control alone (the run is otherwise unpresolved);
// -v shows the library's messages on standard error; -c sets an integer
// control, -r a double control, by its number before the run (repeatable).
// -l loads and solves the file count times in the one process and reports
// the fastest solve's times: the fixed cost of a solve of a tiny problem,
// without the process's start-up, and a loop to profile.
// The solution file goes to a temporary directory, never beside the input.
// Peak memory is the process's resident high-water mark, so run one file
// per process to read it per problem.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_common.h"
#include "klsol32.h"

int main(int argc, char** argv) {
  bench::Settings settings;
  std::string algorithm = "d";
  bool keep_presolve = false;
  int rounds = 1;
  const bool have_file = bench::parse_arguments(argc, argv, settings, [&](int count, char** args, int k) {
    const std::string argument = args[k];
    if (argument == "-a" && k + 1 < count) {
      algorithm = args[k + 1];
      return 2;
    }
    if (argument == "-l" && k + 1 < count) {
      rounds = std::max(1, std::atoi(args[k + 1]));
      return 2;
    }
    if (argument == "-n") {
      keep_presolve = true;
      return 1;
    }
    return 0;
  });
  if (!have_file) {
    std::fprintf(stderr, "usage: lp_solve_bench [-a d|p] [-n] file\n");
    return 2;
  }
  int32_t status = -1;
  int32_t iterations = 0;
  double objective = 0.0;
  double seconds = 0.0;
  double cpu_seconds = 0.0;
  std::string name;
  {
    bench::Session session("lp_solve_bench", settings);
    if (!session.started()) return 1;
    name = session.name();
    for (int round = 0; round < rounds; ++round) {
      if (round > 0) session.clear_scratch();
      if (KLINPUT(settings.file.c_str()) != 0 || KLSETPROB(session.problem_path().c_str()) != 0) break;
      if (!keep_presolve) KLSETICV(KLIC_IFPRES, 0);
      bench::apply_controls(settings);
      const double cpu_start = bench::process_cpu_seconds();
      const auto start = std::chrono::steady_clock::now();
      const int32_t result = KLMINIM(algorithm.c_str());
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double cpu = bench::process_cpu_seconds() - cpu_start;
      if (round == 0 || wall < seconds) seconds = wall;
      if (round == 0 || cpu < cpu_seconds) cpu_seconds = cpu;
      status = -1;
      if (result == 0) KLGETIPV(KLIA_LPSTATUS, &status);
      KLGETIPV(KLIA_ITCNT, &iterations);
      KLGETDPV(KLDA_OBJVAL, &objective);
    }
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s %d %.12g %d %.4f %ld %.6f\n", name.c_str(), status, objective, iterations, seconds, usage.ru_maxrss,
              cpu_seconds);
  return 0;
}
