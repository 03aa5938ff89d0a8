// Fuzz target of a problem-file reader: the input is a problem file, named
// with the reader's extension (KLSOL_FUZZ_EXTENSION) and read by KLINPUT in
// a fresh session; a file that loads is queried back once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "scratch.h"

namespace {

// Real seeds run to a few megabytes; far beyond that an input only
// spends time.
constexpr size_t kMaxInput = 1 << 20;

void query_loaded_problem() {
  int32_t rows = 0, columns = 0;
  KLGETIPV(KLIA_NROW, &rows);
  KLGETIPV(KLIA_NCOLS, &columns);
  if (rows <= 0 || columns <= 0) return;
  std::vector<double> values(static_cast<size_t>(columns > rows ? columns : rows));
  KLGETOBJ(values.data(), 0, columns - 1);
  KLGETBDL(values.data(), 0, columns - 1);
  KLGETBDU(values.data(), 0, columns - 1);
  KLGETRHS(values.data(), 0, rows - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  klfuzz::Scratch::instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  klfuzz::Scratch& scratch = klfuzz::Scratch::instance();
  scratch.clear();
  const std::string file = scratch.write(std::string("input") + KLSOL_FUZZ_EXTENSION, data, size);
  klfuzz::Session session;
  if (KLINPUT(file.c_str()) == KL_STATUS_OK) query_loaded_problem();
  return 0;
}
