#include "page/find_form.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <exception>

#include "page/message_box.h"

namespace {

// Re-applies the dialog's enabling rule when a find step ends, however it ends.
class TReenableOnExit {
 public:
  explicit TReenableOnExit(std::function<void()> reenable) : Reenable(std::move(reenable)) {}
  ~TReenableOnExit() { Reenable(); }
  TReenableOnExit(const TReenableOnExit&) = delete;
  TReenableOnExit& operator=(const TReenableOnExit&) = delete;

 private:
  std::function<void()> Reenable;
};

}  // namespace

TFindForm::TFindForm(QWidget* owner, QChar initialChar) : QDialog(owner) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Find in results"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(330, 74);

  edtFind = new QLineEdit(this);
  edtFind->setObjectName(QStringLiteral("edtFind"));
  edtFind->setGeometry(8, 10, 314, 23);
  btnFind = new QPushButton(QStringLiteral("&Find"), this);
  btnFind->setObjectName(QStringLiteral("btnFind"));
  btnFind->setGeometry(166, 42, 75, 25);
  btnFind->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("&Close"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(247, 42, 75, 25);
  setTabOrder(edtFind, btnFind);
  setTabOrder(btnFind, btnCancel);

  connect(edtFind, &QLineEdit::textChanged, this, [this] { edtFindChange(); });
  connect(btnFind, &QPushButton::clicked, this, [this] { btnFindClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  if (!initialChar.isNull()) edtFind->setText(QString(initialChar));
  edtFindChange();
  edtFind->setFocus();
}

void TFindForm::edtFindChange() {
  btnFind->setEnabled(!edtFind->text().trimmed().isEmpty());
  btnCancel->setEnabled(true);
  setEnabled(true);
}

void TFindForm::btnFindClick() {
  // Like a click: nothing happens while the button is disabled (blank text, or a step runs).
  if (!btnFind->isEnabled() || !isEnabled()) return;
  edtFind->selectAll();
  // Disabling the dialog takes the keyboard focus away (and the edit's selection with it),
  // and enabling it gives neither back: restore both, so typing goes on where it was.
  QPointer<QWidget> focused = focusWidget();
  btnFind->setEnabled(false);
  btnCancel->setEnabled(false);
  setEnabled(false);
  TReenableOnExit reenable([this, focused] {
    edtFindChange();
    QWidget* target = focused != nullptr && focused->isEnabled() ? focused.data() : edtFind;
    target->setFocus();
    if (target == edtFind) edtFind->selectAll();
  });
  if (!OnFind) return;
  try {
    OnFind(*this);
  } catch (const std::exception& error) {
    // Nothing below the dialog reports a failed step; the standard box does.
    ShowErrorBox(this, QString::fromLocal8Bit(error.what()));
  }
}

bool TFindForm::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && !Activated) {
    Activated = true;
    // The caret goes after the initial text, so the next keystroke extends it.
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QCoreApplication::sendEvent(edtFind, &end);
  }
  return QDialog::event(e);
}

void TFindForm::showEvent(QShowEvent* e) {
  if (!Centred) {
    Centred = true;
    if (const QScreen* screen = this->screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(e);
}
