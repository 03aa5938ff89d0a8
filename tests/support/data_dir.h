// Where the shared problem sets are: the environment variable KLSOL_DATA,
// else the CMake cache variable of the same name baked in at build time.
#ifndef KLSOL_TESTS_SUPPORT_DATA_DIR_H
#define KLSOL_TESTS_SUPPORT_DATA_DIR_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace kltest

// Skips the current test with a clear message when the data set is absent.
#define KLTEST_REQUIRE_DATA(path_variable, relative)                                              \
  const std::string path_variable = kltest::data_file(relative);                                  \
  if (path_variable.empty()) GTEST_SKIP() << "problem data not found: " << kltest::data_dir() << "/" \
                                          << (relative) << " (set KLSOL_DATA)"

#endif
