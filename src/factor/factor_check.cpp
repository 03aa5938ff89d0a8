#include "factor/factor_check.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "factor/basis.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

std::vector<double> dense_basis_matrix() {
  const int32_t n = nrow;
  std::vector<double> b(static_cast<size_t>(n) * n, 0.0);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t v = header[k];
    if (v < store.first_col) {
      b[static_cast<size_t>(v - 1) * n + (k - 1)] = 1.0;
      continue;
    }
    for (int32_t q = start[v]; q < start[v + 1]; ++q)
      b[static_cast<size_t>(elem_row[q] - 1) * n + (k - 1)] += elem_value[q];
  }
  return b;
}

double ftran_residual(const std::vector<double>& b, const std::vector<double>& x) {
  const int32_t n = nrow;
  const std::vector<double> m = dense_basis_matrix();
  double worst = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int32_t k = 0; k < n; ++k) sum += m[static_cast<size_t>(i) * n + k] * x[k];
    worst = std::max(worst, std::fabs(sum - b[i]));
  }
  return worst;
}

double btran_residual(const std::vector<double>& c, const std::vector<double>& y) {
  const int32_t n = nrow;
  const std::vector<double> m = dense_basis_matrix();
  double worst = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) sum += m[static_cast<size_t>(i) * n + k] * y[i];
    worst = std::max(worst, std::fabs(sum - c[k]));
  }
  return worst;
}

std::string check_basis_consistency() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  std::vector<char> seen(static_cast<size_t>(nseq) + 1, 0);
  for (int32_t k = 1; k <= nrow; ++k) {
    const int32_t v = header[k];
    const bool valid = (v >= 1 && v <= nrow) || (v >= store.first_col && v <= nseq);
    if (!valid) return "header position " + std::to_string(k) + " names no variable";
    if (seen[v]) return "variable " + std::to_string(v) + " is basic twice";
    seen[v] = 1;
    if ((status[v] & PS_BASIC) == 0) return "variable " + std::to_string(v) + " in the header is not basic";
  }
  auto check = [&](int32_t v) -> std::string {
    if ((status[v] & PS_BASIC) != 0 && !seen[v]) return "variable " + std::to_string(v) + " is basic but not in the header";
    return "";
  };
  for (int32_t i = 1; i <= nrow; ++i)
    if (std::string fault = check(i); !fault.empty()) return fault;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if (std::string fault = check(j); !fault.empty()) return fault;
  return "";
}

std::string check_solve_chains() {
  OneBased<int32_t> rows = eta_row();
  OneBased<int32_t> labels = u_row();
  OneBased<int32_t> owner = eta_next();
  OneBased<double> values = eta_value();
  OneBased<int32_t> invert_heads = int_array(ARR_INVERT_CHAINS);
  OneBased<int32_t> u_heads = int_array(ARR_U_CHAINS);
  OneBased<int32_t> highest = int_array(ARR_U_HIGHEST_SLOT);
  const int32_t n = factor.factor_dimension > 0 ? nrow : 0;
  // Slots per row as the records hold them (negative: the row's own pivot or head).
  std::map<int32_t, std::vector<int32_t>> expected_invert;
  std::map<int32_t, std::vector<int32_t>> expected_u;
  for (int32_t t = eta_file.eta_capacity; t > invert_records_bottom();) {
    const int32_t c = slot_low_word(t);
    const int32_t r = rows[t - 1];
    expected_invert[r].push_back(-(t - 1));
    if (owner[t - 1] != 0) return "pivot slot " + std::to_string(t - 1) + " has an owner";
    for (int32_t s = t - 2; s >= t - 1 - c; --s) {
      expected_invert[rows[s]].push_back(s);
      if (owner[s] != r) return "entry slot " + std::to_string(s) + " names the wrong pivot row";
    }
    t = t - 2 - c;
  }
  int32_t a = eta_file.u_last_record;
  for (int32_t k = 0; k < eta_file.u_column_count; ++k) {
    const int32_t c = slot_low_word(a - 1);
    expected_u[labels[a]].push_back(-a);
    for (int32_t s = a + 1; s <= a + c; ++s) {
      if (owner[s] != labels[a]) return "U slot " + std::to_string(s) + " names the wrong head";
      if (std::fabs(values[s]) >= dcv(dc::ZTETA)) expected_u[labels[s]].push_back(s);
    }
    a -= slot_high_word(a - 1);
  }
  auto walk = [](int32_t head, OneBased<int32_t> links) {
    std::vector<int32_t> out;
    for (int32_t s = head; s != 0;) {
      out.push_back(s);
      const int32_t next = links[std::abs(s)];
      if (next <= 0 || out.size() > 10000000) break;
      s = next;
    }
    return out;
  };
  auto by_slot = [](std::vector<int32_t> v) {
    std::sort(v.begin(), v.end(), [](int32_t x, int32_t y) { return std::abs(x) < std::abs(y); });
    return v;
  };
  for (int32_t i = 1; i <= n; ++i) {
    if (walk(invert_heads[i], labels) != by_slot(expected_invert[i]))
      return "invert chain of row " + std::to_string(i) + " differs from the records";
    if (walk(u_heads[i], rows) != by_slot(expected_u[i]))
      return "U chain of row " + std::to_string(i) + " differs from the records";
    const std::vector<int32_t> u = by_slot(expected_u[i]);
    const int32_t top = u.empty() ? 0 : std::abs(u.back());
    if (highest[i] != top) return "highest U slot of row " + std::to_string(i) + " is wrong";
  }
  return "";
}

}  // namespace kl
