// Clique cuts: a conflict graph over the literals of the fractional
// binaries, built by tentative probing, and maximum-weight cliques around
// its nodes of least degree.
#include "global/clique_cuts.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "global/node_bounds.h"
#include "global/propagation.h"
#include "global/row_classes.h"
#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {
namespace {

constexpr int32_t kCliqueCutType = 0x20;
constexpr double kMinCliqueWeight = 1.0001;
constexpr int32_t kSetRowBits = RC_SET_LE | RC_SET_GE | RC_VARIABLE_BOUND;
// The exact search of a complement component stops after this many
// exchange steps and keeps the best set found: the enumeration can grow
// exponentially with the component.
constexpr int64_t kComponentStepLimit = 20000;

// Scratch of fixed size, reused by every call; nodes, starts and lists are
// 1-based.
struct Graph {
  int32_t node_count = 0;
  std::vector<int32_t> literal;    // node -> signed column position
  std::vector<int32_t> start;      // node -> first entry of its list
  std::vector<int32_t> conflicts;  // the conflict store
  std::vector<int32_t> degree;     // -1 removed
  // Per column position: the node of the positive literal and of the
  // complement (0 none), and the literal marks.
  std::vector<int32_t> positive_node, complement_node;
  std::vector<char> mark_positive, mark_complement;
  // Probing.
  std::vector<int32_t> fix_list;
  std::vector<double> saved_lower, saved_upper;
  std::vector<int32_t> saved_status;
  // found_by[l]: the earlier nodes whose conflict list holds l, in order;
  // column_stamp marks the columns a probe has fixed itself.
  std::vector<std::vector<int32_t>> found_by;
  std::vector<int32_t> column_stamp;
  int32_t probe_stamp = 0;
  // Subgraph of a centre.
  std::vector<int32_t> sub;  // subgraph node -> graph node
  std::vector<int32_t> complement_start, complement_list;
  std::vector<double> weights;
  std::vector<int32_t> clique;
  std::vector<int32_t> clique_literals;
  std::vector<int32_t> candidates;
  bool subgraph_limit = false;
  bool extension_limit = false;
};
Graph g;

void size_graph() {
  g.literal.assign(kCliqueMaxNodes + 2, 0);
  g.start.assign(kCliqueMaxNodes + 2, 0);
  g.conflicts.assign(kCliqueConflictRoom + 2, 0);
  g.degree.assign(kCliqueMaxNodes + 2, 0);
  const size_t positions = static_cast<size_t>(nseq) + 2;
  g.positive_node.assign(positions, 0);
  g.complement_node.assign(positions, 0);
  g.mark_positive.assign(positions, 0);
  g.mark_complement.assign(positions, 0);
  g.fix_list.assign(2 * static_cast<size_t>(nseq) + 2, 0);
  g.found_by.assign(kCliqueMaxNodes + 2, {});
  g.column_stamp.assign(positions, 0);
  g.probe_stamp = 0;
}

double x_of(int32_t j) { return real_array(ARR_X)[j]; }
double literal_value(int32_t lit) { return lit > 0 ? x_of(lit) : 1.0 - x_of(-lit); }
char& mark_of(int32_t lit) { return lit > 0 ? g.mark_positive[static_cast<size_t>(lit)] : g.mark_complement[static_cast<size_t>(-lit)]; }
bool live(int32_t node) { return g.degree[static_cast<size_t>(node)] != -1; }
int32_t list_begin(int32_t node) { return g.start[static_cast<size_t>(node)]; }
int32_t list_end(int32_t node) { return g.start[static_cast<size_t>(node) + 1]; }

void set_bounds(int32_t p, double lower, double upper) {
  real_array(ARR_LOWER)[p] = lower;
  real_array(ARR_UPPER)[p] = upper;
  if (OneBased<double> copy = real_array(ARR_WORK_LOWER)) copy[p] = lower;
  if (OneBased<double> copy = real_array(ARR_WORK_UPPER)) copy[p] = upper;
}

// Fixes column p at value for a probe, keeping what it had for the undo.
void fix_for_probe(int32_t p, double value) {
  g.saved_lower.push_back(real_array(ARR_LOWER)[p]);
  g.saved_upper.push_back(real_array(ARR_UPPER)[p]);
  g.saved_status.push_back(int_array(ARR_POS_STATUS)[p]);
  set_bounds(p, value, value);
  int_array(ARR_POS_STATUS)[p] |= PS_SEARCH_FIXED;
}

// Node l's conflict list at start[l]: the nodes whose literal cannot be 1
// while l's literal is.
void probe_binary_implications(int32_t l, int32_t room, int32_t& count, int32_t& overflow) {
  lp_status = 0;
  count = 0;
  overflow = 0;
  if (room <= 0) {
    overflow = 1;
    return;
  }
  const int32_t lit = g.literal[static_cast<size_t>(l)];
  const int32_t c = std::abs(lit);
  g.saved_lower.clear();
  g.saved_upper.clear();
  g.saved_status.clear();
  int32_t listed = 0;
  fix_for_probe(c, lit > 0 ? 1.0 : 0.0);
  g.fix_list[static_cast<size_t>(listed++)] = c;
  // Known conflicts: earlier nodes that found l set their literal to 0
  // (in node order; each column once).
  ++g.probe_stamp;
  g.column_stamp[static_cast<size_t>(c)] = g.probe_stamp;
  for (const int32_t k : g.found_by[static_cast<size_t>(l)]) {
    const int32_t klit = g.literal[static_cast<size_t>(k)];
    const int32_t kc = std::abs(klit);
    if (g.column_stamp[static_cast<size_t>(kc)] == g.probe_stamp) continue;
    g.column_stamp[static_cast<size_t>(kc)] = g.probe_stamp;
    fix_for_probe(kc, klit > 0 ? 0.0 : 1.0);
    g.fix_list[static_cast<size_t>(listed++)] = klit;
  }
  const int32_t own_fixings = listed;
  int32_t fixed = 0, unused = 0, list_overflow = 0;
  propagate_bounds(g.fix_list.data(), 2 * nseq, listed, PROPAGATE_TENTATIVE, fixed, unused, list_overflow);
  lp_status = 0;
  const int32_t base = list_begin(l);
  for (int32_t n = 1; n < listed; ++n) {
    const int32_t entry = g.fix_list[static_cast<size_t>(n)];
    int32_t node = 0;
    if (entry > 0 && g.mark_positive[static_cast<size_t>(entry)]) node = g.positive_node[static_cast<size_t>(entry)];
    if (entry < 0 && g.mark_complement[static_cast<size_t>(-entry)]) node = g.complement_node[static_cast<size_t>(-entry)];
    if (node == 0) continue;
    if (count >= room) {
      overflow = 1;
      break;
    }
    g.conflicts[static_cast<size_t>(base + count++)] = node;
  }
  if (list_overflow != 0) {
    apply_node_bounds();
    lp_status = 0;
  }
  // Own fixings back, newest first (a column is never fixed twice here).
  for (int32_t n = own_fixings - 1; n >= 0; --n) {
    const int32_t p = std::abs(g.fix_list[static_cast<size_t>(n)]);
    if (list_overflow == 0) set_bounds(p, g.saved_lower[static_cast<size_t>(n)], g.saved_upper[static_cast<size_t>(n)]);
    int_array(ARR_POS_STATUS)[p] = g.saved_status[static_cast<size_t>(n)];
  }
}

// Literals that share a set row with lit, with their own row sign, among
// columns at zero; with strict, also unfixed and, in a dense problem, of
// small reduced cost. visit(literal) for each.
template <class Visit>
void set_row_partners(int32_t lit, bool strict, Visit visit) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> reduced = real_array(ARR_REDUCED_COSTS);
  const double ztolis = dcv(dc::ZTOLIS);
  const double ztcost = dcv(dc::ZTCOST);
  const bool dense = static_cast<int64_t>(nelem) > 1000LL * nrow;
  const int32_t c = std::abs(lit);
  for (int32_t e = col_start[c]; e < col_start[c + 1]; ++e) {
    const int32_t i = elem_row[e];
    const int32_t word = row_type[i];
    if ((word & (RC_SET_LE | RC_SET_GE)) == 0) continue;
    const double d = (word & RC_SET_GE) != 0 ? -1.0 : 1.0;
    const double own = d * elem_value[e];
    if (lit > 0 ? own < 0.0 : own > 0.0) continue;
    for (int32_t f = copy_start[i]; f < copy_start[i + 1]; ++f) {
      const int32_t k = copy_col[f];
      if (k == c || x_of(k) > ztolis) continue;
      if (strict) {
        if ((status[k] & PS_SEARCH_FIXED) != 0) continue;
        if (dense && reduced && std::fabs(reduced[k]) > ztcost) continue;
      }
      visit(d * copy_val[f] > 0.0 ? k : -k);
    }
  }
}

void clear_all_marks() {
  std::fill(g.mark_positive.begin(), g.mark_positive.end(), 0);
  std::fill(g.mark_complement.begin(), g.mark_complement.end(), 0);
}

// Widens the clique by zero-valued literals sharing a set row with every
// member; status 1 when the literal limit stopped it.
void extend_clique(int32_t& size, int32_t& status) {
  status = 0;
  clear_all_marks();
  std::vector<int32_t>& cand = g.candidates;
  cand.clear();
  set_row_partners(g.clique_literals[0], true, [&](int32_t lit) {
    char& m = mark_of(lit);
    if (m) return;
    m = 1;
    cand.push_back(lit);
  });
  auto filter_by = [&](int32_t member) {
    for (const int32_t lit : cand) mark_of(lit) = 0;
    set_row_partners(member, false, [&](int32_t lit) { mark_of(lit) = 1; });
    size_t kept = 0;
    for (const int32_t lit : cand)
      if (mark_of(lit)) cand[kept++] = lit;
    cand.resize(kept);
  };
  for (int32_t t = 0; t < size && !cand.empty(); ++t) filter_by(g.clique_literals[static_cast<size_t>(t)]);
  OneBased<double> reduced = real_array(ARR_REDUCED_COSTS);
  while (!cand.empty()) {
    size_t best = 0;
    if (reduced)
      for (size_t n = 1; n < cand.size(); ++n)
        if (reduced[std::abs(cand[n])] < reduced[std::abs(cand[best])]) best = n;
    if (size >= kCliqueMaxLiterals) {
      status = 1;
      return;
    }
    const int32_t lit = cand[best];
    g.clique_literals.push_back(lit);
    ++size;
    cand.erase(cand.begin() + static_cast<std::ptrdiff_t>(best));
    filter_by(lit);
  }
}

// Stores sum(literals) <= 1; true when the pool gained the cut.
bool store_clique(int32_t size, int32_t single_call, int32_t caller_cut_type, int32_t list_capacity,
                  int32_t& list_count, int32_t* cut_list) {
  std::vector<int32_t> columns(static_cast<size_t>(size));
  std::vector<double> values(static_cast<size_t>(size));
  double rhs = 1.0;
  for (int32_t t = 0; t < size; ++t) {
    const int32_t lit = g.clique_literals[static_cast<size_t>(t)];
    columns[static_cast<size_t>(t)] = std::abs(lit);
    values[static_cast<size_t>(t)] = lit > 0 ? 1.0 : -1.0;
    if (lit < 0) rhs -= 1.0;
  }
  // A column with both literals would make the store fail; such a clique
  // says nothing about the others anyway.
  std::vector<int32_t> sorted = columns;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return false;
  const int32_t type = single_call == 1 ? caller_cut_type : kCliqueCutType;
  const int32_t mode = single_call == 1 ? 2 : 1;
  const char sense = 'L';
  const int32_t start[2] = {1, size + 1};
  int32_t record = 0;
  const int32_t before = search_record.stored_cut_count;
  status_code = STATUS_OK;
  // Positions and record numbers are internal (from 1) whatever the
  // caller's index base.
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  storecut(1, 0, &type, &sense, &rhs, start, &record, columns.data(), values.data(), mode);
  icv(ic::IFDBG) = base;
  if (status_code == STATUS_OK && record > 0) {
    cut_record_field(record, CUT_FIELD_FLAGS) |= CUT_NEW_IN_ROUND;
    if (single_call == 1 && list_count < list_capacity) {
      bool listed = false;
      for (int32_t n = 0; n < list_count && !listed; ++n) listed = cut_list[n] == record;
      if (!listed) cut_list[list_count++] = record;
    }
  }
  return search_record.stored_cut_count != before;
}

void lose_degree_of_list(int32_t node) {
  for (int32_t e = list_begin(node); e < list_end(node); ++e) {
    const int32_t k = g.conflicts[static_cast<size_t>(e)];
    if (live(k)) --g.degree[static_cast<size_t>(k)];
  }
}

void separate_clique_cut(int32_t centre, int32_t& stored, int32_t& status, int32_t single_call,
                         int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count, int32_t* cut_list) {
  status = 0;
  stored = 0;
  const int32_t centre_degree = g.degree[static_cast<size_t>(centre)];
  for (int32_t k = 1; k <= g.node_count; ++k) mark_of(g.literal[static_cast<size_t>(k)]) = 0;
  auto finish = [&]() {
    g.degree[static_cast<size_t>(centre)] = -1;
    lose_degree_of_list(centre);
  };
  // 2. The live neighbours of the centre.
  g.sub.assign(1, 0);
  for (int32_t e = list_begin(centre); e < list_end(centre); ++e) {
    const int32_t k = g.conflicts[static_cast<size_t>(e)];
    if (!live(k)) continue;
    char& m = mark_of(g.literal[static_cast<size_t>(k)]);
    if (m) continue;
    if (static_cast<int32_t>(g.sub.size()) > kCliqueMaxSubgraph) {
      status = 1;
      finish();
      return;
    }
    m = 1;
    g.sub.push_back(k);
  }
  const int32_t n = static_cast<int32_t>(g.sub.size()) - 1;
  // 3. Complement lists: the pairs of the subgraph that do not conflict.
  g.complement_start.assign(static_cast<size_t>(n) + 2, 1);
  g.complement_list.assign(1, 0);
  for (int32_t i = 1; i <= n; ++i) {
    g.complement_start[static_cast<size_t>(i)] = static_cast<int32_t>(g.complement_list.size());
    const int32_t node = g.sub[static_cast<size_t>(i)];
    for (int32_t e = list_begin(node); e < list_end(node); ++e)
      mark_of(g.literal[static_cast<size_t>(g.conflicts[static_cast<size_t>(e)])]) = 0;
    for (int32_t j = 1; j <= n; ++j) {
      if (j == i) continue;
      char& m = mark_of(g.literal[static_cast<size_t>(g.sub[static_cast<size_t>(j)])]);
      if (!m) {
        m = 1;
        continue;
      }
      if (static_cast<int32_t>(g.complement_list.size()) > kCliqueComplementRoom) {
        status = 1;
        finish();
        return;
      }
      g.complement_list.push_back(j);
    }
  }
  g.complement_start[static_cast<size_t>(n) + 1] = static_cast<int32_t>(g.complement_list.size());
  // 4. Conflicts must be mutual.
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t e = g.complement_start[static_cast<size_t>(i)]; e < g.complement_start[static_cast<size_t>(i) + 1]; ++e) {
      const int32_t j = g.complement_list[static_cast<size_t>(e)];
      bool back = false;
      for (int32_t f = g.complement_start[static_cast<size_t>(j)];
           f < g.complement_start[static_cast<size_t>(j) + 1] && !back; ++f)
        back = g.complement_list[static_cast<size_t>(f)] == i;
      if (!back) {
        finish();
        return;
      }
    }
  // 5-7. The heaviest clique among the neighbours, with the centre.
  g.weights.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int32_t i = 1; i <= n; ++i)
    g.weights[static_cast<size_t>(i)] = literal_value(g.literal[static_cast<size_t>(g.sub[static_cast<size_t>(i)])]);
  g.clique.assign(static_cast<size_t>(n) + 2, 0);
  int32_t size = 0;
  double weight = 0.0;
  find_clique_components(n, static_cast<int32_t>(g.complement_list.size()) - 1, g.complement_start.data(),
                         g.complement_list.data(), g.weights.data(), size, g.clique.data(), weight);
  const int32_t centre_literal = g.literal[static_cast<size_t>(centre)];
  if (weight + literal_value(centre_literal) > kMinCliqueWeight) {
    g.clique_literals.clear();
    for (int32_t t = 1; t <= size; ++t)
      g.clique_literals.push_back(g.literal[static_cast<size_t>(g.sub[static_cast<size_t>(g.clique[static_cast<size_t>(t)])])]);
    g.clique_literals.push_back(centre_literal);
    int32_t literals = size + 1;
    int32_t extension_status = 0;
    extend_clique(literals, extension_status);
    if (extension_status == 1) status = 2;
    stored = store_clique(literals, single_call, caller_cut_type, list_capacity, list_count, cut_list) ? 1 : 0;
  }
  // 8-9. Neighbours adjacent to every other neighbour and no better
  // connected than the centre are covered by this clique.
  std::vector<int32_t> dominated;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t node = g.sub[static_cast<size_t>(i)];
    if (g.complement_start[static_cast<size_t>(i)] == g.complement_start[static_cast<size_t>(i) + 1] &&
        g.degree[static_cast<size_t>(node)] == centre_degree)
      dominated.push_back(node);
  }
  for (const int32_t node : dominated) g.degree[static_cast<size_t>(node)] = -1;
  for (const int32_t node : dominated) lose_degree_of_list(node);
  finish();
}

}  // namespace

void find_clique_components(int32_t n, int32_t complement_entries, const int32_t* complement_start,
                            const int32_t* complement_list, const double* weights, int32_t& size, int32_t* clique,
                            double& weight) {
  weight = 0.0;
  size = 0;
  if (complement_entries <= 0) {
    for (int32_t k = 1; k <= n; ++k) {
      clique[++size] = k;
      weight += weights[k];
    }
    return;
  }
  // clique[k]: 0 unassigned, 1 in the clique, 2 assigned elsewhere; the
  // clique's node list is written over it at the end.
  for (int32_t k = 1; k <= n; ++k) clique[k] = 0;
  std::vector<int32_t> component;
  std::vector<char> in_component(static_cast<size_t>(n) + 1, 0);
  std::vector<char> best(static_cast<size_t>(n) + 1, 0), trial(static_cast<size_t>(n) + 1, 0);
  auto neighbour_in = [&](int32_t k, const std::vector<char>& set) {
    for (int32_t e = complement_start[k]; e < complement_start[k + 1]; ++e)
      if (set[static_cast<size_t>(complement_list[e])]) return true;
    return false;
  };
  for (int32_t first = 1; first <= n; ++first) {
    if (clique[first] != 0) continue;
    // The component of first in the complement graph.
    component.assign(1, first);
    clique[first] = 2;
    for (size_t h = 0; h < component.size(); ++h) {
      const int32_t k = component[h];
      for (int32_t e = complement_start[k]; e < complement_start[k + 1]; ++e) {
        const int32_t j = complement_list[e];
        if (clique[j] == 0) {
          clique[j] = 2;
          component.push_back(j);
        }
      }
    }
    std::sort(component.begin(), component.end());
    if (component.size() == 1) {
      clique[first] = 1;
      continue;
    }
    if (component.size() == 2) {
      const int32_t a = component[0], b = component[1];
      clique[weights[a] > weights[b] ? a : b] = 1;
      continue;
    }
    // An independent set of the component of greatest weight: greedy
    // first, then exchanges from the highest member down.
    for (const int32_t k : component) in_component[static_cast<size_t>(k)] = 1;
    double best_weight = 0.0;
    for (const int32_t k : component)
      if (!neighbour_in(k, best)) {
        best[static_cast<size_t>(k)] = 1;
        best_weight += weights[k];
      }
    trial = best;
    double trial_weight = best_weight;
    for (int64_t steps = 0; steps < kComponentStepLimit; ++steps) {
      int32_t p = 0;
      for (auto it = component.rbegin(); it != component.rend(); ++it)
        if (trial[static_cast<size_t>(*it)]) {
          p = *it;
          break;
        }
      if (p == 0) break;
      trial[static_cast<size_t>(p)] = 0;
      trial_weight -= weights[p];
      for (const int32_t k : component) {
        if (k <= p || trial[static_cast<size_t>(k)] || neighbour_in(k, trial)) continue;
        trial[static_cast<size_t>(k)] = 1;
        trial_weight += weights[k];
      }
      if (trial_weight > best_weight) {
        best = trial;
        best_weight = trial_weight;
      }
    }
    for (const int32_t k : component) {
      if (best[static_cast<size_t>(k)]) clique[k] = 1;
      best[static_cast<size_t>(k)] = 0;
      trial[static_cast<size_t>(k)] = 0;
      in_component[static_cast<size_t>(k)] = 0;
    }
  }
  for (int32_t k = 1; k <= n; ++k)
    if (clique[k] == 1) {
      clique[++size] = k;
      weight += weights[k];
    }
}

void generate_clique_cuts(int32_t& cuts_found, int32_t single_call, int32_t caller_cut_type, int32_t list_capacity,
                          int32_t& list_count, int32_t* cut_list) {
  cuts_found = 0;
  g.subgraph_limit = false;
  g.extension_limit = false;
  if (nseq <= 0 || !int_array(ARR_POS_STATUS) || !real_array(ARR_X)) return;
  if ((problem_flags & PF_COLUMN_COPY) == 0 && !make_column_copy_current()) return;
  if ((problem_flags & PF_ROW_COPY) == 0 && !make_row_copy_current()) return;
  size_graph();
  const int32_t saved_lp_status = lp_status;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const double ztolis = dcv(dc::ZTOLIS);
  const int32_t prtcut = icv(ic::PRTCUT);
  bool node_overflow = false;

  // 2. Nodes: the literals of fractional binaries that occur in
  // binary-active rows, unless their only occurrence is one set row.
  int32_t& nodes = g.node_count;
  nodes = 0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & PS_BINARY) == 0) continue;
    const double xj = x_of(j);
    if (!(ztolis < xj && xj < 1.0 - ztolis)) continue;
    int32_t occurs[2] = {0, 0}, set_occurs[2] = {0, 0};  // positive, complement
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i > nrow || (row_type[i] & RC_BINARY_ACTIVE) == 0) continue;
      const bool in_set = (row_type[i] & kSetRowBits) != 0;
      for (int32_t side = 0; side < 2; ++side) {
        if ((status[i] & (side == 0 ? PS_FINITE_LOWER : PS_FINITE_UPPER)) == 0) continue;
        const double a = side == 0 ? elem_value[e] : -elem_value[e];
        const int32_t which = a > 0.0 ? 0 : 1;
        ++occurs[which];
        if (in_set) ++set_occurs[which];
      }
    }
    for (int32_t which = 0; which < 2; ++which) {
      if (occurs[which] == 0 || (occurs[which] == 1 && set_occurs[which] == 1)) continue;
      if (nodes >= kCliqueMaxNodes) {
        node_overflow = true;
        continue;
      }
      ++nodes;
      g.literal[static_cast<size_t>(nodes)] = which == 0 ? j : -j;
      (which == 0 ? g.positive_node : g.complement_node)[static_cast<size_t>(j)] = nodes;
    }
  }

  bool probed = false;
  if (nodes >= 2) {
    // 4-5. Probing, once more with the completely probed nodes after an
    // overflow of the conflict store.
    bool repeated = false;
    bool failed = false;
    for (int32_t k = 1; k <= nodes; ++k) mark_of(g.literal[static_cast<size_t>(k)]) = 1;
    for (int32_t pass = 0; pass < 2; ++pass) {
      g.start[1] = 1;
      for (int32_t k = 1; k <= nodes; ++k) g.found_by[static_cast<size_t>(k)].clear();
      int32_t overflow_at = 0;
      for (int32_t l = 1; l <= nodes; ++l) {
        int32_t count = 0, overflow = 0;
        probe_binary_implications(l, kCliqueConflictRoom + 1 - g.start[static_cast<size_t>(l)], count, overflow);
        probed = true;
        if (overflow != 0) {
          overflow_at = l;
          break;
        }
        g.start[static_cast<size_t>(l) + 1] = g.start[static_cast<size_t>(l)] + count;
        for (int32_t e = list_begin(l); e < list_end(l); ++e) {
          const int32_t m = g.conflicts[static_cast<size_t>(e)];
          if (m > l) g.found_by[static_cast<size_t>(m)].push_back(l);
        }
      }
      if (overflow_at == 0) break;
      if (pass == 1) {
        failed = true;
        break;
      }
      repeated = true;
      for (int32_t k = overflow_at; k <= nodes; ++k) mark_of(g.literal[static_cast<size_t>(k)]) = 0;
      nodes = overflow_at - 1;
    }
    if (prtcut >= 2 && (node_overflow || repeated)) {
      begin_message(MSG_CLIQUE_NODES_DROPPED);
      emit_message();
    }
    if (!failed && nodes >= 2) {
      // 7. Nodes too light to be in any violated clique.
      for (int32_t k = 1; k <= nodes; ++k) {
        if (!live(k)) continue;
        double w = literal_value(g.literal[static_cast<size_t>(k)]);
        for (int32_t e = list_begin(k); e < list_end(k); ++e) {
          const int32_t other = g.conflicts[static_cast<size_t>(e)];
          if (live(other)) w += literal_value(g.literal[static_cast<size_t>(other)]);
        }
        if (w < kMinCliqueWeight) g.degree[static_cast<size_t>(k)] = -1;
      }
      // 8. Degrees.
      for (int32_t k = 1; k <= nodes; ++k) {
        if (!live(k)) continue;
        int32_t d = 0;
        for (int32_t e = list_begin(k); e < list_end(k); ++e) d += live(g.conflicts[static_cast<size_t>(e)]) ? 1 : 0;
        g.degree[static_cast<size_t>(k)] = d;
      }
      // 9. Centres of least degree.
      for (;;) {
        int32_t centre = 0;
        for (int32_t k = 1; k <= nodes; ++k) {
          int32_t& d = g.degree[static_cast<size_t>(k)];
          if (d == 0) d = -1;
          if (d <= 0) continue;
          if (centre == 0 || d < g.degree[static_cast<size_t>(centre)]) centre = k;
        }
        if (centre == 0) break;
        double w = literal_value(g.literal[static_cast<size_t>(centre)]);
        for (int32_t e = list_begin(centre); e < list_end(centre); ++e) {
          const int32_t other = g.conflicts[static_cast<size_t>(e)];
          if (live(other)) w += literal_value(g.literal[static_cast<size_t>(other)]);
        }
        if (w >= kMinCliqueWeight) {
          int32_t stored = 0, cut_status = 0;
          separate_clique_cut(centre, stored, cut_status, single_call, caller_cut_type, list_capacity, list_count,
                              cut_list);
          cuts_found += stored;
          if (cut_status == 1) g.subgraph_limit = true;
          if (cut_status == 2) g.extension_limit = true;
        } else {
          g.degree[static_cast<size_t>(centre)] = -1;
          lose_degree_of_list(centre);
        }
      }
    }
  }
  // 10.
  if (prtcut >= 2 && (g.subgraph_limit || g.extension_limit)) {
    begin_message(MSG_CLIQUE_LIMIT_REACHED);
    emit_message();
  }
  status_code = STATUS_OK;
  // Probing fixed and freed columns one by one; the LP's own status is
  // what it was.
  if (probed) lp_status = saved_lp_status;
  for (int32_t k = 1; k <= g.node_count; ++k) {
    const int32_t j = std::abs(g.literal[static_cast<size_t>(k)]);
    g.positive_node[static_cast<size_t>(j)] = 0;
    g.complement_node[static_cast<size_t>(j)] = 0;
  }
}

}  // namespace kl
