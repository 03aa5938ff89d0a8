// Control tables: start-up values, the reset to defaults, and the bodies of
// the control and attribute get/set exports.
#include "runtime/controls.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

int32_t integer_controls[kIntControlCount + 1];
double double_controls[kDoubleStoreSize + 1];
char character_controls[kCharControlCount + 1][8];
int32_t integer_set_flags[kIntControlCount + 1];
int32_t double_set_flags[kDoubleControlCount + 1];
int32_t character_set_flags[kCharControlCount + 1];
ControlNameLists control_name_lists;
int32_t integer_attributes[kIntAttributeCount + 1];
int32_t barrier_int_attributes[6];
double barrier_double_attributes[6];
char character_attributes[6][8];

namespace {

// The one control that start-up makes unsettable.
constexpr int kLockedIntControl = 66;
constexpr int32_t kLockedFlag = -2;

constexpr int kFirstIntAttribute = 1001;
constexpr int kLastIntAttribute = 1000 + kIntAttributeCount;
constexpr int kFirstBarrierAttribute = 3001;
constexpr int kLastBarrierAttribute = 3005;
constexpr int kFirstDoubleAttribute = 2001;
constexpr int kLastDoubleAttribute = 2008;
constexpr int kFirstBarrierDoubleAttribute = 4001;
constexpr int kLastBarrierDoubleAttribute = 4005;
// Attribute 2001 is double_controls[OBJVAL]; the rest follow in order.
constexpr int kDoubleAttributeBase = dc::OBJVAL - kFirstDoubleAttribute;

constexpr int kAttrNrow = 1001;
constexpr int kAttrNseq = 1002;
constexpr int kAttrColumns = 1018;
constexpr int kAttrSpareRows = 1019;
constexpr int kAttrErrorNumber = 1023;
constexpr int kAttrStatus = 1025;

constexpr double kInfinity = 1e20;
constexpr const char kVersionControl[8] = {' ', ' ', '1', '2', '.', '3', '5', ' '};

// Backing storage of control_name_lists.
std::string integer_name_storage;
std::string double_name_storage;
std::string character_name_storage;

int32_t& int_attribute_cell(int n) { return integer_attributes[n - 1000]; }

void set_character_startup(int n) {
  if (n == cc::VERSION) {
    std::memcpy(character_controls[n], kVersionControl, 8);
  } else if (n == cc::ASCMSK) {
    std::memset(character_controls[n], '?', 8);
  } else {
    std::memset(character_controls[n], ' ', 8);
  }
}

// Integer controls KLSETDEFAULT leaves alone: the capacities the readers
// raise (M_R, M_C, M_M, NGEMAX, M_S, M_Q, NSETMX, MXANOD), the output level,
// the version block 61..66, the cut strategy block, and the two that only
// start-up stores.
bool kept_by_defaults_int(int n) {
  switch (n) {
    case ic::M_R: case ic::M_C: case ic::M_M: case ic::NGEMAX: case ic::MXANOD:
    case ic::IFPMSG: case ic::M_S: case ic::INOINV: case ic::IFNBAS:
    case ic::LOCAL: case ic::M_Q: case ic::NSETMX:
      return true;
    default:
      break;
  }
  return (n >= ic::VERNO && n <= kLockedIntControl) || (n >= ic::CUT1 && n <= ic::LDGLOB);
}

bool kept_by_defaults_double(int n) {
  return n == dc::VALCUT || n == dc::CUTOFF || n == dc::PENLTY || (n >= dc::DSP001 && n <= dc::DSP005);
}

// Words in control order, each ended by NUL, the list ended by an empty word.
template <class NameOf>
void build_name_list(std::string& storage, int count, NameOf name_of) {
  storage.clear();
  for (int n = 1; n <= count; ++n) {
    storage += name_of(n);
    storage += '\0';
  }
  storage += '\0';
}

// Copies an 8-character blank-padded word into out without its trailing
// blanks, NUL-terminated (out holds 9 bytes).
void copy_trimmed(const char* word, char* out) {
  int len = 8;
  while (len > 0 && word[len - 1] == ' ') --len;
  std::memcpy(out, word, static_cast<size_t>(len));
  out[len] = '\0';
}

// A value the control cannot take: the error report's three words, then
// the message naming the control and the value.
void refuse_control_value(int32_t message, int32_t n, const std::string& setting, const std::string& allowed) {
  error_number = message;
  error_value = n;
  status_code = STATUS_REPORTED;
  emit_control_value_refusal(message, setting, allowed);
}

std::string real_text(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", x);
  return text;
}

void refuse_unsettable() {
  error_number = MSG_CONTROL_NOT_SETTABLE;
  status_code = STATUS_REPORTED;
  begin_message(MSG_CONTROL_NOT_SETTABLE);
  emit_message();
}

// Range check shared by the bodies; true when n is usable.
bool control_in_range(int32_t n, int count, const char* routine_name) {
  if (n >= 1 && n <= count) return true;
  report_error(MSG_BAD_CONTROL_NUMBER, n, routine_name);
  return false;
}

bool argument_present(const void* p, int32_t n, const char* routine_name) {
  if (p != nullptr) return true;
  report_error(MSG_NULL_ARGUMENT, n, routine_name);
  return false;
}

}  // namespace

void set_control_startup_values() {
  for (int n = 1; n <= kIntControlCount; ++n) {
    integer_controls[n] = kIntControlInfo[n].startup;
    integer_set_flags[n] = 0;
  }
  integer_set_flags[kLockedIntControl] = kLockedFlag;
  for (int n = 1; n <= kDoubleControlCount; ++n) {
    double_controls[n] = kDoubleControlInfo[n].startup;
    double_set_flags[n] = 0;
  }
  double_controls[dc::SENSE_FACTOR] = 1.0;
  double_controls[dc::PLUS_INFINITY] = kInfinity;
  double_controls[dc::MINUS_INFINITY] = -kInfinity;
  double_controls[dc::PLUS_INFINITY_2] = kInfinity;
  for (int n = 1; n <= kCharControlCount; ++n) {
    set_character_startup(n);
    character_set_flags[n] = 0;
  }

  build_name_list(integer_name_storage, kIntControlCount, [](int n) { return kIntControlInfo[n].name; });
  build_name_list(double_name_storage, kDoubleControlCount, [](int n) { return kDoubleControlInfo[n].name; });
  build_name_list(character_name_storage, kCharControlCount, [](int n) { return kCharControlNames[n]; });
  control_name_lists.integer_names = integer_name_storage.data();
  control_name_lists.double_names = double_name_storage.data();
  control_name_lists.character_names = character_name_storage.data();
}

void set_search_control_defaults() {
  integer_controls[ic::MAXNBF] = kIntControlInfo[ic::MAXNBF].startup;
  for (int n = ic::LOCAL; n <= ic::LDGLOB; ++n) integer_controls[n] = kIntControlInfo[n].startup;
  double_controls[dc::VALCUT] = kDoubleControlInfo[dc::VALCUT].startup;
}

void set_control_defaults() {
  for (int n = 1; n <= kCharControlCount; ++n) character_set_flags[n] = 0;
  for (int n = 1; n <= kDoubleControlCount; ++n) double_set_flags[n] = 0;
  for (int n = 1; n <= kIntControlCount; ++n) {
    if (n == ic::M_R || n == ic::M_C || n == ic::M_M || n == ic::NGEMAX) continue;
    integer_set_flags[n] = 0;
  }
  integer_set_flags[kLockedIntControl] = kLockedFlag;

  clear_option_letters();

  for (int n = 1; n <= kIntControlCount; ++n) {
    if (!kept_by_defaults_int(n)) integer_controls[n] = kIntControlInfo[n].startup;
  }
  for (int n = 1; n <= kDoubleControlCount; ++n) {
    if (!kept_by_defaults_double(n)) double_controls[n] = kDoubleControlInfo[n].startup;
  }
  for (int n = 1; n < cc::VERSION; ++n) set_character_startup(n);
  double_controls[dc::DINTSL] = 0.0;
  double_controls[dc::SENSE_FACTOR] = 1.0;

  reset_problem_name();
}

void geticv(int32_t n, int32_t* out) {
  begin_body();
  if (!control_in_range(n, kIntControlCount, routine::kGeticv)) return;
  if (!argument_present(out, n, routine::kGeticv)) return;
  *out = integer_controls[n];
}

void getdcv(int32_t n, double* out) {
  begin_body();
  if (!control_in_range(n, kDoubleControlCount, routine::kGetdcv)) return;
  if (!argument_present(out, n, routine::kGetdcv)) return;
  *out = double_controls[n];
}

void getccv(int32_t n, char* out) {
  begin_body();
  if (!control_in_range(n, kCharControlCount, routine::kGetccv)) return;
  if (!argument_present(out, n, routine::kGetccv)) return;
  copy_trimmed(character_controls[n], out);
}

void seticv(int32_t n, int32_t value) {
  begin_body();
  if (!control_in_range(n, kIntControlCount, routine::kSeticv)) return;
  if (integer_set_flags[n] < 0) {
    refuse_unsettable();
    return;
  }
  std::string allowed;
  if (const int32_t message = check_int_control_value(n, value, allowed)) {
    refuse_control_value(message, n, std::string(kIntControlInfo[n].name) + "=" + std::to_string(value), allowed);
    return;
  }
  integer_set_flags[n] = 1;
  integer_controls[n] = value;
}

void setdcv(int32_t n, double value) {
  begin_body();
  if (!control_in_range(n, kDoubleControlCount, routine::kSetdcv)) return;
  if (double_set_flags[n] < 0) {
    refuse_unsettable();
    return;
  }
  std::string allowed;
  if (const int32_t message = check_double_control_value(n, value, allowed)) {
    refuse_control_value(message, n, std::string(kDoubleControlInfo[n].name) + "=" + real_text(value), allowed);
    return;
  }
  double_set_flags[n] = 1;
  double_controls[n] = value;
}

void setccv(int32_t n, const char* text) {
  begin_body();
  if (!control_in_range(n, kCharControlCount, routine::kSetccv)) return;
  if (!argument_present(text, n, routine::kSetccv)) return;
  if (character_set_flags[n] < 0) {
    refuse_unsettable();
    return;
  }
  character_set_flags[n] = 1;
  const size_t len = strnlen(text, 8);
  std::memset(character_controls[n], ' ', 8);
  std::memcpy(character_controls[n], text, len);
}

void getipv(int32_t n, int32_t* out) {
  // The copies come first so that a caller can read the outcome of the
  // previous call before this one clears it.
  int_attribute_cell(kAttrErrorNumber) = error_number;
  int_attribute_cell(kAttrStatus) = status_code;
  int_attribute_cell(kAttrColumns) =
      int_attribute_cell(kAttrNseq) - int_attribute_cell(kAttrNrow) - int_attribute_cell(kAttrSpareRows);
  begin_body();
  int32_t* cell = nullptr;
  if (n >= kFirstIntAttribute && n <= kLastIntAttribute) {
    cell = &int_attribute_cell(n);
  } else if (n >= kFirstBarrierAttribute && n <= kLastBarrierAttribute) {
    cell = &barrier_int_attributes[n - 3000];
  } else {
    report_error(MSG_BAD_CONTROL_NUMBER, n, routine::kGetipv);
    return;
  }
  if (!argument_present(out, n, routine::kGetipv)) return;
  *out = *cell;
}

void getdpv(int32_t n, double* out) {
  begin_body();
  double* cell = nullptr;
  if (n >= kFirstDoubleAttribute && n <= kLastDoubleAttribute) {
    cell = &double_controls[n + kDoubleAttributeBase];
  } else if (n >= kFirstBarrierDoubleAttribute && n <= kLastBarrierDoubleAttribute) {
    cell = &barrier_double_attributes[n - 4000];
  } else {
    report_error(MSG_BAD_CONTROL_NUMBER, n, routine::kGetdpv);
    return;
  }
  if (!argument_present(out, n, routine::kGetdpv)) return;
  *out = *cell;
}

void getcpv(int32_t n, char* out) {
  begin_body();
  if (n < kFirstBarrierAttribute || n > kLastBarrierAttribute) {
    report_error(MSG_BAD_CONTROL_NUMBER, n, routine::kGetcpv);
    return;
  }
  if (!argument_present(out, n, routine::kGetcpv)) return;
  copy_trimmed(character_attributes[n - 3000], out);
}

}  // namespace kl
