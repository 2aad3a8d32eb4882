#pragma once
// TSortedList<T>: a TStableList with an in-place quicksort.
//
// The quicksort partitions around the element in the middle of each range (Hoare style,
// not stable; ties end in no defined order). It always descends into the smaller part
// and loops over the larger one, so its stack depth stays logarithmic whatever the
// input order; the final arrangement is the same as descending into the left part
// first, because the two parts are sorted independently.
#include <cstddef>
#include <utility>
#include <vector>

#include "results/stable_list.h"

// The quicksort over the positions 0 .. count - 1 of any sequence: compare(i, j) orders
// the elements now at positions i and j (negative, zero or positive) and swap(i, j)
// exchanges them. Two sequences whose comparisons give the same signs end in the same
// arrangement. Only a strict weak order gives a sorted result, but whatever compare
// answers (even an element unequal to itself) the sort ends and never reaches a
// position outside 0 .. count - 1: the scans stop at the ends of their range.
template <class Compare, class Swap>
void QuickSortPositions(size_t count, Compare&& compare, Swap&& swap) {
  struct TSorter {
    Compare& CompareAt;
    Swap& SwapAt;
    void Sort(ptrdiff_t l, ptrdiff_t r) {
      while (l < r) {
        ptrdiff_t i = l;
        ptrdiff_t j = r;
        // The pivot is an element, not a position: follow it when a swap moves it.
        ptrdiff_t pivot = l + (r - l) / 2;
        do {
          while (i < r && CompareAt(i, pivot) < 0) ++i;
          while (j > l && CompareAt(j, pivot) > 0) --j;
          if (i <= j) {
            if (i != j) {
              SwapAt(i, j);
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
          if (l < j) Sort(l, j);
          l = i;
        } else {
          if (i < r) Sort(i, r);
          r = j;
        }
      }
    }
  };
  if (count == 0) return;
  TSorter{compare, swap}.Sort(0, static_cast<ptrdiff_t>(count) - 1);
}

template <class T>
class TSortedList : public TStableList<T> {
 public:
  // Sorts the list with compare(a, b) -> negative, zero or positive, comparing elements.
  // Exclusive use. The rules of QuickSortPositions apply.
  template <class Compare>
  void Sort(Compare&& compare) {
    QuickSortPositions(
        this->Count(),
        [&](ptrdiff_t i, ptrdiff_t j) { return compare(this->At(i), this->At(j)); },
        [&](ptrdiff_t i, ptrdiff_t j) { std::swap(this->At(i), this->At(j)); });
  }

  // Rearranges the elements so that position i holds the element that was at order[i].
  // order must be a permutation of 0 .. Count() - 1; it is left as the identity. Each
  // element moves once along its cycle. Exclusive use.
  void Permute(std::vector<size_t>& order) {
    for (size_t start = 0; start < order.size(); ++start) {
      if (order[start] == start) continue;
      T held = std::move(this->At(start));
      size_t to = start;
      for (size_t from = order[to]; from != start; from = order[to]) {
        this->At(to) = std::move(this->At(from));
        order[to] = to;
        to = from;
      }
      this->At(to) = std::move(held);
      order[to] = to;
    }
  }
};
