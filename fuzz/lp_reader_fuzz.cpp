// Fuzz target of the LP-format reader: the input is an LP file, read by
// KLINPUT in a fresh session.
#include <cstddef>
#include <cstdint>
#include <string>

#include "klsol32.h"
#include "scratch.h"

namespace {

constexpr size_t kMaxInput = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  klfuzz::Scratch::instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  klfuzz::Scratch& scratch = klfuzz::Scratch::instance();
  scratch.clear();
  const std::string file = scratch.write("input.lp", data, size);
  klfuzz::Session session;
  KLINPUT(file.c_str());
  return 0;
}
