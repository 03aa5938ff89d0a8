// What the fuzz targets share: a scratch directory, emptied between inputs
// of all but the files placed in it at start, which a target that lets the
// library name files makes its current directory; and a library session
// per input.
#ifndef KLSOL_FUZZ_SCRATCH_H
#define KLSOL_FUZZ_SCRATCH_H

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "klsol32.h"

namespace klfuzz {

namespace fs = std::filesystem;

class Scratch {
 public:
  static Scratch& instance() {
    static Scratch scratch;
    return scratch;
  }

  // Copies a file into the directory, to stay there for every input. A
  // missing source is left out.
  void keep(const fs::path& source) {
    std::error_code error;
    if (!fs::is_regular_file(source, error)) return;
    fs::copy_file(source, path_ / source.filename(), fs::copy_options::overwrite_existing, error);
    if (!error) kept_.insert(source.filename().string());
  }

  // Removes everything the last input left.
  void clear() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path_, error)) {
      if (kept_.count(entry.path().filename().string()) == 0) fs::remove_all(entry.path(), error);
    }
  }

  // Writes an input into the directory; returns its path.
  std::string write(const std::string& name, const uint8_t* data, size_t size) {
    std::ofstream(path_ / name, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                      static_cast<std::streamsize>(size));
    return (path_ / name).string();
  }

  // Makes the directory the current one, so that every file the library
  // opens by a bare name is there. The paths among the fuzzer's arguments
  // (inputs, corpus directories, artifact prefix, dictionary) are made
  // absolute first, as they were meant from the directory of the call.
  void enter(int* argc, char*** argv) {
    static std::vector<std::string> absolute;
    absolute.reserve(static_cast<size_t>(*argc));
    for (int k = 1; k < *argc; ++k) {
      const std::string argument = (*argv)[k];
      if (argument.empty()) continue;
      std::string prefix, path = argument;
      for (const char* flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
        if (argument.rfind(flag, 0) == 0) {
          prefix = flag;
          path = argument.substr(prefix.size());
        }
      }
      if (argument[0] == '-' && prefix.empty()) continue;
      const bool directory_prefix = !path.empty() && path.back() == '/';
      path = fs::absolute(path).string();
      if (directory_prefix && path.back() != '/') path.push_back('/');
      absolute.push_back(prefix + path);
      (*argv)[k] = absolute.back().data();
    }
    if (chdir(path_.c_str()) != 0) {
      std::perror("klsol fuzz: cannot enter the scratch directory");
      std::abort();
    }
  }

 private:
  Scratch() {
    // The library may prompt on standard input (a message line that starts
    // with '.'); a fuzz run must never wait for an answer.
    if (std::freopen("/dev/null", "r", stdin) == nullptr) {
      std::perror("klsol fuzz: cannot detach standard input");
      std::abort();
    }
    std::string pattern = (fs::temp_directory_path() / "klsol-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("klsol fuzz: no scratch directory");
      std::abort();
    }
    path_ = pattern;
    std::atexit([] {
      std::error_code error;
      fs::remove_all(instance().path_, error);
    });
  }

  fs::path path_;
  std::set<std::string> kept_;
};

// Every line the library prints is read through, so that a length beyond
// the text shows, and thrown away.
inline void swallow_line(const char* text, int32_t length, int32_t kind) {
  static volatile unsigned char sink;
  if (kind < 0 || text == nullptr) return;
  for (int32_t k = 0; k < length; ++k) sink = sink ^ static_cast<unsigned char>(text[k]);
}

inline void swallow_wide_line(KLWideString text, int32_t length, int32_t kind) {
  static volatile uint32_t sink;
  if (kind < 0 || text == nullptr) return;
  for (int32_t k = 0; k < length; ++k) sink = sink ^ static_cast<uint32_t>(text[k]);
}

// A library session for one input: started quietly, shut down at the end.
class Session {
 public:
  Session() {
    KLDEFINEUOPVBENTRY(swallow_wide_line);
    started_ = KLINITLZ(nullptr, nullptr) == KL_STATUS_OK;
    KLDEFINEUOPENTRY(swallow_line);
    if (!started_) {
      std::fputs("klsol fuzz: KLINITLZ failed (is kl-run.msg beside the program?)\n", stderr);
      std::abort();
    }
  }
  ~Session() {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  bool started_ = false;
};

}  // namespace klfuzz

#endif
