#include "shell/tip_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <limits>
#include <memory>

#include "hive/registry.h"
#include "results/lan_error.h"
#include "settings/tip_settings.h"

namespace {

// The heading above the tip: a bulb and "Did you know...", 157 x 27 pixels.
QPixmap HeadingPicture() {
  QPixmap picture(157, 27);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0x80, 0x60, 0x00), 1));
  painter.setBrush(QColor(0xff, 0xd8, 0x40));
  painter.drawEllipse(QRectF(3.5, 3.5, 15, 15));
  painter.setBrush(QColor(0x90, 0x90, 0x90));
  painter.drawRect(QRectF(7.5, 18.5, 7, 5));
  QFont font = painter.font();
  font.setPixelSize(15);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(26, 0, 131, 27), Qt::AlignVCenter | Qt::AlignLeft,
                   QStringLiteral("Did you know..."));
  return picture;
}

// Splits text into lines at CR LF, LF or CR; a break at the very end ends the last line
// and starts no new one.
std::vector<std::string> SplitLines(const QByteArray& text) {
  std::vector<std::string> lines;
  qsizetype start = 0;
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    const char c = text[i];
    if (c != '\n' && c != '\r') continue;
    lines.emplace_back(text.constData() + start, i - start);
    if (c == '\r' && i + 1 < size && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < size) lines.emplace_back(text.constData() + start, size - start);
  return lines;
}

}  // namespace

TTipDialog::TTipDialog(QWidget* owner) : TTipDialog(owner, CurrentUserHive()) {}

TTipDialog::TTipDialog(QWidget* owner, TRegistryHive& hive) : QDialog(owner), Hive(hive) {
  setWindowTitle(QStringLiteral("The tip of the day"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(372, 210);

  auto* panel = new QFrame(this);
  panel->setGeometry(8, 8, 260, 166);
  panel->setFrameShape(QFrame::Box);
  panel->setAutoFillBackground(true);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  panel->setPalette(white);

  auto* heading = new QLabel(panel);
  heading->setGeometry(8, 8, 157, 27);
  heading->setPixmap(HeadingPicture());

  sttTip = new QLabel(panel);
  sttTip->setObjectName(QStringLiteral("sttTip"));
  sttTip->setGeometry(8, 42, 244, 116);
  sttTip->setWordWrap(true);
  sttTip->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Plain text: ampersands and angle brackets are shown as they are.
  sttTip->setTextFormat(Qt::PlainText);

  btnClose = new QPushButton(QStringLiteral("&Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(276, 8, 88, 25);
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

  btnNextTip = new QPushButton(QStringLiteral("&Next tip"), this);
  btnNextTip->setObjectName(QStringLiteral("btnNextTip"));
  btnNextTip->setGeometry(276, 40, 88, 25);
  connect(btnNextTip, &QPushButton::clicked, this, &TTipDialog::btnNextTipClick);

  btnPrevTip = new QPushButton(QStringLiteral("&Previous tip"), this);
  btnPrevTip->setObjectName(QStringLiteral("btnPrevTip"));
  btnPrevTip->setGeometry(276, 72, 88, 25);
  connect(btnPrevTip, &QPushButton::clicked, this, &TTipDialog::btnPrevTipClick);

  chbStartUp = new QCheckBox(QStringLiteral("Display the tip of day at startup"), this);
  chbStartUp->setObjectName(QStringLiteral("chbStartUp"));
  chbStartUp->setGeometry(8, 182, 300, 20);
  chbStartUp->setChecked(true);
}

TTipDialog::~TTipDialog() {
  // A dialog whose tips could not be read was never shown: nothing the user chose is
  // there to save, and writing the defaults would overwrite the stored choice.
  if (!Loaded) return;
  try {
    SaveTipState(chbStartUp->isChecked(), TipIndex, Hive);
  } catch (const TRegistryError&) {
    // A destructor has no one to report to; the hive keeps the change pending and writes
    // it with its next successful write-back.
  }
}

void TTipDialog::LoadTips(const QString& path) {
  Tips.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw TLanError(QStringLiteral("Cannot open file \"%1\". %2")
                        .arg(path, file.errorString())
                        .toLocal8Bit()
                        .toStdString());
  }
  Tips = SplitLines(file.readAll());

  const TTipState state = LoadTipState(Hive);
  // A damaged value (negative, or the largest integer) starts from the first tip rather
  // than reading outside the list.
  TipIndex = 0;
  if (state.LastTip && *state.LastTip >= 0 && *state.LastTip < std::numeric_limits<int32_t>::max()) {
    TipIndex = *state.LastTip + 1;
  }
  chbStartUp->setChecked(state.ShowTipAtStartup);
  Loaded = true;
  ShowCurrentTip();
}

void TTipDialog::ShowCurrentTip() {
  if (TipIndex >= static_cast<int32_t>(Tips.size())) TipIndex = 0;
  // An empty file has no tip to show: the text stays empty.
  sttTip->setText(Tips.empty() ? QString() : QString::fromLocal8Bit(Tips[TipIndex]));
}

void TTipDialog::btnNextTipClick() {
  if (Tips.empty()) return;
  TipIndex = TipIndex + 1 == static_cast<int32_t>(Tips.size()) ? 0 : TipIndex + 1;
  ShowCurrentTip();
}

void TTipDialog::btnPrevTipClick() {
  if (Tips.empty()) return;
  TipIndex = TipIndex != 0 ? TipIndex - 1 : static_cast<int32_t>(Tips.size()) - 1;
  ShowCurrentTip();
}

QString TipsFilePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/tips.txt"); }

void ShowTipOfDay(QWidget* owner, const QString& path) {
  auto dialog = std::make_unique<TTipDialog>(owner);
  dialog->LoadTips(path);
  dialog->exec();
}
