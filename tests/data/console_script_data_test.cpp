// Console scripts over real problems: the console program klsol runs a
// script that solves a problem and checks its optimum with ASSERT.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "support/data_dir.h"
#include "support/klsol_program.h"

namespace {

using kltest::KlsolProgram;
using kltest::Outcome;

// A console script checks its results with ASSERT and ends with STOP: the
// exit code tells a shell whether every assertion held (STOP's own code) or
// one failed (100 more). The objective values are the problems' published
// optima.
TEST_F(KlsolProgram, ScriptAssertionsSetTheExitCode) {
  struct Case {
    const char* file;
    const char* solve;
    const char* attribute;
    double optimum;
    int stop_code;
  } cases[] = {
      {"netlib/afiro.mps", "MINIM", "objval", -4.6475314286e+02, 64},
      {"netlib/sc50a.mps", "MINIM", "objval", -6.4575077059e+01, 64},
      {"miplib3/p0033.mps", "MINIM -g", "dintsl", 3089.0, 67},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = kltest::data_file(c.file);
    if (path.empty()) GTEST_SKIP() << "problem data not found: " << kltest::data_dir() << "/" << c.file << " (set KLSOL_DATA)";
    const std::string stem = std::filesystem::path(path).stem().string();
    std::filesystem::copy_file(path, dir_.file(stem + ".mps"), std::filesystem::copy_options::overwrite_existing);
    const double tolerance = 1e-6 * std::fabs(c.optimum);
    const auto script = [&](double wanted) {
      std::ostringstream text;
      text.precision(12);
      text << "PROBLEM " << stem << "\nINPUT\n" << c.solve << "\n"
           << "ASSERT " << c.attribute << ">" << wanted - tolerance << "\n"
           << "ASSERT " << c.attribute << "<" << wanted + tolerance << "\nSTOP\n";
      return text.str();
    };
    const Outcome held = run(script(c.optimum));
    EXPECT_EQ(held.exit_code, c.stop_code) << held.output;
    EXPECT_EQ(held.output.find("Assertion failed"), std::string::npos) << held.output;
    const Outcome failed = run(script(c.optimum + 1.0));
    EXPECT_EQ(failed.exit_code, c.stop_code + 100) << failed.output;
    EXPECT_NE(failed.output.find("Assertion failed"), std::string::npos) << failed.output;
  }
}

}  // namespace
