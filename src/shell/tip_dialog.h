#pragma once
// TTipDialog: the modal "The tip of the day" dialog. It shows one line of the tips file at a
// time, steps forward and backward with wrap-around, and remembers in the MainWindow key
// which tip was on screen when it closed ("LastTip") and whether it appears by itself at
// start-up ("ShowTipAtStartup"). Each showing starts at the tip after the last one shown.
//
// Life: construct, LoadTips, exec, destroy. The destructor saves the two values, so Close,
// Esc and the window's close box all save alike. When LoadTips failed the dialog is never
// shown and the destructor leaves the stored values as they were.
//
// UI thread only.
#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class TRegistryHive;

class TTipDialog : public QDialog {
  Q_OBJECT

 public:
  // hive: where the two values live; it must outlive the dialog.
  explicit TTipDialog(QWidget* owner, TRegistryHive& hive);
  explicit TTipDialog(QWidget* owner);  // the user's settings
  ~TTipDialog() override;

  // Reads every line of the file at path (line breaks CR LF, LF or CR; a blank line is an
  // empty tip) and the stored state, and shows the tip after the one shown last. Throws
  // TLanError "Cannot open file "<path>". <reason>" when the file cannot be read.
  void LoadTips(const QString& path);

  void btnNextTipClick();
  void btnPrevTipClick();

  int32_t TipIndex = 0;
  std::vector<std::string> Tips;  // 8-bit lines, as in the file

  QLabel* sttTip = nullptr;
  QPushButton* btnClose = nullptr;
  QPushButton* btnNextTip = nullptr;
  QPushButton* btnPrevTip = nullptr;
  QCheckBox* chbStartUp = nullptr;

 private:
  void ShowCurrentTip();

  TRegistryHive& Hive;
  bool Loaded = false;
};

// "tips.txt" in the executable's folder.
QString TipsFilePath();

// The "Tip of day" command: shows the dialog for the tips file at path modally, owned by
// owner. Throws TLanError when the file cannot be read (no dialog is shown then).
void ShowTipOfDay(QWidget* owner, const QString& path = TipsFilePath());
