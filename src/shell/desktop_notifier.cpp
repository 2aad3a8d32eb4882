#include "shell/desktop_notifier.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kInterface = QString::fromLatin1(kNotificationsService);
// Seconds a server may keep the notification before it goes by itself: -1 leaves that to
// the server's own rule (most keep it until clicked or dismissed while the user is away).
constexpr int kServerDefaultTimeout = -1;

}  // namespace

TDesktopNotifier::TDesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), Bus(std::move(bus)) {
  if (!Bus.isConnected()) return;
  // Qt follows the owner of the name: signals from anyone else are not delivered here.
  Bus.connect(kInterface, QString::fromLatin1(kNotificationsPath), kInterface,
              QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
  Bus.connect(kInterface, QString::fromLatin1(kNotificationsPath), kInterface,
              QStringLiteral("NotificationClosed"), this, SLOT(OnNotificationClosed(uint, uint)));
}

TDesktopNotifier::~TDesktopNotifier() { Close(); }

bool TDesktopNotifier::ServerAvailable() const {
  if (!Bus.isConnected() || Bus.interface() == nullptr) return false;
  if (Bus.interface()->isServiceRegistered(kInterface)) return true;
  // A server the bus starts on the first call (a D-Bus service file) counts as well.
  const QDBusMessage activatable = Bus.call(
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                     QStringLiteral("/org/freedesktop/DBus"),
                                     QStringLiteral("org.freedesktop.DBus"),
                                     QStringLiteral("ListActivatableNames")),
      QDBus::Block, 2000);
  return activatable.type() == QDBusMessage::ReplyMessage && !activatable.arguments().isEmpty() &&
         activatable.arguments().first().toStringList().contains(kInterface);
}

bool TDesktopNotifier::Show(const QString& title, const QString& text, const QString& iconName,
                            std::function<void()> onActivate, std::function<void()> onFailed) {
  if (!ServerAvailable()) return false;
  const uint replaces = Id;
  Forget();
  Activate = std::move(onActivate);
  Failed = std::move(onFailed);
  QDBusMessage call = QDBusMessage::createMethodCall(
      kInterface, QString::fromLatin1(kNotificationsPath), kInterface, QStringLiteral("Notify"));
  QVariantMap hints;
  // Not a passing notice: the user is away from the window and comes back for it.
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("lanternquest"));
  call << QCoreApplication::applicationName() << replaces << iconName << title << text
       << QStringList{QString::fromLatin1(kDefaultActionKey), QStringLiteral("Show")} << hints
       << kServerDefaultTimeout;
  Pending = true;
  const quint64 generation = ++Generation;
  auto* watcher = new QDBusPendingCallWatcher(Bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, watcher, generation](QDBusPendingCallWatcher*) {
            watcher->deleteLater();
            if (generation != Generation) return;  // a later Show or Close took its place
            Pending = false;
            const QDBusPendingReply<uint> reply = *watcher;
            if (reply.isError()) {
              const std::function<void()> failed = std::move(Failed);
              Forget();
              if (failed) failed();
              return;
            }
            Id = reply.value();
            if (CloseWhenAnswered) Close();
          });
  return true;
}

void TDesktopNotifier::Close() {
  if (Pending) {
    // Its id is not known yet: it is closed as soon as the server names it.
    CloseWhenAnswered = true;
    Activate = nullptr;
    Failed = nullptr;
    return;
  }
  if (Id != 0 && !ServerClosed && Bus.isConnected()) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kInterface, QString::fromLatin1(kNotificationsPath), kInterface,
        QStringLiteral("CloseNotification"));
    call << Id;
    Bus.asyncCall(call);
  }
  ++Generation;
  Forget();
}

void TDesktopNotifier::Forget() {
  Id = 0;
  Pending = false;
  CloseWhenAnswered = false;
  ServerClosed = false;
  Activate = nullptr;
  Failed = nullptr;
}

void TDesktopNotifier::OnActionInvoked(uint id, const QString& actionKey) {
  if (id == 0 || id != Id || actionKey != QLatin1String(kDefaultActionKey)) return;
  const std::function<void()> activate = std::move(Activate);
  // Some servers leave an activated notification on screen: the user is done with it.
  Close();
  if (activate) activate();
}

void TDesktopNotifier::OnNotificationClosed(uint id, uint) {
  // Closed by the user or the server: nothing left to close. Some servers announce the
  // close before the action, so the id and the callback stay until the next Show.
  if (id != 0 && id == Id) ServerClosed = true;
}
