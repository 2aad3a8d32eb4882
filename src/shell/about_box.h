#pragma once
// TAboutBox: the modal "About" box: the product name, the version read from the executable
// (major and minor parts), and two links to the maker, its web site and its support
// mail address, that open in the desktop's browser and mail program.
// UI thread only.
#include <QDialog>
#include <QLabel>

class QPushButton;

// A label that acts as a link: navy, blue while the mouse is over it, the hand cursor,
// and clicked() on a left click.
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetColor(const QColor& color);
};

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // versionFile: the file whose stamped version is shown; empty means the running
  // executable.
  explicit TAboutBox(QWidget* owner, const QString& versionFile = QString());

  QLabel* lblVersion = nullptr;
  TLinkLabel* lblSite = nullptr;
  TLinkLabel* lblEmail = nullptr;
  QPushButton* btnClose = nullptr;
};

// The version line for a file: "Version " and the major and minor parts ("Version 1.1"),
// or "Version unknown" when the file carries no version.
QString VersionLine(const QString& versionFile);
