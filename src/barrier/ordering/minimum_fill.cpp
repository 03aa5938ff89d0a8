// Quotient-graph elimination of the reduced graph: elements, element
// absorption, mass elimination, supervariables by hashing, approximate
// external degrees; the pivot is the smallest approximate fill score among
// the first TFIND candidates of lowest degree. Groups, when given, are
// released into the degree lists one after another, so that an outer
// ordering (the dissection) fixes the coarse order.
#include "barrier/ordering/minimum_fill.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kl {

namespace {

enum NodeKind : int32_t {
  kVariable = 0,
  kElement = 1,   // eliminated; its list holds the variables of its element
  kAbsorbed = 2,  // merged into a supervariable or mass-eliminated (parent)
  kDeadElement = 3,
};

constexpr int32_t kWorkArrays = 17;

struct ReducedGraphState {
  int32_t r = 0;
  int32_t* start = nullptr;
  int32_t* len = nullptr;
  int32_t* fi = nullptr;
  const int32_t* group = nullptr;
  int32_t* elen = nullptr;       // elements at the head of a variable's list
  int32_t* nv = nullptr;         // supervariable weight; negative inside the pivot's element
  int32_t* degree = nullptr;     // approximate external degree, or element size
  int32_t* deg_next = nullptr;
  int32_t* deg_prev = nullptr;
  int32_t* deg_head = nullptr;   // 0..r
  int32_t* hash_head = nullptr;  // 1..r
  int32_t* hash_next = nullptr;
  int32_t* hash_of = nullptr;
  int32_t* w = nullptr;
  int32_t* last_element = nullptr;
  int32_t* release = nullptr;
  int32_t* kind = nullptr;
  int32_t* parent = nullptr;
  int32_t* number = nullptr;
  int32_t* buffer = nullptr;     // the new element while it is built; the garbage collection order
  int32_t* in_list = nullptr;
  int32_t in_lists = 0;
  int32_t mindeg = 0;
  int32_t current_group = 0;
  int32_t wflg = 2;
  int32_t mark_limit = 0;
  int32_t base = 1;  // lowest list start: the garbage collection packs from here
  int32_t free = 1;
  int32_t max_used = 0;

  int32_t group_of(int32_t i) const {
    if (group == nullptr) return 0;
    return group[i] < 0 ? group[i] : 0;
  }

  void insert(int32_t i) {
    const int32_t d = degree[i];
    const int32_t h = deg_head[d];
    deg_next[i] = h;
    deg_prev[i] = 0;
    if (h != 0) deg_prev[h] = i;
    deg_head[d] = i;
    in_list[i] = 1;
    ++in_lists;
    if (d < mindeg) mindeg = d;
  }

  void remove(int32_t i) {
    if (in_list[i] == 0) return;
    const int32_t nx = deg_next[i];
    const int32_t pv = deg_prev[i];
    if (nx != 0) deg_prev[nx] = pv;
    if (pv != 0) {
      deg_next[pv] = nx;
    } else {
      deg_head[degree[i]] = nx;
    }
    in_list[i] = 0;
    --in_lists;
  }

  // Marks older than wflg must stay below it, and wflg plus an element size
  // must stay representable: restart the marks well before the int limit.
  void check_mark_reset() {
    if (wflg < mark_limit) return;
    for (int32_t x = 1; x <= r; ++x) {
      if (w[x] != 0) w[x] = 1;
    }
    wflg = 2;
  }

  bool is_live_list(int32_t i) const {
    return (kind[i] == kVariable || kind[i] == kElement) && len[i] > 0;
  }

  // Packs the live lists toward the base in their storage order.
  void collect_garbage() {
    int32_t count = 0;
    for (int32_t i = 1; i <= r; ++i) {
      if (is_live_list(i)) buffer[++count] = i;
    }
    std::sort(buffer + 1, buffer + count + 1,
              [this](int32_t a, int32_t b) { return start[a] < start[b]; });
    int32_t next = base;
    for (int32_t k = 1; k <= count; ++k) {
      const int32_t i = buffer[k];
      if (start[i] != next) std::memmove(fi + next, fi + start[i], sizeof(int32_t) * len[i]);
      start[i] = next;
      next += len[i];
    }
    free = next;
  }
};

}  // namespace

int64_t reduced_graph_work_size(int32_t node_count) {
  return static_cast<int64_t>(kWorkArrays) * (static_cast<int64_t>(node_count) + 1);
}

int64_t order_reduced_graph(int32_t node_count, int32_t* list_start, int32_t* factor_index,
                            int32_t* list_length, int32_t factor_space, int32_t* free_entry,
                            const int32_t* group, int32_t n_lead, int32_t TFIND,
                            int32_t* permutation, int32_t* work, int32_t mark_limit) {
  const int32_t r = node_count;
  if (r <= 0) return 0;
  ReducedGraphState s;
  s.r = r;
  s.start = list_start;
  s.len = list_length;
  s.fi = factor_index;
  s.group = group;
  const int64_t stride = static_cast<int64_t>(r) + 1;
  int32_t** arrays[kWorkArrays] = {&s.elen,      &s.nv,       &s.degree,    &s.deg_next, &s.deg_prev,
                                   &s.deg_head,  &s.hash_head, &s.hash_next, &s.hash_of,  &s.w,
                                   &s.last_element, &s.release, &s.kind,     &s.parent,   &s.number,
                                   &s.buffer,    &s.in_list};
  for (int32_t k = 0; k < kWorkArrays; ++k) *arrays[k] = work + k * stride;
  std::fill(work, work + kWorkArrays * stride, 0);
  s.mark_limit = mark_limit > 2 ? mark_limit : INT_MAX - r;
  s.free = *free_entry;
  s.max_used = s.free - 1;
  s.base = s.free;
  for (int32_t i = 1; i <= r; ++i) {
    if (list_length[i] > 0) s.base = std::min(s.base, list_start[i]);
  }

  // Start: every node a variable of weight 1 with its list length as degree.
  for (int32_t i = 1; i <= r; ++i) {
    s.nv[i] = 1;
    s.w[i] = 1;
    s.degree[i] = std::min(list_length[i], r);
    s.release[i] = i;
  }
  s.wflg = 2;
  s.check_mark_reset();
  const int32_t hash_modulus = std::max(r - 1, 1);
  s.mindeg = r;

  // Release order: the most negative group first, inside a group the
  // highest node number first (head insertion then puts the lowest in front).
  bool grouped = false;
  if (group != nullptr) {
    for (int32_t i = 1; i <= r && !grouped; ++i) grouped = group[i] < 0;
  }
  if (grouped) {
    std::sort(s.release + 1, s.release + r + 1, [&s](int32_t a, int32_t b) {
      const int32_t ga = s.group_of(a);
      const int32_t gb = s.group_of(b);
      return ga != gb ? ga < gb : a > b;
    });
  }
  int32_t release_next = 1;
  s.current_group = INT_MIN;

  int32_t nel = 0;  // eliminated weight
  int64_t fill_sum = 0;
  int64_t counted = 0;
  int32_t dmax = 0;

  while (nel < r) {
    // Release the next group when the degree lists have run dry.
    while (s.in_lists == 0 && release_next <= r) {
      s.current_group = s.group_of(s.release[release_next]);
      while (release_next <= r && s.group_of(s.release[release_next]) == s.current_group) {
        const int32_t i = s.release[release_next++];
        if (s.kind[i] != kVariable) continue;
        if (s.degree[i] == 0) {
          // An isolated node needs no pivot step.
          s.kind[i] = kElement;
          s.number[i] = nel + 1;
          nel += s.nv[i];
          s.len[i] = 0;
        } else {
          s.insert(i);
        }
      }
    }
    if (s.in_lists == 0) break;

    // Pivot choice: the head of the lowest degree list, or the best fill
    // score among up to TFIND candidates from there on.
    int32_t d = s.mindeg;
    while (d <= r && s.deg_head[d] == 0) ++d;
    s.mindeg = d;
    int32_t pivot = s.deg_head[d];
    if (d < r && TFIND > 0) {
      double best = (r + 1.1) * (r + 1.1);
      int32_t scored = 0;
      for (int32_t dd = d; dd < r && scored < TFIND && scored < s.in_lists; ++dd) {
        for (int32_t x = s.deg_head[dd]; x != 0 && scored < TFIND; x = s.deg_next[x]) {
          const int32_t e = s.last_element[x];
          const double c = e != 0 ? static_cast<double>(s.degree[e]) : 0.0;
          const double score = ((dd - 1.0) * dd - (c - 1.0) * c) / s.nv[x];
          ++scored;
          if (score < best || (score == best && pivot > n_lead && x <= n_lead)) {
            best = score;
            pivot = x;
          }
        }
      }
    }

    // Elimination of the pivot.
    const int32_t me = pivot;
    s.remove(me);
    const int32_t nvpiv = s.nv[me];
    const int64_t dpiv = s.degree[me];
    fill_sum += static_cast<int64_t>(nvpiv) * (nvpiv - 1) / 2 + dpiv * nvpiv;
    counted += nvpiv;
    s.number[me] = nel + 1;
    nel += nvpiv;
    s.nv[me] = -nvpiv;
    s.kind[me] = kElement;
    int32_t degme = 0;
    int32_t pme1 = 0;
    int32_t pme2 = 0;
    const int32_t elenme = s.elen[me];
    if (elenme == 0) {
      // Only variables around the pivot: the element takes its list's place.
      pme1 = s.start[me];
      pme2 = pme1 - 1;
      for (int32_t p = pme1; p < pme1 + s.len[me]; ++p) {
        const int32_t i = factor_index[p];
        if (s.nv[i] > 0) {
          degme += s.nv[i];
          s.nv[i] = -s.nv[i];
          factor_index[++pme2] = i;
          s.remove(i);
        }
      }
    } else {
      int32_t count = 0;
      for (int32_t k = 1; k <= elenme + 1; ++k) {
        int32_t e;
        int32_t p;
        int32_t ln;
        if (k <= elenme) {
          e = factor_index[s.start[me] + k - 1];
          p = s.start[e];
          ln = s.len[e];
        } else {
          e = me;
          p = s.start[me] + elenme;
          ln = s.len[me] - elenme;
        }
        for (int32_t q = p; q < p + ln; ++q) {
          const int32_t i = factor_index[q];
          if (s.nv[i] > 0) {
            degme += s.nv[i];
            s.nv[i] = -s.nv[i];
            s.buffer[++count] = i;
            s.remove(i);
          }
        }
        if (e != me) {
          s.parent[e] = me;
          s.kind[e] = kDeadElement;
          s.w[e] = 0;
          s.len[e] = 0;
        }
      }
      s.len[me] = 0;
      if (static_cast<int64_t>(s.free) + count - 1 > factor_space) {
        // The buffer is reused by the collection: keep the element aside in
        // the permutation, which is not written before the end.
        std::memcpy(permutation + 1, s.buffer + 1, sizeof(int32_t) * count);
        s.collect_garbage();
        std::memcpy(s.buffer + 1, permutation + 1, sizeof(int32_t) * count);
        if (static_cast<int64_t>(s.free) + count - 1 > factor_space) {
          *free_entry = s.max_used;
          return -1;
        }
      }
      pme1 = s.free;
      std::memcpy(factor_index + pme1, s.buffer + 1, sizeof(int32_t) * count);
      s.free += count;
      pme2 = s.free - 1;
      s.max_used = std::max(s.max_used, pme2);
    }
    s.degree[me] = degme;
    s.start[me] = pme1;
    s.len[me] = pme2 - pme1 + 1;
    s.elen[me] = 0;

    // External sizes |Le \ Lme| of the elements around the element's
    // variables, through the marks: w[e] - wflg.
    s.check_mark_reset();
    for (int32_t pme = pme1; pme <= pme2; ++pme) {
      const int32_t i = factor_index[pme];
      const int32_t eln = s.elen[i];
      if (eln <= 0) continue;
      const int32_t nvi = -s.nv[i];
      const int32_t wnvi = s.wflg - nvi;
      for (int32_t p = s.start[i]; p < s.start[i] + eln; ++p) {
        const int32_t e = factor_index[p];
        int32_t we = s.w[e];
        if (we >= s.wflg) {
          we -= nvi;
        } else if (we != 0) {
          we = s.degree[e] + wnvi;
        }
        s.w[e] = we;
      }
    }

    // Degree update, list pruning, mass elimination and hashing.
    for (int32_t pme = pme1; pme <= pme2; ++pme) {
      const int32_t i = factor_index[pme];
      const int32_t p1 = s.start[i];
      const int32_t p2 = p1 + s.elen[i] - 1;
      int32_t pn = p1;
      uint64_t hash = 0;
      int64_t deg = 0;
      for (int32_t p = p1; p <= p2; ++p) {
        const int32_t e = factor_index[p];
        if (s.w[e] != 0) {
          deg += s.w[e] - s.wflg;
          factor_index[pn++] = e;
          hash += static_cast<uint64_t>(e);
        }
      }
      s.elen[i] = pn - p1 + 1;
      const int32_t p3 = pn;
      const int32_t p4 = p1 + s.len[i];
      for (int32_t p = p2 + 1; p < p4; ++p) {
        const int32_t j = factor_index[p];
        if (s.nv[j] > 0) {
          deg += s.nv[j];
          factor_index[pn++] = j;
          hash += static_cast<uint64_t>(j);
        }
      }
      if (s.elen[i] == 1 && p3 == pn) {
        // Only the new element around i: it goes with the pivot.
        const int32_t nvi = -s.nv[i];
        s.parent[i] = me;
        s.kind[i] = kAbsorbed;
        degme -= nvi;
        nel += nvi;
        s.nv[i] = 0;
        s.elen[i] = 0;
        s.len[i] = 0;
      } else {
        if (deg < s.degree[i]) s.degree[i] = static_cast<int32_t>(deg);
        // The new element goes to the head of the list; the displaced first
        // element and first variable move to the ends of their parts.
        factor_index[pn] = factor_index[p3];
        factor_index[p3] = factor_index[p1];
        factor_index[p1] = me;
        s.len[i] = pn - p1 + 1;
        const int32_t bucket = static_cast<int32_t>(hash % static_cast<uint64_t>(hash_modulus)) + 1;
        s.hash_of[i] = bucket;
        s.hash_next[i] = s.hash_head[bucket];
        s.hash_head[bucket] = i;
      }
    }
    s.degree[me] = degme;
    dmax = std::max(dmax, degme);
    s.wflg += dmax;
    s.check_mark_reset();

    // Supervariables: variables of one bucket with equal lists merge.
    for (int32_t pme = pme1; pme <= pme2; ++pme) {
      const int32_t first = factor_index[pme];
      if (s.nv[first] >= 0) continue;
      const int32_t bucket = s.hash_of[first];
      int32_t i = s.hash_head[bucket];
      if (i == 0) continue;
      s.hash_head[bucket] = 0;
      while (i != 0 && s.hash_next[i] != 0) {
        const int32_t ln = s.len[i];
        const int32_t eln = s.elen[i];
        for (int32_t p = s.start[i] + 1; p < s.start[i] + ln; ++p) s.w[factor_index[p]] = s.wflg;
        int32_t jlast = i;
        int32_t j = s.hash_next[i];
        while (j != 0) {
          bool same = s.len[j] == ln && s.elen[j] == eln;
          for (int32_t p = s.start[j] + 1; same && p < s.start[j] + ln; ++p) {
            same = s.w[factor_index[p]] == s.wflg;
          }
          if (same) {
            s.parent[j] = i;
            s.kind[j] = kAbsorbed;
            s.nv[i] += s.nv[j];
            s.nv[j] = 0;
            s.elen[j] = 0;
            s.len[j] = 0;
            j = s.hash_next[j];
            s.hash_next[jlast] = j;
          } else {
            jlast = j;
            j = s.hash_next[j];
          }
        }
        ++s.wflg;
        i = s.hash_next[i];
      }
    }
    s.check_mark_reset();

    // Reinsertion of the element's variables with their final degrees.
    int32_t kept = pme1;
    const int32_t nleft = r - nel;
    for (int32_t pme = pme1; pme <= pme2; ++pme) {
      const int32_t i = factor_index[pme];
      const int32_t nvi = -s.nv[i];
      if (nvi <= 0) continue;
      s.nv[i] = nvi;
      int32_t deg = std::min(s.degree[i] + degme - nvi, nleft - nvi);
      if (deg < 1) deg = 1;
      s.degree[i] = deg;
      s.last_element[i] = me;
      s.hash_next[i] = 0;
      if (s.group_of(i) <= s.current_group) s.insert(i);
      factor_index[kept++] = i;
    }
    s.nv[me] = 0;
    s.len[me] = kept - pme1;
    if (s.len[me] == 0) {
      s.kind[me] = kDeadElement;
      s.w[me] = 0;
    }
  }

  // Numbering: absorbed nodes follow their chain to the eliminated node at
  // its end and are numbered in front of it.
  for (int32_t i = 1; i <= r; ++i) {
    if (s.kind[i] != kAbsorbed || s.number[i] != 0) continue;
    int32_t e = i;
    while (s.kind[e] == kAbsorbed) e = s.parent[e];
    for (int32_t x = i; s.kind[x] == kAbsorbed;) {
      const int32_t next = s.parent[x];
      if (s.number[x] == 0) s.number[x] = s.number[e]++;
      s.parent[x] = e;
      x = next;
    }
  }
  std::fill(permutation + 1, permutation + r + 1, 0);
  for (int32_t i = 1; i <= r; ++i) {
    const int32_t k = s.number[i];
    if (k >= 1 && k <= r) permutation[k] = i;
  }
  *free_entry = s.max_used;
  return counted > 0 ? static_cast<int64_t>(r) * fill_sum / counted : 0;
}

}  // namespace kl
