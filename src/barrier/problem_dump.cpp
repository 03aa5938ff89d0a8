#include "barrier/problem_dump.h"

#include <cmath>
#include <cstdio>

namespace kl {

namespace {

constexpr int32_t kDecimalNameLimit = 9999999;  // the largest index 7 decimal places hold
constexpr char kWideIndexMark = 'X';
constexpr const char* kObjectiveName = "OBJ.FUNC";
constexpr const char* kRhsSetName = "RHS     ";
constexpr const char* kRangeSetName = "RANGES  ";
constexpr const char* kBoundSetName = "BOUNDS  ";

bool is_zero(double v) { return std::fabs(v) <= kBarrierDumpZero; }
bool upper_infinite(double u) { return u >= kBarrierDumpInfinite; }
bool lower_infinite(double l) { return l <= -kBarrierDumpInfinite; }

using Name = char[kBarrierDumpNameLength + 1];

class DumpWriter {
 public:
  explicit DumpWriter(std::FILE* file) : file_(file) {}

  void line(const char* text) { std::fprintf(file_, "%s\n", text); }
  // "    NAME1  NAME2  value"
  void entry(const char* first, const char* second, double value) {
    std::fprintf(file_, "    %s  %s  %12.4e\n", first, second, value);
  }
  void bound(const char* type, const char* column) { std::fprintf(file_, "%s%s  %s\n", type, kBoundSetName, column); }
  void bound(const char* type, const char* column, double value) {
    std::fprintf(file_, "%s%s  %s  %12.4e\n", type, kBoundSetName, column, value);
  }

  // COLUMNS: two entries per line, the first one kept pending.
  void column_entry(const char* column, const char* row, double value) {
    if (pending_) {
      std::fprintf(file_, "%s   %s  %12.4e\n", pending_text_, row, value);
      pending_ = false;
    } else {
      std::snprintf(pending_text_, sizeof pending_text_, "    %s  %s  %12.4e", column, row, value);
      pending_ = true;
    }
    wrote_entry_ = true;
  }
  void start_column() { wrote_entry_ = false; }
  // Flushes a pending entry; a column that wrote nothing is listed with its
  // cost so that it appears in the file.
  void end_column(const char* column, double cost) {
    if (pending_) {
      std::fprintf(file_, "%s\n", pending_text_);
      pending_ = false;
    }
    if (!wrote_entry_) entry(column, kObjectiveName, cost);
  }

 private:
  std::FILE* file_;
  char pending_text_[64] = {};
  bool pending_ = false;
  bool wrote_entry_ = false;
};

enum class DumpRowType { Free, AtLeast, AtMost, Equal, Ranged };

// The type of a row from the bounds [l, u] of its slack: the row's activity
// a_i x = b + slack lies in [b + l, b + u].
DumpRowType row_type(double l, double u) {
  if (upper_infinite(u) && lower_infinite(l)) return DumpRowType::Free;
  if (upper_infinite(u)) return DumpRowType::AtLeast;
  if (lower_infinite(l)) return DumpRowType::AtMost;
  if ((u - l) / (std::fabs(l) + 1.0) < 1e-12) return DumpRowType::Equal;
  return DumpRowType::Ranged;
}

const char* row_type_field(DumpRowType t) {
  switch (t) {
    case DumpRowType::Free: return " N  ";
    case DumpRowType::AtLeast: return " G  ";
    case DumpRowType::AtMost: return " L  ";
    case DumpRowType::Equal: return " E  ";
    case DumpRowType::Ranged: return " G  ";  // a ranged row: G with a range
  }
  return " N  ";
}

}  // namespace

void format_barrier_dump_name(char prefix, int32_t index, char name[kBarrierDumpNameLength + 1]) {
  name[0] = prefix;
  name[kBarrierDumpNameLength] = '\0';
  if (index <= kDecimalNameLimit) {
    int32_t v = index < 0 ? 0 : index;
    for (int32_t c = kBarrierDumpNameLength - 1; c >= 1; --c) {
      const bool digit = c == kBarrierDumpNameLength - 1 || v > 0;
      name[c] = digit ? static_cast<char>('0' + v % 10) : '-';
      v /= 10;
    }
    return;
  }
  // 36^6 exceeds the largest int, so six digits hold every index.
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  name[1] = kWideIndexMark;
  int32_t v = index;
  for (int32_t c = kBarrierDumpNameLength - 1; c >= 2; --c) {
    name[c] = kDigits[v % 36];
    v /= 36;
  }
}

void write_qps_dump(int32_t m, int32_t n, int32_t /*matrix_nz*/, int32_t quad_col_count, int32_t quad_nz,
                    const int32_t* col_state, const int32_t* row_state, const int32_t* matrix_start,
                    const int32_t* factor_index, const double* factor_value, const int32_t* quad_start,
                    const double* quad_diag, const double* cost, double objective_constant,
                    const double* rhs, const double* upper, const double* lower) {
  std::FILE* file = std::fopen(kBarrierDumpFileName, "w");
  if (file == nullptr) return;
  DumpWriter out(file);
  const auto row_kept = [&](int32_t i) { return row_state[i] > -2; };
  const auto col_kept = [&](int32_t j) { return col_state[j] > -2; };
  Name name, other;

  out.line("NAME        KORIP");
  out.line("ROWS");
  std::fprintf(file, " N  %s\n", kObjectiveName);
  for (int32_t i = 1; i <= m; ++i) {
    if (!row_kept(i)) continue;
    format_barrier_dump_name('R', i, name);
    std::fprintf(file, "%s%s\n", row_type_field(row_type(lower[n + i], upper[n + i])), name);
  }

  out.line("COLUMNS");
  for (int32_t j = 1; j <= n; ++j) {
    if (!col_kept(j)) continue;
    format_barrier_dump_name('C', j, name);
    out.start_column();
    if (!is_zero(cost[j])) out.column_entry(name, kObjectiveName, cost[j]);
    for (int32_t k = matrix_start[j]; k < matrix_start[j + 1]; ++k) {
      const int32_t i = factor_index[k];
      if (!row_kept(i) || is_zero(factor_value[k])) continue;
      format_barrier_dump_name('R', i, other);
      out.column_entry(name, other, factor_value[k]);
    }
    out.end_column(name, cost[j]);
  }

  // The activity of row i lies in [b + l, b + u]: the right-hand side is
  // the finite end (the lower one for a ranged row) and the range its width.
  out.line("RHS");
  if (std::fabs(objective_constant) >= kBarrierDumpZero) out.entry(kRhsSetName, kObjectiveName, -objective_constant);
  for (int32_t i = 1; i <= m; ++i) {
    if (!row_kept(i)) continue;
    const double l = lower[n + i];
    const double u = upper[n + i];
    const DumpRowType t = row_type(l, u);
    if (t == DumpRowType::Free) continue;
    const double v = rhs[i] + (t == DumpRowType::AtMost ? u : l);
    if (is_zero(v)) continue;
    format_barrier_dump_name('R', i, name);
    out.entry(kRhsSetName, name, v);
  }

  out.line("RANGES");
  for (int32_t i = 1; i <= m; ++i) {
    if (!row_kept(i)) continue;
    const double l = lower[n + i];
    const double u = upper[n + i];
    const DumpRowType t = row_type(l, u);
    if (t != DumpRowType::Equal && t != DumpRowType::Ranged) continue;
    const double r = u - l;
    if (std::fabs(r) <= (std::fabs(l) + 1.0) * kBarrierDumpZero) continue;
    format_barrier_dump_name('R', i, name);
    out.entry(kRangeSetName, name, r);
  }

  out.line("BOUNDS");
  for (int32_t j = 1; j <= n; ++j) {
    if (!col_kept(j)) continue;
    format_barrier_dump_name('C', j, name);
    const double lo = lower[j];
    const double up = upper[j];
    if (upper_infinite(up) && lower_infinite(lo)) {
      out.bound(" FR ", name);
    } else if (lower_infinite(lo)) {
      out.bound(" MI ", name);
      out.bound(" UP ", name, up);
    } else {
      if (!is_zero(lo)) out.bound(" LO ", name, lo);
      // An upper bound of zero is a bound too: without its line the column
      // would read back as unbounded above.
      if (!upper_infinite(up)) out.bound(" UP ", name, is_zero(up) ? 0.0 : up);
    }
  }

  if (quad_col_count > 0) {
    out.line("QUADOBJ");
    for (int32_t j = 1; j <= n; ++j) {
      format_barrier_dump_name('C', j, name);
      if (!is_zero(quad_diag[j])) out.entry(name, name, quad_diag[j]);
      if (quad_nz <= 0 || quad_start == nullptr) continue;
      // The entries below the diagonal are written whatever the diagonal:
      // they are terms of the objective of their own.
      for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) {
        format_barrier_dump_name('C', factor_index[k], other);
        out.entry(name, other, factor_value[k]);
      }
    }
  }
  out.line("ENDATA");
  std::fclose(file);
}

}  // namespace kl
