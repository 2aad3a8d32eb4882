// The options dialog's location tree: lazy listing (once per node, off the GUI thread,
// images by depth, nodes that list nothing), and what choosing a node stores, over a
// scripted network, local folders and the loopback smbd.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <future>
#include <map>

#include "os/net_errors.h"
#include "smb/smb_client.h"
#include "smb/smb_credentials.h"
#include "smb/smb_path.h"
#include "support/smbd_harness.h"
#include "test_options_fixture.h"

namespace {

NETRESOURCEA Entry(const std::string& remoteName, uint32_t usage) {
  NETRESOURCEA r;
  r.dwScope = RESOURCE_GLOBALNET;
  r.dwUsage = usage;
  r.lpRemoteName = remoteName;
  r.lpProvider = "SMB Network";
  return r;
}

// A network of one provider, one workgroup, two servers (one sharing nothing) and one share
// with a folder, that counts how often each container and folder is listed.
struct TScriptedNetwork {
  std::map<std::string, int> Listed;  // written on the listing thread, read after it joined
  std::vector<NETRESOURCEA> Containers;

  TNodeLister Lister() {
    TNodeLister lister;
    lister.EnumerateNetwork = [this](const NETRESOURCEA& container) {
      Containers.push_back(container);
      const std::string name = container.lpRemoteName.value_or("(root)");
      ++Listed[name];
      if (name == "(root)") return std::vector<NETRESOURCEA>{Entry("SMB Network", RESOURCEUSAGE_CONTAINER)};
      if (name == "SMB Network") return std::vector<NETRESOURCEA>{Entry("WORKGROUP", RESOURCEUSAGE_CONTAINER)};
      if (name == "WORKGROUP")
        return std::vector<NETRESOURCEA>{Entry("\\\\ALPHA", RESOURCEUSAGE_CONTAINER),
                                         Entry("\\\\EMPTY", RESOURCEUSAGE_CONTAINER)};
      if (name == "\\\\ALPHA") return std::vector<NETRESOURCEA>{Entry("\\\\ALPHA\\docs", RESOURCEUSAGE_CONNECTABLE)};
      if (name == "10.1.2.0/24") return std::vector<NETRESOURCEA>{Entry("\\\\10.1.2.5", RESOURCEUSAGE_CONTAINER)};
      return std::vector<NETRESOURCEA>{};
    };
    lister.ListFolders = [this](const std::string& folder) {
      ++Listed[folder];
      if (folder == "\\\\ALPHA\\docs") return std::vector<std::string>{"reports"};
      return std::vector<std::string>{};
    };
    return lister;
  }
};

// Expands node through the tree, as a click on its expand button does.
void Expand(TNetNode* node) { node->setExpanded(true); }

// Expands node and then each named child in turn; the last named node (not expanded), or
// nullptr when one is missing.
TNetNode* Walk(TNetNode* node, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    Expand(node);
    node = Child(node, name);
    if (node == nullptr) return nullptr;
  }
  return node;
}

TEST_F(OptionsTest, NodesAreListedOnceWithImagesByDepth) {
  TScriptedNetwork net;
  auto dialog = Open(net.Lister());
  TNetNode* root = dialog->NetworkRoot();
  TNetNode* folder = Walk(root, {"SMB Network", "WORKGROUP", "\\\\ALPHA", "\\\\ALPHA\\docs", "reports"});
  ASSERT_NE(folder, nullptr);
  EXPECT_TRUE(root->isExpanded());
  TNetNode* share = folder->ParentNode();
  TNetNode* server = share->ParentNode();
  TNetNode* workgroup = server->ParentNode();
  TNetNode* provider = workgroup->ParentNode();

  EXPECT_EQ(provider->ImageIndex, kImageNetworkContainer);
  EXPECT_EQ(workgroup->ImageIndex, kImageNetworkContainer);
  EXPECT_EQ(server->ImageIndex, kImageServer);
  EXPECT_EQ(share->ImageIndex, kImageShare);
  EXPECT_EQ(folder->ImageIndex, kImageFolder);
  EXPECT_FALSE(folder->Record);
  ASSERT_TRUE(share->Record);
  EXPECT_EQ(share->Record->dwUsage, RESOURCEUSAGE_CONNECTABLE);

  // Collapsing and expanding again shows the same children without a second listing.
  server->setExpanded(false);
  Expand(server);
  EXPECT_TRUE(dialog->tvNetExpanding(server));
  EXPECT_EQ(server->childCount(), 1);
  for (const char* name : {"(root)", "SMB Network", "WORKGROUP", "\\\\ALPHA", "\\\\ALPHA\\docs"})
    EXPECT_EQ(net.Listed[name], 1) << name;
  // The root is asked for with no names, so the network layer knows it.
  EXPECT_EQ(net.Containers.front(), EntireNetworkResource());
}

TEST_F(OptionsTest, NodeThatListsNothingLosesItsExpandMarkAndIsNotListedAgain) {
  TScriptedNetwork net;
  auto dialog = Open(net.Lister());
  TNetNode* empty = Walk(dialog->NetworkRoot(), {"SMB Network", "WORKGROUP", "\\\\EMPTY"});
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->HasChildrenMark());
  Expand(empty);
  EXPECT_FALSE(empty->isExpanded());
  EXPECT_FALSE(empty->HasChildrenMark());
  EXPECT_EQ(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
  Expand(empty);
  EXPECT_FALSE(dialog->tvNetExpanding(empty));
  EXPECT_EQ(net.Listed["\\\\EMPTY"], 1);
  // Expanding counts as touching the tree: with nothing chosen, "Ok" now waits for a choice.
  EXPECT_FALSE(dialog->btnOk->isEnabled());
  EXPECT_TRUE(dialog->isEnabled());
}

TEST_F(OptionsTest, ListingRunsOffTheGuiThreadWhileTheDialogWaitsDisabled) {
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  TNodeLister lister;
  lister.EnumerateNetwork = [opened](const NETRESOURCEA&) {
    opened.wait();  // a slow server
    return std::vector<NETRESOURCEA>{Entry("SMB Network", RESOURCEUSAGE_CONTAINER)};
  };
  lister.ListFolders = [](const std::string&) { return std::vector<std::string>{}; };
  auto dialog = Open(lister);

  bool sawBusy = false;
  // Runs from the GUI thread's event loop while the listing is blocked: the loop is alive.
  QTimer::singleShot(0, dialog.get(), [&] {
    sawBusy = dialog->Busy() && !dialog->isEnabled() && !dialog->btnOk->isEnabled() &&
              !dialog->btnCancel->isEnabled() && QApplication::overrideCursor() != nullptr &&
              QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    dialog->reject();  // Esc while busy is ignored
    gate.set_value();
  });
  EXPECT_TRUE(dialog->tvNetExpanding(dialog->NetworkRoot()));
  EXPECT_TRUE(sawBusy);
  EXPECT_EQ(dialog->result(), 0) << "the dialog was not closed while busy";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(dialog->isEnabled());
  EXPECT_TRUE(dialog->btnCancel->isEnabled());
  EXPECT_EQ(dialog->NetworkRoot()->childCount(), 1);
}

TEST_F(OptionsTest, ArrowKeysMoveThroughTheTreeAfterAnExpansion) {
  TScriptedNetwork net;
  auto dialog = Open(net.Lister());
  dialog->show();
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  dialog->tvNet->setFocus();
  dialog->tvNet->setCurrentItem(dialog->NetworkRoot());
  ASSERT_EQ(QApplication::focusWidget(), dialog->tvNet);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);  // expands: one listing
  ASSERT_EQ(dialog->NetworkRoot()->childCount(), 1);
  ASSERT_EQ(QApplication::focusWidget(), dialog->tvNet) << "the tree has the keys again";
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  EXPECT_EQ(dialog->SelectedNode(), Child(dialog->NetworkRoot(), "SMB Network"));
}

TEST_F(OptionsTest, ChoosingNodesStoresLocationAndDisplayPath) {
  TScriptedNetwork net;
  auto dialog = Open(net.Lister());
  TNetNode* folder =
      Walk(dialog->NetworkRoot(), {"SMB Network", "WORKGROUP", "\\\\ALPHA", "\\\\ALPHA\\docs", "reports"});
  ASSERT_NE(folder, nullptr);

  dialog->tvNet->setCurrentItem(folder);
  EXPECT_EQ(dialog->LocationEdit->text(), "reports");
  EXPECT_TRUE(dialog->btnOk->isEnabled());
  EXPECT_EQ(dialog->NodeFolderPath(folder), "\\\\ALPHA\\docs\\reports");
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_FALSE(Setting.NetResource);
  EXPECT_EQ(Setting.NetResPath, "\\\\ALPHA\\docs\\reports");
  EXPECT_EQ(Setting.NetResFullPath, "Entire network\\SMB Network\\WORKGROUP\\ALPHA\\docs\\reports");
}

// An address range becomes a container of the network tree: it is listed through the
// network layer with its own record, and choosing it stores that record.
TEST_F(OptionsTest, AddedAddressRangeIsListedAndStoredAsANetworkContainer) {
  TScriptedNetwork net;
  auto dialog = Open(net.Lister());
  EXPECT_EQ(dialog->AddAddressRange("10.0.0.0/8"), nullptr);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("10.0.0.0/8"), std::string::npos) << Messages[0];

  TNetNode* range = dialog->AddAddressRange("10.1.2.77/24");
  ASSERT_NE(range, nullptr);
  EXPECT_EQ(range->ParentNode(), dialog->NetworkRoot());
  EXPECT_EQ(range->Caption(), "10.1.2.0/24");
  // The root was listed before the range joined it: the provider is still there.
  EXPECT_EQ(dialog->NetworkRoot()->childCount(), 2);
  EXPECT_EQ(net.Listed["(root)"], 1);
  EXPECT_TRUE(dialog->tvNetExpanding(range));
  EXPECT_EQ(net.Listed["10.1.2.0/24"], 1);
  ASSERT_EQ(range->childCount(), 1);
  EXPECT_EQ(range->ChildNode(0)->Caption(), "\\\\10.1.2.5");
  EXPECT_EQ(net.Containers.back().dwUsage, RESOURCEUSAGE_CONTAINER);

  dialog->tvNet->setCurrentItem(range);
  ASSERT_TRUE(PressOk(*dialog));
  ASSERT_TRUE(Setting.NetResource);
  EXPECT_EQ(Setting.NetResource->lpRemoteName, std::string("10.1.2.0/24"));
  EXPECT_EQ(Setting.NetResFullPath, "Entire network\\10.1.2.0/24");
}

// A private home folder with one visible folder, one hidden folder and one file.
class LocalFoldersTest : public OptionsTest {
 protected:
  void SetUp() override {
    OptionsTest::SetUp();
    Home = Dir / "home";
    std::filesystem::create_directories(Home / "alpha" / "inner");
    std::filesystem::create_directories(Home / ".cache");
    WriteTestFile((Home / "notes.txt").string());
    const char* home = std::getenv("HOME");
    if (home != nullptr) SavedHome = home;
    ::setenv("HOME", Home.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("HOME", SavedHome.c_str(), 1);
    OptionsTest::TearDown();
  }
  std::filesystem::path Home;
  std::string SavedHome;
};

TEST_F(LocalFoldersTest, HomeFolderIsListedAndChosenAsAPath) {
  auto dialog = Open();
  TNetNode* local = dialog->LocalRoot();
  EXPECT_EQ(Captions(local), (std::vector<std::string>{"/", Home.string()}));
  TNetNode* home = Child(local, Home.string());
  Expand(home);
  EXPECT_EQ(Captions(home), std::vector<std::string>{"alpha"});
  TNetNode* alpha = Child(home, "alpha");
  Expand(alpha);
  TNetNode* inner = Child(alpha, "inner");
  ASSERT_NE(inner, nullptr);
  Expand(inner);  // no folders below
  EXPECT_FALSE(inner->HasChildrenMark());

  dialog->tvNet->setCurrentItem(inner);
  ASSERT_TRUE(PressOk(*dialog));
  const std::string path = (Home / "alpha" / "inner").string();
  EXPECT_FALSE(Setting.NetResource);
  EXPECT_EQ(Setting.NetResPath, path);
  EXPECT_EQ(Setting.NetResFullPath, path);

  // The file-system root is a folder node of its own.
  auto again = Open();
  TNetNode* top = Child(again->LocalRoot(), "/");
  Expand(top);
  TNetNode* tmp = Child(top, "tmp");
  ASSERT_NE(tmp, nullptr);
  EXPECT_EQ(again->NodeFolderPath(tmp), "/tmp");
}

constexpr uint16_t kOptionsTestPort = 24461;

// The loopback smbd, shared by the tests of this suite, connected (anonymously) so that
// the provider lists it.
class OptionsNetworkTest : public OptionsTest {
 protected:
  static void SetUpTestSuite() {
    TSmbClientOptions options;
    options.Interfaces = "127.0.0.1/8";
    options.NameResolveOrder = "host";
    SmbInitialize(options);
    Server = new TSmbdHarness(kOptionsTestPort);
    if (Server->Failed()) return;
    std::filesystem::create_directories(Server->PublicDir() + "/docs/inner");
    std::filesystem::create_directories(Server->PublicDir() + "/.dot");
    WriteTestFile(Server->PublicDir() + "/readme.txt");
  }
  static void TearDownTestSuite() {
    delete Server;
    Server = nullptr;
  }
  void SetUp() override {
    OptionsTest::SetUp();
    if (Server->Failed()) GTEST_SKIP() << "no test smbd: " << Server->Error();
    // Another test program part may have pointed the host at its own server meanwhile.
    SetSmbHostPort(TSmbdHarness::Host(), Server->Port());
    SetSmbCredentials(TSmbdHarness::Host(), "", TSmbCredentials{});
  }
  void TearDown() override {
    RemoveSmbCredentials(TSmbdHarness::Host(), "");
    OptionsTest::TearDown();
  }

  // Expands the real tree down to the test server's public share.
  static TNetNode* PublicShare(TOptionsDialog& dialog) {
    const std::string server = TSmbdHarness::Unc();
    const std::string share = TSmbdHarness::Unc("public");
    return Walk(dialog.NetworkRoot(), {kSmbProviderName, server.c_str(), share.c_str()});
  }

  static TSmbdHarness* Server;
};

TSmbdHarness* OptionsNetworkTest::Server = nullptr;

TEST_F(OptionsNetworkTest, ShareNodeStoresItsRecord) {
  auto dialog = Open();
  TNetNode* share = PublicShare(*dialog);
  ASSERT_NE(share, nullptr) << "the server's shares were not listed";
  TNetNode* server = share->ParentNode();
  std::vector<std::string> shares = Captions(server);
  std::sort(shares.begin(), shares.end());
  EXPECT_EQ(shares, (std::vector<std::string>{TSmbdHarness::Unc("mapped"), TSmbdHarness::Unc("public"),
                                              TSmbdHarness::Unc("secret")}));
  dialog->tvNet->setCurrentItem(share);
  ASSERT_TRUE(PressOk(*dialog));
  ASSERT_TRUE(Setting.NetResource);
  EXPECT_EQ(Setting.NetResource->lpRemoteName, TSmbdHarness::Unc("public"));
  EXPECT_EQ(Setting.NetResource->dwUsage, RESOURCEUSAGE_CONNECTABLE);
  EXPECT_EQ(Setting.NetResPath, "");
  EXPECT_EQ(Setting.NetResFullPath, "Entire network\\SMB Network\\127.0.0.1\\public");
}

TEST_F(OptionsNetworkTest, FolderNodeStoresItsUncPath) {
  Setting.NetResPath.clear();
  auto dialog = Open();
  TNetNode* share = PublicShare(*dialog);
  ASSERT_NE(share, nullptr);
  Expand(share);
  EXPECT_EQ(Captions(share), std::vector<std::string>{"docs"}) << "no files, no hidden folders";
  TNetNode* docs = Child(share, "docs");
  Expand(docs);
  TNetNode* inner = Child(docs, "inner");
  ASSERT_NE(inner, nullptr);
  Expand(inner);
  EXPECT_FALSE(inner->HasChildrenMark());

  dialog->tvNet->setCurrentItem(docs);
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_FALSE(Setting.NetResource);
  EXPECT_EQ(Setting.NetResPath, TSmbdHarness::Unc("public") + "\\docs");
  EXPECT_EQ(Setting.NetResFullPath, "Entire network\\SMB Network\\127.0.0.1\\public\\docs");
}

// The user-only share refuses a guest: expanding it says so and offers to connect; with
// the account's password it is listed.
TEST_F(OptionsNetworkTest, RefusedShareSaysAccessDeniedAndIsListedOnceConnected) {
  if (!Server->HasUser()) GTEST_SKIP() << "no account for the user-only share";
  std::filesystem::create_directories(Server->SecretDir() + "/plans");
  auto dialog = Open();
  TNetNode* secret = Walk(dialog->NetworkRoot(), {kSmbProviderName, TSmbdHarness::Unc().c_str(),
                                                  TSmbdHarness::Unc("secret").c_str()});
  ASSERT_NE(secret, nullptr);
  bool answer = false;
  SetMessageBoxHook([&](const TMessageBoxRequest& request) {
    Messages.push_back(request.Text.toStdString());
    return request.Buttons == TMsgButtons::YesNo && answer ? TMsgResult::Yes : TMsgResult::No;
  });
  dialog->ConnectResource = [&](const QString& remoteName) {
    EXPECT_EQ(remoteName.toStdString(), TSmbdHarness::Unc("secret"));
    TSmbCredentials account;
    account.User = Server->UserName();
    account.Password = TSmbdHarness::Password();
    SetSmbCredentials(TSmbdHarness::Host(), "secret", account);
    return true;
  };
  Expand(secret);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Access to \"" + TSmbdHarness::Unc("secret") +
                             "\" was denied.\nConnect to it with a user name and password?");
  EXPECT_EQ(secret->childCount(), 0);

  answer = true;
  secret->Listed = false;
  secret->SetChildrenMark(true);
  Expand(secret);
  RemoveSmbCredentials(TSmbdHarness::Host(), "secret");
  EXPECT_EQ(Captions(secret), std::vector<std::string>{"plans"});
}

TEST_F(OptionsNetworkTest, UnreachableServerLosesItsExpandMark) {
  const std::string host = "127.0.0.3";
  SetSmbHostPort(host, 1);  // nothing listens there: refused at once
  auto dialog = Open();
  NETRESOURCEA record = Entry("\\\\" + host, RESOURCEUSAGE_CONTAINER);
  auto* dead = new TNetNode(TNetNode::TKind::Network, QString::fromStdString("\\\\" + host),
                            std::make_unique<NETRESOURCEA>(record));
  dead->SetChildrenMark(true);
  dialog->NetworkRoot()->addChild(dead);
  Expand(dead);
  EXPECT_EQ(dead->childCount(), 0);
  EXPECT_FALSE(dead->HasChildrenMark());
  EXPECT_TRUE(Messages.empty()) << "listing failures are not reported";
}

}  // namespace

namespace {

// A location typed or pasted is checked as the command line checks it and stored as a
// choice in the tree would store it.
TEST_F(OptionsTest, TypedLocationIsCheckedAndStored) {
  TScriptedNetwork net;
  const auto type = [](TOptionsDialog& dialog, const std::string& text) {
    dialog.LocationEdit->setText(QString::fromStdString(text));
    emit dialog.LocationEdit->textEdited(dialog.LocationEdit->text());
  };
  {
    auto dialog = Open(net.Lister());
    type(*dialog, (Dir / "missing").string());
    EXPECT_FALSE(PressOk(*dialog));
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_NE(Messages[0].find("smb://server/share"), std::string::npos) << Messages[0];
    type(*dialog, Dir.string() + "/");
    ASSERT_TRUE(PressOk(*dialog));
    EXPECT_EQ(Setting.NetResPath, Dir.string());
    EXPECT_EQ(Setting.NetResFullPath, Dir.string());
    EXPECT_FALSE(Setting.NetResource);
  }
  {
    auto dialog = Open(net.Lister());
    type(*dialog, "smb://127.0.0.1/public");
    ASSERT_TRUE(PressOk(*dialog));
    ASSERT_TRUE(Setting.NetResource);
    EXPECT_EQ(Setting.NetResource->lpRemoteName, "\\\\127.0.0.1\\public");
    EXPECT_EQ(Setting.NetResource->dwUsage, RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_CONNECTABLE);
    EXPECT_TRUE(Setting.NetResPath.empty());
  }
  {
    auto dialog = Open(net.Lister());
    type(*dialog, "\\\\srv\\docs\\plans");
    ASSERT_TRUE(PressOk(*dialog));
    EXPECT_FALSE(Setting.NetResource);
    EXPECT_EQ(Setting.NetResPath, "\\\\srv\\docs\\plans");
  }
}

// Resizable for long names, and the size given comes back; an added address range is in
// the tree again the next time the network is listed.
TEST_F(OptionsTest, SizeAndAddedRangesComeBack) {
  TScriptedNetwork net;
  {
    auto dialog = Open(net.Lister());
    EXPECT_LT(dialog->minimumWidth(), dialog->maximumWidth());
    dialog->resize(dialog->width() + 150, dialog->height() + 60);
    ASSERT_NE(dialog->AddAddressRange(QStringLiteral("10.1.2.0/24")), nullptr);
    const QSize size = dialog->size();
    dialog->reject();
    auto again = Open(net.Lister());
    EXPECT_EQ(again->size(), size);
    Expand(again->NetworkRoot());
    ASSERT_NE(Child(again->NetworkRoot(), "10.1.2.0/24"), nullptr) << "the range is kept";
    EXPECT_EQ(Captions(again->NetworkRoot()).size(), 2u);
  }
}

// The tree opens at the page's local folder, marking it without choosing it.
TEST_F(OptionsTest, TreeOpensAtTheCurrentLocalFolder) {
  std::filesystem::create_directories(Dir / "inner" / "deep");
  FreeNetResource(Setting.NetResource);
  Setting.NetResPath = (Dir / "inner" / "deep").string();
  Setting.NetResFullPath = Setting.NetResPath;
  auto dialog = Open();
  TNetNode* node = dialog->OpenAtCurrentLocation();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(dialog->NodeFolderPath(node), Setting.NetResPath);
  EXPECT_EQ(dialog->tvNet->currentItem(), node);
  EXPECT_TRUE(node->ParentNode()->isExpanded());
  EXPECT_EQ(dialog->LocationEdit->text().toStdString(), Setting.NetResPath);
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Setting.NetResPath, (Dir / "inner" / "deep").string());
}

// A share that refuses the listing says so and offers to connect; once connected it is
// listed again.
TEST_F(OptionsTest, DeniedShareOffersToConnectAndIsListedAfterwards) {
  TScriptedNetwork net;
  TNodeLister lister = net.Lister();
  bool connected = false;
  lister.ListFoldersWithError = [&connected](const std::string& folder, int& error) {
    error = connected ? 0 : EACCES;
    return connected && folder == "\\\\ALPHA\\docs" ? std::vector<std::string>{"reports"} : std::vector<std::string>{};
  };
  auto dialog = Open(lister);
  std::vector<QString> connects;
  dialog->ConnectResource = [&](const QString& remoteName) {
    connects.push_back(remoteName);
    connected = true;
    return true;
  };
  SetMessageBoxHook([this](const TMessageBoxRequest& request) {
    Messages.push_back(request.Text.toStdString());
    return request.Buttons == TMsgButtons::YesNo ? TMsgResult::Yes : TMsgResult::Ok;
  });
  TNetNode* share = Walk(dialog->NetworkRoot(), {"SMB Network", "WORKGROUP", "\\\\ALPHA", "\\\\ALPHA\\docs"});
  ASSERT_NE(share, nullptr);
  Expand(share);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Access to \"\\\\ALPHA\\docs\" was denied.\nConnect to it with a user name and password?");
  EXPECT_EQ(connects, std::vector<QString>{QStringLiteral("\\\\ALPHA\\docs")});
  EXPECT_EQ(Captions(share), std::vector<std::string>{"reports"});
  EXPECT_TRUE(share->isExpanded());
}

}  // namespace
