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

#include "support/klsol_program.h"
#include "support/temp_dir.h"

namespace {

using kltest::KlsolProgram;
using kltest::Outcome;
using kltest::read_file;

std::string source_root() { return KLSOL_SOURCE_DIR; }

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
  EXPECT_EQ(o.exit_code, 0) << o.output;
  EXPECT_NE(o.output.find("92.5"), std::string::npos) << o.output;
}

// The console examples of the README, run as they stand from a copy of the
// examples directory: each ends with the exit code its "echo $?" line names
// (and so no ASSERT of it fails), and the files the examples say they write
// are there.
TEST_F(KlsolProgram, ReadmeConsoleExamplesWork) {
  std::istringstream readme(read_file(source_root() + "/README.md"));
  for (const auto& entry : std::filesystem::directory_iterator(source_root() + "/examples")) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".mps" || ext == ".lp") std::filesystem::copy_file(entry.path(), dir_.file(entry.path().filename().string()));
  }
  std::string line;
  bool in_section = false;
  bool in_script = false;
  std::string script;
  int examples = 0;
  while (std::getline(readme, line)) {
    if (line.rfind("## ", 0) == 0) in_section = line == "## Console examples";
    if (!in_section) continue;
    if (line.find("<<'END'") != std::string::npos) {
      in_script = true;
      script.clear();
    } else if (in_script && line == "END") {
      in_script = false;
    } else if (in_script) {
      script += line + "\n";
    } else if (line.rfind("echo $?", 0) == 0) {
      const int expected = std::stoi(line.substr(line.find('#') + 1));
      SCOPED_TRACE(script);
      const Outcome o = run(script);
      EXPECT_EQ(o.exit_code, expected) << o.output;
      EXPECT_EQ(o.output.find("Assertion failed"), std::string::npos) << o.output;
      EXPECT_EQ(o.output.find("not available"), std::string::npos) << o.output;
      ++examples;
    }
  }
  EXPECT_EQ(examples, 6);
  for (const char* written : {"diet.prt", "diet.asc", "diet.hdr"})
    EXPECT_TRUE(std::filesystem::exists(dir_.file(written))) << written;
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
