// Loading a problem from the caller's arrays.
#include "api/export_frame.h"
#include "klsol32.h"
#include "problem/loader.h"

namespace {

kl::LoadArguments linear_arguments(const char* name, int32_t ncols, int32_t nrows, const char* row_types,
                                   const double* rhs, const double* ranges, const double* objective,
                                   const int32_t* starts, const int32_t* lengths, const int32_t* rows,
                                   const double* values, const double* lower, const double* upper) {
  kl::LoadArguments call;
  call.name = name;
  call.ncols = ncols;
  call.nrows = nrows;
  call.row_types = row_types;
  call.rhs = rhs;
  call.ranges = ranges;
  call.objective = objective;
  call.starts = starts;
  call.lengths = lengths;
  call.rows = rows;
  call.values = values;
  call.lower = lower;
  call.upper = upper;
  return call;
}

void add_quadratic(kl::LoadArguments& call, int32_t nquad, const int32_t* col1, const int32_t* col2,
                   const double* values) {
  call.quadratic = true;
  call.nquad = nquad;
  call.quad_col1 = col1;
  call.quad_col2 = col2;
  call.quad_values = values;
}

void add_global(kl::LoadArguments& call, int32_t nentities, int32_t nsets, const char* entity_types,
                const int32_t* entity_columns, const double* entity_limits, const char* set_types,
                const int32_t* set_starts, const int32_t* set_columns, const double* set_refs) {
  call.global = true;
  call.nentities = nentities;
  call.nsets = nsets;
  call.entity_types = entity_types;
  call.entity_columns = entity_columns;
  call.entity_limits = entity_limits;
  call.set_types = set_types;
  call.set_starts = set_starts;
  call.set_columns = set_columns;
  call.set_refs = set_refs;
}

}  // namespace

extern "C" {

KLAPI int32_t KLLOADPROB(const char* name, int32_t ncols, int32_t nrows, const char* row_types, const double* rhs,
                         const double* ranges, const double* objective, const int32_t* starts,
                         const int32_t* lengths, const int32_t* rows, const double* values, const double* lower,
                         const double* upper) {
  return kl::run_export(__func__, [&] {
    kl::load_problem(linear_arguments(name, ncols, nrows, row_types, rhs, ranges, objective, starts, lengths, rows,
                                      values, lower, upper));
  });
}

KLAPI int32_t KLLOADQPROB(const char* name, int32_t ncols, int32_t nrows, const char* row_types, const double* rhs,
                          const double* ranges, const double* objective, const int32_t* starts,
                          const int32_t* lengths, const int32_t* rows, const double* values, const double* lower,
                          const double* upper, int32_t nquad, const int32_t* quad_col1, const int32_t* quad_col2,
                          const double* quad_values) {
  return kl::run_export(__func__, [&] {
    kl::LoadArguments call =
        linear_arguments(name, ncols, nrows, row_types, rhs, ranges, objective, starts, lengths, rows, values, lower,
                         upper);
    add_quadratic(call, nquad, quad_col1, quad_col2, quad_values);
    kl::load_problem(call);
  });
}

KLAPI int32_t KLLOADGLOBAL(const char* name, int32_t ncols, int32_t nrows, const char* row_types, const double* rhs,
                           const double* ranges, const double* objective, const int32_t* starts,
                           const int32_t* lengths, const int32_t* rows, const double* values, const double* lower,
                           const double* upper, int32_t nentities, int32_t nsets, const char* entity_types,
                           const int32_t* entity_columns, const double* entity_limits, const char* set_types,
                           const int32_t* set_starts, const int32_t* set_columns, const double* set_refs) {
  return kl::run_export(__func__, [&] {
    kl::LoadArguments call =
        linear_arguments(name, ncols, nrows, row_types, rhs, ranges, objective, starts, lengths, rows, values, lower,
                         upper);
    add_global(call, nentities, nsets, entity_types, entity_columns, entity_limits, set_types, set_starts, set_columns,
               set_refs);
    kl::load_problem(call);
  });
}

KLAPI int32_t KLLOADQGLOBAL(const char* name, int32_t ncols, int32_t nrows, const char* row_types,
                            const double* rhs, const double* ranges, const double* objective,
                            const int32_t* starts, const int32_t* lengths, const int32_t* rows,
                            const double* values, const double* lower, const double* upper, int32_t nquad,
                            const int32_t* quad_col1, const int32_t* quad_col2, const double* quad_values,
                            int32_t nentities, int32_t nsets, const char* entity_types,
                            const int32_t* entity_columns, const double* entity_limits, const char* set_types,
                            const int32_t* set_starts, const int32_t* set_columns, const double* set_refs) {
  return kl::run_export(__func__, [&] {
    kl::LoadArguments call =
        linear_arguments(name, ncols, nrows, row_types, rhs, ranges, objective, starts, lengths, rows, values, lower,
                         upper);
    add_quadratic(call, nquad, quad_col1, quad_col2, quad_values);
    add_global(call, nentities, nsets, entity_types, entity_columns, entity_limits, set_types, set_starts, set_columns,
               set_refs);
    kl::load_problem(call);
  });
}

}  // extern "C"
