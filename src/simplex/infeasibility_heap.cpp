#include "simplex/infeasibility_heap.h"

#include "factor/basis.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/dual_loop.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t infeasibility_heap_size = 0;

namespace {

// The three heap arrays; key[] is indexed by heap slot like heap[].
struct HeapArrays {
  OneBased<int32_t> heap = int_array(ARR_INFEAS_HEAP_INDEX);
  OneBased<int32_t> slot = int_array(ARR_INFEAS_HEAP_POS);
  OneBased<double> key = real_array(ARR_INFEAS_HEAP_VALUE);

  void place(int32_t s, int32_t position, double value) const {
    heap[s] = position;
    key[s] = value;
    slot[position] = s;
  }
  void sift_up(int32_t s) const {
    const int32_t position = heap[s];
    const double value = key[s];
    while (s > 1 && key[s / 2] < value) {
      place(s, heap[s / 2], key[s / 2]);
      s /= 2;
    }
    place(s, position, value);
  }
  void sift_down(int32_t s, int32_t size) const {
    const int32_t position = heap[s];
    const double value = key[s];
    for (;;) {
      int32_t child = 2 * s;
      if (child > size) break;
      if (child < size && key[child + 1] > key[child]) ++child;
      if (!(key[child] > value)) break;
      place(s, heap[child], key[child]);
      s = child;
    }
    place(s, position, value);
  }
  // A sift-down may read one key past an even-sized heap: keep it below
  // every real key.
  void set_sentinel(int32_t size) const {
    if (size % 2 == 0) key[size + 1] = -1.0;
  }
  void remove_slot(int32_t s, int32_t& size) const {
    slot[heap[s]] = 0;
    const int32_t last = size--;
    if (s != last) {
      place(s, heap[last], key[last]);
      if (s > 1 && key[s / 2] < key[s])
        sift_up(s);
      else
        sift_down(s, size);
    }
    set_sentinel(size);
  }
};

}  // namespace

double basic_infeasibility(double x, double lower, double upper) {
  const double t = dcv(dc::ZTOLZE);
  if (x > upper + t) return x - upper;
  if (x <= lower - t) return lower - x;
  return 0.0;
}

double heap_key(int32_t mode, double infeasibility, double weight) {
  if (mode == kDualPricingSteepestEdge) return infeasibility * infeasibility / weight;
  return infeasibility / weight;
}

double infeasibility_key(int32_t i, double infeasibility) {
  const double weight = i <= factor.factor_dimension ? real_array(ARR_ROW_WEIGHTS)[i] : 1.0;
  return heap_key(dual_pricing_mode, infeasibility, weight > 0.0 ? weight : 1.0);
}

void build_infeasibility_heap() {
  const HeapArrays a;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<double> lower = real_array(ARR_LOWER);
  double sum = 0.0;
  int32_t size = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    a.slot[i] = 0;
    const int32_t j = header[i];
    const double e = basic_infeasibility(values[i], lower[j], basic_upper[i]);
    if (e == 0.0) continue;
    sum += e;
    if ((status[j] & PS_MARK) != 0) continue;
    ++size;
    a.heap[size] = i;
    a.key[size] = infeasibility_key(i, e);
    a.slot[i] = size;
    a.sift_up(size);
  }
  a.set_sentinel(size);
  infeasibility_heap_size = size;
  ninf = size;
  suminf = sum;
}

void update_heap_entry(int32_t i, double key) {
  const HeapArrays a;
  int32_t size = infeasibility_heap_size;
  const int32_t s = a.slot[i];
  if (s != 0) {
    const double old = a.key[s];
    a.key[s] = key;
    if (key > old)
      a.sift_up(s);
    else
      a.sift_down(s, size);
    return;
  }
  const int32_t j = int_array(ARR_BASIS_HEADER)[i];
  if ((int_array(ARR_POS_STATUS)[j] & PS_MARK) != 0) return;
  ++size;
  a.place(size, i, key);
  a.sift_up(size);
  a.set_sentinel(size);
  infeasibility_heap_size = size;
  ninf = size;
}

void update_heap_position(int32_t i) {
  const int32_t j = int_array(ARR_BASIS_HEADER)[i];
  const double e = basic_infeasibility(real_array(ARR_BASIC_VALUES)[i], real_array(ARR_LOWER)[j],
                                       real_array(ARR_BASIC_UPPER)[i]);
  if (e == 0.0)
    remove_heap_entry(i);
  else
    update_heap_entry(i, infeasibility_key(i, e));
}

void remove_heap_entry(int32_t i) {
  const HeapArrays a;
  const int32_t s = a.slot[i];
  if (s == 0) return;
  int32_t size = infeasibility_heap_size;
  a.remove_slot(s, size);
  infeasibility_heap_size = size;
  ninf = size;
}

int32_t heap_top() { return infeasibility_heap_size > 0 ? int_array(ARR_INFEAS_HEAP_INDEX)[1] : 0; }

}  // namespace kl
