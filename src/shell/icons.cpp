#include "shell/icons.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>

#include <array>

#include "page/search_page.h"

namespace {

TIcons* TheIcons = nullptr;

// One slot of the list: the freedesktop icon names that may stand for it, in order of
// preference (themes differ in which they carry), and what to draw when no theme has any
// of them (a tinted rounded square with a short glyph).
struct TImageSlot {
  std::array<const char*, 3> ThemeNames;
  QRgb Tint;
  const char* Glyph;
};

// Slots in list order; the comment says which command or node uses each.
constexpr TImageSlot kSlots[kImageCount] = {
    {{"preferences-system"}, 0xff607d8b, "O"},                                  // 0 options
    {{"application-exit"}, 0xffb71c1c, "X"},                                    // 1 exit
    {{"edit-find"}, 0xff1565c0, "F"},                                           // 2 find in results
    {{"folder"}, 0xffe0a020, ""},                                               // 3 folder node
    {{"help-contents", "help-browser"}, 0xff1e88e5, "?"},                       // 4 help
    {{"document-properties"}, 0xff757575, "i"},                                 // 5
    {{"network-server"}, 0xff455a64, "S"},                                      // 6 server node
    {{"help-about"}, 0xff1e88e5, "i"},                                          // 7 about
    {{"document-open-recent"}, 0xff757575, "R"},                                // 8
    {{"tab-new", "window-new"}, 0xff2e7d32, "+"},                               // 9 new page
    {{"document-open"}, 0xffe0a020, "L"},                                       // 10 load results
    {{"document-export", "document-send", "document-save-as"}, 0xff6a1b9a, "E"},  // 11 export
    {{"document-save"}, 0xff1565c0, "S"},                                       // 12 save results
    {{"folder-remote"}, 0xff00838f, "\\"},                                      // 13 share node
    {{"view-sort-ascending"}, 0xff5d4037, "A"},                                 // 14 sort by
    {{"view-refresh"}, 0xff757575, "~"},                                        // 15
    {{"tab-close", "window-close"}, 0xffc62828, "-"},                           // 16 close page
    {{"dialog-information"}, 0xfff9a825, "T"},                                  // 17 tip of day
    {{"network-workgroup"}, 0xff00695c, "N"},                                   // 18 entire network
    {{"system-search", "edit-find"}, 0xff2e7d32, ">"},                          // 19 start search
    {{"process-stop", "media-playback-stop"}, 0xffc62828, "#"},                 // 20 stop search
    {{"network-workgroup"}, 0xff00897b, "D"},                                   // 21 provider / domain
    {{"text-x-generic"}, 0xff757575, "t"},                                      // 22
    {{"edit-copy"}, 0xff546e7a, "C"},                                           // 23 copy
    {{"edit-paste"}, 0xff546e7a, "P"},                                          // 24
    {{"edit-delete"}, 0xff757575, "x"},                                         // 25
    {{"network-connect", "network-wired"}, 0xff00838f, "C"},                    // 26 connect
    {{"network-disconnect", "network-offline"}, 0xffc62828, "D"},               // 27 disconnect
    {{"view-filter", "view-list-details", "edit-select-all"}, 0xff37474f, "*"},  // 28 file masks
};

// The first of the slot's names that the theme (or its fallback) carries; empty for none.
QString ThemeNameOf(const TImageSlot& slot) {
  for (const char* name : slot.ThemeNames)
    if (name != nullptr && QIcon::hasThemeIcon(QString::fromLatin1(name))) return QString::fromLatin1(name);
  return QString();
}

QPixmap DrawFallback(const TImageSlot& slot) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QColor(slot.Tint).darker(140));
  painter.setBrush(QColor(slot.Tint));
  if (slot.Glyph[0] == '\0') {
    // A slot without a glyph is a folder: a tab on the back, the body in front.
    QPainterPath folder;
    folder.moveTo(1.5, 3.5);
    folder.lineTo(6.0, 3.5);
    folder.lineTo(7.5, 5.0);
    folder.lineTo(14.5, 5.0);
    folder.lineTo(14.5, 13.5);
    folder.lineTo(1.5, 13.5);
    folder.closeSubpath();
    painter.drawPath(folder);
    painter.setBrush(QColor(slot.Tint).lighter(125));
    painter.drawRect(QRectF(1.5, 6.5, 13, 7));
    painter.end();
    return pixmap;
  }
  painter.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
  QFont font = painter.font();
  font.setPixelSize(11);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString::fromLatin1(slot.Glyph));
  painter.end();
  return pixmap;
}

QPixmap Greyed(const QPixmap& source) {
  QImage image = source.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const int grey = 128 + qGray(line[x]) / 3;
      line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
    }
  }
  return QPixmap::fromImage(image);
}

}  // namespace

TIcons::TIcons() {
  UseDesktopIconTheme();
  iml16.reserve(kImageCount);
  Icons.reserve(kImageCount);
  for (int slot = 0; slot < kImageCount; ++slot) {
    const QString name = ThemeNameOf(kSlots[slot]);
    ThemeNames.push_back(name);
    if (!name.isEmpty()) {
      // The theme's icon itself: every size it has, and the disabled form the style makes.
      const QIcon themed = QIcon::fromTheme(name);
      iml16.push_back(themed.pixmap(QSize(16, 16)));
      if (slot < kGreyedImageCount) iml16gray.push_back(themed.pixmap(QSize(16, 16), QIcon::Disabled));
      Icons.push_back(themed);
      continue;
    }
    const QPixmap drawn = DrawFallback(kSlots[slot]);
    iml16.push_back(drawn);
    QIcon icon(drawn);
    if (slot < kGreyedImageCount) {
      iml16gray.push_back(Greyed(drawn));
      icon.addPixmap(iml16gray.back(), QIcon::Disabled);
    }
    Icons.push_back(icon);
  }
  TheIcons = this;
  TSearchPage::SetImageSource([this](int slot) { return Icon(slot); });
}

TIcons::~TIcons() {
  TSearchPage::SetImageSource(nullptr);
  if (TheIcons == this) TheIcons = nullptr;
}

QIcon TIcons::Icon(int slot) const {
  return slot >= 0 && slot < kImageCount ? Icons[slot] : QIcon();
}

QPixmap TIcons::Image16(int slot) const {
  return slot >= 0 && slot < kImageCount ? iml16[slot] : QPixmap();
}

QPixmap TIcons::Image16Gray(int slot) const {
  return slot >= 0 && slot < kGreyedImageCount ? iml16gray[slot] : QPixmap();
}

QString TIcons::ThemeName(int slot) const {
  return slot >= 0 && slot < kImageCount ? ThemeNames[slot] : QString();
}

TIcons* TIcons::Instance() { return TheIcons; }

void UseDesktopIconTheme() {
  // Without a desktop session's platform theme (a bare X server, the offscreen platform)
  // Qt looks for icon themes only in its own resources and names no theme, so every
  // lookup fails. Add the freedesktop locations and start from hicolor, the base every
  // theme inherits.
  QStringList paths = QIcon::themeSearchPaths();
  for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    const QString icons = QDir(data).filePath(QStringLiteral("icons"));
    if (!paths.contains(icons) && QFileInfo(icons).isDir()) paths.append(icons);
  }
  QIcon::setThemeSearchPaths(paths);
  if (QIcon::themeName().isEmpty()) QIcon::setThemeName(QStringLiteral("hicolor"));
  // What the user's theme lacks comes from Adwaita, which the program depends on, before
  // the drawn stand-ins.
  QIcon::setFallbackThemeName(QString::fromLatin1(kFallbackIconTheme));
}
