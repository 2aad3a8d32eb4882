#include "shell/app_identity.h"

#include <QApplication>

#include "shell/icons.h"
#include "shell/texts.h"
#include "shell/tray_icon.h"

void SetApplicationIdentity() {
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  // The installed desktop entry, lanternquest.desktop: the desktop takes the name and the
  // icon of notifications and task-bar entries from it.
  QGuiApplication::setDesktopFileName(QStringLiteral("lanternquest"));
  UseDesktopIconTheme();
  QApplication::setWindowIcon(ApplicationIcon());
}
