// Lanternquest's entry: start-up in its fixed order, the event loop, and an exit that
// never waits long for workers blocked on slow servers.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "hive/registry.h"
#include "os/dir_listing.h"
#include "os/ui_thread.h"
#include "page/qt_ui_thread.h"
#include "shell/app_identity.h"
#include "shell/conn_dialog.h"
#include "shell/icons.h"
#include "shell/main_window.h"
#include "shell/one_copy.h"
#include "shell/tray_icon.h"
#include "smb/smb_client.h"

namespace {

// How long the program waits at exit for stopped searches to end. Workers stuck in a
// network call can take much longer; the program then ends without them.
constexpr int kExitWaitMs = 2000;

}  // namespace

int main(int argc, char* argv[]) {
  // The SMB client is set up while the process still has one thread: its set-up briefly
  // changes the environment, which other threads (Qt's among them) may be reading. The
  // descriptor table is grown now too, when that costs nothing.
  SmbInitialize();
  ReserveFolderDescriptors();
  QApplication application(argc, argv);

  // The single-instance guard runs before the settings are loaded: a second copy hands
  // over to the running one and ends without a window and without reading or writing
  // any setting (loading the hive may move a damaged file aside).
  TOneCopy oneCopy;
  if (!oneCopy.CheckSingleInstance()) return 0;

  // The settings hive (the root key of every setting) is loaded before any window.
  CurrentUserHive();
  // Drag and drop needs no set-up with Qt.

  SetApplicationIdentity();

  TQtUiThread uiThread;
  SetUiThread(&uiThread);

  // Servers and shares connected with a remembered password are connected again, before
  // any page could search them.
  ReconnectRememberedLogins();

  TIcons icons;
  auto window = std::make_unique<TMainWindow>();
  // A later copy brings this one back from the tray or the taskbar, to the front.
  QObject::connect(&oneCopy, &TOneCopy::RestoreRequested, window.get(),
                   [&window] { window->TrayIcon->BringToFront(); });
  window->show();
  const int exitCode = application.exec();

  if (!window->FinishRun(kExitWaitMs)) {
    // Some worker is still blocked in a network call. The settings are saved and no
    // window is left; ending the process now is the only way not to hang, and freeing
    // the pages would pull the store from under that worker.
    std::fflush(nullptr);
    oneCopy.ReleaseSingleInstance();
    std::_Exit(exitCode);
  }
  window.reset();
  SetUiThread(nullptr);
  return exitCode;
}
