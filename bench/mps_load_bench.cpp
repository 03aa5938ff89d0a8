// Load time of MPS files: each file is read a few times through KLINPUT and
// the best wall-clock time printed, with the problem's size.
//
//   mps_load_bench [-r repeats] [file or directory ...]
//
// Without arguments it reads every file of the Netlib folder of KLSOL_DATA
// (default: the shared data set the build was configured with).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "klsol32.h"

namespace {

void quiet(const char*, int32_t, int32_t) {}

int32_t attribute(int32_t n) {
  int32_t value = 0;
  KLGETIPV(n, &value);
  return value;
}

void add_files(const std::filesystem::path& path, std::vector<std::string>& files) {
  if (!std::filesystem::is_directory(path)) {
    files.push_back(path.string());
    return;
  }
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".mps" || extension == ".qps" || extension == ".mat") found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
}

}  // namespace

int main(int argc, char** argv) {
  int repeats = 3;
  std::vector<std::string> files;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (argument == "-r" && k + 1 < argc) {
      repeats = std::max(1, std::atoi(argv[++k]));
    } else {
      add_files(argument, files);
    }
  }
  if (files.empty()) {
    const char* data = std::getenv("KLSOL_DATA");
    add_files(std::filesystem::path(data != nullptr && data[0] != '\0' ? data : KLSOL_DATA_DEFAULT) / "netlib", files);
  }
  if (KLINITLZ(nullptr, nullptr) != 0) {
    std::fprintf(stderr, "the library did not start\n");
    return 1;
  }
  KLDEFINEUOPENTRY(quiet);
  std::printf("%-24s %8s %8s %9s %8s %10s\n", "file", "rows", "columns", "elements", "status", "best ms");
  double total = 0.0;
  for (const std::string& file : files) {
    double best = 0.0;
    int32_t status = 0;
    for (int r = 0; r < repeats; ++r) {
      const auto start = std::chrono::steady_clock::now();
      status = KLINPUT(file.c_str());
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      best = r == 0 ? ms : std::min(best, ms);
    }
    total += best;
    std::printf("%-24s %8d %8d %9d %8d %10.2f\n", std::filesystem::path(file).filename().string().c_str(),
                attribute(1001), attribute(1018), attribute(1006), status, best);
  }
  std::printf("%-24s %46.2f\n", "total", total);
  KLFREEXO();
  return 0;
}
