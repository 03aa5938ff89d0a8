// A test fixture that runs the console program klsol as a process in a
// temporary directory, commands on its standard input, and hands back its
// exit code and output.
#ifndef KLSOL_TESTS_SUPPORT_KLSOL_PROGRAM_H
#define KLSOL_TESTS_SUPPORT_KLSOL_PROGRAM_H

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace kltest {

// klsol is built into the same directory as the test program.
inline std::string program_path() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path() / "klsol").string();
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Outcome {
  int exit_code = -1;
  std::string output;
};

class KlsolProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = program_path();
    ASSERT_TRUE(std::filesystem::exists(program_)) << "the console program is not built: " << program_;
  }

  // Runs klsol in the test's directory with input on standard input.
  Outcome run(const std::string& input) {
    std::ofstream(dir_.file("stdin.txt")) << input;
    const std::string command = "cd '" + dir_.path() + "' && '" + program_ + "' < stdin.txt > stdout.txt 2>&1";
    const int status = std::system(command.c_str());
    Outcome outcome;
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    outcome.output = read_file(dir_.file("stdout.txt"));
    return outcome;
  }

  TempDir dir_;
  std::string program_;
};

}  // namespace kltest

#endif
