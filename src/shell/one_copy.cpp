#include "shell/one_copy.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char kInstanceName[] = "__LANTERNQUEST_SHARE_MEM";
constexpr char kRestoreRequest[] = "restore\n";
constexpr char kRestoreAnswer[] = "ok\n";
// How long a later copy keeps trying to reach a first copy that holds the lock but has
// not started listening yet (it is between taking the lock and listening).
constexpr int kHandOverMs = 5000;
constexpr int kRetryStepMs = 20;

}  // namespace

TOneCopy::TOneCopy(QString instancePath, QObject* parent)
    : QObject(parent), InstancePath(std::move(instancePath)) {}

TOneCopy::~TOneCopy() { ReleaseSingleInstance(); }

QString TOneCopy::DefaultInstancePath() {
  // The runtime folder is private to the user (mode 0700), so no other user can plant a
  // socket or lock file under our name.
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + '/' + kInstanceName + QString::number(getuid());
}

bool TOneCopy::CheckSingleInstance() {
  if (Server) return true;

  const QByteArray lockPath = QFile::encodeName(InstancePath + ".lock");
  LockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (LockFd < 0) return false;
  if (::flock(LockFd, LOCK_EX | LOCK_NB) != 0) {
    ::close(LockFd);
    LockFd = -1;
    // Another copy runs. Whether or not it could be reached, this copy ends: two copies
    // must never run side by side.
    HandOver();
    return false;
  }

  // This copy holds the lock, so a socket file left at the path belongs to a copy that has
  // ended (or was killed) and can be removed.
  QLocalServer::removeServer(InstancePath);
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(InstancePath)) {
    ReleaseSingleInstance();
    return false;
  }
  connect(server.get(), &QLocalServer::newConnection, this, &TOneCopy::AcceptLaterCopy);
  Server = std::move(server);
  return true;
}

void TOneCopy::ReleaseSingleInstance() {
  if (Server) {
    Server->close();  // also removes the socket file
    Server.reset();
  }
  if (LockFd >= 0) {
    // The lock file itself stays: removing it would let a copy that has just opened it
    // lock a file no later copy can see.
    ::close(LockFd);
    LockFd = -1;
  }
}

void TOneCopy::AcceptLaterCopy() {
  while (QLocalSocket* socket = Server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) return;
      const QByteArray request = socket->readLine();
      if (request == kRestoreRequest) {
        socket->write(kRestoreAnswer);
        socket->flush();
        emit RestoreRequested();
      }
      socket->disconnectFromServer();
    });
  }
}

bool TOneCopy::HandOver() const {
  QElapsedTimer elapsed;
  elapsed.start();
  while (true) {
    QLocalSocket socket;
    socket.connectToServer(InstancePath);
    if (socket.waitForConnected(kRetryStepMs * 10)) {
      socket.write(kRestoreRequest);
      if (!socket.waitForBytesWritten(kHandOverMs)) return false;
      // Wait for the answer so that the request has been taken before this copy ends.
      while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kHandOverMs)) return false;
      }
      return socket.readLine() == kRestoreAnswer;
    }
    if (elapsed.elapsed() >= kHandOverMs) return false;
    QThread::msleep(kRetryStepMs);
  }
}
