#include "barrier/ordering/heapsort.h"

namespace kl {

namespace {

// One heapsort over a[1..count] with a comparison key taken through `key_of`.
// The first phase builds the heap from l = count/2 down to 1; the second
// moves the top to the end of a shrinking heap and sifts the last element
// down from the root.
template <typename KeyOf>
void heapsort(int32_t count, int32_t* a, KeyOf key_of) {
  // With fewer than two elements the second phase would read a[0] and write
  // before the list.
  if (count < 2) return;
  int32_t l = count / 2 + 1;
  int32_t r = count;
  for (;;) {
    int32_t t;
    if (l > 1) {
      --l;
      t = a[l];
    } else {
      t = a[r];
      a[r] = a[1];
      --r;
      if (r == 1) {
        a[1] = t;
        return;
      }
    }
    const auto t_key = key_of(t);
    int32_t i = l;
    // 64 bits: j doubles and may pass 2^31 for lists above 2^30 entries.
    int64_t j = 2 * static_cast<int64_t>(l);
    while (j <= r) {
      if (j < r && key_of(a[j]) < key_of(a[j + 1])) ++j;
      if (t_key < key_of(a[j])) {
        a[i] = a[j];
        i = static_cast<int32_t>(j);
        j *= 2;
      } else {
        break;
      }
    }
    a[i] = t;
  }
}

}  // namespace

void sort_index_by_key(int32_t count, int32_t* index, const int32_t* key) {
  heapsort(count, index, [key](int32_t v) { return key[v]; });
}

void sort_int_array(int32_t count, int32_t* values) {
  heapsort(count, values, [](int32_t v) { return v; });
}

}  // namespace kl
