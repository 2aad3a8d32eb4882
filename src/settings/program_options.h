#pragma once
// The program-wide options, one instance per process shared by every page. UI thread only.
// The three persisted ones are read by LoadMainSettings and written by SaveMainSettings;
// the options dialog changes them in memory in between.
#include <cstdint>

struct TProgramOptions {
  // Worker threads per search, 1 to kMaxThreadsLimit.
  int32_t MaxThreads = 12;
  // Minimising the main window hides it behind the notification-area icon.
  bool MinimazeToTray = true;
  // A page announces the end of its search with a message.
  bool MessageWhenComplete = true;

  // A page asks before stopping a search at the user's command. Fixed, not stored.
  static constexpr bool ConfirmStopSearch = true;
  // Most entries in the pattern input history. Fixed, not stored.
  static constexpr int32_t InputHistoryLimit = 16;
  static constexpr int32_t kMaxThreadsLimit = 12;
};

// The process's options.
TProgramOptions& ProgramOptions();

// value brought into 1..kMaxThreadsLimit.
int32_t ClampMaxThreads(int32_t value);
