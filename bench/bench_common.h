// The set-up the solve benchmarks share: the options every one takes (-v,
// -c number=value, -r number=value and the file), the library's start with
// its messages silenced or shown, and a scratch folder for the files a
// solve writes, so that nothing lands beside the input.
#ifndef KLSOL_BENCH_COMMON_H
#define KLSOL_BENCH_COMMON_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "klsol32.h"

namespace bench {

struct Settings {
  std::string file;
  bool verbose = false;
  std::vector<std::pair<int32_t, int32_t>> controls;
  std::vector<std::pair<int32_t, double>> double_controls;
};

// "number=value" into its two halves; false when there is no '='.
inline bool split_setting(const std::string& setting, int32_t& number, std::string& value) {
  const size_t equals = setting.find('=');
  if (equals == std::string::npos) return false;
  number = std::atoi(setting.substr(0, equals).c_str());
  value = setting.substr(equals + 1);
  return true;
}

// Reads the arguments: `own` sees each first and returns how many it took
// (0 when the argument is not one of its own); then -v, -c and -r (a
// setting without '=' is skipped); anything else is the file. False when
// no file was given.
inline bool parse_arguments(int argc, char** argv, Settings& settings,
                            const std::function<int(int argc, char** argv, int k)>& own = nullptr) {
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (own) {
      const int taken = own(argc, argv, k);
      if (taken > 0) {
        k += taken - 1;
        continue;
      }
    }
    int32_t number = 0;
    std::string value;
    if (argument == "-v") {
      settings.verbose = true;
    } else if (argument == "-c" && k + 1 < argc) {
      if (split_setting(argv[++k], number, value)) settings.controls.emplace_back(number, std::atoi(value.c_str()));
    } else if (argument == "-r" && k + 1 < argc) {
      if (split_setting(argv[++k], number, value))
        settings.double_controls.emplace_back(number, std::atof(value.c_str()));
    } else {
      settings.file = argument;
    }
  }
  return !settings.file.empty();
}

// The -c and -r settings, in the order given.
inline void apply_controls(const Settings& settings) {
  for (const auto& [control, value] : settings.controls) KLSETICV(control, value);
  for (const auto& [control, value] : settings.double_controls) KLSETDCV(control, value);
}

inline double process_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The library started, messages on standard error with -v and silenced
// otherwise, and a scratch folder of this process in the temporary
// directory; the destructor frees the library and removes the folder.
class Session {
 public:
  Session(const char* program, const Settings& settings) {
    started_ = KLINITLZ(nullptr, nullptr) == 0;
    if (!started_) {
      std::fprintf(stderr, "the library did not start\n");
      return;
    }
    KLDEFINEUOPENTRY(settings.verbose ? to_stderr : quiet);
    scratch_ = std::filesystem::temp_directory_path() / (std::string(program) + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch_);
    name_ = std::filesystem::path(settings.file).stem().string();
  }
  ~Session() {
    if (!started_) return;
    KLFREEXO();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool started() const { return started_; }
  // The problem's name: the file's stem.
  const std::string& name() const { return name_; }
  // Where the solve's files go (KLSETPROB's argument).
  std::string problem_path() const { return (scratch_ / name_).string(); }
  // Removes what earlier solves wrote into the scratch folder, so that the
  // next solve creates its files afresh as a single run would.
  void clear_scratch() const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_, ignored))
      std::filesystem::remove_all(entry.path(), ignored);
  }

 private:
  static void quiet(const char*, int32_t, int32_t) {}
  static void to_stderr(const char* text, int32_t, int32_t) {
    if (text != nullptr) std::fprintf(stderr, "%s\n", text);
  }

  bool started_ = false;
  std::filesystem::path scratch_;
  std::string name_;
};

}  // namespace bench

#endif
