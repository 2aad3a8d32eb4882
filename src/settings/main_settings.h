#pragma once
// The main window's remembered state: placement, error-log pane height, pattern input
// history, file-mask groups, and the program-wide options, moved between plain data and
// the hive. Nothing here knows the window; UI thread only.
//
// How the main window uses it:
//   creation:    InputHistory = LoadInputHistory(); FileMaskGroups = LoadFileMasks();
//                create the first page; then s = LoadMainSettings() and apply s in order:
//                if s.PlacementFound stop centring; set each of s.Left/Top/Width/Height
//                that is present; if s.Maximised maximise; if s.LogHeight is present use
//                it for LogHeight and the active page's log pane; take s.ShowTipAtStartup.
//   destruction: restore a maximised window first so the bounds are the normal ones, then
//                SaveMainSettings({state, left, top, width, height, logHeight,
//                InputHistory, FileMaskGroups}).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hive/registry.h"
#include "settings/program_options.h"

inline constexpr int32_t kWindowStateNormal = 0;
inline constexpr int32_t kWindowStateMinimised = 1;
inline constexpr int32_t kWindowStateMaximised = 2;
inline constexpr int32_t kDefaultLogHeight = 92;

// "Line 0" .. "Line 15" of InputHistory, in index order; missing or damaged entries are
// skipped. Never throws.
std::vector<std::string> LoadInputHistory(TRegistryHive& hive = CurrentUserHive());

// "FileMasksCount" entries of FileMasks named "0", "1", ...; a missing or damaged entry
// gives an empty string. No count (or a damaged one) gives no groups; a count above
// kFileMasksLoadLimit is cut there. Never throws.
inline constexpr int32_t kFileMasksLoadLimit = 65536;
std::vector<std::string> LoadFileMasks(TRegistryHive& hive = CurrentUserHive());

// What LoadMainSettings found. The steps run in order and the first value that cannot
// be read ends them; whatever was read before stays, everything after keeps its default
// (Complete is then false). A bound is present only when it was read.
struct TMainSettings {
  bool PlacementFound = false;  // the MainWindow key exists
  std::optional<int32_t> Left, Top, Width, Height;
  bool Maximised = false;  // "WindowState" was 2
  std::optional<int32_t> LogHeight;
  bool ShowTipAtStartup = true;
  bool Complete = false;
};

// Reads MainWindow, then the persisted options into `options` (MaxThreads brought into
// 1..12), each option only if present. Never throws.
TMainSettings LoadMainSettings(TProgramOptions& options = ProgramOptions(),
                               TRegistryHive& hive = CurrentUserHive());

// The values the main window hands over when it is destroyed.
struct TMainWindowState {
  int32_t WindowState = kWindowStateNormal;
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;  // the normal (restored) bounds
  int32_t LogHeight = kDefaultLogHeight;              // the active page's log pane height
  std::vector<std::string> InputHistory;              // most recent first
  std::vector<std::string> FileMaskGroups;
};

// Writes MainWindow, InputHistory (older higher-numbered lines stay), FileMasks (rebuilt
// whole, so no surplus entries remain) and the options, then writes the file once.
// Throws TRegistryError when the settings file cannot be written; the values stay
// pending in the hive and are written with the next flush.
void SaveMainSettings(const TMainWindowState& state, const TProgramOptions& options = ProgramOptions(),
                      TRegistryHive& hive = CurrentUserHive());
