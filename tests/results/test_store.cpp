#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "os/dos_time.h"
#include "results/result_manager.h"
#include "results/stable_list.h"

namespace {

PSearchResult Result(const std::string& path, const std::string& name, int64_t size = 0,
                     double dateTime = 0.0, uint32_t attr = 0) {
  auto r = std::make_unique<TSearchResult>();
  r->Path = std::make_shared<const std::string>(path);
  r->Name = name;
  r->Size = size;
  r->DateTime = dateTime;
  r->Attr = attr;
  return r;
}

void Add(TResultManager& store, PSearchResult r) { store.AddResults(1, &r); }

std::vector<std::string> Names(const TResultManager& store) {
  std::vector<std::string> names;
  for (size_t i = 0; i < store.Count(); ++i) names.push_back(store.Item(i).Name);
  return names;
}

// What the page does when a sort action with tag t runs.
void SortBy(TResultManager& store, int32_t t) {
  store.SortKey = (store.SortKey != 0 && std::abs(store.SortKey) == t) ? -t * (store.SortKey > 0 ? 1 : -1) : t;
  store.Sort();
}

TEST(StableList, ElementsStayPutAndIndexAcrossSegments) {
  TStableList<int64_t, 6> list;  // small segments: many boundaries and directory growth
  list.Append(0);
  const int64_t* first = &list.At(0);
  for (int64_t i = 1; i < 20'000; ++i) list.Append(int64_t{i});
  EXPECT_EQ(first, &list.At(0));
  ASSERT_EQ(list.Count(), 20'000u);
  for (size_t i = 0; i < list.Count(); ++i) ASSERT_EQ(list.At(i), static_cast<int64_t>(i));
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  list.Append(7);
  EXPECT_EQ(list.At(0), 7);
}

TEST(ResultManager, AddResultsTakesExactlyCountAndLeavesTheRest) {
  TResultManager store;
  PSearchResult batch[4] = {Result("/a/", "1"), Result("/a/", "2"), Result("/a/", "3"),
                            Result("/a/", "4")};
  store.AddResults(3, batch);
  EXPECT_EQ(Names(store), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(batch[0], nullptr);
  EXPECT_EQ(batch[2], nullptr);
  ASSERT_NE(batch[3], nullptr);
  EXPECT_EQ(batch[3]->Name, "4");
  EXPECT_EQ(store.Item(1).FullName(), "/a/2");
}

TEST(ResultManager, ClearKeepsSortKeyAndChangedNotifies) {
  TResultManager store;
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  Add(store, Result("/", "b"));
  Add(store, Result("/", "a"));
  SortBy(store, skFileName);
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(store.SortKey, skFileName);

  TResultManager* sender = nullptr;
  store.Changed();  // no handler: nothing happens
  store.OnChange = [&](TResultManager* s) { sender = s; };
  store.Changed();
  EXPECT_EQ(sender, &store);
}

TEST(ResultManager, ReplaceAllSwapsInNewRecords) {
  TResultManager store;
  Add(store, Result("/", "old"));
  std::vector<PSearchResult> loaded;
  loaded.push_back(Result("/x/", "n1"));
  loaded.push_back(Result("/x/", "n2"));
  store.ReplaceAll(std::move(loaded));
  EXPECT_EQ(Names(store), (std::vector<std::string>{"n1", "n2"}));
}

struct SortCase {
  int32_t key;
  std::vector<std::string> expected;
};

TEST(ResultManager, SortKeysOrderTheRecords) {
  const double monday = EncodeDateTime(2024, 3, 11);
  const double tuesday = EncodeDateTime(2024, 3, 12);
  auto fill = [&](TResultManager& store) {
    Add(store, Result("/b/", "c", 3 * (int64_t{1} << 30), tuesday + 0.25, 0x21));  // 06:00, RA
    Add(store, Result("/a/", "b", 10, monday + 0.75, 0x02));                        // 18:00, H
    Add(store, Result("/c/", "a", 2048, monday + 0.5, 0x00));                       // 12:00, ""
  };
  const SortCase cases[] = {
      {skPath, {"b", "c", "a"}},      {-skPath, {"a", "c", "b"}},
      {skFileName, {"a", "b", "c"}},  {skSize, {"b", "a", "c"}},
      {-skSize, {"c", "a", "b"}},     {skTime, {"c", "a", "b"}},
      {skAttr, {"a", "b", "c"}},      {-skAttr, {"c", "b", "a"}},
  };
  for (const SortCase& c : cases) {
    TResultManager store;
    fill(store);
    store.SortKey = c.key;
    store.Sort();
    EXPECT_EQ(Names(store), c.expected) << "key " << c.key;
  }
}

TEST(ResultManager, SortActionFlipsOnlyTheSameColumn) {
  TResultManager store;
  for (const char* n : {"b", "c", "a"}) Add(store, Result("/", n));
  SortBy(store, skFileName);
  EXPECT_EQ(Names(store), (std::vector<std::string>{"a", "b", "c"}));
  SortBy(store, skFileName);
  EXPECT_EQ(store.SortKey, -skFileName);
  EXPECT_EQ(Names(store), (std::vector<std::string>{"c", "b", "a"}));
  SortBy(store, skPath);  // another column starts ascending
  EXPECT_EQ(store.SortKey, skPath);
  SortBy(store, skFileName);
  EXPECT_EQ(store.SortKey, skFileName);
}

TEST(CompareResults, KeysIgnoreWhatTheyDoNotCover) {
  const double day = EncodeDateTime(2024, 3, 11);
  const PSearchResult a = Result("C:\\b\\", "A.txt", 1, day + 0.1);
  const PSearchResult b = Result("c:\\B\\", "a.TXT", 1, day + 0.9);
  const PSearchResult c = Result("/", "x", 1, day + 3 + 0.1 + 1e-10);
  EXPECT_EQ(TResultManager::CompareResults(skPath, *a, *b), 0);
  EXPECT_EQ(TResultManager::CompareResults(skFileName, *a, *b), 0);
  EXPECT_EQ(TResultManager::CompareResults(skDate, *a, *b), 0);
  EXPECT_EQ(TResultManager::CompareResults(skTime, *a, *c), 0);
  EXPECT_EQ(TResultManager::CompareResults(skTime, *b, *c), 1);
  EXPECT_EQ(TResultManager::CompareResults(-skTime, *b, *c), -1);
  EXPECT_EQ(TResultManager::CompareResults(skDate, *a, *c), -1);
  EXPECT_EQ(TResultManager::CompareResults(0, *a, *c), 0);
  EXPECT_EQ(TResultManager::CompareResults(7, *a, *c), 0);
  EXPECT_EQ(TResultManager::CompareResults(INT32_MIN, *a, *c), 0);
}

TEST(CompareResults, AttrOrderFollowsTheLetterTexts) {
  TResultManager store;
  for (uint32_t attr : {0x21u, 0x01u, 0x22u, 0x20u, 0x00u, 0x02u}) {
    Add(store, Result("/", std::to_string(attr), 0, 0.0, attr));
  }
  store.SortKey = skAttr;
  store.Sort();
  // "", A, H, HA, R, RA
  EXPECT_EQ(Names(store), (std::vector<std::string>{"0", "32", "2", "34", "1", "33"}));
}

TEST(ResultManager, SortOfManyRecordsIsOrderedAndLosesNothing) {
  TResultManager store;
  std::mt19937 random(42);
  std::vector<int64_t> sizes;
  for (int i = 0; i < 5000; ++i) {
    const int64_t size = random() % 300;  // many ties
    sizes.push_back(size);
    Add(store, Result("/", std::to_string(i), size));
  }
  store.SortKey = -skSize;
  store.Sort();
  std::sort(sizes.rbegin(), sizes.rend());
  std::vector<int64_t> sorted;
  std::vector<std::string> names;
  for (size_t i = 0; i < store.Count(); ++i) {
    sorted.push_back(store.Item(i).Size);
    names.push_back(store.Item(i).Name);
  }
  EXPECT_EQ(sorted, sizes);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
  EXPECT_EQ(names.size(), 5000u);
}

TEST(ResultManager, LargeSortedAndAllEqualInputsSort) {
  // Large inputs of the shapes that degrade a naive quicksort; must neither crash nor
  // scramble.
  TResultManager store;
  for (int i = 0; i < 200'000; ++i) Add(store, Result("/", "", 5));
  store.SortKey = skSize;
  store.Sort();
  EXPECT_EQ(store.Count(), 200'000u);
  TResultManager ascending;
  for (int i = 0; i < 200'000; ++i) Add(ascending, Result("/", "", i));
  ascending.SortKey = -skSize;
  ascending.Sort();
  EXPECT_EQ(ascending.Item(0).Size, 199'999);
  EXPECT_EQ(ascending.Item(199'999).Size, 0);
}

// A worker appends batches under the process-wide lock and runs Changed while holding
// it; the reader (this thread) reads Count and every record below it without a lock.
TEST(ResultManager, ReadersSeeWholeRecordsWhileAWorkerAppends) {
  TResultManager store;
  constexpr int kBatches = 400;
  constexpr int kBatch = 50;
  constexpr size_t kTotal = size_t{kBatches} * kBatch;
  std::atomic<size_t> lastNotified{0};
  std::atomic<bool> workerDone{false};
  store.OnChange = [&](TResultManager* s) { lastNotified.store(s->Count()); };
  std::thread worker([&] {
    int next = 0;
    for (int b = 0; b < kBatches; ++b) {
      auto path = std::make_shared<const std::string>("/folder" + std::to_string(b) + "/");
      PSearchResult batch[kBatch];
      for (int i = 0; i < kBatch; ++i, ++next) {
        batch[i] = std::make_unique<TSearchResult>();
        batch[i]->Path = path;
        batch[i]->Name = "file-with-a-long-name-" + std::to_string(next);
        batch[i]->Size = next;
      }
      if (!store.Lock.WaitFor(INFINITE)) break;
      store.AddResults(kBatch, batch);
      store.Changed();
      store.Lock.Release();
    }
    workerDone = true;
  });
  size_t checked = 0;
  std::string mismatch;
  while (checked < kTotal && mismatch.empty()) {
    const bool done = workerDone.load();
    const size_t count = store.Count();
    for (; checked < count && mismatch.empty(); ++checked) {
      const TSearchResult& r = store.Item(checked);
      if (r.Size != static_cast<int64_t>(checked) ||
          r.Name != "file-with-a-long-name-" + std::to_string(checked) ||
          *r.Path != "/folder" + std::to_string(checked / kBatch) + "/") {
        mismatch = "record " + std::to_string(checked);
      }
    }
    if (done && checked == store.Count()) break;
  }
  worker.join();
  EXPECT_EQ(mismatch, "");
  EXPECT_EQ(checked, kTotal);
  EXPECT_EQ(lastNotified.load(), kTotal);
}

}  // namespace
