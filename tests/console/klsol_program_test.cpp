// The console program klsol run as a process: commands on standard input,
// its output and exit code checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace {

// klsol is built into the same directory as the test program.
std::string program_path() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path() / "klsol").string();
}

std::string source_root() { return KLSOL_SOURCE_DIR; }

std::string read_file(const std::string& path) {
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

  kltest::TempDir dir_;
  std::string program_;
};

TEST_F(KlsolProgram, RunsCommandsAndQuits) {
  const Outcome o = run("ITRLOG = 5\nitrlog\nNOSUCH\nQUIT\nITRLOG=6\n");
  EXPECT_EQ(o.exit_code, 0) << o.output;
  EXPECT_NE(o.output.find("Linear, quadratic and mixed-integer"), std::string::npos) << "the start-up banner";
  EXPECT_NE(o.output.find("\n           5\n"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("Unknown command or control name"), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("?EOF"), std::string::npos) << "nothing is read after QUIT";
}

TEST_F(KlsolProgram, EndOfInputEndsWithCode16) {
  const Outcome o = run("ITRLOG=5\n");
  EXPECT_EQ(o.exit_code, 16) << o.output;
  EXPECT_NE(o.output.find("?EOF on read: fatal"), std::string::npos) << o.output;
}

TEST_F(KlsolProgram, StopWithoutAnOptimisationEndsWithCode99) {
  EXPECT_EQ(run("STOP\n").exit_code, 99);
}

TEST_F(KlsolProgram, LongLinesAreNeverCutOrSplit) {
  const Outcome o = run("ITRLOG=" + std::string(5000, '0') + "42\nITRLOG\nQUIT\n");
  EXPECT_EQ(o.exit_code, 0);
  EXPECT_NE(o.output.find("\n          42\n"), std::string::npos) << o.output.substr(0, 400);
  EXPECT_EQ(o.output.find("Unknown"), std::string::npos);
}

TEST_F(KlsolProgram, CommandFileOfTheCurrentDirectoryRunsFirst) {
  std::ofstream(dir_.file("kl-run.ini")) << "ITRLOG=21\n";
  const Outcome o = run("ITRLOG\nQUIT\n");
  EXPECT_EQ(o.exit_code, 0);
  const std::size_t echo = o.output.find("ITRLOG=21");
  const std::size_t shown = o.output.find("\n          21\n");
  ASSERT_NE(echo, std::string::npos) << o.output;
  ASSERT_NE(shown, std::string::npos) << o.output;
  EXPECT_LT(echo, shown);
}

TEST_F(KlsolProgram, SolvesTheExampleProblem) {
  std::filesystem::copy_file(source_root() + "/examples/diet.mps", dir_.file("diet.mps"));
  const Outcome o = run("PROBLEM diet\nINPUT\nMINIM\nPRINT\nQUIT\n");
  if (o.output.find("not available yet") != std::string::npos)
    GTEST_SKIP() << "MINIM or PRINT not built yet";
  EXPECT_EQ(o.exit_code, 0) << o.output;
  EXPECT_NE(o.output.find("92.5"), std::string::npos) << o.output;
}

// Ctrl-C while klsol waits for a line interrupts nothing: the read goes on
// and the next commands run.
TEST_F(KlsolProgram, InterruptAtThePromptIsNotTheEndOfInput) {
  // A child that has died must fail the test, not kill it by a write to
  // its closed pipe.
  struct IgnoreBrokenPipe {
    IgnoreBrokenPipe() { kept = signal(SIGPIPE, SIG_IGN); }
    ~IgnoreBrokenPipe() { signal(SIGPIPE, kept); }
    sighandler_t kept;
  } ignore_broken_pipe;
  int to_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  const std::string output_path = dir_.file("stdout.txt");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(to_child[0], STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    close(to_child[1]);
    if (chdir(dir_.path().c_str()) != 0) _exit(120);
    execl(program_.c_str(), program_.c_str(), static_cast<char*>(nullptr));
    _exit(121);
  }
  close(to_child[0]);
  auto send = [&](const std::string& text) {
    EXPECT_EQ(write(to_child[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  // Once the value is shown, the loop (and its Ctrl-C handler) is running
  // and waits for the next line.
  send("ITRLOG\n");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (read_file(output_path).find("         100") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  send("ITRLOG=3\nITRLOG\nQUIT\n");
  close(to_child[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const std::string output = read_file(output_path);
  ASSERT_TRUE(WIFEXITED(status)) << "klsol was killed by the interrupt";
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("\n           3\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("?EOF"), std::string::npos);
}

}  // namespace
