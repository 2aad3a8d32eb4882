// The end-of-search notification on a real notification server: a private D-Bus bus with
// dunst on a virtual X display, and dbus-monitor watching what the window sends.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "page/test_page_support.h"
#include "shell/icons.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "support/process_run.h"

using namespace lqtest;

namespace {

// Xvfb, dbus-daemon, dunst and dbus-monitor under one temporary folder, stopped by
// process id at the end. Why is set when one of them is missing or does not come up.
class TNotificationServer {
 public:
  TNotificationServer() {
    for (const char* tool : {"Xvfb", "dbus-daemon", "dunst", "dbus-monitor"})
      if (!OnPath(tool)) {
        Why = std::string(tool) + " is not installed (scripts/install-deps.sh)";
        return;
      }
    const std::string dir = Dir.Path.string();
    const int display = 70 + int(::getpid() % 200);
    const std::string displayName = ":" + std::to_string(display);
    Start({"Xvfb", displayName, "-nolisten", "tcp", "-screen", "0", "640x480x24"}, {}, dir + "/xvfb.log");
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    if (!QTest::qWaitFor([&] { return std::filesystem::exists(socket); }, 10000)) {
      Why = "Xvfb did not start: " + ReadAll(dir + "/xvfb.log");
      return;
    }
    Address = "unix:path=" + dir + "/bus";
    Start({"dbus-daemon", "--session", "--nofork", "--address=" + Address}, {}, dir + "/bus.log");
    if (!QTest::qWaitFor([&] { return std::filesystem::exists(dir + "/bus"); }, 10000)) {
      Why = "dbus-daemon did not start: " + ReadAll(dir + "/bus.log");
      return;
    }
    const std::vector<std::string> environment{"DISPLAY=" + displayName, "DBUS_SESSION_BUS_ADDRESS=" + Address,
                                               "HOME=" + dir, "XDG_CONFIG_HOME=" + dir};
    Start({"dbus-monitor", "--address", Address, "interface='org.freedesktop.Notifications'"}, environment,
          MonitorLog());
    Start({"dunst"}, environment, dir + "/dunst.log");
    Bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QString::fromStdString(Address), QStringLiteral("lq-notify-test")));
    const auto serving = [&] {
      return Bus->isConnected() && Bus->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
    };
    if (!QTest::qWaitFor(serving, 10000)) Why = "dunst did not come up: " + ReadAll(dir + "/dunst.log");
    // dbus-monitor names itself on the bus before it prints anything.
    if (Why.empty() && !QTest::qWaitFor([&] { return !ReadAll(MonitorLog()).empty(); }, 10000))
      Why = "dbus-monitor did not start";
  }

  ~TNotificationServer() {
    Bus.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("lq-notify-test"));
    for (auto pid = Pids.rbegin(); pid != Pids.rend(); ++pid) {
      ::kill(*pid, SIGTERM);
      WaitBounded(*pid, std::chrono::seconds(5));
    }
  }

  std::string MonitorLog() const { return Dir.Path.string() + "/monitor.log"; }
  // How often the monitor saw text.
  int Seen(const std::string& text) const {
    const std::string log = ReadAll(MonitorLog());
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  std::string Why;
  std::string Address;
  std::unique_ptr<QDBusConnection> Bus;

 private:
  void Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& log) {
    const pid_t pid = SpawnInto(argv, environment, log);
    if (pid > 0) Pids.push_back(pid);
  }

  TTempDir Dir;
  std::vector<pid_t> Pids;
};

class NotificationTest : public TWindowTest {
 protected:
  void SetUp() override {
    TWindowTest::SetUp();
    Icons = std::make_unique<TIcons>();
  }
  std::unique_ptr<TIcons> Icons;
  TScriptedBoxes Boxes;
};

TEST_F(NotificationTest, SearchEndingMinimisedSendsOneNotificationWhoseActionBringsThePageAndThenTheBox) {
  TNotificationServer server;
  if (!server.Why.empty()) GTEST_SKIP() << server.Why;
  TTempDir tree;
  const int files = MakeTree(tree.Path, 1, 2);

  TMainWindow window;
  window.ShowTipAtStartup = false;
  // The desktop's own tray and notification server, on the private bus. Offscreen there
  // is no tray, so the window stays minimised on the taskbar: the plain GNOME case.
  window.TrayIcon = std::make_unique<TTrayIcon>(&window, kTrayCallbackMessage, CreateSystemTrayHost(*server.Bus));
  window.TrayIcon->SetMinimizeToTrayQuery([] { return true; });
  window.show();
  TSearchPage& page = *window.ActivePage();
  SearchIn(page, tree.Path);
  window.actNewPage->trigger();
  window.showMinimized();
  QCoreApplication::processEvents();
  ASSERT_TRUE(window.TrayIcon->OwnerOutOfSight());

  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_TRUE(Boxes.Shown.empty()) << "the box waits until the window is back";
  EXPECT_TRUE(page.CompletionHeld());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Seen("member=Notify") == 1; }, 10000))
      << ReadAll(server.MonitorLog());
  EXPECT_EQ(server.Seen("string \"default\""), 1) << "the notification has a default action";
  EXPECT_EQ(server.Seen(QStringLiteral("%1 files found").arg(files).toStdString()), 1);

  // A click on the notification: dunst invokes its default action.
  QDBusMessage click = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.dunstproject.cmd0"), QStringLiteral("NotificationAction"));
  click << uint(0);
  // Until dunst has it on screen, it answers that there is nothing to act on.
  QString refusal;
  const auto clicked = [&] {
    const QDBusMessage reply = server.Bus->call(click);
    refusal = reply.errorMessage();
    return reply.type() == QDBusMessage::ReplyMessage;
  };
  ASSERT_TRUE(QTest::qWaitFor(clicked, 10000)) << refusal.toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Seen("member=ActionInvoked") > 0; }, 10000))
      << ReadAll(server.MonitorLog());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isMinimized() && window.isVisible(); }, 10000));
  EXPECT_EQ(window.ActivePage(), &page) << "back on the page that finished";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Shown.empty(); }, 10000));
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_TRUE(Boxes.Shown[0].Text.startsWith(QStringLiteral("Search complete.\r\n%1 files found").arg(files)));
  EXPECT_EQ(server.Seen("member=Notify"), 1) << "one notice only";
}

}  // namespace
