// Where the shared problem sets are: the environment variable KLSOL_DATA as
// the test runs, else the CMake cache variable of the same name baked in at
// build time.
#ifndef KLSOL_TESTS_SUPPORT_DATA_DIR_H
#define KLSOL_TESTS_SUPPORT_DATA_DIR_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/data_problems.h"

namespace kltest {

inline std::string data_dir() {
  const char* from_env = std::getenv("KLSOL_DATA");
  if (from_env != nullptr && from_env[0] != '\0') return from_env;
#ifdef KLSOL_DATA_DEFAULT
  return KLSOL_DATA_DEFAULT;
#else
  return "../shared/data";
#endif
}

// The path of a file of the data set, or "" when the data set is missing.
inline std::string data_file(const std::string& relative) {
  const std::filesystem::path path = std::filesystem::path(data_dir()) / relative;
  return std::filesystem::exists(path) ? path.string() : std::string();
}

// The problems of a folder of the data set for parameterised tests: the
// list of data_problems.h, known without the data, so every case is
// registered and skips when the data is missing.
inline std::vector<std::string> mps_problems(const std::string& folder_name) { return listed_problems(folder_name); }

// The names (stems) of the MPS files found in a folder of the data set,
// sorted; none when the folder is missing. Read at run time: never a source
// of test parameters.
inline std::vector<std::string> mps_files_in(const std::string& folder_name) {
  std::vector<std::string> names;
  const std::string folder = data_file(folder_name);
  if (folder.empty()) return names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".mps") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A problem name as a test name: a parameter name may not hold '-'.
inline std::string problem_test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

// The published optima of objectives.csv (of the data set, or of one of its
// folders) by problem name; empty when the file is missing.
inline std::map<std::string, double> known_objectives(const std::string& folder_name = "") {
  std::map<std::string, double> known;
  std::ifstream in(data_file(folder_name.empty() ? "objectives.csv" : folder_name + "/objectives.csv"));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, value;
    if (std::getline(fields, name, ',') && std::getline(fields, value, ','))
      known[name] = std::strtod(value.c_str(), nullptr);
  }
  return known;
}

}  // namespace kltest

// Skips the current test with a clear message when the data set is absent.
#define KLTEST_REQUIRE_DATA(path_variable, relative)                                              \
  const std::string path_variable = kltest::data_file(relative);                                  \
  if (path_variable.empty()) GTEST_SKIP() << "problem data not found: " << kltest::data_dir() << "/" \
                                          << (relative) << " (set KLSOL_DATA)"

#endif
