#pragma once
// Lets only one copy of Lanternquest run at a time for a logged-on user.
//
// The first copy takes an exclusive lock on "<instance path>.lock" for its whole life and
// listens on a local socket at the instance path. A later copy fails to take the lock,
// connects to that socket, asks the first copy to come to the front and ends; it shows no
// window and reads or writes no settings. The lock belongs to the process, so the kernel
// drops it when a copy is killed: a killed copy's socket file is then stale and the next
// first copy removes it. Two copies started at the same moment race only for the lock,
// which exactly one of them gets.
//
// UI thread only. The QCoreApplication must exist before CheckSingleInstance.
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

class TOneCopy : public QObject {
  Q_OBJECT

 public:
  // instancePath: the socket's full path; the lock file is instancePath + ".lock". Its
  // folder must exist and belong to the user.
  explicit TOneCopy(QString instancePath = DefaultInstancePath(), QObject* parent = nullptr);
  // Runs ReleaseSingleInstance.
  ~TOneCopy() override;

  // The per-user path: "__LANTERNQUEST_SHARE_MEM" followed by the user id, in the user's
  // runtime folder.
  static QString DefaultInstancePath();

  // Returns true when this is the first copy (it now listens for later copies), false when
  // this copy must end: another copy runs and has been asked to come to the front, or the
  // guard could not be set up. Calling it again after true does nothing and returns true.
  bool CheckSingleInstance();

  // Stops listening and drops the lock. Harmless when nothing is held.
  void ReleaseSingleInstance();

  bool IsFirstCopy() const { return Server != nullptr; }

 signals:
  // A later copy was started: the receiver restores the main window and brings it to the
  // front.
  void RestoreRequested();

 private:
  void AcceptLaterCopy();
  // Connects to the running copy and sends the restore request. The running copy may hold
  // the lock but not listen yet, so this retries for a bounded time.
  bool HandOver() const;

  QString InstancePath;
  int LockFd = -1;                       // the open lock file while this is the first copy
  std::unique_ptr<QLocalServer> Server;  // listening while this is the first copy
};
