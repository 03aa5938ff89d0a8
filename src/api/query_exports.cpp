// Queries on the loaded problem and the presolve protection marks.
#include "api/export_frame.h"
#include "klsol32.h"
#include "problem/queries.h"

namespace {

using ValueGetter = void (*)(double*, int32_t, int32_t, int32_t);

int32_t get_values(const char* export_name, ValueGetter body, double* values, int32_t first, int32_t last,
                   int32_t mode) {
  return kl::run_export(export_name, [&] { body(values, first, last, mode); });
}

using MatrixGetter = void (*)(int32_t*, int32_t*, double*, int32_t, int32_t*, int32_t, int32_t, int32_t);

int32_t get_matrix(const char* export_name, MatrixGetter body, int32_t* starts, int32_t* indices, double* values,
                   int32_t size, int32_t* count, int32_t first, int32_t last, int32_t mode) {
  return kl::run_export(export_name, [&] { body(starts, indices, values, size, count, first, last, mode); });
}

}  // namespace

extern "C" {

KLAPI int32_t KLGETOBJ(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getobj, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETRHS(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getrhs, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETRNG(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getrng, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETBDL(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getbdl, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLGETBDU(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getbdu, values, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLIGETOBJ(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getobj, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETRHS(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getrhs, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETRNG(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getrng, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETBDL(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getbdl, values, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLIGETBDU(double* values, int32_t first, int32_t last) {
  return get_values(__func__, kl::getbdu, values, first, last, kl::QUERY_STORED_FORM);
}

KLAPI int32_t KLGETCOLS(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count, int32_t first,
                        int32_t last) {
  return get_matrix(__func__, kl::getcols, starts, rows, values, size, count, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLIGETCOLS(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count,
                         int32_t first, int32_t last) {
  return get_matrix(__func__, kl::getcols, starts, rows, values, size, count, first, last, kl::QUERY_STORED_FORM);
}
KLAPI int32_t KLGETROWS(int32_t* starts, int32_t* cols, double* values, int32_t size, int32_t* count, int32_t first,
                        int32_t last) {
  return get_matrix(__func__, kl::getrows, starts, cols, values, size, count, first, last, kl::QUERY_CALLER_FORM);
}
KLAPI int32_t KLIGETROWS(int32_t* starts, int32_t* cols, double* values, int32_t size, int32_t* count,
                         int32_t first, int32_t last) {
  return get_matrix(__func__, kl::getrows, starts, cols, values, size, count, first, last, kl::QUERY_STORED_FORM);
}

KLAPI int32_t KLGETROWTYPE(char* types, int32_t first, int32_t last) {
  return kl::run_export(__func__, [&] {
    kl::getrowtype(types, first, last);
  });
}

KLAPI int32_t KLGETCOLTYPE(char* types, int32_t first, int32_t last) {
  return kl::run_export(__func__, [&] {
    kl::getcoltype(types, first, last);
  });
}

KLAPI int32_t KLGETNAMES(int32_t type, char* names, int32_t first, int32_t last) {
  return kl::run_export(__func__, [&] {
    kl::getnames(type, names, first, last);
  });
}

KLAPI int32_t KLGETINDEX(int32_t type, const char* name, int32_t* index) {
  return kl::run_export(__func__, [&] {
    kl::find_name_index(type, name, index);
  });
}

KLAPI int32_t KLGETQOBJ(int32_t col1, int32_t col2, double* value) {
  return kl::run_export(__func__, [&] {
    kl::get_qobj(col1, col2, value);
  });
}

KLAPI int32_t KLGETGLOBAL(int32_t* nentities, int32_t* nsets, char* entity_types, int32_t* entity_columns,
                          double* entity_limits, char* set_types, int32_t* set_starts, int32_t* set_columns,
                          double* set_refs) {
  return kl::run_export(__func__, [&] {
    kl::get_global_types(nentities, nsets, entity_types, set_types);
    if (kl::status_code == kl::STATUS_OK)
      kl::get_global_arrays(entity_columns, entity_limits, set_starts, set_columns, set_refs);
  });
}

KLAPI int32_t KLGETMAP(int32_t* positions) {
  kl::run_export(__func__, [&] { kl::get_position_map(positions); });
  return 0;
}

KLAPI int32_t KLGETRCLASS(int32_t* classes) {
  return kl::run_export(__func__, [&] {
    kl::get_row_class(classes);
  });
}

KLAPI int32_t KLSETPFLAG(int32_t nrows, int32_t ncols, const int32_t* rows, const int32_t* cols) {
  return kl::run_export(__func__, [&] {
    kl::prevecs(nrows, ncols, rows, cols);
  });
}

}  // extern "C"
