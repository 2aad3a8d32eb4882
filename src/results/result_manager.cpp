#include "results/result_manager.h"

#include <cmath>

#include "platform/locale_text.h"
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

void TResultManager::Sort() {
  const int32_t key = SortKey;
  Results.Sort([key](const TSearchResult& a, const TSearchResult& b) {
    return CompareResults(key, a, b);
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
