#pragma once
// TIndexRefresh: keeps the indexes of the locations the user chose fresh while the
// program runs, in the tray too.
//
// A location is due when it has no index yet or when its index (or its last failed
// attempt) is older than the refresh interval. Due locations are updated one at a time,
// in the order the user added them, each by the command-line program
// (lanternquest-cli --update-index) as a child process: its crawl is a search with at
// most 4 connections to one server, it runs at the lowest CPU priority, in the idle CPU
// scheduling class and the idle I/O class, and it ends with the window (the child is
// told to end when its parent dies). A crash of either side leaves the previous index as
// it was: an index file is only ever replaced whole.
//
// A search the user starts comes first: while any page searches, no update starts and a
// running one is paused (stopped by signal, continued when the searches have ended).
// Shutdown ends a running update; its index is then not written, the previous one stays.
//
// UI thread only.
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "settings/index_settings.h"

class QProcess;
class QTimer;
class TIndexShelf;

// What the Index tab shows of one location.
struct TIndexLocationState {
  std::string Location;
  bool Indexed = false;     // an index of it exists and could be read
  uint64_t Entries = 0;
  uint64_t FileBytes = 0;   // size of the index on disk
  int64_t UpdatedMs = 0;    // when its index was made (the crawl's end, Unix ms)
  int64_t TookMs = 0;       // how long that crawl took
  bool Running = false;     // an update of it runs now
  bool Paused = false;      // ... and waits for the user's search to end
  std::string Failure;      // why the last update failed or was incomplete; empty when it went well
  int64_t LastAttemptMs = 0;  // when its last update ended (in this run), 0 for none
};

class TIndexRefresh : public QObject {
  Q_OBJECT

 public:
  // cliProgram: the command-line program; empty: lanternquest-cli beside this program, or
  // on the PATH.
  explicit TIndexRefresh(TIndexShelf& shelf, QString cliProgram = QString(), QObject* parent = nullptr);
  // Shutdown.
  ~TIndexRefresh() override;
  // The command-line program for the updates that start from now on.
  void SetProgram(QString cliProgram) { Program = std::move(cliProgram); }

  // The locations and the interval; states of new locations are read from their indexes.
  // An update of a location no longer listed is stopped. Starts what is due.
  void SetSettings(const TIndexSettings& settings);
  const TIndexSettings& Settings() const { return Current; }
  const std::vector<TIndexLocationState>& States() const { return StateList; }
  const TIndexLocationState* StateOf(const std::string& location) const;

  // Whether any page of the user searches now; asked before an update starts and while
  // one runs. Unset: never.
  void SetUserSearchQuery(std::function<bool()> query) { UserSearching = std::move(query); }
  // Re-asks the query at once (a page's search started or ended).
  void UserSearchMayHaveChanged();

  // Updates location next (after the running update), due or not.
  void UpdateNow(const std::string& location);
  // Starts the next due location when none runs and no user search does.
  void StartDue();
  // The location being updated, empty when none is.
  const std::string& RunningLocation() const { return Running; }
  // "Updating the index of LOCATION" (with "paused" while it yields), empty when idle.
  QString RunningText() const;
  // Ends a running update (its index stays as it was) and starts no more.
  void Shutdown();
  // Waits, running the event loop, until no update runs and nothing is due or asked for,
  // or timeoutMs has passed; true when idle. For tests.
  bool WaitUntilIdle(int timeoutMs);

  // The interval between checks for due locations.
  static constexpr int kCheckIntervalMs = 30000;
  // How often a running update asks whether the user searches.
  static constexpr int kYieldPollMs = 200;

 signals:
  // A state, the running update or the settings changed.
  void Changed();

 private:
  void ReadState(TIndexLocationState& state);
  bool IsDue(const TIndexLocationState& state, int64_t nowMs) const;
  void StartUpdate(const std::string& location);
  void UpdateFinished(int exitCode, bool crashed);
  void Yield();
  TIndexLocationState* MutableState(const std::string& location);

  TIndexShelf& Shelf;
  QString Program;
  TIndexSettings Current;
  std::vector<TIndexLocationState> StateList;
  std::deque<std::string> Asked;  // "Update now", in order
  std::function<bool()> UserSearching;
  QProcess* Process = nullptr;    // the running update; a child of this object
  std::string Running;
  std::string StopReason;         // set when this side ended the update
  bool Paused = false;
  bool ShutDown = false;
  std::vector<std::string> Lines;  // the running update's last lines on stderr
  QTimer* CheckTimer = nullptr;
  QTimer* YieldTimer = nullptr;
};

// The command-line program the refresh runs when none is given.
QString DefaultCliProgram();

// The status bar's index panel: the active page's "Index of HH:MM" and the running update.
QString IndexPanelText(const QString& pageStatus, const TIndexRefresh& refresh);
// The tray icon's tooltip: the title, and the running update when one runs.
QString IndexTrayTip(const QString& title, const TIndexRefresh& refresh);
