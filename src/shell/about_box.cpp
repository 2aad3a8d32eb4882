#include "shell/about_box.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>

#include "shell/html_help.h"
#include "shell/texts.h"
#include "shell/tray_icon.h"
#include "shell/ver_info.h"

namespace {

const QColor kLinkColor(0x00, 0x00, 0x80);       // navy
const QColor kLinkHoverColor(0x00, 0x00, 0xFF);  // blue

// The dialog has a fixed width; links wider than `width` are set in a narrower face and, if
// still needed, a smaller size (not below 8 pixels) so they are shown whole rather than cut.
// All links share the one font, so they look alike.
void FitToWidth(std::initializer_list<QLabel*> links, int width) {
  QFont font = (*links.begin())->font();
  const auto widest = [&links](const QFont& candidate) {
    int advance = 0;
    for (const QLabel* link : links)
      advance = std::max(advance, QFontMetrics(candidate).horizontalAdvance(link->text()));
    return advance;
  };
  if (widest(font) <= width) return;
  font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), font.family()});
  int pixels = QFontInfo(font).pixelSize();
  font.setPixelSize(pixels);
  while (pixels > 8 && widest(font) > width) font.setPixelSize(--pixels);
  for (QLabel* link : links) link->setFont(font);
}

}  // namespace

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  SetColor(kLinkColor);
}

void TLinkLabel::SetColor(const QColor& color) {
  QPalette colors = palette();
  colors.setColor(QPalette::WindowText, color);
  setPalette(colors);
}

void TLinkLabel::enterEvent(QEnterEvent* event) {
  SetColor(kLinkHoverColor);
  QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event) {
  SetColor(kLinkColor);
  QLabel::leaveEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(event);
}

QString VersionLine(const QString& versionFile) {
  const TVersionInfo info(QFile::encodeName(versionFile).toStdString());
  const TFixedFileInfo* fixed = info.FixedFileInfo();
  if (!fixed) return QStringLiteral("Version unknown");
  return QStringLiteral("Version %1.%2").arg(fixed->dwFileVersionMS >> 16).arg(fixed->dwFileVersionMS & 0xFFFF);
}

TAboutBox::TAboutBox(QWidget* owner, const QString& versionFile) : QDialog(owner) {
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(254, 191);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 8, 12, 8);
  layout->setSpacing(2);

  auto* product = new QLabel(QStringLiteral("Lanternquest"), this);
  QFont display;
  // Impact where it exists; otherwise a heavy condensed face of the same size.
  display.setFamilies({QStringLiteral("Impact"), QStringLiteral("Anton"),
                       QStringLiteral("DejaVu Sans Condensed")});
  display.setStyleHint(QFont::SansSerif);
  display.setPixelSize(24);
  display.setBold(true);
  product->setFont(display);
  product->setAlignment(Qt::AlignHCenter);
  // The program's own icon (the theme's when installed) beside its name.
  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("lblIcon"));
  logo->setPixmap(ApplicationIcon().pixmap(QSize(32, 32)));
  auto* title = new QHBoxLayout;
  title->addStretch();
  title->addWidget(logo);
  title->addWidget(product);
  title->addStretch();
  layout->addLayout(title);

  lblVersion = new QLabel(VersionLine(versionFile.isEmpty() ? QCoreApplication::applicationFilePath()
                                                              : versionFile),
                          this);
  lblVersion->setObjectName(QStringLiteral("lblVersion"));
  lblVersion->setAlignment(Qt::AlignHCenter);
  layout->addWidget(lblVersion);
  layout->addSpacing(8);

  layout->addWidget(new QLabel(QStringLiteral("Home page:"), this));
  lblSite = new TLinkLabel(QString::fromLatin1(kHomePageUrl), this);
  lblSite->setObjectName(QStringLiteral("lblSite"));
  connect(lblSite, &TLinkLabel::clicked, this, [this] { OpenUrl(QUrl(lblSite->text())); });
  layout->addWidget(lblSite);

  layout->addWidget(new QLabel(QStringLiteral("Support:"), this));
  lblEmail = new TLinkLabel(QString::fromLatin1(kInfoRequestAddress), this);
  lblEmail->setObjectName(QStringLiteral("lblEmail"));
  connect(lblEmail, &TLinkLabel::clicked, this,
          [this] { OpenUrl(QUrl(QStringLiteral("mailto:") + lblEmail->text())); });
  layout->addWidget(lblEmail);
  const QMargins margins = layout->contentsMargins();
  FitToWidth({lblSite, lblEmail}, width() - margins.left() - margins.right());

  layout->addStretch();
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);

  btnClose = new QPushButton(QStringLiteral("Close"), this);
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(btnClose, 0, Qt::AlignHCenter);
}
