// Solves one LP or QP file with this library's barrier and prints one line
// of figures:
//
//   lp_barrier_bench [-n] [-x] [-v] [-k solves] [-c number=value] [-r number=value] file
//
//   name lp_status status_word objective iterations cpu_seconds wall_seconds solves
//
// The barrier runs through KLMINIM with option letter b. The problem is
// read again before every solve, so each of the -k solves (default 1)
// starts from the file, never from the previous solution; the seconds are
// the mean per solve of the process CPU time (and of the wall time) spent
// inside KLMINIM only: reading the file is not counted. The figures of the
// line (status, objective, barrier iterations) are those of the last solve.
// lp_status is problem attribute 1010 (1 optimal, 2 infeasible, 4
// unfinished, 5 unbounded), -1 when the solve returned a non-zero status
// word, which is printed beside it.
//
// -n leaves the problem's own presolve control alone (the run is otherwise
// unpresolved); -x leaves the crossover control alone (it is otherwise set
// to 0, so that the barrier ends without a basis); -v shows the library's
// messages on standard error; -c sets an integer control, -r a double
// control, by its number before each solve (repeatable). The solution file
// goes to a temporary directory, never beside the input.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_common.h"
#include "klsol32.h"

int main(int argc, char** argv) {
  bench::Settings settings;
  bool keep_presolve = false;
  bool keep_crossover = false;
  int solves = 1;
  const bool have_file = bench::parse_arguments(argc, argv, settings, [&](int count, char** args, int k) {
    const std::string argument = args[k];
    if (argument == "-n") {
      keep_presolve = true;
      return 1;
    }
    if (argument == "-x") {
      keep_crossover = true;
      return 1;
    }
    if (argument == "-k" && k + 1 < count) {
      solves = std::max(1, std::atoi(args[k + 1]));
      return 2;
    }
    return 0;
  });
  if (!have_file) {
    std::fprintf(stderr, "usage: lp_barrier_bench [-n] [-x] [-v] [-k solves] [-c n=v] [-r n=v] file\n");
    return 2;
  }
  bench::Session session("lp_barrier_bench", settings);
  if (!session.started()) return 1;
  const std::string& name = session.name();
  int32_t lp_status = -1;
  int32_t word = -1;
  int32_t iterations = 0;
  double objective = 0.0;
  double cpu_seconds = 0.0;
  double wall_seconds = 0.0;
  int done = 0;
  for (; done < solves; ++done) {
    session.clear_scratch();
    if (KLINPUT(settings.file.c_str()) != 0 || KLSETPROB(session.problem_path().c_str()) != 0) break;
    if (!keep_presolve) KLSETICV(KLIC_IFPRES, 0);
    if (!keep_crossover) KLSETICV(KLIC_CROSS, 0);
    bench::apply_controls(settings);
    const double cpu_start = bench::process_cpu_seconds();
    const auto wall_start = std::chrono::steady_clock::now();
    word = KLMINIM("b");
    wall_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    cpu_seconds += bench::process_cpu_seconds() - cpu_start;
    lp_status = -1;
    if (word == 0) KLGETIPV(KLIA_LPSTATUS, &lp_status);
    iterations = 0;
    objective = 0.0;
    KLGETIPV(KLIA_BARITER, &iterations);
    KLGETDPV(KLDA_OBJVAL, &objective);
  }
  if (done == 0) {
    std::printf("%s -1 -1 0 0 0 0 0\n", name.c_str());
    return 1;
  }
  std::printf("%s %d %d %.12g %d %.6f %.6f %d\n", name.c_str(), lp_status, word, objective, iterations,
              cpu_seconds / done, wall_seconds / done, done);
  return 0;
}
