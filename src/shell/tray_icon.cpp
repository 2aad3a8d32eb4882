#include "shell/tray_icon.h"

#include <memory>

#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include "shell/desktop_notifier.h"

namespace {

class TSystemTrayHost : public TTrayHost {
 public:
  explicit TSystemTrayHost(QDBusConnection bus) : Notifier(std::move(bus)) {}
  bool IsAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

  void AddIcon(const TNotifyIconData& data, QMenu* menu,
               std::function<void(unsigned)> onMouse) override {
    // A child of its menu as well (which outlives it), so the menu's owner can reach it.
    Icon = std::make_unique<QSystemTrayIcon>(data.Icon, menu);
    if (data.Flags & kNotifyTip) Icon->setToolTip(data.Tip);
    if (data.Flags & kNotifyMessage) {
      // The desktop opens the context menu by itself on a right click.
      if (menu) Icon->setContextMenu(menu);
      QObject::connect(Icon.get(), &QSystemTrayIcon::activated,
                       [onMouse = std::move(onMouse)](QSystemTrayIcon::ActivationReason reason) {
                         // A tray of the StatusNotifierItem kind reports a click or a
                         // double click on the icon as one Activate (Trigger); an older
                         // tray reports the double click itself. Either brings the
                         // window back.
                         if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
                           onMouse(kMouseLeftDoubleClick);
                       });
    }
    Icon->show();
  }

  void RemoveIcon(int) override { Icon.reset(); }

  void ShowMessage(const QString& title, const QString& text, const QIcon& icon,
                   std::function<void()> onClick) override {
    // The desktop's notification server first, whatever the tray: its notification has a
    // default action, so a click on it brings the window back. Only where there is no
    // server, or it refuses, the tray shows the message.
    ClearMessage();
    auto shared = std::make_shared<std::function<void()>>(std::move(onClick));
    const bool sent = Notifier.Show(title, text, icon.name(), [shared] { (*shared)(); },
                                    [this, title, text, icon, shared] {
                                      ShowTrayMessage(title, text, icon, *shared);
                                    });
    if (!sent) ShowTrayMessage(title, text, icon, *shared);
  }

  void ClearMessage() override {
    Notifier.Close();
    QObject::disconnect(MessageClicked);
    MessageIcon.reset();
  }

 private:
  void ShowTrayMessage(const QString& title, const QString& text, const QIcon& icon,
                       std::function<void()> onClick) {
    // Qt sends the message (org.freedesktop.Notifications, or a balloon by the icon) from
    // a shown tray icon; a window minimised to the task bar has none, so one stands in
    // until the window is back.
    QSystemTrayIcon* from = Icon.get();
    if (from == nullptr) {
      if (!MessageIcon) MessageIcon = std::make_unique<QSystemTrayIcon>(icon);
      MessageIcon->show();
      from = MessageIcon.get();
    }
    QObject::disconnect(MessageClicked);
    // Queued: the click brings the window back, which takes the icon that sent it away;
    // the icon must not go while it is still sending. Calls still queued when the host
    // goes are dropped with ClickReceiver.
    MessageClicked = QObject::connect(from, &QSystemTrayIcon::messageClicked, &ClickReceiver,
                                      [onClick = std::move(onClick)] { onClick(); },
                                      Qt::QueuedConnection);
    from->showMessage(title, text, icon, kMessageShownMs);
  }

  static constexpr int kMessageShownMs = 10000;
  TDesktopNotifier Notifier;
  std::unique_ptr<QSystemTrayIcon> Icon;
  std::unique_ptr<QSystemTrayIcon> MessageIcon;  // only while a message waits without Icon
  QObject ClickReceiver;
  QMetaObject::Connection MessageClicked;
};

}  // namespace

std::unique_ptr<TTrayHost> CreateSystemTrayHost(QDBusConnection bus) {
  return std::make_unique<TSystemTrayHost>(std::move(bus));
}

TTrayIcon::TTrayIcon(QWidget* owner, unsigned callbackMessage, std::unique_ptr<TTrayHost> host)
    : Owner(owner),
      CallbackMessage(callbackMessage),
      Host(host ? std::move(host) : CreateSystemTrayHost()) {
  Owner->installEventFilter(this);
}

TTrayIcon::~TTrayIcon() {
  Owner->removeEventFilter(this);
  if (Shown) RemoveIcon(ShownId);
}

void TTrayIcon::AddIcon(const QIcon& icon, int id) {
  TNotifyIconData data;
  data.Id = id;
  data.Icon = icon;
  data.CallbackMessage = CallbackMessage;
  if (CallbackMessage == 0) {
    data.Flags = kNotifyIcon;
  } else if (!TipText.isEmpty()) {
    data.Flags = kNotifyMessage | kNotifyIcon | kNotifyTip;
    data.Tip = TipText.left(kTrayTipMaxLength);
  } else {
    data.Flags = kNotifyMessage | kNotifyIcon;
  }
  Host->AddIcon(data, Menu, [this](unsigned mouseMessage) { TrayMouseMessage(mouseMessage); });
  Shown = true;
  ShownId = id;
}

void TTrayIcon::RemoveIcon(int id) {
  Host->RemoveIcon(id);
  if (id == ShownId) Shown = false;
}

void TTrayIcon::HideApplication() {
  if (!Host->IsAvailable()) return;
  Owner->hide();
}

void TTrayIcon::RestoreApplication() {
  // Only the minimised state is undone: a window that was maximised comes back maximised.
  Owner->setWindowState(Owner->windowState() & ~Qt::WindowMinimized);
  Owner->show();
  Owner->raise();
  Owner->activateWindow();
  Host->ClearMessage();
}

void TTrayIcon::TrayMouseMessage(unsigned mouseMessage) {
  switch (mouseMessage) {
    case kMouseLeftDoubleClick:
      RemoveIcon(0);
      RestoreApplication();
      break;
    case kMouseRightDown:
      if (Menu) Menu->popup(QCursor::pos());
      break;
    default:
      break;
  }
}

void TTrayIcon::BringToFront() {
  if (Shown) RemoveIcon(ShownId);
  RestoreApplication();
}

bool TTrayIcon::OwnerOutOfSight() const { return Owner->isMinimized() || !Owner->isVisible(); }

void TTrayIcon::Notify(const QString& title, const QString& text, std::function<void()> onClick) {
  QIcon icon = Owner->windowIcon();
  Host->ShowMessage(title, text, icon, std::move(onClick));
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Owner && event->type() == QEvent::WindowStateChange) {
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    if (Owner->isMinimized() && !wasMinimized) {
      // Hiding from inside the state change would fight the window system's own handling
      // of the minimise; do it once the event has been dealt with.
      QMetaObject::invokeMethod(this, &TTrayIcon::MinimizeToTray, Qt::QueuedConnection);
    } else if (!Owner->isMinimized() && wasMinimized) {
      if (Shown) RemoveIcon(ShownId);
      Host->ClearMessage();
    }
  }
  return QObject::eventFilter(watched, event);
}

void TTrayIcon::MinimizeToTray() {
  if (!Owner->isMinimized() || !MinimizeToTrayQuery || !MinimizeToTrayQuery()) return;
  if (!Host->IsAvailable()) return;  // no tray: stay minimised on the taskbar
  HideApplication();
  AddIcon(Owner->windowIcon(), 0);
}

namespace {

// A lantern with a magnifier, drawn on a 64 x 64 grid and scaled to size.
QPixmap DrawLantern(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);
  const QColor frame(0x2f, 0x3a, 0x6b);
  painter.setPen(QPen(QColor(0x3a, 0x3a, 0x4a), 3));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QPointF(32, 7), 4.5, 4.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(frame);
  painter.drawPolygon(QPolygonF({QPointF(18, 18), QPointF(46, 18), QPointF(42, 11), QPointF(22, 11)}));
  painter.drawPolygon(QPolygonF({QPointF(15, 50), QPointF(49, 50), QPointF(46, 57), QPointF(18, 57)}));
  QRadialGradient glow(QPointF(32, 36), 18);
  glow.setColorAt(0, QColor(0xff, 0xf6, 0xb0));
  glow.setColorAt(0.6, QColor(0xff, 0xc8, 0x3d));
  glow.setColorAt(1, QColor(0xe0, 0x8a, 0x00));
  painter.setPen(QPen(frame, 3));
  painter.setBrush(glow);
  painter.drawRoundedRect(QRectF(19, 18, 26, 32), 4, 4);
  painter.setPen(QPen(QColor(0x00, 0x00, 0x80), 3));
  painter.setBrush(QColor(255, 255, 255, 217));
  painter.drawEllipse(QPointF(44, 44), 9, 9);
  painter.setPen(QPen(QColor(0x00, 0x00, 0x80), 4, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(50.5, 50.5), QPointF(58, 58));
  return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
  QIcon drawn;
  for (const int size : {16, 22, 32, 48, 64}) drawn.addPixmap(DrawLantern(size));
  return QIcon::fromTheme(QStringLiteral("lanternquest"), drawn);
}

std::unique_ptr<QMenu> CreateTrayMenu(QAction* actRestore, QAction* actHelp, QAction* actExit,
                                      QWidget* parent) {
  auto menu = std::make_unique<QMenu>(parent);
  // The tray names the restore command "Open" and draws it bold as the default item; a
  // menu item of its own keeps that out of the other menus that show the command.
  QAction* open = menu->addAction(QStringLiteral("Open"));
  QObject::connect(open, &QAction::triggered, actRestore, &QAction::trigger);
  QFont bold = open->font();
  bold.setBold(true);
  open->setFont(bold);
  menu->setDefaultAction(open);
  menu->addAction(actHelp);
  menu->addSeparator();
  menu->addAction(actExit);
  return menu;
}
