#include "results/result_manager.h"

#include <cmath>
#include <string_view>
#include <vector>

#include "os/file_attr.h"
#include "os/locale_text.h"
#include "results/result_text.h"

namespace {

int Sign(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

}  // namespace

TResultManager::TResultManager() : Lock("RESULT_MUTEX") {}

TResultManager::~TResultManager() = default;

void TResultManager::AddResults(int32_t Count, PSearchResult* Items) {
  for (int32_t i = 0; i < Count; ++i) {
    if (!Items[i]) continue;
    Results.Append(std::move(*Items[i]));
    Items[i].reset();
  }
}

void TResultManager::Changed() {
  if (OnChange) OnChange(this);
}

void TResultManager::Clear() { Results.Clear(); }

std::unique_ptr<TSortedList<TSearchResult>> TResultManager::TakeAll() {
  auto taken = std::make_unique<TSortedList<TSearchResult>>();
  taken->Swap(Results);
  return taken;
}

void TResultManager::Sort() {
  std::vector<size_t> order = SortedOrder(SortKey);
  ApplyOrder(order);
}

std::vector<size_t> TResultManager::SortedOrder(int32_t key) const {
  const int32_t column = key < 0 ? -key : key;
  if (column == skPath || column == skFileName) return OrderByTextKeys(column == skPath, key < 0 ? -1 : 1);
  if (column == skAttr) return OrderByAttrText(key < 0 ? -1 : 1);
  return OrderBy([key](const TSearchResult& a, const TSearchResult& b) { return CompareResults(key, a, b); });
}

void TResultManager::ApplyOrder(std::vector<size_t>& order) { Results.Permute(order); }

std::unique_ptr<TSortedList<TSearchResult>> TResultManager::CopyInOrder(const std::vector<size_t>& order) const {
  auto copy = std::make_unique<TSortedList<TSearchResult>>();
  for (size_t record : order) copy->Append(TSearchResult(Results.At(record)));
  return copy;
}

void TResultManager::SwapRecords(TSortedList<TSearchResult>& records) { Results.Swap(records); }

// The records stay where they are: the quicksort runs over their indexes, which gives
// the same arrangement as sorting the records themselves (the comparisons give the same
// signs).
template <class Compare>
std::vector<size_t> TResultManager::OrderBy(Compare&& compare) const {
  std::vector<size_t> order(Results.Count());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  QuickSortPositions(
      order.size(),
      [&](ptrdiff_t i, ptrdiff_t j) { return compare(Results.At(order[i]), Results.At(order[j])); },
      [&](ptrdiff_t i, ptrdiff_t j) { std::swap(order[i], order[j]); });
  return order;
}

// Text comparisons in a collating locale cost microseconds each, and a sort makes about
// 20 per record for a million records. So each record's sort key is built once, and
// the same quicksort runs over positions, comparing keys and, where keys are equal, the
// records themselves: that gives the signs that CompareResults would, so the records end
// in the same arrangement.
std::vector<size_t> TResultManager::OrderByTextKeys(bool fullName, int sign) const {
  const size_t count = Results.Count();
  std::string keys;                      // every record's key, one after another
  std::vector<size_t> keyStart(count + 1);  // record i's key is keys[keyStart[i], keyStart[i+1])
  for (size_t i = 0; i < count; ++i) {
    const TSearchResult& record = Results.At(i);
    keyStart[i] = keys.size();
    if (fullName) {
      AppendSortKeyIgnoreCase(record.Path ? *record.Path : std::string_view(), record.Name, keys);
    } else {
      AppendSortKeyIgnoreCase(record.Name, {}, keys);
    }
  }
  keyStart[count] = keys.size();
  const auto keyOf = [&](size_t record) {
    return std::string_view(keys).substr(keyStart[record], keyStart[record + 1] - keyStart[record]);
  };
  // Each position carries the first eight key bytes of its record (zero-padded, most
  // significant first), which settle most comparisons without reaching the keys.
  struct TPosition {
    uint64_t Prefix;
    size_t Record;
  };
  std::vector<TPosition> order(count);
  for (size_t i = 0; i < count; ++i) {
    const std::string_view key = keyOf(i);
    uint64_t prefix = 0;
    for (size_t b = 0; b < 8; ++b) {
      prefix = prefix << 8 | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0u);
    }
    order[i] = {prefix, i};
  }
  QuickSortPositions(
      count,
      [&](ptrdiff_t i, ptrdiff_t j) {
        const TPosition& a = order[i];
        const TPosition& b = order[j];
        int c = a.Prefix != b.Prefix ? (a.Prefix < b.Prefix ? -1 : 1)
                                     : CompareSortKeys(keyOf(a.Record), keyOf(b.Record));
        if (c == 0) {
          // Equal keys leave the order to the comparison of the texts themselves.
          c = CompareResults(fullName ? skPath : skFileName, Results.At(a.Record), Results.At(b.Record));
        }
        return sign * c;
      },
      [&](ptrdiff_t i, ptrdiff_t j) { std::swap(order[i], order[j]); });
  std::vector<size_t> records(count);  // position -> record
  for (size_t i = 0; i < count; ++i) records[i] = order[i].Record;
  return records;
}

// An attribute text depends on four bits only, so the comparisons of all sixteen texts
// are made once and looked up.
std::vector<size_t> TResultManager::OrderByAttrText(int sign) const {
  // Slot bits 0-2 are read-only, hidden, system; bit 3 is archive (0x20).
  const auto slot = [](uint32_t attr) { return (attr & 0x07) | ((attr & kAttrArchive) >> 2); };
  int order[16][16];
  for (uint32_t a = 0; a < 16; ++a) {
    for (uint32_t b = 0; b < 16; ++b) {
      const uint32_t attrA = (a & 0x07) | ((a & 0x08) << 2);
      const uint32_t attrB = (b & 0x07) | ((b & 0x08) << 2);
      order[a][b] = CompareTextIgnoreCase(AttrToText(attrA), AttrToText(attrB));
    }
  }
  return OrderBy([&](const TSearchResult& a, const TSearchResult& b) {
    return sign * order[slot(a.Attr)][slot(b.Attr)];
  });
}

void TResultManager::ReplaceAll(std::vector<PSearchResult>&& records) {
  TSortedList<TSearchResult> fresh;
  for (PSearchResult& record : records) {
    if (record) fresh.Append(std::move(*record));
  }
  records.clear();
  Results.Swap(fresh);
}

int TResultManager::CompareResults(int32_t sortKey, const TSearchResult& a,
                                   const TSearchResult& b) {
  if (sortKey == 0) return 0;
  const int64_t key = sortKey < 0 ? -static_cast<int64_t>(sortKey) : sortKey;
  const int sign = sortKey < 0 ? -1 : 1;
  int c = 0;
  switch (key) {
    case skPath:
      c = CompareJoinedTextIgnoreCase(a.Path ? *a.Path : std::string_view(), a.Name,
                                      b.Path ? *b.Path : std::string_view(), b.Name);
      break;
    case skFileName: c = CompareTextIgnoreCase(a.Name, b.Name); break;
    case skSize: c = Sign(a.Size, b.Size); break;
    case skDate: c = CompareDateOnly(a.DateTime, b.DateTime); break;
    case skTime: c = CompareTimeOnly(a.DateTime, b.DateTime); break;
    case skAttr: c = CompareTextIgnoreCase(AttrToText(a.Attr), AttrToText(b.Attr)); break;
    default: return 0;
  }
  return c * sign;
}
