// The values each control may take. Most controls accept any value of their
// type; the ones below are read by code that loops until a test against them
// succeeds, adds to them or sizes an allocation or a field by them, and a
// value outside their range hangs, overflows or exhausts memory.
#include <cmath>
#include <cstdint>
#include <string>

#include "klsol/message_ids.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// Tolerances: compared with magnitudes, so a negative one is never met and
// the loops that wait for it run for ever.
bool is_tolerance(int n) {
  switch (n) {
    case dc::ZTOLDA: case dc::ZTOLPV: case dc::ZTOLZE: case dc::ZTOLPZ: case dc::ZTOLST: case dc::ZTCOST:
    case dc::ZTETA: case dc::ZTOLRP: case dc::ZTOLIS: case dc::OPTCA: case dc::OPTCR: case dc::ZCOVER:
    case dc::TOLPIV: case dc::TOLCOMP: case dc::TOLDUAL: case dc::TOLPRIMAL: case dc::TOLIMP: case dc::CTOLX:
    case dc::CTOLZ: case dc::CTOLACC: case dc::CTOLAPIV: case dc::CTOLRPIV: case dc::ZTELIM: case dc::ZTSHFT:
    case dc::ZPETRB: case dc::ZTOLRI: case dc::ZTOLFT: case dc::ZTOLDJ: case dc::ZTOLIP: case dc::ZTOLRC:
    case dc::ZTOLZS: case dc::ZTOLRF: case dc::PVAL: case dc::ZPCOST:
      return true;
    default:
      return false;
  }
}

// Eta file entries M_E may ask for at once (20 bytes each): a start-up
// request above this is a mistake, and the invert still grows the file past
// it when a basis needs more.
constexpr int32_t kLargestEtaRequest = 1 << 27;
// Widest real field and longest name: one message line.
constexpr int32_t kLongestField = 255;

struct IntControlRange {
  int32_t lowest;
  int32_t highest;
};

IntControlRange int_range(int n) {
  switch (n) {
    // Integer bounds up to INTMAX are kept in ints that a branch moves by
    // one beyond the bound; the start-up value is the largest that leaves
    // that room. The iteration limit may be the largest int: the limits
    // derived from it saturate.
    case ic::INTMAX:
      return {INT32_MIN, INT32_MAX - 2};
    case ic::IGNORE:
    case ic::IFPMSG:
      return {INT32_MIN, INT32_MAX - 1};
    // Spare rows, columns, elements and entities are added to the sizes of
    // every load.
    case ic::NRXTRA:
    case ic::NCXTRA:
    case ic::NMXTRA:
    case ic::NGXTRA:
      return {0, INT32_MAX};
    case ic::M_E_:
      return {0, kLargestEtaRequest};
    case ic::LENDBL:
      return {1, kLongestField};
    case ic::NAMLEN:
      return {1, kLongestField};
    default:
      return {INT32_MIN, INT32_MAX};
  }
}

}  // namespace

int32_t check_int_control_value(int n, int32_t value, std::string& allowed) {
  const IntControlRange range = int_range(n);
  if (value >= range.lowest && value <= range.highest) return 0;
  allowed = std::to_string(range.lowest) + " to " + std::to_string(range.highest);
  return MSG_CONTROL_VALUE_OUT_OF_RANGE;
}

int32_t check_double_control_value(int n, double value, std::string& allowed) {
  if (!std::isfinite(value)) return MSG_BAD_REAL_VALUE;
  if (is_tolerance(n) && value < 0.0) {
    allowed = "0 or above";
    return MSG_CONTROL_VALUE_OUT_OF_RANGE;
  }
  return 0;
}

void emit_control_value_refusal(int32_t n, const std::string& setting, const std::string& allowed) {
  begin_message(n);
  insert_message_string(allowed.empty() ? setting.c_str() : (setting + " (allowed: " + allowed + ")").c_str());
  emit_message();
}

}  // namespace kl
