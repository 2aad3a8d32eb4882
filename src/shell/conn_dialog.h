#pragma once
// The "Connect network resource" and "Disconnect network resource" dialogs.
//
// Connect takes a server (\\host) or a share (\\host\share), an optional user name (also
// "DOMAIN\user"), domain and password, and connects it for this run: from then on the
// server's shares are listed and searched with those credentials. The connection is
// checked against the server before the dialog closes; a failure is shown in the error
// box and the dialog stays open for a correction. Disconnect lists the servers connected
// for this run and forgets the chosen one.
//
// Passwords live in the network layer's memory for this run: they are never written to
// the settings, never shown in a message and the password box is emptied once used. With
// "Remember password" ticked, a successful connection's credentials are also kept in the
// desktop's keyring (smb/keyring.h), and the server or share is connected again at
// the next start (ReconnectRememberedLogins). Without a keyring the box is greyed and a
// line under it says why. Connecting without the box ticked, or disconnecting, removes
// what the keyring kept for that name.
//
// The network calls are reached through TNetConnector so that tests can answer them.
// The calls run on the UI thread (the server is probed first, so a dead host answers in
// about two seconds at most); the hourglass cursor shows meanwhile.
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "smb/smb_credentials.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

struct TNetConnector {
  // Returns a result code (0 for success), as SmbConnect.
  std::function<uint32_t(const std::string& remoteName, const TSmbCredentials&)> Connect;
  std::function<uint32_t(const std::string& remoteName)> Disconnect;
  std::function<std::vector<std::string>()> Connected;
  // The desktop keyring; when KeyringAvailable is unset or false nothing is remembered.
  // Remember throws TKeyringError; Forget reports nothing (nothing kept is no failure).
  std::function<bool()> KeyringAvailable;
  std::function<void(const std::string& remoteName, const TSmbCredentials&)> Remember;
  std::function<void(const std::string& remoteName)> Forget;
};

// The connector over the program's SMB network layer.
TNetConnector SmbNetConnector();

// The text of a network result code, as the user sees it ("Logon failure: ...").
QString NetResultText(uint32_t code);

class TConnDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TConnDialog(QWidget* owner, TNetConnector connector = SmbNetConnector());

  // Connects with what was entered: accepts the dialog on success; on failure shows the
  // reason in the error box and stays open.
  void btnOkClick();

  QLineEdit* edtRemoteName = nullptr;
  QLineEdit* edtUser = nullptr;
  QLineEdit* edtDomain = nullptr;
  QLineEdit* edtPassword = nullptr;
  QCheckBox* chkRemember = nullptr;
  QLabel* lblPasswordNote = nullptr;  // where the password is kept, or why it cannot be
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;

 private:
  TNetConnector Connector;
};

class TDisconnDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TDisconnDialog(QWidget* owner, TNetConnector connector = SmbNetConnector());

  // Forgets the selected connection and refreshes the list; a failure goes to the error box.
  void btnDisconnectClick();
  // Refills the list from the network layer.
  void Refresh();

  QListWidget* lvConnections = nullptr;
  QPushButton* btnDisconnect = nullptr;
  QPushButton* btnClose = nullptr;

 private:
  void UpdateButtons();

  TNetConnector Connector;
};

// At start: connects, for this run, every server and share whose login the keyring keeps,
// without contacting them (a wrong password shows when they are searched). They are then
// listed by the Disconnect dialog. Returns the names; none when there is no keyring.
std::vector<std::string> ReconnectRememberedLogins();

// The commands of the main window: each shows its dialog modally.
void ShowConnectDialog(QWidget* owner);
void ShowDisconnectDialog(QWidget* owner);
