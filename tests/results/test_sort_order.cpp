// The store's fast sorts (a key per record for Path and File name, a table for Attr) must
// leave the records exactly where the quicksort over CompareResults leaves them, in plain
// and in collating locales.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "os/locale_text.h"
#include "results/result_manager.h"
#include "results/result_text.h"
#include "results/sorted_list.h"
#include "support/compiled_locale.h"

namespace {

// Pieces that stress the comparison: case pairs, accented letters in both cases,
// punctuation that collating locales weigh lightly, digits, and bytes that are not UTF-8.
const char* const kPieces[] = {"a", "A", "b", "B", "z", "Z", "\xC3\xA9", "\xC3\x89", "e", "E",
                               "\xC3\x9F", "ss", "-", "_", " ", ".", "1", "10", "2", "\xFF",
                               "\xC3", "\xE2\x82\xAC", "\xC3\xB1", "N"};

std::string RandomText(std::mt19937& random, size_t maxPieces) {
  std::uniform_int_distribution<size_t> count(0, maxPieces);
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::string text;
  for (size_t n = count(random); n > 0; --n) text += kPieces[piece(random)];
  return text;
}

// Records with few distinct folders and short names, so equal keys and shared
// prefixes are common. Size numbers the records, to tell equal-looking ones apart.
std::vector<TSearchResult> RandomRecords(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<TPathRef> folders;
  for (int i = 0; i < 6; ++i) folders.push_back(std::make_shared<const std::string>("/" + RandomText(random, 3) + "/"));
  std::vector<TSearchResult> records(count);
  for (size_t i = 0; i < count; ++i) {
    records[i].Path = folders[random() % folders.size()];
    records[i].Name = RandomText(random, 4);
    records[i].Size = static_cast<int64_t>(i);
    records[i].Attr = static_cast<uint32_t>(random() & 0x3F);
  }
  return records;
}

// The arrangement that the plain quicksort over CompareResults gives, as record numbers.
std::vector<int64_t> ExpectedOrder(std::vector<TSearchResult> records, int32_t sortKey) {
  QuickSortPositions(
      records.size(),
      [&](ptrdiff_t i, ptrdiff_t j) { return TResultManager::CompareResults(sortKey, records[i], records[j]); },
      [&](ptrdiff_t i, ptrdiff_t j) { std::swap(records[i], records[j]); });
  std::vector<int64_t> order;
  for (const TSearchResult& record : records) order.push_back(record.Size);
  return order;
}

void ExpectSameOrderAsComparator() {
  for (const unsigned seed : {1u, 2u, 3u}) {
    const std::vector<TSearchResult> records = RandomRecords(3000, seed);
    for (const int32_t key : {skPath, -skPath, skFileName, -skFileName, skAttr, -skAttr}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", key " + std::to_string(key));
      TResultManager store;
      for (const TSearchResult& record : records) {
        auto copy = std::make_unique<TSearchResult>(record);
        store.AddResults(1, &copy);
      }
      store.SortKey = key;
      store.Sort();
      std::vector<int64_t> sorted;
      for (size_t i = 0; i < store.Count(); ++i) sorted.push_back(store.Item(i).Size);
      ASSERT_EQ(sorted, ExpectedOrder(records, key));
    }
  }
}

class SortOrder : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override { SetUserLocaleForTesting(""); }
};

TEST_P(SortOrder, FastSortsEndWhereTheComparatorsQuicksortEnds) {
  ASSERT_TRUE(SetUserLocaleForTesting(GetParam()));
  ExpectSameOrderAsComparator();
}

INSTANTIATE_TEST_SUITE_P(PlainOrderLocales, SortOrder, ::testing::Values("C", "C.UTF-8"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::erase_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
                           return name;
                         });

// A real collating locale. Skipped where it cannot be compiled here.
TEST(SortOrderCollating, FastSortsEndWhereTheComparatorsQuicksortEnds) {
  if (!UseCompiledUtf8Locale("en_US")) GTEST_SKIP() << "no localedef or locale sources";
  ExpectSameOrderAsComparator();
  SetUserLocaleForTesting("");
}

// A comparison that answers at random, or always "less" (an element unequal to itself),
// must neither hang the sort nor make it touch a position outside the list.
TEST(SortedList, AnyComparisonStaysInsideTheList) {
  std::mt19937 random(7);
  for (const int mode : {-1, 1, 0}) {
    for (const size_t count : {size_t{1}, size_t{2}, size_t{3}, size_t{50}, size_t{1000}}) {
      std::vector<int> items(count);
      const auto at = [&](ptrdiff_t i) -> int& { return items.at(static_cast<size_t>(i)); };
      QuickSortPositions(
          count,
          [&](ptrdiff_t i, ptrdiff_t j) {
            at(i), at(j);
            return mode != 0 ? mode : static_cast<int>(random() % 3) - 1;
          },
          [&](ptrdiff_t i, ptrdiff_t j) { std::swap(at(i), at(j)); });
    }
  }
}

// Dates that no clock gives (any eight bytes of a result file load as a date) sort
// together before every real date, show as blank, and leave a sorted list sorted.
TEST(SortOrderDates, NonFiniteDatesSortFirstAndEveryPairIsInOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::mt19937 random(11);
  std::vector<double> dates = {nan, -nan, inf, -inf, 0.0, -0.5, 0.5, -1.25, 1e300, -1e300};
  for (int i = 0; i < 300; ++i) {
    // Same days at close times (a few microseconds apart) and some non-finite values.
    const double day = static_cast<double>(45000 + random() % 3);
    const double time = static_cast<double>(random() % 2000) / 86'400'000.0 / 7.0;
    dates.push_back(i % 23 == 0 ? nan : day + time);
  }
  EXPECT_EQ(DateToText(nan), "");
  EXPECT_EQ(TimeToText(-inf), "");
  for (const int32_t key : {skDate, -skDate, skTime, -skTime}) {
    SCOPED_TRACE("key " + std::to_string(key));
    TResultManager store;
    for (const double date : dates) {
      auto record = std::make_unique<TSearchResult>();
      record->DateTime = date;
      store.AddResults(1, &record);
    }
    store.SortKey = key;
    store.Sort();
    ASSERT_EQ(store.Count(), dates.size());
    for (size_t i = 0; i < store.Count(); ++i) {
      for (size_t j = i + 1; j < store.Count(); ++j) {
        ASSERT_LE(TResultManager::CompareResults(key, store.Item(i), store.Item(j)), 0) << i << " " << j;
      }
    }
    if (key > 0) {
      for (size_t i = 0; i < 5; ++i) EXPECT_FALSE(std::isfinite(store.Item(i).DateTime)) << i;
    }
  }
}

// Permute applies a position -> element map along cycles, including fixed points.
TEST(SortedList, PermuteMovesEachElementToItsPlace) {
  TSortedList<std::string> list;
  const std::vector<std::string> values = {"a", "b", "c", "d", "e", "f"};
  for (std::string v : values) list.Append(std::move(v));
  std::vector<size_t> order = {3, 1, 0, 5, 2, 4};  // cycles (0 3 5 4 2) and (1)
  list.Permute(order);
  std::vector<std::string> got;
  for (size_t i = 0; i < list.Count(); ++i) got.push_back(list.At(i));
  EXPECT_EQ(got, (std::vector<std::string>{"d", "b", "a", "f", "c", "e"}));
  EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
