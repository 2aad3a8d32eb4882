#pragma once
// TFindForm: the small "Find in results" dialog. It knows nothing of results: its Find
// button calls OnFind, which performs one find step on the page's list and keeps the
// search position in the dialog's Tag between steps. The dialog deletes itself when it
// is closed (Close button, Escape or the close box). UI thread only.
#include <QDialog>

#include <cstdint>
#include <functional>

class QLineEdit;
class QPushButton;

class TFindForm : public QDialog {
  Q_OBJECT

 public:
  // The text starts as the one character initialChar (a null character: empty text).
  TFindForm(QWidget* owner, QChar initialChar);

  QLineEdit* edtFind = nullptr;
  QPushButton* btnFind = nullptr;    // default button: Enter performs a step
  QPushButton* btnCancel = nullptr;  // Escape closes

  // One find step, called by btnFind with this dialog. Errors it throws are shown in
  // the standard error box; the dialog stays usable.
  std::function<void(TFindForm&)> OnFind;

  // The search position (SearchStart): -2 just opened, -1 after a step that found
  // nothing, otherwise the row of the last match.
  int32_t Tag = 0;

  // Performs what pressing btnFind does.
  void btnFindClick();

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void edtFindChange();

  bool Activated = false;  // the first activation has placed the caret
  bool Centred = false;
};
