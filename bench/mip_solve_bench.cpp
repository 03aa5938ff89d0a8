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

constexpr int32_t kMipStatus = 1011;
constexpr int32_t kNodeCount = 1013;
constexpr int32_t kSolutionCount = 1017;
constexpr int32_t kBestIntegerObjective = 2003;
constexpr int32_t kBestBound = 2004;

void quiet(const char*, int32_t, int32_t) {}
void to_stderr(const char* text, int32_t, int32_t) {
  if (text != nullptr) std::fprintf(stderr, "%s\n", text);
}

bool parse_setting(const std::string& setting, int32_t& number, std::string& value) {
  const size_t equals = setting.find('=');
  if (equals == std::string::npos) return false;
  number = std::atoi(setting.substr(0, equals).c_str());
  value = setting.substr(equals + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  bool verbose = false;
  std::vector<std::pair<int32_t, int32_t>> controls;
  std::vector<std::pair<int32_t, double>> double_controls;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    int32_t number = 0;
    std::string value;
    if (argument == "-v") {
      verbose = true;
    } else if ((argument == "-c" || argument == "-r") && k + 1 < argc && parse_setting(argv[++k], number, value)) {
      if (argument == "-c") controls.emplace_back(number, std::atoi(value.c_str()));
      else double_controls.emplace_back(number, std::atof(value.c_str()));
    } else {
      file = argument;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "usage: mip_solve_bench [-c number=value] [-r number=value] [-v] file\n");
    return 2;
  }
  if (KLINITLZ(nullptr, nullptr) != 0) {
    std::fprintf(stderr, "the library did not start\n");
    return 1;
  }
  KLDEFINEUOPENTRY(verbose ? to_stderr : quiet);
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("mip_solve_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  const std::string name = std::filesystem::path(file).stem().string();
  for (const auto& [control, value] : controls) KLSETICV(control, value);
  for (const auto& [control, value] : double_controls) KLSETDCV(control, value);
  int32_t mip_status = -1, nodes = 0, solutions = 0;
  double objective = 0.0, bound = 0.0, seconds = 0.0;
  if (KLINPUT(file.c_str()) == 0 && KLSETPROB((scratch / name).string().c_str()) == 0) {
    const auto start = std::chrono::steady_clock::now();
    KLMINIM("g");
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    KLGETIPV(kMipStatus, &mip_status);
    KLGETIPV(kNodeCount, &nodes);
    KLGETIPV(kSolutionCount, &solutions);
    KLGETDPV(kBestIntegerObjective, &objective);
    KLGETDPV(kBestBound, &bound);
  }
  KLFREEXO();
  std::filesystem::remove_all(scratch);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s %d %.12g %.12g %d %d %.4f %ld\n", name.c_str(), mip_status, objective, bound, nodes, solutions,
              seconds, usage.ru_maxrss);
  return 0;
}
