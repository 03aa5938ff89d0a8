// Solves one LP file with this library and prints one line of figures:
//
//   lp_solve_bench [-a d|p] [-n] [-v] [-c number=value] [-r number=value] file
//
//   name status objective iterations seconds peak_kb
//
// -a d (the default algorithm, the dual) or p (the primal); -n leaves the
// problem's own presolve control alone (the run is otherwise unpresolved);
// -v shows the library's messages on standard error; -c sets an integer
// control, -r a double control, by its number before the run (repeatable).
// The solution file goes to a temporary directory, never beside the input.
// Peak memory is the process's resident high-water mark, so run one file
// per process to read it per problem.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
  std::string algorithm = "d";
  std::string file;
  bool keep_presolve = false;
  bool verbose = false;
  std::vector<std::pair<int32_t, int32_t>> controls;
  std::vector<std::pair<int32_t, double>> double_controls;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (argument == "-a" && k + 1 < argc) {
      algorithm = argv[++k];
    } else if (argument == "-n") {
      keep_presolve = true;
    } else if (argument == "-v") {
      verbose = true;
    } else if (argument == "-r" && k + 1 < argc) {
      const std::string setting = argv[++k];
      const size_t equals = setting.find('=');
      if (equals != std::string::npos)
        double_controls.emplace_back(std::atoi(setting.substr(0, equals).c_str()),
                                     std::atof(setting.c_str() + equals + 1));
    } else if (argument == "-c" && k + 1 < argc) {
      const std::string setting = argv[++k];
      const size_t equals = setting.find('=');
      if (equals != std::string::npos)
        controls.emplace_back(std::atoi(setting.substr(0, equals).c_str()), std::atoi(setting.c_str() + equals + 1));
    } else {
      file = argument;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "usage: lp_solve_bench [-a d|p] [-n] file\n");
    return 2;
  }
  if (KLINITLZ(nullptr, nullptr) != 0) {
    std::fprintf(stderr, "the library did not start\n");
    return 1;
  }
  KLDEFINEUOPENTRY(verbose ? to_stderr : quiet);
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("lp_solve_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  const std::string name = std::filesystem::path(file).stem().string();
  int32_t status = -1;
  int32_t iterations = 0;
  double objective = 0.0;
  double seconds = 0.0;
  if (KLINPUT(file.c_str()) == 0 && KLSETPROB((scratch / name).string().c_str()) == 0) {
    if (!keep_presolve) KLSETICV(KLIC_IFPRES, 0);
    for (const auto& [control, value] : controls) KLSETICV(control, value);
    for (const auto& [control, value] : double_controls) KLSETDCV(control, value);
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = KLMINIM(algorithm.c_str());
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result == 0) KLGETIPV(KLIA_LPSTATUS, &status);
    KLGETIPV(KLIA_ITCNT, &iterations);
    KLGETDPV(KLDA_OBJVAL, &objective);
  }
  KLFREEXO();
  std::filesystem::remove_all(scratch);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s %d %.12g %d %.4f %ld\n", name.c_str(), status, objective, iterations, seconds, usage.ru_maxrss);
  return 0;
}
