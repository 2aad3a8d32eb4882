#include "shell/html_help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

TUrlOpener& UrlOpener() {
  static TUrlOpener opener;
  return opener;
}

}  // namespace

QString ProgramFilePath(const QString& name) {
  const QString exeFolder = QCoreApplication::applicationDirPath();
  const QString beside = exeFolder + '/' + name;
  if (QFileInfo::exists(beside)) return beside;
  const QString installed = QDir::cleanPath(exeFolder + QStringLiteral("/../share/lanternquest/") + name);
  if (QFileInfo::exists(installed)) return installed;
  return beside;
}

QString HelpFolderPath() { return ProgramFilePath(QStringLiteral("help")); }

bool OpenUrl(const QUrl& url) {
  if (UrlOpener()) return UrlOpener()(url);
  return QDesktopServices::openUrl(url);
}

TUrlOpener SetUrlOpener(TUrlOpener opener) {
  TUrlOpener previous = std::move(UrlOpener());
  UrlOpener() = std::move(opener);
  return previous;
}

bool ShowHelp(QWidget* /*window*/, const QString& helpFolder, const QString& topic) {
  return OpenUrl(QUrl::fromLocalFile(helpFolder + '/' + topic));
}

void ShowProgramHelp(QWidget* window) {
  // A missing help folder is not checked here: the browser reports a missing page itself.
  ShowHelp(window, HelpFolderPath(), QStringLiteral("overview.html"));
}
