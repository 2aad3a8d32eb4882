#pragma once
// TResultManager: one search page's store of found files.
//
// Threads. Worker threads append batches with AddResults while holding Lock; the UI
// thread reads Count and Item without any lock: records live in a TSortedList (an
// append-only segmented list), so a record never moves while the store grows and a
// reader sees every record below the Count it read. Everything else (Clear, Sort,
// ReplaceAll, the file and export operations, setting OnChange and SortKey) runs on the
// UI thread while no worker of the page delivers to this store.
//
// Lock: Lock ("RESULT_MUTEX", one for the process) is a leaf of the order written in
// os/ui_thread.h. A delivering worker holds it only around AddResults and raises
// Changed after releasing it, so the page's handler may run while other workers append:
// it reads below the Count it read, which never moves. The UI thread never takes Lock.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/named_mutex.h"
#include "results/search_result.h"
#include "results/sorted_list.h"

// Sort keys: the magnitude names the column, the sign the direction (+ ascending).
inline constexpr int32_t skPath = 1;
inline constexpr int32_t skFileName = 2;
inline constexpr int32_t skSize = 3;
inline constexpr int32_t skDate = 4;
inline constexpr int32_t skTime = 5;
inline constexpr int32_t skAttr = 6;

class TResultManager {
 public:
  TResultManager();
  ~TResultManager();
  TResultManager(const TResultManager&) = delete;
  TResultManager& operator=(const TResultManager&) = delete;

  // The process-wide append lock "RESULT_MUTEX". Workers hold it around AddResults.
  TMutex Lock;
  // Called by Changed with this store; set by the page on the UI thread.
  std::function<void(TResultManager*)> OnChange;
  // 0: never sorted; otherwise +/- skPath .. skAttr.
  int32_t SortKey = 0;
  // Whether records must carry each file's size, time and read-only bit. Reading them
  // costs a stat per result, so a front end that shows only names (the command-line
  // program without --long, --sort, --save or --export) clears it; the search's workers
  // then leave Size and DateTime at 0 and the read-only bit clear unless the filter had
  // to read them anyway. Set before a search starts, not during one.
  bool DetailsWanted = true;
  // When set, a search's workers hand every batch to Sink instead of delivering it here,
  // and the store stays empty: a consumer that writes results away (an index being
  // built) needs no millions of records in memory. Sink takes the records it wants out of
  // the slots (count slots from items; null slots are to be skipped). It runs on the
  // delivering worker with no lock held (Lock is not taken for it), and calls from
  // several workers may overlap: the sink serialises what it shares. Set before a
  // search starts, not during one.
  std::function<void(int32_t count, PSearchResult* items)> Sink;

  // Number of records. Any thread.
  size_t Count() const { return Results.Count(); }
  // Record i < Count(). Any thread; the reference stays valid until Clear, Sort,
  // ReplaceAll or LoadFromFile.
  const TSearchResult& Item(size_t i) const { return Results.At(i); }

  // Moves the first Count records of Items (the rest of the array is ignored) to the
  // end of the store, in array order; the moved-from slots are left empty. Neither
  // locks, sorts nor notifies: the caller holds Lock. Null slots are skipped.
  void AddResults(int32_t Count, PSearchResult* Items);
  // Calls OnChange, if set, with this store.
  void Changed();
  // Disposes every record; SortKey is kept. No notification.
  void Clear();
  // Moves every record out into a list of their own, leaving the store empty as Clear
  // does but without destroying a record here: millions of records take long to free,
  // and the caller may free them on another thread. UI thread, no worker delivering.
  std::unique_ptr<TSortedList<TSearchResult>> TakeAll();
  // Sorts the records in place under SortKey, in the order that the quicksort over
  // CompareResults gives. No notification. The same as ApplyOrder(SortedOrder(SortKey)).
  void Sort();
  // The arrangement Sort would give under sortKey: entry i is the index of the record
  // that Sort would put at position i. It only reads the records, so it may run on any
  // thread while the UI thread reads the store too (the list stays on screen while a
  // long sort runs elsewhere), as long as nothing changes the store meanwhile: no worker
  // delivering, no Clear, Sort, ApplyOrder, ReplaceAll or LoadFromFile.
  std::vector<size_t> SortedOrder(int32_t sortKey) const;
  // Rearranges the records into order, a permutation of 0 .. Count() - 1 (left as the
  // identity). UI thread, no worker delivering. No notification.
  void ApplyOrder(std::vector<size_t>& order);
  // A copy of the records in order (from SortedOrder), built without changing the store:
  // any thread, under the same rule as SortedOrder. Costs a second set of records until
  // the old ones are freed, and spares the UI thread moving a million records.
  std::unique_ptr<TSortedList<TSearchResult>> CopyInOrder(const std::vector<size_t>& order) const;
  // Exchanges the store's records with records: the store then holds what records held,
  // and records the store's old ones, for the caller to free (on any thread: no one
  // reads them any more). UI thread, no worker delivering. No notification.
  void SwapRecords(TSortedList<TSearchResult>& records);
  // Replaces every record with records (in their order); SortKey is kept. UI thread,
  // no worker delivering. For loading a result file.
  void ReplaceAll(std::vector<PSearchResult>&& records);

  // The order of a and b under sortKey: -1, 0 or 1 (0 for key 0 or an unknown key).
  static int CompareResults(int32_t sortKey, const TSearchResult& a, const TSearchResult& b);

  // Result file and exports; each throws an error carrying a user-readable message on
  // failure. UI thread, no worker delivering. Defined in result_file.cpp and
  // result_export.cpp. LoadFromFile reads regular files only. SaveToFile leaves out
  // the records whose full name does not fit the file's name field, writes the rest,
  // and then throws an error naming how many were left out and the first of them.
  void LoadFromFile(const std::string& FileName);
  // After LoadFromFile: empty when the file was read to its end; otherwise a notice for
  // the user (ready to show) that the file ends inside a record, whose bytes were left
  // out. The records before it are loaded.
  const std::string& LoadNotice() const { return LastLoadNotice; }
  void SaveToFile(const std::string& FileName);
  void ExportToHTML(const std::string& FileName);
  void ExportToXML(const std::string& FileName);

  // Bytes held by the store's own structures (records and their segments, not the
  // records' heap strings). For memory accounting.
  size_t StorageBytes() const { return Results.StorageBytes(); }

 private:
  // The order by Path (fullName) or File name, through a precomputed key per record.
  std::vector<size_t> OrderByTextKeys(bool fullName, int sign) const;
  // The order by Attr, through a table of the sixteen possible attribute texts.
  std::vector<size_t> OrderByAttrText(int sign) const;
  // The order under compare(a, b) over the records, by the quicksort over positions.
  template <class Compare>
  std::vector<size_t> OrderBy(Compare&& compare) const;

  TSortedList<TSearchResult> Results;
  std::string LastLoadNotice;  // see LoadNotice
};
