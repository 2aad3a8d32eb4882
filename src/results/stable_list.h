#pragma once
// TStableList<T>: an append-only list whose elements never move while it grows.
//
// Storage is a series of segments (16, 32, ... up to 2^MaxSegmentBits elements, then
// segments of that size); a full segment is never reallocated, so a reference to an
// element stays valid until Clear, Swap or destruction. The segment directory is
// replaced (never freed) when it fills, so a reader holding the old one still reads
// valid segments.
//
// Threads: one writer at a time may Append (the caller serialises writers) while any
// number of readers call Count and At: a reader sees every element below the Count it
// read, fully constructed. Clear, Swap, the mutable At and destruction need exclusive use
// (no reader, no writer).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

template <class T, unsigned MaxSegmentBits = 12>
class TStableList {
  static constexpr unsigned kFirstBits = 4;
  static_assert(MaxSegmentBits >= kFirstBits);
  // Number of growing segments (sizes 2^4 .. 2^MaxSegmentBits) and the elements they hold.
  static constexpr size_t kGrowingSegments = MaxSegmentBits - kFirstBits + 1;
  static constexpr size_t kGrowingCapacity =
      (size_t{1} << (MaxSegmentBits + 1)) - (size_t{1} << kFirstBits);
  static constexpr size_t kMaxSegment = size_t{1} << MaxSegmentBits;

  struct TDirectory {
    explicit TDirectory(size_t capacity)
        : Capacity(capacity), Segments(new std::atomic<T*>[capacity]) {
      for (size_t i = 0; i < capacity; ++i) Segments[i].store(nullptr, std::memory_order_relaxed);
    }
    size_t Capacity;
    std::unique_ptr<std::atomic<T*>[]> Segments;
  };

 public:
  TStableList() = default;
  ~TStableList() { Clear(); }
  TStableList(const TStableList&) = delete;
  TStableList& operator=(const TStableList&) = delete;

  // Elements that readers may access. Safe from any thread.
  size_t Count() const { return Size.load(std::memory_order_acquire); }

  // Element i < Count(). Safe from any thread while one writer appends. Throws
  // std::out_of_range for i >= Count() rather than reading past the storage.
  const T& At(size_t i) const { return *Locate(i); }
  // Mutable access for exclusive use (sorting).
  T& At(size_t i) { return *Locate(i); }

  // Appends value at the end and publishes it to readers. One writer at a time.
  void Append(T&& value) {
    const size_t n = Size.load(std::memory_order_relaxed);
    const auto [segment, offset] = SegmentOf(n);
    T* base = SegmentFor(segment);
    new (base + offset) T(std::move(value));
    Size.store(n + 1, std::memory_order_release);
  }

  // Destroys every element and frees the storage. Exclusive use.
  void Clear() {
    const size_t n = Size.load(std::memory_order_relaxed);
    for (size_t i = 0; i < n; ++i) Locate(i)->~T();
    Size.store(0, std::memory_order_release);
    if (TDirectory* dir = Directory.load(std::memory_order_relaxed)) {
      for (size_t s = 0; s < dir->Capacity; ++s) {
        if (T* seg = dir->Segments[s].load(std::memory_order_relaxed)) {
          ::operator delete(seg, std::align_val_t{alignof(T)});
        }
      }
    }
    Directory.store(nullptr, std::memory_order_relaxed);
    Directories.clear();
  }

  // Exchanges the contents of two lists. Exclusive use of both.
  void Swap(TStableList& other) {
    const size_t a = Size.load(std::memory_order_relaxed);
    Size.store(other.Size.load(std::memory_order_relaxed), std::memory_order_relaxed);
    other.Size.store(a, std::memory_order_relaxed);
    TDirectory* d = Directory.load(std::memory_order_relaxed);
    Directory.store(other.Directory.load(std::memory_order_relaxed), std::memory_order_relaxed);
    other.Directory.store(d, std::memory_order_relaxed);
    Directories.swap(other.Directories);
  }

  // Bytes of storage held for elements and directories (the elements' own heap
  // allocations excluded). For memory accounting.
  size_t StorageBytes() const {
    size_t bytes = 0;
    for (const auto& dir : Directories) bytes += dir->Capacity * sizeof(std::atomic<T*>);
    if (TDirectory* dir = Directory.load(std::memory_order_relaxed)) {
      for (size_t s = 0; s < dir->Capacity; ++s) {
        if (dir->Segments[s].load(std::memory_order_relaxed)) bytes += SegmentLength(s) * sizeof(T);
      }
    }
    return bytes;
  }

 private:
  static size_t SegmentLength(size_t segment) {
    return segment < kGrowingSegments ? (size_t{1} << (kFirstBits + segment)) : kMaxSegment;
  }

  static std::pair<size_t, size_t> SegmentOf(size_t i) {
    if (i < kGrowingCapacity) {
      const size_t scaled = (i >> kFirstBits) + 1;  // segment s starts at 16 * (2^s - 1)
      const size_t segment = std::bit_width(scaled) - 1;
      return {segment, i - ((size_t{1} << (kFirstBits + segment)) - (size_t{1} << kFirstBits))};
    }
    const size_t rest = i - kGrowingCapacity;
    return {kGrowingSegments + rest / kMaxSegment, rest % kMaxSegment};
  }

  T* Locate(size_t i) const {
    if (i >= Size.load(std::memory_order_acquire)) throw std::out_of_range("TStableList::At");
    const auto [segment, offset] = SegmentOf(i);
    TDirectory* dir = Directory.load(std::memory_order_acquire);
    return dir->Segments[segment].load(std::memory_order_acquire) + offset;
  }

  // The writer's path: the segment's storage, allocated (and the directory grown) on demand.
  T* SegmentFor(size_t segment) {
    TDirectory* dir = Directory.load(std::memory_order_relaxed);
    if (!dir || segment >= dir->Capacity) {
      auto grown = std::make_unique<TDirectory>(dir ? dir->Capacity * 2 : kGrowingSegments + 2);
      if (dir) {
        for (size_t s = 0; s < dir->Capacity; ++s) {
          grown->Segments[s].store(dir->Segments[s].load(std::memory_order_relaxed),
                                   std::memory_order_relaxed);
        }
      }
      dir = grown.get();
      // Older directories stay alive: a reader may still be looking through one.
      Directories.push_back(std::move(grown));
      Directory.store(dir, std::memory_order_release);
    }
    T* seg = dir->Segments[segment].load(std::memory_order_relaxed);
    if (!seg) {
      seg = static_cast<T*>(
          ::operator new(SegmentLength(segment) * sizeof(T), std::align_val_t{alignof(T)}));
      dir->Segments[segment].store(seg, std::memory_order_release);
    }
    return seg;
  }

  std::atomic<size_t> Size{0};
  std::atomic<TDirectory*> Directory{nullptr};
  std::vector<std::unique_ptr<TDirectory>> Directories;  // every directory ever made; writer only
};
