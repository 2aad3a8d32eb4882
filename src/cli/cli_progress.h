#pragma once
// The one-line live progress that lanternquest-cli draws on stderr when stderr is a
// terminal: folders done, results, active workers. Redrawn at most every 100 ms, from
// the notifications of the search (no timer), and cleared at the end. Not thread-safe:
// the caller serialises calls (they come from the UI hand-off).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

class TCliProgress {
 public:
  // Draws only when enabled (the caller checks that stderr is a terminal).
  TCliProgress(std::FILE* terminal, bool enabled) : Terminal(terminal), Enabled(enabled) {}
  ~TCliProgress() { Clear(); }

  void Update(uint64_t foldersDone, size_t results, int32_t activeWorkers);
  // Erases the line, if one was drawn.
  void Clear();

 private:
  std::FILE* Terminal;
  bool Enabled;
  bool Drawn = false;
  std::chrono::steady_clock::time_point LastDrawn{};
};
