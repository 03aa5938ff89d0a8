// The cut-manager interface: cuts and bounds a caller adds, lists, reads,
// loads, removes and attaches to a branch during the global search.
#include <vector>

#include "api/export_frame.h"
#include "global/cut_interface.h"
#include "global/cut_rows.h"
#include "klsol32.h"
#include "problem/cut_store.h"
#include "runtime/controls.h"

extern "C" {

KLAPI int32_t KLADDCUTS(int32_t n, const int32_t* type, const char* sense, const double* rhs, const int32_t* start,
                        const int32_t* columns, const double* coefficients) {
  return kl::run_export(__func__, [&] { kl::addcut(n, type, sense, rhs, start, columns, coefficients); });
}

KLAPI int32_t KLSTORECUTS(int32_t n, int32_t duplicate_mode, const int32_t* type, const char* sense,
                          const double* rhs, const int32_t* start, int32_t* index_out, const int32_t* columns,
                          const double* coefficients) {
  return kl::run_export(__func__, [&] {
    kl::begin_body();
    if (!kl::check_storecut_arguments(n, type, sense, rhs, start, index_out, columns, coefficients) || n == 0)
      return;
    // Cuts without elements may come without element arrays: they then
    // read from a placeholder, their starts moved onto it.
    if (columns == nullptr || coefficients == nullptr) {
      static const int32_t no_columns[1] = {0};
      static const double no_coefficients[1] = {0.0};
      const std::vector<int32_t> starts(static_cast<size_t>(n) + 1, 1 - kl::icv(kl::ic::IFDBG));
      kl::storecut(n, duplicate_mode, type, sense, rhs, starts.data(), index_out, no_columns, no_coefficients, 0);
      return;
    }
    kl::storecut(n, duplicate_mode, type, sense, rhs, start, index_out, columns, coefficients, 0);
  });
}

KLAPI int32_t KLLOADCUTS(int32_t type, int32_t rule, int32_t count, const int32_t* list) {
  return kl::run_export(__func__, [&] {
    kl::begin_body();
    if (!kl::check_cut_list_arguments(count, list, kl::routine::kLoadcut)) return;
    // For the caller every rule other than 1, 2 and 3 means every cut; the
    // library's own restore rule is not the caller's to ask for.
    if (rule == kl::CUT_RULE_RESTORE) rule = 0;
    kl::loadcut(type, rule, count, list, kl::LOAD_CALLER_LIST);
  });
}

KLAPI int32_t KLDELCUTS(int32_t keep_binding, int32_t type, int32_t rule, double threshold, int32_t count,
                        const int32_t* list) {
  return kl::run_export(__func__, [&] {
    kl::begin_body();
    if (!kl::check_cut_list_arguments(count, list, kl::routine::kDelcut)) return;
    kl::delcut(keep_binding, type, rule, threshold, count, list);
  });
}

KLAPI int32_t KLDROPCUTS(int32_t type, int32_t rule, int32_t count, const int32_t* list) {
  return kl::run_export(__func__, [&] { kl::dropcut(type, rule, count, list); });
}

KLAPI int32_t KLGETCNLIST(int32_t type, int32_t rule, int32_t* count, int32_t capacity, int32_t* list) {
  return kl::run_export(__func__, [&] { kl::list_lp_cuts(type, rule, count, capacity, list); });
}

KLAPI int32_t KLGETCMLIST(int32_t type, int32_t rule, int32_t* count, int32_t capacity, int32_t* list) {
  return kl::run_export(__func__, [&] { kl::list_lp_cuts(type, rule, count, capacity, list); });
}

KLAPI int32_t KLGETCPLIST(int32_t type, int32_t rule, double tolerance, int32_t* count, int32_t capacity,
                          int32_t* list, double* violation) {
  return kl::run_export(__func__,
                        [&] { kl::list_violated_pool_cuts(type, rule, tolerance, count, capacity, list, violation); });
}

KLAPI int32_t KLGETCUTS(const int32_t* list, int32_t count, int32_t capacity, int32_t* type, char* sense,
                        int32_t* start, int32_t* columns, double* coefficients, double* rhs) {
  return kl::run_export(__func__,
                        [&] { kl::getcuts(list, count, capacity, type, sense, start, columns, coefficients, rhs); });
}

KLAPI int32_t KLSTOREBNDS(int32_t n, const int32_t* columns, const char* letters, const double* values,
                          int32_t* index_out) {
  return kl::run_export(__func__, [&] { kl::storebnd(n, columns, letters, values, index_out); });
}

KLAPI int32_t KLBRANCHCUT(int32_t n, const int32_t* list) {
  return kl::run_export(__func__, [&] { kl::brnchcut(n, list); });
}

KLAPI int32_t KLGETEST(int32_t column, double* up, double* down) {
  return kl::run_export(__func__, [&] { kl::getest(column, up, down); });
}

}  // extern "C"
