#pragma once
// TLogger: a search page's error log, one line per network container whose enumeration
// failed, in the order the failures were added. No limit, no de-duplication.
//
// Threads: AddError from any worker thread (LogLock serialises additions). Count, Line,
// Changed and Clear on the UI thread. Reading by index is safe while workers append:
// Lines never moves an element once added, and a reader sees every line below the Count
// it read, complete. Clear only while no worker of the page runs.
//
// Lock: LogLock is a leaf of the order written in os/ui_thread.h. It is held while a
// line is built (which asks the network layer for the message text) and appended, and
// never while calling out to other threads.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "os/netresource.h"
#include "results/stable_list.h"

class TLogger {
 public:
  using TChangeEvent = std::function<void(TLogger*)>;

  TLogger() = default;
  TLogger(const TLogger&) = delete;
  TLogger& operator=(const TLogger&) = delete;

  // Set by the page; called with this log by Changed.
  TChangeEvent OnChange;

  // Builds the line for errorCode and resource (GetNetErrorText) and appends it, under
  // LogLock. Does not notify: the worker then has the UI thread run Changed. A failure
  // to build the line leaves the log as it was and releases the lock.
  void AddError(uint32_t errorCode, const NETRESOURCEA& resource);

  // Calls OnChange with this log when it is set. UI thread.
  void Changed();

  // Empties the log. UI thread, no search running.
  void Clear();

  size_t Count() const { return Lines.Count(); }
  const std::string& Line(size_t index) const { return Lines.At(index); }
  // What line index is about: the error code and the remote name of the place as its
  // resource named it (\\server, \\server\share, a folder's UNC name; "" for none).
  struct TPlace {
    uint32_t ErrorCode = 0;
    std::string Name;
  };
  const TPlace& Place(size_t index) const { return Places.At(index); }

 private:
  std::mutex LogLock;                 // owner: this log; serialises AddError
  TStableList<std::string> Lines;     // appended under LogLock; read without it (see above)
  TStableList<TPlace> Places;         // one per line, appended before it under LogLock
};
