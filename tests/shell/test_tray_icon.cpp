// The tray icon with a fake notification area that reports a tray as present or absent.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QDBusConnection>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWidget>

#include <vector>

#include "shell/tray_icon.h"
#include "test_tray_qt_app.h"

namespace {

struct TFakeTray {
  bool Available = true;
  std::vector<TNotifyIconData> Added;
  int Removed = 0;
  bool Shown = false;
  std::function<void(unsigned)> Mouse;
};

class TFakeTrayHost : public TTrayHost {
 public:
  explicit TFakeTrayHost(TFakeTray& tray) : Tray(tray) {}
  bool IsAvailable() const override { return Tray.Available; }
  void AddIcon(const TNotifyIconData& data, QMenu*, std::function<void(unsigned)> onMouse) override {
    Tray.Added.push_back(data);
    Tray.Shown = true;
    Tray.Mouse = std::move(onMouse);
  }
  void RemoveIcon(int) override {
    ++Tray.Removed;
    Tray.Shown = false;
  }

 private:
  TFakeTray& Tray;
};

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQApplication();
    Window = std::make_unique<QWidget>();
    Window->show();
    Tray = std::make_unique<TTrayIcon>(Window.get(), kTrayCallbackMessage,
                                       std::make_unique<TFakeTrayHost>(Fake));
    Tray->SetTip("Lanternquest");
    Tray->SetMinimizeToTrayQuery([this] { return MinimazeToTray; });
  }

  void Minimize() {
    Window->showMinimized();
    QCoreApplication::processEvents();  // runs the queued move to the tray
  }

  TFakeTray Fake;
  bool MinimazeToTray = true;
  std::unique_ptr<QWidget> Window;
  std::unique_ptr<TTrayIcon> Tray;
};

struct TipCase {
  unsigned Callback;
  int TipLength;
  unsigned Flags;
  int ShownTipLength;
};

class TrayRecordTest : public TrayTest, public ::testing::WithParamInterface<TipCase> {};

TEST_P(TrayRecordTest, FlagsAndTipFollowCallbackAndTip) {
  const TipCase c = GetParam();
  TTrayIcon icon(Window.get(), c.Callback, std::make_unique<TFakeTrayHost>(Fake));
  icon.SetTip(QString(c.TipLength, QChar('x')));
  icon.AddIcon(QIcon(), 0);
  ASSERT_EQ(Fake.Added.size(), 1u);
  EXPECT_EQ(Fake.Added[0].Flags, c.Flags);
  EXPECT_EQ(Fake.Added[0].Tip.size(), c.ShownTipLength);
  EXPECT_EQ(Fake.Added[0].CallbackMessage, c.Callback);
}

INSTANTIATE_TEST_SUITE_P(
    Records, TrayRecordTest,
    ::testing::Values(TipCase{0, 12, kNotifyIcon, 0},                              // no callback: icon only
                      TipCase{kTrayCallbackMessage, 0, kNotifyMessage | kNotifyIcon, 0},
                      TipCase{kTrayCallbackMessage, 12, 7, 12},
                      TipCase{kTrayCallbackMessage, 63, 7, 63},
                      TipCase{kTrayCallbackMessage, 64, 7, 63},                    // cut so the field ends in zero
                      TipCase{kTrayCallbackMessage, 200, 7, 63}));

TEST_F(TrayTest, MinimisingHidesInTrayAndDoubleClickBringsBack) {
  Minimize();
  EXPECT_FALSE(Window->isVisible());
  ASSERT_TRUE(Fake.Shown);
  EXPECT_EQ(Fake.Added.back().Id, 0);
  EXPECT_EQ(Fake.Added.back().Tip, "Lanternquest");

  Fake.Mouse(0x0201);  // a single left button press is ignored
  EXPECT_TRUE(Fake.Shown);
  EXPECT_FALSE(Window->isVisible());

  Fake.Mouse(kMouseLeftDoubleClick);
  EXPECT_FALSE(Fake.Shown);
  EXPECT_FALSE(Tray->IconShown());
  EXPECT_TRUE(Window->isVisible());
  EXPECT_FALSE(Window->isMinimized());
}

// The desktop's own tray: a StatusNotifierItem tray reports a click on the icon as an
// activation (Trigger), an older one the double click; both bring the window back, the
// context-menu and middle clicks do not.
TEST_F(TrayTest, ClickOrDoubleClickOnTheDesktopsIconRestores) {
  MinimazeToTray = false;  // the fake tray of the fixture stays out of it
  QMenu menu;
  TTrayIcon icon(Window.get(), kTrayCallbackMessage, CreateSystemTrayHost(QDBusConnection(QStringLiteral("none"))));
  icon.SetMenu(&menu);
  for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
                            QSystemTrayIcon::MiddleClick}) {
    const bool restores = reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick;
    Window->showMinimized();
    QCoreApplication::processEvents();
    icon.AddIcon(QIcon(), 0);
    auto* shown = menu.findChild<QSystemTrayIcon*>();
    ASSERT_NE(shown, nullptr);
    emit shown->activated(reason);
    EXPECT_EQ(Window->isMinimized(), !restores) << reason;
    EXPECT_EQ(icon.IconShown(), !restores) << reason;
    icon.RemoveIcon(0);
  }
}

TEST_F(TrayTest, WithoutTrayOrOptionMinimisingNeverHides) {
  for (const bool available : {false, true}) {
    Fake.Available = available;
    MinimazeToTray = !available;  // no tray with the option on; a tray with the option off
    Minimize();
    EXPECT_TRUE(Window->isVisible()) << "tray available: " << available;
    EXPECT_TRUE(Window->isMinimized());
    EXPECT_TRUE(Fake.Added.empty());
    Window->showNormal();
  }
}

TEST_F(TrayTest, AnotherCopyBringsTheWindowBackAsItWas) {
  Window->showMaximized();
  Minimize();
  ASSERT_TRUE(Fake.Shown);
  Tray->BringToFront();
  EXPECT_FALSE(Fake.Shown);
  EXPECT_TRUE(Window->isVisible());
  EXPECT_FALSE(Window->isMinimized());
  EXPECT_TRUE(Window->isMaximized());

  Tray->BringToFront();  // visible and not minimised: only brought forward
  EXPECT_TRUE(Window->isMaximized());
  EXPECT_TRUE(Fake.Added.size() == 1u);
}

TEST_F(TrayTest, MenuHasOpenAsBoldDefaultThenHelpSeparatorExit) {
  QAction restore("Restore"), help("Help"), exit("E&xit");
  QSignalSpy restored(&restore, &QAction::triggered);
  auto menu = CreateTrayMenu(&restore, &help, &exit);
  const QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0]->text(), "Open");
  EXPECT_EQ(menu->defaultAction(), items[0]);
  EXPECT_TRUE(items[0]->font().bold());
  EXPECT_FALSE(restore.font().bold());  // other menus that show the command stay plain
  EXPECT_EQ(items[1], &help);
  EXPECT_TRUE(items[2]->isSeparator());
  EXPECT_EQ(items[3], &exit);

  items[0]->trigger();
  EXPECT_EQ(restored.count(), 1);
}

}  // namespace
