#pragma once
// TDesktopNotifier: one desktop notification at a time over the desktop's notification
// server (org.freedesktop.Notifications on the session bus), with a default action, so
// that clicking the notification itself (not only a button on it) reaches the program.
//
// Show sends the notification without waiting for the server: the reply, an error or
// the activation arrive later through the event loop. A server that is not there (no
// session bus, nothing owning the name and nothing to start it) makes Show return
// false at once; one that answers with an error runs onFailed, so the caller can say
// the same another way.
//
// UI thread only. The callbacks run from the event loop, never from inside Show or Close.
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

class QDBusMessage;

inline constexpr const char* kNotificationsService = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
// The key of the action that clicking the notification's body invokes.
inline constexpr const char* kDefaultActionKey = "default";

class TDesktopNotifier : public QObject {
  Q_OBJECT

 public:
  // bus: the session bus, or a private one in tests.
  explicit TDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
  ~TDesktopNotifier() override;

  // Whether a notification server owns its name on the bus or can be started by it.
  bool ServerAvailable() const;

  // Shows title and text under the program's name, replacing the notification this
  // object showed before (and forgetting its callbacks). iconName: a theme icon's name,
  // or empty. onActivate runs once when the user activates the notification;
  // onFailed runs when the server refuses it. False (and no callback) when no server is
  // there.
  bool Show(const QString& title, const QString& text, const QString& iconName,
            std::function<void()> onActivate, std::function<void()> onFailed = {});

  // Takes the notification away, if one is shown; its callbacks no longer run.
  void Close();

  // The server's identifier of the notification shown; 0 before the server answered,
  // or when none is shown.
  uint NotificationId() const { return Id; }

 private slots:
  void OnActionInvoked(uint id, const QString& actionKey);
  void OnNotificationClosed(uint id, uint reason);

 private:
  void Forget();

  QDBusConnection Bus;
  uint Id = 0;               // the server's id of the notification shown
  quint64 Generation = 0;    // counts Show and Close: a late reply of an earlier Show is dropped
  bool Pending = false;      // Show sent, the server's answer not yet in
  bool CloseWhenAnswered = false;
  bool ServerClosed = false;  // the server said the notification is gone
  std::function<void()> Activate;
  std::function<void()> Failed;
};
