#include "shell/index_refresh.h"

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

#include "index/index_reader.h"
#include "page/index_shelf.h"

namespace {

constexpr const char* kCliName = "lanternquest-cli";
constexpr const char* kCliPrefix = "lanternquest-cli: ";
constexpr size_t kLinesKept = 8;
constexpr int kStopWaitMs = 3000;

int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// A line of the command's standard error without its program-name prefix.
std::string CommandLine(const QByteArray& raw) {
  std::string line = raw.trimmed().toStdString();
  if (line.rfind(kCliPrefix, 0) == 0) line.erase(0, std::char_traits<char>::length(kCliPrefix));
  return line;
}

// The kernel's I/O priority interface (stable ABI). Its header is not C++ from Linux 6.1's
// later updates on (a parameter named "class"), so the three values are spelt here.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

// Runs in the child between fork and exec: only calls that are safe there. Every thread
// the crawl starts later inherits these.
void LowerChildPriority() {
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // ends with the window, whatever ends it
  ::setpriority(PRIO_PROCESS, 0, 19);
  sched_param idle{};
  ::sched_setscheduler(0, SCHED_IDLE, &idle);
  ::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift);
}

}  // namespace

QString DefaultCliProgram() {
  const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kCliName);
  if (QFileInfo(beside).isExecutable()) return beside;
  const QString onPath = QStandardPaths::findExecutable(QLatin1String(kCliName));
  return onPath.isEmpty() ? QString::fromLatin1(kCliName) : onPath;
}

TIndexRefresh::TIndexRefresh(TIndexShelf& shelf, QString cliProgram, QObject* parent)
    : QObject(parent), Shelf(shelf), Program(cliProgram.isEmpty() ? DefaultCliProgram() : std::move(cliProgram)) {
  CheckTimer = new QTimer(this);
  CheckTimer->setInterval(kCheckIntervalMs);
  connect(CheckTimer, &QTimer::timeout, this, [this] { StartDue(); });
  YieldTimer = new QTimer(this);
  YieldTimer->setInterval(kYieldPollMs);
  connect(YieldTimer, &QTimer::timeout, this, [this] { Yield(); });
}

TIndexRefresh::~TIndexRefresh() { Shutdown(); }

TIndexLocationState* TIndexRefresh::MutableState(const std::string& location) {
  auto found = std::find_if(StateList.begin(), StateList.end(),
                            [&](const TIndexLocationState& state) { return state.Location == location; });
  return found == StateList.end() ? nullptr : &*found;
}

const TIndexLocationState* TIndexRefresh::StateOf(const std::string& location) const {
  return const_cast<TIndexRefresh*>(this)->MutableState(location);
}

void TIndexRefresh::ReadState(TIndexLocationState& state) {
  std::string error;
  const PIndexReader index = Shelf.Open(state.Location, &error);
  state.Indexed = index != nullptr;
  if (!index) {
    state.Entries = state.FileBytes = 0;
    state.UpdatedMs = state.TookMs = 0;
    // A refused file is made anew by the next update; until then it is a failure to show.
    if (!error.empty() && state.Failure.empty()) state.Failure = error;
    return;
  }
  const TIndexInfo& info = index->Info();
  state.Entries = info.EntryCount;
  state.FileBytes = info.FileBytes;
  state.UpdatedMs = info.CrawlEndedMs;
  state.TookMs = std::max<int64_t>(0, info.CrawlEndedMs - info.CrawlStartedMs);
}

void TIndexRefresh::SetSettings(const TIndexSettings& settings) {
  Current = settings;
  Current.RefreshMinutes = ClampRefreshMinutes(Current.RefreshMinutes);
  std::vector<TIndexLocationState> states;
  for (const std::string& location : Current.Locations) {
    if (const TIndexLocationState* old = StateOf(location)) {
      states.push_back(*old);
    } else {
      TIndexLocationState state;
      state.Location = location;
      ReadState(state);
      states.push_back(std::move(state));
    }
  }
  StateList = std::move(states);
  std::erase_if(Asked, [&](const std::string& location) { return StateOf(location) == nullptr; });
  Shelf.SetLocations(Current.Locations);
  if (!Running.empty() && StateOf(Running) == nullptr && Process != nullptr) {
    StopReason = "the location was removed";
    if (Paused) ::kill(pid_t(Process->processId()), SIGCONT);
    Process->terminate();
  }
  if (Current.Locations.empty())
    CheckTimer->stop();
  else if (!CheckTimer->isActive() && !ShutDown)
    CheckTimer->start();
  emit Changed();
  StartDue();
}

bool TIndexRefresh::IsDue(const TIndexLocationState& state, int64_t nowMs) const {
  const int64_t interval = int64_t(Current.RefreshMinutes) * 60 * 1000;
  const int64_t last = std::max(state.UpdatedMs, state.LastAttemptMs);
  return last == 0 || nowMs - last >= interval;
}

void TIndexRefresh::UpdateNow(const std::string& location) {
  if (StateOf(location) == nullptr || location == Running) return;
  if (std::find(Asked.begin(), Asked.end(), location) == Asked.end()) Asked.push_back(location);
  emit Changed();
  StartDue();
}

void TIndexRefresh::StartDue() {
  if (ShutDown || !Running.empty()) return;
  if (UserSearching && UserSearching()) {
    // The user's search comes first; the poll starts the update once it has ended.
    if (!Asked.empty() || std::any_of(StateList.begin(), StateList.end(),
                                      [&](const auto& state) { return IsDue(state, NowMs()); }))
      YieldTimer->start();
    return;
  }
  if (!Asked.empty()) {
    const std::string location = Asked.front();
    Asked.pop_front();
    StartUpdate(location);
    return;
  }
  const int64_t now = NowMs();
  for (const TIndexLocationState& state : StateList) {
    if (IsDue(state, now)) {
      StartUpdate(state.Location);
      return;
    }
  }
  YieldTimer->stop();
}

void TIndexRefresh::StartUpdate(const std::string& location) {
  TIndexLocationState* state = MutableState(location);
  if (state == nullptr) return;
  Running = location;
  StopReason.clear();
  Lines.clear();
  Paused = false;
  state->Running = true;
  state->Paused = false;
  Process = new QProcess(this);
  Process->setProgram(Program);
  // Four folders at a time: the crawl's own limit per server, and gentle on a local disk.
  Process->setArguments({QStringLiteral("--update-index"), QStringLiteral("-j"), QStringLiteral("4"),
                         QString::fromLocal8Bit(location)});
  Process->setProcessChannelMode(QProcess::SeparateChannels);
  Process->setStandardOutputFile(QProcess::nullDevice());
  Process->setChildProcessModifier(LowerChildPriority);
  connect(Process, &QProcess::readyReadStandardError, this, [this] {
    while (Process->canReadLine()) {
      std::string line = CommandLine(Process->readLine());
      if (line.empty()) continue;
      Lines.push_back(std::move(line));
      if (Lines.size() > kLinesKept) Lines.erase(Lines.begin());
    }
  });
  Process->setReadChannel(QProcess::StandardError);
  connect(Process, &QProcess::finished, this,
          [this](int exitCode, QProcess::ExitStatus status) { UpdateFinished(exitCode, status == QProcess::CrashExit); });
  connect(Process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) UpdateFinished(-1, true);
  });
  Process->start();
  YieldTimer->start();
  emit Changed();
}

void TIndexRefresh::UpdateFinished(int exitCode, bool crashed) {
  if (Process == nullptr) return;
  QProcess* ended = Process;
  Process = nullptr;
  const std::string location = std::move(Running);
  Running.clear();
  Paused = false;
  const QByteArray rest = ended->readAllStandardError();
  for (const QByteArray& raw : rest.split('\n')) {
    if (std::string line = CommandLine(raw); !line.empty()) Lines.push_back(std::move(line));
  }
  const QString startError = ended->error() == QProcess::FailedToStart ? ended->errorString() : QString();
  ended->deleteLater();
  if (TIndexLocationState* state = MutableState(location)) {
    state->Running = false;
    state->Paused = false;
    state->LastAttemptMs = NowMs();
    state->Failure.clear();
    if (!startError.isEmpty()) {
      state->Failure = "the update could not start: " + startError.toStdString();
    } else if (!StopReason.empty()) {
      state->Failure = "the update was stopped (" + StopReason + "); the previous index stays";
    } else if (crashed) {
      state->Failure = "the update ended unexpectedly; the previous index stays";
    } else if (exitCode != 0) {
      // The command's last line says why: not updated at all, or places that could not
      // be searched and kept their previous entries. An index written whole whose log
      // holds only folders left out on purpose (loop cuts) is no failure.
      std::string why = Lines.empty() ? "the update failed" : Lines.back();
      const size_t places = why.find("; ");
      if (why.rfind("indexed \"", 0) == 0)
        why = places == std::string::npos ? std::string() : why.substr(places + 2);
      state->Failure = why;
    }
    ReadState(*state);
  }
  Lines.clear();
  emit Changed();
  if (!ShutDown) QTimer::singleShot(0, this, [this] { StartDue(); });
}

void TIndexRefresh::UserSearchMayHaveChanged() { Yield(); }

void TIndexRefresh::Yield() {
  const bool searching = UserSearching && UserSearching();
  if (Process == nullptr) {
    if (!searching) StartDue();
    return;
  }
  if (searching == Paused) return;
  const pid_t child = pid_t(Process->processId());
  if (child <= 0) return;
  // Every thread of the update stops, its open connections with it, until the searches end.
  ::kill(child, searching ? SIGSTOP : SIGCONT);
  Paused = searching;
  if (TIndexLocationState* state = MutableState(Running)) state->Paused = searching;
  emit Changed();
}

QString TIndexRefresh::RunningText() const {
  if (Running.empty()) return QString();
  QString text = QStringLiteral("Updating the index of ") + QString::fromLocal8Bit(Running);
  if (Paused) text += QStringLiteral(" (paused while you search)");
  return text;
}

void TIndexRefresh::Shutdown() {
  ShutDown = true;
  CheckTimer->stop();
  YieldTimer->stop();
  Asked.clear();
  if (Process == nullptr) return;
  StopReason = "the program ended";
  const pid_t child = pid_t(Process->processId());
  if (child > 0 && Paused) ::kill(child, SIGCONT);
  // The crawl's scratch file has no name until it is complete: ending it leaves nothing
  // behind but the previous index.
  Process->terminate();
  if (!Process->waitForFinished(kStopWaitMs)) {
    Process->kill();
    Process->waitForFinished(kStopWaitMs);
  }
  if (Process != nullptr) UpdateFinished(-1, true);
}

bool TIndexRefresh::WaitUntilIdle(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    const bool idle = Running.empty() && Asked.empty() &&
                      std::none_of(StateList.begin(), StateList.end(), [&](const auto& state) {
                        return IsDue(state, NowMs()) && !(UserSearching && UserSearching());
                      });
    if (idle) return true;
    if (clock.elapsed() >= timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (Process != nullptr) Process->waitForFinished(20);
  }
}

QString IndexPanelText(const QString& pageStatus, const TIndexRefresh& refresh) {
  const QString running = refresh.RunningText();
  if (running.isEmpty()) return pageStatus;
  return pageStatus.isEmpty() ? running : pageStatus + QStringLiteral(" | ") + running;
}

QString IndexTrayTip(const QString& title, const TIndexRefresh& refresh) {
  const QString running = refresh.RunningText();
  return running.isEmpty() ? title : title + QLatin1Char('\n') + running;
}
