// Queries on the loaded problem and the presolve protection marks.
#include "api/export_frame.h"
#include "klsol32.h"
#include "problem/queries.h"

namespace {

using ValueGetter = void (*)(double*, int32_t, int32_t, int32_t);

int32_t get_values(ValueGetter body, double* values, int32_t first, int32_t last, int32_t mode) {
  if (kl::refused_before_start()) return kl::status_code;
  body(values, first, last, mode);
  return kl::status_code;
}

using MatrixGetter = void (*)(int32_t*, int32_t*, double*, int32_t, int32_t*, int32_t, int32_t, int32_t);

int32_t get_matrix(MatrixGetter body, int32_t* starts, int32_t* indices, double* values, int32_t size,
                   int32_t* count, int32_t first, int32_t last, int32_t mode) {
  if (kl::refused_before_start()) return kl::status_code;
  body(starts, indices, values, size, count, first, last, mode);
  return kl::status_code;
}

}  // namespace

extern "C" {

KLAPI int32_t KLGETOBJ(double* values, int32_t first, int32_t last) {
  return get_values(kl::getobj, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETRHS(double* values, int32_t first, int32_t last) {
  return get_values(kl::getrhs, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETRNG(double* values, int32_t first, int32_t last) {
  return get_values(kl::getrng, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETBDL(double* values, int32_t first, int32_t last) {
  return get_values(kl::getbdl, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETBDU(double* values, int32_t first, int32_t last) {
  return get_values(kl::getbdu, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLIGETOBJ(double* values, int32_t first, int32_t last) {
  return get_values(kl::getobj, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETRHS(double* values, int32_t first, int32_t last) {
  return get_values(kl::getrhs, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETRNG(double* values, int32_t first, int32_t last) {
  return get_values(kl::getrng, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETBDL(double* values, int32_t first, int32_t last) {
  return get_values(kl::getbdl, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETBDU(double* values, int32_t first, int32_t last) {
  return get_values(kl::getbdu, values, first, last, kl::QUERY_STORED_FORM);
}

KLAPI int32_t KLGETCOLS(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count, int32_t first,
                        int32_t last) {
  return get_matrix(kl::getcols, starts, rows, values, size, count, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLIGETCOLS(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count,
                         int32_t first, int32_t last) {
  return get_matrix(kl::getcols, starts, rows, values, size, count, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLGETROWS(int32_t* starts, int32_t* cols, double* values, int32_t size, int32_t* count, int32_t first,
                        int32_t last) {
  return get_matrix(kl::getrows, starts, cols, values, size, count, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLIGETROWS(int32_t* starts, int32_t* cols, double* values, int32_t size, int32_t* count,
                         int32_t first, int32_t last) {
  return get_matrix(kl::getrows, starts, cols, values, size, count, first, last, kl::QUERY_STORED_FORM);
}

KLAPI int32_t KLGETROWTYPE(char* types, int32_t first, int32_t last) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getrowtype(types, first, last);
  return kl::status_code;
}

KLAPI int32_t KLGETCOLTYPE(char* types, int32_t first, int32_t last) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getcoltype(types, first, last);
  return kl::status_code;
}

KLAPI int32_t KLGETNAMES(int32_t type, char* names, int32_t first, int32_t last) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getnames(type, names, first, last);
  return kl::status_code;
}

KLAPI int32_t KLGETINDEX(int32_t type, const char* name, int32_t* index) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::find_name_index(type, name, index);
  return kl::status_code;
}

KLAPI int32_t KLGETQOBJ(int32_t col1, int32_t col2, double* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::get_qobj(col1, col2, value);
  return kl::status_code;
}

KLAPI int32_t KLGETGLOBAL(int32_t* nentities, int32_t* nsets, char* entity_types, int32_t* entity_columns,
                          double* entity_limits, char* set_types, int32_t* set_starts, int32_t* set_columns,
                          double* set_refs) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::get_global_types(nentities, nsets, entity_types, set_types);
  if (kl::status_code == kl::STATUS_OK)
    kl::get_global_arrays(entity_columns, entity_limits, set_starts, set_columns, set_refs);
  return kl::status_code;
}

KLAPI int32_t KLGETMAP(int32_t* positions) {
  if (!kl::refused_before_start()) kl::get_position_map(positions);
  return 0;
}

KLAPI int32_t KLGETRCLASS(int32_t* classes) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::get_row_class(classes);
  return kl::status_code;
}

KLAPI int32_t KLSETPFLAG(int32_t nrows, int32_t ncols, const int32_t* rows, const int32_t* cols) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::prevecs(nrows, ncols, rows, cols);
  return kl::status_code;
}

}  // extern "C"
