// The Options dialog's Index tab over the real background refresh: locations added from
// the location tree, updated, removed and kept in the settings file; updates that are
// ended by quitting or that fail leave the previous index.
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <fstream>

#include "index/index_reader.h"
#include "page/index_shelf.h"
#include "settings/index_settings.h"
#include "shell/index_refresh.h"
#include "shell/index_tab.h"
#include "support/index_fixture.h"
#include "test_options_fixture.h"

namespace {

class IndexTabTest : public OptionsTest {
 protected:
  void SetUp() override {
    OptionsTest::SetUp();
    Home = Dir / "home";
    Files = Home / "files";
    std::filesystem::create_directories(Files / "docs");
    for (const char* name : {"a.txt", "b.txt", "docs/c.txt"}) std::ofstream(Files / name) << "x";
    if (const char* home = std::getenv("HOME")) SavedHome = home;
    ::setenv("HOME", Home.c_str(), 1);
    Cache = std::make_unique<lqtest::TPrivateIndexFolder>(Dir / "cache");
    Shelf = std::make_unique<TIndexShelf>(Cache->Folder.string());
    Restart();
  }
  void TearDown() override {
    Refresh.reset();
    Cache.reset();
    ::setenv("HOME", SavedHome.c_str(), 1);
    OptionsTest::TearDown();
  }

  // The program ends and starts again: the refresh goes, the settings file is read anew.
  void Restart() {
    Refresh.reset();
    Hive = std::make_unique<TRegistryHive>(Dir / "Lanternquest.reg");
    Refresh = std::make_unique<TIndexRefresh>(*Shelf, QStringLiteral(LQ_CLI_PATH));
    Refresh->SetUserSearchQuery([this] { return UserSearching; });
    Refresh->SetSettings(LoadIndexSettings(*Hive));
  }

  // A dialog with its Index tab, and the Network tab's tree at the test's folder.
  std::unique_ptr<TOptionsDialog> OpenWithIndexTab() {
    auto dialog = Open();
    dialog->AddIndexTab(*Refresh);
    TNetNode* home = Child(dialog->LocalRoot(), Home.string());
    home->setExpanded(true);
    dialog->tvNet->setCurrentItem(Child(home, "files"));
    return dialog;
  }

  const TIndexLocationState& State() { return *Refresh->StateOf(Files.string()); }

  std::filesystem::path Home, Files;
  std::string SavedHome;
  std::unique_ptr<lqtest::TPrivateIndexFolder> Cache;
  std::unique_ptr<TIndexShelf> Shelf;
  std::unique_ptr<TIndexRefresh> Refresh;
  bool UserSearching = false;
};

TEST_F(IndexTabTest, AddsUpdatesAndRemovesALocationThatTheSettingsFileKeepsAcrossARestart) {
  EXPECT_TRUE(Refresh->States().empty()) << "nothing is indexed uninvited";
  {
    auto dialog = OpenWithIndexTab();
    ASSERT_TRUE(dialog->IndexTab->AddChosen());
    EXPECT_EQ(dialog->IndexTab->RowText(Files.string(), TIndexTab::colState), QStringLiteral("added: indexed after Ok"));
    dialog->IndexTab->spnRefreshMinutes->setValue(90);
    ASSERT_TRUE(PressOk(*dialog));
    ASSERT_TRUE(Refresh->WaitUntilIdle(60000));
    EXPECT_EQ(State().Entries, 4u) << "three files and a folder";
    EXPECT_EQ(dialog->IndexTab->RowText(Files.string(), TIndexTab::colEntries), QStringLiteral("4"));
    EXPECT_EQ(dialog->IndexTab->RowText(Files.string(), TIndexTab::colState), QStringLiteral("ok"));
    EXPECT_FALSE(dialog->IndexTab->RowText(Files.string(), TIndexTab::colSize).isEmpty());
  }

  Restart();
  EXPECT_EQ(Refresh->Settings(), (TIndexSettings{{Files.string()}, 90}));
  ASSERT_NE(Refresh->StateOf(Files.string()), nullptr);
  EXPECT_TRUE(State().Indexed);
  EXPECT_TRUE(Refresh->RunningLocation().empty()) << "an index younger than the interval is not due";

  std::ofstream(Files / "docs" / "d.txt") << "new";
  {
    auto dialog = OpenWithIndexTab();
    ASSERT_TRUE(dialog->IndexTab->Select(Files.string()));
    dialog->IndexTab->btnUpdateIndex->click();
    ASSERT_TRUE(Refresh->WaitUntilIdle(60000));
    EXPECT_EQ(State().Entries, 5u);
    EXPECT_EQ(dialog->IndexTab->RowText(Files.string(), TIndexTab::colEntries), QStringLiteral("5"));

    dialog->IndexTab->btnRemoveIndex->click();
    EXPECT_EQ(dialog->IndexTab->lvIndex->topLevelItemCount(), 0);
    ASSERT_TRUE(PressOk(*dialog));
  }
  Restart();
  EXPECT_TRUE(Refresh->Settings().Locations.empty());
  EXPECT_EQ(Shelf->Covering((Files / "docs").string()), nullptr) << "a removed location answers no page";
}

TEST_F(IndexTabTest, QuittingDuringAnUpdateLeavesThePreviousIndex) {
  ASSERT_EQ(lqtest::UpdateIndexWithCli(Files.string()), 0);
  const std::string file = Shelf->Catalog().FileFor(Files.string());
  const auto before = std::filesystem::last_write_time(file);
  Refresh->SetSettings({{Files.string()}, 60});
  std::ofstream(Files / "e.txt") << "new";

  Refresh->UpdateNow(Files.string());
  ASSERT_EQ(Refresh->RunningLocation(), Files.string());
  // The user starts a search: the update yields at once and waits.
  UserSearching = true;
  Refresh->UserSearchMayHaveChanged();
  EXPECT_TRUE(State().Paused);
  EXPECT_TRUE(Refresh->RunningText().contains(QStringLiteral("paused")));
  QTest::qWait(300);
  EXPECT_EQ(Refresh->RunningLocation(), Files.string()) << "a paused update does not finish";

  Refresh->Shutdown();
  EXPECT_TRUE(Refresh->RunningLocation().empty());
  EXPECT_EQ(std::filesystem::last_write_time(file), before);
  const PIndexReader index = TIndexReader::Open(file);
  EXPECT_EQ(index->Info().EntryCount, 4u) << "the previous index, whole";
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Cache->Folder)) ++files;
  EXPECT_EQ(files, 1u) << "nothing half-written is left beside it";
}

TEST_F(IndexTabTest, ARefreshThatFailsKeepsTheOldEntriesAndShowsTheFailureOnTheTab) {
  ASSERT_EQ(lqtest::UpdateIndexWithCli(Files.string()), 0);
  Refresh->SetSettings({{Files.string()}, 60});
  ASSERT_TRUE(State().Indexed);
  std::filesystem::rename(Files, Home / "moved");

  auto dialog = Open();
  dialog->AddIndexTab(*Refresh);
  ASSERT_TRUE(dialog->IndexTab->Select(Files.string()));
  dialog->IndexTab->UpdateSelected();
  ASSERT_TRUE(Refresh->WaitUntilIdle(60000));
  EXPECT_EQ(State().Entries, 4u) << "the old entries stay";
  EXPECT_FALSE(State().Failure.empty());
  const QString shown = dialog->IndexTab->RowText(Files.string(), TIndexTab::colState);
  EXPECT_TRUE(shown.startsWith(QStringLiteral("failed: "))) << shown.toStdString();
  EXPECT_EQ(dialog->IndexTab->RowText(Files.string(), TIndexTab::colEntries), QStringLiteral("4"));
  EXPECT_NE(Shelf->Covering(Files.string()), nullptr) << "pages still answer from the old index";
}

}  // namespace
