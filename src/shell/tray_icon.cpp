#include "shell/tray_icon.h"

#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace {

class TSystemTrayHost : public TTrayHost {
 public:
  bool IsAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

  void AddIcon(const TNotifyIconData& data, QMenu* menu,
               std::function<void(unsigned)> onMouse) override {
    Icon = std::make_unique<QSystemTrayIcon>(data.Icon);
    if (data.Flags & kNotifyTip) Icon->setToolTip(data.Tip);
    if (data.Flags & kNotifyMessage) {
      // The desktop opens the context menu by itself on a right click.
      if (menu) Icon->setContextMenu(menu);
      QObject::connect(Icon.get(), &QSystemTrayIcon::activated,
                       [onMouse = std::move(onMouse)](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::DoubleClick) onMouse(kMouseLeftDoubleClick);
                       });
    }
    Icon->show();
  }

  void RemoveIcon(int) override { Icon.reset(); }

 private:
  std::unique_ptr<QSystemTrayIcon> Icon;
};

}  // namespace

std::unique_ptr<TTrayHost> CreateSystemTrayHost() { return std::make_unique<TSystemTrayHost>(); }

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
  Owner->showNormal();
  Owner->raise();
  Owner->activateWindow();
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

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Owner && event->type() == QEvent::WindowStateChange) {
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    if (Owner->isMinimized() && !wasMinimized) {
      // Hiding from inside the state change would fight the window system's own handling
      // of the minimise; do it once the event has been dealt with.
      QMetaObject::invokeMethod(this, &TTrayIcon::MinimizeToTray, Qt::QueuedConnection);
    } else if (!Owner->isMinimized() && wasMinimized && Shown) {
      RemoveIcon(ShownId);
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
