#include "page/message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>

namespace {

TMessageBoxHook& Hook() {
  static TMessageBoxHook hook;
  return hook;
}

QMessageBox::Icon ToQtIcon(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Question: return QMessageBox::Question;
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Stop: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
  TMessageBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

TMsgResult ShowMessageBox(const TMessageBoxRequest& request) {
  if (Hook()) return Hook()(request);
  const bool yesNo = request.Buttons == TMsgButtons::YesNo;
  QMessageBox box(ToQtIcon(request.Icon), request.Caption, request.Text,
                  yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, request.Parent);
  if (yesNo) box.setEscapeButton(QMessageBox::No);
  // A short message makes a box narrower than its title bar needs, and the window manager
  // then cuts the caption; widen the box to fit the caption beside the frame's buttons.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = QFontMetrics(titleFont).horizontalAdvance(request.Caption) + 120;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  const int answer = box.exec();
  if (!yesNo) return TMsgResult::Ok;
  return answer == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
}

QString ApplicationTitle() { return QStringLiteral("Lanternquest"); }

void ShowErrorBox(QWidget* parent, const QString& message) {
  ShowMessageBox({parent, message, ApplicationTitle(), TMsgIcon::Stop, TMsgButtons::Ok});
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  return ShowMessageBox({parent, text, caption, TMsgIcon::Question, TMsgButtons::YesNo}) ==
         TMsgResult::Yes;
}

void ShowInformation(QWidget* parent, const QString& text, const QString& caption) {
  ShowMessageBox({parent, text, caption, TMsgIcon::Information, TMsgButtons::Ok});
}
