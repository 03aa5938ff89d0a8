// Fuzz target of the console command loop: the input is a script of command
// lines, run by KLCONTROL in a fresh session, in a scratch directory that
// holds a few small problems to load and solve.
//
// The harness keeps a run bounded and inside the scratch directory: it
// refuses scripts with a '/' (every file name then names a file of the
// scratch directory), longer than kMaxInput, or that set the iteration
// limit, which it caps itself. The console entry is its own, never standard
// input, and the end of the script is the end of input.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "klsol32.h"
#include "scratch.h"

namespace {

constexpr size_t kMaxInput = 4096;
constexpr int32_t kIterationCap = 2000;

// The small problems placed in the scratch directory, relative to the data
// set, and the diet problem of the examples.
constexpr const char* kDataProblems[] = {"netlib/afiro.mps", "regress/rr.mps",     "regress/fx.mps",
                                         "sample/exmip1.mps", "infeas/itest2.mps", "qp/hs21.qps"};

std::string_view script;
size_t next_line = 0;

// The console entry: the lines of the script, then the end of input. Page
// breaks go on.
void read_script_line(char* line, int32_t* length) {
  if (*length == 0) return;
  if (next_line >= script.size()) {
    *length = -1;
    return;
  }
  size_t end = script.find('\n', next_line);
  if (end == std::string_view::npos) end = script.size();
  const auto count = static_cast<int32_t>(end - next_line);
  if (count > *length) {
    *length = count;
    return;
  }
  std::memcpy(line, script.data() + next_line, static_cast<size_t>(count));
  *length = count;
  next_line = end + 1;
}

// True when a line of the script could set the iteration limit: command
// lines lose their blanks and match names in either case.
bool sets_iteration_limit(const uint8_t* data, size_t size) {
  std::string squeezed;
  for (size_t k = 0; k < size; ++k) {
    if (data[k] > ' ') squeezed.push_back(static_cast<char>(std::toupper(data[k])));
  }
  return squeezed.find("ITRLIM") != std::string::npos;
}

std::string data_dir() {
  const char* from_env = std::getenv("KLSOL_DATA");
  if (from_env != nullptr && from_env[0] != '\0') return from_env;
  return KLSOL_DATA_DEFAULT;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  klfuzz::Scratch& scratch = klfuzz::Scratch::instance();
  scratch.enter(argc, argv);
  scratch.keep(klfuzz::fs::path(KLSOL_SOURCE_DIR) / "examples" / "diet.mps");
  for (const char* problem : kDataProblems) scratch.keep(klfuzz::fs::path(data_dir()) / problem);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput || std::memchr(data, '/', size) != nullptr || sets_iteration_limit(data, size)) return -1;
  klfuzz::Scratch::instance().clear();
  script = std::string_view(reinterpret_cast<const char*>(data), size);
  next_line = 0;
  klfuzz::Session session;
  KLSETICV(KLIC_ITRLIM, kIterationCap);
  KLCONTROL(read_script_line);
  return 0;
}
