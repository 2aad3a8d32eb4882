#include "page/desktop_open.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <optional>

namespace {

// The desktop file of the program set to open type, empty when there is none; null
// when it cannot be told (no xdg-mime, or it did not answer in time).
std::optional<QString> DefaultProgramFor(const QString& type) {
  const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (tool.isEmpty()) return std::nullopt;
  QProcess query;
  query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), type});
  if (!query.waitForFinished(3000)) {
    query.kill();
    query.waitForFinished(1000);
    return std::nullopt;
  }
  if (query.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

}  // namespace

QString OpenWithDesktop(const QUrl& url) {
  const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toDisplayString();
  if (url.isLocalFile()) {
    const QFileInfo file(url.toLocalFile());
    if (!file.exists()) return QStringLiteral("\"%1\" does not exist any more.").arg(shown);
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    const std::optional<QString> program = DefaultProgramFor(type.name());
    if (program && program->isEmpty())
      return QStringLiteral("No program is set to open \"%1\" (%2, %3).")
          .arg(shown, type.comment(), type.name());
  }
  if (!QDesktopServices::openUrl(url)) return QStringLiteral("The desktop could not open \"%1\".").arg(shown);
  return {};
}
