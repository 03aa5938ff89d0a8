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
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"

namespace {

void quiet(const char*, int32_t, int32_t) {}
void to_stderr(const char* text, int32_t, int32_t) {
  if (text != nullptr) std::fprintf(stderr, "%s\n", text);
}

double process_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// "number=value" into its two halves; false when there is no '='.
bool split_setting(const std::string& setting, int32_t& number, std::string& value) {
  const size_t equals = setting.find('=');
  if (equals == std::string::npos) return false;
  number = std::atoi(setting.substr(0, equals).c_str());
  value = setting.substr(equals + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  bool keep_presolve = false;
  bool keep_crossover = false;
  bool verbose = false;
  int solves = 1;
  std::vector<std::pair<int32_t, int32_t>> controls;
  std::vector<std::pair<int32_t, double>> double_controls;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    int32_t number = 0;
    std::string value;
    if (argument == "-n") {
      keep_presolve = true;
    } else if (argument == "-x") {
      keep_crossover = true;
    } else if (argument == "-v") {
      verbose = true;
    } else if (argument == "-k" && k + 1 < argc) {
      solves = std::max(1, std::atoi(argv[++k]));
    } else if (argument == "-c" && k + 1 < argc) {
      if (split_setting(argv[++k], number, value)) controls.emplace_back(number, std::atoi(value.c_str()));
    } else if (argument == "-r" && k + 1 < argc) {
      if (split_setting(argv[++k], number, value)) double_controls.emplace_back(number, std::atof(value.c_str()));
    } else {
      file = argument;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "usage: lp_barrier_bench [-n] [-x] [-v] [-k solves] [-c n=v] [-r n=v] file\n");
    return 2;
  }
  if (KLINITLZ(nullptr, nullptr) != 0) {
    std::fprintf(stderr, "the library did not start\n");
    return 1;
  }
  KLDEFINEUOPENTRY(verbose ? to_stderr : quiet);
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("lp_barrier_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  const std::string name = std::filesystem::path(file).stem().string();
  int32_t lp_status = -1;
  int32_t word = -1;
  int32_t iterations = 0;
  double objective = 0.0;
  double cpu_seconds = 0.0;
  double wall_seconds = 0.0;
  int done = 0;
  for (; done < solves; ++done) {
    if (KLINPUT(file.c_str()) != 0 || KLSETPROB((scratch / name).string().c_str()) != 0) break;
    if (!keep_presolve) KLSETICV(KLIC_IFPRES, 0);
    if (!keep_crossover) KLSETICV(KLIC_CROSS, 0);
    for (const auto& [control, value] : controls) KLSETICV(control, value);
    for (const auto& [control, value] : double_controls) KLSETDCV(control, value);
    const double cpu_start = process_cpu_seconds();
    const auto wall_start = std::chrono::steady_clock::now();
    word = KLMINIM("b");
    wall_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    cpu_seconds += process_cpu_seconds() - cpu_start;
    lp_status = -1;
    if (word == 0) KLGETIPV(KLIA_LPSTATUS, &lp_status);
    iterations = 0;
    objective = 0.0;
    KLGETIPV(KLIA_BARITER, &iterations);
    KLGETDPV(KLDA_OBJVAL, &objective);
  }
  KLFREEXO();
  std::filesystem::remove_all(scratch);
  if (done == 0) {
    std::printf("%s -1 -1 0 0 0 0 0\n", name.c_str());
    return 1;
  }
  std::printf("%s %d %d %.12g %d %.6f %.6f %d\n", name.c_str(), lp_status, word, objective, iterations,
              cpu_seconds / done, wall_seconds / done, done);
  return 0;
}
