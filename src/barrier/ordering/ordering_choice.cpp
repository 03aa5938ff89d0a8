// The choice of ordering and the peeling of the ordering graph.
#include "barrier/ordering/ordering_choice.h"

#include <algorithm>

#include "barrier/ordering/heapsort.h"
#include "barrier/ordering/minimum_degree.h"
#include "barrier/ordering/minimum_fill.h"
#include "barrier/ordering/nested_dissection.h"

namespace kl {

namespace {

// Below this many active nodes the explicit minimum-degree ordering is cheap
// enough and at least as good as the others.
constexpr int32_t kSmallGraphNodes = 750;
// A dissection order is kept unless its estimate exceeds the unconstrained
// order's by more than this factor.
constexpr double kDissectionTolerance = 1.1;
// Density (average degree / nodes) above which dissection cannot pay.
constexpr double kDenseReducedGraph = 0.25;
// Average degree below which the graph is too thin for dissection.
constexpr double kThinReducedGraph = 3.0;
// A node is set aside as dense when its degree passes this many times the
// average (the augmented graph has far longer rows of columns).
constexpr int64_t kDenseScaleNormal = 10;
constexpr int64_t kDenseScaleAugmented = 100;

constexpr int32_t kPerNodeArrays = 16;

struct choice_arrays {
  int32_t* degree;
  int32_t* placed;
  int32_t* new_number;
  int32_t* old_number;
  int32_t* front;
  int32_t* stack;      // two entries per node
  int32_t* collected;
  int32_t* reduced_start;
  int32_t* reduced_length;
  int32_t* reduced_order;
  int32_t* second_order;
  int32_t* copy_start;
  int32_t* copy_length;
  int32_t* label;
  // The dissection's edge weights (paired with factor_index) or the
  // minimum-degree ordering's reverse store: never both in one call.
  int32_t* edge_weight;
  int64_t shared_capacity;
  int32_t* ordering_work;
};

int64_t shared_region_ints(const barrier_params& params) {
  return std::max<int64_t>(static_cast<int64_t>(params.factor_space) + 2, minimum_degree_reverse_capacity(params));
}

int64_t ordering_tail_ints(int32_t dim) {
  return std::max({minimum_degree_work_size(dim), reduced_graph_work_size(dim), nested_dissection_work_size(dim)});
}

choice_arrays carve(const barrier_params& params, int32_t dim, int32_t* work) {
  const int64_t slots = static_cast<int64_t>(dim) + 2;
  choice_arrays c{};
  int32_t* w = work;
  auto take = [&](int64_t count) {
    int32_t* block = w;
    w += count;
    return block;
  };
  c.degree = take(slots);
  c.placed = take(slots);
  c.new_number = take(slots);
  c.old_number = take(slots);
  c.front = take(slots);
  c.stack = take(2 * slots);
  c.collected = take(slots);
  c.reduced_start = take(slots);
  c.reduced_length = take(slots);
  c.reduced_order = take(slots);
  c.second_order = take(slots);
  c.copy_start = take(slots);
  c.copy_length = take(slots);
  c.label = take(slots);
  c.shared_capacity = shared_region_ints(params);
  c.edge_weight = take(c.shared_capacity);
  c.ordering_work = w;
  return c;
}

}  // namespace

int64_t ordering_work_ints(const barrier_params& params, int32_t dim) {
  const int64_t slots = static_cast<int64_t>(dim) + 2;
  return kPerNodeArrays * slots + shared_region_ints(params) + ordering_tail_ints(dim);
}

void order_normal_matrix(barrier_params& params, int32_t dim, int32_t* graph_start, int32_t* graph_length,
                         int32_t* permutation, int32_t* var_state, int32_t* factor_index, int32_t n_lead,
                         int32_t tfind, int32_t* work, int32_t& status, int32_t* last_method) {
  choice_arrays c = carve(params, dim, work);
  int32_t active = 0;
  for (int32_t v = 1; v <= dim; ++v)
    if (var_state[v] >= -1) ++active;

  const int32_t ordering = params.ORDERING;
  if (ordering == 2 || (ordering == 0 && (n_lead > 0 || active < kSmallGraphNodes))) {
    order_minimum_degree(params, dim, graph_start, graph_length, permutation, var_state, factor_index, n_lead, tfind,
                         c.ordering_work, c.edge_weight, c.shared_capacity, status);
    if (status >= 0) params.pivot_count = dim;
    if (last_method != nullptr) *last_method = ORDERING_METHOD_MINIMUM_DEGREE;
    return;
  }

  // Symmetric lists. Removed nodes, and entries naming them, are left out.
  int64_t largest_start = 0;
  int64_t total_length = 0;
  for (int32_t v = 1; v <= dim; ++v) {
    if (var_state[v] < -1) graph_length[v] = 0;
    largest_start = std::max<int64_t>(largest_start, graph_start[v]);
    total_length += graph_length[v];
  }
  if (static_cast<int64_t>(params.factor_space) < largest_start + 2 * total_length) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  status = 0;
  // The own lists go to a buffer first, so that laying the symmetric lists
  // out from the first start cannot overwrite a list not yet read.
  int32_t* incoming = c.degree;
  int32_t* buffer = c.edge_weight;
  int32_t* own_start = c.old_number;
  for (int32_t v = 1; v <= dim; ++v) incoming[v] = 0;
  int64_t buffered = 1;
  for (int32_t v = 1; v <= dim; ++v) {
    own_start[v] = static_cast<int32_t>(buffered);
    for (int32_t e = graph_start[v]; e < graph_start[v] + graph_length[v]; ++e) {
      const int32_t u = factor_index[e];
      if (u < 1 || u > dim || var_state[u] < -1 || u == v) continue;
      buffer[buffered++] = u;
      ++incoming[u];
    }
    graph_length[v] = static_cast<int32_t>(buffered - own_start[v]);
  }
  int64_t room = largest_start;
  for (int32_t v = 1; v <= dim; ++v) room = std::min<int64_t>(room, graph_start[v]);
  for (int32_t v = 1; v <= dim; ++v) {
    graph_start[v] = static_cast<int32_t>(room);
    c.front[v] = static_cast<int32_t>(room) + incoming[v];
    for (int32_t t = 0; t < graph_length[v]; ++t) factor_index[c.front[v] + t] = buffer[own_start[v] + t];
    room += static_cast<int64_t>(graph_length[v]) + incoming[v];
  }
  // Each node is prepended to the lists of its own entries, so a list reads
  // the nodes that listed it, latest first, then its own entries.
  for (int32_t v = 1; v <= dim; ++v) {
    for (int32_t t = 0; t < graph_length[v]; ++t) {
      const int32_t u = buffer[own_start[v] + t];
      factor_index[--c.front[u]] = v;
    }
  }
  for (int32_t v = 1; v <= dim; ++v) graph_length[v] += incoming[v];

  // Peeling: isolated nodes and chains of degree-one nodes to the front,
  // nodes far denser than the average to the back.
  const int64_t scale = n_lead > 0 ? kDenseScaleAugmented : kDenseScaleNormal;
  int32_t* degree = c.degree;
  int64_t edges = 0;
  int32_t live = 0;
  int32_t placed_front = 0;
  int32_t back = dim + 1;
  int32_t top = 0;
  for (int32_t v = 1; v <= dim; ++v) {
    degree[v] = graph_length[v];
    c.placed[v] = 0;
    if (degree[v] > 0) {
      edges += degree[v];
      ++live;
    }
  }
  for (int32_t v = 1; v <= dim; ++v) {
    if (degree[v] == 0) {
      c.placed[v] = 1;
      permutation[++placed_front] = v;
    } else if (degree[v] == 1) {
      c.stack[++top] = v;
    }
  }
  auto lower_neighbours = [&](int32_t x, bool after_dense) {
    for (int32_t e = graph_start[x]; e < graph_start[x] + graph_length[x]; ++e) {
      const int32_t u = factor_index[e];
      if (c.placed[u] != 0) continue;
      --degree[u];
      --edges;
      if (after_dense) {
        if (degree[u] < 2) c.stack[++top] = u;
      } else if (degree[u] == 0) {
        c.placed[u] = 1;
        permutation[++placed_front] = u;
        --live;
      } else if (degree[u] == 1) {
        c.stack[++top] = u;
      }
    }
  };
  do {
    while (top > 0) {
      const int32_t x = c.stack[top--];
      if (c.placed[x] != 0) continue;
      c.placed[x] = 1;
      permutation[++placed_front] = x;
      --live;
      lower_neighbours(x, false);
    }
    for (;;) {
      const int64_t threshold = live < 1 ? 1 : (edges * scale) / live;
      int32_t collected = 0;
      for (int32_t v = 1; v <= dim; ++v)
        if (c.placed[v] == 0 && degree[v] > threshold) c.collected[++collected] = v;
      if (collected == 0) break;
      for (int32_t t = collected; t >= 1; --t) {
        const int32_t x = c.collected[t];
        c.placed[x] = 1;
        permutation[--back] = x;
        --live;
        lower_neighbours(x, true);
      }
    }
  } while (top > 0);
  if (back <= dim) sort_index_by_key(dim - back + 1, permutation + back - 1, graph_length);

  // Reduced graph of the unplaced nodes, lists packed from the first start.
  int32_t r = 0;
  int32_t reduced_lead = 0;
  for (int32_t v = 1; v <= dim; ++v) {
    c.new_number[v] = 0;
    if (c.placed[v] != 0) continue;
    c.new_number[v] = ++r;
    c.old_number[r] = v;
    if (v <= n_lead) ++reduced_lead;
  }
  int64_t write = dim >= 1 ? graph_start[1] : 0;
  const int32_t base = static_cast<int32_t>(write);
  for (int32_t v = 1; v <= dim; ++v) {
    if (c.placed[v] != 0) continue;
    const int32_t nv = c.new_number[v];
    c.reduced_start[nv] = static_cast<int32_t>(write);
    for (int32_t e = graph_start[v]; e < graph_start[v] + graph_length[v]; ++e) {
      const int32_t u = factor_index[e];
      if (c.placed[u] == 0) factor_index[write++] = c.new_number[u];
    }
    c.reduced_length[nv] = static_cast<int32_t>(write - c.reduced_start[nv]);
  }
  int32_t free_entry = static_cast<int32_t>(write);

  int32_t method = ORDERING_METHOD_PEELING_ONLY;
  if (r >= 1) {
    if (ordering == 1) {
      method = ORDERING_METHOD_MINIMUM_FILL;
    } else if (ordering == 0) {
      const double average = static_cast<double>(edges) / r;
      if (average / r > kDenseReducedGraph || average < kThinReducedGraph) {
        method = ORDERING_METHOD_MINIMUM_FILL;
      } else {
        method = ORDERING_METHOD_DISSECTION;
      }
    } else {
      method = ORDERING_METHOD_DISSECTION;
    }
    if (method == ORDERING_METHOD_MINIMUM_FILL) {
      const int64_t estimate = order_reduced_graph(r, c.reduced_start, factor_index, c.reduced_length,
                                                   params.factor_space, &free_entry, nullptr, reduced_lead, tfind,
                                                   c.reduced_order, c.ordering_work);
      if (estimate < 0) {
        status = BARRIER_SPACE_SHORT;
        return;
      }
    } else {
      order_nested_dissection(r, c.reduced_start, factor_index, c.reduced_length, base, params.factor_space,
                              c.edge_weight, c.label, c.ordering_work);
      for (int32_t v = 1; v <= r; ++v)
        if (c.label[v] == 0) c.label[v] = -1;
      // In automatic mode the unconstrained order of a copy competes. It
      // runs first, in the room above the copy, so that the constrained
      // order may then use all the room above the original lists.
      bool compared = false;
      int64_t unconstrained = 0;
      const int64_t copy_base = free_entry;
      const int64_t copy_end = copy_base + (free_entry - base);
      if (ordering == 0 && copy_end + r <= params.factor_space) {
        for (int32_t v = 1; v <= r; ++v) {
          c.copy_start[v] = static_cast<int32_t>(c.reduced_start[v] - base + copy_base);
          c.copy_length[v] = c.reduced_length[v];
        }
        for (int64_t e = base; e < free_entry; ++e) factor_index[e - base + copy_base] = factor_index[e];
        int32_t copy_free = static_cast<int32_t>(copy_end);
        unconstrained = order_reduced_graph(r, c.copy_start, factor_index, c.copy_length, params.factor_space,
                                            &copy_free, nullptr, reduced_lead, tfind, c.second_order,
                                            c.ordering_work);
        compared = unconstrained >= 0;
        // The copy's elements may have overwritten nothing of the original:
        // they live above copy_end.
      }
      const int64_t constrained = order_reduced_graph(r, c.reduced_start, factor_index, c.reduced_length,
                                                      params.factor_space, &free_entry, c.label, reduced_lead,
                                                      tfind, c.reduced_order, c.ordering_work);
      if (constrained < 0) {
        status = BARRIER_SPACE_SHORT;
        return;
      }
      if (compared && static_cast<double>(constrained) > kDissectionTolerance * static_cast<double>(unconstrained)) {
        for (int32_t k = 1; k <= r; ++k) c.reduced_order[k] = c.second_order[k];
        method = ORDERING_METHOD_DISSECTION_REJECTED;
      }
    }
    for (int32_t k = 1; k <= r; ++k) permutation[placed_front + k] = c.old_number[c.reduced_order[k]];
  }
  if (last_method != nullptr) *last_method = method;
  params.pivot_count = dim;
}

}  // namespace kl
