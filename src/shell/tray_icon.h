#pragma once
// TTrayIcon: the notification-area icon that stands in for the taskbar button while the
// program is minimised with the MinimazeToTray option on. Double-clicking the icon, or
// Open in its menu, brings the window back and removes the icon.
//
// The desktop's notification area is reached through a TTrayHost, so that tests can report
// a tray as present or absent and watch what is added. Where the desktop has no tray,
// minimising never hides the window: it stays minimised on the taskbar, since a hidden
// window with no icon would have no way back.
//
// UI thread only.
#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QWidget;

// The main window's message number for the icon's mouse events.
inline constexpr unsigned kTrayCallbackMessage = 0x47B;
// The mouse messages that the icon reports.
inline constexpr unsigned kMouseLeftDoubleClick = 0x0203;
inline constexpr unsigned kMouseRightDown = 0x0204;
// What an icon record carries (combined in TNotifyIconData::Flags).
inline constexpr unsigned kNotifyMessage = 1;
inline constexpr unsigned kNotifyIcon = 2;
inline constexpr unsigned kNotifyTip = 4;
// The tooltip field holds 64 characters including the terminator.
inline constexpr int kTrayTipMaxLength = 63;

// One icon as handed to the notification area.
struct TNotifyIconData {
  unsigned Flags = 0;
  int Id = 0;
  unsigned CallbackMessage = 0;
  QIcon Icon;
  QString Tip;  // set only with kNotifyTip; at most kTrayTipMaxLength characters
};

// The desktop's notification area.
class TTrayHost {
 public:
  virtual ~TTrayHost() = default;
  // Asked at every minimise: a tray may come and go while the program runs.
  virtual bool IsAvailable() const = 0;
  // Shows the icon (replacing one of the same Id). Its mouse events go to onMouse with the
  // mouse message; a host whose tray opens `menu` by itself on a right click reports no
  // right clicks. `menu` may be null and must outlive the icon.
  virtual void AddIcon(const TNotifyIconData& data, QMenu* menu,
                       std::function<void(unsigned mouseMessage)> onMouse) = 0;
  // Removes the icon; harmless when it is not shown.
  virtual void RemoveIcon(int id) = 0;
  // Shows a desktop notification; clicking it runs onClick. Where no icon is shown, the
  // host may show one for as long as the notification matters. A host without
  // notifications shows nothing.
  virtual void ShowMessage(const QString& title, const QString& text, const QIcon& icon,
                           std::function<void()> onClick) {
    (void)title, (void)text, (void)icon, (void)onClick;
  }
  // The window is back in sight: whatever ShowMessage put up for it goes.
  virtual void ClearMessage() {}
};

// The host over the desktop's real tray (QSystemTrayIcon, a child of the icon's menu
// while shown) and its notification server on bus (the session bus, or a test's own).
std::unique_ptr<TTrayHost> CreateSystemTrayHost(QDBusConnection bus = QDBusConnection::sessionBus());

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  // owner: the main window, which must outlive this object; its minimise and restore are
  // watched from here. callbackMessage 0 means the icon reports no mouse events. host null:
  // the desktop's tray. The tip is empty.
  TTrayIcon(QWidget* owner, unsigned callbackMessage, std::unique_ptr<TTrayHost> host = nullptr);
  // Removes the icon if it is shown.
  ~TTrayIcon() override;

  const QString& Tip() const { return TipText; }
  void SetTip(const QString& tip) { TipText = tip; }
  // The tray menu (pupTray), owned by the main window; null for none.
  void SetMenu(QMenu* pupTray) { Menu = pupTray; }
  // Asked at each minimise: whether the program goes to the tray (the MinimazeToTray option).
  // Unset means never.
  void SetMinimizeToTrayQuery(std::function<bool()> query) { MinimizeToTrayQuery = std::move(query); }

  void AddIcon(const QIcon& icon, int id);
  void RemoveIcon(int id);
  bool IconShown() const { return Shown; }
  bool TrayAvailable() const { return Host->IsAvailable(); }

  // Hides the main window (only where a tray exists to bring it back).
  void HideApplication();
  // Shows the main window again, no longer minimised (a maximised window stays maximised),
  // and brings it to the front.
  void RestoreApplication();
  // A mouse message from the icon: a double click restores, a right click opens the menu
  // at the cursor; anything else is ignored.
  void TrayMouseMessage(unsigned mouseMessage);
  // Another copy of the program was started: come back from the tray or the taskbar and
  // come to the front. A window that is neither hidden nor minimised is only brought
  // forward.
  void BringToFront();

  // True while the main window cannot be seen: minimised, or hidden in the tray.
  bool OwnerOutOfSight() const;
  // A desktop notification (title, text, the window's icon). Clicking it runs onClick;
  // bringing the window back is onClick's to do.
  void Notify(const QString& title, const QString& text, std::function<void()> onClick);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs after the main window was minimised.
  void MinimizeToTray();

  QWidget* Owner;
  unsigned CallbackMessage;
  std::unique_ptr<TTrayHost> Host;
  QString TipText;
  QMenu* Menu = nullptr;
  std::function<bool()> MinimizeToTrayQuery;
  bool Shown = false;
  int ShownId = 0;
};

// The program's icon (window, taskbar, tray): the desktop theme's "lanternquest" when it
// is installed, else the same lantern drawn here.
QIcon ApplicationIcon();

// Builds the tray menu: Open (the default item, drawn bold, which triggers actRestore),
// Help, a separator, Exit. The actions belong to the caller and must outlive the menu.
std::unique_ptr<QMenu> CreateTrayMenu(QAction* actRestore, QAction* actHelp, QAction* actExit,
                                      QWidget* parent = nullptr);
