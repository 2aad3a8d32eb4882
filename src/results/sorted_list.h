#pragma once
// TSortedList<T>: a TStableList with an in-place quicksort.
//
// Sort partitions around the element in the middle of each range (Hoare style, not
// stable; ties end in no defined order). It always descends into the smaller part
// and loops over the larger one, so its stack depth stays logarithmic whatever the
// input order; the final arrangement is the same as descending into the left part
// first, because the two parts are sorted independently.
#include <cstddef>
#include <utility>

#include "results/stable_list.h"

template <class T>
class TSortedList : public TStableList<T> {
 public:
  // Sorts the list with compare(a, b) -> negative, zero or positive. Exclusive use.
  // compare must give the same answer for the same two elements every time; it
  // need not be transitive (the scans only ever stop on direct comparisons).
  template <class Compare>
  void Sort(Compare&& compare) {
    const size_t n = this->Count();
    if (n == 0) return;
    QuickSort(0, static_cast<ptrdiff_t>(n) - 1, compare);
  }

 private:
  template <class Compare>
  void QuickSort(ptrdiff_t l, ptrdiff_t r, Compare& compare) {
    while (l < r) {
      ptrdiff_t i = l;
      ptrdiff_t j = r;
      // The pivot is an element, not a position: follow it when a swap moves it.
      ptrdiff_t pivot = l + (r - l) / 2;
      do {
        while (compare(this->At(i), this->At(pivot)) < 0) ++i;
        while (compare(this->At(j), this->At(pivot)) > 0) --j;
        if (i <= j) {
          if (i != j) {
            std::swap(this->At(i), this->At(j));
            if (pivot == i) {
              pivot = j;
            } else if (pivot == j) {
              pivot = i;
            }
          }
          ++i;
          --j;
        }
      } while (i <= j);
      if (j - l < r - i) {
        if (l < j) QuickSort(l, j, compare);
        l = i;
      } else {
        if (i < r) QuickSort(i, r, compare);
        r = j;
      }
    }
  }
};
