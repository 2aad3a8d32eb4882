// Fills a result store with 1,000,000 results the way workers deliver them (batches of
// records found in folders of 100 files, sharing one path string per folder) and prints
// the heap bytes per result beyond the bytes of the names themselves. Then times sorting
// the store by size, by file name and by path.
//
// Usage: bench_result_memory [results] [minNameLength] [maxNameLength]
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "results/result_manager.h"

namespace {

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const size_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const size_t minName = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 8;
  const size_t maxName = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 40;
  constexpr size_t kFilesPerFolder = 100;
  constexpr size_t kBatch = 256;

  auto store = std::make_unique<TResultManager>();
  std::mt19937 random(1);
  std::uniform_int_distribution<size_t> nameLength(minName, maxName);
  size_t nameBytes = 0;

  const size_t before = HeapInUse();
  PSearchResult batch[kBatch];
  size_t filled = 0;
  TPathRef path;
  for (size_t i = 0; i < total; ++i) {
    if (i % kFilesPerFolder == 0) {
      path = std::make_shared<const std::string>("/srv/share/projects/folder" +
                                                 std::to_string(i / kFilesPerFolder) + "/");
    }
    auto r = std::make_unique<TSearchResult>();
    r->Path = path;
    r->Name = std::to_string(i) + ".";
    r->Name.resize(std::max(nameLength(random), r->Name.size()), 'x');
    r->Size = static_cast<int64_t>(random() % 100'000'000);
    r->DateTime = 45'000.0 + (random() % 1'000'000) / 1000.0;
    r->Attr = 0x20;
    nameBytes += r->Name.size();
    batch[filled++] = std::move(r);
    if (filled == kBatch || i + 1 == total) {
      store->Lock.WaitFor(INFINITE);
      store->AddResults(static_cast<int32_t>(filled), batch);
      store->Lock.Release();
      filled = 0;
    }
  }
  path.reset();
  const size_t after = HeapInUse();
  const double perResult = static_cast<double>(after - before - nameBytes) / total;
  std::printf("results: %zu, name length %zu..%zu, average %.1f bytes\n", total, minName, maxName,
              static_cast<double>(nameBytes) / total);
  std::printf("heap: %.1f MB in all, %.1f MB of names\n", (after - before) / 1e6, nameBytes / 1e6);
  std::printf("record size: %zu bytes; store structures: %.1f bytes per result\n",
              sizeof(TSearchResult), static_cast<double>(store->StorageBytes()) / total);
  std::printf("bytes per result beyond the name bytes: %.1f (target <= 96)\n", perResult);

  auto start = std::chrono::steady_clock::now();
  store->SortKey = skSize;
  store->Sort();
  std::printf("sort by size: %.2f s\n", SecondsSince(start));
  start = std::chrono::steady_clock::now();
  store->SortKey = skFileName;
  store->Sort();
  std::printf("sort by file name: %.2f s\n", SecondsSince(start));
  start = std::chrono::steady_clock::now();
  store->SortKey = skPath;
  store->Sort();
  std::printf("sort by path: %.2f s\n", SecondsSince(start));
  return perResult <= 96.0 ? 0 : 1;
}
