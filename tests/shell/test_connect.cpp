// Connecting and disconnecting network resources: the dialogs over a scripted network,
// and a real connection to the test smbd whose user-only share is then searched.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/search_fixture.h"
#include "os/net_errors.h"
#include "page/message_box.h"
#include "shell/conn_dialog.h"
#include "smb/keyring.h"
#include "smb/smb_credentials.h"
#include "support/keyring_session.h"
#include "support/smbd_harness.h"
#include "test_tray_qt_app.h"

namespace {

constexpr uint16_t kConnectTestPort = 44731;

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQApplication();
    Previous = SetMessageBoxHook([this](const TMessageBoxRequest& request) {
      Errors.push_back(request.Text.toStdString());
      return TMsgResult::Ok;
    });
  }
  void TearDown() override { SetMessageBoxHook(Previous); }

  static void Fill(TConnDialog& dialog, const std::string& remote, const std::string& user,
                   const std::string& domain, const std::string& password) {
    dialog.edtRemoteName->setText(QString::fromStdString(remote));
    dialog.edtUser->setText(QString::fromStdString(user));
    dialog.edtDomain->setText(QString::fromStdString(domain));
    dialog.edtPassword->setText(QString::fromStdString(password));
  }

  std::vector<std::string> Errors;
  TMessageBoxHook Previous;
};

struct TScriptedNet {
  uint32_t Answer = NO_ERROR;
  std::vector<std::pair<std::string, TSmbCredentials>> Connects;
  std::vector<std::string> Names;

  TNetConnector Connector() {
    TNetConnector connector;
    connector.Connect = [this](const std::string& name, const TSmbCredentials& credentials) {
      Connects.emplace_back(name, credentials);
      return Answer;
    };
    connector.Disconnect = [this](const std::string& name) {
      std::erase(Names, name);
      return NO_ERROR;
    };
    connector.Connected = [this] { return Names; };
    return connector;
  }
};

TEST_F(ConnectTest, ConnectPassesCredentialsAndFailuresKeepTheDialogOpen) {
  TScriptedNet net;
  TConnDialog dialog(nullptr, net.Connector());
  EXPECT_FALSE(dialog.btnOk->isEnabled());  // nothing to connect yet

  net.Answer = ERROR_LOGON_FAILURE;
  Fill(dialog, "  \\\\srv\\docs ", "OFFICE\\ann", "", "s3cret-pw");
  dialog.btnOk->click();
  ASSERT_EQ(net.Connects.size(), 1u);
  EXPECT_EQ(net.Connects[0].first, "\\\\srv\\docs");
  EXPECT_EQ(net.Connects[0].second.User, "ann");
  EXPECT_EQ(net.Connects[0].second.Domain, "OFFICE");
  EXPECT_EQ(net.Connects[0].second.Password, "s3cret-pw");
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find("\\\\srv\\docs"), std::string::npos) << Errors[0];
  EXPECT_EQ(Errors[0].find("s3cret-pw"), std::string::npos) << "the password must never be shown";
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(dialog.edtPassword->text().isEmpty());

  net.Answer = NO_ERROR;
  Fill(dialog, "\\\\srv", "ann", "HOME", "other-pw");  // the domain box wins
  dialog.btnOk->click();
  EXPECT_EQ(net.Connects.back().second.User, "ann");
  EXPECT_EQ(net.Connects.back().second.Domain, "HOME");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Errors.size(), 1u);
}

// smb://server/share is taken as the command line takes it; a name in neither form is
// explained with the forms on lines of their own.
TEST_F(ConnectTest, SmbUrlsAreTakenAndOtherNamesExplained) {
  TScriptedNet net;
  TConnDialog dialog(nullptr, net.Connector());
  Fill(dialog, "smb://127.0.0.1/public", "", "", "");
  dialog.btnOk->click();
  ASSERT_EQ(net.Connects.size(), 1u);
  EXPECT_EQ(net.Connects[0].first, "\\\\127.0.0.1\\public");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  TConnDialog typo(nullptr, net.Connector());
  Fill(typo, "127.0.0.1/public", "", "", "");
  typo.btnOk->click();
  EXPECT_EQ(net.Connects.size(), 1u) << "nothing to connect";
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find("\n\\\\server\\share\nsmb://server/share"), std::string::npos) << Errors[0];
}

TEST_F(ConnectTest, DisconnectListsConnectionsAndForgetsTheChosenOne) {
  TScriptedNet net;
  net.Names = {"\\\\alpha", "\\\\beta\\share"};
  TDisconnDialog dialog(nullptr, net.Connector());
  ASSERT_EQ(dialog.lvConnections->count(), 2);
  dialog.lvConnections->setCurrentRow(1);
  dialog.btnDisconnect->click();
  EXPECT_EQ(net.Names, std::vector<std::string>{"\\\\alpha"});
  ASSERT_EQ(dialog.lvConnections->count(), 1);
  dialog.btnDisconnect->click();
  EXPECT_EQ(dialog.lvConnections->count(), 0);
  EXPECT_FALSE(dialog.btnDisconnect->isEnabled());
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ConnectTest, RememberPasswordIsGreyedWithAHintWithoutAKeyring) {
  if (InKeyringSession()) GTEST_SKIP() << "checked outside the private session";
  const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lq-test-bus", 1);
  TConnDialog dialog(nullptr);
  if (saved != nullptr) setenv("DBUS_SESSION_BUS_ADDRESS", previous.c_str(), 1);
  else unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_FALSE(dialog.chkRemember->isEnabled());
  EXPECT_NE(dialog.lblPasswordNote->text().indexOf("keyring"), -1) << dialog.lblPasswordNote->text().toStdString();
}

// The dialogs over the real keyring; only the network is scripted.
TEST_F(ConnectTest, RememberedPasswordIsKeptInTheKeyringAndConnectedAgainAtStart) {
  if (!InKeyringSession()) return RunCurrentTestInKeyringSession();
  TScriptedNet net;
  TNetConnector connector = SmbNetConnector();
  connector.Connect = net.Connector().Connect;
  TConnDialog dialog(nullptr, connector);
  ASSERT_TRUE(dialog.chkRemember->isEnabled());

  net.Answer = ERROR_LOGON_FAILURE;  // a refused password is never remembered
  Fill(dialog, "\\\\Srv\\Docs", "OFFICE\\ann", "", "wrong");
  dialog.chkRemember->setChecked(true);
  dialog.btnOk->click();
  EXPECT_TRUE(RememberedLogins().empty());

  net.Answer = NO_ERROR;
  Fill(dialog, "\\\\Srv\\Docs", "OFFICE\\ann", "", "s3cret-pw");
  dialog.btnOk->click();
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(RememberedLogins().size(), 1u);
  EXPECT_EQ(RememberedLogins()[0].Credentials.Password, "s3cret-pw");

  // The next start: the share is connected with the kept login and listed to disconnect.
  RemoveSmbCredentials("Srv", "Docs");
  EXPECT_EQ(ReconnectRememberedLogins(), std::vector<std::string>{"\\\\Srv\\Docs"});
  const TSmbCredentials restored = LookupSmbCredentials("srv", "docs");
  EXPECT_EQ(restored.User, "ann");
  EXPECT_EQ(restored.Domain, "OFFICE");
  EXPECT_EQ(restored.Password, "s3cret-pw");

  TNetConnector real = SmbNetConnector();
  TDisconnDialog disconnect(nullptr, real);
  const auto listed = disconnect.lvConnections->findItems("\\\\Srv\\Docs", Qt::MatchExactly);
  ASSERT_EQ(listed.size(), 1);
  disconnect.lvConnections->setCurrentItem(listed[0]);
  disconnect.btnDisconnect->click();
  EXPECT_TRUE(RememberedLogins().empty()) << "disconnecting forgets the kept password";
  EXPECT_TRUE(ReconnectRememberedLogins().empty());
}

TEST_F(ConnectTest, UserOnlyShareIsSearchedAfterConnectingWithCredentials) {
  TSmbdHarness server(kConnectTestPort);
  if (server.Failed()) GTEST_SKIP() << "no test smbd: " << server.Error();
  if (!server.HasUser()) GTEST_SKIP() << "no account for the user-only share";
  ASSERT_TRUE(WriteTestFile(server.SecretDir() + "/plans/lantern.txt"));
  const std::string share = TSmbdHarness::Unc("secret");
  const std::string found = share + "\\plans\\lantern.txt";
  auto search = [&] {
    TSearchRig rig(THandOff::Direct);
    rig.Run(TSearchRig::Task(share, "*.txt"));
    return rig.FullNames();
  };
  EXPECT_TRUE(search().empty()) << "the share must be closed to guests";

  TConnDialog dialog(nullptr);
  Fill(dialog, share, server.UserName(), "", "wrong-password");
  dialog.btnOk->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_TRUE(search().empty()) << "a refused password must leave the share closed";

  Fill(dialog, share, server.UserName(), "", TSmbdHarness::Password());
  dialog.btnOk->click();
  ASSERT_EQ(dialog.result(), QDialog::Accepted) << (Errors.empty() ? "" : Errors.back());
  EXPECT_EQ(search(), std::vector<std::string>{found});

  TDisconnDialog disconnect(nullptr);
  std::vector<std::string> listed;
  for (int i = 0; i < disconnect.lvConnections->count(); ++i)
    listed.push_back(disconnect.lvConnections->item(i)->text().toStdString());
  ASSERT_NE(std::find(listed.begin(), listed.end(), share), listed.end());
  disconnect.lvConnections->setCurrentRow(int(std::find(listed.begin(), listed.end(), share) - listed.begin()));
  disconnect.btnDisconnect->click();
  EXPECT_EQ(Errors.size(), 1u) << Errors.back();
  EXPECT_TRUE(search().empty()) << "after disconnecting the share is closed again";
}

}  // namespace
