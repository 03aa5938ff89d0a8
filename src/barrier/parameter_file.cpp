#include "barrier/parameter_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "klsol/message_ids.h"
#include "runtime/messages.h"

namespace kl {

namespace {

enum class KeyKind { Int, Double, SMethod1, SMethod2, SPasses1, SPasses2, IterLog };

// Keys whose meaning the other routines give only for a sign or a small set
// keep ranges that leave every documented value in place; the ranges exist
// to keep out what no routine can use: negative tolerances and sizes, damping
// factors above 1, infinities, and packed values that would spill into the
// neighbouring field of their word.
constexpr double kHuge = 1e30;
constexpr double kIntTop = 2147483647.0;

struct KeyEntry {
  const char* name;
  KeyKind kind;
  int32_t barrier_params::*int_field;
  double barrier_params::*double_field;
  double low;
  double high;
};

constexpr KeyEntry int_key(const char* name, int32_t barrier_params::*field, double low, double high) {
  return {name, KeyKind::Int, field, nullptr, low, high};
}
constexpr KeyEntry double_key(const char* name, double barrier_params::*field, double low, double high) {
  return {name, KeyKind::Double, nullptr, field, low, high};
}
constexpr KeyEntry packed_key(const char* name, KeyKind kind, double high) {
  return {name, kind, nullptr, nullptr, 0.0, high};
}

using P = barrier_params;

const KeyEntry kKeys[] = {
    int_key("ORDERING", &P::ORDERING, -1, 3),
    int_key("POSTORDER", &P::POSTORDER, 0, 2),
    int_key("PSUPNODE", &P::PSUPNODE, 0, kIntTop),
    int_key("SSUPNODE", &P::SSUPNODE, 0, kIntTop),
    int_key("NUMPROC", &P::NUMPROC, 1, 1024),
    int_key("L1_CACHE", &P::L1_CACHE, -1, 1048576),
    int_key("L2_CACHE", &P::L2_CACHE, -1, 1048576),
    int_key("PUSHFACT", &P::PUSHFACT, 0, 1024),
    int_key("SUPFILL", &P::SUPFILL, 0, 10000),
    int_key("L1_LOOP", &P::L1_LOOP, 0, 1024),
    int_key("L2_LOOP", &P::L2_LOOP, 0, 1024),
    double_key("L1_SPEED", &P::L1_SPEED, 0, kHuge),
    double_key("TSDIR", &P::TSDIR, 0, 1),
    double_key("TOPT1", &P::TOPT1, 0, 1),
    double_key("TOPT2", &P::TOPT2, 0, 1),
    double_key("TFEAS1", &P::TFEAS1, 0, kHuge),
    double_key("TFEAS2", &P::TFEAS2, 0, kHuge),
    double_key("INFTOL", &P::INFTOL, 0, kHuge),
    int_key("MAXITER", &P::MAXITER, 0, kIntTop),
    double_key("TPLUS", &P::TPLUS, 0, 1),
    double_key("TZER", &P::TZER, 0, 1e-6),
    double_key("TRES1", &P::TRES1, 0, kHuge),
    double_key("TRES2", &P::TRES2, 0, kHuge),
    int_key("MAXREF", &P::MAXREF, -1000, 1000),
    int_key("REFMET", &P::REFMET, 0, 255),
    double_key("OBJNORM", &P::OBJNORM, 0, kHuge),
    double_key("RHSNORM", &P::RHSNORM, 0, kHuge),
    // A negative SIGNORE would count zero entries, whose logarithm is -inf.
    double_key("SIGNORE", &P::SIGNORE, 0, 1),
    double_key("STOPCOR", &P::STOPCOR, 0, kHuge),
    double_key("BARSET", &P::BARSET, 0, kHuge),
    double_key("BARGROW", &P::BARGROW, 0, kHuge),
    double_key("BARMIN", &P::BARMIN, 0, kHuge),
    double_key("INIBARR", &P::INIBARR, 0, kHuge),
    int_key("MINCORR", &P::MINCORR, -1, 1000),
    int_key("MAXCORR", &P::MAXCORR, 0, 1000),
    int_key("MINCCORR", &P::MINCCORR, 0, 1000),
    int_key("MAXCCORR", &P::MAXCCORR, -1000, 1000),
    double_key("TARGET", &P::TARGET, 0, kHuge),
    double_key("TSMALL", &P::TSMALL, 0, kHuge),
    double_key("TLARGE", &P::TLARGE, 0, kHuge),
    double_key("CENTER", &P::CENTER, 0, kHuge),
    double_key("CORSTOP", &P::CORSTOP, 0, kHuge),
    // A damping above 1 would step past the boundary of the positive orthant.
    double_key("PRDARE", &P::PRDARE, 0, 1),
    double_key("DUDARE", &P::DUDARE, 0, 1),
    double_key("TFIXVAR", &P::TFIXVAR, 0, kHuge),
    double_key("TFIXSLACK", &P::TFIXSLACK, 0, kHuge),
    double_key("DSLACKLIM", &P::DSLACKLIM, 0, kHuge),
    double_key("PRMIN", &P::PRMIN, 0, kHuge),
    double_key("UPMAX", &P::UPMAX, 0, kHuge),
    double_key("DUMIN", &P::DUMIN, 0, kHuge),
    double_key("LSQWEIGHT", &P::LSQWEIGHT, 0, kHuge),
    int_key("SMETHOD", &P::SMETHOD, -1000, 1000),
    int_key("SAFEMET", &P::SAFEMET, -1000, 1000),
    int_key("PRESOLV", &P::PRESOLV, 0, 65535),
    double_key("SOFTREG", &P::SOFTREG, -kHuge, kHuge),
    double_key("HARDREG", &P::HARDREG, -kHuge, kHuge),
    double_key("SCFREE", &P::SCFREE, 0, kHuge),
    double_key("SCEQU", &P::SCEQU, -kHuge, kHuge),
    int_key("REGULARIZE", &P::REGULARIZE, 0, 65535),
    double_key("MAXDENSE", &P::MAXDENSE, 0, 1),
    double_key("DENSGAP", &P::DENSGAP, 0, kHuge),
    int_key("SETLAM", &P::SETLAM, -1000, 1000),
    int_key("DENSLEN", &P::DENSLEN, 0, kIntTop),
    double_key("PRESFEAS", &P::PRESFEAS, 0, kHuge),
    double_key("PRIMALBND", &P::PRIMALBND, 0, kHuge),
    double_key("DUALBND", &P::DUALBND, 0, kHuge),
    double_key("PIVRTOL", &P::PIVRTOL, 0, 1),
    double_key("PIVATOL", &P::PIVATOL, 0, kHuge),
    double_key("FILLTOL", &P::FILLTOL, 0, kHuge),
    double_key("PIVXTOL", &P::PIVXTOL, 0, kHuge),
    int_key("DULOOP", &P::DULOOP, 0, kIntTop),
    int_key("BNDLOOP", &P::BNDLOOP, 0, kIntTop),
    double_key("MINSTEP", &P::MINSTEP, 0, 1),
    double_key("COMPLMIN", &P::COMPLMIN, 0, kHuge),
    double_key("TPIV1", &P::TPIV1, 0, 1),
    double_key("TPIV2", &P::TPIV2, 0, 1),
    double_key("TABS", &P::TABS, 0, kHuge),
    double_key("TRABS", &P::TRABS, 0, kHuge),
    double_key("LAM", &P::LAM, -kIntTop, kHuge),
    int_key("TFIND", &P::TFIND, 0, kIntTop),
    int_key("SUPDENS", &P::SUPDENS, 0, kIntTop),
    // SMETHOD1 and SPASSES1 fill the low byte of their word; setting them
    // keeps only bits 8 to 14 of the other half, so the high halves stay
    // below 128 to survive a later low-half key.
    packed_key("SMETHOD1", KeyKind::SMethod1, 255),
    packed_key("SMETHOD2", KeyKind::SMethod2, 127),
    packed_key("SPASSES1", KeyKind::SPasses1, 255),
    packed_key("SPASSES2", KeyKind::SPasses2, 127),
    // Only bits 0x1fc of the value reach `print_word`; its one rule is that
    // 0 and below are ignored.
    {"ITERLOG", KeyKind::IterLog, nullptr, nullptr, -kIntTop - 1, kIntTop},
};

static_assert(sizeof kKeys / sizeof kKeys[0] == 86, "the parameter file has 86 keys");

const KeyEntry* find_key(const char* name) {
  for (const KeyEntry& k : kKeys) {
    if (std::strcmp(k.name, name) == 0) return &k;
  }
  return nullptr;
}

struct Reader {
  const char* file_name;
  int32_t line_number = 0;
};

void begin_line_message(const Reader& r, int32_t message) {
  begin_message(message);
  insert_message_chars(r.file_name, static_cast<int32_t>(std::strlen(r.file_name)));
  insert_message_int(r.line_number);
}

void report_key(const Reader& r, int32_t message, const char* key) {
  begin_line_message(r, message);
  insert_message_chars(key, static_cast<int32_t>(std::strlen(key)));
  emit_message();
}

void report_limited(const Reader& r, const char* key, double value) {
  begin_line_message(r, MSG_BARRIER_PARAM_CLAMPED);
  insert_message_chars(key, static_cast<int32_t>(std::strlen(key)));
  insert_message_real(value);
  emit_message();
}

// Reads one line into `text`: the first 80 characters before any "!", with
// "=" turned into a blank. Returns false when the line ended the file.
bool read_line(std::FILE* file, std::string& text) {
  text.clear();
  bool storing = true;
  for (;;) {
    const int c = std::fgetc(file);
    if (c == EOF) return false;
    if (c == '\n') return true;
    if (c == '!') storing = false;
    if (storing && static_cast<int32_t>(text.size()) < kBarrierParameterLineLimit) {
      text.push_back(c == '=' ? ' ' : static_cast<char>(c));
    }
  }
}

bool is_blank(char c) { return std::strchr(" \t\r\v\f", c) != nullptr && c != '\0'; }

// Splits off the first two words of `text`.
void split_words(const std::string& text, std::string& key, std::string& value) {
  key.clear();
  value.clear();
  size_t i = 0;
  for (std::string* word : {&key, &value}) {
    while (i < text.size() && is_blank(text[i])) ++i;
    while (i < text.size() && !is_blank(text[i])) word->push_back(text[i++]);
  }
}

// The number a value stands for: YES and NO, else the longest leading text
// that reads as a decimal number once d and D have become e. False when no
// leading text is a number, or the number read is NaN.
bool value_number(std::string value, double& number) {
  if (value == "YES") {
    number = 1.0;
    return true;
  }
  if (value == "NO") {
    number = 0.0;
    return true;
  }
  for (char& c : value) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  char* end = nullptr;
  number = std::strtod(value.c_str(), &end);
  return end != value.c_str() && !std::isnan(number);
}

// Applies one key. False when the value cannot be used at all (the line is
// then ignored); a value outside the key's range is limited and reported.
bool apply_key(const Reader& r, barrier_params& params, const KeyEntry& key, double number) {
  if (key.kind == KeyKind::Double) {
    double v = number;
    if (v < key.low || v > key.high) {
      v = v < key.low ? key.low : key.high;
      report_limited(r, key.name, v);
    }
    params.*key.double_field = v;
    return true;
  }
  // An int key takes the number truncated toward zero; a number that does
  // not truncate into an int has no int value to take.
  const double truncated = std::trunc(number);
  if (!(truncated >= -kIntTop - 1 && truncated <= kIntTop)) return false;
  if (key.kind == KeyKind::IterLog && number <= 0.0) return true;
  double t = truncated;
  if (t < key.low || t > key.high) {
    t = t < key.low ? key.low : key.high;
    report_limited(r, key.name, t);
  }
  const int32_t v = static_cast<int32_t>(t);
  switch (key.kind) {
    case KeyKind::Int: params.*key.int_field = v; break;
    case KeyKind::SMethod1: params.scaling_methods = (params.scaling_methods & 0x7f00) | v; break;
    case KeyKind::SMethod2: params.scaling_methods = (v << 8) | (params.scaling_methods & 255); break;
    case KeyKind::SPasses1: params.scaling_passes = (params.scaling_passes & 0x7f00) | v; break;
    case KeyKind::SPasses2: params.scaling_passes = (v << 8) | (params.scaling_passes & 255); break;
    case KeyKind::IterLog:
      // Bits 0x1fc come from the key, bits 0x3 keep the level (1 when the
      // word was not yet positive).
      params.print_word = (v & 0x1fc) + (params.print_word > 0 ? (params.print_word & 3) : 1);
      break;
    case KeyKind::Double: break;
  }
  return true;
}

}  // namespace

bool barrier_parameter_range(const char* key, double& low, double& high) {
  const KeyEntry* k = find_key(key);
  if (k == nullptr) return false;
  low = k->low;
  high = k->high;
  return true;
}

void read_barrier_parameter_file(barrier_params& params, const char* file_name) {
  if (file_name == nullptr) return;
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) return;
  Reader r{file_name};
  bool in_section = false;
  std::string text, key, value;
  for (bool more = true; more;) {
    more = read_line(file, text);
    ++r.line_number;
    split_words(text, key, value);
    if (key.empty()) continue;
    if (!in_section) {
      in_section = key == "BEGIN_OPT";
      continue;
    }
    if (key == "END_OPT") break;
    const KeyEntry* entry = find_key(key.c_str());
    if (entry == nullptr) {
      report_key(r, MSG_BARRIER_PARAM_UNKNOWN_KEY, key.c_str());
      continue;
    }
    // A key without a value is ignored rather than given the value of an
    // earlier line.
    if (value.empty()) {
      report_key(r, MSG_BARRIER_PARAM_NO_VALUE, entry->name);
      continue;
    }
    double number = 0.0;
    if (!value_number(value, number) || !apply_key(r, params, *entry, number)) {
      report_key(r, MSG_BARRIER_PARAM_BAD_VALUE, entry->name);
    }
  }
  std::fclose(file);
}

}  // namespace kl
