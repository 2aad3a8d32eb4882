#include <gtest/gtest.h>

#include <fstream>

#include "settings/index_settings.h"
#include "settings/main_settings.h"
#include "settings/setting.h"
#include "settings/tip_settings.h"
#include "settings_fixture.h"

namespace {

using MainSettingsTest = SettingsTest;

TMainWindowState ClosedWindow(int32_t windowState) {
  TMainWindowState state;
  state.WindowState = windowState;
  state.Left = 10;
  state.Top = 20;
  state.Width = 800;
  state.Height = 600;
  state.LogHeight = 150;
  return state;
}

TEST_F(MainSettingsTest, FirstRunFindsNoPlacementAndKeepsEveryDefault) {
  TProgramOptions options;
  options.MaxThreads = 5;  // what the program starts with must survive an empty hive
  TMainSettings found = LoadMainSettings(options, *Hive);
  EXPECT_FALSE(found.PlacementFound);
  EXPECT_FALSE(found.Left);
  EXPECT_FALSE(found.LogHeight);
  EXPECT_TRUE(found.ShowTipAtStartup);
  EXPECT_TRUE(found.Complete);
  EXPECT_EQ(options.MaxThreads, 5);
  EXPECT_TRUE(LoadInputHistory(*Hive).empty());
  EXPECT_TRUE(LoadFileMasks(*Hive).empty());
  TTipState tip = LoadTipState(*Hive);
  EXPECT_FALSE(tip.LastTip);
  EXPECT_TRUE(tip.ShowTipAtStartup);
  EXPECT_FALSE(std::filesystem::exists(Hive->FilePath())) << "reading never writes";
}

TEST_F(MainSettingsTest, WindowStateAndBoundsComeBack) {
  struct Case {
    int32_t Stored;
    bool Maximised;
  };
  for (Case c : {Case{kWindowStateMaximised, true}, Case{kWindowStateNormal, false},
                 Case{kWindowStateMinimised, false}}) {
    TProgramOptions options;
    options.MaxThreads = 3;
    options.MinimazeToTray = false;
    SaveMainSettings(ClosedWindow(c.Stored), options, *Hive);
    Restart();
    TProgramOptions reloaded;
    TMainSettings found = LoadMainSettings(reloaded, *Hive);
    EXPECT_TRUE(found.Complete);
    EXPECT_TRUE(found.PlacementFound);
    EXPECT_EQ(found.Maximised, c.Maximised) << "stored state " << c.Stored;
    EXPECT_EQ(found.Left, 10);
    EXPECT_EQ(found.Top, 20);
    EXPECT_EQ(found.Width, 800);
    EXPECT_EQ(found.Height, 600);
    EXPECT_EQ(found.LogHeight, 150);
    EXPECT_EQ(reloaded.MaxThreads, 3);
    EXPECT_FALSE(reloaded.MinimazeToTray);
    EXPECT_TRUE(reloaded.MessageWhenComplete);
  }
}

TEST_F(MainSettingsTest, TheFirstUnreadableValueEndsTheLoadKeepingWhatCameBefore) {
  // A MainWindow key holding only what the tip dialog writes, then "Left".
  SaveTipState(false, 4, *Hive);
  Key(kMainWindowKey).WriteInteger("Left", 33);
  Key(kOptionsKey).WriteInteger("MaxThreads", 3);
  TProgramOptions options;
  TMainSettings found = LoadMainSettings(options, *Hive);
  EXPECT_FALSE(found.Complete);
  EXPECT_TRUE(found.PlacementFound);
  EXPECT_EQ(found.Left, 33);
  EXPECT_FALSE(found.Top);
  EXPECT_FALSE(found.LogHeight);
  EXPECT_TRUE(found.ShowTipAtStartup) << "read after the failure, so it keeps its default";
  EXPECT_EQ(options.MaxThreads, 12) << "the Options step never ran";

  // A wrong kind fails the same way.
  SaveMainSettings(ClosedWindow(kWindowStateNormal), TProgramOptions{}, *Hive);
  Key(kMainWindowKey).WriteString("LogHeight", "150");
  found = LoadMainSettings(options, *Hive);
  EXPECT_FALSE(found.Complete);
  EXPECT_EQ(found.Height, 600);
  EXPECT_FALSE(found.LogHeight);
}

TEST_F(MainSettingsTest, MaxThreadsIsBroughtIntoOneToTwelve) {
  for (auto [stored, expected] : {std::pair{0, 1}, {-5, 1}, {1, 1}, {7, 7}, {12, 12}, {13, 12}, {INT32_MAX, 12}}) {
    Key(kOptionsKey).WriteInteger("MaxThreads", stored);
    TProgramOptions options;
    LoadMainSettings(options, *Hive);
    EXPECT_EQ(options.MaxThreads, expected) << "stored " << stored;
  }
}

TEST_F(MainSettingsTest, HistoryReadsLinesZeroToFifteenAndSkipsGapsAndDamage) {
  TRegKey key = Key(kInputHistoryKey);
  key.WriteString("Line 0", "*.mp3");
  key.WriteString("Line 2", "report?.doc");
  key.WriteInteger("Line 3", 7);
  key.WriteString("Line 15", "last");
  key.WriteString("Line 20", "never read");
  EXPECT_EQ(LoadInputHistory(*Hive), (std::vector<std::string>{"*.mp3", "report?.doc", "last"}));
}

TEST_F(MainSettingsTest, FileMasksFollowTheirCount) {
  struct Case {
    const char* What;
    std::optional<int32_t> Count;
    std::optional<std::string> CountAsText;
    std::vector<std::string> Expected;
  };
  for (const Case& c : {Case{"gap", 3, std::nullopt, {"Music=*.mp3", "", "Docs=*.doc"}},
                        Case{"no count", std::nullopt, std::nullopt, {}},
                        Case{"negative", -1, std::nullopt, {}},
                        Case{"count as text", std::nullopt, "3", {}}}) {
    Hive->DeleteKey(SettingsKey(kFileMasksKey));
    TRegKey key = Key(kFileMasksKey);
    key.WriteString("0", "Music=*.mp3");
    key.WriteString("2", "Docs=*.doc");
    key.WriteString("3", "beyond the count");
    if (c.Count) key.WriteInteger("FileMasksCount", *c.Count);
    if (c.CountAsText) key.WriteString("FileMasksCount", *c.CountAsText);
    EXPECT_EQ(LoadFileMasks(*Hive), c.Expected) << c.What;
  }
  // A damaged, huge count is cut rather than exhausting memory.
  Key(kFileMasksKey).WriteInteger("FileMasksCount", INT32_MAX);
  EXPECT_EQ(LoadFileMasks(*Hive).size(), static_cast<size_t>(kFileMasksLoadLimit));
}

TEST_F(MainSettingsTest, SavingRebuildsFileMasksButLeavesSurplusHistory) {
  TMainWindowState state = ClosedWindow(kWindowStateNormal);
  state.InputHistory = {"a", "b", "c"};
  state.FileMaskGroups = {"One=*.1", "Two=*.2", "Three=*.3"};
  SaveMainSettings(state, TProgramOptions{}, *Hive);
  state.InputHistory = {"z"};
  state.FileMaskGroups = {"Two=*.2"};
  SaveMainSettings(state, TProgramOptions{}, *Hive);
  Restart();

  EXPECT_EQ(LoadInputHistory(*Hive), (std::vector<std::string>{"z", "b", "c"}));
  EXPECT_EQ(LoadFileMasks(*Hive), std::vector<std::string>{"Two=*.2"});
  std::optional<TRegKey> masks = Hive->OpenKeyReadOnly(SettingsKey(kFileMasksKey));
  EXPECT_EQ(masks->ValueNames(), (std::vector<std::string>{"FileMasksCount", "0"}));
}

TEST_F(MainSettingsTest, EverythingWrittenIsInTheLayoutWithItsKind) {
  TMainWindowState state = ClosedWindow(kWindowStateMaximised);
  state.InputHistory.assign(16, "*.txt");
  state.FileMaskGroups = {"A=*.a", "B=*.b"};
  SaveMainSettings(state, TProgramOptions{}, *Hive);
  SaveTipState(true, 2, *Hive);
  TSetting network;
  SavePageDefaults(network, true, true, *Hive);
  SaveIndexSettings({{"/srv/files", "\\\\nas\\public"}, 30}, *Hive);

  size_t checked = 0;
  for (std::string_view subKey :
       {kMainWindowKey, kInputHistoryKey, kFileMasksKey, kOptionsKey, kNetResourceKey, kIndexKey}) {
    std::optional<TRegKey> key = Hive->OpenKeyReadOnly(SettingsKey(subKey));
    ASSERT_TRUE(key) << subKey;
    for (const std::string& name : key->ValueNames()) {
      const TLayoutEntry* entry = FindLayoutEntry(subKey, name);
      ASSERT_NE(entry, nullptr) << subKey << "\\" << name << " is not in the layout";
      EXPECT_EQ(key->ReadValue(name)->Type, RegistryTypeOf(entry->Kind)) << subKey << "\\" << name;
      ++checked;
    }
  }
  // Each named value once, plus 16 history lines, 2 mask entries and 2 indexed locations
  // for the numbered ones.
  EXPECT_EQ(checked, SettingsLayout().size() - 3 + 16 + 2 + 2) << "every value of the layout was written";
}

TEST_F(MainSettingsTest, TipStateRoundTripsAndADamagedValueCostsOnlyItself) {
  SaveTipState(false, 4, *Hive);
  Restart();
  TTipState tip = LoadTipState(*Hive);
  EXPECT_EQ(tip.LastTip, 4);
  EXPECT_FALSE(tip.ShowTipAtStartup);

  Key(kMainWindowKey).WriteString("LastTip", "4");
  tip = LoadTipState(*Hive);
  EXPECT_FALSE(tip.LastTip);
  EXPECT_FALSE(tip.ShowTipAtStartup);
}

TEST_F(MainSettingsTest, ASaveThatCannotReachTheDiskIsReportedAndKept) {
  // A plain file where the hive's folder should be: nothing can be written there.
  { std::ofstream(Dir / "blocked") << "x"; }
  TRegistryHive hive(Dir / "blocked" / "Lanternquest.reg");
  EXPECT_THROW(SaveMainSettings(ClosedWindow(kWindowStateNormal), TProgramOptions{}, hive), TRegistryError);
  EXPECT_TRUE(hive.HasPendingChanges());
  EXPECT_EQ(LoadMainSettings(ProgramOptions(), hive).Width, 800) << "kept in memory";
}

}  // namespace

TEST_F(MainSettingsTest, IndexedLocationsRoundTripAndAnOlderFileIndexesNothing) {
  SaveMainSettings(ClosedWindow(kWindowStateNormal), TProgramOptions{}, *Hive);
  Restart();
  const std::string before = Hive->ToRegText();
  EXPECT_EQ(LoadIndexSettings(*Hive), TIndexSettings{});
  EXPECT_EQ(Hive->ToRegText(), before) << "reading the index settings writes nothing";

  SaveIndexSettings({{"/srv/a", "/srv/b", "\\\\nas\\public"}, 15}, *Hive);
  SaveIndexSettings({{"/srv/b"}, 0}, *Hive);
  Restart();
  const TIndexSettings loaded = LoadIndexSettings(*Hive);
  EXPECT_EQ(loaded.Locations, std::vector<std::string>{"/srv/b"}) << "the key is rebuilt: no surplus entries";
  EXPECT_EQ(loaded.RefreshMinutes, 1) << "an interval below a minute is brought up to one";

  TRegKey key = Key(kIndexKey);
  key.WriteInteger("LocationCount", 3);
  key.WriteInteger("1", 7);
  key.WriteString("2", "/srv/b");
  key.WriteString("RefreshMinutes", "often");
  const TIndexSettings damaged = LoadIndexSettings(*Hive);
  EXPECT_EQ(damaged.Locations, std::vector<std::string>{"/srv/b"}) << "a damaged or repeated entry is skipped";
  EXPECT_EQ(damaged.RefreshMinutes, kDefaultRefreshMinutes);
}
