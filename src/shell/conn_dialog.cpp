#include "page/busy_cursor.h"
#include "shell/conn_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "network/netapi.h"
#include "os/net_errors.h"
#include "shell/typed_location.h"
#include "page/message_box.h"
#include "smb/keyring.h"
#include "smb/smb_path.h"

namespace {

std::string Local8Bit(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

namespace {

// The names connected through the dialog in this run, as "\\host" or "\\host\share". The
// network layer lists connected hosts only, so a share connected on its own would
// otherwise have no entry to disconnect. UI thread only.
std::vector<std::string>& DialogConnections() {
  static std::vector<std::string> names;
  return names;
}

bool SameName(const std::string& a, const std::string& b) { return AsciiLower(a) == AsciiLower(b); }

void Forget(const std::string& name) {
  std::erase_if(DialogConnections(), [&](const std::string& known) { return SameName(known, name); });
}

void Remember(const std::string& name) {
  Forget(name);
  DialogConnections().push_back(name);
}

// The name as the network layer writes it ("\\host\share"), or as typed when malformed.
std::string CanonicalName(const std::string& remoteName) {
  const auto parsed = ParseUncName(remoteName);
  return parsed ? UncText(*parsed) : remoteName;
}

constexpr const char* kNotRemembered =
    "The connection lasts until the program ends; the password is not saved.";
constexpr const char* kRemembered =
    "The password is kept in the desktop's keyring; the connection is made again at each start.";
constexpr const char* kNoKeyring =
    "No desktop keyring (Secret Service) is running: the password cannot be remembered.";

}  // namespace

TNetConnector SmbNetConnector() {
  TNetConnector connector;
  connector.Connect = [](const std::string& remoteName, const TSmbCredentials& credentials) {
    const uint32_t code = SmbConnect(remoteName, credentials);
    if (code == NO_ERROR) Remember(UncText(*ParseUncName(remoteName)));
    return code;
  };
  connector.Disconnect = [](const std::string& remoteName) {
    const uint32_t code = SmbDisconnect(remoteName);
    if (code == NO_ERROR || code == ERROR_NOT_CONNECTED) Forget(remoteName);
    return code;
  };
  connector.Connected = [] {
    std::vector<std::string> names = DialogConnections();
    // Hosts connected elsewhere (not through this dialog) are listed as the network layer
    // names them, unless a name above already belongs to that host.
    for (const std::string& server : SmbConnectedServers()) {
      const bool covered = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        const auto parsed = ParseUncName(name);
        return parsed && SameName("\\\\" + parsed->Host, server);
      });
      if (!covered) names.push_back(server);
    }
    return names;
  };
  connector.KeyringAvailable = [] { return KeyringAvailable(); };
  connector.Remember = [](const std::string& remoteName, const TSmbCredentials& credentials) {
    RememberLogin(remoteName, credentials);
  };
  connector.Forget = [](const std::string& remoteName) {
    try {
      ForgetLogin(remoteName);
    } catch (const TKeyringError&) {
      // Nothing kept can be removed from a keyring that does not answer; the next start
      // then connects it again, which Disconnect can undo once the keyring is back.
    }
  };
  return connector;
}

std::vector<std::string> ReconnectRememberedLogins() {
  std::vector<std::string> names;
  std::vector<TRememberedLogin> logins;
  try {
    if (!KeyringAvailable()) return names;
    logins = RememberedLogins();
  } catch (const TKeyringError&) {
    return names;  // the user connects by hand, as without a keyring
  }
  for (TRememberedLogin& login : logins) {
    const auto parsed = ParseUncName(login.RemoteName);
    if (!parsed || !parsed->Rest.empty()) continue;  // not a name this program stored
    SetSmbCredentials(parsed->Host, parsed->Share, login.Credentials);
    login.Credentials.Password.assign(login.Credentials.Password.size(), '\0');
    Remember(UncText(*parsed));
    names.push_back(UncText(*parsed));
  }
  return names;
}

QString NetResultText(uint32_t code) {
  char text[512] = {};
  if (code == ERROR_EXTENDED_ERROR) {
    uint32_t providerCode = 0;
    char provider[128] = {};
    WNetGetLastErrorA(&providerCode, text, sizeof text, provider, sizeof provider);
  } else {
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                   sizeof text, nullptr);
  }
  const QString message = QString::fromLocal8Bit(text).trimmed();
  return message.isEmpty() ? QStringLiteral("Error %1.").arg(code) : message;
}

TConnDialog::TConnDialog(QWidget* owner, TNetConnector connector)
    : QDialog(owner), Connector(std::move(connector)) {
  setWindowTitle(QStringLiteral("Connect network resource"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  edtRemoteName = new QLineEdit(this);
  edtRemoteName->setPlaceholderText(QStringLiteral("\\\\server\\share or smb://server/share"));
  edtUser = new QLineEdit(this);
  edtUser->setPlaceholderText(QStringLiteral("empty: anonymous"));
  edtDomain = new QLineEdit(this);
  edtPassword = new QLineEdit(this);
  edtPassword->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("&Folder:"), edtRemoteName);
  form->addRow(QStringLiteral("&User name:"), edtUser);
  form->addRow(QStringLiteral("&Domain:"), edtDomain);
  form->addRow(QStringLiteral("&Password:"), edtPassword);
  chkRemember = new QCheckBox(QStringLiteral("&Remember password"), this);
  form->addRow(QString(), chkRemember);
  layout->addLayout(form);
  lblPasswordNote = new QLabel(this);
  lblPasswordNote->setWordWrap(true);
  layout->addWidget(lblPasswordNote);
  const bool keyring = Connector.KeyringAvailable && Connector.KeyringAvailable();
  chkRemember->setEnabled(keyring);
  lblPasswordNote->setText(QString::fromLatin1(keyring ? kNotRemembered : kNoKeyring));
  if (!keyring) chkRemember->setToolTip(QString::fromLatin1(kNoKeyring));
  connect(chkRemember, &QCheckBox::toggled, this, [this](bool checked) {
    lblPasswordNote->setText(QString::fromLatin1(checked ? kRemembered : kNotRemembered));
  });

  auto* buttons = new QDialogButtonBox(this);
  btnOk = buttons->addButton(QStringLiteral("Connect"), QDialogButtonBox::AcceptRole);
  btnCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  btnOk->setDefault(true);
  btnOk->setEnabled(false);
  layout->addWidget(buttons);
  connect(btnOk, &QPushButton::clicked, this, &TConnDialog::btnOkClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(edtRemoteName, &QLineEdit::textChanged, this,
          [this](const QString& text) { btnOk->setEnabled(!text.trimmed().isEmpty()); });
  setMinimumWidth(380);
}

void TConnDialog::btnOkClick() {
  const std::string typed = Local8Bit(edtRemoteName->text().trimmed());
  if (typed.empty()) return;
  // \\server\share and smb://server/share alike, as the command-line program takes them.
  const std::optional<std::string> parsed = TypedNetworkName(typed);
  if (!parsed) {
    ShowErrorBox(this, QStringLiteral("\"%1\" is not a server or a share.\n%2")
                           .arg(QString::fromLocal8Bit(typed.c_str()), QString::fromLocal8Bit(TypedLocationHelp(false).c_str())));
    return;
  }
  const std::string remoteName = *parsed;
  TSmbCredentials credentials;
  QString user = edtUser->text().trimmed();
  QString domain = edtDomain->text().trimmed();
  // "DOMAIN\user" in the user box names the domain when the domain box is empty.
  if (const qsizetype slash = user.indexOf('\\'); slash > 0 && domain.isEmpty()) {
    domain = user.left(slash);
    user = user.mid(slash + 1);
  }
  credentials.User = Local8Bit(user);
  credentials.Domain = Local8Bit(domain);
  credentials.Password = Local8Bit(edtPassword->text());
  // The password box is emptied whatever the outcome: a retry types it again.
  edtPassword->clear();

  uint32_t code = 0;
  {
    TBusyCursor busy;
    code = Connector.Connect(remoteName, credentials);
  }
  QString keyringFailure;
  if (code == NO_ERROR && chkRemember->isEnabled()) {
    const std::string name = CanonicalName(remoteName);
    try {
      if (chkRemember->isChecked()) Connector.Remember(name, credentials);
      else if (Connector.Forget) Connector.Forget(name);
    } catch (const TKeyringError& error) {
      keyringFailure = QString::fromUtf8(error.what());
    }
  }
  credentials.Password.assign(credentials.Password.size(), '\0');
  if (code == NO_ERROR) {
    // The connection stands for this run even when the keyring refused the password.
    if (!keyringFailure.isEmpty())
      ShowErrorBox(this, QStringLiteral("Connected to \"%1\", but the password is not remembered. %2")
                             .arg(QString::fromLocal8Bit(remoteName.c_str()), keyringFailure));
    accept();
    return;
  }
  const QString reason = code == ERROR_INVALID_PARAMETER ? QString::fromLocal8Bit(TypedLocationHelp(false).c_str())
                                                         : NetResultText(code);
  ShowErrorBox(this, QStringLiteral("Cannot connect to \"%1\". %2")
                         .arg(QString::fromLocal8Bit(remoteName.c_str()), reason));
}

TDisconnDialog::TDisconnDialog(QWidget* owner, TNetConnector connector)
    : QDialog(owner), Connector(std::move(connector)) {
  setWindowTitle(QStringLiteral("Disconnect network resource"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Connected for this run:"), this));
  lvConnections = new QListWidget(this);
  layout->addWidget(lvConnections);
  auto* buttons = new QDialogButtonBox(this);
  btnDisconnect = buttons->addButton(QStringLiteral("&Disconnect"), QDialogButtonBox::ActionRole);
  btnClose = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(btnDisconnect, &QPushButton::clicked, this, &TDisconnDialog::btnDisconnectClick);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  connect(lvConnections, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
  Refresh();
}

void TDisconnDialog::Refresh() {
  lvConnections->clear();
  for (const std::string& name : Connector.Connected())
    lvConnections->addItem(QString::fromLocal8Bit(name.c_str()));
  if (lvConnections->count() > 0) lvConnections->setCurrentRow(0);
  UpdateButtons();
}

void TDisconnDialog::UpdateButtons() { btnDisconnect->setEnabled(lvConnections->currentItem() != nullptr); }

void TDisconnDialog::btnDisconnectClick() {
  const QListWidgetItem* item = lvConnections->currentItem();
  if (item == nullptr) return;
  const QString name = item->text();
  const uint32_t code = Connector.Disconnect(Local8Bit(name));
  if ((code == NO_ERROR || code == ERROR_NOT_CONNECTED) && Connector.Forget &&
      Connector.KeyringAvailable && Connector.KeyringAvailable())
    Connector.Forget(Local8Bit(name));
  Refresh();
  if (code != NO_ERROR)
    ShowErrorBox(this, QStringLiteral("Cannot disconnect \"%1\". %2").arg(name, NetResultText(code)));
}

void ShowConnectDialog(QWidget* owner) {
  TConnDialog dialog(owner);
  dialog.exec();
}

void ShowDisconnectDialog(QWidget* owner) {
  TDisconnDialog dialog(owner);
  dialog.exec();
}
