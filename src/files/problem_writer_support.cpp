#include "files/problem_writer_support.h"

#include <charconv>
#include <cstring>

#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr int32_t kNameChars = 8;

std::string trimmed(const char* text, std::size_t n) {
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
  return std::string(text, n);
}

}  // namespace

double inverse_scale_of(int32_t p, bool stored) {
  if (stored) return 1.0;
  const int32_t e = scale_exponent(int_array(ARR_POS_STATUS)[p]);
  return scale_powers[static_cast<std::size_t>(2 * kScaleBias - e)];
}

double scale_of(int32_t p, bool stored) {
  if (stored) return 1.0;
  const int32_t e = scale_exponent(int_array(ARR_POS_STATUS)[p]);
  return scale_powers[static_cast<std::size_t>(e)];
}

bool writing_presolved_problem() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

std::string position_name(int32_t p) {
  int32_t slot = p;
  if (writing_presolved_problem()) {
    OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
    if (map) slot = map[p] != 0 ? map[p] : p + original_problem.first_col - store.first_col;
  }
  const void* block = array_cells[ARR_NAME_TABLE];
  const int64_t length = static_cast<int64_t>(kNameChars) * name_words;
  if (block == nullptr || slot < 1 || slot * length > block_words(block) * 4) return std::string();
  return trimmed(static_cast<const char*>(block) + (slot - 1) * length, static_cast<std::size_t>(length));
}

std::string set_name(int32_t s) {
  const void* block = array_cells[ARR_SET_NAME];
  if (block == nullptr || s < 1 || int64_t{s} * kNameChars > block_words(block) * 4) return std::string();
  return trimmed(static_cast<const char*>(block) + static_cast<int64_t>(s - 1) * kNameChars, kNameChars);
}

std::string round_trip_number(double x) {
  if (x == 0.0) return "0";
  char buffer[64];
  const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, r.ptr);
}

double written_objective_constant() {
  double constant = dcv(kObjectiveConstantSlot);
  if (writing_presolved_problem()) constant += dcv(kSecondObjectiveConstantSlot);
  return constant;
}

void WrittenNames::build(const std::vector<std::string>& names, Acceptable acceptable, Rewrite rewrite) {
  written_.assign(names.size(), std::string());
  rewritten_ = 0;
  first_rewritten_.clear();
  std::unordered_set<std::string> taken;
  std::vector<std::size_t> pending;
  for (std::size_t k = 0; k < names.size(); ++k) {
    // A name given twice is rewritten the second time: a file that names
    // two rows alike cannot be read back.
    if (acceptable(names[k]) && taken.insert(names[k]).second) {
      written_[k] = names[k];
    } else {
      pending.push_back(k);
    }
  }
  for (const std::size_t k : pending) {
    const std::string base = rewrite(names[k]);
    std::string name = base;
    for (int32_t n = 1; !taken.insert(name).second; ++n) name = base + "~" + std::to_string(n);
    written_[k] = name;
    if (rewritten_++ == 0) first_rewritten_ = names[k];
  }
}

void report_rewritten_names(int32_t count, const std::string& first) {
  if (count <= 0) return;
  begin_message(MSG_WRITER_NAMES_REWRITTEN);
  insert_message_int(count);
  insert_message_string(first.empty() ? "(blank)" : first.c_str());
  emit_message();
}

}  // namespace kl
